// The capture code's windows as CaptureUi sees them: the panel's display lines and level meter,
// kept so that the capture thread can hand them over and the panel paints them, and the dialogs'
// controls by id.
#pragma once

#include <QColor>
#include <QRect>
#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "capture/session.h"

class QPainter;

// Where a text goes on the panel: the box cleared before it is drawn, the cell height of the font it
// is drawn at (its own, or smaller until the text fits the box), what is drawn (the text, cut only
// when even the smallest font is too wide) and the rectangle the drawn text covers.
struct PanelTextLayout {
    QRect box;
    int32_t fontHeight = 0;
    std::string shown;
    QRect text;
};
// The inside of the display, within its sunken bevels: every line's box lies in it.
QRect PanelDisplayInside();
// A display line's layout for a text; lines 1 and 2 share a place (the final line replaces the
// running one), every other line has a place of its own. An empty layout for a line that has none.
PanelTextLayout LayoutDisplayLine(int32_t line, const std::string& text);
// The panel's name on the grey strip along its foot, and the strip.
extern const char* const kPanelCaption;
QRect PanelCaptionStrip(int32_t panelWidth, int32_t panelHeight);
PanelTextLayout LayoutPanelCaption(int32_t panelWidth, int32_t panelHeight);
void PaintPanelCaption(QPainter& painter, int32_t panelWidth, int32_t panelHeight);

// What the panel's display shows; written from any thread, painted on the user-interface thread.
class PanelDisplay {
  public:
    static constexpr int32_t kLines = 8;
    void SetLine(int32_t line, const std::string& text, uint32_t colour);
    void SetLevels(int32_t left, int32_t right);
    // True once after anything changed.
    bool TakeChanged() { return changed_.exchange(false); }
    // The lines in the order they were shown (a later line covers an earlier one), and the meter.
    void PaintLines(QPainter& painter);
    void PaintMeter(QPainter& painter);
    std::string Line(int32_t line);
    // The meter's levels in percent (0 left, 1 right), and the lines shown, in the order shown.
    int32_t Level(int32_t side) const { return side == 0 ? left_.load() : right_.load(); }
    std::vector<std::string> ShownText();
    // The lines shown so far (never-shown lines left out), each laid out as it is painted.
    std::vector<std::pair<int32_t, PanelTextLayout>> Layout();

  private:
    struct Entry {
        std::string text;
        uint32_t colour = 0;
        uint64_t order = 0;  // 0: never shown
    };
    // The lines shown so far with what they show, in the order they were shown.
    std::vector<std::pair<int32_t, Entry>> Shown();
    std::mutex mutex_;
    std::array<Entry, kLines> lines_;
    uint64_t shown_ = 0;
    std::atomic<int32_t> left_{0};
    std::atomic<int32_t> right_{0};
    std::atomic<bool> changed_{false};
};

// The open capture panel's display, or null (tests).
PanelDisplay* OpenPanelDisplay();

// The desktop program's CaptureUi: display lines and levels into the panel's display, dialog
// texts and states into the controls of that id.
class WidgetCaptureUi : public CaptureUi {
  public:
    explicit WidgetCaptureUi(PanelDisplay* display) : display_(display) {}
    void ShowLine(HWND window, int32_t line, const std::string& text, uint32_t colour) override;
    void ShowLevels(int32_t left, int32_t right) override;
    void SetItemText(HWND dialog, int32_t id, const std::string& text) override;
    void EnableItem(HWND dialog, int32_t id, bool enable) override;
    bool PictureBox(HWND window, RECT& box) override;
    void Repaint(HWND window) override;
    bool CaptureFileDialog(HWND owner) override;

  private:
    PanelDisplay* display_;
};

// A COLORREF (0x00BBGGRR) as a colour.
QColor ColorRefColour(uint32_t colour);
