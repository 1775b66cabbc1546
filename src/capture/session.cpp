#include "capture/session.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "capture/capfile.h"
#include "capture/panel.h"
#include "core/diag.h"
#include "core/format.h"
#include "core/pump.h"
#include "settings/settings.h"

HWND ghWndCap = nullptr;
uint16_t gwIndex = kNoDriver;
uint16_t gConnectedIndex = kNoDriver;
CAPDRIVERCAPS gCapDriverCaps{};
CAPSTATUS gCapStatus{};
CAPTUREPARMS gCaptureParms{};
std::atomic<uint32_t> gCapFileCapacity{0};
std::atomic<uint32_t> gFrameTally{0};
std::atomic<uint32_t> gByteTally{0};
std::atomic<uint32_t> gErrorTally{0};
// The text of the last capture-file error of the capture running (the error callback runs on the
// capture thread); shown when the capture ends.
std::mutex gFileErrorMutex;
std::string gFileError;
std::atomic<uint32_t> gStatusTally{0};
std::atomic<uint32_t> gAudioBlockTally{0};
std::atomic<HWND> gDisplayTarget{nullptr};
std::atomic<HWND> gSecondDisplayTarget{nullptr};
std::atomic<int32_t> gCallbacksActive{0};

namespace {

constexpr int32_t kRetryWaitMs = 500;
constexpr int32_t kPreviewRateMs = 66;
constexpr int32_t kLevelSamples = 256;

std::shared_ptr<CaptureUi> gUiOwner = std::make_shared<CaptureUi>();
// What the capture thread reads: set only while no capture runs.
std::atomic<CaptureUi*> gUi{gUiOwner.get()};
// The sound format the wave callback measures, fixed when a capture starts.
std::atomic<int32_t> gWaveMode{1};
std::atomic<int32_t> gWaveBits{8};

}  // namespace

void CaptureUi::ShowLine(HWND, int32_t, const std::string&, uint32_t) {}
void CaptureUi::ShowLevels(int32_t, int32_t) {}
void CaptureUi::SetItemText(HWND, int32_t, const std::string&) {}
void CaptureUi::EnableItem(HWND, int32_t, bool) {}
bool CaptureUi::PictureBox(HWND, RECT&) {
    return false;
}
void CaptureUi::Repaint(HWND) {}
bool CaptureUi::CaptureFileDialog(HWND) {
    return false;
}

std::shared_ptr<CaptureUi> SetCaptureUi(std::shared_ptr<CaptureUi> ui) {
    auto old = gUiOwner;
    gUiOwner = ui ? std::move(ui) : std::make_shared<CaptureUi>();
    gUi = gUiOwner.get();
    return old;
}

CaptureUi& CurrentCaptureUi() {
    return *gUi.load();
}

LRESULT SendCap(uint32_t message, WPARAM wParam, LPARAM lParam) {
    if (!capIsWindow(ghWndCap)) return 0;
    return capSendMessage(ghWndCap, message, wParam, lParam);
}

bool RefreshCaptureStatus() {
    return SendCap(WM_CAP_GET_STATUS, sizeof gCapStatus, reinterpret_cast<LPARAM>(&gCapStatus)) != 0;
}

bool ReadVideoFormat(BITMAPINFOHEADER& format) {
    const LRESULT size = SendCap(WM_CAP_GET_VIDEOFORMAT);
    if (size < static_cast<LRESULT>(sizeof format)) return false;
    return SendCap(WM_CAP_GET_VIDEOFORMAT, sizeof format, reinterpret_cast<LPARAM>(&format)) != 0;
}

int32_t EnumCaptureDrivers(HWND mainWindow, std::vector<std::pair<int32_t, std::string>>& items) {
    HWND probe = capCreateCaptureWindowA("Capture Window", WS_CHILD, 0, 0, 160, 120, mainWindow, 0);
    if (!probe) {
        NotifyBox("couldn't create capture window");
        return 0;
    }
    gConnectedIndex = kNoDriver;
    for (uint16_t i = 0; i <= 9; i++) {
        char name[80];
        char version[100];
        if (!capGetDriverDescriptionA(i, name, sizeof name, version, sizeof version)) continue;
        if (gwIndex == kNoDriver) gwIndex = i;
        items.emplace_back(i, FormatMessageText("&%d %s", i, name));
    }
    capDestroyWindow(probe);
    return 1;
}

