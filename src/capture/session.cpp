#include "capture/session.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "capture/capfile.h"
#include "capture/capsettings.h"
#include "capture/panel.h"
#include "core/diag.h"
#include "core/format.h"
#include "core/pump.h"
#include "settings/settings.h"

CaptureSession CaptureSession::instance_;

HWND& ghWndCap = CaptureSession::Get().window;
uint16_t& gwIndex = CaptureSession::Get().driverIndex;
uint16_t& gConnectedIndex = CaptureSession::Get().connectedIndex;
CAPDRIVERCAPS& gCapDriverCaps = CaptureSession::Get().driverCaps;
CAPSTATUS& gCapStatus = CaptureSession::Get().status;
CAPTUREPARMS& gCaptureParms = CaptureSession::Get().params;
std::atomic<uint32_t>& gCapFileCapacity = CaptureSession::Get().capFileCapacity;
std::atomic<uint32_t>& gFrameTally = CaptureSession::Get().frameTally;
std::atomic<uint32_t>& gByteTally = CaptureSession::Get().byteTally;

namespace {

constexpr int32_t kRetryWaitMs = 500;
constexpr int32_t kPreviewRateMs = 66;
constexpr int32_t kLevelSamples = 256;

CaptureSession& Session() {
    return CaptureSession::Get();
}

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

CaptureSession::CaptureSession() : uiOwner_(std::make_shared<CaptureUi>()), ui_(uiOwner_.get()) {}

bool CaptureSession::SetUi(std::shared_ptr<CaptureUi> ui, std::shared_ptr<CaptureUi>* previous) {
    // The capture thread may be inside the current interface: it stays until the capture ends.
    if (callbacksActive) {
        DebugLog("SetCaptureUi refused: a capture is running");
        return false;
    }
    if (previous) *previous = uiOwner_;
    uiOwner_ = ui ? std::move(ui) : std::make_shared<CaptureUi>();
    ui_ = uiOwner_.get();
    return true;
}

void CaptureSession::NoteFileError(const char* text) {
    std::lock_guard<std::mutex> lock(fileErrorMutex_);
    fileError_ = text;
}

std::string CaptureSession::TakeFileError() {
    std::string taken;
    std::lock_guard<std::mutex> lock(fileErrorMutex_);
    taken.swap(fileError_);
    return taken;
}

void CaptureSession::Reset() {
    CloseCaptureStuff();
    driverIndex = kNoDriver;
    connectedIndex = kNoDriver;
    driverCaps = {};
    status = {};
    params = {};
    lastCapturedFile[0] = '\0';
    pictureRect = {0, 0, 0, 0};
    lastPlacement = {0, 0, 0, 0};
    capturing = 0;
    callbacksActive = 0;
    displayTarget = nullptr;
    secondDisplayTarget = nullptr;
    capFileCapacity = 0;
    waveMode = 1;
    waveBits = 8;
    for (auto* tally : {&frameTally, &byteTally, &errorTally, &statusTally, &audioBlockTally}) *tally = 0;
    TakeFileError();
    SetUi(nullptr);
}

bool SetCaptureUi(std::shared_ptr<CaptureUi> ui, std::shared_ptr<CaptureUi>* previous) {
    return Session().SetUi(std::move(ui), previous);
}

CaptureUi& CurrentCaptureUi() {
    return Session().Ui();
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
    // The window took its capture threads with it.
    Session().callbacksActive = 0;
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
    CaptureSession& s = Session();
    s.displayTarget = display;
    s.secondDisplayTarget = display;
    s.callbacksActive = 1;
    PositionCaptureWindow(video);
    s.errorTally = 0;
    s.TakeFileError();  // an earlier capture's is no concern of this one
    s.statusTally = 0;
    s.frameTally = 0;
    s.audioBlockTally = 0;
    s.byteTally = 0;
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
    s.waveMode = gSettings.Amode;
    s.waveBits = gSettings.Abits;
    SetCompressionFromSettings();
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
    CaptureSession& s = Session();
    CaptureUi& ui = s.Ui();
    HWND target = s.displayTarget;
    ui.ShowLine(target, 1, " ", kLcdYellow);
    ui.ShowLine(target, 2, FinalCaptureLine(bytes, frames, drops, elapsed), kLcdGreen);
    ui.ShowLevels(0, 0);
    s.displayTarget = nullptr;
    s.secondDisplayTarget = nullptr;
    s.callbacksActive = 0;
    // A capture file that could not be written, or a camera that went away, ended the capture: the
    // user hears which and why.
    const std::string failure = s.TakeFileError();
    if (!failure.empty()) NotifyBox("%s", failure.c_str());
}

LRESULT CapYieldCallback(HWND) {
    return CaptureYieldPump(0);
}

LRESULT CapControlCallback(HWND, int) {
    return 1;
}

LRESULT CapErrorCallback(HWND, int id, const char* text) {
    CaptureSession& s = Session();
    if (!s.callbacksActive) return 0;
    if (id != 0) {
        s.errorTally++;
        if (text &&
            (id == IDS_CAP_FILE_WRITE_ERROR || id == IDS_CAP_FILE_OPEN_ERROR || id == IDS_CAP_DRIVER_ERROR))
            s.NoteFileError(text);
    }
    return 1;
}

LRESULT CapStatusCallback(HWND, int, const char*) {
    CaptureSession& s = Session();
    if (!s.callbacksActive) return 0;
    s.statusTally++;
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
    CaptureSession& s = Session();
    s.frameTally++;
    const uint32_t bytes = s.byteTally += header->dwBytesUsed + (header->dwBytesUsed & 1);
    if (!s.capturing) return 1;
    CAPSTATUS status{};
    capSendMessage(window, WM_CAP_GET_STATUS, sizeof status, reinterpret_cast<LPARAM>(&status));
    HWND target = s.displayTarget;
    if (!target) target = s.secondDisplayTarget;
    if (target)
        s.Ui().ShowLine(target, 1,
                        RunningCaptureLine(status.dwCurrentVideoFrame, status.dwCurrentVideoFramesDropped,
                                           bytes, s.capFileCapacity),
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
    CaptureSession& s = Session();
    s.audioBlockTally++;
    int32_t left = 0;
    int32_t right = 0;
    WaveLevels(reinterpret_cast<const uint8_t*>(header->lpData), header->dwBufferLength, s.waveMode,
               s.waveBits, &left, &right);
    s.Ui().ShowLevels(left, right);
    return 1;
}

void ResetCaptureSession() {
    Session().Reset();
}
