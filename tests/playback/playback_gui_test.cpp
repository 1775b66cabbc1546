// The play windows and the VCR panel on the offscreen platform, launched as the storyboard does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <cstring>

#include "core/dialogs.h"
#include "core/memory.h"
#include "platform/qtui/qtui.h"
#include "playback/host.h"
#include "playback/loops.h"
#include "playback/panel.h"
#include "playback/playwindow.h"
#include "playback/playwindows.h"
#include "settings/settings.h"
#include "studio/compressor_choice.h"
#include "studio/revision_editor.h"
#include "studio/storyboard.h"
#include "studio/storyboard_ids.h"
#include "studio/storyboard_previews.h"
#include "support/ffprobe.h"
#include "support/gui_test.h"
#include "support/modal.h"
#include "support/scripted.h"
#include "ui/buttons.h"
#include "ui/controls.h"

using media_test::Quote;
using media_test::Shell;

namespace {

template <typename T>
T* TopLevel(const char* name) {
    return qobject_cast<T*>(ShownWindow(name));
}

// Runs `inside` once the panel of the next play is open, then closes it with the power button.
void WhilePlaying(std::function<void(VcrPanel*, PlayWindow*)> inside) {
    WhenOpen(
        "vcrPanel",
        [inside](QWidget* panel) {
            inside(qobject_cast<VcrPanel*>(panel), TopLevel<PlayWindow>("playWindow"));
        },
        [](QWidget* panel) { qobject_cast<VcrPanel*>(panel)->Command(kCmdPowerOff); });
}

class PlayWindows : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        clip = dir.file("c.avi");
        Shell(
            "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=15 -frames:v 6 -c:v rawvideo "
            "-pix_fmt bgr24 " +
            Quote(clip));
    }
    std::string clip;
};

}  // namespace

TEST_F(PlayWindows, StoryboardLaunches) {
    SCOPED_TRACE("preview of an empty project opens nothing");
    EXPECT_FALSE(PreviewProject(nullptr, false));
    DoPlayWindow(nullptr);
    EXPECT_EQ(TopLevel<QWidget>("playWindow"), nullptr);

    SCOPED_TRACE("frames 2-3 inactive and 5 dropped: 4 positions");
    ASSERT_TRUE(AppendAVIToProject(nullptr, clip.c_str()));
    AddRevision(kRevInactivate, 2, 3, nullptr);
    AddRevision(kRevDrop, 5, 5, nullptr);
    int32_t positions = -1;
    WhilePlaying([&](VcrPanel* panel, PlayWindow* window) {
        positions = gPlayer.N;
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->pictureControl()->picture().serial, 1u);
        panel->Key(VK_END, false);
        EXPECT_EQ(SourceFrameOf(gPlayer.position), 5);
        EXPECT_EQ(panel->stateWord(), "STOP");
    });
    PreviewProject(nullptr, false);
    EXPECT_EQ(positions, 4);

    SCOPED_TRACE("the render's Yes plays the new file");
    dialogs->answers.push_back(dir.file("new.avi"));
    std::shared_ptr<void> choice = ScriptCompressorChoice("MJPG", 80);
    std::string played;
    WhilePlaying([&](VcrPanel*, PlayWindow* window) { played = window->windowTitle().toStdString(); });
    {
        StoryboardWindow storyboard;
        boxes->answers = {IDYES};
        storyboard.Command(kCmdRender);
    }
    EXPECT_EQ(played, "Play: " + dir.file("new.avi"));

    SCOPED_TRACE("and an MP4 file the same way: its pictures in the play window");
    dialogs->answers.push_back(dir.file("new.mp4"));
    int32_t pictures = 0;
    WhilePlaying([&](VcrPanel*, PlayWindow* window) {
        played = window->windowTitle().toStdString();
        pictures = gPlayer.N;
        EXPECT_EQ(window->pictureControl()->picture().serial, 1u);
    });
    {
        StoryboardWindow storyboard;
        boxes->answers = {IDYES};
        storyboard.Command(kCmdRender);
    }
    EXPECT_EQ(played, "Play: " + dir.file("new.mp4"));
    EXPECT_EQ(pictures, 4);
}

