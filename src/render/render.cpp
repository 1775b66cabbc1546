#include "render/render.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/diag.h"
#include "core/dialogs.h"
#include "core/pump.h"
#include "core/settings.h"
#include "media/aviwriter.h"
#include "media/riff.h"
#include "project/project.h"
#include "render/audioplan.h"
#include "render/compose.h"
#include "render/compressor.h"
#include "render/pipeline.h"
#include "render/sizefit.h"
#include "render/titles.h"

namespace {

// The output name's buffer, terminator included.
constexpr size_t kOutputNameBytes = 200;
constexpr const char* kMainCaption = "Quillory";
constexpr FOURCC kUncompressedId = FourCC("00db");
constexpr FOURCC kCompressedId = FourCC("00dc");
constexpr FOURCC kAudioId = FourCC("01wb");

RenderCallbacks gCallbacks;
std::string gLastOutputName;
int32_t gThreads = 0;
bool gRendering = false;

struct Rendering {
    Rendering() { gRendering = true; }
    ~Rendering() { gRendering = false; }
};

void Caption(const char* text) {
    if (gCallbacks.setCaption) gCallbacks.setCaption(text);
}

void Busy(bool busy) {
    if (gCallbacks.waitCursor) gCallbacks.waitCursor(busy);
}

// Writes the frames into the AVI file as the pipeline hands them over, each with its sound; a
// compressor that keeps state between frames compresses them here, in order.
class AviSink : public FrameSink {
  public:
    int32_t handle = 0;
    int32_t written = 0;  // video chunks
    const AudioList* audio = nullptr;
    uint8_t silence = 0;  // the value of a silent sample byte
    int32_t total = 0;
    const char* name = "";

    bool Write(RenderFrame& f) override {
        const void* data = nullptr;
        uint32_t size = 0;
        uint32_t flags = AVIIF_KEYFRAME;
        FOURCC id = kUncompressedId;
        if (f.kind != RenderFrame::Kind::kRepeat) {
            const std::string caption =
                FormatMessageText("Saving frame %ld/%ld to %s %ld", static_cast<long>(f.n - 1),
                                  static_cast<long>(total), name, static_cast<long>(written + 1));
            Caption(caption.c_str());
            if (f.ok && !f.picture.empty()) {
                uint32_t chunkId = 0;
                data = CompOneFrame(f.n, &f.pictureFormat, f.picture.data(), &size, AVIIF_KEYFRAME, nullptr,
                                    nullptr, &flags, &chunkId);
                id = kCompressedId;
            } else if (f.ok) {
                data = f.chunk.data();
                size = static_cast<uint32_t>(f.chunk.size());
                flags = f.flags;
                id = f.id;
            }
        }
        // A dropped frame, and one that could not be read or compressed, is an empty chunk that
        // repeats the frame before it; with no frame before it, it is left out with its audio.
        if (!data) {
            if (written == 0) return true;
            size = 0;
            flags = 0;
            id = kUncompressedId;
        }
        WriteAudio(f.n);
        if (MyWriteChunk(handle, data, static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX)), id,
                         flags) == 0) {
            NotifyBox("The file is full: frames from %ld on were left out", static_cast<long>(f.n - 1));
            return false;
        }
        written++;
        return true;
    }

  private:
    // The frame's sound; a piece that cannot be read is logged and becomes silence, so the sound
    // after it keeps its time.
    void WriteAudio(int32_t n) {
        if (!audio) return;
        sound_.clear();
        int32_t slot = 0;
        for (const AudioPiece& p : audio->Pieces(n)) {
            slot++;
            const uint8_t* data = p.source ? GetAudioData(p.source, p.offset, p.count) : nullptr;
            if (p.source && !data) DebugLog("GetAudioData failed %ld", static_cast<long>(slot));
            const size_t count = std::min<size_t>(static_cast<size_t>(p.count),
                                                  static_cast<size_t>(kMaxFrameSound) - sound_.size());
            if (data)
                sound_.insert(sound_.end(), data, data + count);
            else
                sound_.insert(sound_.end(), count, silence);
        }
        if (!sound_.empty())
            MyWriteChunk(handle, sound_.data(), static_cast<int32_t>(sound_.size()), kAudioId, 0);
    }

    std::vector<uint8_t> sound_;
};

// The folder part of a name: everything before its last '/'.
std::string FolderOf(const std::string& name) {
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

// "12.3 MB" for a byte count.
std::string Megabytes(int64_t bytes) {
    return FormatMessageText("%.1f MB", static_cast<double>(bytes) / static_cast<double>(kBytesPerMB));
}

}  // namespace

std::string LastRenderOutputName() {
    return gLastOutputName;
}

void SetRenderCallbacks(RenderCallbacks callbacks) {
    gCallbacks = std::move(callbacks);
}

bool RenderInProgress() {
    return gRendering;
}

void SetRenderThreads(int32_t threads) {
    gThreads = threads;
}

