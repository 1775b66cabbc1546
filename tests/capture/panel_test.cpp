// The capture windows on the offscreen platform: the Drivers menu, and Capture from the storyboard
// through the panel's buttons into the project, with the panel's texts whole and apart, and the
// desktop told of a capture stopped while the user is elsewhere.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>

#include "capture/capture_gui.h"
#include "capture/capture_ui.h"
#include "capture/panel.h"
#include "capture/session.h"
#include "core/format.h"
#include "platform/capwin/capavi.h"
#include "project/project.h"
#include "settings/settings.h"
#include "studio/storyboard.h"
#include "studio/storyboard_ids.h"
#include "support/gui_test.h"
#include "support/notifications.h"
#include "support/scripted.h"
#include "ui/controls.h"

namespace {

QAbstractButton* PanelButton(int32_t id);

// Runs the steps one after the other inside the modal loops, each once the one before returned true
// (polled every 20 ms). A step still waiting after 20 s fails the test and the panel is closed.
void Script(std::vector<std::function<bool()>> steps) {
    auto* timer = new QTimer;
    auto remaining = std::make_shared<std::vector<std::function<bool()>>>(std::move(steps));
    auto since = std::make_shared<std::chrono::steady_clock::time_point>(std::chrono::steady_clock::now());
    auto done = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, [=] {
        if (remaining->empty()) {
            timer->stop();
            timer->deleteLater();
        } else if (remaining->front()()) {
            remaining->erase(remaining->begin());
            *since = std::chrono::steady_clock::now(), ++*done;
        } else if (std::chrono::steady_clock::now() - *since > std::chrono::seconds(20)) {
            ADD_FAILURE() << "step " << *done + 1 << " of the capture script still waits after 20 s";
            remaining->clear();
            if (PanelButton(kPanelStart) && gCapturing) PanelButton(kPanelStart)->click();
            if (PanelButton(kPanelPower)) PanelButton(kPanelPower)->click();
        }
    });
    timer->start(20);
}

// What is wrong with the open panel's texts as they are painted: a line outside the display, cut,
// or clearing another line's place (the final line takes the running line's place by design); the
// caption off its strip or cut. Empty when nothing is.
std::string TextFaults() {
    PanelDisplay* display = OpenPanelDisplay();
    if (!display) return "no panel";
    std::string faults;
    const auto lines = display->Layout();
    for (const auto& [line, l] : lines) {
        const std::string name = "line " + std::to_string(line);
        if (!PanelDisplayInside().contains(l.box) || !l.box.contains(l.text)) faults += name + " outside; ";
        if (l.shown != display->Line(line)) faults += name + " cut to \"" + l.shown + "\"; ";
        for (const auto& [other, o] : lines)
            if (other > line && !(line == 1 && other == 2) && l.box.intersects(o.box))
                faults += name + " meets line " + std::to_string(other) + "; ";
    }
    const PanelTextLayout caption = LayoutPanelCaption(kCapturePanelWidth, kCapturePanelHeight);
    if (!PanelCaptionStrip(kCapturePanelWidth, kCapturePanelHeight).contains(caption.text) ||
        caption.shown != kPanelCaption)
        faults += "caption \"" + caption.shown + "\"; ";
    return faults;
}

QAbstractButton* PanelButton(int32_t id) {
    QWidget* panel = CapturePanelWindow();
    return panel ? qobject_cast<QAbstractButton*>(FindControl(panel, id)) : nullptr;
}

class CapturePanel : public GuiTest {
  protected:
    void SetUp() override {
        ResetCaptureSession();
        GuiTest::SetUp();
        ASSERT_TRUE(AllocateCaptureFile(file, 8 << 20));
        CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, file);
        gSettings.Arate = 11025;
        window = std::make_unique<StoryboardWindow>();
        window->InitDialog();
        window->show();
    }
    void TearDown() override {
        window.reset();
        ResetCaptureSession();
        GuiTest::TearDown();
    }
    const std::string file = dir.file("take.avi");
    std::unique_ptr<StoryboardWindow> window;
};

}  // namespace

TEST_F(CapturePanel, TheDriversMenuListsTheTestPattern) {
    // Checked as the first driver; choosing keeps it.
    QMenu* drivers = window->menuBar()->actions().at(4)->menu();
    ASSERT_EQ(drivers->actions().size(), 1);
    EXPECT_EQ(drivers->actions()[0]->text().toStdString(), "&0 Quillory Test Pattern");
    window->InitMenus();
    EXPECT_TRUE(drivers->actions()[0]->isChecked());
    window->Command(kCmdFirstDriver);
    EXPECT_EQ(std::pair(boxes->texts().back(), int32_t{gwIndex}),
              std::pair(std::string("selected driver 0"), 0));
}

