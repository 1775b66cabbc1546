#include "render/compose.h"

#include <algorithm>
#include <cstring>

#include "core/diag.h"
#include "core/memory.h"
#include "media/riff.h"
#include "platform/codec/drawdib.h"
#include "render/titles.h"

namespace {

constexpr int32_t kPaletteEntries = 256;
constexpr int32_t kPixelsPerMeter = 4000;

bool AllZero(const RGBQUAD* p, int32_t n) {
    for (int32_t i = 0; i < n; i++)
        if (p[i].rgbBlue || p[i].rgbGreen || p[i].rgbRed) return false;
    return true;
}

}  // namespace

// One file of the list: its decoder (none for uncompressed frames) and what the decoder is fed.
struct FrameComposer::Source {
    AVIlist* rec = nullptr;
    HIC hic = nullptr;
    // The stored format as the decoder gets it: the header with its extension, or with the colour
    // table for formats of 8 bits or fewer.
    uint8_t in[sizeof(BITMAPINFOHEADER) + kPaletteEntries * sizeof(RGBQUAD)] = {};
    BITMAPINFOHEADER decoded{};
    bool decodedTopDown = false;
    bool direct = false;  // the decoder writes the frame buffer's own layout
    RGBQUAD palette[kPaletteEntries] = {};
    bool sameSize = true;
    int32_t lastFed = 0;  // the project frame the decoder saw last, 0 when unknown

    BITMAPINFOHEADER* inFormat() { return reinterpret_cast<BITMAPINFOHEADER*>(in); }
};

// The stored depths a project frame can have; others stay black.
static bool RowsTo24(const uint8_t* src, int64_t srcBytes, int32_t bits, bool topDown, const RGBQUAD* palette,
                     int32_t width, int32_t height, uint8_t* dst, int64_t dstStride) {
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    return DibRowsTo24(src, srcBytes, bits, topDown, palette, width, height, dst, dstStride);
}

FrameComposer::FrameComposer() = default;
FrameComposer::~FrameComposer() {
    Close();
}

void FrameComposer::Close() {
    for (Source& s : sources_)
        if (s.hic) ICClose(s.hic);
    sources_.clear();
    sourceOf_.clear();
    MyFree(frame_);
    MyFree(scratch_);
    frame_ = scratch_ = nullptr;
    frameBytes_ = scratchBytes_ = 0;
    head_ = nullptr;
    format_ = BITMAPINFOHEADER{};
}

int32_t FrameComposer::Open(AVIlist* head, int32_t width, int32_t height) {
    Close();
    if (!head) return 0;
    head_ = head;

    // Which file's bytes getFrameData delivers for each frame: an empty entry repeats the latest
    // non-empty one before it, which may lie in an earlier file. Empty entries with none before
    // them have no picture (getFrameData would hand out whatever chunk the file starts with).
    int32_t latest = -1;
    int32_t index = 0;
    for (AVIlist* r = head; r; r = r->next, index++) {
        for (int32_t i = 0; r->idx && i < r->nidx; i++) {
            const AVIINDEXENTRY& e = r->idx[i];
            if (ChunkType(e.ckid) == kTypeWB) continue;
            if (e.dwChunkLength != 0) latest = index;
            sourceOf_.push_back(latest);
        }
    }

    sources_.resize(static_cast<size_t>(index));
    index = 0;
    for (AVIlist* r = head; r; r = r->next, index++) {
        Source& s = sources_[static_cast<size_t>(index)];
        s.rec = r;
        s.sameSize = r->width == width && r->height == height;
        const uint32_t headerBytes =
            std::clamp<uint32_t>(ReadLE32(r->format), sizeof(BITMAPINFOHEADER), sizeof r->format);
        std::memcpy(s.in, r->format, headerBytes);
        if (r->bits > 0 && r->bits <= 8) {
            // The colour table is not kept with the list: read it from the file's headers.
            if (ReadAVIInfo(r->name) && AVIinfo.bitCount == r->bits)
                std::memcpy(s.palette, AVIinfo.palette, sizeof s.palette);
            if (AllZero(s.palette, kPaletteEntries))
                for (int32_t i = 0; i < kPaletteEntries; i++) {
                    const auto v = static_cast<uint8_t>(i);
                    s.palette[i] = RGBQUAD{v, v, v, 0};
                }
            s.inFormat()->biSize = sizeof(BITMAPINFOHEADER);
            s.inFormat()->biClrUsed = kPaletteEntries;
            std::memcpy(s.in + sizeof(BITMAPINFOHEADER), s.palette, sizeof s.palette);
        }
        s.inFormat()->biHeight = r->height;
        if (r->compression == BI_RGB) {
            std::memcpy(&s.decoded, s.in, sizeof s.decoded);
            continue;
        }
        s.hic = ICLocate(ICTYPE_VIDEO, 0, s.inFormat(), nullptr, ICMODE_DECOMPRESS);
        if (!s.hic) {
            NotifyBox("ICLocate failed");
            Close();
            return 0;
        }
    }

    const uint32_t stride = DibRowBytes(width, 24);
    if (width <= 0 || height <= 0 || width > kMaxCodecDimension || height > kMaxCodecDimension ||
        !(frame_ = static_cast<uint8_t*>(MyCalloc(stride, static_cast<uint32_t>(height))))) {
        NotifyBox("lpOut allocation failed");
        Close();
        return 0;
    }
    frameBytes_ = stride * static_cast<uint32_t>(height);
    format_.biSize = sizeof(BITMAPINFOHEADER);
    format_.biWidth = width;
    format_.biHeight = height;
    format_.biPlanes = 1;
    format_.biBitCount = 24;
    format_.biCompression = BI_RGB;
    format_.biSizeImage = frameBytes_;
    format_.biXPelsPerMeter = kPixelsPerMeter;
    format_.biYPelsPerMeter = kPixelsPerMeter;

    uint32_t scratch = 0;
    for (Source& s : sources_) {
        if (!s.hic) continue;
        BITMAPINFOHEADER* in = s.inFormat();
        const bool begun = ICDecompressGetFormat(s.hic, in, &s.decoded) == ICERR_OK &&
                           s.decoded.biWidth == s.rec->width &&
                           (s.decoded.biHeight == s.rec->height || s.decoded.biHeight == -s.rec->height) &&
                           ICDecompressBegin(s.hic, in, &s.decoded) == ICERR_OK;
        if (!begun) {
            NotifyBox("ICDecompressBegin failed");
            Close();
            return 0;
        }
        s.decodedTopDown = s.decoded.biHeight < 0;
        s.direct = s.decoded.biBitCount == 24 && s.decoded.biCompression == BI_RGB && !s.decodedTopDown;
        if (!s.direct && s.sameSize)
            scratch =
                std::max(scratch, DibRowBytes(width, s.decoded.biBitCount) * static_cast<uint32_t>(height));
    }
    if (scratch > 0 && !(scratch_ = static_cast<uint8_t*>(MyCalloc(scratch, 1)))) {
        NotifyBox("lpOut allocation failed");
        Close();
        return 0;
    }
    scratchBytes_ = scratch;
    return 1;
}