int32_t RenderProjectToAVI(HWND mainWindow) {
    AVIlist* head = gProject.head;
    const int32_t total = gProject.totalFrames;
    if (!head || total <= 0) return 0;

    // The output name.
    const std::string last(gSettings.LastSaveAVIfileName,
                           strnlen(gSettings.LastSaveAVIfileName, sizeof gSettings.LastSaveAVIfileName));
    FileDialogRequest request;
    request.owner = mainWindow;
    request.title = "Select Filename for AVI Save";
    request.filters = {{"AVI Files", "*.avi"}, {"All Files", "*.*"}};
    request.filterIndex = 1;
    request.initialDir = FolderOf(last);
    request.initialName = last;
    request.flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_LONGNAMES;
    request.maxLength = kOutputNameBytes;
    request.defaultExtension = "AVI";  // the overwrite question is then about the final name
    std::string chosen;
    if (!GetSaveFileNameA(request, chosen)) return 0;
    PumpPendingMessages();

    int32_t active = 0;
    for (int32_t n = 1; n <= total; n++)
        if (!(FrameState(n) & kStateInactive)) active++;

    char name[kOutputNameBytes] = {};
    std::memcpy(name, chosen.data(), std::min(chosen.size(), sizeof name - 1));
    AddDefaultExtension(name, sizeof name, "AVI");
    gLastOutputName = name;
    std::memset(gSettings.LastSaveAVIfileName, 0, sizeof gSettings.LastSaveAVIfileName);
    std::memcpy(gSettings.LastSaveAVIfileName, name,
                std::min(std::strlen(name), sizeof gSettings.LastSaveAVIfileName - 1));

    const Rendering rendering;
    const int32_t width = head->width;
    const int32_t height = head->height;
    FrameComposer composer;
    if (!composer.Open(head, width, height)) return 0;

    // The compressor dialog shows the predicted size; the overlays are prepared once, for the first
    // prediction or for the frames.
    bool overlaysReady = false;
    auto prepareOverlays = [&] {
        if (!overlaysReady) PrepareOverlays(mainWindow, width, height);
        overlaysReady = true;
    };
    std::unique_ptr<SizeEstimator> estimator;
    auto estimate = [&](FOURCC handler, int quality, int64_t fitBytes, bool copy) {
        if (!estimator) {
            prepareOverlays();
            estimator = std::make_unique<SizeEstimator>(composer, head, gThreads);
        }
        return fitBytes > 0 ? estimator->Fit(handler, fitBytes, copy)
                            : estimator->Predict(handler, quality, copy);
    };
    SetSizePredictor(estimate);
    BITMAPINFOHEADER* input = composer.format();
    const int64_t fourcc = CompressorSetup(mainWindow, input);
    SetSizePredictor(nullptr);
    if (fourcc < 0) return 0;
    BITMAPINFOHEADER output = *input;
    if (fourcc != kCompressorUncompressed) GetCompressorFormat(&output);

    // Fitting a size: the quality whose file is predicted to fit (the dialog found it already when it
    // showed the prediction).
    const bool copy = gSettings.CopyFrames != 0;
    int64_t fitBytes = 0;
    if (gSettings.FitToSize && fourcc != kCompressorUncompressed) {
        fitBytes = int64_t{std::clamp(gSettings.FitMB, 1, kMaxFitMB)} * kBytesPerMB;
        const SizePrediction fit = estimate(static_cast<FOURCC>(fourcc), -1, fitBytes, copy);
        if (fit.quality >= 0 && fit.bytes >= 0) {
            CompressorMemory().quality = fit.quality * 100;
            if (fit.bytes > fitBytes)
                NotifyBox("The project does not fit in %s: at the lowest quality it takes about %s",
                          Megabytes(fitBytes).c_str(), Megabytes(fit.bytes).c_str());
        }
    }
    estimator.reset();

    // A head without a usable audio format renders without audio.
    const bool withAudio = AudioSampleBytes(head->samplesPerSec, head->channels, head->sampleBits) > 0;
    const int32_t usPerFrame =
        head->scale ? static_cast<int32_t>(std::min<uint32_t>(head->scale, INT32_MAX)) : gProject.framePeriod;
    AviSink out;
    // The frame count is never 0: that would write over an old file without truncating it.
    out.handle = MyOpenWAVI(name, width, height, output.biBitCount, -std::max(active, 1), &output,
                            static_cast<FOURCC>(fourcc), usPerFrame, withAudio ? head->samplesPerSec : 0,
                            head->channels, head->sampleBits, 0);
    if (!out.handle) {
        NotifyBox("failed to open file for output: %s", name);
        if (fourcc != kCompressorUncompressed) CompressorEnd();
        Caption(kMainCaption);
        return 0;
    }

    Busy(true);
    prepareOverlays();

    AudioList audio;
    if (withAudio) {
        Caption("Preparing Audio");
        if (audio.Plan(head)) out.audio = &audio;
        out.silence = head->sampleBits == 8 ? 0x80 : 0;
    }

    Caption("Saving frame...");
    out.total = total;
    out.name = name;
    PipelineSetup setup;
    setup.reader = &composer;
    setup.head = head;
    setup.width = width;
    setup.height = height;
    setup.fourcc = fourcc;
    setup.output = &output;
    setup.copy = copy;
    setup.threads = gThreads;
    RunFramePipeline(setup, total, out, [](int32_t i) {
        if (gCallbacks.progress) gCallbacks.progress(i, gProject.totalFrames);
        return PumpPendingMessages() != 0;
    });

    Caption(kMainCaption);
    MyCloseAVI(out.handle, out.written);
    audio.Release();
    composer.Close();
    Busy(false);

    if (ReadAVIInfo(name) && AVIinfo.totalFrames == out.written) {
        if (NotifyYesNo("Record to AVI file complete - size = %ld bytes\nWould you like to view the file?",
                        static_cast<long>(AVIinfo.fileLength)) == 1 &&
            gCallbacks.viewFile)
            gCallbacks.viewFile(name);
        return 1;
    }
    NotifyBox("Something Wrong With Final File - Abort");
    return 0;
}