TEST_F(CapturePanel, CaptureIntoTheProject) {
    // Start turns every button but Stop off; Stop brings them back and leaves the final line;
    // Power closes the panel and the file joins the project.
    const int32_t others[] = {kPanelDetails, kPanelCapFile, kPanelInfo, kPanelHelp, kPanelPower};
    auto enabled = [&](bool on) {
        for (int32_t id : others)
            if (PanelButton(id)->isEnabled() != on) return false;
        return PanelButton(kPanelStart)->isEnabled();
    };
    // Idle, recording and after Stop, every text the display shows is whole and in its own place.
    bool startedOk = false, stoppedOk = false;
    ScopedNotifications told;
    std::string idleFaults, runningFaults, finalFaults;
    Script({[] { return PanelButton(kPanelStart) && PanelButton(kPanelStart)->isVisible(); },
            [&] {
                idleFaults = TextFaults();
                PanelButton(kPanelInfo)->click();
                PanelButton(kPanelStart)->click();
                startedOk = enabled(false) && gCapturing;
                return true;
            },
            [] { return gFrameTally >= 8 && !OpenPanelDisplay()->Line(1).empty(); },
            [&] {
                runningFaults = TextFaults();
                // Stopped while the user is elsewhere (any capture counts as long here).
                SetLongWorkMs(-1);
                QApplication::setActiveWindow(nullptr);
                PanelButton(kPanelStart)->click();
                SetLongWorkMs(kLongWorkMs);
                stoppedOk = enabled(true) && !gCapturing;
                finalFaults = TextFaults();
                PanelButton(kPanelPower)->click();
                return true;
            }});
    window->Command(kCmdCapture);
    EXPECT_TRUE(startedOk && stoppedOk);
    EXPECT_EQ(told->summaries, std::vector<std::string>{"Capture finished: take.avi"});
    EXPECT_EQ((std::vector{idleFaults, runningFaults, finalFaults}), std::vector<std::string>(3));
    EXPECT_TRUE(boxes->saw("Capture File Empty"));
    EXPECT_EQ(boxes->texts().back(), "Open Captured File <" + file + ">??");
    EXPECT_EQ(std::pair(ghWndCap == nullptr, CapturePanelWindow() == nullptr), std::pair(true, true));
    ASSERT_EQ(gProject.fileCount, 1);
    EXPECT_GE(gProject.totalFrames, 8);
    EXPECT_EQ(std::string(gProject.head->name), file);

    // Takes into another capture file: one of the project's format joins it as it is; one of another
    // rate joins it converted to the project's format, as a new clip in the clips folder.
    const std::string second = dir.file("take2.avi");
    ASSERT_TRUE(AllocateCaptureFile(second, 8 << 20));
    CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, second);
    auto capture = [&] {
        Script({[] { return PanelButton(kPanelStart) && PanelButton(kPanelStart)->isVisible(); },
                [] {
                    PanelButton(kPanelStart)->click();
                    return true;
                },
                [] { return gFrameTally >= 4; },
                [] {
                    PanelButton(kPanelStart)->click();
                    PanelButton(kPanelPower)->click();
                    return true;
                }});
        window->Command(kCmdCapture);
    };
    boxes->shown.clear();
    capture();
    EXPECT_EQ(std::tuple(boxes->saw("Add The Capture To The Current Project?"),
                         boxes->saw("This Will First Clear The Current Project"), gProject.fileCount),
              std::tuple(true, false, 2));
    const int32_t frameRate = gProject.frameRate;
    CopyCut(gSettings.ClipsFolder, sizeof gSettings.ClipsFolder, dir.file("clips"));
    const std::string third = dir.file("take3.avi");
    ASSERT_TRUE(AllocateCaptureFile(third, 8 << 20));
    CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, third);
    gSettings.msPerFrame = 100000;
    boxes->shown.clear();
    capture();
    EXPECT_FALSE(boxes->saw("This Will First Clear The Current Project"))
        << ::testing::PrintToString(boxes->texts());
    ASSERT_EQ(gProject.fileCount, 3);
    const AVIlist* last = gProject.head;
    while (last->next) last = last->next;
    EXPECT_EQ(std::pair(std::string(last->name), gProject.frameRate),
              std::pair(dir.file("clips/take3.avi"), frameRate));
    ResetProjectForTests();
}
