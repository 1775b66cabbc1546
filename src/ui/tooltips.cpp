#include "ui/tooltips.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>

#include "platform/qtui/qtui.h"
#include "settings/settings.h"
#include "ui/access.h"
#include "ui/controls.h"
#include "ui/placement.h"

namespace {

constexpr int kTooltipPeriodMs = 2000;
constexpr QRgb kTooltipFill = qRgb(0xFF, 0xFF, 0xB7);  // COLORREF 0xB7FFFF

int32_t DotsPerInchY(QWidget* w) {
    QScreen* screen = w ? w->screen() : QGuiApplication::primaryScreen();
    return screen ? static_cast<int32_t>(screen->logicalDotsPerInchY() + 0.5) : 96;
}

QFont TooltipFont(QWidget* w, const char* face, int32_t points) {
    QFont font(QString::fromUtf8(face ? face : ""));
    font.setPixelSize(std::clamp(MulDiv(points, DotsPerInchY(w), 72), 1, 1000));
    return font;
}

class TooltipPopup;

struct TooltipState {
    QPointer<TooltipPopup> popup;
    TooltipMemory memory;
    HWND activeWindow = nullptr;
    const char* text = nullptr;
    TooltipLines lines;
    int32_t cursorX = 0, cursorY = 0;
    int32_t lineHeight = 0;
    uint32_t size = 0;
    bool allowed = true;
    std::function<bool()> shiftQuery;
};

TooltipState& State() {
    static TooltipState state;
    return state;
}

bool ShiftHeld() {
    if (State().shiftQuery) return State().shiftQuery();
    return QGuiApplication::queryKeyboardModifiers() & Qt::ShiftModifier;
}

class TooltipPopup : public QWidget {
  public:
    TooltipPopup(QWidget* owner, const QFont& font)
        : QWidget(owner, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus), font_(font) {
        setAttribute(Qt::WA_ShowWithoutActivating);
        setFocusPolicy(Qt::NoFocus);
        setMouseTracking(true);
        setObjectName("tooltip");
        timer_ = new QTimer(this);
        timer_->setInterval(kTooltipPeriodMs);
        timer_->setSingleShot(false);
        QObject::connect(timer_, &QTimer::timeout, [] { TooltipTimerTick(); });
    }

    void Open() {
        const TooltipState& s = State();
        RECT r = TooltipPopupRect(s.cursorX, s.cursorY, s.size, s.size != 0, gSettings.gDesktopWidth,
                                  gSettings.gDesktopHeight);
        setGeometry(r.left, r.top, r.right - r.left, r.bottom - r.top);
        show();
        timer_->start();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), Qt::black);
        p.fillRect(rect().adjusted(1, 1, -1, -1), QColor(kTooltipFill));
        p.setFont(font_);
        p.setPen(Qt::black);
        p.setBackgroundMode(Qt::TransparentMode);
        const TooltipState& s = State();
        QFontMetrics fm(font_);
        for (int32_t i = 0; s.text && i < s.lines.count; i++) {
            QString line = QString::fromUtf8(s.text + s.lines.starts[i], s.lines.ends[i] - s.lines.starts[i]);
            p.drawText(QPoint(2, i * s.lineHeight + fm.ascent()), line);
        }
    }
    // The pointer over the popup itself closes it.
    void enterEvent(QEnterEvent*) override {
        QTimer::singleShot(0, [] { CloseTooltip(); });
    }
    void mouseMoveEvent(QMouseEvent*) override {
        QTimer::singleShot(0, [] { CloseTooltip(); });
    }

  private:
    QFont font_;
    QTimer* timer_ = nullptr;
};

