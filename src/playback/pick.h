// Colour-key picking without windows: the rubber band mapped onto frame pixels, the scan of the
// saved frame into a new colour range, and the question that keeps or drops it.
#pragma once

#include <cstdint>

#include "core/wintypes.h"
#include "project/project.h"

struct PickScan {
    int32_t count = 0;                 // pixels not yet keyed
    int32_t low[3] = {255, 255, 255};  // Y, U, V
    int32_t high[3] = {0, 0, 0};
};

// The band (play window client coordinates, corners in any order) as inclusive frame columns and
// rows counted from the top: made relative to the picture control, mapped through the destination
// box (picture coordinates) onto a width x height frame, clamped into it.
RECT BandToFrame(RECT band, const RECT& picture, const RECT& destination, int32_t width, int32_t height);
// Scans the bottom-up frame (rows of width x bits / 8 bytes, 16 or 24 bits) over the frame rectangle.
PickScan ScanColourKey(const uint8_t* frame, int32_t width, int32_t height, int32_t bits, const RECT& area,
                       const ColourRange* keyed);
// The picker's end: scans the player's saved frame, appends the range to the underlay, redraws,
// and asks "Accept this entry?..."; Cancel takes the range out again. True when a range was kept.
bool PickColourKey(const RECT& band);
