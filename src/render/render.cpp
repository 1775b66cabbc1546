#include "render/render.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/diag.h"
#include "core/dialogs.h"
#include "core/pump.h"
#include "core/savefile.h"
#include "project/project.h"
#include "render/audioplan.h"
#include "render/compose.h"
#include "render/compressor.h"
#include "render/output.h"
#include "render/pipeline.h"
#include "render/sizefit.h"
#include "render/titles.h"
#include "settings/settings.h"

namespace {

// The output name's buffer, terminator included.
constexpr size_t kOutputNameBytes = 200;
constexpr const char* kMainCaption = "Quillory";

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

// The sound that plays during project frame n, from the audio plan; a piece that cannot be read
// is logged and becomes silence, so the sound after it keeps its time.
void GatherSound(const AudioList* audio, uint8_t silence, int32_t n, std::vector<uint8_t>& sound) {
    sound.clear();
    if (!audio) return;
    int32_t slot = 0;
    for (const AudioPiece& p : audio->Pieces(n)) {
        slot++;
        const uint8_t* data = p.source ? GetAudioData(p.source, p.offset, p.count) : nullptr;
        if (p.source && !data) DebugLog("GetAudioData failed %ld", static_cast<long>(slot));
        const size_t count = std::min<size_t>(static_cast<size_t>(p.count),
                                              static_cast<size_t>(kMaxFrameSound) - sound.size());
        if (data)
            sound.insert(sound.end(), data, data + count);
        else
            sound.insert(sound.end(), count, silence);
    }
}

// Hands the frames the pipeline finishes to the output, in order, each with its sound.
class OutputSink : public FrameSink {
  public:
    int32_t lastWritten() const { return lastWritten_; }  // project frame (from 1), 0 before any
    int32_t leftOutFrom() const { return leftOutFrom_; }  // the first frame the output refused, or 0

    OutputSink(RenderOutput& out, const AudioList* plan, uint8_t silence, int32_t total, const char* name)
        : out_(out), plan_(plan), silence_(silence), total_(total), name_(name) {}

    bool Write(RenderFrame& f) override {
        if (f.kind != RenderFrame::Kind::kRepeat) {
            const std::string caption =
                FormatMessageText("Saving frame %ld/%ld to %s %ld", static_cast<long>(f.n - 1),
                                  static_cast<long>(total_), name_, static_cast<long>(out_.written() + 1));
            Caption(caption.c_str());
        }
        // A dropped frame, and one that could not be read or compressed, repeats the frame before
        // it; with no frame before it, it is left out with its audio.
        GatherSound(plan_, silence_, f.n, sound_);
        RenderOutput::Result result;
        if (f.kind == RenderFrame::Kind::kRepeat || !f.ok)
            result = out_.Repeat(sound_);
        else if (!f.picture.empty())
            result = out_.Frame(f.n, &f.pictureFormat, f.picture.data(), f.pictureBytes, sound_);
        else
            result = out_.Chunk(f.chunk.data(), static_cast<uint32_t>(f.chunk.size()), f.id, f.flags, sound_);
        if (result == RenderOutput::kFull) {
            leftOutFrom_ = f.n;  // reported once the file is finished
            return false;
        }
        if (result == RenderOutput::kWritten) lastWritten_ = f.n;
        return true;
    }

