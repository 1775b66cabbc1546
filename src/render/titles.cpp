#include "render/titles.h"

#include <algorithm>
#include <cstring>

#include "core/diag.h"
#include "core/memory.h"
#include "render/underlay.h"
#include "settings/settings.h"

namespace {

constexpr int32_t kPlaceLeft = 1;   // horizontal code; also "top" for the vertical code
constexpr int32_t kPlaceRight = 2;  // horizontal code; also "bottom" for the vertical code
constexpr int32_t kGreyPaletteBytes = 256 * 4;
constexpr int32_t kPixelsPerMeter = 4000;
// Largest grey image block StencilToDIB allocates.
constexpr int64_t kMaxGreyBlock = 0x7FFFFFFF;

// The one stencil bitmap of the process.
struct StencilSlot {
    bool held = false;
    HWND window = nullptr;
    HDC screen = nullptr;
    HDC memory = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ previous = nullptr;
};
StencilSlot gStencil;

void ReleaseSlot() {
    if (!gStencil.held) return;
    SelectObject(gStencil.memory, gStencil.previous);
    DeleteObject(gStencil.bitmap);
    DeleteDC(gStencil.memory);
    ReleaseDC(gStencil.window, gStencil.screen);
    gStencil = StencilSlot{};
}

uint16_t Pack555(uint8_t red, uint8_t green, uint8_t blue) {
    return static_cast<uint16_t>(((red & 0xF8) << 7) | ((green & 0xF8) << 2) | (blue >> 3));
}

enum class CopyRule { NoByteIsMarker, BlueIsNotMarker };

// Copies the stencil's non-background pixels onto the frame; false when the frame's depth is
// neither 24 nor 16 bits (the frame is left as it is).
bool CopyStencil(const FrameView& frame, const TitleRecord* t, CopyRule rule24) {
    if (frame.bits != 24 && frame.bits != 16) return false;
    if (!frame.pixels || !t->stencil) return true;
    const int32_t x0 = std::max(t->stencilX, 0), y0 = std::max(t->stencilY, 0);
    int32_t cols = std::min(t->stencilWidth, frame.width - std::min(x0, frame.width));
    int32_t rows = std::min(t->stencilHeight, frame.height - std::min(y0, frame.height));
    const int32_t bytesPerPixel = frame.bits / 8;
    for (int32_t r = 0; r < rows; r++) {
        const uint8_t* s = t->stencil + static_cast<size_t>(r) * t->stencilWidth * 3;
        uint8_t* d = frame.pixels + (r + y0) * frame.stride + static_cast<int64_t>(x0) * bytesPerPixel;
        for (int32_t c = 0; c < cols; c++, s += 3) {
            bool anyMarker =
                s[0] == kStencilBackground || s[1] == kStencilBackground || s[2] == kStencilBackground;
            if (frame.bits == 24) {
                bool copy = rule24 == CopyRule::NoByteIsMarker ? !anyMarker : s[0] != kStencilBackground;
                if (copy) std::memcpy(d + c * 3, s, 3);
            } else if (!anyMarker) {
                WriteLE16(d + c * 2, Pack555(s[2], s[1], s[0]));
            }
        }
    }
    return true;
}

void ApplyOneTitle(const char* who, const FrameView& frame, const TitleRecord* t, CopyRule rule24) {
    if (!t->text || !t->stencil) return;
    if (!CopyStencil(frame, t, rule24))
        DebugLog("%s: Unsupported bit depth %ld", who, static_cast<long>(frame.bits));
}

}  // namespace

FrameView DibFrame(void* pixels, const BITMAPINFOHEADER* format) {
    if (!format) return FrameView{nullptr, 0, 0, 0, 0};
    int64_t height = format->biHeight < 0 ? -static_cast<int64_t>(format->biHeight) : format->biHeight;
    FrameView f{static_cast<uint8_t*>(pixels), format->biWidth,
                static_cast<int32_t>(std::min<int64_t>(height, INT32_MAX)), format->biBitCount,
                DibRowBytes(format->biWidth, format->biBitCount)};
    if (f.width <= 0 || f.height <= 0 || f.stride <= 0) f.pixels = nullptr;
    return f;
}

