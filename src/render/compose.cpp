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
    bool delta = false;   // some stored frames depend on the ones before them
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
    storedOf_.clear();
    MyFree(frame_);
    MyFree(scratch_);
    frame_ = scratch_ = nullptr;
    frameBytes_ = scratchBytes_ = 0;
    head_ = nullptr;
    frames_.reset();
    format_ = BITMAPINFOHEADER{};
    decodeWidth_ = decodeHeight_ = 0;
    own_.Clear();
    unopened_ = nullptr;
    unopenedReads_ = 0;
}

int32_t FrameComposer::Open(AVIlist* head, int32_t width, int32_t height, int32_t decodeWidth,
                            int32_t decodeHeight) {
    Close();
    if (!head) return 0;
    head_ = head;
    const bool small = decodeWidth > 0 && decodeHeight > 0 && (decodeWidth < width || decodeHeight < height);
    if (small) {
        decodeWidth_ = std::min(decodeWidth, width);
        decodeHeight_ = std::min(decodeHeight, height);
    }
    const int32_t outWidth = small ? decodeWidth_ : width;
    const int32_t outHeight = small ? decodeHeight_ : height;

    // Which file's bytes getFrameData delivers for each frame: an empty entry repeats the latest
    // non-empty one before it, which may lie in an earlier file. Empty entries with none before
    // them have no picture (getFrameData would hand out whatever chunk the file starts with).
    int32_t latest = -1;
    uint32_t latestBytes = 0;
    int32_t index = 0;
    for (AVIlist* r = head; r; r = r->next, index++) {
        for (int32_t i = 0; r->idx && i < r->nidx; i++) {
            const AVIINDEXENTRY& e = r->idx[i];
            if (ChunkType(e.ckid) == kTypeWB) continue;
            if (e.dwChunkLength != 0) latest = index, latestBytes = std::min(e.dwChunkLength, head->vsize);
            sourceOf_.push_back(latest);
            storedOf_.push_back(latest < 0 ? 0 : latestBytes);
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
            AVIinfoRecord info{};
            if (ReadAVIInfo(r->name, info) && info.bitCount == r->bits)
                std::memcpy(s.palette, info.palette, sizeof s.palette);
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
        for (int32_t i = 0; r->idx && i < r->nidx && !s.delta; i++) {
            const AVIINDEXENTRY& e = r->idx[i];
            s.delta = ChunkType(e.ckid) != kTypeWB && e.dwChunkLength != 0 && !(e.dwFlags & AVIIF_KEYFRAME);
        }
        s.hic = ICLocate(ICTYPE_VIDEO, 0, s.inFormat(), nullptr, ICMODE_DECOMPRESS);
        if (!s.hic) {
            NotifyBox("ICLocate failed");
            Close();
            return 0;
        }
    }

    const uint32_t stride = DibRowBytes(outWidth, 24);
    if (width <= 0 || height <= 0 || width > kMaxCodecDimension || height > kMaxCodecDimension ||
        !(frame_ = static_cast<uint8_t*>(MyCalloc(stride, static_cast<uint32_t>(outHeight))))) {
        NotifyBox("lpOut allocation failed");
        Close();
        return 0;
    }
    frameBytes_ = stride * static_cast<uint32_t>(outHeight);
    format_.biSize = sizeof(BITMAPINFOHEADER);
    format_.biWidth = outWidth;
    format_.biHeight = outHeight;
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
        bool begun = ICDecompressGetFormat(s.hic, in, &s.decoded) == ICERR_OK &&
                     s.decoded.biWidth == s.rec->width &&
                     (s.decoded.biHeight == s.rec->height || s.decoded.biHeight == -s.rec->height);
        if (begun && small) {
            // Scaled down by the decoder, bottom-up 24-bit rows.
            s.decoded.biWidth = outWidth;
            s.decoded.biHeight = outHeight;
            s.decoded.biBitCount = 24;
            s.decoded.biCompression = BI_RGB;
            s.decoded.biSizeImage = frameBytes_;
        }
        begun = begun && ICDecompressBegin(s.hic, in, &s.decoded) == ICERR_OK;
        if (!begun) {
            NotifyBox("ICDecompressBegin failed");
            Close();
            return 0;
        }
        s.decodedTopDown = s.decoded.biHeight < 0;
        s.direct = s.decoded.biBitCount == 24 && s.decoded.biCompression == BI_RGB && !s.decodedTopDown;
        if (!s.direct && s.sameSize)
            scratch = std::max(
                scratch, DibRowBytes(outWidth, s.decoded.biBitCount) * static_cast<uint32_t>(outHeight));
    }
    if (scratch > 0 && !(scratch_ = static_cast<uint8_t*>(MyCalloc(scratch, 1)))) {
        NotifyBox("lpOut allocation failed");
        Close();
        return 0;
    }
    scratchBytes_ = scratch;
    return 1;
}

