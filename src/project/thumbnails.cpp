#include "project/thumbnails.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/diag.h"
#include "core/memory.h"
#include "media/riff.h"
#include "platform/codec/drawdib.h"
#include "project/project.h"

namespace {

// A stored format is a header and up to 28 bytes after it; the decoder may read a colour table of
// 256 entries behind whatever the header claims, so the copy has room for both.
constexpr uint32_t kStoredFormatBytes = sizeof(AVIlist{}.format);
constexpr int32_t kPaletteEntries = 256;
constexpr uint32_t kColourTableBytes = kPaletteEntries * sizeof(RGBQUAD);

CellRecord* gCache = nullptr;
HDRAWDIB gDib = nullptr;  // the storyboard's decoder, kept between cells
int32_t gLastFed = 0;     // 1-based frame the decoder saw last; 0 none
int64_t gFramesFed = 0;

// The whole colour table of a clip of 8 bits or fewer. The list keeps only the stored format's
// first bytes (a few entries), so the table is read from the file's headers once per clip; a file
// without one gets the grey ramp the render uses.
struct ClipPalette {
    const AVIlist* clip;
    std::string name;
    RGBQUAD entries[kPaletteEntries];
};
std::vector<ClipPalette> gPalettes;

const RGBQUAD* PaletteOf(const AVIlist& clip) {
    for (const ClipPalette& p : gPalettes)
        if (p.clip == &clip && p.name == clip.name) return p.entries;
    // Tables of clips that have left the project go first.
    std::erase_if(gPalettes, [](const ClipPalette& p) {
        for (const AVIlist* rec = gProject.head; rec; rec = rec->next)
            if (rec == p.clip) return false;
        return true;
    });
    ClipPalette p{&clip, clip.name, {}};
    if (ReadAVIInfo(clip.name) && AVIinfo.bitCount == clip.bits)
        std::memcpy(p.entries, AVIinfo.palette, sizeof p.entries);
    if (std::all_of(p.entries, p.entries + kPaletteEntries,
                    [](const RGBQUAD& q) { return !q.rgbBlue && !q.rgbGreen && !q.rgbRed; }))
        for (int32_t i = 0; i < kPaletteEntries; i++) {
            const auto v = static_cast<uint8_t>(i);
            p.entries[i] = RGBQUAD{v, v, v, 0};
        }
    gPalettes.push_back(p);
    return gPalettes.back().entries;
}

// Feeds one stored frame to the decoder without showing it; false when it was refused.
bool FeedStoredFrame(BITMAPINFOHEADER* format, const void* data) {
    if (!gDib) gDib = DrawDibOpen();
    if (!gDib) return false;
    return DrawDibDraw(gDib, nullptr, 0, 0, 0, 0, format, data, 0, 0, -1, -1, DDF_DONTDRAW) != FALSE;
}

// The clip holding project frame n (from 1).
const AVIlist* ClipOfFrame(int32_t n) {
    int64_t before = 0;
    for (const AVIlist* rec = gProject.head; rec; rec = rec->next) {
        if (n <= before + std::max(rec->frames, 0)) return rec;
        before += std::max(rec->frames, 0);
    }
    return nullptr;
}

struct FrameFormat {
    alignas(BITMAPINFOHEADER) uint8_t bytes[kStoredFormatBytes + kColourTableBytes];
    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(bytes); }
};

// The clip's stored format as the decoder wants it: a header size it can trust, the row order of
// uncompressed frames in the height's sign, and the chunk's size.
void PrepareFormat(const AVIlist& clip, uint32_t chunkBytes, FrameFormat& f) {
    std::memset(f.bytes, 0, sizeof f.bytes);
    std::memcpy(f.bytes, clip.format, kStoredFormatBytes);
    BITMAPINFOHEADER* h = f.header();
    if (clip.bits > 0 && clip.bits <= 8) {
        h->biSize = sizeof(BITMAPINFOHEADER);
        h->biClrUsed = kPaletteEntries;
        std::memcpy(f.bytes + sizeof(BITMAPINFOHEADER), PaletteOf(clip), kColourTableBytes);
    }
    if (h->biCompression == BI_RGB) {
        // The bytes after the header are the start of the colour table.
        h->biSize = sizeof(BITMAPINFOHEADER);
        h->biHeight = clip.topDown ? -clip.height : clip.height;
    } else if (h->biSize < sizeof(BITMAPINFOHEADER) || h->biSize > kStoredFormatBytes) {
        h->biSize = sizeof(BITMAPINFOHEADER);
    }
    h->biSizeImage = chunkBytes;
}

