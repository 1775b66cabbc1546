#include "render/sizefit.h"

#include <algorithm>
#include <cstring>

#include "core/diag.h"
#include "media/aviwriter.h"
#include "render/audioplan.h"
#include "render/compressor.h"
#include "render/pipeline.h"

namespace {

constexpr int64_t kChunkHeaderBytes = 8;
constexpr int64_t kIndexEntryBytes = 16;

int64_t Padded(int64_t bytes) {
    return bytes + (bytes & 1);
}

}  // namespace

// The frames the render writes, as FrameState has them now.
struct SizeEstimator::Plan {
    struct Frame {
        int32_t n;
        int32_t source;
        bool dropped;
        OverlayList overlays;  // empty for a frame without titles or underlays
        uint32_t stored;       // the length of its stored chunk
        int64_t sound;         // bytes of its sound chunk
    };
    std::vector<Frame> frames;
    bool audio = false;
};

// One prediction's frames: what is counted exactly, and which composed frames stand for the rest.
struct SizeEstimator::Trial {
    FOURCC handler = 0;
    bool copy = false;
    bool hasQuality = false;
    int64_t fixed = 0;     // every byte but the composed frames' data
    int64_t composed = 0;  // frames compressed
    std::vector<const Plan::Frame*> samples;
    std::vector<std::unique_ptr<CompressorClone>> clones;  // per thread
};

SizeEstimator::SizeEstimator(FrameComposer& reader, AVIlist* head, int32_t threads)
    : reader_(reader), head_(head), threads_(RenderThreadCount(threads)), plan_(std::make_unique<Plan>()) {
    AudioList audio;
    plan_->audio =
        AudioSampleBytes(head->samplesPerSec, head->channels, head->sampleBits) > 0 && audio.Plan(head);
    for (int32_t n = 1; n <= gProject.totalFrames; n++) {
        const uint32_t state = FrameState(n);
        if (state & kStateInactive) continue;
        Plan::Frame f{n, reader.SourceOf(n), (state & kStateDropped) != 0, {}, reader.StoredBytes(n), 0};
        if (state & (kStateTitled | kStateUnderlaid)) f.overlays = AppliedOverlays();
        if (plan_->audio) f.sound = std::min(audio.FrameBytes(n), kMaxFrameSound);
        plan_->frames.push_back(std::move(f));
    }
}

SizeEstimator::~SizeEstimator() = default;

bool SizeEstimator::Prepare(FOURCC handler, bool copy, Trial& trial) {
    trial.handler = handler;
    trial.copy = copy;
    BITMAPINFOHEADER input = *reader_.format();
    BITMAPINFOHEADER output = input;
    if (handler != 0) {
        trial.clones.resize(static_cast<size_t>(threads_));
        auto& first = trial.clones.front();
        first = std::make_unique<CompressorClone>();
        if (!first->Open(handler, &input, -1)) return false;
        output = *first->format();
        trial.hasQuality = first->hasQuality();
    }
    std::vector<bool> copyable;
    for (int32_t s = 0; reader_.SourceRecord(s); s++)
        copyable.push_back(copy && CopyAllowed(reader_, s, handler, output));

    const uint32_t frameBytes = reader_.format()->biSizeImage;
    int64_t chunks = 0;
    bool written = false;
    std::vector<const Plan::Frame*> composed;
    trial.fixed = 0;
    for (const Plan::Frame& f : plan_->frames) {
        // Frames with no picture before the first one written are left out with their sound.
        const bool picture = !f.dropped && f.source >= 0;
        if (!picture && !written) continue;
        written = true;
        chunks++;
        trial.fixed += kChunkHeaderBytes;
        if (f.sound > 0) trial.fixed += kChunkHeaderBytes + Padded(f.sound), chunks++;
        if (!picture) continue;
        const bool copied = f.overlays.empty() && copyable[static_cast<size_t>(f.source)] &&
                            (handler != 0 || f.stored == frameBytes);
        if (copied)
            trial.fixed += Padded(f.stored);
        else if (handler == 0)
            trial.fixed += Padded(frameBytes);
        else
            composed.push_back(&f);
    }
    trial.fixed +=
        chunks * kIndexEntryBytes + AVIOverheadBytes(output.biBitCount, &output, handler, plan_->audio);
    trial.composed = static_cast<int64_t>(composed.size());

    // About one in kSampleEvery, spread evenly, as many as memory allows.
    const int64_t count = trial.composed;
    int64_t wanted = (count + kSampleEvery - 1) / kSampleEvery;
    wanted =
        std::min<int64_t>(wanted, std::max<int64_t>(1, kMaxSampleBytes / std::max<uint32_t>(frameBytes, 1)));
    for (int64_t j = 0; j < wanted && count > 0; j++)
        trial.samples.push_back(composed[static_cast<size_t>((2 * j + 1) * count / (2 * wanted))]);
    return true;
}

