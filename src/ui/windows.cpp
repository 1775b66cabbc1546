#include "ui/windows.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <algorithm>

#include "core/diag.h"
#include "platform/qtui/qtui.h"
#include "ui/controls.h"
#include "ui/placement.h"

namespace {

constexpr int32_t kMaxFontHeight = 1000;

bool gWaitCursor = false;

RECT FromQRect(const QRect& r) {
    return RECT{r.x(), r.y(), r.x() + r.width(), r.y() + r.height()};
}

void MoveWindowTo(QWidget* w, const RECT& r) {
    if (w->isWindow())
        w->move(r.left, r.top);
    else
        w->move(w->parentWidget()->mapFromGlobal(QPoint(r.left, r.top)));
    w->update();
}

}  // namespace

RECT DesktopRect() {
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return RECT{0, 0, 0, 0};
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? FromQRect(screen->geometry()) : RECT{0, 0, 0, 0};
}

RECT WindowRect(HWND window) {
    QWidget* w = LiveWidget(window);
    if (!w) return RECT{0, 0, 0, 0};
    if (w->isWindow()) return FromQRect(w->frameGeometry());
    QPoint topLeft = w->mapToGlobal(QPoint(0, 0));
    return RECT{topLeft.x(), topLeft.y(), topLeft.x() + w->width(), topLeft.y() + w->height()};
}

void CenterOnDesktop(HWND window) {
    if (QWidget* w = LiveWidget(window))
        MoveWindowTo(w, CenteredOnDesktop(WindowRect(window), DesktopRect()));
}

void PlaceBelow(HWND window, HWND anchor) {
    QWidget* w = LiveWidget(window);
    QWidget* a = LiveWidget(anchor);
    if (!w || !a) return;
    RECT wr = WindowRect(window), ar = WindowRect(anchor);
    RECT anchorBefore = ar;
    PlacedBelow(wr, ar, DesktopRect());
    if (ar.top != anchorBefore.top) MoveWindowTo(a, ar);
    MoveWindowTo(w, wr);
}

void PlaceRightOf(HWND window, HWND anchor) {
    QWidget* w = LiveWidget(window);
    if (!w || !LiveWidget(anchor)) return;
    MoveWindowTo(w, PlacedRightOf(WindowRect(window), WindowRect(anchor), DesktopRect()));
}

void PlaceUpperCentre(HWND window) {
    if (QWidget* w = LiveWidget(window))
        MoveWindowTo(w, PlacedUpperCentre(WindowRect(window), DesktopRect()));
}

int MyInvalidateRect(HWND window, const RECT* rect, int) {
    if (!window) {
        DebugLog("MyInvalidateRect: hDlg=NULL");
        return 0;
    }
    QWidget* w = LiveWidget(window);
    if (!w) return 0;
    if (rect)
        w->update(QRect(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top));
    else
        w->update();
    return 1;
}

int InvalidateControl(HWND dialog, int32_t controlId, int erase) {
    QWidget* d = LiveWidget(dialog);
    QWidget* control = d ? FindControl(d, controlId) : nullptr;
    if (!control) return 0;
    control->update();
    QRect g(control->mapTo(d, QPoint(0, 0)), control->size());
    RECT r = FromQRect(g);
    return MyInvalidateRect(dialog, &r, erase);
}

void SetWaitCursor() {
    if (gWaitCursor || !qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    gWaitCursor = true;
}

void RestoreCursor() {
    if (!gWaitCursor) return;
    QGuiApplication::restoreOverrideCursor();
    gWaitCursor = false;
}

bool WaitCursorShown() {
    return gWaitCursor;
}

QFont CellHeightFont(const char* face, int32_t height) {
    QFont font(QString::fromUtf8(face ? face : ""));
    int32_t px = std::clamp(height, 1, kMaxFontHeight);
    font.setPixelSize(px);
    while (px > 1 && QFontMetrics(font).height() > height) font.setPixelSize(--px);
    return font;
}

uint32_t MyShowText(HDC dc, int32_t x, int32_t y, const char* text, const char* face, int32_t height,
                    int32_t boxWidth) {
    if (!text) {
        NotifyBox("MyShowText - error");
        return 0;
    }
    QPainter* p = PainterFromHDC(dc);
    if (!p || !p->isActive()) return 0;
    QFont saved = p->font();
    QFont font = CellHeightFont(face, height);
    p->setFont(font);
    QFontMetrics fm(font);
    QString s = QString::fromUtf8(text, Mystrlen(text));
    int width = fm.horizontalAdvance(s);
    int textHeight = fm.height();
    if (boxWidth > 0) {
        while (width > boxWidth && s.size() > 1) {
            s.chop(1);
            width = fm.horizontalAdvance(s);
        }
        p->fillRect(QRect(x, y, boxWidth, textHeight), Qt::black);
    }
    if (p->backgroundMode() == Qt::OpaqueMode) p->fillRect(QRect(x, y, width, textHeight), p->background());
    p->drawText(QPoint(x, y + fm.ascent()), s);
    p->setFont(saved);
    return (static_cast<uint32_t>(std::min(textHeight, 0xFFFF)) << 16) |
           static_cast<uint32_t>(std::min(width, 0xFFFF));
}

LayoutRecord* LayoutControl(HWND dialog, int32_t controlId, int32_t referenceId, int32_t dx, int32_t dy,
                            int32_t minWidth, int32_t minHeight, uint32_t horizontalFlags,
                            uint32_t verticalFlags) {
    QWidget* d = LiveWidget(dialog);
    QWidget* control = d ? FindControl(d, controlId) : nullptr;
    if (!control) {
        DebugLog("LayoutControl: no control %ld", static_cast<long>(controlId));
        return nullptr;
    }
    QRect g(control->mapTo(d, QPoint(0, 0)), control->size());
    return AddLayoutRecord(controlId, FromQRect(g), referenceId, dx, dy, minWidth, minHeight, horizontalFlags,
                           verticalFlags);
}

void ApplyLayout(HWND dialog, int32_t x, int32_t y) {
    QWidget* d = LiveWidget(dialog);
    if (!d) return;
    for (const LayoutRecord* r = CurrentLayout(); r; r = r->next) {
        QWidget* control = FindControl(d, r->controlId);
        if (!control) continue;
        RECT t = LayoutTarget(*r, x, y);
        QPoint topLeft(t.left, t.top);
        if (control->parentWidget() && control->parentWidget() != d)
            topLeft = control->parentWidget()->mapFrom(d, topLeft);
        control->setGeometry(QRect(topLeft, QSize(std::max(0, r->width), std::max(0, r->height))));
        control->update();
    }
}
