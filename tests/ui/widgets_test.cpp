#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QEnterEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include "core/settings.h"
#include "platform/qtui/qtui.h"
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

// A dialog near the right edge of an 800 x 600 desktop with three controls.
struct TooltipFixture {
    QWidget dialog;
    QPushButton* play;
    QPushButton* first;
    QPushButton* unlisted;
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
        play = new QPushButton(&dialog);
        play->setGeometry(80, 10, 25, 20);
        SetControlId(play, 1152);
        first = new QPushButton(&dialog);
        first->setGeometry(10, 10, 25, 20);
        SetControlId(first, 1435);
        unlisted = new QPushButton(&dialog);
        unlisted->setGeometry(40, 10, 25, 20);
        SetControlId(unlisted, 77);
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
    QWidget* Popup() { return static_cast<QWidget*>(TooltipWindow()); }
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
    TestApp();
    TooltipFixture f;
    f.Rest(f.play);
    QWidget* popup = f.Popup();
    ASSERT_NE(popup, nullptr);
    uint32_t line =
        MeasureTooltipLine(HWNDFromWidget(&f.dialog), kTable[0].text,
                           static_cast<int32_t>(std::strlen(kTable[0].text)), "Liberation Sans", 8);
    EXPECT_EQ(popup->width(), static_cast<int>(line & 0xFFFF) + 4);
    EXPECT_EQ(popup->height(), static_cast<int>(line >> 16) + 2);
    EXPECT_EQ(popup->geometry().right() + 1, 800);  // pushed back inside the right edge
    EXPECT_EQ(popup->y(), f.dialog.mapToGlobal(f.play->geometry().center()).y() + 15);
    EXPECT_TRUE(popup->testAttribute(Qt::WA_ShowWithoutActivating));
    auto* timer = popup->findChild<QTimer*>();
    ASSERT_NE(timer, nullptr);
    EXPECT_EQ(timer->interval(), 2000);
    EXPECT_FALSE(timer->isSingleShot());
    EXPECT_TRUE(timer->isActive());

    // Painted pale yellow inside a black border.
    QImage face = popup->grab().toImage();
    EXPECT_EQ(face.pixel(0, 0) & 0xFFFFFF, 0x000000u);
    EXPECT_EQ(face.pixel(1, face.height() - 2) & 0xFFFFFF, 0xFFFFB7u);

    // Resting on the same control keeps it; after it closed it is not shown again.
    f.Rest(f.play);
    EXPECT_EQ(f.Popup(), popup);
    CloseTooltip();
    EXPECT_EQ(f.Popup(), nullptr);
    f.Rest(f.play);
    EXPECT_EQ(f.Popup(), nullptr);
    f.Rest(f.unlisted);  // not in the table: nothing, memory kept
    f.Rest(f.play);
    EXPECT_EQ(f.Popup(), nullptr);
    ShowTooltip(HWNDFromWidget(&f.dialog), HWNDFromWidget(&f.dialog), kTable, 1, 1);  // on no control
    f.Rest(f.play);
    EXPECT_NE(f.Popup(), nullptr);

    // Another control replaces it: two lines high, as wide as the wider line plus 4.
    f.Rest(f.first);
    popup = f.Popup();
    ASSERT_NE(popup, nullptr);
    uint32_t a =
        MeasureTooltipLine(HWNDFromWidget(&f.dialog), "Go To First Frame Of File", 25, "Liberation Sans", 8);
    EXPECT_EQ(popup->width(), static_cast<int>(a & 0xFFFF) + 4);
    EXPECT_EQ(popup->height(), 2 * static_cast<int>(a >> 16) + 2);
}

