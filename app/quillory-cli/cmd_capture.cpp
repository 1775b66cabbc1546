#include <sys/stat.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>

#include "capture/capfile.h"
#include "capture/capsettings.h"
#include "capture/panel.h"
#include "capture/session.h"
#include "commands.h"
#include "core/diag.h"
#include "core/format.h"
#include "core/memory.h"
#include "core/savefile.h"
#include "platform/capwin/camera.h"
#include "platform/capwin/capdriver.h"
#include "platform/gdi/gdi.h"
#include "settings/settings.h"

// capture --seconds S [...]: the panel's Start and Stop without the panel. The running line goes
// to standard error at most once a second, the final line to standard output.
namespace {

constexpr const char* kUsage =
    "usage: quillory-cli capture --seconds S [--driver N] [--file PATH] [--size-mb N] [--fps F] [--size WxH] "
    "[--audio RATE,BITS,CHANNELS|none] [--compress mjpg[:QUALITY]|none]\n";
constexpr double kMaxSeconds = 24 * 3600;
// How often the wait looks at the clock and at an interrupt.
constexpr int kWaitSliceMs = 50;
// A limited capture ends by itself; the wait gives up this much later.
constexpr double kLimitSlackSeconds = 5;

std::atomic<bool> gInterrupted{false};
// The capture file this run created empty, removed again when the run fails before using it.
std::string gCreatedFile;

// Lines of the display: the running line to standard error once a second, the final line kept.
class ConsoleDisplay : public CaptureUi {
  public:
    void ShowLine(HWND, int32_t line, const std::string& text, uint32_t) override {
        if (line == 1 && text != " ") {
            const int64_t now = std::chrono::duration_cast<std::chrono::milliseconds>(
                                    std::chrono::steady_clock::now().time_since_epoch())
                                    .count();
            int64_t last = lastPrinted_;
            if (now - last >= 1000 && lastPrinted_.compare_exchange_strong(last, now))
                std::fprintf(stderr, "%s\n", text.c_str());
        } else if (line == 2) {
            std::lock_guard<std::mutex> lock(mutex_);
            final_ = text;
        }
    }
    std::string final() {
        std::lock_guard<std::mutex> lock(mutex_);
        return final_;
    }

  private:
    std::atomic<int64_t> lastPrinted_{-1000000};
    std::mutex mutex_;
    std::string final_;
};

bool ParseLong(const std::string& text, long low, long high, long* value) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno || *end || v < low || v > high) return false;
    *value = v;
    return true;
}

bool ParseDouble(const std::string& text, double low, double high, double* value) {
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || errno || *end || !(v >= low && v <= high)) return false;
    *value = v;
    return true;
}

struct Options {
    double seconds = -1;
    long driver = -1;
    std::string file;
    long sizeMb = -1;
    double fps = 0;
    long width = 0;
    long height = 0;
    std::string audio;
    long compress = -1;  // 0 none, 1 Motion JPEG
    long quality = -1;
};

bool Parse(const Args& args, Options& o) {
    for (size_t i = 0; i < args.size(); i++) {
        const std::string& a = args[i];
        if (i + 1 >= args.size()) return false;
        const std::string& v = args[++i];
        bool ok = true;
        if (a == "--seconds") {
            ok = ParseDouble(v, 0, kMaxSeconds, &o.seconds);
        } else if (a == "--driver") {
            ok = ParseLong(v, 0, 9, &o.driver);
        } else if (a == "--file") {
            o.file = v;
            ok = !v.empty();
        } else if (a == "--size-mb") {
            ok = ParseLong(v, 1, 2048, &o.sizeMb);
        } else if (a == "--fps") {
            ok = ParseDouble(v, 0.1, 1000, &o.fps);
        } else if (a == "--size") {
            const size_t x = v.find('x');
            ok = x != std::string::npos && ParseLong(v.substr(0, x), 1, kMaxCaptureWidth, &o.width) &&
                 ParseLong(v.substr(x + 1), 1, kMaxCaptureHeight, &o.height);
        } else if (a == "--audio") {
            o.audio = v;
        } else if (a == "--compress") {
            // mjpg, mjpg:QUALITY (0-100) or none
            o.compress = v == "none" ? 0 : 1;
            if (v.rfind("mjpg:", 0) == 0)
                ok = ParseLong(v.substr(5), 0, 100, &o.quality);
            else
                ok = v == "none" || v == "mjpg";
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "capture: bad value for %s: %s\n", a.c_str(), v.c_str());
            return false;
        }
    }
    return o.seconds >= 0;
}

