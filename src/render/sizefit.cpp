#include "render/sizefit.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "core/diag.h"
#include "media/aviwriter.h"
#include "render/audioplan.h"
#include "render/compressor.h"
#include "render/pipeline.h"

namespace {

constexpr int64_t kChunkHeaderBytes = 8;
constexpr int64_t kIndexEntryBytes = 16;

// Key frame intervals of the MP4 writer's encoders (their defaults).
constexpr int64_t kX264KeyInterval = 250;
constexpr int64_t kMpeg4KeyInterval = 12;
// The index entries of an AAC frame (about 1024 samples: more than one per picture at any rate).
constexpr int64_t kMp4SoundIndexBytesPerFrame = 8;

int64_t Padded(int64_t bytes) {
    return bytes + (bytes & 1);
}

// The highest quality whose file measures at most kFitMargin x fitBytes, by halving (the size falls
// as the quality does); quality 0 with its size when none does.
SizePrediction Bisect(int64_t fitBytes, const std::function<int64_t(int)>& measure) {
    SizePrediction p;
    const auto target = static_cast<int64_t>(static_cast<double>(fitBytes) * kFitMargin);
    int lo = 0, hi = 100;
    int64_t atLo = measure(lo);
    if (atLo < 0 || atLo > target) {
        p.quality = 0;
        p.bytes = atLo;
        return p;
    }
    int64_t atHi = measure(hi);
    if (atHi >= 0 && atHi <= target) {
        p.quality = hi;
        p.bytes = atHi;
        return p;
    }
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        const int64_t bytes = measure(mid);
        if (bytes >= 0 && bytes <= target)
            lo = mid, atLo = bytes;
        else
            hi = mid;
    }
    p.quality = lo;
    p.bytes = atLo;
    return p;
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
        if (state & (kStateTitled | kStateUnderlaid)) f.overlays = OverlaysAt(n);
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

