#include "capture/capture_ui.h"

#include <QLabel>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "capture/capture_gui.h"
#include "capture/panel.h"
#include "core/settings.h"
#include "platform/qtui/qtui.h"
#include "ui/controls.h"
#include "ui/windows.h"

namespace {

// Where each display line goes: x, y, font height, box width (line 3 is never used).
struct LinePlace {
    int32_t x, y, height, width;
};
constexpr LinePlace kLinePlaces[PanelDisplay::kLines] = {
    {14, 14, 14, 344}, {14, 25, 16, 344}, {14, 25, 14, 344}, {0, 0, 0, 0},
    {14, 51, 14, 344}, {14, 64, 12, 340}, {14, 74, 14, 224}, {240, 74, 14, 110}};
// The strip left of the picture when a window has no picture frame.
constexpr int32_t kLeftStrip = 70;

}  // namespace

QColor ColorRefColour(uint32_t c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

void PanelDisplay::SetLine(int32_t line, const std::string& text, uint32_t colour) {
    if (line < 0 || line >= kLines || kLinePlaces[line].height == 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    Entry& e = lines_[static_cast<size_t>(line)];
    if (e.order != 0 && e.text == text && e.colour == colour) return;
    e.text = text;
    e.colour = colour;
    e.order = ++shown_;
    changed_ = true;
}

void PanelDisplay::SetLevels(int32_t left, int32_t right) {
    if (left_.exchange(left) != left) changed_ = true;
    if (right_.exchange(right) != right) changed_ = true;
}

std::string PanelDisplay::Line(int32_t line) {
    std::lock_guard<std::mutex> lock(mutex_);
    return line >= 0 && line < kLines ? lines_[static_cast<size_t>(line)].text : std::string();
}

void PanelDisplay::PaintLines(QPainter& painter) {
    std::vector<std::pair<uint64_t, int32_t>> order;
    std::array<Entry, kLines> lines;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lines = lines_;
    }
    for (int32_t i = 0; i < kLines; i++)
        if (lines[static_cast<size_t>(i)].order) order.emplace_back(lines[static_cast<size_t>(i)].order, i);
    std::sort(order.begin(), order.end());
    painter.save();
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(Qt::black);
    for (const auto& [_, i] : order) {
        const Entry& e = lines[static_cast<size_t>(i)];
        const LinePlace& p = kLinePlaces[i];
        painter.setPen(ColorRefColour(e.colour));
        MyShowText(HDCFromPainter(&painter), p.x, p.y, e.text.c_str(), "Arial", p.height, p.width);
    }
    painter.restore();
}

void PanelDisplay::PaintMeter(QPainter& painter) {
    const int32_t levels[2] = {left_, right_};
    for (int32_t side = 0; side < 2; side++) {
        const int32_t lit = LitSegments(levels[side]);
        for (int32_t i = 0; i < kLevelSegments; i++)
            painter.fillRect(SegmentX(side == 0, i), kLevelMeterY, kLevelSegmentWidth, kLevelSegmentHeight,
                             ColorRefColour(SegmentColour(i, i < lit)));
    }
}

void WidgetCaptureUi::ShowLine(HWND, int32_t line, const std::string& text, uint32_t colour) {
    display_->SetLine(line, text, colour);
}

void WidgetCaptureUi::ShowLevels(int32_t left, int32_t right) {
    display_->SetLevels(left, right);
}

void WidgetCaptureUi::SetItemText(HWND dialog, int32_t id, const std::string& text) {
    QWidget* d = LiveWidget(dialog);
    if (auto* label = d ? qobject_cast<QLabel*>(FindControl(d, id)) : nullptr)
        label->setText(QString::fromStdString(text));
}

void WidgetCaptureUi::EnableItem(HWND dialog, int32_t id, bool enable) {
    QWidget* d = LiveWidget(dialog);
    if (QWidget* c = d ? FindControl(d, id) : nullptr) c->setEnabled(enable);
}

bool WidgetCaptureUi::PictureBox(HWND window, RECT& box) {
    QWidget* w = LiveWidget(window);
    if (!w) return false;
    if (QWidget* frame = FindControl(w, kPictureFrameId)) {
        box = RECT{frame->x(), frame->y(), frame->x() + frame->width(), frame->y() + frame->height()};
    } else {
        box = RECT{kLeftStrip, 0, w->width(), w->height()};
    }
    return true;
}

void WidgetCaptureUi::Repaint(HWND window) {
    if (QWidget* w = LiveWidget(window)) w->update();
}

bool WidgetCaptureUi::CaptureFileDialog(HWND owner) {
    ::CaptureFileDialog(owner, gSettings.CapFile);
    return true;
}