// Turns pointer moves over a dialog and its controls into ShowTooltip calls.
class TooltipWatcher : public QObject {
  public:
    TooltipWatcher(QWidget* dialog, const TooltipEntry* table)
        : QObject(dialog), dialog_(dialog), table_(table) {
        Watch(dialog);
        for (QWidget* w : dialog->findChildren<QWidget*>()) Watch(w);
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::ChildAdded) {
            auto* child = static_cast<QChildEvent*>(event)->child();
            if (child->isWidgetType()) Watch(static_cast<QWidget*>(child));
        } else if (event->type() == QEvent::MouseMove || event->type() == QEvent::Enter) {
            QPoint global = QCursor::pos();
            if (event->type() == QEvent::MouseMove)
                global = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
            QPoint local = dialog_->mapFromGlobal(global);
            QWidget* under = dialog_->childAt(local);
            QWidget* control = ControlOf(dialog_, under ? under : dialog_);
            ShowTooltip(HWNDFromWidget(dialog_), HWNDFromWidget(control), table_, local.x(), local.y());
        }
        return QObject::eventFilter(watched, event);
    }

  private:
    void Watch(QWidget* w) {
        w->setMouseTracking(true);
        w->installEventFilter(this);
    }
    QWidget* dialog_;
    const TooltipEntry* table_;
};

}  // namespace

uint32_t MeasureTooltipLine(HWND window, const char* text, int32_t length, const char* face, int32_t points) {
    QFontMetrics fm(TooltipFont(LiveWidget(window), face, points));
    QString s = text ? QString::fromUtf8(text, std::max(length, 0)) : QString();
    uint32_t width = static_cast<uint32_t>(std::clamp(fm.horizontalAdvance(s), 0, 0xFFFF));
    uint32_t height = static_cast<uint32_t>(std::clamp(fm.height(), 0, 0xFFFF));
    return (height << 16) | width;
}

void ShowTooltip(HWND dialog, HWND control, const TooltipEntry* table, int32_t x, int32_t y) {
    TooltipState& s = State();
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return;
    QWidget* active = QApplication::activeWindow();
    s.activeWindow = HWNDFromWidget(active);
    TooltipDecision d = DecideTooltip(s.memory, !s.popup.isNull(), s.allowed && gSettings.useToolTips != 0,
                                      dialog, control, GetDlgCtrlID(control), table);
    if (d.closeShown) CloseTooltip();
    if (!d.text) return;
    QWidget* dlg = LiveWidget(dialog);
    QPoint global = dlg ? dlg->mapToGlobal(QPoint(x, y)) : QPoint(x, y);
    s.cursorX = global.x();
    s.cursorY = global.y();
    s.text = d.text;
    SplitTooltipLines(s.text, s.lines);
    const char* face = gSettings.fontnameToolTips;
    int32_t points = gSettings.fontsizeToolTips;
    s.size = TooltipTextSize(
        s.text, s.lines,
        [&](const char* line, int32_t length) {
            return MeasureTooltipLine(dialog, line, length, face, points);
        },
        &s.lineHeight);
    QWidget* owner = LiveWidget(s.activeWindow);
    if (!owner && dlg) owner = dlg->window();
    s.popup = new TooltipPopup(owner, TooltipFont(dlg, face, points));
    s.popup->Open();
    if (QWidget* again = LiveWidget(s.activeWindow)) again->activateWindow();
}

void CloseTooltip() {
    TooltipState& s = State();
    if (s.popup) {
        s.popup->hide();
        s.popup->deleteLater();
    }
    s.popup = nullptr;
}

void SetTooltipsAllowed(bool allowed) {
    State().allowed = allowed;
}

bool TooltipsAllowed() {
    return State().allowed;
}

void InstallTooltipTable(QWidget* dialog, const TooltipEntry* table) {
    if (!dialog) return;
    new TooltipWatcher(dialog, table);
    NameControlsAfterTooltips(dialog, table);
}

HWND TooltipWindow() {
    return HWNDFromWidget(State().popup.data());
}

void TooltipTimerTick() {
    if (!ShiftHeld()) CloseTooltip();
}

void SetShiftKeyQuery(std::function<bool()> query) {
    State().shiftQuery = std::move(query);
}

void ResetTooltipMemory() {
    State().memory = TooltipMemory{};
}
