// The capture driver session: the one CaptureSession object of the process (the capture window
// and the driver connected to it, the capture file tied to it, streaming capture with its
// callbacks) and the running and final statistics on the capture panel's display.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/capwin/capwin.h"

constexpr uint16_t kNoDriver = 65535;

// Display colours (COLORREF: 0x00BBGGRR).
constexpr uint32_t kLcdGreen = 0x00FF00;
constexpr uint32_t kLcdYellow = 0x00FFFF;
constexpr uint32_t kLcdBanner = 0x6060FF;

// Where the panel shows the picture, and the capture window's last placement in it.
struct PanelRect {
    int32_t x, y, width, height;
};

// What the capture code draws on and asks of the windows. The desktop program's panel installs
// its own; without one nothing is shown. ShowLine and ShowLevels may be called on the capture
// thread, and must only record and post what they are given; the others run on the
// user-interface thread.
class CaptureUi {
  public:
    virtual ~CaptureUi() = default;
    virtual void ShowLine(HWND window, int32_t line, const std::string& text, uint32_t colour);
    virtual void ShowLevels(int32_t left, int32_t right);
    virtual void SetItemText(HWND dialog, int32_t id, const std::string& text);
    virtual void EnableItem(HWND dialog, int32_t id, bool enable);
    // The box the picture goes in (control 1742, or the client area less a 70-pixel strip on the
    // left), in the coordinates of the capture window's parent; false without a window.
    virtual bool PictureBox(HWND window, RECT& box);
    virtual void Repaint(HWND window);
    // The capture file dialog on CapFile; false when no dialog can be shown.
    virtual bool CaptureFileDialog(HWND owner);
};

// The capture state of the process: the capture window and its driver, the capture running in it
// and the panel's places. One per process (CaptureSession::Get()). Members without a note belong
// to the user-interface thread; atomics are shared with the capture thread's callbacks, which run
// from MyCapVideo to EndCap. A new member is put back in Reset.
class CaptureSession {
  public:
    static constexpr CaptureSession& Get() { return instance_; }

    HWND window = nullptr;             // the capture window (ghWndCap)
    uint16_t driverIndex = kNoDriver;  // the driver the next connection tries; kNoDriver until one is chosen
    uint16_t connectedIndex = kNoDriver;
    CAPDRIVERCAPS driverCaps{};
    CAPSTATUS status{};  // as RefreshCaptureStatus last read it
    CAPTUREPARMS params{};
    char lastCapturedFile[200] = "";  // CapFile as it was at the last Stop; cleared by the panel's launcher
    PanelRect pictureRect{0, 0, 0, 0};
    PanelRect lastPlacement{0, 0, 0, 0};

    // Set on the user-interface thread, read by the callbacks.
    std::atomic<int32_t> capturing{0};  // between the panel's Start and Stop: the running line shows
    // From MyCapVideo to EndCap (or the window's close): the callbacks count, and SetUi is refused.
    std::atomic<int32_t> callbacksActive{0};
    std::atomic<HWND> displayTarget{nullptr};
    std::atomic<HWND> secondDisplayTarget{nullptr};
    std::atomic<uint32_t> capFileCapacity{0};
    std::atomic<int32_t> waveMode{1};  // the sound format the levels are measured in
    std::atomic<int32_t> waveBits{8};

    // Counted by the callbacks; cleared when a capture starts.
    std::atomic<uint32_t> frameTally{0};
    std::atomic<uint32_t> byteTally{0};
    std::atomic<uint32_t> errorTally{0};
    std::atomic<uint32_t> statusTally{0};
    std::atomic<uint32_t> audioBlockTally{0};

    // The interface the capture code shows through: any thread may read it, and it is changed only
    // while no callback can run (false and a log line while a capture runs).
    bool SetUi(std::shared_ptr<CaptureUi> ui, std::shared_ptr<CaptureUi>* previous = nullptr);
    CaptureUi& Ui() { return *ui_.load(); }
    // The text of the last capture-file error of the capture running (from the error callback),
    // taken when the capture ends.
    void NoteFileError(const char* text);
    std::string TakeFileError();
    // Closes the capture window and puts every member back (tests).
    void Reset();

