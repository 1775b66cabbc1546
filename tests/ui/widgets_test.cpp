// The Qt toolkit: tooltips (size, placement at the screen's edge, once per control, the timer and
// Shift, pointer moves over an installed table), bitmap buttons drawn from their state rows, window
// placement, the row layout applied to a dialog, text in a box, the wait cursor, and the splash.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include "platform/qtui/qtui.h"
#include "settings/settings.h"
#include "support/modal.h"
#include "support/qtapp.h"
#include "support/scripted.h"
#include "ui/artwork.h"
#include "ui/buttons.h"
#include "ui/controls.h"
#include "ui/splash.h"
#include "ui/tooltips.h"
#include "ui/windows.h"

namespace {

const TooltipEntry kTable[] = {
    {1152, "Play File Forward (with Audio)"},
    {1435, "Go To First Frame Of File\nand stay there"},
    {0, nullptr},
};

// A dialog at the right edge of an 800 x 600 desktop with two listed controls.
struct TooltipFixture {
    QApplication& app = TestApp();
    QWidget dialog;
    QPushButton *play, *first;
    TooltipFixture() {
        ResetSettings();
        gSettings.gDesktopWidth = 800;
        gSettings.gDesktopHeight = 600;
        std::strcpy(gSettings.fontnameToolTips, "Liberation Sans");
        gSettings.fontsizeToolTips = 8;
        ResetTooltipMemory();
        CloseTooltip();
        SetTooltipsAllowed(true);
        dialog.setGeometry(690, 100, 110, 80);
        auto add = [&](int32_t id, int x) {
            auto* b = new QPushButton(&dialog);
            b->setGeometry(x, 10, 25, 20);
            SetControlId(b, id);
            return b;
        };
        play = add(1152, 80), first = add(1435, 10);
        dialog.show();
        QCoreApplication::processEvents();
    }
    ~TooltipFixture() {
        CloseTooltip();
        SetShiftKeyQuery(nullptr);
        QCoreApplication::processEvents();
    }
    void Rest(QWidget* control) {
        QPoint at = control->geometry().center();
        ShowTooltip(HWNDFromWidget(&dialog), HWNDFromWidget(control), kTable, at.x(), at.y());
    }
    void Away() { ShowTooltip(HWNDFromWidget(&dialog), HWNDFromWidget(&dialog), kTable, 1, 1); }
    QWidget* Popup() { return static_cast<QWidget*>(TooltipWindow()); }
    uint32_t Line(const char* text) {
        return MeasureTooltipLine(HWNDFromWidget(&dialog), text, static_cast<int32_t>(std::strlen(text)),
                                  "Liberation Sans", 8);
    }
};

QImage Render(const std::function<void(QPainter&)>& draw, int w, int h) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    draw(p);
    return img;
}

}  // namespace

TEST(Tooltips, PopupSizePlacementAndOncePerControl) {
    TooltipFixture f;
    f.Rest(f.play);
    QWidget* popup = f.Popup();
    ASSERT_NE(popup, nullptr);
    EXPECT_EQ(popup->geometry().right() + 1, 800);  // placed by TooltipPopupRect: inside the right edge
    EXPECT_TRUE(popup->testAttribute(Qt::WA_ShowWithoutActivating));
    auto* timer = popup->findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(!timer->isSingleShot() && timer->isActive());
    QImage face = popup->grab().toImage();  // pale yellow inside a black border
    EXPECT_EQ(std::make_pair(face.pixel(0, 0) & 0xFFFFFF, face.pixel(1, face.height() - 2) & 0xFFFFFF),
              std::make_pair(0x000000u, 0xFFFFB7u));
    // After it closed it is not shown again until the pointer left the control (the rule itself is
    // tested without widgets); another control replaces it.
    CloseTooltip();
    f.Rest(f.play);
    EXPECT_EQ(f.Popup(), nullptr);
    f.Away();
    f.Rest(f.play);
    f.Rest(f.first);
    EXPECT_NE(f.Popup(), nullptr);
}