// RATE,BITS,CHANNELS or none into the settings.
bool ApplyAudio(const std::string& text) {
    if (text.empty()) return true;
    if (text == "none") {
        gSettings.Arate = 0;
        return true;
    }
    long rate = 0, bits = 0, channels = 0;
    const size_t c1 = text.find(',');
    const size_t c2 = c1 == std::string::npos ? c1 : text.find(',', c1 + 1);
    if (c2 == std::string::npos || !ParseLong(text.substr(0, c1), 1000, 192000, &rate) ||
        !ParseLong(text.substr(c1 + 1, c2 - c1 - 1), 8, 16, &bits) || (bits != 8 && bits != 16) ||
        !ParseLong(text.substr(c2 + 1), 1, 2, &channels)) {
        std::fprintf(stderr,
                     "capture: --audio takes RATE,BITS,CHANNELS (8 or 16 bits, 1 or 2 channels) or none\n");
        return false;
    }
    gSettings.Arate = static_cast<int32_t>(rate);
    gSettings.Abits = static_cast<int32_t>(bits);
    gSettings.Amode = static_cast<int32_t>(channels);
    return true;
}

// The capture file named on the command line, made absolute and created empty when missing.
bool UseFile(const std::string& name) {
    std::error_code ec;
    const std::string path = std::filesystem::absolute(name, ec).lexically_normal().string();
    if (ec || path.size() >= sizeof gSettings.CapFile) {
        std::fprintf(stderr, "capture: capture file name longer than %zu characters\n",
                     sizeof gSettings.CapFile - 1);
        return false;
    }
    if (!std::filesystem::exists(path, ec)) {
        FILE* f = std::fopen(path.c_str(), "ab");
        if (!f) {
            std::fprintf(stderr, "capture: cannot create %s\n", path.c_str());
            return false;
        }
        std::fclose(f);
        gCreatedFile = path;
    }
    CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, path);
    return true;
}

// False after a message naming the capture file when it is one the user protected: a capture is
// written in place, so it would be written over.
bool CaptureFileWritable() {
    struct stat st {};
    if (!gSettings.CapFile[0] || stat(gSettings.CapFile, &st) != 0 || MayReplaceFile(gSettings.CapFile, st))
        return true;
    NotifyBox("Cannot open the capture file <%s>\n%s", gSettings.CapFile, std::strerror(EACCES));
    return false;
}

// Blocks in the event loop until the capture has ended by itself (or the time is up), or until
// the capture is interrupted.
void Wait(double seconds) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::microseconds(std::llround(seconds * 1e6));
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        RefreshCaptureStatus();
        if (gInterrupted || !gCapStatus.fCapturingNow || std::chrono::steady_clock::now() >= end) loop.quit();
    });
    tick.start(kWaitSliceMs);
    if (std::chrono::steady_clock::now() < end) loop.exec();
}

int Finish(int rc) {
    CloseCaptureStuff();
    SetCaptureUi(nullptr);
    WrapupMemoryMonitor();
    struct stat st {};
    if (rc != 0 && !gCreatedFile.empty() && stat(gCreatedFile.c_str(), &st) == 0 && st.st_size == 0)
        std::remove(gCreatedFile.c_str());
    return rc;
}

