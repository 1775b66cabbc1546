// Owner-drawn bitmap buttons as widgets: a push button that hands its painting to its owner in a
// DRAWITEMSTRUCT, the drawing of a bitmap button's state image, and StretchDIBits over a bitmap
// record (source rows counted from the bottom, as that call counts them).
#pragma once

#include <QAbstractButton>
#include <QImage>
#include <functional>

#include "ui/bitmaps.h"

constexpr uint32_t WM_DRAWITEM = 0x002B;

class OwnerDrawButton : public QAbstractButton {
    Q_OBJECT
  public:
    // Returns true when it drew the button; false lets the button draw itself plainly.
    using DrawFunction = std::function<bool(DRAWITEMSTRUCT&)>;
    OwnerDrawButton(int32_t controlId, QWidget* parent = nullptr);
    void setDrawFunction(DrawFunction draw) { draw_ = std::move(draw); }
    int32_t controlId() const;
    // The item state the next paint reports (ODS_SELECTED, ODS_DISABLED, ODS_FOCUS).
    uint32_t itemState() const;
    QSize sizeHint() const override;

  protected:
    // Drawn with a dotted outline while it has the focus.
    void paintEvent(QPaintEvent* event) override;
    // Enter and Return press the button, as Space does.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    DrawFunction draw_;
};

// Draws from a panel's button list, read at every paint (the list head changes as buttons are added).
OwnerDrawButton::DrawFunction BitmapButtonDrawer(HWND dialog, ButtonRecord* const* list);

// Draws the button's state image onto the item's rectangle (and its caption); 1 when handled,
// 0 when the list has no button of that id.
int DrawBitmapButton(ButtonRecord* list, HWND dialog, uint32_t message, int32_t controlId,
                     DRAWITEMSTRUCT* item);

// The bitmap as a picture (made once per bitmap and kept).
const QImage& BitmapRecordImage(const BitmapRecord* bitmap);
// StretchDIBits with SRCCOPY: the source rectangle (sx, sy counted from the bitmap's bottom row,
// sw x sh) onto the destination rectangle. 0 when nothing could be drawn.
int StretchBitmapRecord(HDC dc, int32_t dx, int32_t dy, int32_t dw, int32_t dh, const BitmapRecord* bitmap,
                        int32_t sx, int32_t sy, int32_t sw, int32_t sh);
