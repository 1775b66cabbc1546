// A clip opened for the project's list, then read as playback and the render read it: every frame
// with its key-frame distance, the sound by offset and by chunk, and raw chunk reads.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "media/avilist.h"
#include "support.h"

namespace {

// More frames than any seed holds; past it a file with a huge index is not read to its end.
constexpr int32_t kMaxFramesRead = 4096;
constexpr int32_t kMaxAudioReads = 256;

void ReadEverything(AVIlist* rec) {
    int32_t videoEntries = 0;
    int32_t audioEntries = 0;
    for (int32_t i = 0; i < rec->nidx; i++) {
        if (ChunkType(rec->idx[i].ckid) == kTypeWB)
            audioEntries++;
        else
            videoEntries++;
    }
    const int32_t frames = std::min(videoEntries + 1, kMaxFramesRead);
    for (int32_t n = 0; n <= frames; n++) {
        const uint8_t* bytes = getFrameData(n, rec);
        FUZZ_CHECK(lastFrameSize >= 0 && static_cast<uint32_t>(lastFrameSize) <= rec->vsize);
        if (bytes && lastFrameSize > 0) {
            // Touch the first and last byte delivered: both must lie inside the buffer.
            volatile uint8_t sink = bytes[0];
            sink = bytes[lastFrameSize - 1];
            (void)sink;
        }
        const int32_t sinceKey = FramesSinceKeyFrame(n, rec);
        FUZZ_CHECK(sinceKey >= 0 && sinceKey <= n);  // never before the first frame
    }

    // The sound: every chunk by its ordinal and a few offsets inside it, then offset reads.
    for (int32_t k = 0; k < std::min(audioEntries + 1, kMaxAudioReads); k++) {
        for (int32_t b : {0, 1, 1000}) {
            AudioSpan* span = FindAudioData(k, rec, b);
            if (!span) continue;
            FUZZ_CHECK(span->bytes > 0 && static_cast<uint32_t>(span->bytes) <= rec->asize);
            FUZZ_CHECK(span->data >= rec->aptr && span->data + span->bytes <= rec->aptr + rec->asize);
        }
    }
    for (int32_t i = 0, reads = 0; i < rec->nidx && reads < kMaxAudioReads; i++) {
        const AVIINDEXENTRY& e = rec->idx[i];
        if (ChunkType(e.ckid) != kTypeWB) continue;
        reads++;
        const auto offset = static_cast<int32_t>(std::min<uint32_t>(e.dwChunkOffset, INT32_MAX));
        for (int32_t count : {static_cast<int32_t>(std::min<uint32_t>(e.dwChunkLength, INT32_MAX)), 1, -1,
                              static_cast<int32_t>(rec->asize) + 1})
            GetAudioData(rec, offset, count);
    }

    uint8_t buffer[64];
    for (int32_t offset : {0, 8, 12, INT32_MAX})
        FUZZ_CHECK(ReadChunkAt(1, rec, offset, buffer, sizeof buffer) <= static_cast<int32_t>(sizeof buffer));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string path = FuzzWrite("input.avi", data, size);
    MonitorBalance balance;
    // The whole clip, then a range of it as the storyboard's Shift+preview opens one.
    for (auto [first, last] : {std::pair<int32_t, int32_t>{0, -1}, {2, 5}}) {
        AVIlist* rec = OpenAVIforList(path.c_str(), first, last);
        if (!rec) continue;
        FUZZ_CHECK(rec->height >= 0);
        FUZZ_CHECK(rec->nidx >= 0 && static_cast<size_t>(rec->nidx) * 16 <= size);
        ReadEverything(rec);
        CloseAVIlist(rec);
    }
    gSkippedFrames = -1;
    FuzzTakeMessageCount();
    return 0;
}