  private:
    RenderOutput& out_;
    const AudioList* plan_;
    uint8_t silence_;
    int32_t total_;
    const char* name_;
    std::vector<uint8_t> sound_;
    int32_t lastWritten_ = 0, leftOutFrom_ = 0;
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

// name with its extension (after the last '/') replaced by ".mp4" or ".avi".
std::string WithExtension(const std::string& name, bool mp4) {
    const size_t slash = name.rfind('/'), dot = name.rfind('.');
    const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
    return (hasExtension ? name.substr(0, dot) : name) + (mp4 ? ".mp4" : ".avi");
}

// What became of an output name a render did not write: the file there is as it was, or none was
// made.
std::string Untouched(const char* name) {
    struct stat st;
    return stat(name, &st) == 0 ? FormatMessageText("%s was left as it was", name) : "No file was made";
}

// Whether `output` is the same file (through links too) as one the project reads: a clip, an
// underlay picture or the project file. Empty when not, else what it is.
std::string ProjectInputNamed(const std::string& output) {
    struct stat out;
    if (stat(output.c_str(), &out) != 0) return {};
    auto same = [&out](const char* input) {
        struct stat st;
        return input && *input && stat(input, &st) == 0 && st.st_dev == out.st_dev && st.st_ino == out.st_ino;
    };
    // The input is named when the output reached it by another name.
    auto is = [&output](const char* input, const char* what) {
        return output == input ? FormatMessageText("it is %s", what)
                               : FormatMessageText("it is %s, %s", input, what);
    };
    for (const AVIlist* r = gProject.head; r; r = r->next)
        if (same(r->name)) return is(r->name, "a clip of this project");
    for (const Revision* v = gProject.revisions; v; v = v->next)
        if (const UnderlayRecord* u = UnderlayOf(v); u && same(u->fileName))
            return is(u->fileName, "an underlay picture of this project");
    if (same(gSettings.ProjectFileName)) return is(gSettings.ProjectFileName, "the project file");
    return {};
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

int32_t RenderProjectToAVI(HWND mainWindow, RenderKind offer) {
    AVIlist* head = gProject.head;
    const int32_t total = gProject.totalFrames;
    if (!head || total <= 0) return 0;
    int32_t active = 0, shown = 0;
    for (int32_t n = 1; n <= total; n++) {
        const uint32_t state = FrameState(n);
        if (!(state & kStateInactive)) active++;
        if (!(state & (kStateInactive | kStateDropped))) shown++;
    }
    if (shown == 0) {
        NotifyBox("There is nothing to render: every frame of the project is dropped or inactive");
        return 0;
    }

    // The output name; its extension decides the kind of file.
    std::string last(gSettings.LastSaveAVIfileName,
                     strnlen(gSettings.LastSaveAVIfileName, sizeof gSettings.LastSaveAVIfileName));
    if (offer != RenderKind::kAsBefore && !last.empty())
        last = WithExtension(last, offer == RenderKind::kMp4);
    const bool mp4First = offer == RenderKind::kMp4 || (offer == RenderKind::kAsBefore && IsMp4Name(last));
    FileDialogRequest request;
    request.owner = mainWindow;
    request.title = "Select Filename for AVI Save";
    request.filters = {{"AVI Files", "*.avi"}, {"MP4 Files", "*.mp4"}, {"All Files", "*.*"}};
    request.filterIndex = mp4First ? 2 : 1;
    request.initialDir = FolderOf(last);
    request.initialName = last;
    request.flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_LONGNAMES;
    request.maxLength = kOutputNameBytes;
    request.defaultExtension =
        mp4First ? "mp4" : "AVI";  // the overwrite question is then about the final name
    std::string chosen;
    if (!GetSaveFileNameA(request, chosen)) return 0;
    PumpPendingMessages();

    char name[kOutputNameBytes] = {};
    std::memcpy(name, chosen.data(), std::min(chosen.size(), sizeof name - 1));
    AddDefaultExtension(name, sizeof name, mp4First ? "mp4" : "AVI");
    if (const std::string input = ProjectInputNamed(name); !input.empty()) {
        NotifyBox("Can't render to %s: %s", name, input.c_str());
        return 0;
    }
    gLastOutputName = name;
    std::memset(gSettings.LastSaveAVIfileName, 0, sizeof gSettings.LastSaveAVIfileName);
    std::memcpy(gSettings.LastSaveAVIfileName, name,
                std::min(std::strlen(name), sizeof gSettings.LastSaveAVIfileName - 1));

    const Rendering rendering;
    const int32_t width = head->width;
    const int32_t height = head->height;
    FrameComposer composer;
    if (!composer.Open(head, width, height)) return 0;

    // A head without a usable audio format renders without audio.
    RenderOutputRequest wanted;
    wanted.owner = mainWindow;
    wanted.name = name;
    wanted.input = composer.format();
    wanted.head = head;
    wanted.usPerFrame =
        head->scale ? static_cast<int32_t>(std::min<uint32_t>(head->scale, INT32_MAX)) : gProject.framePeriod;
    wanted.activeFrames = active;
    wanted.withAudio = AudioSampleBytes(head->samplesPerSec, head->channels, head->sampleBits) > 0;
    const bool mp4 = IsMp4Name(wanted.name);

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
        if (mp4) {
            const Mp4Format format = Mp4FormatFor(wanted, std::max(quality, 0));
            return fitBytes > 0 ? estimator->FitMp4(format, fitBytes) : estimator->PredictMp4(format);
        }
        return fitBytes > 0 ? estimator->Fit(handler, fitBytes, copy)
                            : estimator->Predict(handler, quality, copy);
    };
    SetSizePredictor(estimate);
    RenderChoice choice;
    const bool picked = ChooseRenderOutput(wanted, &choice);
    SetSizePredictor(nullptr);
    if (!picked) return 0;

    // Fitting a size: the quality whose file is predicted to fit (the dialog found it already when it
    // showed the prediction).
    const bool copy = gSettings.CopyFrames != 0 && !mp4;
    if (gSettings.FitToSize && (mp4 || choice.fourcc != kCompressorUncompressed)) {
        const int64_t fitBytes = int64_t{std::clamp(gSettings.FitMB, 1, kMaxFitMB)} * kBytesPerMB;
        const SizePrediction fit = estimate(static_cast<FOURCC>(choice.fourcc), -1, fitBytes, copy);
        if (fit.quality >= 0 && fit.bytes >= 0) {
            if (mp4)
                choice.quality = fit.quality;
            else
                CompressorMemory().quality = fit.quality * 100;
            if (fit.bytes > fitBytes)
                NotifyBox("The project does not fit in %s: at the lowest quality it takes about %s",
                          Megabytes(fitBytes).c_str(), Megabytes(fit.bytes).c_str());
        }
    }
    estimator.reset();

    std::string reason;
    std::unique_ptr<RenderOutput> out = CreateRenderOutput(wanted, choice, &reason);
    if (!out) {
        if (!reason.empty())
            NotifyBox("failed to open file for output: %s\n%s", name, reason.c_str());
        else
            NotifyBox("failed to open file for output: %s", name);
        Caption(kMainCaption);
        return 0;
    }

    Busy(true);
    prepareOverlays();

    AudioList audio;
    const AudioList* plan = nullptr;
    const uint8_t silence = head->sampleBits == 8 ? 0x80 : 0;  // a silent sample byte
    if (wanted.withAudio) {
        Caption("Preparing Audio");
        if (audio.Plan(head)) plan = &audio;
    }

    Caption("Saving frame...");
    OutputSink sink(*out, plan, silence, total, name);
    PipelineSetup setup;
    setup.reader = &composer;
    setup.head = head;
    setup.width = width;
    setup.height = height;
    setup.fourcc = choice.fourcc;
    setup.output = &choice.output;
    setup.copy = copy;
    setup.threads = gThreads;
    setup.sinkCompresses = mp4;
    const int32_t unopened = composer.UnopenedReads();
    bool cancelled = false;
    RunFramePipeline(setup, total, sink, [total, &cancelled](int32_t i) {
        if (gCallbacks.progress) gCallbacks.progress(i, total);
        cancelled = PumpPendingMessages() != 0;
        return cancelled;
    });

    Caption(kMainCaption);
    const bool finished = out->Finish();
    audio.Release();
    // A clip that could not be opened stopped the render: named with the reason.
    const AVIlist* unopenedClip = composer.UnopenedReads() != unopened ? composer.Unopened() : nullptr;
    const std::string unopenedText =
        unopenedClip ? FileNotOpenedText(unopenedClip->name, ClipOpenFailure(unopenedClip)) : std::string();
    composer.Close();
    Busy(false);

    // A whole render replaces the file of that name. One that stopped early (a failing or full disk,
    // a clip that could not be opened, Escape) keeps what plays only where no file had the name; an
    // existing file stays as it was.
    const int error = out->WriteError();
    int64_t length = 0;
    const bool playable = finished && out->written() > 0 && out->ReadBack(&length);
    const bool whole = error == 0 && sink.leftOutFrom() == 0 && !cancelled && !unopenedClip;
    if (whole && !playable) {
        if (out->written() == 0)
            NotifyBox("No frame of the project could be rendered\n%s", Untouched(name).c_str());
        else
            NotifyBox("Something Wrong With Final File - Abort");
        return 0;
    }
    if (whole) {
        if (const int failed = out->Commit(true)) {
            NotifyBox("Couldn't write %s\n%s\n%s", name, std::strerror(failed), Untouched(name).c_str());
            return 0;
        }
        if (NotifyYesNo("Record to %s file complete - size = %ld bytes\nWould you like to view the file?",
                        mp4 ? "MP4" : "AVI", static_cast<long>(length)) == 1 &&
            gCallbacks.viewFile)
            gCallbacks.viewFile(name);
        return 1;
    }
    const std::string cause = error ? FormatMessageText("Couldn't write %s\n%s", name, std::strerror(error))
                              : unopenedClip       ? unopenedText + "\nThe render stopped there"
                              : sink.leftOutFrom() ? out->FullText(sink.leftOutFrom())
                                                   : std::string("The render was cancelled");
    if (playable) {
        const int failed = out->Commit(false);
        if (!failed) {
            NotifyBox("%s\nThe file holds the %ld frames written before that", cause.c_str(),
                      static_cast<long>(out->written()));
            return 0;
        }
        if (failed != EEXIST) {
            NotifyBox("%s\nCouldn't write %s\n%s\n%s", cause.c_str(), name, std::strerror(failed),
                      Untouched(name).c_str());
            return 0;
        }
    }
    if (sink.lastWritten() > 0)
        NotifyBox("%s\nThe render stopped after frame %ld\n%s", cause.c_str(),
                  static_cast<long>(sink.lastWritten()), Untouched(name).c_str());
    else
        NotifyBox("%s\n%s", cause.c_str(), Untouched(name).c_str());
    return 0;
}

bool WriteProjectFrame(int32_t n, const std::string& path, std::string* reason) {
    if (const std::string input = ProjectInputNamed(path); !input.empty()) {
        *reason = input;
        return false;
    }
    const int32_t width = gProject.head->width;
    const int32_t height = gProject.head->height;
    PrepareOverlays(nullptr, width, height);
    FrameComposer composer;
    if (!composer.Open(gProject.head, width, height) || !composer.Compose(n, OverlaysAt(n))) {
        *reason = FormatMessageText("frame %ld could not be read", static_cast<long>(n));
        return false;
    }
    // A 24-bit bottom-up BMP: file header, the composer's info header, the rows.
    uint8_t file[14] = {'B', 'M'};
    BITMAPINFOHEADER info = *composer.format();
    info.biSizeImage = composer.bytes();
    WriteLE32(file + 2, static_cast<uint32_t>(14 + sizeof info + info.biSizeImage));
    WriteLE32(file + 10, static_cast<uint32_t>(14 + sizeof info));
    std::string data(reinterpret_cast<const char*>(file), sizeof file);
    data.append(reinterpret_cast<const char*>(&info), sizeof info);
    data.append(reinterpret_cast<const char*>(composer.pixels()), info.biSizeImage);
    const SaveOutcome saved = SaveFileReplacing(path, data);
    if (!saved) *reason = std::strerror(saved.error);
    return static_cast<bool>(saved);
}
