#include "render/render.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
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
void GatherSound(const AudioList* audio, uint8_t silence, int32_t n, std::vector<uint8_t>& sound,
                 std::vector<uint8_t>& scratch) {
    sound.clear();
    if (!audio) return;
    int32_t slot = 0;
    for (const AudioPiece& p : audio->Pieces(n)) {
        slot++;
        const uint8_t* data = p.source ? AudioPieceData(p, scratch) : nullptr;
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
        GatherSound(plan_, silence_, f.n, sound_, scratch_);
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
    std::vector<uint8_t> sound_, scratch_;
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

// What the steps of a render hand on: the output chosen, what the render will do, and the frames'
// reader, open from the plan to the end of the run.
struct RenderJob {
    HWND mainWindow = nullptr;
    AVIlist* head = nullptr;
    int32_t total = 0;   // project frames
    int32_t active = 0;  // those that are not inactive
    char name[kOutputNameBytes] = {};
    bool mp4 = false;
    FrameComposer composer;
    RenderOutputRequest wanted;
    RenderChoice choice;
    bool copy = false;
    bool overlaysReady = false;
};

// How the run ended: what the report tells.
struct RenderRun {
    bool created = false;      // the file was created
    std::string createReason;  // why it was not (may be empty)
    int writeError = 0;        // errno of a write that failed
    bool cancelled = false;    // Escape
    std::string unopened;      // the message naming a clip that could not be opened, which stopped it
    std::string fullText;      // why the output took no more frames, when it refused one
    bool whole = false;        // every frame is in the file
    bool playable = false;     // finished, with frames, and it reads back whole
    int64_t length = 0;        // of the file read back
    int32_t written = 0;       // frames in the file
    int32_t lastWritten = 0;   // project frame (from 1) written last, 0 before any
    int commitError = 0;       // of the commit a playable file gets (EEXIST: the name was taken)
};

// Titles and underlays for the frame size, once: for the first size prediction or for the frames.
void PrepareOverlaysOnce(RenderJob& job) {
    if (!job.overlaysReady) PrepareOverlays(job.mainWindow, job.head->width, job.head->height);
    job.overlaysReady = true;
}

// Whether there is anything to render, and where it goes: the name the user chooses (its extension
// decides the kind of file), never one of the project's own files. The name is remembered. False
// after a message, or when the dialog was cancelled.
bool ChooseOutput(HWND mainWindow, RenderKind offer, RenderJob& job) {
    job.mainWindow = mainWindow;
    job.head = gProject.head;
    job.total = gProject.totalFrames;
    if (!job.head || job.total <= 0) return false;
    int32_t shown = 0;
    for (int32_t n = 1; n <= job.total; n++) {
        const uint32_t state = FrameState(n);
        if (!(state & kStateInactive)) job.active++;
        if (!(state & (kStateInactive | kStateDropped))) shown++;
    }
    if (shown == 0) {
        NotifyBox("There is nothing to render: every frame of the project is dropped or inactive");
        return false;
    }

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
    if (!GetSaveFileNameA(request, chosen)) return false;
    PumpPendingMessages();

    char* name = job.name;
    std::memcpy(name, chosen.data(), std::min(chosen.size(), sizeof job.name - 1));
    AddDefaultExtension(name, sizeof job.name, mp4First ? "mp4" : "AVI");
    if (const std::string input = ProjectInputNamed(name); !input.empty()) {
        NotifyBox("Can't render to %s: %s", name, input.c_str());
        return false;
    }
    gLastOutputName = name;
    std::memset(gSettings.LastSaveAVIfileName, 0, sizeof gSettings.LastSaveAVIfileName);
    std::memcpy(gSettings.LastSaveAVIfileName, name,
                std::min(std::strlen(name), sizeof gSettings.LastSaveAVIfileName - 1));
    job.mp4 = IsMp4Name(name);
    return true;
}

// What the file will be: the frames' reader opened, the compression chosen in the compressor
// dialog (which shows the predicted size), and for "Fit to ... MB" the quality predicted to fit.
// False when the frames cannot be read or the choice was cancelled.
bool PlanRender(RenderJob& job) {
    AVIlist* head = job.head;
    if (!job.composer.Open(head, head->width, head->height)) return false;

    // A head without a usable audio format renders without audio.
    RenderOutputRequest& wanted = job.wanted;
    wanted.owner = job.mainWindow;
    wanted.name = job.name;
    wanted.input = job.composer.format();
    wanted.head = head;
    wanted.usPerFrame =
        head->scale ? static_cast<int32_t>(std::min<uint32_t>(head->scale, INT32_MAX)) : gProject.framePeriod;
    wanted.activeFrames = job.active;
    wanted.withAudio = AudioSampleBytes(head->samplesPerSec, head->channels, head->sampleBits) > 0;

    std::unique_ptr<SizeEstimator> estimator;
    auto estimate = [&](FOURCC handler, int quality, int64_t fitBytes, bool copy) {
        if (!estimator) {
            PrepareOverlaysOnce(job);
            estimator = std::make_unique<SizeEstimator>(job.composer, head, gThreads);
        }
        if (job.mp4) {
            const Mp4Format format = Mp4FormatFor(wanted, std::max(quality, 0));
            return fitBytes > 0 ? estimator->FitMp4(format, fitBytes) : estimator->PredictMp4(format);
        }
        return fitBytes > 0 ? estimator->Fit(handler, fitBytes, copy)
                            : estimator->Predict(handler, quality, copy);
    };
    SetSizePredictor(estimate);
    const bool picked = ChooseRenderOutput(wanted, &job.choice);
    SetSizePredictor(nullptr);
    if (!picked) return false;

    // Fitting a size: the quality whose file is predicted to fit (the dialog found it already when it
    // showed the prediction).
    RenderChoice& choice = job.choice;
    job.copy = gSettings.CopyFrames != 0 && !job.mp4;
    if (gSettings.FitToSize && (job.mp4 || choice.fourcc != kCompressorUncompressed)) {
        const int64_t fitBytes = int64_t{std::clamp(gSettings.FitMB, 1, kMaxFitMB)} * kBytesPerMB;
        const SizePrediction fit = estimate(static_cast<FOURCC>(choice.fourcc), -1, fitBytes, job.copy);
        if (fit.quality >= 0 && fit.bytes >= 0) {
            if (job.mp4)
                choice.quality = fit.quality;
            else
                CompressorMemory().quality = fit.quality * 100;
            if (fit.bytes > fitBytes)
                NotifyBox("The project does not fit in %s: at the lowest quality it takes about %s",
                          Megabytes(fitBytes).c_str(), Megabytes(fit.bytes).c_str());
        }
    }
    return true;
}

// Creates the file, writes every frame that is not inactive with its sound (the progress and
// Escape through the callbacks and the pump), finishes it, reads it back and gives it its name: a
// whole render replaces a file of that name, one that stopped early takes the name only where it is
// free. What became of it goes to the report.
RenderRun RunRender(RenderJob& job) {
    RenderRun run;
    std::unique_ptr<RenderOutput> out = CreateRenderOutput(job.wanted, job.choice, &run.createReason);
    if (!out) return run;
    run.created = true;

    Busy(true);
    PrepareOverlaysOnce(job);

    AVIlist* head = job.head;
    AudioList audio;
    const AudioList* plan = nullptr;
    const uint8_t silence = head->sampleBits == 8 ? 0x80 : 0;  // a silent sample byte
    if (job.wanted.withAudio) {
        Caption("Preparing Audio");
        if (audio.Plan(head)) plan = &audio;
    }

    Caption("Saving frame...");
    const int32_t total = job.total;
    OutputSink sink(*out, plan, silence, total, job.name);
    PipelineSetup setup;
    setup.reader = &job.composer;
    setup.head = head;
    setup.width = head->width;
    setup.height = head->height;
    setup.fourcc = job.choice.fourcc;
    setup.output = &job.choice.output;
    setup.copy = job.copy;
    setup.threads = gThreads;
    setup.sinkCompresses = job.mp4;
    const int32_t unopened = job.composer.UnopenedReads();
    RunFramePipeline(setup, total, sink, [total, &run](int32_t i) {
        if (gCallbacks.progress) gCallbacks.progress(i, total);
        run.cancelled = PumpPendingMessages() != 0;
        return run.cancelled;
    });

    Caption(kMainCaption);
    const bool finished = out->Finish();
    audio.Release();
    // A clip that could not be opened stopped the render: named with the reason.
    if (job.composer.UnopenedReads() != unopened) {
        const AVIlist* clip = job.composer.Unopened();
        run.unopened = FileNotOpenedText(clip->name, ClipOpenFailure(clip));
    }
    job.composer.Close();
    Busy(false);

    run.writeError = out->WriteError();
    if (sink.leftOutFrom()) run.fullText = out->FullText(sink.leftOutFrom());
    run.playable = finished && out->written() > 0 && out->ReadBack(&run.length);
    run.whole = run.writeError == 0 && sink.leftOutFrom() == 0 && !run.cancelled && run.unopened.empty();
    if (run.playable) run.commitError = out->Commit(run.whole);
    run.written = out->written();
    run.lastWritten = sink.lastWritten();
    return run;
}

// Hands the end of a render that was not cancelled to whoever tells a user who went elsewhere.
void TellEnded(const RenderJob& job, const RenderRun& run, int64_t elapsedMs) {
    if (!gCallbacks.ended || run.cancelled) return;
    const std::string name(job.name), file = name.substr(name.rfind('/') + 1);
    if (run.whole && run.playable && !run.commitError) {
        gCallbacks.ended(elapsedMs, "Render finished: " + file + ", " + Megabytes(run.length), {});
        return;
    }
    const int error = run.writeError ? run.writeError : run.commitError;
    const std::string detail = !run.created            ? run.createReason
                               : error                 ? std::string(std::strerror(error))
                               : !run.unopened.empty() ? run.unopened
                               : !run.fullText.empty() ? run.fullText
                                                       : std::string("The file does not read back");
    gCallbacks.ended(elapsedMs, "Render failed: " + file, detail);
}

// Tells the user how the render ended, and offers to view a whole file. 1 for a whole file that
// has taken its name, else 0.
int32_t ReportRender(const RenderJob& job, const RenderRun& run) {
    const char* name = job.name;
    if (!run.created) {
        if (!run.createReason.empty())
            NotifyBox("failed to open file for output: %s\n%s", name, run.createReason.c_str());
        else
            NotifyBox("failed to open file for output: %s", name);
        Caption(kMainCaption);
        return 0;
    }
    if (run.whole && !run.playable) {
        if (run.written == 0)
            NotifyBox("No frame of the project could be rendered\n%s", Untouched(name).c_str());
        else
            NotifyBox("Something Wrong With Final File - Abort");
        return 0;
    }
    if (run.whole) {
        if (run.commitError) {
            NotifyBox("Couldn't write %s\n%s\n%s", name, std::strerror(run.commitError),
                      Untouched(name).c_str());
            return 0;
        }
        const char* kind = job.mp4 ? "MP4" : "AVI";
        const long size = static_cast<long>(run.length);
        const char* question =
            "Record to %s file complete - size = %ld bytes\nWould you like to view the file?";
        const int answer = gCallbacks.showInFolder
                               ? NotifyYesNoWithButton("Show in Folder", question, kind, size)
                               : NotifyYesNo(question, kind, size);
        if (answer == 1 && gCallbacks.viewFile) gCallbacks.viewFile(name);
        if (answer == 2) gCallbacks.showInFolder(name);
        return 1;
    }
    const std::string cause =
        run.writeError ? FormatMessageText("Couldn't write %s\n%s", name, std::strerror(run.writeError))
        : !run.unopened.empty() ? run.unopened + "\nThe render stopped there"
        : !run.fullText.empty() ? run.fullText
                                : std::string("The render was cancelled");
    if (run.playable) {
        if (!run.commitError) {
            NotifyBox("%s\nThe file holds the %ld frames written before that", cause.c_str(),
                      static_cast<long>(run.written));
            return 0;
        }
        if (run.commitError != EEXIST) {
            NotifyBox("%s\nCouldn't write %s\n%s\n%s", cause.c_str(), name, std::strerror(run.commitError),
                      Untouched(name).c_str());
            return 0;
        }
    }
    if (run.lastWritten > 0)
        NotifyBox("%s\nThe render stopped after frame %ld\n%s", cause.c_str(),
                  static_cast<long>(run.lastWritten), Untouched(name).c_str());
    else
        NotifyBox("%s\n%s", cause.c_str(), Untouched(name).c_str());
    return 0;
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
    RenderJob job;
    if (!ChooseOutput(mainWindow, offer, job)) return 0;
    const Rendering rendering;
    if (!PlanRender(job)) return 0;
    const auto start = std::chrono::steady_clock::now();
    const RenderRun run = RunRender(job);
    const auto ran = std::chrono::steady_clock::now() - start;
    TellEnded(job, run, std::chrono::duration_cast<std::chrono::milliseconds>(ran).count());
    return ReportRender(job, run);
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
