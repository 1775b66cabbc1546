// The capture window: one object per capCreateCaptureWindowA, its messages handled on the thread
// that sends them (the user-interface thread), its capture run by a CaptureEngine.
#include "platform/capwin/capwin.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>

#include "platform/capwin/capavi.h"
#include "platform/capwin/capdriver.h"
#include "platform/capwin/capengine.h"
#include "platform/codec/codec.h"

namespace {

// The capture file name a window keeps, as a 200-byte buffer holds it.
constexpr size_t kMaxCaptureFileName = 199;
constexpr uint32_t kDefaultMicroSecPerFrame = 66667;
constexpr int32_t kDefaultPreviewMs = 66;
constexpr uint32_t kMinAudioRate = 1000;
constexpr uint32_t kMaxAudioRate = 192000;
// The smallest frame buffer a Motion JPEG driver may ask for (headers and tables take 600 bytes).
constexpr uint32_t kMinMjpegFrameBytes = 4096;

class StandardTable : public CaptureDriverTable {
  public:
    explicit StandardTable(std::shared_ptr<CaptureDriverTable> cameras) : cameras_(std::move(cameras)) {}
    bool Describe(int32_t index, std::string& name, std::string& version) override {
        if (index == 0) {
            name = kTestPatternName;
            version = kTestPatternVersion;
            return true;
        }
        return index >= 1 && index <= 9 && cameras_ && cameras_->Describe(index - 1, name, version);
    }
    std::unique_ptr<CaptureDriver> Connect(int32_t index) override {
        if (index == 0) return MakeTestPatternDriver();
        if (index >= 1 && index <= 9 && cameras_) return cameras_->Connect(index - 1);
        return nullptr;
    }

