#include "media/riff.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "core/checked.h"
#include "core/diag.h"
#include "core/memory.h"
#include "media/fileio.h"

namespace {

// LIST nesting deeper than this is skipped whole (AVI files nest three or four levels).
constexpr int kMaxListDepth = 16;
constexpr int32_t kAvihBytes = 56;
constexpr int32_t kStrhBytes = 64;
constexpr int32_t kCoreBlock = 400;
// idx1 entries summed per read when only the figures are wanted.
constexpr int32_t kIndexPiece = 2048;
constexpr uint16_t kWaveFormatPcm = 1;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;
// WAVEFORMATEXTENSIBLE: the 18-byte WAVEFORMATEX, 22 bytes of extension ending in the sub-format.
constexpr int32_t kExtensibleBytes = 40;
// KSDATAFORMAT_SUBTYPE_PCM as stored: 00000001-0000-0010-8000-00aa00389b71.
constexpr uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                       0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};

constexpr FOURCC kRIFF = FourCC("RIFF");
constexpr FOURCC kLIST = FourCC("LIST");
constexpr FOURCC kMovi = FourCC("movi");
constexpr FOURCC kAvih = FourCC("avih");
constexpr FOURCC kStrf = FourCC("strf");
constexpr FOURCC kStrh = FourCC("strh");
constexpr FOURCC kVids = FourCC("vids");
constexpr FOURCC kAuds = FourCC("auds");
constexpr FOURCC kTcO = FourCC("tc_O");
constexpr FOURCC kRnO = FourCC("rn_O");
constexpr FOURCC kIdx1 = FourCC("idx1");
constexpr FOURCC kCore = FourCC("CORE");
constexpr FOURCC kWave = FourCC("WAVE");
constexpr FOURCC kFmt = FourCC("fmt ");
constexpr FOURCC kData = FourCC("data");

int64_t Padded(uint32_t size) {
    return static_cast<int64_t>(size) + (size & 1);
}

int32_t Clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

bool IsVideoEntry(uint32_t ckid) {
    uint32_t t = ChunkType(ckid);
    return t == kTypeDB || t == kTypeDC || t == kTypeIV;
}