TEST_F(PlayWindows, RangeMarkingPlaysTheProjectsFrames) {
    // Three clips of six frames: red, green and blue.
    for (const char* colour : {"red", "green", "blue"}) {
        const std::string file = dir.file(std::string(colour) + ".avi");
        Shell("ffmpeg -nostdin -v error -f lavfi -i color=c=" + std::string(colour) +
              ":size=64x48:rate=15 -frames:v 6 -c:v rawvideo -pix_fmt bgr24 " + Quote(file));
        ASSERT_TRUE(AppendAVIToProject(nullptr, file.c_str()));
    }
    AddRevision(kRevInactivate, 8, 9, nullptr);
    // The colour in the middle of the picture shown.
    auto shown = [](PlayWindow* window) {
        const PlayPicture& p = window->pictureControl()->picture();
        const size_t at = static_cast<size_t>(24 * DibRowBytes(64, 24) + 32 * 3);
        if (p.bits.size() < at + 3) return std::string("none");
        const uint8_t b = p.bits[at], g = p.bits[at + 1], r = p.bits[at + 2];
        return std::string(r > 200 && g < 50 && b < 50   ? "red"
                           : g > 100 && r < 50 && b < 50 ? "green"
                           : b > 200 && r < 50 && g < 50 ? "blue"
                                                         : "other");
    };
    // Marks from position 4 (after two steps right) to the one before the last.
    auto mark = [&shown](VcrPanel* panel, PlayWindow* window, const char* first) {
        EXPECT_EQ(shown(window), first);
        panel->Key(VK_RIGHT, false);
        panel->Key(VK_RIGHT, false);
        panel->Key('I', false);
        panel->Key(VK_END, false);
        EXPECT_EQ(shown(window), "blue");
        panel->Key(VK_LEFT, false);
        panel->Key('O', false);
        EXPECT_TRUE(panel->button(kCmdRangeStart)->isEnabled());
    };

    SCOPED_TRACE("Fine Tune Range Of Frames from a selection in the first clip");
    gProject.selStart = 1, gProject.selEnd = 3;
    WhilePlaying([&](VcrPanel* panel, PlayWindow* window) {
        EXPECT_EQ(gPlayer.position, 2);
        mark(panel, window, "red");
    });
    FineTuneRange(nullptr, gProject.selStart);
    EXPECT_EQ(gProject.selStart, 3);
    EXPECT_EQ(gProject.selEnd, 16);

    SCOPED_TRACE("the revision editor's Edit Range");
    WhenOpen("editRevisions", [&](QWidget* editor) {
        qobject_cast<QListWidget*>(FindControl(editor, kRevisionList))->setCurrentRow(0);
        WhilePlaying([&](VcrPanel* panel, PlayWindow* window) { mark(panel, window, "red"); });
        qobject_cast<QPushButton*>(FindControl(editor, kRevisionEditRange))->click();
        qobject_cast<QPushButton*>(FindControl(editor, IDOK))->click();
    });
    EXPECT_TRUE(EditRevisionList(nullptr));
    ASSERT_NE(gProject.revisions, nullptr);
    EXPECT_EQ(gProject.revisions->start, 3);
    EXPECT_EQ(gProject.revisions->end, 17);
}

TEST_F(PlayWindows, ColourKeyPicking) {
    ASSERT_TRUE(AppendAVIToProject(nullptr, clip.c_str()));
    UnderlayRecord* u = NewUnderlayRecord();
    AddRevision(kRevUnderlay, 1, 6, u);
    auto drag = [](PlayWindow* w, QPoint from, QPoint to, bool cancel) {
        QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, from);
        QTest::mouseMove(w, to);
        if (cancel) QTest::mousePress(w, Qt::RightButton, Qt::NoModifier, to);
        QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, to);
    };
    WhilePlaying([&](VcrPanel*, PlayWindow* window) {
        ASSERT_NE(gPlayer.savedFrame, nullptr);
        const QPoint origin = window->pictureControl()->pos();
        drag(window, origin + QPoint(2, 2), origin + QPoint(20, 12), true);  // right click: silent
        EXPECT_TRUE(boxes->shown.empty());
        EXPECT_EQ(u->ranges, nullptr);
        boxes->answers = {IDCANCEL};
        drag(window, origin + QPoint(2, 2), origin + QPoint(20, 12), false);
        ASSERT_EQ(boxes->shown.size(), 1u);
        EXPECT_EQ(boxes->shown[0].text.rfind("Accept this entry?\n\n", 0), 0u);
        EXPECT_EQ(u->ranges, nullptr);  // Cancel leaves the list as it was
        drag(window, origin + QPoint(2, 2), origin + QPoint(20, 12), false);
        ASSERT_NE(u->ranges, nullptr);
        drag(window, origin + QPoint(2, 2), origin + QPoint(20, 12), false);
        EXPECT_TRUE(boxes->saw("No new pixels selected"));
    });
    DoPlayWindow4(nullptr, nullptr, 0, 5, 0, u);
}