TEST(Tooltips, TheTimerClosesThePopupUnlessShiftIsHeld) {
    TooltipFixture f;
    bool shift = true;
    SetShiftKeyQuery([&] { return shift; });
    f.Rest(f.play);
    TooltipTimerTick();
    TooltipTimerTick();
    EXPECT_NE(f.Popup(), nullptr);  // kept while Shift is held
    shift = false;
    TooltipTimerTick();
    EXPECT_EQ(f.Popup(), nullptr);
}

TEST(Tooltips, SwitchedOffOrPausedNothingNewIsShown) {
    TooltipFixture f;
    // useToolTips 0: nothing new, but a tooltip already shown stays until its timer.
    f.Rest(f.first);
    gSettings.useToolTips = 0;
    f.Rest(f.play);
    EXPECT_NE(f.Popup(), nullptr);
    TooltipTimerTick();
    f.Away();
    f.Rest(f.first);
    EXPECT_EQ(f.Popup(), nullptr);
    gSettings.useToolTips = 1;
    // Paused while something tracks the mouse itself.
    SetTooltipsAllowed(false);
    f.Rest(f.play);
    EXPECT_EQ(f.Popup(), nullptr);
}

TEST(Tooltips, ThePointerOverThePopupClosesIt) {
    TooltipFixture f;
    f.Rest(f.play);
    ASSERT_NE(f.Popup(), nullptr);
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QCoreApplication::sendEvent(f.Popup(), &enter);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.Popup(), nullptr);
}

