#include "render/render.h"

#include <algorithm>
#include <cstring>
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
#include "render/titles.h"

namespace {

// The output name's buffer, terminator included.
constexpr size_t kOutputNameBytes = 200;
constexpr const char* kMainCaption = "Quillory";
constexpr FOURCC kCompressedId = FourCC("00dc");
constexpr FOURCC kUncompressedId = FourCC("00db");
constexpr FOURCC kAudioId = FourCC("01wb");
// The most sound one frame's chunk carries; a longer frame (a nonsense rate) is cut there.
constexpr size_t kMaxFrameSound = 16 * 1024 * 1024;

RenderCallbacks gCallbacks;
std::string gLastOutputName;

void Caption(const char* text) {
    if (gCallbacks.setCaption) gCallbacks.setCaption(text);
}

void Busy(bool busy) {
    if (gCallbacks.waitCursor) gCallbacks.waitCursor(busy);
}

// What one render writes: the output file and the counts its headers need. Each frame's sound goes
// out as one chunk.
struct Output {
    int32_t handle = 0;
    int32_t written = 0;  // video chunks
    const AudioList* audio = nullptr;
    uint8_t silence = 0;  // the value of a silent sample byte
    std::vector<uint8_t> sound;

    // The frame's sound; a piece that cannot be read is logged and becomes silence, so the sound
    // after it keeps its time.
    void WriteAudio(int32_t n) {
        if (!audio) return;
        sound.clear();
        int32_t slot = 0;
        for (const AudioPiece& p : audio->Pieces(n)) {
            slot++;
            const uint8_t* data = p.source ? GetAudioData(p.source, p.offset, p.count) : nullptr;
            if (p.source && !data) DebugLog("GetAudioData failed %ld", static_cast<long>(slot));
            const size_t count =
                std::min<size_t>(static_cast<size_t>(p.count), kMaxFrameSound - sound.size());
            if (data)
                sound.insert(sound.end(), data, data + count);
            else
                sound.insert(sound.end(), count, silence);
        }
        if (!sound.empty())
            MyWriteChunk(handle, sound.data(), static_cast<int32_t>(sound.size()), kAudioId, 0);
    }

    // A video chunk; false when the writer refused it (the file is full).
    bool WriteVideo(const void* data, int32_t length, FOURCC id, uint32_t flags) {
        if (MyWriteChunk(handle, data, length, id, flags) == 0) return false;
        written++;
        return true;
    }
};

// The folder part of a name: everything before its last '/'.
std::string FolderOf(const std::string& name) {
    size_t slash = name.rfind('/');
    return slash == std::string::npos ? std::string() : name.substr(0, slash);
}

}  // namespace

std::string LastRenderOutputName() {
    return gLastOutputName;
}

void SetRenderCallbacks(RenderCallbacks callbacks) {
    gCallbacks = std::move(callbacks);
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

    const int32_t width = head->width;
    const int32_t height = head->height;
    FrameComposer composer;
    if (!composer.Open(head, width, height)) return 0;

    BITMAPINFOHEADER* input = composer.format();
    const int64_t fourcc = CompressorSetup(mainWindow, input);
    if (fourcc < 0) return 0;
    BITMAPINFOHEADER output = *input;
    if (fourcc != kCompressorUncompressed) GetCompressorFormat(&output);

    // A head without a usable audio format renders without audio.
    const bool withAudio = AudioSampleBytes(head->samplesPerSec, head->channels, head->sampleBits) > 0;
    const int32_t usPerFrame =
        head->scale ? static_cast<int32_t>(std::min<uint32_t>(head->scale, INT32_MAX)) : gProject.framePeriod;
    Output out;
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
    PrepareOverlays(mainWindow, width, height);

    AudioList audio;
    if (withAudio) {
        Caption("Preparing Audio");
        if (audio.Plan(head)) out.audio = &audio;
        out.silence = head->sampleBits == 8 ? 0x80 : 0;
    }

    Caption("Saving frame...");
    for (int32_t i = 0; i < total; i++) {
        const int32_t n = i + 1;
        if (gCallbacks.progress) gCallbacks.progress(i, total);
        if (PumpPendingMessages()) break;

        const uint32_t state = FrameState(n);
        if (state & kStateInactive) continue;

        const void* data = nullptr;
        uint32_t size = 0;
        uint32_t flags = AVIIF_KEYFRAME;
        FOURCC id = kUncompressedId;
        if (!(state & kStateDropped)) {
            const std::string caption =
                FormatMessageText("Saving frame %ld/%ld to %s %ld", static_cast<long>(i),
                                  static_cast<long>(total), name, static_cast<long>(out.written + 1));
            Caption(caption.c_str());
            if (composer.Compose(mainWindow, n, state)) {
                if (fourcc == kCompressorUncompressed) {
                    data = composer.pixels();
                    size = composer.bytes();
                } else {
                    uint32_t chunkId = 0;
                    data = CompOneFrame(n, input, composer.pixels(), &size, AVIIF_KEYFRAME, nullptr, nullptr,
                                        &flags, &chunkId);
                    id = kCompressedId;
                }
            }
        }
        // A dropped frame, and one that could not be read or compressed, is an empty chunk that
        // repeats the frame before it; with no frame before it, it is left out with its audio.
        if (!data) {
            if (out.written == 0) continue;
            size = 0;
            flags = 0;
            id = kUncompressedId;
        }
        out.WriteAudio(n);
        if (!out.WriteVideo(data, static_cast<int32_t>(std::min<uint32_t>(size, INT32_MAX)), id, flags)) {
            NotifyBox("The file is full: frames from %ld on were left out", static_cast<long>(i));
            break;
        }
    }

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
