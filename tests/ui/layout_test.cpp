// The row layout: controls placed against their reference with the flags, coordinates that
// saturate, targets from the origin, and the stack of three saved layouts, every record released.
#include <gtest/gtest.h>

#include "core/memory.h"
#include "ui/layout.h"

namespace {

RECT Sized(int32_t x, int32_t y, int32_t w, int32_t h) {
    return RECT{x, y, x + w, y + h};
}

void EndAll() {
    while (CurrentLayout() || SavedLayoutCount() > 0) EndLayout();
}

}  // namespace

TEST(RowLayout, PlacesControlsAgainstTheirReference) {
    EndAll();
    const int32_t liveBefore = MemoryMonitorStatus().liveBlocks;
    BeginLayout(0, 0);
    ASSERT_NE(AddLayoutRecord(1, Sized(10, 0, 24, 20), 0, 0, 0, 0, 0, 0, 0), nullptr);
    struct Case {
        const char* what;
        RECT at;
        int32_t ref, dx, dy, minW, minH, xFlags, yFlags;
        RECT want;
    } const cases[] = {
        {"flags 18 and 20: right of 1 with dx 10, its top, the minimum size", Sized(0, 40, 10, 5), 1, 10, 0,
         30, 22, 18, 20, Sized(44, 0, 30, 22)},
        {"without flag 16 the size stays; left-aligned and below", Sized(3, 3, 10, 5), 2, 2, 4, 30, 22,
         kLayoutAlignLeft, kLayoutBelow, Sized(46, 26, 10, 5)},
        {"a reference without a record keeps the position", Sized(7, 9, 10, 5), 99, 10, 10, 0, 0,
         kLayoutRightOf, kLayoutBelow, Sized(7, 9, 10, 5)},
        {"no flag keeps the position", Sized(7, 9, 10, 5), 1, 10, 10, 0, 0, 0, 0, Sized(7, 9, 10, 5)},
        {"coordinates saturate instead of wrapping", Sized(0, 0, 5, 5), 1, INT32_MAX, INT32_MIN, 0, 0,
         kLayoutRightOf, kLayoutAlignTop, RECT{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN}},
    };
    int32_t id = 2;
    for (const Case& c : cases) {
        LayoutRecord* r = AddLayoutRecord(id++, c.at, c.ref, c.dx, c.dy, c.minW, c.minH, c.xFlags, c.yFlags);
        ASSERT_EQ(CurrentLayout(), r) << c.what;  // newest first
        EXPECT_TRUE(r->x == c.want.left && r->y == c.want.top) << c.what;
        if (c.want.right != INT32_MAX) {
            EXPECT_TRUE(r->width == c.want.right - c.want.left && r->height == c.want.bottom - c.want.top)
                << c.what;
        }
    }
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore + 6);
    EndLayout();
    EXPECT_EQ(CurrentLayout(), nullptr);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore);
}

TEST(RowLayout, TargetsCountFromTheOriginAndLayoutsStackThreeDeep) {
    EndAll();
    const int32_t liveBefore = MemoryMonitorStatus().liveBlocks;
    BeginLayout(5, 7);
    RECT t = LayoutTarget(*AddLayoutRecord(1, Sized(20, 30, 8, 9), 0, 0, 0, 0, 0, 0, 0), 100, 200);
    EXPECT_TRUE(t.left == 115 && t.top == 223 && t.right == 123 && t.bottom == 232);
    // Each BeginLayout saves the current one; beyond three the oldest is released.
    for (int32_t i = 2; i <= 5; i++) {
        BeginLayout(i, i);
        AddLayoutRecord(i, Sized(0, 0, 1, 1), 0, 0, 0, 0, 0, 0, 0);
        EXPECT_EQ(SavedLayoutCount(), std::min(i - 1, kMaxSavedLayouts));
    }
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore + 4);
    for (int32_t expected = 5; expected >= 2; expected--) {
        ASSERT_NE(CurrentLayout(), nullptr);
        EXPECT_TRUE(CurrentLayout()->controlId == expected && CurrentLayoutOrigin().x == expected);
        EndLayout();
    }
    EXPECT_TRUE(CurrentLayout() == nullptr && SavedLayoutCount() == 0);  // the oldest is gone for good
    EndLayout();                                                         // harmless with nothing begun
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore);
}
