// Play maps built from the revision list.
#include <gtest/gtest.h>

#include <vector>

#include "project/playmap.h"
#include "project/project_support.h"

using PlayMap = ProjectTest;

namespace {
std::vector<int32_t> Shown(const uint32_t* map, int32_t positions) {
    std::vector<int32_t> frames;
    for (int32_t p = 1; p <= positions; p++) frames.push_back(PlayMapFrame(map, p));
    return frames;
}
}  // namespace

TEST_F(PlayMap, KeptPositionsSkipInactiveFramesAndRepeatForDropped) {
    int32_t positions = -1;
    gProject.totalFrames = 6;
    AddRevision(kRevInactivate, 2, 3, nullptr);
    AddRevision(kRevDrop, 5, 5, nullptr);
    PlayMapMarks marks{2, 4};  // frame 3 is inactive: the position kept before it
    uint32_t* map = BuildPlayMap(&positions, &marks);
    EXPECT_EQ(Shown(map, positions), (std::vector<int32_t>{1, 4, 4, 6}));
    for (int32_t k = 1; k <= 6; k++) EXPECT_EQ(PlayMapState(map, k), FrameState(k));
    EXPECT_EQ(map[4] & kPlayMapFrameMask, 0u);
    EXPECT_EQ(marks.startPosition, 0);
    EXPECT_EQ(marks.endPosition, 2);
    MyFree(map);

    SCOPED_TRACE("a dropped first frame shows frame 1; every frame inactive leaves no position");
    ClearRevisions();
    AddRevision(kRevDrop, 1, 1, nullptr);
    map = BuildPlayMap(&positions);
    EXPECT_EQ(Shown(map, positions), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
    MyFree(map);
    AddRevision(kRevInactivate, 1, 6, nullptr);
    map = BuildPlayMap(&positions);
    EXPECT_EQ(positions, 0);
    MyFree(map);
    gProject.totalFrames = static_cast<int32_t>(kPlayMapFrameMask) + 1;  // too long for 24-bit frame numbers
    EXPECT_EQ(BuildPlayMap(&positions), nullptr);
    gProject.totalFrames = 0;
}