bool Feed(int32_t n, bool last) {
    const AVIlist* clip = ClipOfFrame(n);
    uint8_t* data = clip ? getFrameData(n, gProject.head) : nullptr;
    if (!data || lastFrameSize <= 0) return false;
    FrameFormat format;
    PrepareFormat(*clip, static_cast<uint32_t>(lastFrameSize), format);
    gFramesFed++;
    bool ok = FeedStoredFrame(format.header(), data);
    if (!ok && last) DebugLog("thumbnail: frame %ld does not decode", static_cast<long>(n));
    return ok;
}

}  // namespace

CellRecord* ThumbnailCache() {
    return gCache;
}

CellRecord* CacheRecordAt(int32_t index) {
    if (index < 0) return nullptr;
    CellRecord** link = &gCache;
    for (int32_t i = 0;; i++) {
        if (!*link) {
            *link = static_cast<CellRecord*>(MyCalloc(1, sizeof(CellRecord)));
            if (!*link) return nullptr;
            (*link)->left = (*link)->right = kOutOfSight;
            (*link)->frame = -1;
        }
        if (i == index) return *link;
        link = &(*link)->next;
    }
}

void FreeThumbnails() {
    while (gCache) {
        CellRecord* next = gCache->next;
        MyFree(gCache->image);
        MyFree(gCache);
        gCache = next;
    }
    gLastFed = 0;
}

bool DecodeProjectFrame(int32_t frame, QImage& picture) {
    int32_t n = frame + 1;
    if (frame < 0 || n > gProject.totalFrames || !gProject.head) return false;
    int32_t from = n - std::max(FramesSinceKeyFrame(n, gProject.head), 0);
    if (gLastFed >= from && gLastFed < n) from = gLastFed + 1;
    gLastFed = 0;
    for (int32_t m = std::max(from, 1); m < n; m++) Feed(m, false);
    if (!Feed(n, true)) return false;
    gLastFed = n;
    BITMAPINFOHEADER h{};
    const uint8_t* bits =
        gDib ? static_cast<const uint8_t*>(DrawDibGetBuffer(gDib, &h, sizeof h, 0)) : nullptr;
    if (!bits || h.biWidth <= 0 || h.biHeight <= 0 || h.biBitCount != 24) return false;
    const uint32_t stride = DibRowBytes(h.biWidth, 24);
    picture = QImage(h.biWidth, h.biHeight, QImage::Format_BGR888);
    if (picture.isNull()) return false;
    for (int32_t y = 0; y < h.biHeight; y++)  // bottom-up rows
        std::memcpy(picture.scanLine(y), bits + static_cast<size_t>(h.biHeight - 1 - y) * stride,
                    static_cast<size_t>(h.biWidth) * 3);
    return true;
}

bool StoreThumbnail(CellRecord* record, const QImage& picture, int32_t width, int32_t height) {
    if (!record) return false;
    MyFree(record->image);
    record->image = nullptr;
    record->imageWidth = width;
    record->imageHeight = height;
    if (picture.isNull() || width <= 0 || height <= 0) return false;
    QImage scaled = picture.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_BGR888);
    auto bytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 3;
    record->image = static_cast<uint8_t*>(MyCalloc(bytes, 1));
    if (!record->image) return false;
    for (int32_t y = 0; y < height; y++)
        std::memcpy(record->image + static_cast<size_t>(height - 1 - y) * width * 3, scaled.constScanLine(y),
                    static_cast<size_t>(width) * 3);
    return true;
}

QImage ThumbnailPicture(const CellRecord& record) {
    if (!record.image || record.imageWidth <= 0 || record.imageHeight <= 0) return QImage();
    QImage picture(record.imageWidth, record.imageHeight, QImage::Format_BGR888);
    if (picture.isNull()) return picture;
    const size_t row = static_cast<size_t>(record.imageWidth) * 3;
    for (int32_t y = 0; y < record.imageHeight; y++)
        std::memcpy(picture.scanLine(y), record.image + static_cast<size_t>(record.imageHeight - 1 - y) * row,
                    row);
    return picture;
}

void CloseThumbnailDecoder() {
    if (gDib) DrawDibClose(gDib);
    gDib = nullptr;
    gLastFed = 0;
    gPalettes.clear();
}

int64_t ThumbnailFramesFed() {
    return gFramesFed;
}