HDC GetStencil(HWND window, int32_t width, int32_t height) {
    if (gStencil.held) {
        DebugLog("GetStencil: releasing a stencil bitmap still held");
        ReleaseSlot();
    }
    HDC screen = GetDC(window);
    if (!screen) {
        NotifyBox("GetStencil - couldn't GetDC");
        return nullptr;
    }
    HDC memory = CreateCompatibleDC(screen);
    if (!memory) {
        ReleaseDC(window, screen);
        NotifyBox("GetStencil - couldn't CreateCompatibleDC");
        return nullptr;
    }
    HBITMAP bitmap = CreateBitmap(width, height, 1, 1, nullptr);
    if (!bitmap) {
        DeleteDC(memory);
        ReleaseDC(window, screen);
        NotifyBox("GetStencil - couldn't CreateBitmap (%dx%d)", width, height);
        return nullptr;
    }
    gStencil = StencilSlot{true, window, screen, memory, bitmap, SelectObject(memory, bitmap)};
    return memory;
}

BITMAPINFOHEADER* StencilToDIB(HWND, HDC dc, int32_t width, int32_t height, int32_t bits) {
    if (!gStencil.held || dc != gStencil.memory) {
        DebugLog("StencilToDIB: no stencil bitmap for this context");
        return nullptr;
    }
    SelectObject(gStencil.memory, gStencil.previous);
    gStencil.previous = nullptr;
    BITMAPINFOHEADER* block = nullptr;
    int64_t stride = (static_cast<int64_t>(bits / 8) * width + 3) / 4 * 4;
    int64_t imageSize = stride * height;
    int64_t total = static_cast<int64_t>(sizeof(BITMAPINFOHEADER)) + kGreyPaletteBytes + imageSize;
    if (bits != 8 || width <= 0 || height <= 0) {
        DebugLog("StencilToDIB: cannot convert %ldx%ld at %ld bits", static_cast<long>(width),
                 static_cast<long>(height), static_cast<long>(bits));
    } else if (total > kMaxGreyBlock ||
               !(block = static_cast<BITMAPINFOHEADER*>(MyCalloc(1, static_cast<uint32_t>(total))))) {
        NotifyBox("failed to allocate data %ld", static_cast<long>(total));
    } else {
        block->biSize = sizeof(BITMAPINFOHEADER);
        block->biWidth = width;
        block->biHeight = height;
        block->biPlanes = 1;
        block->biBitCount = 8;
        block->biCompression = BI_RGB;
        block->biSizeImage = static_cast<uint32_t>(imageSize);
        block->biXPelsPerMeter = kPixelsPerMeter;
        block->biYPelsPerMeter = kPixelsPerMeter;
        block->biClrUsed = 256;
        block->biClrImportant = 256;
        auto* info = reinterpret_cast<BITMAPINFO*>(block);
        for (int i = 0; i < 256; i++) {
            uint8_t v = static_cast<uint8_t>(i);
            info->bmiColors[i] = RGBQUAD{v, v, v, 0};
        }
        uint8_t* grey = reinterpret_cast<uint8_t*>(block) + sizeof(BITMAPINFOHEADER) + kGreyPaletteBytes;
        if (GetDIBits(gStencil.screen, gStencil.bitmap, 0, static_cast<uint32_t>(height), grey, info,
                      DIB_RGB_COLORS) != height) {
            DebugLog("StencilToDIB: GetDIBits failed");
            MyFree(block);
            block = nullptr;
        }
    }
    ReleaseSlot();
    return block;
}

void ReleaseStencil(HWND, HDC dc) {
    if (!gStencil.held || dc != gStencil.memory) return;
    ReleaseSlot();
}

