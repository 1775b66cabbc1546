// The storyboard's canvas as screen readers see it: a list named "Storyboard" that holds the
// toolbar's buttons, the information panel, the timeline (whose value is the first frame shown) and
// the cells shown, each named with its frame, time and state.
#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QAccessibleWidget>
#include <QPointer>
#include <QStringList>
#include <map>

#include "project/project.h"
#include "settings/settings.h"
#include "studio/storyboard_canvas.h"
#include "studio/storyboard_view.h"

namespace {

enum class Part { Info, Timeline, Cell };

// A part drawn on the canvas; it lives as long as the canvas and knows when its cell is gone.
class PartInterface : public QAccessibleInterface, public QAccessibleValueInterface {
  public:
    PartInterface(StoryboardCanvas* canvas, Part part, int32_t frame)
        : canvas_(canvas), part_(part), frame_(frame) {}

    bool isValid() const override {
        return canvas_ && (part_ != Part::Cell || frame_ < gProject.totalFrames);
    }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return canvas_ ? canvas_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override {
        return QAccessible::queryAccessibleInterface(canvas_.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text t) const override {
        if (!isValid()) return {};
        switch (part_) {
            case Part::Info: {
                if (t == QAccessible::Name) return "Information";
                if (t != QAccessible::Description && t != QAccessible::Value) return {};
                QStringList lines;
                for (const std::string& line : InfoPanelLines()) lines << QString::fromStdString(line);
                return lines.join(", ");
            }
            case Part::Timeline:
                if (t == QAccessible::Name) return "Timeline";
                if (t == QAccessible::Value) return QString::number(FirstFrame());
                return {};
            case Part::Cell:
                return t == QAccessible::Name ? QString::fromStdString(CellDescription(frame_)) : QString();
        }
        return {};
    }
    QRect rect() const override {
        if (!canvas_) return {};
        QRect r;
        if (part_ == Part::Cell) {
            r = canvas_->CellRect(frame_);
        } else {
            const RECT& s = gView.stripRect;
            r = part_ == Part::Timeline ? QRect(s.left, s.top, s.right - s.left, s.bottom - s.top)
                                        : QRect(4, s.top, s.left - 10, s.bottom - s.top);
        }
        return r.isEmpty() ? QRect() : QRect(canvas_->mapToGlobal(r.topLeft()), r.size());
    }
    QAccessible::Role role() const override {
        switch (part_) {
            case Part::Info:
                return QAccessible::StaticText;
            case Part::Timeline:
                return QAccessible::ScrollBar;
            case Part::Cell:
                return QAccessible::ListItem;
        }
        return QAccessible::NoRole;
    }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        if (part_ != Part::Cell) {
            s.readOnly = part_ == Part::Info;
            return s;
        }
        const bool shown = !canvas_->CellRect(frame_).isEmpty();
        s.invisible = s.offscreen = !shown;
        s.focusable = s.selectable = true;
        s.focused = shown && canvas_->hasFocus() && canvas_->focusFrame() == frame_;
        s.selected = gProject.selStart >= 0 && frame_ >= gProject.selStart && frame_ <= gProject.selEnd;
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface && part_ == Part::Timeline)
            return static_cast<QAccessibleValueInterface*>(this);
        return nullptr;
    }

    // The timeline's value: the first frame shown, counted from 1.
    QVariant currentValue() const override { return FirstFrame(); }
    QVariant maximumValue() const override { return std::max(gProject.totalFrames, 1); }
    QVariant minimumValue() const override { return 1; }
    QVariant minimumStepSize() const override { return 1; }
    void setCurrentValue(const QVariant& value) override {
        if (!canvas_ || gProject.frameRate <= 0) return;
        const int32_t frame = std::clamp(value.toInt(), 1, std::max(gProject.totalFrames, 1)) - 1;
        const int32_t span = ShownSpanMs(gView.visibleCells, gView.step, gProject.frameRate);
        gView.position = ClampedPosition(PositionOfFrame(frame, gProject.frameRate), span, gProject.duration);
        canvas_->update();
    }

  private:
    int32_t FirstFrame() const { return FirstShownFrame(gProject.frameRate, gView.position) + 1; }

    QPointer<StoryboardCanvas> canvas_;
    Part part_;
    int32_t frame_;
};

