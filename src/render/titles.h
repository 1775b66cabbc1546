// Titles: text drawn once per frame size into a stencil (the text in the title colour with a
// one-pixel black outline on a background of (1, 1, 1) bytes) that covers only the box of the text
// and its outline, then copied onto decoded 24-bit and 16-bit frames at the box's place. Also the
// walkers that apply every title and underlay of a frame.
#pragma once

#include <cstdint>
#include <vector>

#include "core/wintypes.h"
#include "platform/gdi/gdi.h"
#include "project/project.h"

// The byte value of every channel of a stencil pixel that is left alone.
constexpr uint8_t kStencilBackground = 1;
// Largest frame side a stencil or an underlay image is prepared for.
constexpr int32_t kMaxOverlaySide = 8192;

// A frame as the appliers address it: bottom-up rows of `stride` bytes. Stencils and underlay images
// are packed (rows of width x 3 bytes); row r, column c of either lands on row r, column c of the
// frame, and only the part both cover is touched.
struct FrameView {
    uint8_t* pixels;
    int32_t width;
    int32_t height;
    int32_t bits;
    int64_t stride;
};

// The frame a BITMAPINFOHEADER describes (rows padded to 4 bytes); pixels are null when the header
// gives no usable size.
FrameView DibFrame(void* pixels, const BITMAPINFOHEADER* format);

// The memory context with a width x height monochrome bitmap selected, or null (after a message).
HDC GetStencil(HWND window, int32_t width, int32_t height);
// The stencil bitmap as an 8-bit grey DIB block (header, 256 grey entries, rows padded to 4 bytes),
// released with MyFree, or null. The stencil bitmap is released either way.
BITMAPINFOHEADER* StencilToDIB(HWND window, HDC dc, int32_t width, int32_t height, int32_t bits);
// Releases a stencil bitmap that was not converted.
void ReleaseStencil(HWND window, HDC dc);
// Draws the lines of text (cut at line feeds) from y down, each placed on x by the horizontal code
// (1 left, 2 right, else centred). Nonzero when drawing succeeded; empty text succeeds.
int DrawTitleLines(HDC dc, int32_t x, int32_t y, const char* text, int32_t horizontal);
// Renders text with the title's font, placement and colour into stencil (width x height x 3 bytes).
void RenderTitle(HWND window, const char* text, int32_t width, int32_t height, uint8_t* stencil,
                 const TitleRecord* title);
// Paints a stencil from an 8-bit image whose nonzero pixels are text: background everywhere, black on
// the four neighbours of every text pixel, then the text in colour (a COLORREF; a byte of 1, the
// background marker, is painted as 2 so that every colour shows).
void StencilFromGrey(const uint8_t* grey, int64_t greyStride, int32_t width, int32_t height, uint32_t colour,
                     uint8_t* stencil);
// Rebuilds the title's stencil for a width x height frame: the box of the text and its outline,
// empty (0 x 0, not null) when nothing could be drawn; null when it cannot be allocated.
void PrepareTitle(HWND window, int32_t width, int32_t height, TitleRecord* title);
// Rebuilds every title stencil and underlay image of the project's revisions for the frame size.
void PrepareOverlays(HWND window, int32_t width, int32_t height);

// Render path: the overlays of project frame index + 1 (OverlaysAt), in list order.
void ApplyTitle(HWND window, void* pixels, const BITMAPINFOHEADER* format, int32_t index);
// Lays the listed revisions (an OverlaysAt list) on a frame as ApplyTitle does. Reads the revisions
// and their prepared stencils and images only, so several threads may lay overlays at once.
void ApplyOverlays(void* pixels, const BITMAPINFOHEADER* format, const OverlayList& overlays);
// One title onto a frame.
void ApplyTitle1(HWND window, void* pixels, const BITMAPINFOHEADER* format, const TitleRecord* title);
// Playback path: every revision covering project frame n, in list order, onto a frame of the
// project's frame size. Returns the number of revisions covering n.
int32_t ApplyTitle2(void* pixels, int32_t n, int32_t bits);
int32_t ApplyTitle2(const FrameView& frame, int32_t n);
