// The storyboard's arithmetic and its command states, without a window.
#include <gtest/gtest.h>

#include <array>

#include "core/appstate.h"
#include "project/project_support.h"
#include "settings/settings.h"
#include "studio/storyboard_ids.h"
#include "studio/storyboard_view.h"

namespace {

class StoryboardState : public ProjectTest {
  protected:
    void SetUp() override {
        ProjectTest::SetUp();
        ResetStoryboardView();
        gMailAvailable = 0;
    }
};

// Every toolbar button with its enabled state, for comparing whole toolbars.
std::string Toolbar(const CommandStates& s) {
    std::string out;
    for (int32_t id :
         {kCmdNewProject, kCmdOpenProject, kCmdSaveProject, kCmdOpenAVI, kCmdRender, kCmdPlayAVI, kCmdCapture,
          kCmdPreview, kCmdSend, kCmdLargerSpan, kCmdSmallerSpan, kCmdActivate, kCmdInactivate, kCmdAddTitle,
          kCmdUndo, kCmdPreferences, kCmdViewFrame, kCmdFileInfo, kCmdHelp})
        out += ToolbarButtonEnabled(id, s) ? '1' : '0';
    return out;
}

}  // namespace

TEST_F(StoryboardState, GridStepsAndStripStayInRange) {
    // A window too small, or a cell size that makes no sense, shows no cells rather than dividing by zero.
    for (auto [w, h, cw, ch] :
         {std::array{0, 200, 80, 60}, {300, 5, 80, 60}, {300, 200, -5, 60}, {300, 200, 80, 0}}) {
        GridLayout none = ComputeGridLayout(w, h, cw, ch);
        EXPECT_EQ(none.columns * none.rows, 0);
    }
    EXPECT_EQ(FirstShownFrame(0, 2000), 0);
    EXPECT_EQ(CellFrame(INT32_MAX - 1, 2, kMaxStep), -1);  // past 32 bits: no frame, never a wrapped one
    // A stored cell size that no menu offers falls back to the large cells.
    EXPECT_EQ((std::vector{NormalisedCellSize(60, 45).width, NormalisedCellSize(0, 45).width,
                           NormalisedCellSize(100000, 60).height}),
              (std::vector{60, 80, 60}));
    EXPECT_TRUE(FitAllStep(100, 0) == 1 && FitAllStep(0, 24) == 1);  // no visible cells
    // Doubling stops at the largest step instead of overflowing.
    int32_t step = 1;
    for (int i = 0; i < 40; i++) step = DoubledStep(step);
    EXPECT_EQ(step, kMaxStep);
    EXPECT_GE(HalvedStep(step), 1);

    // Scrolling to the end puts the position at duration - span, never past it; never below 0.
    EXPECT_EQ(ShownSpanMs(24, 1, 0), 1000);
    EXPECT_EQ((std::vector{ClampedPosition(9000, 1600, 10000), ClampedPosition(500, 1600, 1000),
                           ClampedPosition(300, 0, 0)}),
              (std::vector{8400, 0, 300}));
    RECT strip{100, 10, 500, 54};  // 400 pixels wide
    int32_t a = 0, b = 0;
    ThumbExtent(strip, 2000, 1600, 3000, a, b);  // scaled against position + span past the duration
    EXPECT_EQ(std::make_pair(a, b), std::make_pair(322, 500));
    ThumbExtent(strip, 0, 1, 1000000, a, b);
    EXPECT_EQ(b - a, 2);  // at least two pixels
    BandExtent(strip, 5, 9, 10, a, b);
    EXPECT_EQ(std::make_pair(a, b), std::make_pair(300, 500));
    FrameShare(strip, 999, 100000, a, b);
    EXPECT_EQ(b - a, 1);  // a frame's tick never vanishes
    // The frame under the dragged outline stays inside the project.
    EXPECT_EQ((std::vector{FrameAtStripOffset(400, 400, 100), FrameAtStripOffset(-5, 400, 100),
                           FrameAtStripOffset(10, 0, 100), PositionOfFrame(45, 0), ProgressWidth(400, 0, 0)}),
              (std::vector{99, 0, 0, 0, 0}));
    // Cell times drop a leading "00h".
    EXPECT_EQ(CellTimeText(95, 15) + " " + CellTimeText(15 * 3600 + 2, 15), "00m06s05 01h00m00s02");
}

