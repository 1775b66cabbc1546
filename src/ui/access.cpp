#include "ui/access.h"

#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QFocusEvent>
#include <QPainter>

#include "ui/controls.h"

namespace {

class AccessibleArea : public QAccessibleWidget, public QAccessibleValueInterface {
  public:
    explicit AccessibleArea(ControlArea* area) : QAccessibleWidget(area, area->role()) {}
    ControlArea* area() const { return static_cast<ControlArea*>(widget()); }

    QString text(QAccessible::Text t) const override {
        switch (t) {
            case QAccessible::Name:
                return area()->accessibleName();
            case QAccessible::Description:
                return area()->text().isEmpty() ? area()->accessibleDescription() : area()->text();
            case QAccessible::Value:
                if (const ControlArea::Range* r = area()->range()) return QString::number(r->value());
                return area()->text();
            default:
                return QAccessibleWidget::text(t);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        const ControlArea::Range* r = area()->range();
        s.readOnly = !r || !r->set;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface && area()->range())
            return static_cast<QAccessibleValueInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QVariant currentValue() const override { return Read(&ControlArea::Range::value); }
    QVariant maximumValue() const override { return Read(&ControlArea::Range::maximum); }
    QVariant minimumValue() const override { return Read(&ControlArea::Range::minimum); }
    QVariant minimumStepSize() const override { return 1; }
    void setCurrentValue(const QVariant& value) override {
        const ControlArea::Range* r = area()->range();
        if (r && r->set) r->set(value.toInt());
    }

  private:
    QVariant Read(std::function<int32_t()> ControlArea::Range::*part) const {
        const ControlArea::Range* r = area()->range();
        return r && (r->*part) ? QVariant((r->*part)()) : QVariant();
    }
};

QAccessibleInterface* AreaFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("ControlArea"))
        if (auto* area = qobject_cast<ControlArea*>(object)) return new AccessibleArea(area);
    return nullptr;
}

}  // namespace

ControlArea::ControlArea(QWidget* window, const QRect& place, QAccessible::Role role, const QString& name)
    : QWidget(window), role_(role) {
    static const bool installed = (QAccessible::installFactory(AreaFactory), true);
    (void)installed;
    setGeometry(place);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::TabFocus);
    setAccessibleName(name);
}

void ControlArea::Refresh() {
    if (const Range* r = range()) {
        const int32_t value = r->value();
        if (value == heardValue_) return;
        heardValue_ = value;
        QAccessibleValueChangeEvent event(this, value);
        QAccessible::updateAccessibility(&event);
    } else if (text_) {
        const QString now = text_();
        if (now == heardText_) return;
        heardText_ = now;
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void ControlArea::focusInEvent(QFocusEvent* event) {
    if (event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason)
        keyboardFocus_ = true;
    else if (event->reason() == Qt::MouseFocusReason || event->reason() == Qt::OtherFocusReason)
        keyboardFocus_ = false;
    QWidget::focusInEvent(event);
}

void ControlArea::paintEvent(QPaintEvent*) {
    if (!hasFocus() || !keyboardFocus_) return;
    QPainter p(this);
    DrawFocusOutline(p, rect());
}

void DrawFocusOutline(QPainter& p, const QRect& r) {
    p.save();
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.setPen(QPen(Qt::white, 1, Qt::DotLine));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(0, 0, -1, -1));
    p.restore();
}

void NameControlsAfterTooltips(QWidget* dialog, const TooltipEntry* table) {
    if (!dialog) return;
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        const char* tip = LookupTooltip(table, GetDlgCtrlID(w));
        if (!tip || !w->accessibleName().isEmpty()) continue;
        const QStringList lines = QString::fromUtf8(tip).split('\n', Qt::SkipEmptyParts);
        if (lines.isEmpty()) continue;
        w->setAccessibleName(lines.front());
        w->setAccessibleDescription(lines.mid(1).join(' '));
    }
}