    std::vector<size_t> indices;
    for (const Plan::Frame* f : trial.samples)
        indices.push_back(static_cast<size_t>(f - plan_->frames.data()));
    if (!ComposeSamples(indices)) return -1;

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

// Composes the plan's frames not yet kept: read here, in order, decoded and laid on by the threads.
// A frame that cannot be read is kept empty.
bool SizeEstimator::ComposeSamples(const std::vector<size_t>& frames) {
    if (composers_.empty())
        for (int32_t t = 0; t < threads_; t++) {
            auto c = std::make_unique<FrameComposer>();
            if (!c->Open(head_, reader_.format()->biWidth, reader_.format()->biHeight)) break;
            composers_.push_back(std::move(c));
        }
    if (composers_.empty()) return false;
    std::vector<const Plan::Frame*> missing;
    for (size_t i : frames)
        if (!samples_.count(plan_->frames[i].n)) missing.push_back(&plan_->frames[i]);
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
    return true;
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
    return Bisect(fitBytes, [&](int quality) { return Measure(trial, quality); });
}

// An MP4 file's frames are counted from runs of kMp4RunFrames frames spread over the project, each
// encoded from its start as the file encodes them, and the first frame of each run alone: the runs
// less their first frames stand for the frames between key frames, the first frames for the key
// frames, which come once in an encoder's key frame interval. When the runs would cover the file it
// is encoded whole instead. The sound is counted at its AAC rate.
int64_t SizeEstimator::MeasureMp4(Mp4Format format) {
    format.quality = std::clamp(format.quality, 0, 100);
    const uint64_t key = ~uint64_t{0};
    if (auto it = measured_.find({key, format.quality}); it != measured_.end()) return it->second;
    // The frames the file gets: from the first picture on.
    std::vector<size_t> written;
    for (size_t i = 0; i < plan_->frames.size(); i++) {
        const Plan::Frame& f = plan_->frames[i];
        if (!written.empty() || (!f.dropped && f.source >= 0)) written.push_back(i);
    }
    const auto count = static_cast<int64_t>(written.size());
    const int64_t frameBytes = std::max<int64_t>(reader_.format()->biSizeImage, 1);
    const int64_t kept = std::max<int64_t>(1, kMaxSampleBytes / frameBytes);  // frames memory allows
    int64_t length = std::min<int64_t>(kMp4RunFrames, count);
    int64_t runs = std::max<int64_t>(
        kMinMp4Runs, (count + kSampleEvery * kMp4RunFrames - 1) / (kSampleEvery * kMp4RunFrames));
    runs = std::clamp<int64_t>(runs, 1, std::max<int64_t>(1, kept / std::max<int64_t>(length, 1)));
    const bool whole = count > 0 && runs * length >= count && count <= kept;
    if (whole) runs = 1, length = count;
    if (count == 0) runs = 0;

    std::vector<size_t> pictures;
    std::vector<std::pair<int64_t, int64_t>> spans;  // first index into written, length
    for (int64_t r = 0; r < runs; r++) {
        const int64_t start =
            std::clamp<int64_t>((2 * r + 1) * count / (2 * runs) - length / 2, 0, count - length);
        spans.push_back({start, length});
        for (int64_t j = start; j < start + length; j++) pictures.push_back(written[static_cast<size_t>(j)]);
    }
    if (!ComposeSamples(pictures)) return -1;

    Mp4Format video = format;
    video.samplesPerSec = video.channels = video.sampleBits = 0;
    auto encode = [&](int64_t start, int64_t frames) -> int64_t {
        auto trial = Mp4Writer::CreateSizeTrial(video, nullptr);
        if (!trial) return -1;
        for (int64_t j = start; j < start + frames; j++) {
            const Plan::Frame& f = plan_->frames[written[static_cast<size_t>(j)]];
            const auto picture = samples_.find(f.n);
            if (picture != samples_.end() && !picture->second.empty() &&
                picture->second.size() >= static_cast<size_t>(frameBytes))
                trial->WriteFrame(picture->second.data());
            else
                trial->RepeatFrame();  // nothing before it: the file leaves it out as well
        }
        return trial->Finish() && trial->frames() > 0 ? trial->bytes() : -1;
    };
    int64_t bytes = 0;
    if (whole) {
        bytes = encode(0, count);
        if (bytes < 0) return -1;
    } else {
        int64_t runBytes = 0, firstBytes = 0, measured = 0;
        for (const auto& [start, frames] : spans) {
            const int64_t run = encode(start, frames), first = encode(start, 1);
            if (run < 0 || first < 0) continue;
            runBytes += run, firstBytes += first, measured++;
        }
        if (measured == 0 && count > 0) return -1;
        if (measured > 0) {
            const int64_t keyInterval = std::strcmp(Mp4VideoDescription().c_str(), "MPEG-4 part 2") == 0
                                            ? kMpeg4KeyInterval
                                            : kX264KeyInterval;
            const int64_t keys = std::min(count, (count + keyInterval - 1) / keyInterval);
            const double first = static_cast<double>(firstBytes) / static_cast<double>(measured);
            const double between = length > 1 ? static_cast<double>(runBytes - firstBytes) /
                                                    static_cast<double>(measured * (length - 1))
                                              : 0.0;
            bytes = static_cast<int64_t>(first * static_cast<double>(keys) +
                                         between * static_cast<double>(count - keys));
        }
    }
    const double seconds = static_cast<double>(count) * format.scale / std::max<uint32_t>(format.rate, 1);
    bytes += static_cast<int64_t>(seconds * static_cast<double>(Mp4SoundBitRate(format)) / 8.0);
    if (Mp4SoundBitRate(format) > 0) bytes += count * kMp4SoundIndexBytesPerFrame;
    measured_[{key, format.quality}] = bytes;
    return bytes;
}

SizePrediction SizeEstimator::PredictMp4(const Mp4Format& format) {
    SizePrediction p;
    p.quality = std::clamp(format.quality, 0, 100);
    p.bytes = MeasureMp4(format);
    return p;
}

SizePrediction SizeEstimator::FitMp4(Mp4Format format, int64_t fitBytes) {
    return Bisect(fitBytes, [&](int quality) {
        format.quality = quality;
        return MeasureMp4(format);
    });
}