int DrawTitleLines(HDC dc, int32_t x, int32_t y, const char* text, int32_t horizontal) {
    if (!text || !*text) return 1;
    int result = 0;
    int64_t lineY = y;  // many tall lines must not overflow
    const char* line = text;
    for (;;) {
        const char* end = std::strchr(line, '\n');
        int count = static_cast<int>(end ? end - line : static_cast<std::ptrdiff_t>(std::strlen(line)));
        uint32_t extent = MyGetTextExtent(dc, line, count);
        int32_t lineWidth = static_cast<int32_t>(extent & 0xFFFF);
        int32_t lineHeight = static_cast<int32_t>(extent >> 16);
        int32_t lx = horizontal == kPlaceLeft    ? x
                     : horizontal == kPlaceRight ? x - lineWidth
                                                 : x - lineWidth / 2;
        result = TextOutA(dc, lx, static_cast<int32_t>(std::clamp<int64_t>(lineY, INT32_MIN, INT32_MAX)),
                          line, count);
        lineY += lineHeight;
        if (!end) break;
        line = end + 1;
    }
    return result;
}

void StencilFromGrey(const uint8_t* grey, int64_t greyStride, int32_t width, int32_t height, uint32_t colour,
                     uint8_t* stencil) {
    if (!grey || !stencil || width <= 0 || height <= 0) return;
    const size_t row = static_cast<size_t>(width) * 3;
    std::memset(stencil, kStencilBackground, row * height);
    auto at = [&](int32_t r, int32_t c) { return stencil + r * row + static_cast<size_t>(c) * 3; };
    auto isText = [&](int32_t r, int32_t c) { return grey[r * greyStride + c] != 0; };
    for (int32_t r = 0; r < height; r++)
        for (int32_t c = 0; c < width; c++) {
            if (!isText(r, c)) continue;
            if (c > 0) std::memset(at(r, c - 1), 0, 3);
            if (c + 1 < width) std::memset(at(r, c + 1), 0, 3);
            if (r > 0) std::memset(at(r - 1, c), 0, 3);
            if (r + 1 < height) std::memset(at(r + 1, c), 0, 3);
        }
    // A text byte equal to the background marker would hide the pixel: 1 is drawn as 2, which no
    // eye tells apart, so every colour shows.
    auto ink = [](uint32_t byte) {
        const auto b = static_cast<uint8_t>(byte);
        return b == kStencilBackground ? static_cast<uint8_t>(kStencilBackground + 1) : b;
    };
    const uint8_t text[3] = {ink(colour >> 16), ink(colour >> 8), ink(colour)};
    for (int32_t r = 0; r < height; r++)
        for (int32_t c = 0; c < width; c++)
            if (isText(r, c)) std::memcpy(at(r, c), text, 3);
}