// Copies a fixed field of a CORE chunk into a terminated text.
void CopyText(char* dst, size_t capacity, const uint8_t* src, size_t count) {
    size_t n = std::min(count, capacity - 1);
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

// The chunk walk shared by ParseAVIChunks and LoadAVIIndex. No size read from the file is trusted:
// every chunk is bounded by what is left of its parent and of the file, so a chunk that claims more
// is cut there (its parent's walk then ends) and nothing is read past either.
class ChunkWalk {
  public:
    ChunkWalk(int32_t handle, bool loadIndex, AVIinfoRecord& info)
        : handle_(handle), loadIndex_(loadIndex), info_(info) {
        fileEnd_ = std::max(MyFileLength(handle), 0);
        int32_t at = MyTell(handle);
        pos_ = at < 0 ? 0 : at;
    }
    int64_t position() const { return pos_; }
    int64_t fileEnd() const { return fileEnd_; }

    // Walks the chunks from the current position up to end (never beyond the file). At depth 0 with
    // firstOnly, only the first chunk is examined. Returns the running offset, 0 on a failed read.
    int32_t Walk(int32_t offset, int64_t end, int depth, bool firstOnly) {
        end = std::min(end, fileEnd_);
        const int64_t start = pos_;
        const int32_t offset0 = offset;
        for (bool first = true;; first = false) {
            if (!first && firstOnly) return offset;
            if (!firstOnly && pos_ >= end) return offset;
            uint8_t head[8];
            if (MyRead(handle_, head, 4) != 4) {
                DebugLog("size mismatch");
                return 0;
            }
            pos_ += 4;
            FOURCC tag = ReadLE32(head);
            if (tag == kRIFF && depth == 0) return Riff(offset);
            if (MyRead(handle_, head + 4, 4) != 4) {
                DebugLog("size mismatch");
                return 0;
            }
            pos_ += 4;
            uint32_t size = ReadLE32(head + 4);
            int64_t avail = end - pos_;
            if (avail < 0) {
                DebugLog("chunk %4.4s header runs past its parent", reinterpret_cast<const char*>(head));
                return 0;
            }
            if (size > avail) {
                DebugLog("chunk %4.4s of %lu bytes cut to the %lld bytes its parent holds",
                         reinterpret_cast<const char*>(head), static_cast<unsigned long>(size),
                         static_cast<long long>(avail));
            }
            const int64_t body = std::min<int64_t>(size, avail);
            // The step to the next chunk: the size rounded to even (exact for tc_O and rn_O), never
            // past the parent.
            const int64_t step = std::min((tag == kTcO || tag == kRnO) ? body : Padded(size), avail);
            const int64_t bodyStart = pos_;
            if (tag == kLIST && body >= 4 && depth < kMaxListDepth) {
                uint8_t type[4];
                if (MyRead(handle_, type, 4) != 4) return 0;
                pos_ += 4;
                if (ReadLE32(type) == kMovi) {
                    if (!loadIndex_) info_.moviPosition = static_cast<uint32_t>(bodyStart);
                } else {
                    int32_t sub = Walk(Clamp32(bodyStart + 4), bodyStart + body, depth + 1, false);
                    if (sub == 0) return 0;
                }
            } else if (tag == kLIST) {
                // Too small to hold its type, or nested too deep: skipped whole.
                DebugLog("LIST of %lu bytes at depth %d skipped", static_cast<unsigned long>(size), depth);
            } else if (!Leaf(tag, size, static_cast<int32_t>(body))) {
                return 0;
            }
            // Skip what the chunk's handling left unread.
            int64_t rest = bodyStart + step - pos_;
            if (rest > 0) MySkip(handle_, static_cast<int32_t>(rest));
            pos_ = bodyStart + step;
            offset = Clamp32(static_cast<int64_t>(offset0) + (pos_ - start));
        }
    }

  private:
    int32_t Riff(int32_t offset) {
        uint8_t b[8];
        if (MyRead(handle_, b, 8) != 8) {
            DebugLog("size mismatch");
            return 0;
        }
        pos_ += 8;
        uint32_t size = ReadLE32(b);
        int64_t stated = static_cast<int64_t>(size) + 8;
        // A RIFF size beyond the file (a cut file, or a writer that never patched it) is taken as the
        // file's own length.
        if (!loadIndex_) info_.fileLength = Clamp32(std::min<int64_t>(stated, fileEnd_));
        int64_t end = pos_ - 4 + size;  // the form type counts in the size
        Walk(12, end, 1, false);
        (void)offset;
        return 12;
    }

    bool Read(void* buffer, int32_t count) {
        int32_t got = MyRead(handle_, buffer, count);
        if (got > 0) pos_ += got;
        return got == count;
    }

    bool Leaf(FOURCC tag, uint32_t size, int32_t body) {
        if (loadIndex_) {
            if (tag == kIdx1) return LoadIndex(body);
            return true;  // AVR0 and everything else: skipped
        }
        switch (tag) {
            case kAvih:
                return MainHeader(size, body);
            case kStrf:
                return StreamFormat(size, body);
            case kStrh:
                return StreamHeader(body);
            case kIdx1:
                return IndexFigures(body);
            case kCore:
                return Core(size, body);
            default:
                return true;
        }
    }

    bool MainHeader(uint32_t size, int32_t body) {
        if (size != kAvihBytes) DebugLog("** MainAVIHeader size mismatch");
        uint8_t b[kAvihBytes] = {};
        if (!Read(b, std::min(body, kAvihBytes))) return false;
        info_.frameTimeOrRate = static_cast<int32_t>(ReadLE32(b));
        info_.totalFrames = static_cast<int32_t>(ReadLE32(b + 16));
        info_.videoRate = 0;
        info_.videoScale = 0;
        info_.compression = 0;
        info_.videoHandler = 0;
        return true;
    }

    bool VideoFormat(int32_t body) {
        int32_t n = std::min(body, kVideoFormatBytes);
        if (n < 40) return true;  // cut before the header ends: nothing to take
        uint8_t* f = info_.videoFormat;
        if (!Read(f, n)) return false;
        std::memset(f + n, 0, kVideoFormatBytes - n);
        uint32_t headerSize = ReadLE32(f);
        if (headerSize > static_cast<uint32_t>(n)) {
            DebugLog("strf header size %lu cut to the %ld bytes read", static_cast<unsigned long>(headerSize),
                     static_cast<long>(n));
            headerSize = static_cast<uint32_t>(n);
            WriteLE32(f, headerSize);
        }
        info_.width = static_cast<int32_t>(ReadLE32(f + 4));
        int32_t height = static_cast<int32_t>(ReadLE32(f + 8));
        // Rows stored top to bottom: the height is kept positive and the order goes with the flag.
        info_.topDown = height < 0 && height != INT32_MIN;
        if (height == INT32_MIN) height = 0;
        if (height < 0) height = -height;
        WriteLE32(f + 8, static_cast<uint32_t>(height));
        info_.height = height;
        info_.bitCount = ReadLE16(f + 14);
        info_.compression = ReadLE32(f + 16);
        if (info_.bitCount == 8 && headerSize == 40) {
            int32_t entries = std::min((n - 40) / 4, 256);
            std::memset(info_.palette, 0, sizeof(info_.palette));
            std::memcpy(info_.palette, f + 40, static_cast<size_t>(entries) * 4);
        }
        return true;
    }

    // A strf is the format of the stream whose strh came before it: the first video stream gives
    // the picture format, the first audio stream the sound format. A strf with no strh before it
    // is judged by its size alone.
    bool StreamFormat(uint32_t size, int32_t body) {
        if (streams_ == 0) {
            if (size >= 40) return VideoFormat(body);
            if (size == 16 && body == 16) return AudioFormat(body, false);
            return true;
        }
        if (streams_ == videoStream_ && size >= 40) return VideoFormat(body);
        if (streams_ == audioStream_) return AudioFormat(body, true);
        return true;
    }

    // The sound format when it is PCM: format tag 1 in a wave format of 16 bytes or more, or the
    // extensible form with the PCM sub-format. Any other coding leaves no sound.
    bool AudioFormat(int32_t body, bool checkCoding) {
        uint8_t b[kExtensibleBytes] = {};
        const int32_t n = std::min(body, kExtensibleBytes);
        if (n < 16) return true;
        if (!Read(b, n)) return false;
        const uint16_t tag = ReadLE16(b);
        const bool extensiblePcm = tag == kWaveFormatExtensible && n >= kExtensibleBytes &&
                                   ReadLE16(b + 16) >= 22 && std::memcmp(b + 24, kPcmSubFormat, 16) == 0;
        if (checkCoding && tag != kWaveFormatPcm && !extensiblePcm) {
            DebugLog("audio coding %04x is not PCM: no sound", static_cast<unsigned>(tag));
            return true;
        }
        if (extensiblePcm) WriteLE16(b, kWaveFormatPcm);
        std::memcpy(&info_.audioFormat, b, 16);
        info_.samplesPerSec = static_cast<int32_t>(ReadLE32(b + 4));
        info_.channels = ReadLE16(b + 2);
        info_.bitsPerSample = ReadLE16(b + 14);
        return true;
    }

    bool StreamHeader(int32_t body) {
        uint8_t b[kStrhBytes] = {};
        if (!Read(b, std::min(body, kStrhBytes))) return false;
        streams_++;
        if (ReadLE32(b) == kVids && videoStream_ == 0) videoStream_ = streams_;
        if (ReadLE32(b) == kAuds && audioStream_ == 0) audioStream_ = streams_;
        if (ReadLE32(b) == kVids) {
            info_.videoHandler = ReadLE32(b + 4);
            info_.videoScale = ReadLE32(b + 20);
            info_.videoRate = ReadLE32(b + 24);
            info_.videoQuality = ReadLE32(b + 40);
        } else {
            info_.audioLength = static_cast<int32_t>(ReadLE32(b + 32));
        }
        return true;
    }

    // Dropped frames and the two figures, from the video entries of the index; read in pieces, so
    // no block is sized by the chunk's stated length.
    bool IndexFigures(int32_t body) {
        int32_t entries = body / 16;
        int64_t sum = 0;
        int64_t counted = 0;
        int32_t dropped = 0;
        AVIINDEXENTRY piece[kIndexPiece];
        for (int32_t done = 0; done < entries;) {
            int32_t n = std::min(entries - done, kIndexPiece);
            if (!Read(piece, n * 16)) return false;
            for (int32_t i = 0; i < n; i++) {
                uint32_t ckid = ReadLE32(&piece[i].ckid);
                if (!IsVideoEntry(ckid)) continue;
                uint32_t len = ReadLE32(&piece[i].dwChunkLength);
                if (len == 0) {
                    dropped++;
                } else {
                    sum += len;
                    counted++;
                }
            }
            done += n;
        }
        info_.droppedFrames = dropped;
        SetFrameFigures(info_, counted ? sum / counted : 0);
        return true;
    }

    bool Core(uint32_t size, int32_t body) {
        if (size > static_cast<uint32_t>(kCoreBlock)) {
            NotifyBox("CORE ERROR - chunk too large");
            return true;
        }
        uint8_t b[kCoreBlock] = {};
        if (!Read(b, body)) return false;
        CopyText(info_.sourceName, sizeof(info_.sourceName), b, 40);
        CopyText(info_.sourceTag, sizeof(info_.sourceTag), b + 40, 16);
        info_.sourceValue = static_cast<int32_t>(ReadLE32(b + 56));
        CopyText(info_.sourceComment, sizeof(info_.sourceComment), b + 60, 100);
        return true;
    }

    // The index as far as the file holds it: the entry count comes from the bytes really there.
    bool LoadIndex(int32_t body) {
        if (info_.index) {
            DebugLog("second idx1 chunk ignored");
            return true;
        }
        int32_t count = body / 16;
        auto* entries = static_cast<AVIINDEXENTRY*>(MyCalloc(static_cast<uint32_t>(count), 16));
        if (!entries) return true;  // skipped
        int32_t got = MyRead(handle_, entries, count * 16);
        if (got > 0) pos_ += got;
        if (got < count * 16)
            DebugLog("idx1 read error got:%ld, want:%ld", static_cast<long>(got),
                     static_cast<long>(count) * 16);
        info_.index = entries;
        info_.indexCount = got > 0 ? got / 16 : 0;
        return got == count * 16;
    }

    int32_t handle_;
    bool loadIndex_;
    AVIinfoRecord& info_;  // what the walk fills
    int64_t fileEnd_ = 0;
    int64_t pos_ = 0;
    // Stream headers seen so far, and the numbers (from 1) of the first video and audio streams.
    int32_t streams_ = 0;
    int32_t videoStream_ = 0;
    int32_t audioStream_ = 0;
};

int32_t RunWalk(int32_t handle, int32_t offset, int32_t limit, int32_t depth, bool loadIndex,
                AVIinfoRecord& info) {
    if (handle <= 0) return 0;
    ChunkWalk walk(handle, loadIndex, info);
    // At depth 0 a limit of 0 examines the first chunk only (a file that is not RIFF).
    if (depth == 0 && limit <= 0) return walk.Walk(offset, walk.fileEnd(), 0, true);
    return walk.Walk(offset, walk.position() + std::max(limit, 0), depth, false);
}

// The fields ReadAVIInfo zeroes; ReadWaveInfo keeps droppedFrames, compressionFigure and audioLength.
void ResetInfo(AVIinfoRecord& info, bool wave) {
    info.frameTimeOrRate = 0;
    info.width = 0;
    info.height = 0;
    info.bitCount = 0;
    info.samplesPerSec = 0;
    info.channels = 0;
    info.bitsPerSample = 0;
    if (!wave) {
        info.audioLength = 0;
        info.droppedFrames = 0;
        info.compressionFigure = 0;
    }
    info.sourceName[0] = 0;
    info.sourceTag[0] = 0;
    info.sourceValue = 0;
    info.sourceComment[0] = 0;
    info.moviPosition = 0;
    info.topDown = false;
}

}  // namespace

