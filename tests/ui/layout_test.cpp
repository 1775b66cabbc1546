#include <gtest/gtest.h>

#include "core/memory.h"
#include "ui/layout.h"

namespace {

RECT Sized(int32_t x, int32_t y, int32_t w, int32_t h) {
    return RECT{x, y, x + w, y + h};
}

int32_t CountRecords() {
    int32_t n = 0;
    for (const LayoutRecord* r = CurrentLayout(); r; r = r->next) n++;
    return n;
}

void EndAll() {
    while (CurrentLayout() || SavedLayoutCount() > 0) EndLayout();
}

}  // namespace

TEST(RowLayout, PlacesControlsAgainstTheirReference) {
    EndAll();
    int32_t liveBefore = MemoryMonitorStatus().liveBlocks;
    BeginLayout(0, 0);
    LayoutRecord* ref = AddLayoutRecord(1, Sized(10, 0, 24, 20), 0, 0, 0, 0, 0, 0, 0);
    ASSERT_NE(ref, nullptr);
    // Flags 18 and 20: right of the reference with dx 10, its top, at least the minimum size.
    LayoutRecord* r = AddLayoutRecord(2, Sized(0, 40, 10, 5), 1, 10, 0, 30, 22, 18, 20);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->x, 44);
    EXPECT_EQ(r->y, 0);
    EXPECT_EQ(r->width, 30);
    EXPECT_EQ(r->height, 22);
    EXPECT_EQ(CurrentLayout(), r);  // newest first
    // Without flag 16 the size stays; left-aligned and below.
    r = AddLayoutRecord(3, Sized(3, 3, 10, 5), 2, 2, 4, 30, 22, kLayoutAlignLeft, kLayoutBelow);
    EXPECT_EQ(r->x, 46);
    EXPECT_EQ(r->y, 26);
    EXPECT_EQ(r->width, 10);
    EXPECT_EQ(r->height, 5);
    // A reference without a record (or no flag) keeps the present position.
    r = AddLayoutRecord(4, Sized(7, 9, 10, 5), 99, 10, 10, 0, 0, kLayoutRightOf, kLayoutBelow);
    EXPECT_EQ(r->x, 7);
    EXPECT_EQ(r->y, 9);
    r = AddLayoutRecord(5, Sized(7, 9, 10, 5), 1, 10, 10, 0, 0, 0, 0);
    EXPECT_EQ(r->x, 7);
    EXPECT_EQ(r->y, 9);
    // Coordinates saturate instead of wrapping.
    r = AddLayoutRecord(6, Sized(0, 0, 5, 5), 1, INT32_MAX, INT32_MIN, 0, 0, kLayoutRightOf, kLayoutAlignTop);
    EXPECT_EQ(r->x, INT32_MAX);
    EXPECT_EQ(r->y, INT32_MIN);
    EXPECT_EQ(CountRecords(), 6);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore + 6);
    EndLayout();
    EXPECT_EQ(CurrentLayout(), nullptr);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore);  // every record released
}

TEST(RowLayout, TargetsCountFromTheOriginAndLayoutsStackThreeDeep) {
    EndAll();
    int32_t liveBefore = MemoryMonitorStatus().liveBlocks;
    BeginLayout(5, 7);
    LayoutRecord* r = AddLayoutRecord(1, Sized(20, 30, 8, 9), 0, 0, 0, 0, 0, 0, 0);
    RECT t = LayoutTarget(*r, 100, 200);
    EXPECT_EQ(t.left, 115);
    EXPECT_EQ(t.top, 223);
    EXPECT_EQ(t.right, 123);
    EXPECT_EQ(t.bottom, 232);

    // Each BeginLayout saves the current one; beyond three the oldest is released.
    for (int32_t i = 2; i <= 5; i++) {
        BeginLayout(i, i);
        AddLayoutRecord(i, Sized(0, 0, 1, 1), 0, 0, 0, 0, 0, 0, 0);
        EXPECT_EQ(SavedLayoutCount(), std::min(i - 1, kMaxSavedLayouts));
    }
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore + 4);  // layout 1 was released
    for (int32_t expected = 5; expected >= 2; expected--) {
        ASSERT_NE(CurrentLayout(), nullptr);
        EXPECT_EQ(CurrentLayout()->controlId, expected);
        EXPECT_EQ(CurrentLayoutOrigin().x, expected);
        EndLayout();
    }
    EXPECT_EQ(CurrentLayout(), nullptr);  // the oldest is gone for good
    EXPECT_EQ(SavedLayoutCount(), 0);
    EndLayout();  // ending with nothing begun is harmless
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore);
}