TEST(Tooltips, TimerShiftSettingsAndPointerOverThePopup) {
    TestApp();
    TooltipFixture f;
    bool shift = true;
    SetShiftKeyQuery([&] { return shift; });
    f.Rest(f.play);
    ASSERT_NE(f.Popup(), nullptr);
    TooltipTimerTick();
    TooltipTimerTick();
    EXPECT_NE(f.Popup(), nullptr);  // kept while Shift is held
    shift = false;
    TooltipTimerTick();
    EXPECT_EQ(f.Popup(), nullptr);

    // useToolTips 0: nothing new, but a tooltip already shown stays until its timer.
    ShowTooltip(HWNDFromWidget(&f.dialog), HWNDFromWidget(&f.dialog), kTable, 1, 1);
    f.Rest(f.first);
    ASSERT_NE(f.Popup(), nullptr);
    gSettings.useToolTips = 0;
    f.Rest(f.play);
    EXPECT_NE(f.Popup(), nullptr);
    TooltipTimerTick();
    EXPECT_EQ(f.Popup(), nullptr);
    ShowTooltip(HWNDFromWidget(&f.dialog), HWNDFromWidget(&f.dialog), kTable, 1, 1);
    f.Rest(f.first);
    EXPECT_EQ(f.Popup(), nullptr);
    gSettings.useToolTips = 1;

    // Paused while something tracks the mouse itself.
    SetTooltipsAllowed(false);
    f.Rest(f.first);
    EXPECT_EQ(f.Popup(), nullptr);
    SetTooltipsAllowed(true);
    f.Rest(f.first);
    EXPECT_EQ(f.Popup(), nullptr);  // still the control of the last tooltip
    ShowTooltip(HWNDFromWidget(&f.dialog), HWNDFromWidget(&f.dialog), kTable, 1, 1);
    f.Rest(f.first);
    ASSERT_NE(f.Popup(), nullptr);

    // The pointer over the popup closes it.
    QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
    QCoreApplication::sendEvent(f.Popup(), &enter);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.Popup(), nullptr);
}

