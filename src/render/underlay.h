// Underlays: a 24-bit BMP picture scaled to the frame size, shown through the frame's key colour.
// An underlay with colour ranges is keyed by them on the luma and colour-difference scale of
// ConvertRGB, with the soft edge chosen by gSettings.smooth, in previews and renders alike; one
// without ranges is keyed by a fixed saturated blue in renders and not at all in previews.
#pragma once

#include <cstdint>

#include "core/wintypes.h"
#include "project/project.h"
#include "render/titles.h"

// Largest header block (info header and colour table) and pixel block LoadBMP reads.
constexpr int64_t kMaxBmpHeaderBytes = 64 * 1024;
constexpr int64_t kMaxBmpPixelBytes = 256 * 1024 * 1024;
// Largest picture side PrepareUnderlay scales from.
constexpr int32_t kMaxBmpSide = 32768;

// Reads the BMP file the record names. Returns the header block (a BITMAPINFOHEADER and its colour
// table; a core header is converted) and hands back the pixel block and its size in bytes; both are
// released with MyFree. Null on failure, after a message except for a missing name or file.
BITMAPINFOHEADER* LoadBMP(const UnderlayRecord* underlay, uint8_t** pixels, int32_t* pixelBytes);
// Rebuilds the record's image for a width x height frame: the picture scaled by nearest neighbour,
// or solid blue when the picture cannot be used.
void PrepareUnderlay(UnderlayRecord* underlay, int32_t width, int32_t height);
// R, G, B (0..255) in; Y (0..100), U and V out, in the same three places.
void ConvertRGB(int flag, int32_t* r, int32_t* g, int32_t* b);

// The render key: frame pixels with blue above 200 and green and red below 50 show the image.
// False (frame untouched) for frames that are not 24-bit.
bool ApplyUnderlayRenderKey(const FrameView& frame, const UnderlayRecord* underlay);
// The playback key: pixels matching a colour range show the image, with the edge filter `smooth`
// (0 none, 1 horizontal pair, 2 four-neighbour). False (frame untouched) for frames that are
// neither 24-bit nor 16-bit.
bool ApplyUnderlayPlaybackKey(const FrameView& frame, const UnderlayRecord* underlay, int32_t smooth);
