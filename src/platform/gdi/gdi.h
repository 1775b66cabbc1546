// GDI text into monochrome bitmaps, drawn with QPainter on a QImage without antialiasing: the
// device contexts, fonts, brushes and bitmaps that title stencils are rendered with. Handles are
// checked against the live objects, so a stale or foreign handle fails instead of crashing.
// Fonts need a QGuiApplication; GetDC and CreateFontIndirectA make a headless one on demand.
#pragma once

#include <cstdint>
#include <memory>

#include "core/diag.h"
#include "core/wintypes.h"

using HGDIOBJ = void*;
using HBITMAP = void*;
using HFONT = void*;
using HBRUSH = void*;
using COLORREF = uint32_t;

constexpr COLORREF RGB(uint8_t r, uint8_t g, uint8_t b) {
    return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}

struct SIZE {
    int32_t cx;
    int32_t cy;
};

struct LOGFONTA {
    int32_t lfHeight;  // negative: character (em) height in pixels; positive: cell height; 0: default
    int32_t lfWidth;
    int32_t lfEscapement;
    int32_t lfOrientation;
    int32_t lfWeight;  // 0 default, 400 normal, 700 bold
    uint8_t lfItalic;
    uint8_t lfUnderline;
    uint8_t lfStrikeOut;
    uint8_t lfCharSet;
    uint8_t lfOutPrecision;
    uint8_t lfClipPrecision;
    uint8_t lfQuality;  // kept; drawing is never antialiased
    uint8_t lfPitchAndFamily;
    char lfFaceName[32];
};

struct BITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];  // callers provide room for the whole colour table
};

constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr uint32_t PATCOPY = 0x00F00021;
constexpr uint32_t BLACKNESS = 0x00000042;
constexpr uint32_t WHITENESS = 0x00FF0062;
constexpr int WHITE_BRUSH = 0;
constexpr int BLACK_BRUSH = 4;
constexpr int SYSTEM_FONT = 13;
constexpr unsigned DIB_RGB_COLORS = 0;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;
constexpr int32_t FW_NORMAL = 400;
constexpr int32_t FW_BOLD = 700;

// Largest side and pixel count of a bitmap CreateBitmap makes.
constexpr int32_t kMaxBitmapSide = 16384;
constexpr int64_t kMaxBitmapPixels = 32 * 1024 * 1024;

// Makes a QGuiApplication on the offscreen platform when the process has none (Qt's own messages
// then go to DebugLog), and maps the Windows face names "Times New Roman", "Arial" and
// "Courier New" onto their metric-compatible Liberation faces when fontconfig does not. False when
// fonts cannot be used (a plain QCoreApplication exists).
bool EnsureGuiApplication();

// A window's screen context (or the screen's, for a null window); released with ReleaseDC.
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
// A memory context holding a 1 x 1 monochrome bitmap, the system font, a white brush.
HDC CreateCompatibleDC(HDC dc);
int DeleteDC(HDC dc);
// Only monochrome bitmaps (1 plane, 1 bit) are made; bits, when given, are ignored.
HBITMAP CreateBitmap(int32_t width, int32_t height, uint32_t planes, uint32_t bitsPerPixel, const void* bits);
HFONT CreateFontIndirectA(const LOGFONTA* font);
HGDIOBJ GetStockObject(int which);
// Returns the object of the same kind selected before, or null when the selection is refused.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// Refuses (0) objects still selected into a context; stock objects are kept and report success.
int DeleteObject(HGDIOBJ object);
int SetBkMode(HDC dc, int mode);  // the previous mode, 0 on failure
COLORREF SetTextColor(HDC dc, COLORREF colour);
COLORREF SetBkColor(HDC dc, COLORREF colour);
int PatBlt(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rop);
// Draws count bytes of text with its cell's top-left corner at (x, y). Text that is valid UTF-8 is
// read as UTF-8, anything else as Latin-1.
int TextOutA(HDC dc, int32_t x, int32_t y, const char* text, int count);
int GetTextExtentPoint32A(HDC dc, const char* text, int count, SIZE* size);
// Copies rows of a monochrome bitmap into an 8-bit DIB (black 0, white 255, bottom-up rows padded to
// 4 bytes) and writes a grey colour table of 256 entries. The header's width and height must be the
// bitmap's. Returns the number of rows copied, 0 on failure.
int GetDIBits(HDC dc, HBITMAP bitmap, uint32_t start, uint32_t lines, void* bits, BITMAPINFO* info,
              unsigned usage);

// GDI objects alive now, stock objects left out (tests check that nothing leaks).
int32_t GdiLiveObjectCount();

// MyGetTextExtent over the same fonts TextOutA draws with: the context's selected font, or the
// system font when the context is not a live one.
class GdiTextExtentProvider : public TextExtentProvider {
  public:
    uint32_t Extent(HDC dc, const char* text, int count) override;
};
// Installs GdiTextExtentProvider; returns the provider it replaced.
std::shared_ptr<TextExtentProvider> InstallGdiTextExtentProvider();
