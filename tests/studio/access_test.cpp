// Keyboards and screen readers in every window, on the offscreen platform: each window's accessible
// tree names every control and gives it a role (and a value and range where it has one), Tab reaches
// every enabled control, Enter and Space press the focused button, and the storyboard's cells are
// reached, announced and selected with the keyboard alone.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <functional>
#include <set>

#include "capture/capture_gui.h"
#include "capture/panel.h"
#include "capture/session.h"
#include "core/format.h"
#include "platform/capwin/capavi.h"
#include "playback/loops.h"
#include "project/project.h"
#include "settings/settings.h"
#include "studio/storyboard.h"
#include "studio/storyboard_canvas.h"
#include "studio/storyboard_ids.h"
#include "support/ffprobe.h"
#include "support/qtapp.h"
#include "support/scripted.h"
#include "ui/buttons.h"
#include "ui/controls.h"

using media_test::Quote;
using media_test::Shell;

namespace {

bool Ranged(QAccessible::Role r) {
    return r == QAccessible::Slider || r == QAccessible::Dial || r == QAccessible::ProgressBar ||
           r == QAccessible::ScrollBar;
}

// Every shown object of the window that a user can act on or read a value from.
void Walk(QAccessibleInterface* i, const std::function<void(QAccessibleInterface*)>& visit, int depth = 0) {
    if (!i || !i->isValid() || i->state().invisible || depth > 30) return;
    const QAccessibleActionInterface* actions = i->actionInterface();
    if (i->state().focusable || Ranged(i->role()) || (actions && !actions->actionNames().isEmpty())) visit(i);
    for (int c = 0; c < i->childCount(); c++) Walk(i->child(c), visit, depth + 1);
}

// What a screen reader would miss: objects without a name or a role, ranged ones without a value in
// a range. Empty when nothing is missing.
std::string TreeFaults(QWidget* window) {
    std::string faults;
    Walk(QAccessible::queryAccessibleInterface(window), [&](QAccessibleInterface* i) {
        const std::string name = i->text(QAccessible::Name).toStdString();
        const std::string what = std::to_string(i->role()) + " '" + name + "' at " +
                                 std::to_string(i->rect().x()) + "," + std::to_string(i->rect().y());
        if (name.empty()) faults += "nameless " + what + "; ";
        if (i->role() == QAccessible::NoRole || i->role() == QAccessible::Client)
            faults += "roleless " + what + "; ";
        if (Ranged(i->role())) {
            QAccessibleValueInterface* v = i->valueInterface();
            if (!v || !v->currentValue().isValid() ||
                !(v->minimumValue().toInt() < v->maximumValue().toInt()))
                faults += "no value in " + what + "; ";
        }
    });
    return faults;
}

// The enabled controls of the window Tab does not reach, going once round from the focus.
std::string Unreached(QWidget* window) {
    std::set<QObject*> reached;
    for (int i = 0; i < 200; i++) {
        QWidget* f = QApplication::focusWidget();
        if (!f || !reached.insert(f).second) break;
        QTest::keyClick(f, Qt::Key_Tab);
    }
    std::string missed;
    Walk(QAccessible::queryAccessibleInterface(window), [&](QAccessibleInterface* i) {
        auto* w = qobject_cast<QWidget*>(i->object());
        if (w && w != window && !i->state().disabled && !reached.count(w))
            missed += i->text(QAccessible::Name).toStdString() + "; ";
    });
    return missed;
}

QWidget* VcrPanelWindow() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == "vcrPanel" && w->isVisible()) return w;
    return nullptr;
}

// The value and the maximum of the window's accessible object of that name.
std::pair<int, int> ValueOf(QWidget* window, const QString& name) {
    std::pair<int, int> value{-1, -1};
    Walk(QAccessible::queryAccessibleInterface(window), [&](QAccessibleInterface* i) {
        if (i->text(QAccessible::Name) == name && i->valueInterface())
            value = {i->valueInterface()->currentValue().toInt(),
                     i->valueInterface()->maximumValue().toInt()};
    });
    return value;
}

// Enter or Space on a button of the window, once it has the focus from the keyboard.
void PressWithKey(QWidget* window, int32_t id, Qt::Key key) {
    QWidget* b = FindControl(window, id);
    ASSERT_NE(b, nullptr);
    b->setFocus(Qt::TabFocusReason);
    QTest::keyClick(b, key);
}

// Runs once the next modal window is up and active.
void WhenActive(std::function<bool()> ready, std::function<void()> inside) {
    auto* timer = new QTimer;
    QObject::connect(timer, &QTimer::timeout, [timer, ready, inside] {
        if (!ready()) return;
        timer->stop();
        timer->deleteLater();
        inside();
    });
    timer->start(20);
}

class Access : public ::testing::Test {
  protected:
    void SetUp() override {
        TestApp();
        ResetProjectForTests();
        ResetSettings();
        ResetCaptureSession();
        gSettings.useToolTips = 0;
        clip = dir.file("clip.avi");
        Shell("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=15 -frames:v 60 -c:v mjpeg " +
              Quote(clip));
        SetPopupChooser([this](const std::vector<PopupItem>& items, QPoint) {
            popups.push_back(items);
            return popupAnswer;
        });
    }
    void TearDown() override {
        SetPopupChooser({});
        ResetProjectForTests();
    }
    TempDir dir;
    std::string clip;
    ScopedBoxes boxes;
    std::vector<std::vector<PopupItem>> popups;
    int32_t popupAnswer = 0;
};

}  // namespace