TEST_F(StoryboardState, ToolbarAndMenusFollowTheProjectState) {
    CommandStates empty;
    // Without files only opening, inserting, playing, capturing and help remain; undo follows the revisions.
    EXPECT_EQ(Toolbar(empty), "0101011000000000001");
    CommandStates files;
    files.files = true;
    EXPECT_EQ(Toolbar(files), "1111111101000000011");
    files.step = 2;
    EXPECT_EQ(Toolbar(files), "1111111101100000011");
    files.selection = true;
    EXPECT_EQ(Toolbar(files), "1111111101111100111");
    files.revisions = true;
    files.mail = true;
    EXPECT_EQ(Toolbar(files), "1111111111111110111");
    // A selection without files (it cannot happen, but the rule holds) enables no range button.
    CommandStates odd;
    odd.selection = true;
    EXPECT_FALSE(ToolbarButtonEnabled(kCmdActivate, odd));

    std::string enabled;
    for (int32_t id : {kCmdNewProject, kCmdSaveProject, kCmdOpenProject, kCmdRender, kCmdSelectAll,
                       kCmdEditRevisions, kCmdAddUnderlay})
        enabled += MenuItemEnabled(id, empty) ? '1' : '0';
    EXPECT_EQ(enabled, "0010000");
    EXPECT_TRUE(MenuItemEnabled(kCmdAddUnderlay, files) && MenuItemEnabled(kCmdEditRevisions, files));
    // The last but one is a step no menu offers: it checks nothing.
    EXPECT_EQ(
        (std::vector{MenuItemChecked(kCmdMediumImages, 60, 1, 1), MenuItemChecked(kCmdLargeImages, 60, 1, 1),
                     MenuItemChecked(150, 80, 15, 1), MenuItemChecked(150, 80, 7, 1),
                     MenuItemChecked(kPopEvery60th, 80, 60, 1), MenuItemChecked(kPopTooltips, 80, 1, 1),
                     MenuItemChecked(kCmdTooltipsHelp, 80, 1, 0)}),
        (std::vector{true, false, true, false, true, true, false}));
}

TEST_F(StoryboardState, PopupsListWhatTheSelectionAllows) {
    gSettings.cellW = 40;
    gView.step = 5;
    std::vector<PopupItem> background = BackgroundPopupItems();
    auto find = [](const std::vector<PopupItem>& items, int32_t id) {
        for (const PopupItem& i : items)
            if (i.id == id) return i;
        return PopupItem{-1, "missing"};
    };
    EXPECT_TRUE(find(background, kPopSmallImages).checked && find(background, 7012).checked);
    EXPECT_TRUE(find(background, kPopSelectAll).grayed && find(background, kPopEditRevisions).grayed);
    EXPECT_EQ(find(background, kPopTooltips).text, "ToolTips Help");

    // One selected frame carrying two titles lists both by their first lines, in list order.
    AddRevision(kRevTitle, 3, 8, MakeTitle("Hello\nsecond line"));
    AddRevision(kRevInactivate, 1, 10, nullptr);
    AddRevision(kRevTitle, 5, 5, MakeTitle("A & B"));
    AddRevision(kRevTitle, 9, 12, MakeTitle("elsewhere"));
    gProject.selStart = gProject.selEnd = 4;  // frame 5
    std::vector<PopupItem> range = RangePopupItems();
    ASSERT_EQ(range.front().id, kPopCancel);
    EXPECT_EQ(find(range, kPopEditTitle).text + " " + find(range, kPopEditTitle + 1).text,
              "Edit <Hello> Edit <A & B>");
    EXPECT_EQ(find(range, kPopEditTitle + 2).id + find(range, kPopEditGrayed).id, -2);
    // A range of frames, or a frame without titles, offers a grayed "Edit..." instead.
    gProject.selEnd = 6;
    range = RangePopupItems();
    EXPECT_TRUE(find(range, kPopEditGrayed).grayed);
    EXPECT_EQ(find(range, kPopEditTitle).id, -1);
    gProject.selStart = gProject.selEnd = 0;
    EXPECT_TRUE(find(RangePopupItems(), kPopEditGrayed).grayed);
    EXPECT_EQ(TitlesCoveringFrame(10).size(), 1u);
}

TEST_F(StoryboardState, InformationPanelOfAnEmptyProject) {
    EXPECT_EQ(InfoPanelLines(), std::vector<std::string>{"NO FILES LOADED"});
}

TEST(MailAvailable, ReadAsANumberThatSaturates) {
    EXPECT_EQ((std::vector{ParseMailAvailable(" 1"), ParseMailAvailable("0"), ParseMailAvailable("yes"),
                           ParseMailAvailable("99999999999")}),
              (std::vector{1, 0, 0, INT32_MAX}));
}
