#include "render/audioplan.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "core/checked.h"
#include "core/diag.h"
#include "core/memory.h"

namespace {

// Frames and pieces a plan holds at most.
constexpr int64_t kMaxPlanEntries = 64 * 1024 * 1024;

bool IsAudioEntry(const AVIINDEXENTRY& e) {
    return ChunkType(e.ckid) == kTypeWB;
}

int32_t VideoEntries(const AVIlist* r) {
    int32_t n = 0;
    for (int32_t i = 0; r->idx && i < r->nidx; i++)
        if (!IsAudioEntry(r->idx[i])) n++;
    return n;
}

bool SameAudio(const AVIlist* a, const AVIlist* b) {
    return a->samplesPerSec == b->samplesPerSec && a->channels == b->channels &&
           a->sampleBits == b->sampleBits;
}

// Byte numbers (from 1) of the audio stream that frame j covers.
struct ByteRange {
    int64_t first;
    int64_t last;
};

}  // namespace

int64_t FrameAudioEnd(uint32_t scale, uint32_t rate, int32_t samplesPerSec, int64_t i) {
    if (i <= 0) return 0;
    const double r = rate ? static_cast<double>(rate) : 1000000.0;
    const double samples =
        std::trunc(static_cast<double>(scale) * samplesPerSec * static_cast<double>(i) / r);
    if (!(samples >= 1)) return 0;  // a frame shorter than a sample, or a nonsense rate
    return samples > 4e18 ? static_cast<int64_t>(4e18) : static_cast<int64_t>(samples) - 1;
}

int32_t AudioSampleBytes(int32_t samplesPerSec, int32_t channels, int32_t sampleBits) {
    if (samplesPerSec <= 0 || channels <= 0 || sampleBits < 8 || channels > 64 || sampleBits > 64) return 0;
    return (sampleBits / 8) * channels;
}

void AudioList::Release() {
    MyFree(slots_);
    MyFree(pieces_);
    slots_ = nullptr;
    pieces_ = nullptr;
    frameCount_ = pieceCount_ = pieceCapacity_ = 0;
}

void AudioList::Add(int32_t frame, AVIlist* source, int64_t offset, int64_t count) {
    if (count <= 0 || frame < 1 || frame > frameCount_ || pieceCount_ >= pieceCapacity_) return;
    if (offset < 0 || offset > INT32_MAX || count > INT32_MAX) return;
    FrameSlot& s = slots_[frame - 1];
    if (s.count == 0) s.first = pieceCount_;
    s.count++;
    pieces_[pieceCount_++] = AudioPiece{source, static_cast<int32_t>(offset), static_cast<int32_t>(count)};
}

bool AudioList::Plan(AVIlist* head) {
    Release();
    if (!head) return false;
    const int32_t sampleBytes = AudioSampleBytes(head->samplesPerSec, head->channels, head->sampleBits);
    if (sampleBytes == 0) return false;
    const int32_t sps = head->samplesPerSec;

    // Each piece ends at a frame's end or at an entry's end, and silence adds one per frame.
    int64_t frames = 0, entries = 0;
    for (const AVIlist* r = head; r; r = r->next) {
        frames += VideoEntries(r);
        if (SameAudio(r, head))
            for (int32_t i = 0; r->idx && i < r->nidx; i++) entries += IsAudioEntry(r->idx[i]) ? 1 : 0;
    }
    const int64_t capacity = 2 * frames + entries;
    if (frames > kMaxPlanEntries || capacity > kMaxPlanEntries) {
        DebugLog("Failed to allocate AudioList");
        return false;
    }
    if (frames == 0) return true;
    slots_ = static_cast<FrameSlot*>(MyCalloc(static_cast<uint32_t>(frames), sizeof(FrameSlot)));
    pieces_ = static_cast<AudioPiece*>(MyCalloc(static_cast<uint32_t>(capacity), sizeof(AudioPiece)));
    if (!slots_ || !pieces_) {
        DebugLog("Failed to allocate AudioList");
        Release();
        return false;
    }
    frameCount_ = static_cast<int32_t>(frames);
    pieceCapacity_ = static_cast<int32_t>(capacity);

    int32_t firstFrame = 1;  // project frame of the file's first frame
    for (AVIlist* r = head; r; r = r->next) {
        const int32_t n = VideoEntries(r);
        // Extreme rates and frame times make sample numbers whose byte numbers pass 64 bits: they
        // stop at the limit, where no entry reaches.
        auto range = [&](int32_t j) {
            return ByteRange{
                SaturatedAdd(SaturatedMul(FrameAudioEnd(r->scale, r->rate, sps, j - 1), sampleBytes), 1),
                SaturatedMul(FrameAudioEnd(r->scale, r->rate, sps, j), sampleBytes)};
        };
        int32_t j = 1;  // the file's frame whose audio is looked for
        ByteRange want = range(1);
        if (SameAudio(r, head)) {
            // Walk the file's audio entries, keeping the number of the last audio byte seen.
            int64_t seen = 0;
            for (int32_t i = 0; r->idx && i < r->nidx && j <= n; i++) {
                const AVIINDEXENTRY& e = r->idx[i];
                if (!IsAudioEntry(e)) continue;
                const int64_t c1 = seen + 1;
                const int64_t c2 = seen + e.dwChunkLength;
                seen = c2;
                while (j <= n && want.first <= c2) {
                    const int64_t offset = static_cast<int64_t>(e.dwChunkOffset) + want.first - c1;
                    if (want.last <= c2) {
                        Add(firstFrame + j - 1, r, offset, want.last - want.first + 1);
                        want = range(++j);
                    } else {
                        Add(firstFrame + j - 1, r, offset, c2 - want.first + 1);
                        want.first = c2 + 1;
                        break;
                    }
                }
            }
            // The last file may end short of its pictures; any other is made up with silence.
            if (!r->next) j = n + 1;
        }
        for (; j <= n; want = range(++j)) Add(firstFrame + j - 1, nullptr, 0, want.last - want.first + 1);
        firstFrame += n;
    }
    return true;
}

std::span<const AudioPiece> AudioList::Pieces(int32_t n) const {
    if (n < 1 || n > frameCount_) return {};
    const FrameSlot& s = slots_[n - 1];
    return {pieces_ + s.first, static_cast<size_t>(s.count)};
}

int64_t AudioList::FrameBytes(int32_t n) const {
    int64_t sum = 0;
    for (const AudioPiece& p : Pieces(n)) sum += p.count;
    return sum;
}