TEST_F(Access, EveryWindowIsReadAndReachedFromTheKeyboard) {
    StoryboardWindow window;
    window.InitDialog();
    window.resize(640, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    ASSERT_TRUE(AppendAVIToProject(nullptr, clip.c_str()));
    window.UpdateToolbar();
    window.canvas()->repaint();
    StoryboardCanvas* canvas = window.canvas();

    SCOPED_TRACE("the storyboard");
    window.button(kCmdNewProject)->setFocus(Qt::TabFocusReason);
    EXPECT_EQ((std::vector{TreeFaults(&window), Unreached(&window),
                           window.button(kCmdOpenProject)->accessibleName().toStdString()}),
              (std::vector<std::string>{"", "", "Open Project From Disk"}));

    SCOPED_TRACE("frames 10-20 selected with the keyboard alone, announced as they are reached");
    canvas->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 9; i++) QTest::keyClick(canvas, Qt::Key_Right);
    for (int i = 0; i < 10; i++) QTest::keyClick(canvas, Qt::Key_Right, Qt::ShiftModifier);
    EXPECT_EQ(std::pair(gProject.selStart, gProject.selEnd), std::pair(9, 19));
    QAccessibleInterface* grid = QAccessible::queryAccessibleInterface(canvas);
    QAccessibleInterface* cell = grid->focusChild();
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(std::pair(cell->role(), cell->text(QAccessible::Name).toStdString()),
              std::pair(QAccessible::ListItem, std::string("Frame 20, 00m01s04, active")));
    EXPECT_TRUE(cell->state().focused && cell->state().selected);
    popupAnswer = kPopInactivate;
    QTest::keyClick(canvas, Qt::Key_Menu);
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(std::pair(FrameState(20) & kStateInactive, FrameState(21) & kStateInactive),
              std::pair(kStateInactive, 0u));
    EXPECT_EQ(grid->focusChild()->text(QAccessible::Name).toStdString(), "Frame 20, 00m01s04, inactive");

    // The last frame lies below the grid: End scrolls it into sight; Home goes back.
    QTest::keyClick(canvas, Qt::Key_End);
    canvas->repaint();
    EXPECT_EQ(std::tuple(canvas->focusFrame(), canvas->CellRect(59).isEmpty(), gProject.selStart),
              std::tuple(59, false, 59));
    QTest::keyClick(canvas, Qt::Key_Home);
    canvas->repaint();
    EXPECT_FALSE(canvas->CellRect(0).isEmpty());

    SCOPED_TRACE("the VCR panel");
    std::string panelFaults = "not opened", panelMissed;
    std::pair<int, int> afterEnter, afterSpace;
    WhenActive([] { return VcrPanelWindow() && QApplication::activeWindow() == VcrPanelWindow(); },
               [&] {
                   QWidget* panel = VcrPanelWindow();
                   panelFaults = TreeFaults(panel);
                   for (const char* drawn : {"Frame Position", "Jog Dial", "Shuttle Ring"})
                       if (ValueOf(panel, drawn).second <= 0)
                           panelFaults += std::string(drawn) + " missing; ";
                   panelMissed = Unreached(panel);
                   PressWithKey(panel, kCmdLastFrame, Qt::Key_Return);
                   afterEnter = ValueOf(panel, "Frame Position");
                   PressWithKey(panel, kCmdFirstFrame, Qt::Key_Space);
                   afterSpace = ValueOf(panel, "Frame Position");
                   PressWithKey(panel, kCmdPowerOff, Qt::Key_Enter);
               });
    window.Command(kCmdPreview);
    // Enter goes to the last of the 60 frames less the 11 inactive, Space back to the first.
    EXPECT_EQ(std::tuple(panelFaults, panelMissed, afterEnter, afterSpace.first),
              std::tuple(std::string(), std::string(), std::pair(49, 49), 1));

    SCOPED_TRACE("the capture panel");
    const std::string take = dir.file("take.avi");
    ASSERT_TRUE(AllocateCaptureFile(take, 4 << 20));
    CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, take);
    std::string captureFaults = "not opened", captureMissed;
    WhenActive([] { return CapturePanelWindow() && QApplication::activeWindow() == CapturePanelWindow(); },
               [&] {
                   captureFaults = TreeFaults(CapturePanelWindow());
                   for (const char* drawn : {"Left Sound Level", "Right Sound Level"})
                       if (ValueOf(CapturePanelWindow(), drawn).second <= 0)
                           captureFaults += std::string(drawn) + " missing; ";
                   captureMissed = Unreached(CapturePanelWindow());
                   PressWithKey(CapturePanelWindow(), kPanelPower, Qt::Key_Enter);
               });
    boxes->answers = {IDOK, IDNO};
    ResetProjectForTests();
    window.Command(kCmdCapture);
    EXPECT_EQ(std::tuple(captureFaults, captureMissed, CapturePanelWindow() == nullptr),
              std::tuple(std::string(), std::string(), true));
}