int64_t SizeEstimator::Measure(Trial& trial, int quality) {
    const uint64_t key = (static_cast<uint64_t>(trial.handler) << 1) | (trial.copy ? 1 : 0);
    if (auto it = measured_.find({key, quality}); it != measured_.end()) return it->second;
    if (trial.composed == 0 || trial.handler == 0) return trial.fixed;

    // Compose the samples not yet kept: read here, in order, decoded and laid on by the threads.
    if (composers_.empty())
        for (int32_t t = 0; t < threads_; t++) {
            auto c = std::make_unique<FrameComposer>();
            if (!c->Open(head_, reader_.format()->biWidth, reader_.format()->biHeight)) break;
            composers_.push_back(std::move(c));
        }
    if (composers_.empty()) return -1;
    std::vector<const Plan::Frame*> missing;
    for (const Plan::Frame* f : trial.samples)
        if (!samples_.count(f->n)) missing.push_back(f);
    const auto threads = static_cast<int32_t>(composers_.size());
    std::vector<FramePacket> packets(static_cast<size_t>(threads));
    for (size_t at = 0; at < missing.size(); at += static_cast<size_t>(threads)) {
        const auto batch = static_cast<int32_t>(std::min(missing.size() - at, static_cast<size_t>(threads)));
        for (int32_t b = 0; b < batch; b++)
            reader_.Read(missing[at + b]->n, 0, packets[static_cast<size_t>(b)]);
        std::vector<std::vector<uint8_t>> pictures(static_cast<size_t>(batch));
        ParallelFor(batch, threads, [&](int32_t b, int32_t t) {
            FrameComposer& c = *composers_[static_cast<size_t>(t)];
            if (c.Decode(packets[static_cast<size_t>(b)]) == FrameComposer::Picture::kNone) return;
            ApplyOverlays(c.pixels(), c.format(), missing[at + static_cast<size_t>(b)]->overlays);
            pictures[static_cast<size_t>(b)].assign(c.pixels(), c.pixels() + c.bytes());
        });
        for (int32_t b = 0; b < batch; b++)
            samples_[missing[at + static_cast<size_t>(b)]->n] = std::move(pictures[static_cast<size_t>(b)]);
    }

    // Compress them at the quality, each thread with a compressor of its own.
    BITMAPINFOHEADER input = *reader_.format();
    std::vector<const std::vector<uint8_t>*> pictures;
    for (const Plan::Frame* f : trial.samples) pictures.push_back(&samples_.at(f->n));
    std::vector<int64_t> sizes(trial.samples.size(), 0);
    std::vector<char> ok(trial.samples.size(), 0);
    ParallelFor(static_cast<int32_t>(trial.samples.size()), threads_, [&](int32_t j, int32_t t) {
        auto& clone = trial.clones[static_cast<size_t>(t)];
        BITMAPINFOHEADER format = input;
        if (!clone) {
            clone = std::make_unique<CompressorClone>();
            clone->Open(trial.handler, &format, quality);
        }
        const std::vector<uint8_t>& picture = *pictures[static_cast<size_t>(j)];
        if (!clone->open() || picture.empty()) return;
        clone->SetQuality(quality);
        uint32_t size = 0, flags = 0;
        if (clone->Compress(trial.samples[static_cast<size_t>(j)]->n, &format, picture.data(), &size, &flags))
            sizes[static_cast<size_t>(j)] = Padded(size), ok[static_cast<size_t>(j)] = 1;
    });
    int64_t sum = 0, counted = 0;
    for (size_t j = 0; j < sizes.size(); j++)
        if (ok[j]) sum += sizes[j], counted++;
    if (counted == 0) return -1;
    const int64_t bytes = trial.fixed + (sum * trial.composed + counted / 2) / counted;
    measured_[{key, quality}] = bytes;
    return bytes;
}

SizePrediction SizeEstimator::Predict(FOURCC handler, int quality, bool copy) {
    Trial trial;
    SizePrediction p;
    if (!Prepare(handler, copy, trial)) return p;
    p.quality = trial.hasQuality ? std::clamp(quality < 0 ? -1 : quality, -1, 100) : -1;
    p.bytes = Measure(trial, p.quality);
    return p;
}

SizePrediction SizeEstimator::Fit(FOURCC handler, int64_t fitBytes, bool copy) {
    Trial trial;
    SizePrediction p;
    if (!Prepare(handler, copy, trial)) return p;
    if (!trial.hasQuality) {
        p.bytes = Measure(trial, -1);
        return p;
    }
    const auto target = static_cast<int64_t>(static_cast<double>(fitBytes) * kFitMargin);
    // The size falls as the quality does: the highest quality that fits, by halving.
    int lo = 0, hi = 100;
    int64_t atLo = Measure(trial, lo);
    if (atLo < 0 || atLo > target) {
        p.quality = 0;
        p.bytes = atLo;
        return p;
    }
    int64_t atHi = Measure(trial, hi);
    if (atHi >= 0 && atHi <= target) {
        p.quality = hi;
        p.bytes = atHi;
        return p;
    }
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        const int64_t bytes = Measure(trial, mid);
        if (bytes >= 0 && bytes <= target)
            lo = mid, atLo = bytes;
        else
            hi = mid;
    }
    p.quality = lo;
    p.bytes = atLo;
    return p;
}