namespace {

// Draws the title's lines, with its font and placement, into an 8-bit grey picture of width x
// height whose nonzero pixels are text: the DIB block (header, palette, rows padded to 4 bytes,
// released with MyFree), or null after the message of what failed.
BITMAPINFOHEADER* DrawTitleGrey(HWND window, const char* text, int32_t width, int32_t height,
                                const TitleRecord* title) {
    if (!text) text = "";
    LOGFONTA lf{};
    lf.lfHeight = title->height;
    lf.lfWeight = title->weight;
    lf.lfItalic = static_cast<uint8_t>(title->italic);
    lf.lfUnderline = static_cast<uint8_t>(title->underline);
    lf.lfQuality = static_cast<uint8_t>(title->quality);
    std::memcpy(lf.lfFaceName, title->faceName, sizeof lf.lfFaceName - 1);
    HFONT font = CreateFontIndirectA(&lf);
    if (!font) DebugLog("Couldn't open font");

    HDC dc = GetStencil(window, width, height);
    if (!dc) {
        NotifyBox("Couldn't GET Stencil");
        DeleteObject(font);
        return nullptr;
    }
    HGDIOBJ oldFont = font ? SelectObject(dc, font) : nullptr;
    int32_t lineHeight =
        static_cast<int32_t>(MyGetTextExtent(dc, text, static_cast<int>(std::strlen(text))) >> 16);
    int64_t lines = 1 + std::count(text, text + std::strlen(text), '\n');
    int32_t textHeight = static_cast<int32_t>(std::min<int64_t>(lineHeight * lines, INT32_MAX / 2));

    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    SelectObject(dc, GetStockObject(BLACK_BRUSH));
    PatBlt(dc, 0, 0, width, height, PATCOPY);

    int32_t x = title->horizontal == kPlaceLeft    ? width / 20
                : title->horizontal == kPlaceRight ? width - width / 20
                                                   : width / 2;
    int32_t y = title->vertical == kPlaceLeft    ? height / 20
                : title->vertical == kPlaceRight ? height - textHeight - height / 20
                                                 : (height - textHeight) / 2;
    BITMAPINFOHEADER* dib = nullptr;
    if (DrawTitleLines(dc, x, y, text, title->horizontal)) {
        dib = StencilToDIB(window, dc, width, height, 8);
        if (!dib) NotifyBox("StencilToDIB failed");
    } else {
        if (oldFont) SelectObject(dc, oldFont);
        ReleaseStencil(window, dc);
    }
    DeleteObject(font);
    return dib;
}

const uint8_t* GreyRows(const BITMAPINFOHEADER* dib) {
    return reinterpret_cast<const uint8_t*>(dib) + sizeof(BITMAPINFOHEADER) + kGreyPaletteBytes;
}

// Columns [left, right) and rows [bottom, top) of a grey picture that hold its text pixels and
// their outline; empty when it has none.
struct Box {
    int32_t left = 0, bottom = 0, right = 0, top = 0;
};
Box TextBox(const uint8_t* grey, int64_t stride, int32_t width, int32_t height) {
    Box b{width, height, 0, 0};
    for (int32_t r = 0; r < height; r++) {
        const uint8_t* row = grey + r * stride;
        int32_t first = 0, last = width - 1;
        while (first < width && !row[first]) first++;
        if (first == width) continue;
        while (!row[last]) last--;
        b.left = std::min(b.left, first), b.right = std::max(b.right, last + 1);
        b.bottom = std::min(b.bottom, r), b.top = r + 1;
    }
    if (b.left >= b.right) return Box{};
    // The outline reaches one pixel beyond the text on each side.
    return Box{std::max(b.left - 1, 0), std::max(b.bottom - 1, 0), std::min(b.right + 1, width),
               std::min(b.top + 1, height)};
}

}  // namespace

void RenderTitle(HWND window, const char* text, int32_t width, int32_t height, uint8_t* stencil,
                 const TitleRecord* title) {
    if (!title || !stencil) return;
    if (BITMAPINFOHEADER* dib = DrawTitleGrey(window, text, width, height, title)) {
        StencilFromGrey(GreyRows(dib), DibRowBytes(width, 8), width, height, title->colour, stencil);
        MyFree(dib);
    }
}

void PrepareTitle(HWND window, int32_t width, int32_t height, TitleRecord* title) {
    if (!title) return;
    MyFree(title->stencil);
    title->stencil = nullptr;
    title->stencilWidth = title->stencilHeight = title->stencilX = title->stencilY = 0;
    title->drawnWidth = width;
    title->drawnHeight = height;
    if (width <= 0 || height <= 0 || width > kMaxOverlaySide || height > kMaxOverlaySide) {
        DebugLog("PrepareTitle: no stencil for %ldx%ld", static_cast<long>(width), static_cast<long>(height));
        return;
    }
    // A title that cannot be drawn must leave frames alone: its stencil is empty.
    BITMAPINFOHEADER* dib = DrawTitleGrey(window, title->text, width, height, title);
    const int64_t stride = DibRowBytes(width, 8);
    const Box box = dib ? TextBox(GreyRows(dib), stride, width, height) : Box{};
    const int32_t cols = box.right - box.left, rows = box.top - box.bottom;
    title->stencil =
        static_cast<uint8_t*>(MyCalloc(static_cast<uint32_t>(cols) * static_cast<uint32_t>(rows), 3));
    if (title->stencil) {
        title->stencilWidth = cols, title->stencilHeight = rows;
        title->stencilX = box.left, title->stencilY = box.bottom;
        if (cols > 0)
            StencilFromGrey(GreyRows(dib) + box.bottom * stride + box.left, stride, cols, rows, title->colour,
                            title->stencil);
    }
    MyFree(dib);
}

