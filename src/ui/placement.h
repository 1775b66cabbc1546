// Window placement arithmetic on screen rectangles: centring, placing under, beside or above the
// middle of the desktop, and keeping a tooltip popup inside the screen. The desktop rectangle is
// the screen's; the functions work for a screen that does not start at 0, 0.
#pragma once

#include <cstdint>

#include "core/wintypes.h"

inline int32_t RectWidth(const RECT& r) {
    return r.right - r.left;
}
inline int32_t RectHeight(const RECT& r) {
    return r.bottom - r.top;
}

// The gap PlaceBelow keeps between a window and the bottom of the desktop.
constexpr int32_t kBottomMargin = 20;

RECT CenteredOnDesktop(const RECT& window, const RECT& desktop);
// Puts window under anchor, centred on it; when it would come closer than kBottomMargin to the
// desktop's bottom, both move up (the anchor's bottom meeting the window's top).
void PlacedBelow(RECT& window, RECT& anchor, const RECT& desktop);
RECT PlacedRightOf(const RECT& window, const RECT& anchor, const RECT& desktop);
// Centred horizontally with its bottom on the desktop's middle line.
RECT PlacedUpperCentre(const RECT& window, const RECT& desktop);

// Where a tooltip popup of the packed size (text height << 16 | text width) goes for a pointer
// at (cursorX, cursorY): 5 right and 15 below it, kept inside desktopWidth x desktopHeight.
// Without a size it is 100 x 20 at that place.
RECT TooltipPopupRect(int32_t cursorX, int32_t cursorY, uint32_t size, bool haveSize, int32_t desktopWidth,
                      int32_t desktopHeight);
