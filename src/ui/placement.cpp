#include "ui/placement.h"

#include <algorithm>

namespace {

RECT Moved(const RECT& r, int32_t x, int32_t y) {
    return RECT{x, y, x + RectWidth(r), y + RectHeight(r)};
}

}  // namespace

RECT CenteredOnDesktop(const RECT& window, const RECT& desktop) {
    int32_t x = desktop.left + (RectWidth(desktop) - RectWidth(window)) / 2;
    int32_t y = desktop.top + (RectHeight(desktop) - RectHeight(window)) / 2;
    return Moved(window, std::max(x, desktop.left), std::max(y, desktop.top));
}

void PlacedBelow(RECT& window, RECT& anchor, const RECT& desktop) {
    int32_t x = std::max(anchor.left + RectWidth(anchor) / 2 - RectWidth(window) / 2, desktop.left);
    int32_t y = anchor.bottom;
    if (anchor.bottom + RectHeight(window) > desktop.bottom - kBottomMargin) {
        y = std::max(desktop.bottom - RectHeight(window) - kBottomMargin, desktop.top);
        int32_t anchorTop = std::max(y - RectHeight(anchor), desktop.top);
        anchor = Moved(anchor, anchor.left, anchorTop);
    }
    window = Moved(window, x, y);
}

RECT PlacedRightOf(const RECT& window, const RECT& anchor, const RECT& desktop) {
    int32_t x = anchor.right;
    if (x + RectWidth(window) > desktop.right) x = desktop.right - RectWidth(window);
    return Moved(window, std::max(x, desktop.left), anchor.top);
}

RECT PlacedUpperCentre(const RECT& window, const RECT& desktop) {
    int32_t x = desktop.left + (RectWidth(desktop) - RectWidth(window)) / 2;
    int32_t y = desktop.top + RectHeight(desktop) / 2 - RectHeight(window);
    return Moved(window, std::max(x, desktop.left), std::max(y, desktop.top));
}

RECT TooltipPopupRect(int32_t cursorX, int32_t cursorY, uint32_t size, bool haveSize, int32_t desktopWidth,
                      int32_t desktopHeight) {
    int32_t x = cursorX + 5;
    int32_t y = cursorY + 15;
    if (!haveSize) return RECT{x, y, x + 100, y + 20};
    int32_t w = static_cast<int32_t>(size & 0xFFFF) + 4;
    int32_t h = static_cast<int32_t>(size >> 16) + 2;
    if (x + w > desktopWidth) x = desktopWidth - w;
    if (y + h > desktopHeight) y = desktopHeight - h;
    x = std::max(x, 0);
    y = std::max(y, 0);
    return RECT{x, y, x + w, y + h};
}
