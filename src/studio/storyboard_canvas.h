// The storyboard window's client area: it paints the grid, the panels, the strip and the band, and
// turns the mouse into selection drags, scroll drags and popups, and the keyboard into a cell with
// the focus that the arrow keys move and select with (Shift extends the selection).
#pragma once

#include <QRegion>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "studio/thumbnails.h"

class StoryboardWindow;

// Where the panels sit in the client area (the grid takes what is left below them).
constexpr int32_t kToolbarLeft = 4;
constexpr int32_t kToolbarTop = 4;
constexpr int32_t kPanelTop = 36;
constexpr int32_t kPanelHeight = 46;
constexpr int32_t kInfoPanelLeft = 4;
constexpr int32_t kInfoPanelWidth = 176;
constexpr int32_t kPanelGap = 6;
constexpr int32_t kShadowLines = 7;
constexpr int32_t kGridTop = kPanelTop + kPanelHeight + kShadowLines + 2;

// "Small Fonts" at 6 points: the face of the cell times and the information panel.
constexpr const char* kSmallFace = "Small Fonts";
constexpr int32_t kSmallPoints = 6;

class StoryboardCanvas : public QWidget {
    Q_OBJECT
  public:
    explicit StoryboardCanvas(StoryboardWindow* window);
    ~StoryboardCanvas() override;

    // Places the two panel frames and the grid for the present size.
    void LayoutPanels();
    // The cell record under a point of the client area, or null.
    CellRecord* CellAt(QPoint p) const;
    // The render's progress (frame from 0), or -1 for none; a growing bar is drawn at once, alone.
    void SetProgress(int32_t frame);
    int32_t progress() const { return progress_; }
    bool dragging() const { return drag_ != Drag::None; }
    // What a change of the selection from (oldStart, oldEnd) to the project's present one redraws:
    // the band and the outlines of the cells that entered or left it (of every cell with all).
    QRegion SelectionRegion(int32_t oldStart, int32_t oldEnd, bool all = false) const;
    // Draws the storyboard onto any painter the size of this widget (the screen, or a picture).
    void Paint(QPainter& p);
    // Draws the parts that meet dirty: cells, panels and strip outside it are left as they are.
    void Paint(QPainter& p, const QRegion& dirty);
    // The frame (from 0) of the cell with the keyboard's focus, or -1.
    int32_t focusFrame() const { return focus_; }
    // The frames of the cells shown, in order, and where a shown frame's cell is (empty when none).
    std::vector<int32_t> ShownFrames() const;
    QRect CellRect(int32_t frame) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    // The wheel scrolls the grid a row of cells per notch.
    void wheelEvent(QWheelEvent* event) override;
    // Arrows, Page Up/Down and Home/End move the focus from cell to cell and select its frame (Shift:
    // from the anchor to it; Ctrl: the selection stays); Space selects the focused frame; Enter, the
    // menu key and Shift+F10 open the popup of the selection (or of the background).
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

  private:
    enum class Drag { None, Selecting, Scrolling };
    void EndDrag();
    // The render's bar when frame (from 0) is being written; empty for -1.
    QRect ProgressRect(int32_t frame) const;
    // What a scroll drag changes: the strip and the first cell with its time.
    QRegion DragRegion() const;
    void DrawCells(QPainter& p, const QRegion& dirty);
    void DrawInfoPanel(QPainter& p);
    void DrawTimeline(QPainter& p);
    void DrawBand(QPainter& p);
    void DrawFrameCell(QPainter& p, int32_t frame);
    // Scrolls the grid by whole rows until frame is shown; the shown cell nearest to it.
    int32_t ScrollTo(int32_t frame);
    void SetFocusFrame(int32_t frame);
    // The pixels of the focused cell's outline (empty when its cell is not shown).
    QRegion FocusOutlineRegion() const;
    // Tells screen readers which cell has the focus.
    void AnnounceFocus();

    StoryboardWindow* window_;
    Drag drag_ = Drag::None;
    int32_t anchor_ = -1;
    int32_t pressX_ = 0;
    int32_t outlineLeft_ = 0;
    bool moved_ = false;
    int32_t previewFrame_ = -1;
    int32_t progress_ = -1;
    int32_t wheelAngle_ = 0;  // eighths of a degree not yet scrolled (fine-grained wheels)
    int32_t focus_ = -1;
    int32_t keyAnchor_ = -1;      // where a Shift selection from the keyboard starts
    bool keyboardFocus_ = false;  // the focused cell is outlined
};

// The storyboard's accessible interface (the canvas, its cells, timeline and information panel).
void InstallStoryboardAccessibility();
// Lets screen readers go of the canvas's cells before it goes.
void ForgetStoryboardAccessibility(StoryboardCanvas* canvas);
// The interface of a shown cell, made on first use (null when the frame has no cell shown).
class QAccessibleInterface;
QAccessibleInterface* StoryboardCellInterface(StoryboardCanvas* canvas, int32_t frame);

// MyShowTextPoints: text at (x, y) in the face at that point size, cut to the box (0: no box) whose
// background takes the painter's brush; returns the last measured extent (height << 16 | width).
uint32_t MyShowTextPoints(QPainter* p, int32_t x, int32_t y, const char* text, const char* face,
                          int32_t points, int32_t boxWidth);