  private:
    std::shared_ptr<CaptureDriverTable> cameras_;
};

std::shared_ptr<CaptureDriverTable>& Table() {
    static std::shared_ptr<CaptureDriverTable> table = StandardCaptureDriverTable(nullptr);
    return table;
}
CaptureViewFactory gViewFactory;
CaptureChoiceDialog gChoiceDialog;

// Copies a name into a caller's buffer of `size` bytes, cut to fit.
void CopyOut(const std::string& text, char* buffer, size_t size) {
    if (!buffer || size == 0) return;
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// A bounded copy of a caller's structure of `size` bytes into ours, or out of ours.
template <typename T>
bool CopyFrom(T& dest, WPARAM size, LPARAM from) {
    if (!from || size < sizeof(T)) return false;
    std::memcpy(&dest, reinterpret_cast<const void*>(from), sizeof(T));
    return true;
}
template <typename T>
LRESULT CopyTo(const T& src, WPARAM size, LPARAM to) {
    if (!to || size == 0) return 0;
    const size_t n = std::min<size_t>(size, sizeof(T));
    std::memcpy(reinterpret_cast<void*>(to), &src, n);
    return static_cast<LRESULT>(n);
}

bool IsPcmFormat(const WAVEFORMATEX& f) {
    return f.wFormatTag == WAVE_FORMAT_PCM && (f.nChannels == 1 || f.nChannels == 2) &&
           (f.wBitsPerSample == 8 || f.wBitsPerSample == 16) && f.nSamplesPerSec >= kMinAudioRate &&
           f.nSamplesPerSec <= kMaxAudioRate && f.nBlockAlign == f.nChannels * f.wBitsPerSample / 8 &&
           f.nAvgBytesPerSec == f.nSamplesPerSec * f.nBlockAlign;
}

class CaptureWindow {
  public:
    CaptureWindow(HWND parent, const RECT& rect, bool visible)
        : parent_(parent), rect_(rect), visible_(visible), table_(Table()) {
        params_.dwRequestMicroSecPerFrame = kDefaultMicroSecPerFrame;
        params_.fYield = 0;
        params_.wPercentDropForError = 10;
        params_.fAbortLeftMouse = 1;
        params_.fAbortRightMouse = 1;
        params_.vKeyAbort = 0x1B;  // VK_ESCAPE
        audio_ = {WAVE_FORMAT_PCM, 1, 11025, 11025, 1, 8, 0};
    }
    ~CaptureWindow() {
        engine_.reset();
        view_.reset();
    }
    void AttachView(HWND self) {
        if (visible_ && gViewFactory) view_ = gViewFactory(self, parent_, rect_);
        UpdateView();
    }
    LRESULT Message(HWND self, uint32_t message, WPARAM wParam, LPARAM lParam);
    void Move(const RECT& r) {
        rect_ = r;
        if (view_) view_->Place(r);
    }
    RECT rect() const { return rect_; }
    bool Picture(std::vector<uint8_t>& rows, BITMAPINFOHEADER& format) {
        if (!driver_) return false;
        format = driver_->Format();
        const bool jpeg = IsMjpegFormat(format);
        format = CaptureFormat(format.biWidth, format.biHeight);
        if (engine_ && counts_.running && !jpeg) return engine_->LatestFrame(rows);
        rows.resize(format.biSizeImage);
        return driver_->Preview(rows.data());
    }

  private:
    bool Capturing() const { return engine_ != nullptr; }
    void Disconnect() {
        engine_.reset();
        driver_.reset();
        index_ = -1;
        UpdateView();
    }
    void UpdateView() {
        if (!view_) return;
        const bool live = driver_ && (preview_ || overlay_);
        // Overlay shows every frame; preview at the preview rate.
        const int32_t interval =
            preview_ ? previewMs_
                     : static_cast<int32_t>(std::max<uint32_t>(params_.dwRequestMicroSecPerFrame / 1000, 1));
        view_->Show(live, interval);
    }
    // One handler per family of messages; Message only dispatches.
    LRESULT OnCallback(uint32_t message, LPARAM lParam);
    LRESULT OnDriver(uint32_t message, WPARAM wParam, LPARAM lParam);
    LRESULT OnFile(uint32_t message, WPARAM wParam, LPARAM lParam);
    LRESULT OnFormat(uint32_t message, WPARAM wParam, LPARAM lParam);
    LRESULT OnDisplay(uint32_t message, WPARAM wParam);
    // Also sent from the capture thread (the video callback): reads only atomics and what a
    // running capture leaves alone.
    LRESULT OnStatus(WPARAM wParam, LPARAM lParam);
    LRESULT OnSequence(HWND self, uint32_t message, WPARAM wParam, LPARAM lParam);
    LRESULT OnCompression(uint32_t message, WPARAM wParam, LPARAM lParam);
    uint32_t TrialFrameBytes();
    LRESULT Sequence(HWND self);

    HWND parent_;
    RECT rect_;
    bool visible_;
    std::shared_ptr<CaptureDriverTable> table_;
    std::unique_ptr<CaptureDriver> driver_;
    int32_t index_ = -1;
    std::unique_ptr<CaptureView> view_;
    std::string file_;
    CAPTUREPARMS params_{};
    WAVEFORMATEX audio_{};
    CAPCOMPRESSION compression_{FourCC("MJPG"), kDefaultCaptureQuality};
    uint32_t trialBytes_ = 0;  // of the last trial compression
    // Read by WM_CAP_GET_STATUS, which the stream callbacks send from the capture thread.
    std::atomic<bool> preview_{false};
    std::atomic<bool> overlay_{false};
    int32_t previewMs_ = kDefaultPreviewMs;
    CaptureCallbacks callbacks_;
    CaptureCounts counts_;
    std::unique_ptr<CaptureEngine> engine_;
};

// The live capture windows; the capture thread's callbacks look their window up too.
std::mutex gWindowsMutex;
std::set<CaptureWindow*>& Windows() {
    static std::set<CaptureWindow*> windows;
    return windows;
}

CaptureWindow* Find(HWND window) {
    auto* w = static_cast<CaptureWindow*>(window);
    std::lock_guard<std::mutex> lock(gWindowsMutex);
    return w && Windows().count(w) ? w : nullptr;
}

LRESULT CaptureWindow::Sequence(HWND self) {
    if (!driver_ || Capturing() || file_.empty()) return 0;
    engine_ = std::make_unique<CaptureEngine>(self, driver_.get(), &callbacks_, &counts_);
    const bool audio = params_.fCaptureAudio && driver_->HasAudio() && IsPcmFormat(audio_);
    const int64_t limitUs = params_.fLimitEnabled ? static_cast<int64_t>(params_.wTimeLimit) * 1000000 : 0;
    if (!engine_->Start(file_, params_.dwRequestMicroSecPerFrame, audio ? &audio_ : nullptr, compression_,
                        limitUs)) {
        engine_.reset();
        return 0;
    }
    return 1;
}

LRESULT CaptureWindow::Message(HWND self, uint32_t message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CAP_SET_CALLBACK_ERRORA:
        case WM_CAP_SET_CALLBACK_STATUSA:
        case WM_CAP_SET_CALLBACK_YIELD:
        case WM_CAP_SET_CALLBACK_VIDEOSTREAM:
        case WM_CAP_SET_CALLBACK_WAVESTREAM:
        case WM_CAP_SET_CALLBACK_CAPCONTROL:
            return OnCallback(message, lParam);
        case WM_CAP_DRIVER_CONNECT:
        case WM_CAP_DRIVER_DISCONNECT:
        case WM_CAP_DRIVER_GET_NAMEA:
        case WM_CAP_DRIVER_GET_VERSIONA:
        case WM_CAP_DRIVER_GET_CAPS:
            return OnDriver(message, wParam, lParam);
        case WM_CAP_FILE_SET_CAPTURE_FILEA:
        case WM_CAP_FILE_GET_CAPTURE_FILEA:
        case WM_CAP_FILE_ALLOCATE:
            return OnFile(message, wParam, lParam);
        case WM_CAP_SET_AUDIOFORMAT:
        case WM_CAP_GET_AUDIOFORMAT:
        case WM_CAP_GET_VIDEOFORMAT:
        case WM_CAP_SET_VIDEOFORMAT:
        case WM_CAP_DLG_VIDEOFORMAT:
        case WM_CAP_DLG_VIDEOSOURCE:
        case WM_CAP_PAL_AUTOCREATE:
            return OnFormat(message, wParam, lParam);
        case WM_CAP_SET_PREVIEW:
        case WM_CAP_SET_OVERLAY:
        case WM_CAP_SET_PREVIEWRATE:
            return OnDisplay(message, wParam);
        case WM_CAP_GET_STATUS:
            return OnStatus(wParam, lParam);
        case WM_CAP_SET_SEQUENCE_SETUP:
        case WM_CAP_GET_SEQUENCE_SETUP:
        case WM_CAP_SEQUENCE:
        case WM_CAP_STOP:
            return OnSequence(self, message, wParam, lParam);
        case WM_CAP_SET_COMPRESSION:
        case WM_CAP_GET_COMPRESSION:
        case WM_CAP_GET_FRAME_BYTES:
            return OnCompression(message, wParam, lParam);
        default:
            return 0;
    }
}

LRESULT CaptureWindow::OnCallback(uint32_t message, LPARAM lParam) {
    switch (message) {
        case WM_CAP_SET_CALLBACK_ERRORA:
            callbacks_.error = reinterpret_cast<CAPERRORCALLBACKA>(lParam);
            break;
        case WM_CAP_SET_CALLBACK_STATUSA:
            callbacks_.status = reinterpret_cast<CAPSTATUSCALLBACKA>(lParam);
            break;
        case WM_CAP_SET_CALLBACK_YIELD:
            callbacks_.yield = reinterpret_cast<CAPYIELDCALLBACK>(lParam);
            break;
        case WM_CAP_SET_CALLBACK_VIDEOSTREAM:
            callbacks_.video = reinterpret_cast<CAPVIDEOCALLBACK>(lParam);
            break;
        case WM_CAP_SET_CALLBACK_WAVESTREAM:
            callbacks_.wave = reinterpret_cast<CAPWAVECALLBACK>(lParam);
            break;
        case WM_CAP_SET_CALLBACK_CAPCONTROL:
            callbacks_.control = reinterpret_cast<CAPCONTROLCALLBACK>(lParam);
            break;
        default:
            return 0;
    }
    return 1;
}

LRESULT CaptureWindow::OnDriver(uint32_t message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CAP_DRIVER_CONNECT: {
            if (Capturing() || wParam > 9) return 0;
            std::unique_ptr<CaptureDriver> driver =
                table_ ? table_->Connect(static_cast<int32_t>(wParam)) : nullptr;
            if (!driver) return 0;
            driver_ = std::move(driver);
            index_ = static_cast<int32_t>(wParam);
            UpdateView();
            return 1;
        }
        case WM_CAP_DRIVER_DISCONNECT:
            if (Capturing()) return 0;
            Disconnect();
            return 1;
        case WM_CAP_DRIVER_GET_NAMEA:
        case WM_CAP_DRIVER_GET_VERSIONA:
            if (!driver_ || !lParam || wParam == 0) return 0;
            CopyOut(message == WM_CAP_DRIVER_GET_NAMEA ? driver_->Name() : driver_->Version(),
                    reinterpret_cast<char*>(lParam), wParam);
            return 1;
        case WM_CAP_DRIVER_GET_CAPS: {
            if (!driver_) return 0;
            CAPDRIVERCAPS caps{};
            caps.wDeviceIndex = static_cast<uint32_t>(index_);
            caps.fHasDlgVideoSource = driver_->HasSourceDialog();
            caps.fHasDlgVideoFormat = driver_->HasFormatDialog();
            caps.fCaptureInitialized = 1;
            return CopyTo(caps, wParam, lParam) ? 1 : 0;
        }
        default:
            return 0;
    }
}

