// What stands behind a capture window: the drivers (a source of pictures and sound), the table
// that lists them by index, and the seams through which the desktop program shows the live
// picture and the drivers' own dialogs.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/capwin/capwin.h"

// The largest frame a driver delivers, and the frame periods a capture accepts.
constexpr int32_t kMaxCaptureWidth = 1920;
constexpr int32_t kMaxCaptureHeight = 1080;
constexpr uint32_t kMinMicroSecPerFrame = 1000;
constexpr uint32_t kMaxMicroSecPerFrame = 10000000;

// A 24-bit bottom-up frame format of that size (biSizeImage filled in).
BITMAPINFOHEADER CaptureFormat(int32_t width, int32_t height);
// A Motion JPEG format of that size; biSizeImage is the most bytes a frame may take (that of the
// 24-bit frame).
BITMAPINFOHEADER MjpegCaptureFormat(int32_t width, int32_t height);
// True for a format a capture can take: 24-bit uncompressed or Motion JPEG within the limits above.
bool IsCaptureFormat(const BITMAPINFOHEADER& format);
inline bool IsMjpegFormat(const BITMAPINFOHEADER& format) {
    return format.biCompression == FourCC("MJPG");
}

// A source of pictures and sound. While a capture runs (from Begin to End) only Grab and ReadAudio
// are called, on the grabbing thread; everything else comes from the window's thread.
class CaptureDriver {
  public:
    virtual ~CaptureDriver() = default;
    virtual std::string Name() const = 0;
    virtual std::string Version() const = 0;
    // The format frames are delivered in: 24-bit bottom-up rows, or Motion JPEG as the camera
    // compressed it.
    virtual BITMAPINFOHEADER Format() const = 0;
    // False leaves the format as it was.
    virtual bool SetFormat(const BITMAPINFOHEADER& format) = 0;
    virtual bool HasFormatDialog() const { return false; }
    virtual bool HasSourceDialog() const { return false; }
    virtual bool FormatDialog(HWND) { return false; }
    virtual bool SourceDialog(HWND) { return false; }
    // Whether the driver records sound.
    virtual bool HasAudio() const = 0;
    // Readies the sources for a capture (audio null: pictures only); false when they cannot start.
    virtual bool Begin(uint32_t microSecPerFrame, const WAVEFORMATEX* audio) = 0;
    virtual void End() = 0;
    // Frame n, due dueUs microseconds after the start, into Format().biSizeImage bytes: the bytes
    // it took, 0 when no new picture came in time.
    virtual uint32_t Grab(int64_t n, int64_t dueUs, uint8_t* frame) = 0;
    // Appends the sound recorded up to untilUs microseconds after the start, at most maxBytes.
    virtual void ReadAudio(int64_t untilUs, std::vector<uint8_t>& out, size_t maxBytes) = 0;
    // The live picture as 24-bit rows of Format()'s size, whatever Grab delivers; false when there
    // is none.
    virtual bool Preview(uint8_t* rows) = 0;
    // Why the source has stopped delivering for good (a camera unplugged), asked on the grabbing
    // thread after a Grab that gave nothing; empty while it delivers. The capture then ends.
    virtual std::string Lost() { return {}; }
};

// Sound recorded beside a camera's pictures (the default input in the desktop program).
class CaptureSound {
  public:
    virtual ~CaptureSound() = default;
    virtual bool Available() const = 0;
    // Called from the window's thread, as are Begin and End of the driver.
    virtual void Begin(const WAVEFORMATEX& format) = 0;
    virtual void End() = 0;
    // Appends whole sample frames recorded so far, at most maxBytes (any thread).
    virtual void Read(std::vector<uint8_t>& out, size_t maxBytes) = 0;
};
using CaptureSoundFactory = std::function<std::unique_ptr<CaptureSound>()>;

// The installed drivers by index (0-9).
class CaptureDriverTable {
  public:
    virtual ~CaptureDriverTable() = default;
    // True with a name and version for an installed driver.
    virtual bool Describe(int32_t index, std::string& name, std::string& version) = 0;
    // The connected driver, or null when it does not connect.
    virtual std::unique_ptr<CaptureDriver> Connect(int32_t index) = 0;
};

// Index 0 the test pattern, 1-9 the first nine drivers of `cameras` (may be null).
std::shared_ptr<CaptureDriverTable> StandardCaptureDriverTable(std::shared_ptr<CaptureDriverTable> cameras);
// Installs the table new capture windows use; returns the previous one. Null restores the standard
// table without cameras.
std::shared_ptr<CaptureDriverTable> SetCaptureDriverTable(std::shared_ptr<CaptureDriverTable> table);

// The sizes the test pattern offers, smallest first.
constexpr int32_t kTestPatternSizes[][2] = {{160, 120}, {320, 240}, {640, 480}, {1280, 720}, {1920, 1080}};

// The built-in driver: colour bars with a moving box, a frame counter and a clock, and a 1 kHz tone.
std::unique_ptr<CaptureDriver> MakeTestPatternDriver();
constexpr const char* kTestPatternName = "Quillory Test Pattern";
constexpr const char* kTestPatternVersion = "1.0";

// The live picture of a capture window inside its parent (a widget in the desktop program).
class CaptureView {
  public:
    virtual ~CaptureView() = default;
    // The view's rectangle in its parent.
    virtual void Place(const RECT& rect) = 0;
    // live: show the picture, refreshed every intervalMs; otherwise blank.
    virtual void Show(bool live, int32_t intervalMs) = 0;
};
// Makes the view of a new visible capture window; none installed: no view (headless).
using CaptureViewFactory =
    std::function<std::unique_ptr<CaptureView>(HWND window, HWND parent, const RECT& rect)>;
void SetCaptureViewFactory(CaptureViewFactory factory);
// For a view: the latest picture (the last frame taken while capturing, the live picture otherwise).
bool CaptureWindowPicture(HWND window, std::vector<uint8_t>& rows, BITMAPINFOHEADER& format);

// A driver's choice dialog: the chosen position, or -1 when cancelled or when no dialog can be shown.
using CaptureChoiceDialog =
    std::function<int32_t(HWND parent, const std::string& title, const std::string& label,
                          const std::vector<std::string>& choices, int32_t current)>;
void SetCaptureChoiceDialog(CaptureChoiceDialog dialog);
int32_t ShowCaptureChoice(HWND parent, const std::string& title, const std::string& label,
                          const std::vector<std::string>& choices, int32_t current);
