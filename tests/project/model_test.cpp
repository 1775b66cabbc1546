// The revision list: frame states, undo, clearing and the revision editor's copies with their
// shared colour ranges, with the memory monitor as witness that nothing is lost or leaked.
#include <gtest/gtest.h>

#include <vector>

#include "project/project_support.h"

using ProjectModel = ProjectTest;

namespace {
std::vector<uint32_t> States(int32_t from, int32_t to) {
    std::vector<uint32_t> s;
    for (int32_t n = from; n <= to; n++) s.push_back(FrameState(n));
    return s;
}
}  // namespace

TEST_F(ProjectModel, FrameStateFollowsTheRevisionList) {
    EXPECT_EQ(States(-1, 2), std::vector<uint32_t>(4, 0));
    SCOPED_TRACE("the last Activate or Inactivate in list order decides");
    AddRevision(kRevInactivate, 1, 10, nullptr);
    AddRevision(kRevActivate, 5, 6, nullptr);
    EXPECT_EQ(States(1, 11), (std::vector<uint32_t>{1, 1, 1, 1, 0, 0, 1, 1, 1, 1, 0}));
    ClearRevisions();
    AddRevision(kRevActivate, 5, 6, nullptr);
    EXPECT_EQ(RevisionTypesUsed(), 0u);
    AddRevision(kRevInactivate, 1, 10, nullptr);
    EXPECT_EQ(States(1, 10), std::vector<uint32_t>(10, 1));
    ClearRevisions();

    SCOPED_TRACE("title, underlay and drop bits add up and mark the revisions that apply");
    Revision* title = AddRevision(kRevTitle, 3, 3, MakeTitle("Hi"));
    Revision* drop = AddRevision(kRevDrop, 1, 5, nullptr);
    EXPECT_EQ(FrameState(3), 10u);
    EXPECT_EQ(title->applies + drop->applies, 2);
    EXPECT_EQ(FrameState(4), 8u);
    EXPECT_EQ(std::make_pair(title->applies, drop->applies), std::make_pair(0, 1));
    Revision* under = AddRevision(kRevUnderlay, 2, 3, MakeUnderlay("u.bmp", 1));
    AddRevision(kRevInactivate, 3, 3, nullptr);
    Revision* act = AddRevision(kRevActivate, 3, 3, nullptr);
    EXPECT_EQ(FrameState(3), 14u);  // an Activate clears only the inactive bit
    EXPECT_TRUE(act->applies == 0 && RevisionTypesUsed() == 15u);

    SCOPED_TRACE("the overlays of a frame: the titles and underlays FrameState marks, nothing written");
    EXPECT_EQ(OverlaysAt(3), (OverlayList{title, under}));
    EXPECT_EQ(OverlaysAt(2), OverlayList{under});
    EXPECT_TRUE(OverlaysAt(4).empty() && OverlaysAt(0).empty());
    EXPECT_EQ((std::vector{title->applies, drop->applies, under->applies, act->applies}),
              (std::vector{1, 1, 1, 0}));  // still frame 3's

    SCOPED_TRACE("the per-frame states agree with FrameState after every kind of change");
    auto agree = [] {
        const std::vector<uint8_t>& all = FrameStates();
        std::vector<uint32_t> wide(all.begin(), all.end());
        return wide == States(1, gProject.totalFrames);
    };
    gProject.totalFrames = 8;
    EXPECT_TRUE(agree());
    act->start = 1;  // edited in place, as the revision editor does
    EXPECT_TRUE(agree());
    title->type = kRevInactivate;
    EXPECT_TRUE(agree());
    UndoLastRevision();
    EXPECT_TRUE(agree());
    AddRevision(kRevInactivate, 7, 40, nullptr);
    EXPECT_TRUE(agree());
    gProject.totalFrames = 12;
    EXPECT_TRUE(agree());
    ClearRevisions();
    EXPECT_TRUE(agree());
    gProject.totalFrames = 0;
}

TEST_F(ProjectModel, UndoClearAndCopiesReleaseEveryBlock) {
    UndoLastRevision();  // nothing to undo
    AddRevision(kRevInactivate, 1, 4, nullptr);
    AddRevision(kRevTitle, 2, 3, MakeTitle("one\ntwo"));
    const std::string two = DumpRevisions();
    const int32_t blocksOfTwo = MemoryMonitorStatus().liveBlocks;
    Revision* under = AddRevision(kRevUnderlay, 5, 6, MakeUnderlay("under.bmp", 2));
    ColourRange* shared = UnderlayOf(under)->ranges;
    {
        SCOPED_TRACE("the editor's copy: every field, its own text, no stencil or image, the same ranges");
        CopyRevisionList();
        CopyRevisionList();  // the old copy is released first
        const TitleRecord* t = TitleOf(gProject.backup->next);
        EXPECT_STREQ(t->text, "one\ntwo");
        EXPECT_NE(t->text, TitleOf(gProject.revisions->next)->text);
        EXPECT_EQ(t->stencil, nullptr);
        EXPECT_EQ(UnderlayOf(gProject.backup->next->next)->image, nullptr);
        EXPECT_EQ(UnderlayOf(gProject.backup->next->next)->ranges, shared);
        std::swap(gProject.revisions, gProject.backup);
        const std::string copied = DumpRevisions();
        std::swap(gProject.revisions, gProject.backup);
        EXPECT_EQ(copied, DumpRevisions());
    }
    {
        SCOPED_TRACE("Cancel in the editor: the project's list goes, the copy and its ranges come back");
        UndoLastRevision();
        ClearRevisions();
        std::swap(gProject.revisions, gProject.backup);
        EXPECT_EQ(UnderlayOf(gProject.revisions->next->next)->ranges, shared);
        EXPECT_EQ(shared->lumaHigh, 11);  // still a live block
    }
    {
        SCOPED_TRACE("an unlinked range is reclaimed; undo leaves the other revisions alone");
        shared->next = nullptr;
        ReleaseUnusedColourRanges();
        UndoLastRevision();
        EXPECT_EQ(DumpRevisions(), two);
        EXPECT_EQ(MemoryMonitorStatus().liveBlocks, blocksOfTwo - 1);  // the title's stencil was not copied
    }
    {
        SCOPED_TRACE("a title record on a revision of another type is released as a title");
        AttachPayload(gProject.revisions, kRevTitle, MakeTitle("kept apart"));
        EXPECT_EQ(UnderlayOf(gProject.revisions), nullptr);
        UndoLastRevision();
        UndoLastRevision();
        EXPECT_EQ(gProject.revisions, nullptr);
        EXPECT_EQ(MemoryMonitorStatus().liveBlocks, baselineBlocks);
        EXPECT_EQ(MemoryMonitorStatus().errors, 0);
    }
}
