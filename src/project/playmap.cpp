#include "project/playmap.h"

#include <cmath>
#include <vector>

#include "core/diag.h"
#include "core/memory.h"
#include "project/project.h"

namespace {

// Audio formats beyond these are taken as damage: the file plays without sound.
constexpr int32_t kMaxAudioChannels = 64;
constexpr int32_t kMaxSampleBits = 64;
// Sample numbers are held below this, far beyond any real file, so byte products stay in 64 bits.
constexpr double kMaxSampleNumber = 1e15;

struct SampleSpan {
    int64_t first;  // first sample number, from 1
    int64_t count;
};

void StorePiece(PlayAudioRecord& rec, int64_t offset, int64_t count) {
    if (offset <= 0 || offset > INT32_MAX || count < 0 || count > INT32_MAX) {
        DebugLog("BuildPlayAudioMap: piece %lld %lld out of range", static_cast<long long>(offset),
                 static_cast<long long>(count));
        return;
    }
    AudioPiece* slot = &rec.pieces[2];
    for (AudioPiece& p : rec.pieces)
        if (p.offset == 0) {
            slot = &p;
            break;
        }
    slot->offset = static_cast<int32_t>(offset);
    slot->count = static_cast<int32_t>(count);
}

}  // namespace

uint32_t* BuildPlayMap(int32_t* positions, PlayMapMarks* marks) {
    *positions = 0;
    int32_t total = gProject.totalFrames;
    if (total < 0 || total > static_cast<int32_t>(kPlayMapFrameMask)) return nullptr;
    auto* map = static_cast<uint32_t*>(MyCalloc(static_cast<uint32_t>(total), sizeof(uint32_t)));
    if (!map) return nullptr;
    int32_t kept = 0;
    int32_t last = 0;
    for (int32_t i = 0; i < total; i++) {
        uint32_t state = FrameState(i + 1);
        map[i] = state << kPlayMapStateShift;
        if (!(state & kStateInactive)) {
            if (state & kStateDropped) {
                map[kept] |= static_cast<uint32_t>(last + 1);  // shows the last plain frame again
            } else {
                map[kept] |= static_cast<uint32_t>(i + 1);
                last = i;
            }
            kept++;
        }
        if (marks) {
            if (i == marks->startIndex) marks->startPosition = kept > 0 ? kept - 1 : 0;
            if (i == marks->endIndex) marks->endPosition = kept > 0 ? kept - 1 : 0;
        }
    }
    *positions = kept;
    return map;
}

uint32_t* BuildMarkingMap(int32_t* positions) {
    *positions = 0;
    const int32_t total = gProject.totalFrames;
    if (total < 0 || total > static_cast<int32_t>(kPlayMapFrameMask)) return nullptr;
    auto* map = static_cast<uint32_t*>(MyCalloc(static_cast<uint32_t>(total), sizeof(uint32_t)));
    if (!map) return nullptr;
    for (int32_t i = 0; i < total; i++)
        map[i] = FrameState(i + 1) << kPlayMapStateShift | static_cast<uint32_t>(i + 1);
    *positions = total;
    return map;
}

PlayAudioRecord* BuildPlayAudioMap() {
    const AVIlist* rec = gProject.head;
    if (!rec || rec->samplesPerSec <= 0 || rec->rate == 0) return nullptr;
    if (rec->channels <= 0 || rec->channels > kMaxAudioChannels || rec->sampleBits <= 0 ||
        rec->sampleBits > kMaxSampleBits)
        return nullptr;
    const int64_t bytesPerSample = static_cast<int64_t>(rec->channels) * (rec->sampleBits / 8);
    const int32_t total = gProject.totalFrames;
    if (bytesPerSample <= 0 || total <= 0) return nullptr;
    auto* map =
        static_cast<PlayAudioRecord*>(MyCalloc(static_cast<uint32_t>(total), sizeof(PlayAudioRecord)));
    if (!map) return nullptr;

    // Sample spans of the kept positions of the first file's frames; an inactive frame's samples
    // are passed over.
    const int32_t firstFrames = rec->frames < total ? rec->frames : total;
    std::vector<SampleSpan> spans;
    int64_t e = 0;
    for (int32_t n = 1; n <= firstFrames; n++) {
        double x = std::trunc(static_cast<double>(rec->scale) * rec->samplesPerSec * n / rec->rate);
        int64_t end = static_cast<int64_t>(x < kMaxSampleNumber ? x : kMaxSampleNumber) - 1;
        if (!(FrameState(n) & kStateInactive)) spans.push_back({e + 1, end - e});
        e = end;
    }
    const auto kept = static_cast<int32_t>(spans.size());
    if (kept == 0) return map;

    int32_t r = 0;
    int64_t s = (spans[0].first - 1) * bytesPerSample + 1;  // byte numbers of the audio stream, from 1
    int64_t t = (spans[0].first - 1 + spans[0].count) * bytesPerSample;
    int64_t bytes = 0;
    for (int32_t i = 0; i < rec->nidx && r < kept; i++) {
        const AVIINDEXENTRY& entry = rec->idx[i];
        if (ChunkType(entry.ckid) != kTypeWB) continue;
        int64_t c0 = bytes + 1;
        bytes += entry.dwChunkLength;
        while (s <= bytes) {
            int64_t offset = static_cast<int64_t>(entry.dwChunkOffset) + s - c0;
            if (t > bytes) {
                StorePiece(map[r], offset, bytes - s + 1);
                s = bytes + 1;
                break;
            }
            StorePiece(map[r], offset, t - s + 1);
            if (++r >= kept) break;
            s = (spans[r].first - 1) * bytesPerSample + 1;
            t = (spans[r].first - 1 + spans[r].count) * bytesPerSample;
        }
    }
    if (r < kept)
        NotifyBox("Audio insufficient for frame length: %ld %ld", static_cast<long>(r),
                  static_cast<long>(kept));
    return map;
}
