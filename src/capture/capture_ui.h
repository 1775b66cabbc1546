// The capture code's windows as CaptureUi sees them: the panel's display lines and level meter,
// kept so that the capture thread can hand them over and the panel paints them, and the dialogs'
// controls by id.
#pragma once

#include <QColor>
#include <array>
#include <atomic>
#include <mutex>
#include <string>

#include "capture/session.h"

class QPainter;

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

  private:
    struct Entry {
        std::string text;
        uint32_t colour = 0;
        uint64_t order = 0;  // 0: never shown
    };
    std::mutex mutex_;
    std::array<Entry, kLines> lines_;
    uint64_t shown_ = 0;
    std::atomic<int32_t> left_{0};
    std::atomic<int32_t> right_{0};
    std::atomic<bool> changed_{false};
};

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