void SetFrameFigures(AVIinfoRecord& info, int64_t averageBytes) {
    info.frameTimeOrRate = Clamp32((averageBytes * 30 + 50000) / 100000);
    // Stated sizes near 2^31 make a product beyond 64 bits: it stops at the limit.
    const int64_t pixels = static_cast<int64_t>(info.width) * info.height;
    info.compressionFigure =
        averageBytes ? Clamp32(SaturatedAdd(SaturatedMul(pixels, 20), averageBytes / 2) / averageBytes) : 0;
}

int32_t ParseAVIChunks(int32_t handle, int32_t offset, int32_t limit, int32_t depth, AVIinfoRecord& info) {
    return RunWalk(handle, offset, limit, depth, false, info);
}

int32_t LoadAVIIndex(int32_t handle, int32_t offset, int32_t limit, int32_t depth, AVIinfoRecord& info) {
    if (depth == 0) {
        info.index = nullptr;
        info.indexCount = 0;
    }
    return RunWalk(handle, offset, limit, depth, true, info);
}

int32_t ReadAVIInfo(const char* name, AVIinfoRecord& info) {
    int32_t h = MyOpenRead(name);
    if (!h) return 0;
    ResetInfo(info, false);
    ParseAVIChunks(h, 0, 0, 0, info);
    MyClose(h);
    return info.width != 0 ? 1 : 0;
}

