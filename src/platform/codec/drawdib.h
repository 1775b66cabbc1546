// DrawDib under its Video for Windows names: draws any stored frame, compressed (through the codecs
// of codec.h) or uncompressed (8-bit with colour table, 16-bit 5-5-5, 24 or 32 bits), by turning it
// into a 24-bit bottom-up frame and handing that to the installed painter.
//
// The desktop program installs a painter that puts the frame on the HDC (a QPainter); headless runs
// install none, and DrawDibDraw then only decodes. DrawDibGetBuffer gives the last frame to anyone
// who paints it another way.
#pragma once

#include <memory>

#include "platform/codec/codec.h"

struct HDRAWDIB__;
using HDRAWDIB = HDRAWDIB__*;

constexpr UINT DDF_UPDATE = 0x0002;  // draw the last frame again; lpbi and lpBits may be null
constexpr UINT DDF_SAME_HDC = 0x0004;
constexpr UINT DDF_SAME_DRAW = 0x0008;
constexpr UINT DDF_DONTDRAW = 0x0010;  // decode only (builds up a delta frame)
constexpr UINT DDF_ANIMATE = 0x0020;
constexpr UINT DDF_BUFFER = 0x0040;
constexpr UINT DDF_JUSTDRAWIT = 0x0080;
constexpr UINT DDF_NOTKEYFRAME = 0x0400;
constexpr UINT DDF_HURRYUP = 0x0800;
constexpr UINT DDF_HALFTONE = 0x1000;
constexpr UINT DDF_PREROLL = DDF_DONTDRAW;

// One frame to put on a device: the destination and source rectangles are resolved (no -1 left).
struct DrawDibPaint {
    HDC hdc;
    int xDst, yDst, dxDst, dyDst;
    const BITMAPINFOHEADER* format;  // 24-bit, bottom-up, rows padded to 4 bytes
    const void* bits;
    int xSrc, ySrc, dxSrc, dySrc;  // in the frame, counted from its top-left corner
};

class DrawDibPainter {
  public:
    virtual ~DrawDibPainter() = default;
    virtual void Paint(const DrawDibPaint& paint) = 0;
};

// Installs the painter every DrawDib uses; returns the previous one. Null draws nothing.
std::shared_ptr<DrawDibPainter> SetDrawDibPainter(std::shared_ptr<DrawDibPainter> painter);

HDRAWDIB DrawDibOpen();
// Releases the DrawDib and its decoder; FALSE for a handle that is not open.
BOOL DrawDibClose(HDRAWDIB hdd);
// Decodes lpBits (format lpbi; a compressed frame's byte count in lpbi->biSizeImage) and draws it
// unless DDF_DONTDRAW. A destination size below 1 takes the source size; a source of -1 is the whole
// frame. The decoder is kept while the format stays the same, so delta frames build on the frames
// drawn or decoded before them. FALSE when no decoder exists for the format or the frame fails.
BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst, BITMAPINFOHEADER* lpbi,
                 const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT wFlags);
// The last frame as 24-bit pixels, its header copied to lpbi when dwSize >= 40; null before the first
// frame. The pointer stays valid until the next DrawDibDraw or DrawDibClose.
void* DrawDibGetBuffer(HDRAWDIB hdd, BITMAPINFOHEADER* lpbi, DWORD dwSize, DWORD dwFlags);

// Converts stored rows of `bits` per pixel (1, 4 and 8 through the palette, grey without one; 16 as
// 5-5-5; 24; 32) into 24-bit bottom-up rows of dstStride bytes. Rows are read at their padded
// stride, or packed when the data holds only that much; rows the data does not hold are left as they
// are. False for other depths.
bool DibRowsTo24(const uint8_t* src, int64_t srcBytes, int32_t bits, bool topDown, const RGBQUAD* palette,
                 int32_t width, int32_t height, uint8_t* dst, int64_t dstStride);