// The parts made for each canvas, registered with Qt (which owns them) by their ids.
struct Parts {
    QAccessible::Id info = 0, timeline = 0;
    std::map<int32_t, QAccessible::Id> cells;
};
std::map<const StoryboardCanvas*, Parts> gParts;
// Cells made for frames no longer shown are let go once there are more than this.
constexpr size_t kMaxCellInterfaces = 512;

QAccessibleInterface* PartOf(QAccessible::Id& id, StoryboardCanvas* canvas, Part part, int32_t frame) {
    if (!id) id = QAccessible::registerAccessibleInterface(new PartInterface(canvas, part, frame));
    return QAccessible::accessibleInterface(id);
}

class CanvasInterface : public QAccessibleWidget {
  public:
    explicit CanvasInterface(StoryboardCanvas* canvas) : QAccessibleWidget(canvas, QAccessible::List) {}
    StoryboardCanvas* canvas() const { return static_cast<StoryboardCanvas*>(widget()); }

    int childCount() const override {
        return QAccessibleWidget::childCount() + 2 + static_cast<int>(canvas()->ShownFrames().size());
    }
    QAccessibleInterface* child(int index) const override {
        const int widgets = QAccessibleWidget::childCount();
        if (index < widgets) return QAccessibleWidget::child(index);
        Parts& parts = gParts[canvas()];
        if (index == widgets) return PartOf(parts.info, canvas(), Part::Info, -1);
        if (index == widgets + 1) return PartOf(parts.timeline, canvas(), Part::Timeline, -1);
        const std::vector<int32_t> shown = canvas()->ShownFrames();
        const size_t cell = static_cast<size_t>(index - widgets - 2);
        return cell < shown.size() ? StoryboardCellInterface(canvas(), shown[cell]) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        const int widgets = QAccessibleWidget::childCount();
        const QAccessible::Id id = QAccessible::uniqueId(const_cast<QAccessibleInterface*>(child));
        const Parts& parts = gParts[canvas()];
        if (id == parts.info) return widgets;
        if (id == parts.timeline) return widgets + 1;
        const std::vector<int32_t> shown = canvas()->ShownFrames();
        for (size_t i = 0; i < shown.size(); i++) {
            auto it = parts.cells.find(shown[i]);
            if (it != parts.cells.end() && it->second == id) return widgets + 2 + static_cast<int>(i);
        }
        return QAccessibleWidget::indexOfChild(child);
    }
    QAccessibleInterface* focusChild() const override {
        if (!canvas()->hasFocus()) return nullptr;
        return StoryboardCellInterface(canvas(), canvas()->focusFrame());
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        if (QAccessibleInterface* w = QAccessibleWidget::childAt(x, y)) return w;
        const QPoint local = canvas()->mapFromGlobal(QPoint(x, y));
        for (int32_t frame : canvas()->ShownFrames())
            if (canvas()->CellRect(frame).contains(local)) return StoryboardCellInterface(canvas(), frame);
        return nullptr;
    }
};

QAccessibleInterface* CanvasFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("StoryboardCanvas"))
        if (auto* canvas = qobject_cast<StoryboardCanvas*>(object)) return new CanvasInterface(canvas);
    return nullptr;
}

}  // namespace

void InstallStoryboardAccessibility() {
    static const bool installed = (QAccessible::installFactory(CanvasFactory), true);
    (void)installed;
}

QAccessibleInterface* StoryboardCellInterface(StoryboardCanvas* canvas, int32_t frame) {
    if (!canvas || frame < 0 || canvas->CellRect(frame).isEmpty()) return nullptr;
    Parts& parts = gParts[canvas];
    if (parts.cells.size() > kMaxCellInterfaces) {
        for (auto it = parts.cells.begin(); it != parts.cells.end();) {
            if (canvas->CellRect(it->first).isEmpty()) {
                QAccessible::deleteAccessibleInterface(it->second);
                it = parts.cells.erase(it);
            } else {
                ++it;
            }
        }
    }
    return PartOf(parts.cells[frame], canvas, Part::Cell, frame);
}

void ForgetStoryboardAccessibility(StoryboardCanvas* canvas) {
    auto it = gParts.find(canvas);
    if (it == gParts.end()) return;
    for (QAccessible::Id id : {it->second.info, it->second.timeline})
        if (id) QAccessible::deleteAccessibleInterface(id);
    for (const auto& [frame, id] : it->second.cells) QAccessible::deleteAccessibleInterface(id);
    gParts.erase(it);
}
