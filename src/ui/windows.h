// The window helpers every dialog uses: placement on the screen, repainting a window or one
// control, the wait cursor, a line of text in a face and pixel height, and the row layout.
// Handles carry QWidget* and device contexts QPainter* (platform/qtui/qtui.h).
#pragma once

#include <QFont>
#include <cstdint>

#include "core/wintypes.h"
#include "ui/layout.h"

// The primary screen's rectangle (GetDesktopWindow's); 0, 0, 0, 0 without a screen.
RECT DesktopRect();
// A window's rectangle in screen coordinates, frame included.
RECT WindowRect(HWND window);

void CenterOnDesktop(HWND window);
void PlaceBelow(HWND window, HWND anchor);
void PlaceRightOf(HWND window, HWND anchor);
void PlaceUpperCentre(HWND window);

// Asks for a repaint of the rectangle (client coordinates; null for all); 0 for a null window.
int MyInvalidateRect(HWND window, const RECT* rect, int erase);
int InvalidateControl(HWND dialog, int32_t controlId, int erase);

// Shows the wait cursor over every window until RestoreCursor; a second call while it shows
// changes nothing, so one RestoreCursor always brings the user's cursor back.
void SetWaitCursor();
void RestoreCursor();
bool WaitCursorShown();

// A font of that face whose cell (ascent + descent) is at most height pixels, as a positive
// LOGFONT height asks.
QFont CellHeightFont(const char* face, int32_t height);

// Draws text at (x, y) (its top-left) in the painter's pen colour, on the painter's background
// when its background mode is opaque. With a box width the text loses characters from its end
// until it fits (down to one) and the box is blacked out first. Returns the drawn text's extent
// (height << 16 | width); "MyShowText - error" for a null text.
uint32_t MyShowText(HDC dc, int32_t x, int32_t y, const char* text, const char* face, int32_t height,
                    int32_t boxWidth);

// The row layout's operations on a dialog's controls (found by controlId).
LayoutRecord* LayoutControl(HWND dialog, int32_t controlId, int32_t referenceId, int32_t dx, int32_t dy,
                            int32_t minWidth, int32_t minHeight, uint32_t horizontalFlags,
                            uint32_t verticalFlags);
void ApplyLayout(HWND dialog, int32_t x, int32_t y);