int CmdCapture(const Args& args) {
    Options o;
    if (!Parse(args, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    LoadStartupSettings();
    // The options hold for this run only: the settings are not saved.
    if (!ApplyAudio(o.audio)) return 2;
    if (o.compress >= 0) gSettings.CapCompress = static_cast<int32_t>(o.compress);
    if (o.quality >= 0) gSettings.CapQuality = static_cast<int32_t>(o.quality);
    if (o.fps > 0) gSettings.msPerFrame = static_cast<int32_t>(std::lround(1000000.0 / o.fps));
    if (o.driver >= 0) gwIndex = static_cast<uint16_t>(o.driver);
    if (!o.file.empty() && !UseFile(o.file)) return 1;
    if (!CaptureFileWritable()) return 1;
    // Questions about the capture file are answered No: nothing here can choose another one.
    SetMessageBoxProvider(std::make_shared<ConsoleMessageBoxProvider>(false));
    // Cameras need a Qt application whose event loop runs while capturing.
    if (o.driver > 0) EnsureGuiApplication();
    static int argc = 1;
    static char name[] = "quillory-cli";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QCoreApplication(argc, argv);  // lives as long as the process
    SetCaptureDriverTable(StandardCaptureDriverTable(CameraDriverTable()));
    auto display = std::make_shared<ConsoleDisplay>();
    SetCaptureUi(display);
    static int token;
    HWND panel = &token;  // the display target: this console

    if (!OpenCaptureStuff(nullptr, 0, 0, kCapturePictureWidth, kCapturePictureHeight)) {
        NotifyBox("Capture couldn't open");
        return Finish(1);
    }
    if (o.width > 0) {
        const BITMAPINFOHEADER f =
            CaptureFormat(static_cast<int32_t>(o.width), static_cast<int32_t>(o.height));
        if (!SendCap(WM_CAP_SET_VIDEOFORMAT, sizeof f, reinterpret_cast<LPARAM>(&f))) {
            std::fprintf(stderr, "capture: the driver does not offer %ldx%ld\n", o.width, o.height);
            return Finish(1);
        }
    }
    if (o.sizeMb > 0) {
        CapFileDialogState state = OpenCapFileDialog(gSettings.CapFile);
        if (CapFileDialogOk(state, std::to_string(o.sizeMb)) != CapFileOutcome::kAllocated) return Finish(1);
        SetupCapFile(gSettings.CapFile);
    }
    PanelSetUp(panel);
    // A whole number of seconds is the capture window's own time limit, so the file holds exactly
    // that much; a fraction is stopped by the clock.
    const bool limited = o.seconds >= 1 && o.seconds == std::floor(o.seconds) && o.seconds <= UINT16_MAX;
    SendCap(WM_CAP_GET_SEQUENCE_SETUP, sizeof gCaptureParms, reinterpret_cast<LPARAM>(&gCaptureParms));
    gCaptureParms.fLimitEnabled = limited ? 1 : 0;
    gCaptureParms.wTimeLimit = limited ? static_cast<uint32_t>(o.seconds) : 0;
    SendCap(WM_CAP_SET_SEQUENCE_SETUP, sizeof gCaptureParms, reinterpret_cast<LPARAM>(&gCaptureParms));
    if (!CaptureFileNamed()) return Finish(1);
    PanelStartCapture(panel, nullptr);
    std::signal(SIGINT, [](int) { gInterrupted = true; });
    std::signal(SIGTERM, [](int) { gInterrupted = true; });
    Wait(limited ? o.seconds + kLimitSlackSeconds : o.seconds);
    PanelStopCapture(panel, nullptr);
    std::printf("%s\n", display->final().c_str());
    std::fflush(stdout);
    return Finish(0);
}

CommandRegistrar registrar("capture", CmdCapture,
                           "--seconds S [--driver N] [--file PATH] [--size-mb N] [--fps F] [--size WxH] "
                           "[--audio RATE,BITS,CHANNELS|none] [--compress mjpg[:QUALITY]|none]");

}  // namespace