namespace {

bool Connect(uint16_t index) {
    if (!SendCap(WM_CAP_DRIVER_CONNECT, index)) return false;
    gConnectedIndex = index;
    SendCap(WM_CAP_DRIVER_GET_CAPS, sizeof gCapDriverCaps, reinterpret_cast<LPARAM>(&gCapDriverCaps));
    return true;
}

// The first installed driver is the only one tried when none was chosen; a chosen one gets a
// second try after half a second.
bool ConnectDriver() {
    if (gwIndex == kNoDriver) {
        for (uint16_t i = 0; i <= 9; i++) {
            char name[80];
            char version[100];
            if (!capGetDriverDescriptionA(i, name, sizeof name, version, sizeof version)) continue;
            if (!Connect(i)) return false;
            gwIndex = i;
            return true;
        }
        return false;
    }
    if (Connect(gwIndex)) return true;
    PumpWaitMessages(kRetryWaitMs);
    return Connect(gwIndex);
}

// Ties CapFile to the capture window, asking for another file while that fails and the user wants to.
void TieCaptureFile(HWND owner) {
    for (;;) {
        const int32_t result = SetupCapFile(gSettings.CapFile);
        if (result == 1) return;
        if (result == 0) {
            if (!NotifyYesNo("No Cap File Found\nWould You Like To Choose A Capture File Now?")) return;
        } else {
            NotifyBox(
                "Had trouble setting up capture file.\nIf it is referenced in the storyboard\nthen you "
                "should clear "
                "it so it is available for capturing");
            if (!NotifyYesNo("Would You Like To Choose Another Capture File Now?")) return;
        }
        if (!CurrentCaptureUi().CaptureFileDialog(owner)) return;
    }
}

}  // namespace

int32_t OpenCaptureStuff(HWND parent, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (width < 1) width = 320;
    if (height < 1) height = 240;
    HWND window =
        capCreateCaptureWindowA("Capture Window", WS_CHILD | WS_VISIBLE, x, y, width, height, parent, 0);
    if (!window) {
        NotifyBox("couldn't create capture window");
        return 0;
    }
    ghWndCap = window;
    SendCap(WM_CAP_SET_CALLBACK_YIELD, 0, reinterpret_cast<LPARAM>(&CapYieldCallback));
    SendCap(WM_CAP_SET_CALLBACK_CAPCONTROL, 0, reinterpret_cast<LPARAM>(&CapControlCallback));
    SendCap(WM_CAP_SET_CALLBACK_ERRORA, 0, reinterpret_cast<LPARAM>(&CapErrorCallback));
    SendCap(WM_CAP_SET_CALLBACK_STATUSA, 0, reinterpret_cast<LPARAM>(&CapStatusCallback));
    SendCap(WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&CapVideoStreamCallback));
    SendCap(WM_CAP_SET_CALLBACK_WAVESTREAM, 0, reinterpret_cast<LPARAM>(&CapWaveStreamCallback));
    if (!ConnectDriver()) {
        capDestroyWindow(ghWndCap);
        ghWndCap = nullptr;
        return 0;
    }
    TieCaptureFile(parent);
    SizeCaptureWindowToImage(ghWndCap);
    SendCap(WM_CAP_GET_SEQUENCE_SETUP, sizeof gCaptureParms, reinterpret_cast<LPARAM>(&gCaptureParms));
    gCaptureParms.fAbortLeftMouse = 0;
    gCaptureParms.fAbortRightMouse = 0;
    gCaptureParms.fYield = 1;
    gCaptureParms.vKeyAbort = 0;
    SendCap(WM_CAP_SET_SEQUENCE_SETUP, sizeof gCaptureParms, reinterpret_cast<LPARAM>(&gCaptureParms));
    SendCap(WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(gSettings.CapFile));
    char name[100] = "";
    char version[100] = "";
    SendCap(WM_CAP_DRIVER_GET_NAMEA, sizeof name, reinterpret_cast<LPARAM>(name));
    SendCap(WM_CAP_DRIVER_GET_VERSIONA, sizeof version, reinterpret_cast<LPARAM>(version));
    DebugLog("capture driver %u: %s %s", static_cast<unsigned>(gConnectedIndex), name, version);
    SendCap(WM_CAP_DRIVER_GET_CAPS, sizeof gCapDriverCaps, reinterpret_cast<LPARAM>(&gCapDriverCaps));
    return 1;
}

