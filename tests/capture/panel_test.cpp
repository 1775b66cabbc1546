// The capture windows on the offscreen platform: the Drivers menu, and Capture from the storyboard
// through the panel's buttons into the project.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <functional>

#include "capture/capture_gui.h"
#include "capture/panel.h"
#include "capture/session.h"
#include "core/format.h"
#include "core/settings.h"
#include "platform/capwin/capavi.h"
#include "project/project.h"
#include "project/storyboard.h"
#include "project/storyboard_ids.h"
#include "support/qtapp.h"
#include "support/scripted.h"
#include "ui/controls.h"

namespace {

// Runs the steps one after the other inside the modal loops, each once the one before returned
// true (polled every 20 ms).
void Script(std::vector<std::function<bool()>> steps) {
    auto* timer = new QTimer;
    auto remaining = std::make_shared<std::vector<std::function<bool()>>>(std::move(steps));
    QObject::connect(timer, &QTimer::timeout, [timer, remaining] {
        if (remaining->empty()) {
            timer->deleteLater();
            return;
        }
        if (remaining->front()()) remaining->erase(remaining->begin());
    });
    timer->start(20);
}

QAbstractButton* PanelButton(int32_t id) {
    QWidget* panel = CapturePanelWindow();
    return panel ? qobject_cast<QAbstractButton*>(FindControl(panel, id)) : nullptr;
}

}  // namespace

TEST(CapturePanel, DriversMenuAndCaptureIntoTheProject) {
    TestApp();
    ResetSettings();
    ResetCaptureSession();
    ResetProjectForTests();
    ScopedBoxes boxes;
    TempDir dir;
    const std::string file = dir.file("take.avi");
    ASSERT_TRUE(AllocateCaptureFile(file, 8 << 20));
    CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, file);
    gSettings.Arate = 11025;
    gSettings.useToolTips = 0;
    StoryboardWindow window;
    window.InitDialog();
    window.show();

    // The Drivers menu lists the test pattern, checked as the first driver; choosing keeps it.
    QMenu* drivers = window.menuBar()->actions().at(4)->menu();
    ASSERT_EQ(drivers->actions().size(), 1);
    EXPECT_EQ(drivers->actions()[0]->text().toStdString(), "&0 Quillory Test Pattern");
    window.InitMenus();
    EXPECT_TRUE(drivers->actions()[0]->isChecked());
    window.Command(kCmdFirstDriver);
    EXPECT_EQ(boxes->texts().back(), "selected driver 0");
    EXPECT_EQ(gwIndex, 0);

    // Start turns every button but Stop off; Stop brings them back and leaves the final line;
    // Power closes the panel and the file joins the project.
    const int32_t others[] = {kPanelDetails, kPanelCapFile, kPanelInfo, kPanelHelp, kPanelPower};
    auto enabled = [&](bool on) {
        for (int32_t id : others)
            if (PanelButton(id)->isEnabled() != on) return false;
        return PanelButton(kPanelStart)->isEnabled();
    };
    bool startedOk = false, stoppedOk = false;
    Script({[] { return PanelButton(kPanelStart) && PanelButton(kPanelStart)->isVisible(); },
            [&] {
                PanelButton(kPanelInfo)->click();
                PanelButton(kPanelStart)->click();
                startedOk = enabled(false) && gCapturing;
                return true;
            },
            [] { return gFrameTally >= 8; },
            [&] {
                PanelButton(kPanelStart)->click();
                stoppedOk = enabled(true) && !gCapturing;
                PanelButton(kPanelPower)->click();
                return true;
            }});
    window.Command(kCmdCapture);
    EXPECT_TRUE(startedOk && stoppedOk);
    EXPECT_TRUE(boxes->saw("Capture File Empty"));
    EXPECT_EQ(boxes->texts().back(), "Open Captured File <" + file + ">??");
    EXPECT_EQ(ghWndCap, nullptr);
    EXPECT_EQ(CapturePanelWindow(), nullptr);
    ASSERT_EQ(gProject.fileCount, 1);
    EXPECT_GE(gProject.totalFrames, 8);
    EXPECT_EQ(std::string(gProject.head->name), file);
    ResetProjectForTests();
}
