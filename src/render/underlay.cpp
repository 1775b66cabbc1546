#include "render/underlay.h"

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/checked.h"
#include "core/diag.h"
#include "core/memory.h"
#include "media/fileio.h"

namespace {

constexpr int64_t kFileHeaderBytes = 14;
constexpr int64_t kCoreHeaderBytes = 12;
constexpr int64_t kInfoHeaderBytes = 40;
constexpr uint8_t kBlue[3] = {255, 0, 0};  // blue, green, red

// Size of an open file; the media layer's handles are POSIX descriptors.
int64_t FileSizeOf(int32_t handle) {
    struct stat st;
    return fstat(handle, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

struct FileCloser {
    int32_t handle;
    ~FileCloser() { MyClose(handle); }
};

uint32_t ClampToU32(int64_t v) {
    return static_cast<uint32_t>(std::clamp<int64_t>(v, 0, UINT32_MAX));
}

// A header block made from a 12-byte core header and its 3-byte colour entries.
BITMAPINFOHEADER* ConvertCoreHeader(const uint8_t* core, int64_t headerBytes) {
    int64_t n = (headerBytes - kCoreHeaderBytes) / 3;
    int64_t size = kInfoHeaderBytes + 4 * n;
    auto* bh = static_cast<BITMAPINFOHEADER*>(MyCalloc(1, static_cast<uint32_t>(size)));
    if (!bh) {
        NotifyBox("cannot allocate proper bh array: %ld", static_cast<long>(size));
        return nullptr;
    }
    bh->biSize = kInfoHeaderBytes;
    bh->biWidth = ReadLE16(core + 4);
    bh->biHeight = ReadLE16(core + 6);
    bh->biPlanes = ReadLE16(core + 8);
    bh->biBitCount = ReadLE16(core + 10);
    bh->biCompression = BI_RGB;
    bh->biSizeImage = ClampToU32(static_cast<int64_t>(bh->biBitCount / 8) * bh->biHeight * bh->biWidth);
    bh->biClrUsed = static_cast<uint32_t>(n);
    bh->biClrImportant = static_cast<uint32_t>(n);
    auto* table = reinterpret_cast<RGBQUAD*>(bh + 1);
    const uint8_t* entry = core + kCoreHeaderBytes;
    for (int64_t i = 0; i < n; i++, entry += 3) table[i] = RGBQUAD{entry[0], entry[1], entry[2], 0};
    return bh;
}

void StorePixel(const FrameView& frame, uint8_t* d, const uint8_t* bgr) {
    if (frame.bits == 24)
        std::memcpy(d, bgr, 3);
    else
        WriteLE16(d, static_cast<uint16_t>(((bgr[2] & 0xF8) << 7) | ((bgr[1] & 0xF8) << 2) | (bgr[0] >> 3)));
}

// The frame pixel as blue, green, red on the 0..255 scale.
void LoadPixel(const FrameView& frame, const uint8_t* d, int32_t bgr[3]) {
    if (frame.bits == 24) {
        bgr[0] = d[0];
        bgr[1] = d[1];
        bgr[2] = d[2];
    } else {
        uint16_t v = ReadLE16(d);
        bgr[2] = (v >> 7) & 0xF8;
        bgr[1] = (v >> 2) & 0xF8;
        bgr[0] = (v & 31) * 8;
    }
}

bool MatchesKey(const UnderlayRecord* u, const int32_t bgr[3]) {
    int32_t y = bgr[2], cu = bgr[1], cv = bgr[0];
    ConvertRGB(0, &y, &cu, &cv);
    for (const ColourRange* c = u->ranges; c; c = c->next)
        if (c->lumaLow <= y && y <= c->lumaHigh && c->blueDiffLow <= cu && cu <= c->blueDiffHigh &&
            c->redDiffLow <= cv && cv <= c->redDiffHigh)
            return true;
    return false;
}

}  // namespace

BITMAPINFOHEADER* LoadBMP(const UnderlayRecord* underlay, uint8_t** pixels, int32_t* pixelBytes) {
    if (pixels) *pixels = nullptr;
    if (pixelBytes) *pixelBytes = 0;
    if (!underlay || !pixels) return nullptr;
    char name[sizeof underlay->fileName + 1] = {};
    std::memcpy(name, underlay->fileName, sizeof underlay->fileName);
    if (!name[0]) return nullptr;
    int32_t handle = MyOpenRead(name);
    if (!handle) return nullptr;
    FileCloser closer{handle};

    uint8_t fileHeader[kFileHeaderBytes];
    if (MyRead(handle, fileHeader, kFileHeaderBytes) != kFileHeaderBytes) return nullptr;
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') {
        NotifyBox("Not a BMP file");
        return nullptr;
    }
    int64_t fileSize = ReadLE32(fileHeader + 2);
    int64_t dataOffset = ReadLE32(fileHeader + 10);
    int64_t realSize = FileSizeOf(handle);
    int64_t headerBytes = dataOffset - kFileHeaderBytes;
    int64_t pixelSize = fileSize - dataOffset;

    if (headerBytes < kCoreHeaderBytes) {
        NotifyBox("Not a BMP file");
        return nullptr;
    }
    if (headerBytes > kMaxBmpHeaderBytes) {
        NotifyBox("failed to allocate bm header of %ld bytes", static_cast<long>(headerBytes));
        return nullptr;
    }
    MonitorPtr<uint8_t> header(static_cast<uint8_t*>(MyCalloc(1, static_cast<uint32_t>(headerBytes))));
    if (!header) {
        NotifyBox("failed to allocate bm header of %ld bytes", static_cast<long>(headerBytes));
        return nullptr;
    }
    int32_t got = MyRead(handle, header.get(), static_cast<int32_t>(headerBytes));
    if (got != headerBytes) {
        NotifyBox("failed to read bm header (%ld %ld)", static_cast<long>(got),
                  static_cast<long>(headerBytes));
        return nullptr;
    }

    uint32_t kind = ReadLE32(header.get());
    MonitorPtr<BITMAPINFOHEADER> bh;
    if (kind == kCoreHeaderBytes) {
        bh.reset(ConvertCoreHeader(header.get(), headerBytes));
        if (!bh) return nullptr;
    } else if (kind >= kInfoHeaderBytes && kind <= headerBytes) {
        bh.reset(reinterpret_cast<BITMAPINFOHEADER*>(header.release()));
    } else {
        NotifyBox("Not a BMP file");
        return nullptr;
    }
    // The stated sides are not checked yet: the product stops at the 64-bit limits.
    if (bh->biSizeImage == 0)
        bh->biSizeImage =
            ClampToU32(SaturatedMul(SaturatedMul(bh->biBitCount / 8, bh->biWidth), bh->biHeight));

    if (pixelSize <= 0 || pixelSize > kMaxBmpPixelBytes) {
        NotifyBox("failed to allocate bm data of %ld bytes", static_cast<long>(pixelSize));
        return nullptr;
    }
    int64_t available = std::max<int64_t>(realSize - dataOffset, 0);
    if (pixelSize > available) {  // the file is shorter than its header says
        NotifyBox("failed to read bm data (%ld %ld)", static_cast<long>(available),
                  static_cast<long>(pixelSize));
        return nullptr;
    }
    MonitorPtr<uint8_t> data(static_cast<uint8_t*>(MyCalloc(1, static_cast<uint32_t>(pixelSize))));
    if (!data) {
        NotifyBox("failed to allocate bm data of %ld bytes", static_cast<long>(pixelSize));
        return nullptr;
    }
    got = MyRead(handle, data.get(), static_cast<int32_t>(pixelSize));
    if (got != pixelSize) {
        NotifyBox("failed to read bm data (%ld %ld)", static_cast<long>(got), static_cast<long>(pixelSize));
        return nullptr;
    }
    *pixels = data.release();
    if (pixelBytes) *pixelBytes = static_cast<int32_t>(pixelSize);
    return bh.release();
}

void PrepareUnderlay(UnderlayRecord* underlay, int32_t width, int32_t height) {
    if (!underlay || !underlay->fileName[0]) return;
    MyFree(underlay->image);
    underlay->image = nullptr;
    underlay->imageWidth = width;
    underlay->imageHeight = height;
    if (width <= 0 || height <= 0 || width > kMaxOverlaySide || height > kMaxOverlaySide) return;
    const size_t pixelCount = static_cast<size_t>(width) * height;
    underlay->image = static_cast<uint8_t*>(MyCalloc(static_cast<uint32_t>(pixelCount), 3));
    if (!underlay->image) return;
    for (size_t p = 0; p < pixelCount; p++) std::memcpy(underlay->image + p * 3, kBlue, 3);

    uint8_t* raw = nullptr;
    int32_t rawBytes = 0;
    MonitorPtr<BITMAPINFOHEADER> bh(LoadBMP(underlay, &raw, &rawBytes));
    MonitorPtr<uint8_t> picture(raw);
    if (!bh) {
        DebugLog("Failed to open BMP file <%.*s>", static_cast<int>(sizeof underlay->fileName),
                 underlay->fileName);
        return;
    }
    if (bh->biCompression != BI_RGB || bh->biBitCount != 24) {
        DebugLog("Can only handle 24-bit BMPs for now");
        return;
    }
    // Rows of a BMP file are padded to 4 bytes; a block too short for that but long enough for packed
    // rows comes from a writer that did not pad. A negative height is a top-down picture.
    const int64_t pw = bh->biWidth;
    const bool topDown = bh->biHeight < 0;
    const int64_t ph = topDown ? -static_cast<int64_t>(bh->biHeight) : bh->biHeight;
    if (pw <= 0 || ph <= 0 || pw > kMaxBmpSide || ph > kMaxBmpSide) {
        DebugLog("PrepareUnderlay: picture of %ldx%ld refused", static_cast<long>(pw), static_cast<long>(ph));
        return;
    }
    int64_t stride = DibRowBytes(static_cast<int32_t>(pw), 24);
    if (rawBytes < stride * (ph - 1) + pw * 3) stride = pw * 3;
    if (rawBytes < stride * (ph - 1) + pw * 3) {
        DebugLog("PrepareUnderlay: %ld bytes of pixels cannot hold %ldx%ld", static_cast<long>(rawBytes),
                 static_cast<long>(pw), static_cast<long>(ph));
        return;
    }
    uint8_t* out = underlay->image;
    for (int64_t r = 0; r < height; r++) {
        int64_t sr = r * ph / height;
        const uint8_t* src = picture.get() + (topDown ? ph - 1 - sr : sr) * stride;
        for (int64_t c = 0; c < width; c++, out += 3) std::memcpy(out, src + c * pw / width * 3, 3);
    }
}

void ConvertRGB(int flag, int32_t* r, int32_t* g, int32_t* b) {
    if (!r || !g || !b) return;
    double rr = *r / 255.0, gg = *g / 255.0, bb = *b / 255.0;
    int32_t y = static_cast<int32_t>(std::trunc(100.0 * (0.299 * rr + 0.587 * gg + 0.114 * bb)));
    int32_t u = static_cast<int32_t>(std::trunc(100.0 * (-0.299 * rr - 0.587 * gg + 0.866 * bb)));
    int32_t v = static_cast<int32_t>(std::trunc(100.0 * (0.701 * rr - 0.587 * gg - 0.114 * bb)));
    if (flag) DebugLog("ConvertRGB: rgb (%d %d %d) -> yuv (%d %d %d)", *r, *g, *b, y, u, v);
    *r = y;
    *g = u;
    *b = v;
}

bool ApplyUnderlayRenderKey(const FrameView& frame, const UnderlayRecord* underlay) {
    if (frame.bits != 24) return false;
    if (!frame.pixels || !underlay || !underlay->image) return true;
    int32_t cols = std::min(underlay->imageWidth, frame.width);
    int32_t rows = std::min(underlay->imageHeight, frame.height);
    for (int32_t r = 0; r < rows; r++) {
        const uint8_t* s = underlay->image + static_cast<size_t>(r) * underlay->imageWidth * 3;
        uint8_t* d = frame.pixels + r * frame.stride;
        for (int32_t c = 0; c < cols; c++, s += 3, d += 3)
            if (d[0] > 200 && d[1] < 50 && d[2] < 50) std::memcpy(d, s, 3);
    }
    return true;
}

bool ApplyUnderlayPlaybackKey(const FrameView& frame, const UnderlayRecord* underlay, int32_t smooth) {
    if (frame.bits != 24 && frame.bits != 16) return false;
    if (!frame.pixels || !underlay || !underlay->image) return true;
    const int32_t w = underlay->imageWidth;
    const int32_t cols = std::min(w, frame.width);
    const int32_t rows = std::min(underlay->imageHeight, frame.height);
    const int32_t bytesPerPixel = frame.bits / 8;
    auto framePixel = [&](int32_t r, int32_t c) {
        return frame.pixels + r * frame.stride + c * bytesPerPixel;
    };
    auto imagePixel = [&](int32_t r, int32_t c) {
        return underlay->image + (static_cast<size_t>(r) * w + c) * 3;
    };
    int32_t bgr[3];

    if (smooth == 0) {
        for (int32_t r = 0; r < rows; r++)
            for (int32_t c = 0; c < cols; c++) {
                uint8_t* d = framePixel(r, c);
                LoadPixel(frame, d, bgr);
                if (MatchesKey(underlay, bgr)) StorePixel(frame, d, imagePixel(r, c));
            }
        return true;
    }

    const int64_t n = static_cast<int64_t>(w) * underlay->imageHeight;
    MonitorPtr<uint8_t> mask(static_cast<uint8_t*>(MyCalloc(static_cast<uint32_t>(n), 1)));
    MonitorPtr<uint8_t> alpha(static_cast<uint8_t*>(MyCalloc(static_cast<uint32_t>(n), 1)));
    if (!mask || !alpha) {
        DebugLog("ApplyTitle2: no memory for the key masks");
        return true;
    }
    uint8_t* m = mask.get();
    uint8_t* a = alpha.get();
    for (int32_t r = 0; r < rows; r++)
        for (int32_t c = 0; c < cols; c++) {
            LoadPixel(frame, framePixel(r, c), bgr);
            if (MatchesKey(underlay, bgr)) m[static_cast<int64_t>(r) * w + c] = 255;
        }
    if (smooth == 1) {
        for (int64_t i = 1; i < n; i++) a[i] = static_cast<uint8_t>((m[i - 1] + m[i]) >> 1);
    } else if (smooth == 2) {
        for (int64_t i = w + 1; i < n - w - 1; i++)
            a[i] = static_cast<uint8_t>((m[i + w] + m[i - w] + m[i - 1] + m[i + 1] + 4 * m[i]) >> 3);
    }
    for (int32_t r = 0; r < rows; r++)
        for (int32_t c = 0; c < cols; c++) {
            int32_t k = a[static_cast<int64_t>(r) * w + c];
            if (k == 0) continue;
            uint8_t* d = framePixel(r, c);
            const uint8_t* s = imagePixel(r, c);
            if (k == 255) {
                StorePixel(frame, d, s);
                continue;
            }
            LoadPixel(frame, d, bgr);
            uint8_t mixed[3];
            for (int ch = 0; ch < 3; ch++)
                mixed[ch] = static_cast<uint8_t>((bgr[ch] * (255 - k) + s[ch] * k) >> 8);
            StorePixel(frame, d, mixed);
        }
    return true;
}
