// The play windows and the VCR panel on the offscreen platform, launched as the storyboard does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <cstring>

#include "core/dialogs.h"
#include "core/memory.h"
#include "settings/settings.h"
#include "platform/qtui/qtui.h"
#include "playback/host.h"
#include "playback/loops.h"
#include "playback/panel.h"
#include "playback/playwindow.h"
#include "playback/playwindows.h"
#include "studio/compressor_choice.h"
#include "studio/storyboard.h"
#include "studio/storyboard_ids.h"
#include "studio/storyboard_previews.h"
#include "support/ffprobe.h"
#include "support/qtapp.h"
#include "support/scripted.h"
#include "ui/buttons.h"

using media_test::Quote;
using media_test::Shell;

namespace {

template <typename T>
T* TopLevel(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible()) return qobject_cast<T*>(w);
    return nullptr;
}

// Runs `inside` once the panel of the next play is open, then closes it with the power button.
void WhilePlaying(std::function<void(VcrPanel*, PlayWindow*)> inside) {
    QTimer::singleShot(0, [inside] {
        VcrPanel* panel = TopLevel<VcrPanel>("vcrPanel");
        ASSERT_NE(panel, nullptr);
        inside(panel, TopLevel<PlayWindow>("playWindow"));
        panel->Command(kCmdPowerOff);
    });
}

class PlayWindows : public ::testing::Test {
  protected:
    void SetUp() override {
        TestApp();
        ResetProjectForTests();
        ResetSettings();
        gSettings.useToolTips = 0;
        clip = dir.file("c.avi");
        Shell(
            "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=15 -frames:v 6 -c:v rawvideo "
            "-pix_fmt bgr24 " +
            Quote(clip));
    }
    void TearDown() override { ResetProjectForTests(); }
    TempDir dir;
    std::string clip;
    ScopedBoxes boxes;
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

    SCOPED_TRACE("fine tuning hands back the range marked with I and O");
    std::strcpy(gSettings.LastAVIfileName, clip.c_str());
    gProject.selStart = 0, gProject.selEnd = 1;
    WhilePlaying([](VcrPanel* panel, PlayWindow*) {
        EXPECT_EQ(gPlayer.position, 1);
        panel->Key(VK_RIGHT, false);
        panel->Key(VK_RIGHT, false);
        panel->Key('I', false);
        panel->Key(VK_END, false);
        panel->Key(VK_LEFT, false);
        panel->Key('O', false);
        EXPECT_TRUE(panel->button(kCmdRangeStart)->isEnabled());
    });
    FineTuneRange(nullptr, 0);
    EXPECT_EQ(gProject.selStart, 2);
    EXPECT_EQ(gProject.selEnd, 4);

    SCOPED_TRACE("the render's Yes plays the new file");
    TempDir out;
    auto dialogs = std::make_shared<QueuedFileDialogProvider>();
    auto previous = SetFileDialogProvider(dialogs);
    dialogs->answers.push_back(out.file("new.avi"));
    std::shared_ptr<void> choice = ScriptCompressorChoice("MJPG", 80);
    std::string played;
    WhilePlaying([&](VcrPanel*, PlayWindow* window) { played = window->windowTitle().toStdString(); });
    {
        StoryboardWindow storyboard;
        boxes->answers = {IDYES};
        storyboard.Command(kCmdRender);
    }
    SetFileDialogProvider(previous);
    EXPECT_EQ(played, "Play: " + out.file("new.avi"));
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