LRESULT CaptureWindow::OnFile(uint32_t message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CAP_FILE_SET_CAPTURE_FILEA: {
            const char* name = reinterpret_cast<const char*>(lParam);
            if (Capturing() || !name || !*name || std::strlen(name) > kMaxCaptureFileName) return 0;
            struct stat st {};
            if (stat(name, &st) == 0 && S_ISDIR(st.st_mode)) return 0;
            file_ = name;
            return 1;
        }
        case WM_CAP_FILE_GET_CAPTURE_FILEA:
            if (!lParam || wParam == 0) return 0;
            CopyOut(file_, reinterpret_cast<char*>(lParam), wParam);
            return 1;
        case WM_CAP_FILE_ALLOCATE:
            if (Capturing() || file_.empty()) return 0;
            return AllocateCaptureFile(file_, static_cast<int64_t>(static_cast<uint32_t>(lParam))) ? 1 : 0;
        default:
            return 0;
    }
}

LRESULT CaptureWindow::OnFormat(uint32_t message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CAP_SET_AUDIOFORMAT: {
            WAVEFORMATEX f{};
            if (Capturing() || !lParam || wParam < sizeof(PCMWAVEFORMAT)) return 0;
            std::memcpy(&f, reinterpret_cast<const void*>(lParam), std::min<size_t>(wParam, sizeof f));
            if (!IsPcmFormat(f)) return 0;
            f.cbSize = 0;
            audio_ = f;
            return 1;
        }
        case WM_CAP_GET_AUDIOFORMAT:
            if (!driver_ || !driver_->HasAudio()) return 0;
            if (!lParam) return sizeof(WAVEFORMATEX);
            return CopyTo(audio_, wParam, lParam);
        case WM_CAP_GET_VIDEOFORMAT: {
            if (!driver_) return 0;
            const BITMAPINFOHEADER f = driver_->Format();
            if (!lParam) return sizeof(BITMAPINFOHEADER);
            return CopyTo(f, wParam, lParam);
        }
        case WM_CAP_SET_VIDEOFORMAT: {
            BITMAPINFOHEADER f{};
            if (!driver_ || Capturing() || !CopyFrom(f, wParam, lParam)) return 0;
            return driver_->SetFormat(f) ? 1 : 0;
        }
        case WM_CAP_DLG_VIDEOFORMAT:
        case WM_CAP_DLG_VIDEOSOURCE: {
            if (!driver_ || Capturing()) return 0;
            const bool format = message == WM_CAP_DLG_VIDEOFORMAT;
            if (!(format ? driver_->HasFormatDialog() : driver_->HasSourceDialog())) return 0;
            const bool ok = format ? driver_->FormatDialog(parent_) : driver_->SourceDialog(parent_);
            UpdateView();
            return ok ? 1 : 0;
        }
        case WM_CAP_PAL_AUTOCREATE:
            // Frames are 24-bit: there is no palette to make.
            return driver_ ? 1 : 0;
        default:
            return 0;
    }
}