// Feeds frame m (its stored bytes) to its file's decoder; with output, the picture lands in the frame
// buffer.
void FrameComposer::Feed(Source& s, int32_t m, const uint8_t* data, int32_t size, bool output) {
    if (!s.sameSize) return;
    s.inFormat()->biSizeImage = static_cast<uint32_t>(size);
    void* out = s.direct ? static_cast<void*>(frame_) : static_cast<void*>(scratch_);
    const DWORD r =
        ICDecompress(s.hic, output ? 0 : ICDECOMPRESS_HURRYUP, s.inFormat(), data, &s.decoded, out);
    if (r != static_cast<DWORD>(ICERR_OK)) {
        DebugLog("    ICDecompress ERROR %ld", static_cast<long>(static_cast<int32_t>(r)));
        s.lastFed = 0;  // its state is unknown: the next delta frame starts again from its key frame
        return;
    }
    s.lastFed = m;
    if (output && !s.direct &&
        !RowsTo24(scratch_, scratchBytes_, s.decoded.biBitCount, s.decodedTopDown, s.palette, format_.biWidth,
                  format_.biHeight, frame_, DibRowBytes(format_.biWidth, 24)))
        DebugLog("render: decoder output of %ld bits per pixel not shown",
                 static_cast<long>(s.decoded.biBitCount));
}

bool FrameComposer::Decode(int32_t n) {
    if (!frame_) return false;
    const int32_t from =
        n >= 1 && static_cast<size_t>(n) <= sourceOf_.size() ? sourceOf_[static_cast<size_t>(n) - 1] : -1;
    Source* s = from >= 0 ? &sources_[static_cast<size_t>(from)] : nullptr;
    const int32_t i = n - 1;
    if (s && s->hic) {
        // A delta frame needs the frames since its key frame; a decoder that has just seen the frame
        // before this one holds them already.
        const int32_t k = FramesSinceKeyFrame(n, head_);
        if (k != 0 && s->lastFed != n - 1)
            for (int32_t m = std::max(i - k, 0) + 1; m <= i; m++) {
                const int32_t from = sourceOf_[static_cast<size_t>(m) - 1];
                if (from < 0 || !sources_[static_cast<size_t>(from)].hic) continue;
                const uint8_t* bytes = getFrameData(m, head_);
                if (bytes && lastFrameSize > 0)
                    Feed(sources_[static_cast<size_t>(from)], m, bytes, lastFrameSize, false);
            }
    }
    const uint8_t* data = s ? getFrameData(n, head_) : nullptr;
    const int32_t size = data ? lastFrameSize : 0;
    if (!data || size <= 0) {
        NotifyBox("failed to get data for frame %ld (%08lx %ld)", static_cast<long>(i),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(data)), static_cast<long>(size));
        return false;
    }
    if (!s->sameSize) {
        DebugLog("render: frame %ld is not of the project's size", static_cast<long>(n));
        return true;
    }
    if (s->hic) {
        Feed(*s, n, data, size, true);
        return true;
    }
    if (!RowsTo24(data, size, s->rec->bits, s->rec->topDown, s->palette, format_.biWidth, format_.biHeight,
                  frame_, DibRowBytes(format_.biWidth, 24)))
        DebugLog("render: stored frames of %ld bits per pixel not shown", static_cast<long>(s->rec->bits));
    return true;
}

bool FrameComposer::Compose(HWND window, int32_t n, uint32_t state) {
    if (!Decode(n)) return false;
    if (state & (kStateTitled | kStateUnderlaid)) ApplyTitle(window, frame_, &format_, n - 1);
    return true;
}