int32_t FrameComposer::SourceOf(int32_t n) const {
    return n >= 1 && static_cast<size_t>(n) <= sourceOf_.size() ? sourceOf_[static_cast<size_t>(n) - 1] : -1;
}

bool FrameComposer::HasDeltaFrames(int32_t source) const {
    return source >= 0 && static_cast<size_t>(source) < sources_.size() &&
           sources_[static_cast<size_t>(source)].delta;
}

const AVIlist* FrameComposer::SourceRecord(int32_t source) const {
    return source >= 0 && static_cast<size_t>(source) < sources_.size()
               ? sources_[static_cast<size_t>(source)].rec
               : nullptr;
}

uint32_t FrameComposer::StoredBytes(int32_t n) const {
    return n >= 1 && static_cast<size_t>(n) <= storedOf_.size() ? storedOf_[static_cast<size_t>(n) - 1] : 0;
}

ChainFrames& FrameComposer::Frames() const {
    if (!frames_) frames_ = std::make_unique<ChainFrames>(head_);
    return *frames_;
}

int32_t FrameComposer::KeyFrameOf(int32_t n) const {
    return n - std::max(Frames().SinceKeyFrame(n), 0);
}

// Lands what the decoder wrote to the scratch buffer in the frame buffer.
void FrameComposer::Land(Source& s) {
    if (!s.direct && !RowsTo24(scratch_, scratchBytes_, s.decoded.biBitCount, s.decodedTopDown, s.palette,
                               format_.biWidth, format_.biHeight, frame_, DibRowBytes(format_.biWidth, 24)))
        DebugLog("render: decoder output of %ld bits per pixel not shown",
                 static_cast<long>(s.decoded.biBitCount));
}

// Feeds frame m (its stored bytes) to its file's decoder; with output, the picture lands in the frame
// buffer. False when the decoder failed.
bool FrameComposer::Feed(Source& s, int32_t m, const uint8_t* data, int32_t size, bool output) {
    if (!s.sameSize || !s.hic) return false;
    s.inFormat()->biSizeImage = static_cast<uint32_t>(size);
    void* out = s.direct ? static_cast<void*>(frame_) : static_cast<void*>(scratch_);
    const DWORD r =
        ICDecompress(s.hic, output ? 0 : ICDECOMPRESS_HURRYUP, s.inFormat(), data, &s.decoded, out);
    if (r != static_cast<DWORD>(ICERR_OK)) {
        DebugLog("    ICDecompress ERROR %ld", static_cast<long>(static_cast<int32_t>(r)));
        s.lastFed = 0;  // its state is unknown: the next delta frame starts again from its key frame
        return false;
    }
    s.lastFed = m;
    if (output) Land(s);
    return true;
}

bool FrameComposer::Read(int32_t n, int32_t lastFed, FramePacket& packet) {
    packet.Clear();
    const int32_t from = SourceOf(n);
    const Source* s = from >= 0 ? &sources_[static_cast<size_t>(from)] : nullptr;
    const int32_t i = n - 1;
    auto add = [&packet](int32_t m, int32_t source, const uint8_t* bytes, int32_t size) {
        const auto at = static_cast<uint32_t>(packet.data.size());
        packet.data.insert(packet.data.end(), bytes, bytes + size);
        packet.pieces.push_back({m, source, at, static_cast<uint32_t>(size)});
    };
    if (s && s->hic) {
        // A delta frame needs the frames since its key frame; a decoder that has seen a frame of the
        // same run before this one holds the frames up to that one already.
        const int32_t k = Frames().SinceKeyFrame(n);
        int32_t first = std::max(i - k, 0) + 1;
        if (lastFed >= first && lastFed < n) first = lastFed + 1;
        if (k != 0)
            for (int32_t m = first; m <= i; m++) {
                const int32_t source = SourceOf(m);
                if (source < 0 || !sources_[static_cast<size_t>(source)].hic) continue;
                const uint8_t* bytes = Frames().FrameData(m);
                if (bytes && lastFrameSize > 0) add(m, source, bytes, lastFrameSize);
            }
    }
    const uint8_t* data = s ? Frames().FrameData(n) : nullptr;
    const int32_t size = data ? lastFrameSize : 0;
    if (s && size <= 0 && s->rec->openError != 0) {
        unopened_ = s->rec;
        unopenedReads_++;
        packet.Clear();
        return false;
    }
    if (!data || size <= 0) {
        NotifyBox("failed to get data for frame %ld (%08lx %ld)", static_cast<long>(i),
                  static_cast<unsigned long>(reinterpret_cast<uintptr_t>(data)), static_cast<long>(size));
        packet.Clear();
        return false;
    }
    add(n, from, data, size);
    return true;
}