LRESULT CaptureWindow::OnDisplay(uint32_t message, WPARAM wParam) {
    switch (message) {
        case WM_CAP_SET_PREVIEW:
            preview_ = wParam != 0;
            break;
        case WM_CAP_SET_OVERLAY:
            overlay_ = wParam != 0;
            break;
        case WM_CAP_SET_PREVIEWRATE:
            previewMs_ = static_cast<int32_t>(std::clamp<WPARAM>(wParam, 1, 10000));
            break;
        default:
            return 0;
    }
    UpdateView();
    return 1;
}

LRESULT CaptureWindow::OnStatus(WPARAM wParam, LPARAM lParam) {
    CAPSTATUS s{};
    if (driver_) {
        const BITMAPINFOHEADER f = driver_->Format();
        s.uiImageWidth = static_cast<uint32_t>(f.biWidth);
        s.uiImageHeight = static_cast<uint32_t>(f.biHeight);
        s.fAudioHardware = driver_->HasAudio();
    }
    s.fLiveWindow = preview_;
    s.fOverlayWindow = overlay_;
    struct stat st {};
    s.fCapFileExists = !file_.empty() && stat(file_.c_str(), &st) == 0;
    s.dwCurrentVideoFrame = counts_.frames;
    s.dwCurrentVideoFramesDropped = counts_.dropped;
    s.dwCurrentWaveSamples = counts_.waveSamples;
    s.dwCurrentTimeElapsedMS = counts_.elapsedMs;
    s.fCapturingNow = counts_.running;
    return CopyTo(s, wParam, lParam) ? 1 : 0;
}

