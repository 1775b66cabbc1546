// The VCR panel: the small always-on-top modal dialog that runs the player and its loops, painted
// from the VCR00 artwork (transport buttons, display, slider, jog dial and shuttle ring).
#pragma once

#include <QDialog>
#include <QPointer>
#include <map>
#include <vector>

#include "playback/timing.h"
#include "ui/bitmaps.h"

class ControlArea;
class OwnerDrawButton;
class PlayWindow;

constexpr int32_t kVcrPanelTimerMs = 200;

class VcrPanel : public QDialog {
    Q_OBJECT
  public:
    // Opens the player on the play window's picture.
    VcrPanel(QWidget* parent, PlayWindow* playWindow);
    ~VcrPanel() override;

    // One command of the panel's buttons (or one posted by a loop).
    void Command(int32_t id, bool shift = false, bool ctrl = false);
    // The editor keys: Space, J/K/L, Left/Right (x10 with Shift), Home/End, I/O, Escape.
    void Key(int32_t key, bool shift);
    int32_t state() const { return state_; }
    OwnerDrawButton* button(int32_t id) const;
    // The display's state word as it reads now.
    QString stateWord() const;
    // Everything the display shows: state word, time code and information line.
    QString displayText() const;
    void SetState(int32_t state);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Show(int32_t position);
    void UpdateDisplay();
    void PaintDisplay(QPainter& p);
    void Close();
    void SetShuttle(int32_t index, int32_t degrees);
    void MoveMarker(int32_t& angle, int32_t degrees, bool jog);
    void MakeControlAreas();

    QPointer<PlayWindow> playWindow_;
    BitmapRecord* art_ = nullptr;
    ButtonRecord* buttons_ = nullptr;
    std::map<int32_t, OwnerDrawButton*> controls_;
    std::vector<ControlArea*> areas_;  // display, slider, jog dial, shuttle ring
    int32_t state_ = 0;
    bool opened_ = false;
    enum class Drag { None, Move, Shuttle, Jog, Slider } drag_ = Drag::None;
    QPoint moveOffset_;
    JogTracker jog_;
    int32_t shuttleAngle_ = 0;
    int timer_ = 0;
};
