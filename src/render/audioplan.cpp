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
// Output samples converted at a time, so that the source samples read at once stay few.
constexpr int64_t kConvertBlock = 4096;

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

PcmFormat FormatOf(const AVIlist* r) {
    return {r->samplesPerSec, r->channels, r->sampleBits};
}

// A file whose sound is converted to the head's.
bool Converted(const AVIlist* r, const AVIlist* head) {
    return !SameAudio(r, head) && ConvertiblePcm(FormatOf(r)) && ConvertiblePcm(FormatOf(head));
}

// Reads source samples [lo, hi) of a converted file into buf, silence where the file has none;
// false when a read fails.
bool ReadSourceSamples(const SoundConversion& c, int64_t lo, int64_t hi, std::vector<uint8_t>& buf) {
    const int64_t bytes = PcmSampleBytes(c.from);
    buf.assign(static_cast<size_t>((hi - lo) * bytes), c.from.bits == 8 ? 0x80 : 0);
    const int64_t from = std::max<int64_t>(lo, 0) * bytes, to = std::min(hi, c.samples) * bytes;
    if (from >= to) return true;
    // The first span that ends after `from`.
    const SoundConversion::Span* span =
        std::upper_bound(c.spans, c.spans + c.spanCount, from,
                         [](int64_t at, const SoundConversion::Span& s) { return at < s.start + s.count; });
    for (int64_t at = from; at < to && span < c.spans + c.spanCount; span++) {
        const int64_t skip = at - span->start;
        const auto count = static_cast<int32_t>(std::min<int64_t>(span->count - skip, to - at));
        const uint8_t* data = GetAudioData(c.source, static_cast<int32_t>(span->offset + skip), count);
        if (!data) return false;
        std::copy(data, data + count, buf.begin() + (at - lo * bytes));
        at += count;
    }
    return true;
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

const uint8_t* AudioPieceData(const AudioPiece& piece, std::vector<uint8_t>& scratch) {
    if (!piece.convert) return GetAudioData(piece.source, piece.offset, piece.count);
    const SoundConversion& c = *piece.convert;
    const int32_t outBytes = PcmSampleBytes(c.to);
    const int64_t samples = piece.count / outBytes;
    scratch.resize(static_cast<size_t>(samples * outBytes));
    std::vector<uint8_t> source;
    for (int64_t done = 0; done < samples; done += kConvertBlock) {
        const int64_t first = piece.first + done, count = std::min(kConvertBlock, samples - done);
        int64_t lo, hi;
        PcmConversionWindow(c.from, c.to, first, count, &lo, &hi);
        if (!ReadSourceSamples(c, lo, hi, source)) {
            DebugLog("converted audio read error at sample %lld", static_cast<long long>(first));
            return nullptr;
        }
        ConvertPcm(c.from, c.to, first, count, source.data(), lo, scratch.data() + done * outBytes);
    }
    return scratch.data();
}

void AudioList::Release() {
    MyFree(slots_);
    MyFree(pieces_);
    MyFree(conversions_);
    MyFree(spans_);
    slots_ = nullptr;
    pieces_ = nullptr;
    conversions_ = nullptr;
    spans_ = nullptr;
    frameCount_ = pieceCount_ = pieceCapacity_ = conversionCount_ = spanCount_ = 0;
}

void AudioList::Add(int32_t frame, AVIlist* source, int64_t offset, int64_t count) {
    if (count <= 0 || frame < 1 || frame > frameCount_ || pieceCount_ >= pieceCapacity_) return;
    if (offset < 0 || offset > INT32_MAX || count > INT32_MAX) return;
    FrameSlot& s = slots_[frame - 1];
    if (s.count == 0) s.first = pieceCount_;
    s.count++;
    pieces_[pieceCount_++] =
        AudioPiece{source, static_cast<int32_t>(offset), static_cast<int32_t>(count), nullptr, 0};
}

void AudioList::AddConverted(int32_t frame, const SoundConversion* convert, int64_t first, int64_t count) {
    if (count <= 0 || frame < 1 || frame > frameCount_ || pieceCount_ >= pieceCapacity_) return;
    FrameSlot& s = slots_[frame - 1];
    if (s.count == 0) s.first = pieceCount_;
    s.count++;
    pieces_[pieceCount_++] = AudioPiece{convert->source, 0, static_cast<int32_t>(count), convert, first};
}

// The conversion of r's sound, its spans taken from r's sound entries.
const SoundConversion* AudioList::Conversion(AVIlist* r, AVIlist* head) {
    SoundConversion& c = conversions_[conversionCount_++];
    c.source = r;
    c.from = FormatOf(r);
    c.to = FormatOf(head);
    c.spans = spans_ + spanCount_;
    c.spanCount = 0;
    int64_t bytes = 0;
    for (int32_t i = 0; r->idx && i < r->nidx; i++) {
        const AVIINDEXENTRY& e = r->idx[i];
        if (!IsAudioEntry(e) || e.dwChunkLength == 0 || e.dwChunkLength > INT32_MAX ||
            e.dwChunkOffset > INT32_MAX - e.dwChunkLength)
            continue;
        spans_[spanCount_++] = {bytes, static_cast<int32_t>(e.dwChunkOffset),
                                static_cast<int32_t>(e.dwChunkLength)};
        c.spanCount++;
        bytes += e.dwChunkLength;
    }
    c.samples = bytes / PcmSampleBytes(c.from);
    return &c;
}

bool AudioList::Plan(AVIlist* head) {
    Release();
    if (!head) return false;
    const int32_t sampleBytes = AudioSampleBytes(head->samplesPerSec, head->channels, head->sampleBits);
    if (sampleBytes == 0) return false;
    const int32_t sps = head->samplesPerSec;

    // Each piece ends at a frame's end or at an entry's end, and silence adds one per frame.
    // A converted file takes one piece a frame, and keeps its sound entries as spans.
    int64_t frames = 0, entries = 0, converted = 0, spans = 0;
    for (const AVIlist* r = head; r; r = r->next) {
        frames += VideoEntries(r);
        const bool same = SameAudio(r, head), convert = !same && Converted(r, head);
        converted += convert ? 1 : 0;
        for (int32_t i = 0; (same || convert) && r->idx && i < r->nidx; i++)
            (same ? entries : spans) += IsAudioEntry(r->idx[i]) ? 1 : 0;
    }
    const int64_t capacity = 2 * frames + entries;
    if (frames > kMaxPlanEntries || capacity > kMaxPlanEntries || spans > kMaxPlanEntries) {
        DebugLog("Failed to allocate AudioList");
        return false;
    }
    if (frames == 0) return true;
    slots_ = static_cast<FrameSlot*>(MyCalloc(static_cast<uint32_t>(frames), sizeof(FrameSlot)));
    pieces_ = static_cast<AudioPiece*>(MyCalloc(static_cast<uint32_t>(capacity), sizeof(AudioPiece)));
    if (converted > 0) {
        conversions_ = static_cast<SoundConversion*>(
            MyCalloc(static_cast<uint32_t>(converted), sizeof(SoundConversion)));
        spans_ = static_cast<SoundConversion::Span*>(
            MyCalloc(static_cast<uint32_t>(std::max<int64_t>(spans, 1)), sizeof(SoundConversion::Span)));
    }
    if (!slots_ || !pieces_ || (converted > 0 && (!conversions_ || !spans_))) {
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
        } else if (Converted(r, head)) {
            // Converted samples k cover source positions up to k x from / to: those before the
            // source's end are sound, the rest as above.
            const SoundConversion* c = Conversion(r, head);
            const int64_t length = c->samples > 0 ? (c->samples * sps + c->from.rate - 1) / c->from.rate : 0;
            const int64_t end = SaturatedMul(length, sampleBytes);
            for (; j <= n && want.first <= end; want = range(++j)) {
                const int64_t last = r->next ? want.last : std::min(want.last, end);
                const int64_t count =
                    std::min(last - want.first + 1, kMaxFrameSound / sampleBytes * sampleBytes);
                AddConverted(firstFrame + j - 1, c, (want.first - 1) / sampleBytes, count);
                if (last - want.first + 1 > count)
                    Add(firstFrame + j - 1, nullptr, 0, last - want.first + 1 - count);
            }
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
