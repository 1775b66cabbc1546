#include "capture/capture_ui.h"

#include <QLabel>
#include <QPainter>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "capture/capture_gui.h"
#include "capture/panel.h"
#include "platform/qtui/qtui.h"
#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/windows.h"

namespace {

// Where each display line goes: x, y, the cell height of its font, box width (line 3 is never
// used). The rows do not overlap; lines 6 and 7 share the last row side by side.
struct LinePlace {
    int32_t x, y, height, width;
};
constexpr LinePlace kLinePlaces[PanelDisplay::kLines] = {
    {14, 14, 14, 343}, {14, 29, 16, 343}, {14, 29, 14, 343}, {0, 0, 0, 0},
    {14, 46, 14, 343}, {14, 60, 12, 343}, {14, 73, 14, 208}, {228, 73, 14, 129}};
constexpr const char* kPanelFace = "Arial";
// A text too wide for its box is drawn smaller, down to this cell height, before it loses characters.
constexpr int32_t kSmallestTextHeight = 9;
// The caption sits at the strip's left, in bold at the strip's height.
constexpr int32_t kCaptionLeft = 4;
constexpr int32_t kStripHeight = 10;
// The strip left of the picture when a window has no picture frame.
constexpr int32_t kLeftStrip = 70;

}  // namespace

QColor ColorRefColour(uint32_t c) {
    return QColor(static_cast<int>(c & 0xFF), static_cast<int>((c >> 8) & 0xFF),
                  static_cast<int>((c >> 16) & 0xFF));
}

namespace {

QFont PanelFont(int32_t height, bool bold) {
    QFont font = CellHeightFont(kPanelFace, height);
    font.setBold(bold);
    return font;
}

PanelTextLayout FitText(const QRect& box, int32_t height, const std::string& text, bool bold) {
    PanelTextLayout l;
    l.box = box;
    QString s = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    int32_t h = height;
    while (h > kSmallestTextHeight && QFontMetrics(PanelFont(h, bold)).horizontalAdvance(s) > box.width())
        h--;
    const QFontMetrics fm(PanelFont(h, bold));
    while (s.size() > 1 && fm.horizontalAdvance(s) > box.width()) s.chop(1);
    l.fontHeight = h;
    l.shown = s.toStdString();
    l.text = QRect(box.x(), box.y(), fm.horizontalAdvance(s), fm.height());
    return l;
}

void PaintText(QPainter& p, const PanelTextLayout& l, bool bold) {
    const QFont font = PanelFont(l.fontHeight, bold);
    p.setFont(font);
    p.drawText(QPoint(l.text.x(), l.text.y() + QFontMetrics(font).ascent()), QString::fromStdString(l.shown));
}

}  // namespace

const char* const kPanelCaption = "VOZIVEVI'D OZIRI - CAPTURE CONTROL";

QRect PanelDisplayInside() {
    return QRect(13, 13, 345, 75);
}

PanelTextLayout LayoutDisplayLine(int32_t line, const std::string& text) {
    if (line < 0 || line >= PanelDisplay::kLines || kLinePlaces[line].height == 0) return PanelTextLayout{};
    const LinePlace& p = kLinePlaces[line];
    return FitText(QRect(p.x, p.y, p.width, p.height), p.height, text, false);
}

QRect PanelCaptionStrip(int32_t panelWidth, int32_t panelHeight) {
    return QRect(2, panelHeight - 1 - kStripHeight, panelWidth - 4, kStripHeight);
}

PanelTextLayout LayoutPanelCaption(int32_t panelWidth, int32_t panelHeight) {
    const QRect strip = PanelCaptionStrip(panelWidth, panelHeight);
    return FitText(strip.adjusted(kCaptionLeft - strip.x(), 0, 0, 0), kStripHeight, kPanelCaption, true);
}

void PaintPanelCaption(QPainter& painter, int32_t panelWidth, int32_t panelHeight) {
    painter.save();
    painter.setPen(Qt::black);
    PaintText(painter, LayoutPanelCaption(panelWidth, panelHeight), true);
    painter.restore();
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

std::vector<std::pair<int32_t, PanelDisplay::Entry>> PanelDisplay::Shown() {
    std::vector<std::pair<int32_t, Entry>> shown;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (int32_t i = 0; i < kLines; i++)
            if (lines_[static_cast<size_t>(i)].order) shown.emplace_back(i, lines_[static_cast<size_t>(i)]);
    }
    std::sort(shown.begin(), shown.end(),
              [](const auto& a, const auto& b) { return a.second.order < b.second.order; });
    return shown;
}

std::vector<std::pair<int32_t, PanelTextLayout>> PanelDisplay::Layout() {
    std::vector<std::pair<int32_t, PanelTextLayout>> laid;
    for (const auto& [line, e] : Shown()) laid.emplace_back(line, LayoutDisplayLine(line, e.text));
    return laid;
}

std::vector<std::string> PanelDisplay::ShownText() {
    std::vector<std::string> text;
    for (const auto& [line, e] : Shown())
        if (e.text.find_first_not_of(' ') != std::string::npos) text.push_back(e.text);
    return text;
}

void PanelDisplay::PaintLines(QPainter& painter) {
    painter.save();
    for (const auto& [line, e] : Shown()) {
        const PanelTextLayout layout = LayoutDisplayLine(line, e.text);
        painter.fillRect(layout.box, Qt::black);
        painter.setPen(ColorRefColour(e.colour));
        PaintText(painter, layout, false);
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