int32_t CloseCaptureStuff() {
    if (!ghWndCap) return 0;
    for (uint32_t message :
         {WM_CAP_SET_CALLBACK_YIELD, WM_CAP_SET_CALLBACK_CAPCONTROL, WM_CAP_SET_CALLBACK_ERRORA,
          WM_CAP_SET_CALLBACK_STATUSA, WM_CAP_SET_CALLBACK_VIDEOSTREAM, WM_CAP_SET_CALLBACK_WAVESTREAM})
        SendCap(message, 0, 0);
    capDestroyWindow(ghWndCap);
    ghWndCap = nullptr;
    gConnectedIndex = kNoDriver;
    return 0;
}

int32_t SizeCaptureWindowToImage(HWND captureWindow) {
    if (!captureWindow) return 0;
    RefreshCaptureStatus();
    RECT r{};
    capGetWindowRect(captureWindow, &r);
    capMoveWindow(captureWindow, r.left, r.top, static_cast<int32_t>(gCapStatus.uiImageWidth),
                  static_cast<int32_t>(gCapStatus.uiImageHeight), true);
    return 1;
}

void ApplyDisplayMode() {
    if (gSettings.overlaymode) {
        SendCap(WM_CAP_SET_PREVIEWRATE, kPreviewRateMs);
        SendCap(WM_CAP_SET_PREVIEW, 1);
        SendCap(WM_CAP_SET_OVERLAY, 0);
    } else {
        SendCap(WM_CAP_SET_PREVIEW, 0);
        SendCap(WM_CAP_SET_OVERLAY, 1);
    }
}

void PositionCaptureWindow(HWND window) {
    if (!ghWndCap) return;
    RECT box{};
    if (CurrentCaptureUi().PictureBox(window, box)) {
        const auto w = static_cast<int32_t>(gCapStatus.uiImageWidth);
        const auto h = static_cast<int32_t>(gCapStatus.uiImageHeight);
        capMoveWindow(ghWndCap, (box.right - box.left - w) / 2, (box.bottom - box.top - h) / 2, w, h, true);
        CurrentCaptureUi().Repaint(window);
    }
    ApplyDisplayMode();
}

void ShowVideoFormatDialog() {
    if (ghWndCap && gCapDriverCaps.fHasDlgVideoFormat) SendCap(WM_CAP_DLG_VIDEOFORMAT);
}

void ShowVideoSourceDialog() {
    if (ghWndCap && gCapDriverCaps.fHasDlgVideoSource) SendCap(WM_CAP_DLG_VIDEOSOURCE);
}

