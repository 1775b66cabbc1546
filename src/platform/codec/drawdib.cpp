// DrawDib: one decoder per DrawDib handle, a 24-bit frame buffer, and the installed painter.
#include "platform/codec/drawdib.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "core/diag.h"

struct HDRAWDIB__ {
    HIC decoder = nullptr;
    BITMAPINFOHEADER decoderFormat{};  // the stored format the decoder was begun for
    BITMAPINFOHEADER frameFormat{};    // 24-bit header of the buffer
    std::vector<uint8_t> frame;
    bool haveFrame = false;
    bool stale = false;  // decoded without output: the buffer lags one picture behind
};

namespace {

// Colour-table entries read after an uncompressed frame's header.
constexpr uint32_t kMaxColours = 256;

struct DrawDibs {
    std::mutex lock;
    std::unordered_set<HDRAWDIB> open;
    std::shared_ptr<DrawDibPainter> painter;
};

DrawDibs& D() {
    static DrawDibs d;
    return d;
}

bool IsOpen(HDRAWDIB hdd) {
    std::lock_guard<std::mutex> guard(D().lock);
    return hdd && D().open.count(hdd) != 0;
}

int32_t AbsHeight(const BITMAPINFOHEADER& bi) {
    return bi.biHeight == INT32_MIN ? 0 : (bi.biHeight < 0 ? -bi.biHeight : bi.biHeight);
}

// Sizes the 24-bit buffer for a frame of the given size; false when it is not a usable size.
bool PrepareFrame(HDRAWDIB hdd, int32_t width, int32_t height) {
    if (width <= 0 || width > kMaxCodecDimension || height <= 0 || height > kMaxCodecDimension) return false;
    BITMAPINFOHEADER& f = hdd->frameFormat;
    if (f.biWidth != width || f.biHeight != height) {
        f = Dib24Format(width, height);
        hdd->frame.assign(f.biSizeImage, 0);
        hdd->haveFrame = false;
    }
    return true;
}

// Widens an uncompressed frame of 1, 4, 8, 16 (5-5-5), 24 or 32 bits into the 24-bit buffer.
bool CopyUncompressed(HDRAWDIB hdd, const BITMAPINFOHEADER& bi, const uint8_t* bits) {
    int32_t w = bi.biWidth, h = AbsHeight(bi);
    uint16_t bpp = bi.biBitCount;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
    if (bi.biSize < sizeof(BITMAPINFOHEADER) || !PrepareFrame(hdd, w, h)) return false;
    RGBQUAD colours[kMaxColours] = {};
    if (bpp <= 8) {
        uint32_t n = bi.biClrUsed ? std::min(bi.biClrUsed, kMaxColours) : (1u << bpp);
        std::memcpy(colours, reinterpret_cast<const uint8_t*>(&bi) + bi.biSize, 4 * n);
    }
    const int64_t srcBytes = static_cast<int64_t>(DibRowBytes(w, bpp)) * h;
    DibRowsTo24(bits, srcBytes, bpp, bi.biHeight < 0, colours, w, h, hdd->frame.data(), DibRowBytes(w, 24));
    hdd->haveFrame = true;
    hdd->stale = false;
    return true;
}

bool SameFormat(const BITMAPINFOHEADER& a, const BITMAPINFOHEADER& b) {
    return a.biCompression == b.biCompression && a.biWidth == b.biWidth && a.biHeight == b.biHeight &&
           a.biBitCount == b.biBitCount && a.biSize == b.biSize;
}

bool Decode(HDRAWDIB hdd, BITMAPINFOHEADER* bi, const void* bits, bool show) {
    if (!hdd->decoder || !SameFormat(hdd->decoderFormat, *bi)) {
        HIC decoder = ICLocate(ICTYPE_VIDEO, 0, bi, nullptr, ICMODE_DECOMPRESS);
        if (!decoder) return false;  // the last frame stays
        if (hdd->decoder) ICClose(hdd->decoder);
        hdd->decoder = decoder;
        hdd->decoderFormat = *bi;
        if (!PrepareFrame(hdd, bi->biWidth, AbsHeight(*bi)) ||
            ICDecompressBegin(hdd->decoder, bi, &hdd->frameFormat) != ICERR_OK) {
            ICClose(hdd->decoder);
            hdd->decoder = nullptr;
            return false;
        }
    }
    if (!PrepareFrame(hdd, bi->biWidth, AbsHeight(*bi))) return false;
    DWORD r = ICDecompress(hdd->decoder, show ? 0 : ICDECOMPRESS_HURRYUP, bi, bits, &hdd->frameFormat,
                           hdd->frame.data());
    if (static_cast<LRESULT>(static_cast<int32_t>(r)) != ICERR_OK) {
        DebugLog("DrawDibDraw: decode error %ld", static_cast<long>(static_cast<int32_t>(r)));
        return false;
    }
    hdd->haveFrame = true;
    hdd->stale = !show;
    return true;
}

// Brings the buffer up to the last decoded picture.
void Refresh(HDRAWDIB hdd) {
    if (!hdd->stale || !hdd->decoder) return;
    ICDecompress(hdd->decoder, ICDECOMPRESS_UPDATE, &hdd->decoderFormat, nullptr, &hdd->frameFormat,
                 hdd->frame.data());
    hdd->stale = false;
}

}  // namespace

std::shared_ptr<DrawDibPainter> SetDrawDibPainter(std::shared_ptr<DrawDibPainter> painter) {
    std::lock_guard<std::mutex> guard(D().lock);
    std::swap(D().painter, painter);
    return painter;
}