    CaptureSession(const CaptureSession&) = delete;
    CaptureSession& operator=(const CaptureSession&) = delete;

  private:
    CaptureSession();
    static CaptureSession instance_;
    std::mutex fileErrorMutex_;
    std::string fileError_;  // under fileErrorMutex_
    std::shared_ptr<CaptureUi> uiOwner_;
    std::atomic<CaptureUi*> ui_;
};

// The system's names for the session's members.
extern HWND& ghWndCap;
extern uint16_t& gwIndex;
extern uint16_t& gConnectedIndex;
extern CAPDRIVERCAPS& gCapDriverCaps;
extern CAPSTATUS& gCapStatus;
extern CAPTUREPARMS& gCaptureParms;
extern std::atomic<uint32_t>& gCapFileCapacity;
extern std::atomic<uint32_t>& gFrameTally;
extern std::atomic<uint32_t>& gByteTally;

// Installs the interface (null: the one that shows nothing); false, and nothing changes, while a
// capture runs. The previous one goes into *previous when given.
bool SetCaptureUi(std::shared_ptr<CaptureUi> ui, std::shared_ptr<CaptureUi>* previous = nullptr);
CaptureUi& CurrentCaptureUi();

// A WM_CAP_* message to ghWndCap once it is confirmed to be a window; 0 when it is not.
LRESULT SendCap(uint32_t message, WPARAM wParam = 0, LPARAM lParam = 0);
// gCapStatus refreshed; false without a capture window.
bool RefreshCaptureStatus();
// The driver's video format; false when it reports none.
bool ReadVideoFormat(BITMAPINFOHEADER& format);

// The Drivers menu's items: (index, "&%d %s") for each installed driver, gwIndex set to the first
// when none was chosen. 0 after "couldn't create capture window".
int32_t EnumCaptureDrivers(HWND mainWindow, std::vector<std::pair<int32_t, std::string>>& items);
int32_t OpenCaptureStuff(HWND parent, int32_t x, int32_t y, int32_t width, int32_t height);
int32_t CloseCaptureStuff();
void PositionCaptureWindow(HWND window);
int32_t SizeCaptureWindowToImage(HWND captureWindow);
void ShowVideoFormatDialog();
void ShowVideoSourceDialog();
void MyCapVideo(HWND display, HWND video);
void EndCap(HWND display, HWND video);
// The display mode of overlaymode: preview at 66 ms, or overlay.
void ApplyDisplayMode();

LRESULT CapYieldCallback(HWND window);
LRESULT CapControlCallback(HWND window, int state);
LRESULT CapErrorCallback(HWND window, int id, const char* text);
LRESULT CapStatusCallback(HWND window, int id, const char* text);
LRESULT CapVideoStreamCallback(HWND window, VIDEOHDR* header);
LRESULT CapWaveStreamCallback(HWND window, WAVEHDR* header);

// The pieces of the statistics: the share of the capture file used (0 for a capacity of 1000 bytes
// or less), the running line, the final line, and the levels of a sound buffer in percent for
// Amode (1 mono) and Abits (8, else 16).
int32_t CaptureFilePercent(uint32_t bytes, uint32_t capacity);
std::string RunningCaptureLine(uint32_t frames, uint32_t drops, uint32_t bytes, uint32_t capacity);
std::string FinalCaptureLine(uint32_t bytes, uint32_t frames, uint32_t drops, uint32_t elapsedMs);
void WaveLevels(const uint8_t* data, uint32_t bytes, int32_t mode, int32_t bits, int32_t* left,
                int32_t* right);

// Back to the state before any session (tests): CaptureSession::Get().Reset().
void ResetCaptureSession();