void PrepareOverlays(HWND window, int32_t width, int32_t height) {
    for (Revision* r = gProject.revisions; r; r = r->next) {
        if (r->type & kRevTitle) {
            if (TitleRecord* t = TitleOf(r)) PrepareTitle(window, width, height, t);
        }
        if (r->type & kRevUnderlay) {
            if (UnderlayRecord* u = UnderlayOf(r); u && u->fileName[0]) PrepareUnderlay(u, width, height);
        }
    }
}

void ApplyTitle(HWND, void* pixels, const BITMAPINFOHEADER* format, int32_t index) {
    ApplyOverlays(pixels, format, OverlaysAt(index + 1));
}

void ApplyOverlays(void* pixels, const BITMAPINFOHEADER* format, const OverlayList& overlays) {
    if (!format) return;
    FrameView frame = DibFrame(pixels, format);
    for (const Revision* r : overlays) {
        if (r->type & kRevTitle) {
            if (const TitleRecord* t = TitleOf(r))
                ApplyOneTitle("ApplyTitle", frame, t, CopyRule::NoByteIsMarker);
            else
                DebugLog("ti==0");
        }
        if (r->type & kRevUnderlay) {
            // An underlay with colour ranges is keyed as the preview keys it; without, by the
            // fixed blue key.
            const UnderlayRecord* u = UnderlayOf(r);
            const bool keyed = u && u->image && frame.bits == 24 &&
                               (u->ranges ? ApplyUnderlayPlaybackKey(frame, u, gSettings.smooth)
                                          : ApplyUnderlayRenderKey(frame, u));
            if (u && u->image && !keyed)
                DebugLog("ApplyTitle: Unsupported bit depth %ld", static_cast<long>(frame.bits));
        }
    }
}

void ApplyTitle1(HWND, void* pixels, const BITMAPINFOHEADER* format, const TitleRecord* title) {
    if (!title || !format) return;
    ApplyOneTitle("ApplyTitle1", DibFrame(pixels, format), title, CopyRule::NoByteIsMarker);
}

int32_t ApplyTitle2(void* pixels, int32_t n, int32_t bits) {
    FrameView frame{static_cast<uint8_t*>(pixels), gProject.frameWidth, gProject.frameHeight, bits,
                    DibRowBytes(gProject.frameWidth, bits)};
    if (frame.width <= 0 || frame.height <= 0 || frame.stride <= 0) frame.pixels = nullptr;
    return ApplyTitle2(frame, n);
}

int32_t ApplyTitle2(const FrameView& frame, int32_t n) {
    int32_t covering = 0;
    for (Revision* r = gProject.revisions; r; r = r->next) {
        if (r->start > n || n > r->end) continue;
        covering++;
        if (r->type & kRevTitle) {
            if (const TitleRecord* t = TitleOf(r))
                ApplyOneTitle("ApplyTitle2", frame, t, CopyRule::BlueIsNotMarker);
            else
                DebugLog("ti==0");
        }
        if (r->type & kRevUnderlay) {
            const UnderlayRecord* u = UnderlayOf(r);
            if (u && u->image && !ApplyUnderlayPlaybackKey(frame, u, gSettings.smooth))
                DebugLog("ApplyTitle2: Unsupported bit depth %ld", static_cast<long>(frame.bits));
        }
    }
    return covering;
}