TEST(Tooltips, PointerMovesOverAnInstalledTableShowThem) {
    TestApp();
    TooltipFixture f;
    InstallTooltipTable(&f.dialog, kTable);
    f.first->setEnabled(false);  // disabled controls still explain themselves
    QPointF local(5, 5);
    QMouseEvent move(QEvent::MouseMove, local, f.first->mapToGlobal(local), Qt::NoButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(&f.dialog, &move);
    ASSERT_NE(f.Popup(), nullptr);
    EXPECT_TRUE(f.dialog.hasMouseTracking());
    EXPECT_TRUE(f.play->hasMouseTracking());
    // A control added later is watched too.
    auto* late = new QPushButton(&f.dialog);
    late->setGeometry(10, 40, 20, 20);
    SetControlId(late, 1152);
    late->show();
    EXPECT_TRUE(late->hasMouseTracking());
    QMouseEvent onLate(QEvent::MouseMove, local, late->mapToGlobal(local), Qt::NoButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(late, &onLate);
    QWidget* popup = f.Popup();
    ASSERT_NE(popup, nullptr);
    uint32_t line =
        MeasureTooltipLine(HWNDFromWidget(&f.dialog), kTable[0].text,
                           static_cast<int32_t>(std::strlen(kTable[0].text)), "Liberation Sans", 8);
    EXPECT_EQ(popup->height(), static_cast<int>(line >> 16) + 2);  // the one-line text of 1152
}

TEST(BitmapButtonDrawing, StateRowsFromTheStrip) {
    TestApp();
    ScopedBoxes boxes;
    ButtonRecord* list = AddBitmapButton(nullptr, nullptr, 1152, kVcrBitmapName, 41, 157, 41, 12);
    ASSERT_NE(list, nullptr);
    const QImage& art = BitmapRecordImage(list->bitmap);
    ASSERT_EQ(art.width(), kVcrBitmapWidth);
    auto expected = [&](int row) {
        return art.copy(41, 157 + row * 12, 41, 12).convertToFormat(QImage::Format_RGB32);
    };
    struct Case {
        uint32_t state;
        int row;
        int pressed;
    };
    const Case cases[] = {{0, 0, 0},
                          {ODS_FOCUS, 1, 0},
                          {ODS_SELECTED | ODS_FOCUS, 2, 1},
                          {ODS_DISABLED, 3, 0},
                          {ODS_DISABLED | ODS_FOCUS, 3, 0}};
    for (const Case& c : cases) {
        QImage got = Render(
            [&](QPainter& p) {
                DRAWITEMSTRUCT item{
                    ODT_BUTTON,        1152, 0, ODA_DRAWENTIRE, c.state, nullptr, HDCFromPainter(&p),
                    RECT{0, 0, 41, 12}};
                EXPECT_EQ(DrawBitmapButton(list, nullptr, WM_DRAWITEM, 1152, &item), 1);
            },
            41, 12);
        EXPECT_EQ(got, expected(c.row)) << "state " << c.state;
        EXPECT_EQ(list->pressed, c.pressed);
    }
    // A negative state draws nothing; an id not in the list is not handled.
    list->state = -1;
    QImage blank = Render(
        [&](QPainter& p) {
            DRAWITEMSTRUCT item{ODT_BUTTON,        1152, 0, ODA_DRAWENTIRE, 0, nullptr, HDCFromPainter(&p),
                                RECT{0, 0, 41, 12}};
            EXPECT_EQ(DrawBitmapButton(list, nullptr, WM_DRAWITEM, 1152, &item), 1);
            EXPECT_EQ(DrawBitmapButton(list, nullptr, WM_DRAWITEM, 9999, &item), 0);
        },
        41, 12);
    EXPECT_EQ(blank.pixel(20, 6), qRgb(255, 255, 255));
    list->state = 0;

    // As a widget: the pressed image while it is held down, the disabled one when disabled.
    QWidget panel;
    auto* button = new OwnerDrawButton(1152, &panel);
    button->setGeometry(0, 0, 41, 12);
    button->setDrawFunction(BitmapButtonDrawer(HWNDFromWidget(&panel), &list));
    EXPECT_EQ(button->grab().toImage().convertToFormat(QImage::Format_RGB32), expected(0));
    button->setDown(true);
    EXPECT_EQ(button->grab().toImage().convertToFormat(QImage::Format_RGB32), expected(2));
    button->setDown(false);
    button->setEnabled(false);
    EXPECT_EQ(button->grab().toImage().convertToFormat(QImage::Format_RGB32), expected(3));
    EXPECT_EQ(GetDlgItem(HWNDFromWidget(&panel), 1152), HWNDFromWidget(button));

    // StretchDIBits counts the source from the bottom row: the VCR front sits at (0, 100).
    QImage front = Render(
        [&](QPainter& p) {
            EXPECT_EQ(StretchBitmapRecord(HDCFromPainter(&p), 0, 0, 286, 155, list->bitmap, 0, 100, 286, 155),
                      155);
        },
        286, 155);
    EXPECT_EQ(front, art.copy(0, 0, 286, 155).convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(StretchBitmapRecord(nullptr, 0, 0, 1, 1, list->bitmap, 0, 0, 1, 1), 0);
    FreeButtonList(list);
    EXPECT_TRUE(boxes->shown.empty());
}

TEST(WindowHelpers, PlacementOnTheScreen) {
    TestApp();
    RECT desk = DesktopRect();
    ASSERT_GT(desk.right, 0);
    QWidget big;
    big.resize(desk.right + 100, desk.bottom + 100);
    big.move(50, 50);
    CenterOnDesktop(HWNDFromWidget(&big));
    EXPECT_EQ(big.pos(), QPoint(0, 0));
    QWidget small;
    small.resize(200, 100);
    CenterOnDesktop(HWNDFromWidget(&small));
    EXPECT_EQ(small.pos(), QPoint((desk.right - 200) / 2, (desk.bottom - 100) / 2));

    // Under an anchor near the bottom: both move up, the window ending 20 above the bottom.
    QWidget anchor, panel;
    anchor.resize(200, 100);
    anchor.move(100, desk.bottom - 150);
    panel.resize(120, 80);
    PlaceBelow(HWNDFromWidget(&panel), HWNDFromWidget(&anchor));
    EXPECT_EQ(panel.pos(), QPoint(140, desk.bottom - 100));
    EXPECT_EQ(anchor.pos(), QPoint(100, desk.bottom - 200));
    PlaceRightOf(HWNDFromWidget(&panel), HWNDFromWidget(&anchor));
    EXPECT_EQ(panel.pos(), QPoint(300, anchor.y()));
    PlaceUpperCentre(HWNDFromWidget(&panel));
    EXPECT_EQ(panel.pos(), QPoint((desk.right - 120) / 2, desk.bottom / 2 - 80));
    // Gone windows are left alone.
    auto* gone = new QWidget;
    HWND stale = HWNDFromWidget(gone);
    delete gone;
    CenterOnDesktop(stale);
    PlaceBelow(stale, HWNDFromWidget(&anchor));
    LogCapture log;
    EXPECT_EQ(MyInvalidateRect(nullptr, nullptr, 1), 0);
    EXPECT_TRUE(log.contains("MyInvalidateRect: hDlg=NULL"));
}

TEST(WindowHelpers, RowLayoutMovesTheDialogsControls) {
    TestApp();
    while (CurrentLayout() || SavedLayoutCount() > 0) EndLayout();
    QWidget dialog;
    auto make = [&](int32_t id, int x, int y, int w, int h) {
        auto* b = new QPushButton(&dialog);
        b->setGeometry(x, y, w, h);
        SetControlId(b, id);
        return b;
    };
    QPushButton* a = make(1997, 3, 40, 24, 20);
    QPushButton* b = make(1861, 0, 0, 20, 18);
    QPushButton* c = make(1595, 0, 0, 20, 18);
    BeginLayout(0, 0);
    ASSERT_NE(LayoutControl(HWNDFromWidget(&dialog), 1997, 0, 0, 0, 28, 26, kLayoutMinimum, kLayoutMinimum),
              nullptr);
    LayoutControl(HWNDFromWidget(&dialog), 1861, 1997, 0, 0, 28, 26, kLayoutRightOf | kLayoutMinimum,
                  kLayoutAlignTop | kLayoutMinimum);
    LayoutControl(HWNDFromWidget(&dialog), 1595, 1861, 10, 0, 28, 26, kLayoutRightOf | kLayoutMinimum,
                  kLayoutAlignTop | kLayoutMinimum);
    EXPECT_EQ(LayoutControl(HWNDFromWidget(&dialog), 4242, 0, 0, 0, 0, 0, 0, 0), nullptr);  // no such control
    ApplyLayout(HWNDFromWidget(&dialog), 5, 2);
    EndLayout();
    EXPECT_EQ(a->geometry(), QRect(8, 42, 28, 26));
    EXPECT_EQ(b->geometry(), QRect(36, 42, 28, 26));
    EXPECT_EQ(c->geometry(), QRect(74, 42, 28, 26));
}

TEST(WindowHelpers, TextInABoxAndTheWaitCursor) {
    TestApp();
    ScopedBoxes boxes;
    uint32_t full = 0, cut = 0;
    QImage img = Render(
        [&](QPainter& p) {
            p.setPen(QColor(0, 255, 0));
            full = MyShowText(HDCFromPainter(&p), 10, 5, "STREAMING CAPTURE", "Liberation Sans", 14, 0);
            cut = MyShowText(HDCFromPainter(&p), 10, 30, "STREAMING CAPTURE", "Liberation Sans", 14, 40);
        },
        300, 60);
    EXPECT_LE(full >> 16, 14u);
    EXPECT_GT(full & 0xFFFF, 40u);
    EXPECT_LE(cut & 0xFFFF, 40u);  // shortened to fit its box
    EXPECT_GT(cut & 0xFFFF, 0u);
    EXPECT_EQ(img.pixel(48, 31), qRgb(0, 0, 0));        // the box is blacked out
    EXPECT_EQ(img.pixel(51, 31), qRgb(255, 255, 255));  // and nothing past it
    EXPECT_EQ(MyShowText(nullptr, 0, 0, nullptr, "Arial", 10, 0), 0u);
    EXPECT_EQ(boxes->texts(), std::vector<std::string>({"MyShowText - error"}));
    EXPECT_EQ(CellHeightFont("Liberation Sans", 14).pixelSize() > 0, true);
    EXPECT_LE(QFontMetrics(CellHeightFont("Liberation Sans", 14)).height(), 14);

    SetWaitCursor();
    SetWaitCursor();  // a second call keeps the user's cursor to come back to
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
    ASSERT_NE(splash, nullptr);
    EXPECT_TRUE(splash->isVisible());
    EXPECT_EQ(GetDlgCtrlID(splash), kSplashDialogId);
    ShowSplash(nullptr);
    EXPECT_EQ(SplashWindow(), splash);  // not a second one
    auto* version = static_cast<QLabel*>(FindControl(splash, kSplashVersionId));
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version->text().toStdString(), SplashVersionLine());
    EXPECT_EQ(SplashVersionLine().rfind("Quillory version ", 0), 0u);
    RECT desk = DesktopRect();
    EXPECT_EQ(splash->x(), (desk.right - splash->frameGeometry().width()) / 2);
    auto* picture = static_cast<QAbstractButton*>(FindControl(splash, kSplashPictureId));
    ASSERT_NE(picture, nullptr);
    QImage face = picture->grab().toImage();
    EXPECT_GT(face.width(), 200);
    picture->click();
    EXPECT_EQ(SplashWindow(), nullptr);
    CloseSplash();  // nothing to close
    ShowSplash(nullptr);
    ASSERT_NE(SplashWindow(), nullptr);
    CloseSplash();
    EXPECT_EQ(SplashWindow(), nullptr);

    QWidget owner;
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* about = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(about, nullptr);
        seen = true;
        EXPECT_EQ(about->windowTitle(), "About Quillory");
        static_cast<QAbstractButton*>(FindControl(about, kSplashPictureId))->click();
    });
    ShowAboutBox(HWNDFromWidget(&owner));
    EXPECT_TRUE(seen);
    QCoreApplication::processEvents();
}