FrameComposer::Picture FrameComposer::Decode(const FramePacket& packet, uint8_t* j420) {
    if (!frame_ || packet.pieces.empty()) return Picture::kNone;
    for (size_t p = 0; p + 1 < packet.pieces.size(); p++) {
        const FramePacket::Piece& lead = packet.pieces[p];
        Feed(sources_[static_cast<size_t>(lead.source)], lead.n, packet.Bytes(lead),
             static_cast<int32_t>(lead.size), false);
    }
    const FramePacket::Piece& last = packet.pieces.back();
    Source& s = sources_[static_cast<size_t>(last.source)];
    const uint8_t* data = packet.Bytes(last);
    const auto size = static_cast<int32_t>(last.size);
    if (!s.sameSize) {
        DebugLog("render: frame %ld is not of the project's size", static_cast<long>(last.n));
        return Picture::kNone;
    }
    if (!s.hic) {
        if (decodeWidth_) return Picture::kNone;
        if (!RowsTo24(data, size, s.rec->bits, s.rec->topDown, s.palette, format_.biWidth, format_.biHeight,
                      frame_, DibRowBytes(format_.biWidth, 24)))
            DebugLog("render: stored frames of %ld bits per pixel not shown", static_cast<long>(s.rec->bits));
        return Picture::kBgr;
    }
    if (!j420 || decodeWidth_) return Feed(s, last.n, data, size, true) ? Picture::kBgr : Picture::kNone;
    BITMAPINFOHEADER planar = J420Format(format_.biWidth, format_.biHeight);
    s.inFormat()->biSizeImage = static_cast<uint32_t>(size);
    DWORD r = ICDecompress(s.hic, 0, s.inFormat(), data, &planar, j420);
    if (r == static_cast<DWORD>(ICERR_OK)) {
        s.lastFed = last.n;
        return Picture::kJ420;
    }
    if (r == static_cast<DWORD>(ICERR_BADFORMAT)) {
        // Decoded, but not a picture the planar form carries: it is written as 24-bit pixels.
        void* out = s.direct ? static_cast<void*>(frame_) : static_cast<void*>(scratch_);
        r = ICDecompress(s.hic, ICDECOMPRESS_UPDATE, s.inFormat(), nullptr, &s.decoded, out);
        if (r == static_cast<DWORD>(ICERR_OK)) {
            s.lastFed = last.n;
            Land(s);
            return Picture::kBgr;
        }
    }
    DebugLog("    ICDecompress ERROR %ld", static_cast<long>(static_cast<int32_t>(r)));
    s.lastFed = 0;
    return Picture::kNone;
}

bool FrameComposer::Decode(int32_t n) {
    if (!frame_) return false;
    const int32_t from = SourceOf(n);
    const int32_t lastFed = from >= 0 ? sources_[static_cast<size_t>(from)].lastFed : 0;
    const int32_t unopened = unopenedReads_;
    if (!Read(n, lastFed, own_)) {
        if (unopenedReads_ != unopened) NotifyFileNotOpened(unopened_->name, ClipOpenFailure(unopened_));
        return false;
    }
    Decode(own_);
    return true;
}

bool FrameComposer::Compose(int32_t n, const OverlayList& overlays) {
    if (!Decode(n)) return false;
    if (!overlays.empty()) ApplyOverlays(frame_, &format_, overlays);
    return true;
}