void MyCapVideo(HWND display, HWND video) {
    RefreshCaptureStatus();
    if (!ghWndCap) return;
    gDisplayTarget = display;
    gSecondDisplayTarget = display;
    gCallbacksActive = 1;
    PositionCaptureWindow(video);
    gErrorTally = 0;
    {
        std::lock_guard<std::mutex> lock(gFileErrorMutex);
        gFileError.clear();
    }
    gStatusTally = 0;
    gFrameTally = 0;
    gAudioBlockTally = 0;
    gByteTally = 0;
    SendCap(WM_CAP_GET_SEQUENCE_SETUP, sizeof gCaptureParms, reinterpret_cast<LPARAM>(&gCaptureParms));
    gCaptureParms.dwRequestMicroSecPerFrame = static_cast<uint32_t>(gSettings.msPerFrame);
    gCaptureParms.fCaptureAudio = gSettings.Arate != 0 ? 1 : 0;
    gCaptureParms.fYield = 1;
    SendCap(WM_CAP_SET_SEQUENCE_SETUP, sizeof gCaptureParms, reinterpret_cast<LPARAM>(&gCaptureParms));
    SendCap(WM_CAP_GET_SEQUENCE_SETUP, sizeof gCaptureParms, reinterpret_cast<LPARAM>(&gCaptureParms));
    if (gSettings.Arate != 0) {
        const auto size = static_cast<size_t>(std::max<LRESULT>(SendCap(WM_CAP_GET_AUDIOFORMAT), 0));
        const size_t used = std::min(size, sizeof(WAVEFORMATEX));
        WAVEFORMATEX f{};
        if (used > 0 && SendCap(WM_CAP_GET_AUDIOFORMAT, used, reinterpret_cast<LPARAM>(&f))) {
            const auto bytes = static_cast<uint16_t>(gSettings.Abits / 8);
            f.wFormatTag = WAVE_FORMAT_PCM;
            f.nChannels = static_cast<uint16_t>(gSettings.Amode);
            f.nSamplesPerSec = static_cast<uint32_t>(gSettings.Arate);
            f.wBitsPerSample = static_cast<uint16_t>(gSettings.Abits);
            f.nBlockAlign = static_cast<uint16_t>(bytes * gSettings.Amode);
            f.nAvgBytesPerSec = static_cast<uint32_t>(bytes * gSettings.Arate * gSettings.Amode);
            f.cbSize = 0;
            SendCap(WM_CAP_SET_AUDIOFORMAT, used, reinterpret_cast<LPARAM>(&f));
        }
    }
    gWaveMode = gSettings.Amode;
    gWaveBits = gSettings.Abits;
    SendCap(WM_CAP_SEQUENCE);
}

void EndCap(HWND, HWND video) {
    if (!ghWndCap) return;
    PositionCaptureWindow(video);
    RefreshCaptureStatus();
    const uint32_t elapsed = gCapStatus.dwCurrentTimeElapsedMS;
    // The status counts the frames in the file; the bytes of frames taken but never written (a
    // full disk) are left out too. Every frame of a capture has the same size.
    const uint32_t frames = gCapStatus.dwCurrentVideoFrame;
    const uint32_t drops = std::min(gCapStatus.dwCurrentVideoFramesDropped, frames);
    const uint32_t stored = frames - drops;
    uint32_t bytes = gByteTally;
    if (gFrameTally > stored) bytes = static_cast<uint32_t>(uint64_t{bytes} * stored / gFrameTally);
    CaptureUi& ui = CurrentCaptureUi();
    HWND target = gDisplayTarget;
    ui.ShowLine(target, 1, " ", kLcdYellow);
    ui.ShowLine(target, 2, FinalCaptureLine(bytes, frames, drops, elapsed), kLcdGreen);
    ui.ShowLevels(0, 0);
    gDisplayTarget = nullptr;
    gSecondDisplayTarget = nullptr;
    gCallbacksActive = 0;
    // A capture file that could not be written ended the capture: the user hears which and why.
    std::string failure;
    {
        std::lock_guard<std::mutex> lock(gFileErrorMutex);
        failure.swap(gFileError);
    }
    if (!failure.empty()) NotifyBox("%s", failure.c_str());
}

LRESULT CapYieldCallback(HWND) {
    return CaptureYieldPump(0);
}

LRESULT CapControlCallback(HWND, int) {
    return 1;
}

LRESULT CapErrorCallback(HWND, int id, const char* text) {
    if (!gCallbacksActive) return 0;
    if (id != 0) {
        gErrorTally++;
        if (text && (id == IDS_CAP_FILE_WRITE_ERROR || id == IDS_CAP_FILE_OPEN_ERROR)) {
            std::lock_guard<std::mutex> lock(gFileErrorMutex);
            gFileError = text;
        }
    }
    return 1;
}