TEST(Tooltips, PointerMovesOverAnInstalledTableShowThem) {
    TooltipFixture f;
    // For disabled controls and controls added later too.
    InstallTooltipTable(&f.dialog, kTable);
    f.first->setEnabled(false);
    QPointF local(5, 5);
    QMouseEvent move(QEvent::MouseMove, local, f.first->mapToGlobal(local), Qt::NoButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(&f.dialog, &move);
    ASSERT_NE(f.Popup(), nullptr);
    EXPECT_TRUE(f.dialog.hasMouseTracking() && f.play->hasMouseTracking());
    auto* late = new QPushButton(&f.dialog);
    late->setGeometry(10, 40, 20, 20);
    SetControlId(late, 1152);
    late->show();
    EXPECT_TRUE(late->hasMouseTracking());
    QMouseEvent onLate(QEvent::MouseMove, local, late->mapToGlobal(local), Qt::NoButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(late, &onLate);
    ASSERT_NE(f.Popup(), nullptr);
    EXPECT_EQ(f.Popup()->height(), static_cast<int>(f.Line(kTable[0].text) >> 16) + 2);  // 1152's one line
}

TEST(BitmapButtonDrawing, StateRowsFromTheStrip) {
    TestApp();
    ScopedBoxes boxes;
    ButtonRecord* list = AddBitmapButton(nullptr, nullptr, 1152, kVcrBitmapName, 41, 157, 41, 12);
    ASSERT_NE(list, nullptr);
    const QImage& art = BitmapRecordImage(list->bitmap);
    auto expected = [&](int row) {
        return art.copy(41, 157 + row * 12, 41, 12).convertToFormat(QImage::Format_RGB32);
    };
    auto draw = [&](uint32_t state, int32_t id = 1152, int handled = 1) {
        return Render(
            [&](QPainter& p) {
                DRAWITEMSTRUCT item{
                    ODT_BUTTON,        1152, 0, ODA_DRAWENTIRE, state, nullptr, HDCFromPainter(&p),
                    RECT{0, 0, 41, 12}};
                EXPECT_EQ(DrawBitmapButton(list, nullptr, WM_DRAWITEM, id, &item), handled);
            },
            41, 12);
    };
    const std::tuple<uint32_t, int, int> cases[] = {{0, 0, 0},
                                                    {ODS_FOCUS, 1, 0},
                                                    {ODS_SELECTED | ODS_FOCUS, 2, 1},
                                                    {ODS_DISABLED, 3, 0},
                                                    {ODS_DISABLED | ODS_FOCUS, 3, 0},
                                                    {ODS_SELECTED | ODS_DISABLED, 2, 1}};
    for (auto [state, row, pressed] : cases) {
        EXPECT_EQ(draw(state), expected(row)) << "state " << state;
        EXPECT_EQ(list->pressed, pressed);
    }
    draw(0, 9999, 0);  // an id not in the list is not handled
    // As a widget: the pressed image while held down, the disabled one when disabled.
    QWidget panel;
    auto* button = new OwnerDrawButton(1152, &panel);
    button->setGeometry(0, 0, 41, 12);
    button->setDrawFunction(BitmapButtonDrawer(HWNDFromWidget(&panel), &list));
    auto grab = [&] { return button->grab().toImage().convertToFormat(QImage::Format_RGB32); };
    EXPECT_EQ(grab(), expected(0));
    button->setDown(true);
    EXPECT_EQ(grab(), expected(2));
    button->setDown(false);
    button->setEnabled(false);
    EXPECT_EQ(grab(), expected(3));
    EXPECT_EQ(GetDlgItem(HWNDFromWidget(&panel), 1152), HWNDFromWidget(button));
    // StretchDIBits counts the source from the bottom row: the panel's sources land on its pictures.
    for (const ArtworkRect& r : {kVcrFront, kVcrInfoWell}) {
        const int32_t y = StretchSourceY(kVcrBitmapHeight, r.y, r.height);
        QImage drawn = Render(
            [&](QPainter& p) {
                EXPECT_EQ(StretchBitmapRecord(HDCFromPainter(&p), 0, 0, r.width, r.height, list->bitmap, r.x,
                                              y, r.width, r.height),
                          r.height);
            },
            r.width, r.height);
        EXPECT_EQ(drawn, art.copy(r.x, r.y, r.width, r.height).convertToFormat(QImage::Format_RGB32));
    }
    FreeButtonList(list);
    EXPECT_TRUE(boxes->shown.empty());
}

TEST(WindowHelpers, PlaceBelowAnAnchorAndLeaveGoneWindowsAlone) {
    TestApp();
    RECT desk = DesktopRect();
    QWidget anchor, panel;
    // Under an anchor near the bottom: both move up, the window ending 20 above the bottom.
    anchor.setGeometry(100, desk.bottom - 150, 200, 100);
    panel.resize(120, 80);
    PlaceBelow(HWNDFromWidget(&panel), HWNDFromWidget(&anchor));
    EXPECT_EQ(panel.pos(), QPoint(140, desk.bottom - 100));
    EXPECT_EQ(anchor.pos(), QPoint(100, desk.bottom - 200));
    // A window that is gone moves nothing, neither under the anchor nor as the anchor.
    auto* gone = new QWidget;
    HWND stale = HWNDFromWidget(gone);
    delete gone;
    anchor.move(100, desk.bottom - 150);
    CenterOnDesktop(stale);
    PlaceBelow(stale, HWNDFromWidget(&anchor));
    PlaceBelow(HWNDFromWidget(&panel), stale);
    EXPECT_EQ(anchor.pos(), QPoint(100, desk.bottom - 150));
    EXPECT_EQ(panel.pos(), QPoint(140, desk.bottom - 100));
}

TEST(WindowHelpers, RowLayoutMovesADialogsControls) {
    TestApp();
    while (CurrentLayout() || SavedLayoutCount() > 0) EndLayout();
    QWidget dialog;
    HWND d = HWNDFromWidget(&dialog);
    std::vector<QPushButton*> b;
    for (int32_t id : {1997, 1861, 1595}) {
        b.push_back(new QPushButton(&dialog));
        b.back()->setGeometry(3, 40, 24, 20);
        SetControlId(b.back(), id);
    }
    BeginLayout(0, 0);
    ASSERT_NE(LayoutControl(d, 1997, 0, 0, 0, 28, 26, kLayoutMinimum, kLayoutMinimum), nullptr);
    LayoutControl(d, 1861, 1997, 0, 0, 28, 26, kLayoutRightOf | kLayoutMinimum,
                  kLayoutAlignTop | kLayoutMinimum);
    LayoutControl(d, 1595, 1861, 10, 0, 28, 26, kLayoutRightOf | kLayoutMinimum,
                  kLayoutAlignTop | kLayoutMinimum);
    EXPECT_EQ(LayoutControl(d, 4242, 0, 0, 0, 0, 0, 0, 0), nullptr);  // no such control
    ApplyLayout(d, 5, 2);
    EndLayout();
    EXPECT_EQ((std::vector{b[0]->geometry(), b[1]->geometry(), b[2]->geometry()}),
              (std::vector{QRect(8, 42, 28, 26), QRect(36, 42, 28, 26), QRect(74, 42, 28, 26)}));
}

TEST(WindowHelpers, TextInABoxIsShortenedToFit) {
    TestApp();
    // Shortened to fit, the box blacked out and nothing past it.
    uint32_t full = 0, cut = 0;
    QImage img = Render(
        [&](QPainter& p) {
            p.setPen(QColor(0, 255, 0));
            full = MyShowText(HDCFromPainter(&p), 10, 5, "STREAMING CAPTURE", "Liberation Sans", 14, 0);
            cut = MyShowText(HDCFromPainter(&p), 10, 30, "STREAMING CAPTURE", "Liberation Sans", 14, 40);
        },
        300, 60);
    EXPECT_TRUE((full >> 16) <= 14 && (full & 0xFFFF) > 40 && (cut & 0xFFFF) <= 40 && (cut & 0xFFFF) > 0);
    EXPECT_EQ(std::make_pair(img.pixel(48, 31), img.pixel(51, 31)),
              std::make_pair(qRgb(0, 0, 0), qRgb(255, 255, 255)));
}

TEST(WindowHelpers, ASecondWaitCursorKeepsTheUsersCursor) {
    TestApp();
    SetWaitCursor();
    SetWaitCursor();
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    RestoreCursor();
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    RestoreCursor();
    EXPECT_FALSE(WaitCursorShown());
}

TEST(Splash, ShownOnceClosedByClickOrCallAndModalAsAbout) {
    TestApp();
    ShowSplash(nullptr);
    auto* splash = static_cast<QWidget*>(SplashWindow());
    ASSERT_TRUE(splash && splash->isVisible());
    EXPECT_EQ(GetDlgCtrlID(splash), kSplashDialogId);
    ShowSplash(nullptr);
    EXPECT_EQ(SplashWindow(), splash);  // not a second one
    auto* version = static_cast<QLabel*>(FindControl(splash, kSplashVersionId));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text().toStdString(), SplashVersionLine());
    EXPECT_EQ(SplashVersionLine().rfind("Quillory version ", 0), 0u);
    auto* picture = static_cast<QAbstractButton*>(FindControl(splash, kSplashPictureId));
    ASSERT_NE(picture, nullptr);
    EXPECT_GT(picture->grab().toImage().width(), 200);
    picture->click();
    EXPECT_EQ(SplashWindow(), nullptr);
    CloseSplash();  // nothing to close
    ShowSplash(nullptr);
    CloseSplash();
    EXPECT_EQ(SplashWindow(), nullptr);
    QWidget owner;
    bool seen = false;
    WhenShown(
        "the About box", [] { return QApplication::activeModalWidget(); },
        [&](QWidget* about) {
            seen = about->windowTitle() == "About Quillory";
            static_cast<QAbstractButton*>(FindControl(about, kSplashPictureId))->click();
        });
    ShowAboutBox(HWNDFromWidget(&owner));
    EXPECT_TRUE(seen);
    QCoreApplication::processEvents();
}