LRESULT CaptureWindow::OnSequence(HWND self, uint32_t message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CAP_SET_SEQUENCE_SETUP: {
            CAPTUREPARMS p{};
            if (Capturing() || !CopyFrom(p, wParam, lParam)) return 0;
            // The frame period is kept within what a capture can take (the caller reads it back).
            p.dwRequestMicroSecPerFrame =
                std::clamp(p.dwRequestMicroSecPerFrame, kMinMicroSecPerFrame, kMaxMicroSecPerFrame);
            params_ = p;
            UpdateView();
            return 1;
        }
        case WM_CAP_GET_SEQUENCE_SETUP:
            return CopyTo(params_, wParam, lParam) ? 1 : 0;
        case WM_CAP_SEQUENCE:
            return Sequence(self);
        case WM_CAP_STOP:
            if (!engine_) return 0;
            engine_->Stop();
            engine_.reset();
            UpdateView();
            return 1;
        default:
            return 0;
    }
}

LRESULT CaptureWindow::OnCompression(uint32_t message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CAP_SET_COMPRESSION: {
            CAPCOMPRESSION c{};
            if (Capturing() || !CopyFrom(c, wParam, lParam)) return 0;
            if ((c.fccHandler != FourCC("MJPG") && c.fccHandler != BI_RGB) || c.dwQuality > 100) return 0;
            compression_ = c;
            return 1;
        }
        case WM_CAP_GET_COMPRESSION:
            return CopyTo(compression_, wParam, lParam) ? 1 : 0;
        case WM_CAP_GET_FRAME_BYTES:
            if (!driver_) return 0;
            // The driver is left alone while it captures: until a frame is stored the last trial stands.
            if (engine_ && counts_.storedFrames > 0)
                return static_cast<LRESULT>(counts_.videoBytes / counts_.storedFrames);
            if (!engine_) trialBytes_ = TrialFrameBytes();
            return trialBytes_;
        default:
            return 0;
    }
}

uint32_t CaptureWindow::TrialFrameBytes() {
    const BITMAPINFOHEADER delivered = driver_->Format();
    if (!IsMjpegFormat(delivered) && compression_.fccHandler == BI_RGB) return delivered.biSizeImage;
    // The live picture compressed as the capture would (a camera's own JPEG frames come out close
    // to it at its usual quality).
    BITMAPINFOHEADER in = CaptureFormat(delivered.biWidth, delivered.biHeight);
    std::vector<uint8_t> rows(in.biSizeImage);
    if (!driver_->Preview(rows.data())) return 0;
    HIC hic = ICOpen(ICTYPE_VIDEO, FourCC("MJPG"), ICMODE_COMPRESS);
    if (!hic) return 0;
    BITMAPINFOHEADER out = MjpegCaptureFormat(in.biWidth, in.biHeight);
    std::vector<uint8_t> jpeg(out.biSizeImage);
    DWORD ckid = 0, flags = 0;
    const uint32_t quality = IsMjpegFormat(delivered) ? kDefaultCaptureQuality : compression_.dwQuality;
    const bool ok = ICCompressBegin(hic, &in, &out) == ICERR_OK &&
                    ICCompress(hic, ICCOMPRESS_KEYFRAME, &out, jpeg.data(), &in, rows.data(), &ckid, &flags,
                               0, 0, quality * 100, nullptr, nullptr) == ICERR_OK;
    ICClose(hic);
    return ok ? out.biSizeImage : 0;
}

}  // namespace

