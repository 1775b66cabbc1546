// The size a render's file will have, predicted from a sample of its frames, and the quality that
// makes it fit a size (to be mailed). About one composed frame in kSampleEvery, titles and
// underlays laid on, is compressed at the quality in question; the frames copied as stored, the
// sound, the index and the headers are counted exactly.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "platform/mp4/mp4.h"
#include "render/compose.h"
#include "render/compressor.h"

// One composed frame in this many is compressed for a prediction.
constexpr int32_t kSampleEvery = 30;
// An MP4 file's frames depend on those before them: its sample is runs of this many frames.
constexpr int32_t kMp4RunFrames = 30;
// At least this many runs, so that every scene of a short project has its say.
constexpr int32_t kMinMp4Runs = 12;
// The composed sample frames kept in memory at most.
constexpr int64_t kMaxSampleBytes = 192ll << 20;
// A fitted file is predicted at most this share of the size asked for, for what the sample misses.
constexpr double kFitMargin = 0.97;

class SizeEstimator {
  public:
    // Over the render's reader (opened on the project's list) and the threads it may use. The
    // title stencils and underlay images must be prepared for the frame size.
    SizeEstimator(FrameComposer& reader, AVIlist* head, int32_t threads);
    ~SizeEstimator();
    SizeEstimator(const SizeEstimator&) = delete;
    SizeEstimator& operator=(const SizeEstimator&) = delete;

    // The file with compressor handler (0: uncompressed) at quality 0-100 (-1: its default),
    // frames copied as stored where the format allows when copy is set.
    SizePrediction Predict(FOURCC handler, int quality, bool copy);
    // The highest quality whose file is predicted at most kFitMargin x fitBytes, or quality 0 when
    // none is; a compressor without a quality scale is predicted at its default.
    SizePrediction Fit(FOURCC handler, int64_t fitBytes, bool copy);

    // The same for an MP4 file in this format (its quality for Predict).
    SizePrediction PredictMp4(const Mp4Format& format);
    SizePrediction FitMp4(Mp4Format format, int64_t fitBytes);

  private:
    struct Plan;
    struct Trial;
    bool Prepare(FOURCC handler, bool copy, Trial& trial);
    int64_t Measure(Trial& trial, int quality);
    int64_t MeasureMp4(Mp4Format format);
    bool ComposeSamples(const std::vector<size_t>& frames);  // indices into the plan

    FrameComposer& reader_;
    AVIlist* head_;
    int32_t threads_;
    std::unique_ptr<Plan> plan_;
    std::vector<std::unique_ptr<FrameComposer>> composers_;  // one per thread
    std::map<int32_t, std::vector<uint8_t>> samples_;        // composed frames by project frame
    std::map<std::pair<uint64_t, int>, int64_t> measured_;   // (handler, copy) and quality: bytes
};
