#include <gtest/gtest.h>

#include "ui/placement.h"

namespace {

constexpr RECT kDesk{0, 0, 800, 600};

RECT Sized(int32_t x, int32_t y, int32_t w, int32_t h) {
    return RECT{x, y, x + w, y + h};
}

void ExpectRect(const RECT& r, int32_t x, int32_t y, int32_t w, int32_t h) {
    EXPECT_EQ(r.left, x);
    EXPECT_EQ(r.top, y);
    EXPECT_EQ(RectWidth(r), w);
    EXPECT_EQ(RectHeight(r), h);
}

}  // namespace

TEST(Placement, CentreBelowBesideAndUpperCentreKeepSizesAndStayOnScreen) {
    ExpectRect(CenteredOnDesktop(Sized(10, 10, 201, 101), kDesk), 299, 249, 201, 101);
    ExpectRect(CenteredOnDesktop(Sized(50, 50, 900, 700), kDesk), 0, 0, 900, 700);  // larger than the screen
    ExpectRect(CenteredOnDesktop(Sized(0, 0, 100, 100), RECT{800, 0, 1600, 600}), 1150, 250, 100, 100);

    // Below an anchor with room: centred under it.
    RECT w = Sized(0, 0, 120, 80), a = Sized(100, 100, 200, 50);
    PlacedBelow(w, a, kDesk);
    ExpectRect(w, 140, 150, 120, 80);
    ExpectRect(a, 100, 100, 200, 50);
    // Near the bottom: the window ends 20 above it and the anchor sits right on top of it.
    w = Sized(0, 0, 120, 80);
    a = Sized(100, 450, 200, 100);
    PlacedBelow(w, a, kDesk);
    ExpectRect(w, 140, 500, 120, 80);
    ExpectRect(a, 100, 400, 200, 100);
    // Far too tall for the screen: both pinned at the top, the left edge not past 0.
    w = Sized(0, 0, 400, 700);
    a = Sized(-50, 300, 100, 100);
    PlacedBelow(w, a, kDesk);
    ExpectRect(w, 0, 0, 400, 700);
    ExpectRect(a, -50, 0, 100, 100);

    ExpectRect(PlacedRightOf(Sized(0, 0, 100, 50), Sized(10, 20, 200, 30), kDesk), 210, 20, 100, 50);
    ExpectRect(PlacedRightOf(Sized(0, 0, 100, 50), Sized(650, 20, 100, 30), kDesk), 700, 20, 100, 50);
    ExpectRect(PlacedRightOf(Sized(0, 0, 900, 50), Sized(650, 20, 100, 30), kDesk), 0, 20, 900, 50);

    ExpectRect(PlacedUpperCentre(Sized(0, 0, 200, 100), kDesk), 300, 200, 200, 100);
    ExpectRect(PlacedUpperCentre(Sized(0, 0, 200, 400), kDesk), 300, 0, 200, 400);
}

TEST(Placement, TooltipPopupStaysInsideTheScreen) {
    const uint32_t size = (28u << 16) | 120u;  // two 14-pixel lines, 120 wide
    ExpectRect(TooltipPopupRect(100, 100, size, true, 800, 600), 105, 115, 124, 30);
    // At the right edge its right side is at the screen's width; at the bottom, likewise.
    RECT r = TooltipPopupRect(790, 100, size, true, 800, 600);
    EXPECT_EQ(r.right, 800);
    ExpectRect(r, 676, 115, 124, 30);
    r = TooltipPopupRect(100, 590, size, true, 800, 600);
    EXPECT_EQ(r.bottom, 600);
    ExpectRect(TooltipPopupRect(795, 595, size, true, 800, 600), 676, 570, 124, 30);
    // Never left of or above 0, even when wider than the screen.
    ExpectRect(TooltipPopupRect(10, 10, (10u << 16) | 2000u, true, 800, 600), 0, 25, 2004, 12);
    // Without a size: 100 x 20 at the pointer.
    ExpectRect(TooltipPopupRect(10, 10, 0, false, 800, 600), 15, 25, 100, 20);
}
