#include "playback/pick.h"

#include <algorithm>

#include "core/diag.h"
#include "playback/player.h"
#include "render/underlay.h"

RECT BandToFrame(RECT band, const RECT& picture, const RECT& destination, int32_t width, int32_t height) {
    if (band.left > band.right) std::swap(band.left, band.right);
    if (band.top > band.bottom) std::swap(band.top, band.bottom);
    const int32_t dw = std::max(destination.right - destination.left, 1);
    const int32_t dh = std::max(destination.bottom - destination.top, 1);
    auto col = [&](int32_t x) {
        int64_t v = static_cast<int64_t>(std::max(x - picture.left, 0) - destination.left) * width / dw;
        return static_cast<int32_t>(std::clamp<int64_t>(v, 0, std::max(width - 1, 0)));
    };
    auto row = [&](int32_t y) {
        int64_t v = static_cast<int64_t>(std::max(y - picture.top, 0) - destination.top) * height / dh;
        return static_cast<int32_t>(std::clamp<int64_t>(v, 0, std::max(height - 1, 0)));
    };
    return RECT{col(band.left), row(band.top), col(band.right), row(band.bottom)};
}

PickScan ScanColourKey(const uint8_t* frame, int32_t width, int32_t height, int32_t bits, const RECT& area,
                       const ColourRange* keyed) {
    PickScan scan;
    if (!frame || width <= 0 || height <= 0) return scan;
    const int64_t stride = static_cast<int64_t>(width) * (bits / 8);
    for (int32_t y = area.top; y <= area.bottom; y++) {
        const int32_t r = std::clamp(height - 1 - y, 0, height - 1);
        for (int32_t x = area.left; x <= area.right; x++) {
            const int32_t c = std::clamp(x, 0, width - 1);
            int32_t R = 1, G = 2, B = 3;
            if (bits == 16) {
                const uint16_t w = ReadLE16(frame + r * stride + c * 2);
                R = (w >> 7) & 0xF8;
                G = (w >> 2) & 0xF8;
                B = (w & 0x1F) * 8;
            } else if (bits == 24) {
                const uint8_t* p = frame + r * stride + c * 3;
                B = p[0], G = p[1], R = p[2];
            }
            ConvertRGB(0, &R, &G, &B);
            const int32_t yuv[3] = {R, G, B};
            bool inside = false;
            for (const ColourRange* k = keyed; k && !inside; k = k->next)
                inside = yuv[0] >= k->lumaLow && yuv[0] <= k->lumaHigh && yuv[1] >= k->blueDiffLow &&
                         yuv[1] <= k->blueDiffHigh && yuv[2] >= k->redDiffLow && yuv[2] <= k->redDiffHigh;
            if (inside) continue;
            scan.count++;
            for (int i = 0; i < 3; i++) {
                scan.low[i] = std::min(scan.low[i], yuv[i]);
                scan.high[i] = std::max(scan.high[i], yuv[i]);
            }
        }
    }
    return scan;
}

bool PickColourKey(const RECT& band) {
    UnderlayRecord* u = gPlayer.underlay;
    if (!u || !gPlayer.savedFrame || !gPlayer.dc) return false;
    const BITMAPINFOHEADER& f = gPlayer.savedFormat;
    const int32_t height = std::abs(f.biHeight);
    const RECT area = BandToFrame(band, gPlayer.picture, gPlayer.dc->destination, f.biWidth, height);
    // The saved frame is bottom-up with rows padded to 4 bytes; the scan reads packed rows, so
    // widths whose rows need no padding read exactly and others are read row by row here.
    const uint32_t packed = static_cast<uint32_t>(f.biWidth) * (f.biBitCount / 8);
    const uint32_t padded = DibRowBytes(f.biWidth, f.biBitCount);
    std::vector<uint8_t> rows;
    const uint8_t* frame = gPlayer.savedFrame;
    if (packed != padded) {
        rows.resize(static_cast<size_t>(packed) * height);
        for (int32_t r = 0; r < height; r++)
            std::copy_n(gPlayer.savedFrame + static_cast<size_t>(r) * padded, packed,
                        rows.data() + static_cast<size_t>(r) * packed);
        frame = rows.data();
    }
    const PickScan scan = ScanColourKey(frame, f.biWidth, height, f.biBitCount, area, u->ranges);
    if (scan.count == 0) {
        NotifyBox("No new pixels selected");
        return false;
    }
    ColourRange* range = NewColourRange();
    if (range) {
        range->lumaLow = scan.low[0], range->lumaHigh = scan.high[0];
        range->blueDiffLow = scan.low[1], range->blueDiffHigh = scan.high[1];
        range->redDiffLow = scan.low[2], range->redDiffHigh = scan.high[2];
        ColourRange** tail = &u->ranges;
        while (*tail) tail = &(*tail)->next;
        *tail = range;
        gPlayer.lastDrawn = -1000;  // the key changed: the frame is composed again
        DrawFrame(gPlayer.position);
    }
    if (NotifyOkCancel("Accept this entry?\n\n%ld new pixels selected\nR %d->%d\nG %d->%d\nB %d->%d",
                       static_cast<long>(scan.count), scan.low[0], scan.high[0], scan.low[1], scan.high[1],
                       scan.low[2], scan.high[2]))
        return range != nullptr;
    if (range) {
        ColourRange** link = &u->ranges;
        while (*link && *link != range) link = &(*link)->next;
        if (*link) *link = range->next;  // the model reclaims unlinked ranges at its next clean-up
        gPlayer.lastDrawn = -1000;
        DrawFrame(gPlayer.position);
    }
    return false;
}