BITMAPINFOHEADER CaptureFormat(int32_t width, int32_t height) {
    return Dib24Format(width, height);
}

BITMAPINFOHEADER MjpegCaptureFormat(int32_t width, int32_t height) {
    BITMAPINFOHEADER f = Dib24Format(width, height);
    f.biCompression = FourCC("MJPG");
    return f;
}

bool IsCaptureFormat(const BITMAPINFOHEADER& f) {
    return f.biBitCount == 24 && (f.biCompression == BI_RGB || IsMjpegFormat(f)) && f.biWidth > 0 &&
           f.biHeight > 0 && f.biWidth <= kMaxCaptureWidth && f.biHeight <= kMaxCaptureHeight &&
           (!IsMjpegFormat(f) || f.biSizeImage >= kMinMjpegFrameBytes);
}

std::shared_ptr<CaptureDriverTable> StandardCaptureDriverTable(std::shared_ptr<CaptureDriverTable> cameras) {
    return std::make_shared<StandardTable>(std::move(cameras));
}

std::shared_ptr<CaptureDriverTable> SetCaptureDriverTable(std::shared_ptr<CaptureDriverTable> table) {
    auto old = Table();
    Table() = table ? std::move(table) : StandardCaptureDriverTable(nullptr);
    return old;
}

void SetCaptureViewFactory(CaptureViewFactory factory) {
    gViewFactory = std::move(factory);
}

bool CaptureWindowPicture(HWND window, std::vector<uint8_t>& rows, BITMAPINFOHEADER& format) {
    CaptureWindow* w = Find(window);
    return w && w->Picture(rows, format);
}

void SetCaptureChoiceDialog(CaptureChoiceDialog dialog) {
    gChoiceDialog = std::move(dialog);
}

int32_t ShowCaptureChoice(HWND parent, const std::string& title, const std::string& label,
                          const std::vector<std::string>& choices, int32_t current) {
    return gChoiceDialog ? gChoiceDialog(parent, title, label, choices, current) : -1;
}

HWND capCreateCaptureWindowA(const char*, uint32_t style, int32_t x, int32_t y, int32_t width, int32_t height,
                             HWND parent, int32_t) {
    auto* w = new CaptureWindow(parent, RECT{x, y, x + width, y + height}, (style & WS_VISIBLE) != 0);
    {
        std::lock_guard<std::mutex> lock(gWindowsMutex);
        Windows().insert(w);
    }
    w->AttachView(w);
    return w;
}

int32_t capGetDriverDescriptionA(uint16_t index, char* name, int32_t nameSize, char* version,
                                 int32_t versionSize) {
    std::string n, v;
    if (index > 9 || !Table() || !Table()->Describe(index, n, v)) return 0;
    CopyOut(n, name, static_cast<size_t>(std::max(nameSize, 0)));
    CopyOut(v, version, static_cast<size_t>(std::max(versionSize, 0)));
    return 1;
}

LRESULT capSendMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam) {
    CaptureWindow* w = Find(window);
    return w ? w->Message(window, message, wParam, lParam) : 0;
}

bool capIsWindow(HWND window) {
    return Find(window) != nullptr;
}

int32_t capDestroyWindow(HWND window) {
    CaptureWindow* w = Find(window);
    if (!w) return 0;
    {
        std::lock_guard<std::mutex> lock(gWindowsMutex);
        Windows().erase(w);
    }
    delete w;
    return 1;
}

int32_t capMoveWindow(HWND window, int32_t x, int32_t y, int32_t width, int32_t height, bool) {
    CaptureWindow* w = Find(window);
    if (!w) return 0;
    w->Move(RECT{x, y, x + width, y + height});
    return 1;
}

int32_t capGetWindowRect(HWND window, RECT* rect) {
    CaptureWindow* w = Find(window);
    if (!w || !rect) return 0;
    *rect = w->rect();
    return 1;
}