HDRAWDIB DrawDibOpen() {
    auto* hdd = new HDRAWDIB__;
    std::lock_guard<std::mutex> guard(D().lock);
    D().open.insert(hdd);
    return hdd;
}

BOOL DrawDibClose(HDRAWDIB hdd) {
    {
        std::lock_guard<std::mutex> guard(D().lock);
        if (!hdd || D().open.erase(hdd) == 0) return FALSE;
    }
    if (hdd->decoder) ICClose(hdd->decoder);
    delete hdd;
    return TRUE;
}

BOOL DrawDibDraw(HDRAWDIB hdd, HDC hdc, int xDst, int yDst, int dxDst, int dyDst, BITMAPINFOHEADER* lpbi,
                 const void* lpBits, int xSrc, int ySrc, int dxSrc, int dySrc, UINT wFlags) {
    if (!IsOpen(hdd)) return FALSE;
    if (wFlags & DDF_UPDATE) {
        if (!hdd->haveFrame) return FALSE;
    } else {
        if (!lpbi || !lpBits) return FALSE;
        bool show = !(wFlags & DDF_DONTDRAW);
        bool ok = lpbi->biCompression == BI_RGB
                      ? CopyUncompressed(hdd, *lpbi, static_cast<const uint8_t*>(lpBits))
                      : Decode(hdd, lpbi, lpBits, show);
        if (!ok) return FALSE;
        if (!show) return TRUE;
    }
    Refresh(hdd);
    std::shared_ptr<DrawDibPainter> painter;
    {
        std::lock_guard<std::mutex> guard(D().lock);
        painter = D().painter;
    }
    if (!painter) return TRUE;
    const BITMAPINFOHEADER& f = hdd->frameFormat;
    DrawDibPaint paint{hdc, xDst, yDst, dxDst, dyDst, &f, hdd->frame.data(), xSrc, ySrc, dxSrc, dySrc};
    if (paint.xSrc < 0 || paint.dxSrc < 0) paint.xSrc = 0, paint.dxSrc = f.biWidth;
    if (paint.ySrc < 0 || paint.dySrc < 0) paint.ySrc = 0, paint.dySrc = f.biHeight;
    paint.xSrc = std::min(paint.xSrc, static_cast<int>(f.biWidth));
    paint.ySrc = std::min(paint.ySrc, static_cast<int>(f.biHeight));
    paint.dxSrc = std::min(paint.dxSrc, static_cast<int>(f.biWidth) - paint.xSrc);
    paint.dySrc = std::min(paint.dySrc, static_cast<int>(f.biHeight) - paint.ySrc);
    if (paint.dxDst < 1) paint.dxDst = paint.dxSrc;
    if (paint.dyDst < 1) paint.dyDst = paint.dySrc;
    painter->Paint(paint);
    return TRUE;
}

void* DrawDibGetBuffer(HDRAWDIB hdd, BITMAPINFOHEADER* lpbi, DWORD dwSize, DWORD /*dwFlags*/) {
    if (!IsOpen(hdd) || !hdd->haveFrame) return nullptr;
    Refresh(hdd);
    if (lpbi && dwSize >= sizeof(BITMAPINFOHEADER)) *lpbi = hdd->frameFormat;
    return hdd->frame.data();
}

bool DibRowsTo24(const uint8_t* src, int64_t srcBytes, int32_t bits, bool topDown, const RGBQUAD* palette,
                 int32_t width, int32_t height, uint8_t* dst, int64_t dstStride) {
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (!src || !dst || width <= 0 || height <= 0 || srcBytes <= 0) return true;
    const int64_t padded = DibRowBytes(width, bits);
    const int64_t packed = (static_cast<int64_t>(width) * bits + 7) / 8;
    int64_t stride = padded;
    if (srcBytes < padded * height && srcBytes >= packed * height) stride = packed;
    const int64_t rows = std::min<int64_t>(height, srcBytes / stride);
    for (int64_t r = 0; r < rows; r++) {
        const uint8_t* s = src + r * stride;
        uint8_t* d = dst + (topDown ? height - 1 - r : r) * dstStride;
        switch (bits) {
            case 24:
                std::memcpy(d, s, static_cast<size_t>(width) * 3);
                break;
            case 32:
                for (int32_t c = 0; c < width; c++, s += 4, d += 3) std::memcpy(d, s, 3);
                break;
            case 16:
                for (int32_t c = 0; c < width; c++, s += 2, d += 3) {
                    const uint16_t v = ReadLE16(s);
                    d[0] = static_cast<uint8_t>((v & 31) << 3);
                    d[1] = static_cast<uint8_t>(((v >> 5) & 31) << 3);
                    d[2] = static_cast<uint8_t>(((v >> 10) & 31) << 3);
                }
                break;
            default: {  // 1, 4 and 8 bits through the colour table; grey without one
                const int perByte = 8 / bits;
                const int mask = (1 << bits) - 1;
                for (int32_t c = 0; c < width; c++, d += 3) {
                    const int shift = 8 - bits * (c % perByte + 1);
                    const int i = (s[c / perByte] >> shift) & mask;
                    if (palette) {
                        d[0] = palette[i].rgbBlue;
                        d[1] = palette[i].rgbGreen;
                        d[2] = palette[i].rgbRed;
                    } else {
                        d[0] = d[1] = d[2] = static_cast<uint8_t>(i * 255 / mask);
                    }
                }
                break;
            }
        }
    }
    return true;
}