LRESULT CapStatusCallback(HWND, int, const char*) {
    if (!gCallbacksActive) return 0;
    gStatusTally++;
    return 1;
}

int32_t CaptureFilePercent(uint32_t bytes, uint32_t capacity) {
    if (capacity <= 1000) return 0;
    return (static_cast<int32_t>(bytes) / static_cast<int32_t>(capacity / 1000) + 5) / 10;
}

std::string RunningCaptureLine(uint32_t frames, uint32_t drops, uint32_t bytes, uint32_t capacity) {
    return FormatMessageText("%ld FRAMES, %ld DROPS, %s BYTES  (%ld%%)", static_cast<long>(frames),
                             static_cast<long>(drops), FormatThousands(static_cast<int32_t>(bytes)),
                             static_cast<long>(CaptureFilePercent(bytes, capacity)));
}

std::string FinalCaptureLine(uint32_t bytes, uint32_t frames, uint32_t drops, uint32_t elapsedMs) {
    const uint32_t seconds = elapsedMs / 1000;
    const uint32_t tenths = (elapsedMs - seconds * 1000) / 100;
    return FormatMessageText("FINAL: %s BYTES, %ld FRAMES, %ld DROPS - %ld.%ld SECS",
                             FormatThousands(static_cast<int32_t>(bytes)), static_cast<long>(frames),
                             static_cast<long>(drops), static_cast<long>(seconds), static_cast<long>(tenths));
}

LRESULT CapVideoStreamCallback(HWND window, VIDEOHDR* header) {
    if (!header) return 1;
    gFrameTally++;
    gByteTally += header->dwBytesUsed + (header->dwBytesUsed & 1);
    if (!gCapturing) return 1;
    CAPSTATUS status{};
    capSendMessage(window, WM_CAP_GET_STATUS, sizeof status, reinterpret_cast<LPARAM>(&status));
    HWND target = gDisplayTarget;
    if (!target) target = gSecondDisplayTarget;
    if (target)
        CurrentCaptureUi().ShowLine(
            target, 1,
            RunningCaptureLine(status.dwCurrentVideoFrame, status.dwCurrentVideoFramesDropped, gByteTally,
                               gCapFileCapacity),
            kLcdYellow);
    return 1;
}

void WaveLevels(const uint8_t* data, uint32_t bytes, int32_t mode, int32_t bits, int32_t* left,
                int32_t* right) {
    const bool stereo = mode != 1;
    const bool wide = bits != 8;
    const int32_t full = wide ? 32768 : 128;
    const int32_t n = static_cast<int32_t>(std::min<uint32_t>(wide ? bytes / 2 : bytes, kLevelSamples));
    int32_t sums[2] = {0, 0};
    for (int32_t i = 0; i < n; i++) {
        const int32_t v =
            wide ? std::abs(static_cast<int16_t>(ReadLE16(data + 2 * i))) : std::abs(data[i] - 128);
        sums[stereo ? (i & 1) : 0] += v;
    }
    const auto level = [full](int32_t sum, int32_t count) { return count ? sum / count * 100 / full : 0; };
    if (stereo) {
        *left = level(sums[0], n / 2);
        *right = level(sums[1], n / 2);
    } else {
        *left = *right = level(sums[0], n);
    }
}

LRESULT CapWaveStreamCallback(HWND, WAVEHDR* header) {
    if (!header || !header->lpData) return 1;
    gAudioBlockTally++;
    int32_t left = 0;
    int32_t right = 0;
    WaveLevels(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength, gWaveMode, gWaveBits,
               &left, &right);
    CurrentCaptureUi().ShowLevels(left, right);
    return 1;
}

void ResetCaptureSession() {
    CloseCaptureStuff();
    gwIndex = kNoDriver;
    gConnectedIndex = kNoDriver;
    gCapDriverCaps = {};
    gCapStatus = {};
    gCaptureParms = {};
    gCapFileCapacity = 0;
    gFrameTally = 0;
    gByteTally = 0;
    gDisplayTarget = nullptr;
    gSecondDisplayTarget = nullptr;
    gCallbacksActive = 0;
}