int32_t ReadWaveHeader(int32_t handle, AVIinfoRecord& info) {
    if (handle <= 0) return 0;
    int64_t fileEnd = std::max(MyFileLength(handle), 0);
    uint8_t b[16];
    if (MyRead(handle, b, 12) != 12 || ReadLE32(b) != kRIFF || ReadLE32(b + 8) != kWave) return 0;
    if (MyRead(handle, b, 8) != 8 || ReadLE32(b) != kFmt || ReadLE32(b + 4) != 16) return 0;
    PCMWAVEFORMAT format;
    if (MyRead(handle, &format, 16) != 16) return 0;
    int64_t pos = 36;
    for (;;) {
        if (MyRead(handle, b, 8) != 8) return 0;
        pos += 8;
        uint32_t size = ReadLE32(b + 4);
        if (ReadLE32(b) == kData) {
            // A data size beyond the file (a cut file, or a stream writer's 0xFFFFFFFF) is the bytes
            // really there.
            int64_t there = std::max<int64_t>(fileEnd - pos, 0);
            info.samplesPerSec = static_cast<int32_t>(format.nSamplesPerSec);
            info.bitsPerSample = format.wBitsPerSample;
            info.channels = format.nChannels;
            info.audioLength = Clamp32(std::min<int64_t>(size, there));
            return 1;
        }
        // Skipped by the stated size (not rounded), only ever forward and never past the file.
        if (pos + size > fileEnd) return 0;
        MySkip(handle, static_cast<int32_t>(size));
        pos += size;
    }
}

int32_t ReadWaveInfo(const char* name, AVIinfoRecord& info) {
    int32_t h = MyOpenRead(name);
    if (!h) return 0;
    ResetInfo(info, true);
    ReadWaveHeader(h, info);
    MyClose(h);
    return info.samplesPerSec != 0 ? 1 : 0;
}
