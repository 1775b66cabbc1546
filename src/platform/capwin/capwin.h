// The capture window of Video for Windows on Linux: a capture-window object that honours the
// WM_CAP_* messages the capture code sends (same numbers, arguments and results), connects one of
// ten drivers (0: the built-in test pattern; 1-9: the cameras Qt Multimedia lists, when that
// driver table is installed), and captures on threads of its own into the capture file, an AVI
// file with an idx1 index written from the start of the preallocated space.
#pragma once

#include <cstdint>

#include "core/wintypes.h"

using LRESULT = intptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;

constexpr uint32_t WM_USER = 1024;
constexpr uint32_t WM_CAP_START = WM_USER;
constexpr uint32_t WM_CAP_SET_CALLBACK_ERRORA = WM_CAP_START + 2;
constexpr uint32_t WM_CAP_SET_CALLBACK_STATUSA = WM_CAP_START + 3;
constexpr uint32_t WM_CAP_SET_CALLBACK_YIELD = WM_CAP_START + 4;
constexpr uint32_t WM_CAP_SET_CALLBACK_VIDEOSTREAM = WM_CAP_START + 6;
constexpr uint32_t WM_CAP_SET_CALLBACK_WAVESTREAM = WM_CAP_START + 7;
constexpr uint32_t WM_CAP_DRIVER_CONNECT = WM_CAP_START + 10;
constexpr uint32_t WM_CAP_DRIVER_DISCONNECT = WM_CAP_START + 11;
constexpr uint32_t WM_CAP_DRIVER_GET_NAMEA = WM_CAP_START + 12;
constexpr uint32_t WM_CAP_DRIVER_GET_VERSIONA = WM_CAP_START + 13;
constexpr uint32_t WM_CAP_DRIVER_GET_CAPS = WM_CAP_START + 14;
constexpr uint32_t WM_CAP_FILE_SET_CAPTURE_FILEA = WM_CAP_START + 20;
constexpr uint32_t WM_CAP_FILE_GET_CAPTURE_FILEA = WM_CAP_START + 21;
constexpr uint32_t WM_CAP_FILE_ALLOCATE = WM_CAP_START + 22;
constexpr uint32_t WM_CAP_SET_AUDIOFORMAT = WM_CAP_START + 35;
constexpr uint32_t WM_CAP_GET_AUDIOFORMAT = WM_CAP_START + 36;
constexpr uint32_t WM_CAP_DLG_VIDEOFORMAT = WM_CAP_START + 41;
constexpr uint32_t WM_CAP_DLG_VIDEOSOURCE = WM_CAP_START + 42;
constexpr uint32_t WM_CAP_GET_VIDEOFORMAT = WM_CAP_START + 44;
constexpr uint32_t WM_CAP_SET_VIDEOFORMAT = WM_CAP_START + 45;
constexpr uint32_t WM_CAP_SET_PREVIEW = WM_CAP_START + 50;
constexpr uint32_t WM_CAP_SET_OVERLAY = WM_CAP_START + 51;
constexpr uint32_t WM_CAP_SET_PREVIEWRATE = WM_CAP_START + 52;
constexpr uint32_t WM_CAP_GET_STATUS = WM_CAP_START + 54;
constexpr uint32_t WM_CAP_SEQUENCE = WM_CAP_START + 62;
constexpr uint32_t WM_CAP_SET_SEQUENCE_SETUP = WM_CAP_START + 64;
constexpr uint32_t WM_CAP_GET_SEQUENCE_SETUP = WM_CAP_START + 65;
constexpr uint32_t WM_CAP_STOP = WM_CAP_START + 68;
constexpr uint32_t WM_CAP_PAL_AUTOCREATE = WM_CAP_START + 83;
constexpr uint32_t WM_CAP_SET_CALLBACK_CAPCONTROL = WM_CAP_START + 85;
// Not in Video for Windows: how frames are stored (lParam a CAPCOMPRESSION, wParam its size).
constexpr uint32_t WM_CAP_SET_COMPRESSION = WM_CAP_START + 90;
constexpr uint32_t WM_CAP_GET_COMPRESSION = WM_CAP_START + 91;
// Not in Video for Windows: the bytes a frame takes in the capture file as the capture stores it:
// the average of the frames stored so far while a capture runs, otherwise a trial compression of
// the driver's current picture (0: no driver or no picture).
constexpr uint32_t WM_CAP_GET_FRAME_BYTES = WM_CAP_START + 92;

constexpr uint32_t WS_CHILD = 0x40000000;
constexpr uint32_t WS_VISIBLE = 0x10000000;

// Status ids of the status callback, error ids of the error callback, states of the capture-control
// callback.
constexpr int IDS_CAP_BEGIN = 300;
constexpr int IDS_CAP_END = 301;
constexpr int IDS_CAP_FILE_OPEN_ERROR = 423;
constexpr int IDS_CAP_WRITEERROR = 424;
constexpr int IDS_CAP_DRIVER_ERROR = 428;
constexpr int IDS_CAP_FILE_WRITE_ERROR = 435;
constexpr int CONTROLCALLBACK_PREROLL = 1;
constexpr int CONTROLCALLBACK_CAPTURING = 2;

struct VIDEOHDR {
    uint8_t* lpData;
    uint32_t dwBufferLength;
    uint32_t dwBytesUsed;
    uint32_t dwTimeCaptured;  // milliseconds since the capture began
    uintptr_t dwUser;
    uint32_t dwFlags;
    uintptr_t dwReserved[4];
};
constexpr uint32_t VHDR_KEYFRAME = 0x8;

struct CAPDRIVERCAPS {
    uint32_t wDeviceIndex;
    int32_t fHasOverlay;
    int32_t fHasDlgVideoSource;
    int32_t fHasDlgVideoFormat;
    int32_t fHasDlgVideoDisplay;
    int32_t fCaptureInitialized;
    int32_t fDriverSuppliesPalettes;
    void* hVideoIn;
    void* hVideoOut;
    void* hVideoExtIn;
    void* hVideoExtOut;
};

struct CAPSTATUS {
    uint32_t uiImageWidth;
    uint32_t uiImageHeight;
    int32_t fLiveWindow;
    int32_t fOverlayWindow;
    int32_t fScale;
    POINT ptScroll;
    int32_t fUsingDefaultPalette;
    int32_t fAudioHardware;
    int32_t fCapFileExists;
    uint32_t dwCurrentVideoFrame;
    uint32_t dwCurrentVideoFramesDropped;
    uint32_t dwCurrentWaveSamples;
    uint32_t dwCurrentTimeElapsedMS;
    void* hPalCurrent;
    int32_t fCapturingNow;
    uint32_t dwReturn;
    uint32_t wNumVideoAllocated;
    uint32_t wNumAudioAllocated;
};

struct CAPTUREPARMS {
    uint32_t dwRequestMicroSecPerFrame;
    int32_t fMakeUserHitOKToCapture;
    uint32_t wPercentDropForError;
    int32_t fYield;
    uint32_t dwIndexSize;
    uint32_t wChunkGranularity;
    int32_t fUsingDOSMemory;
    uint32_t wNumVideoRequested;
    int32_t fCaptureAudio;
    uint32_t wNumAudioRequested;
    uint32_t vKeyAbort;
    int32_t fAbortLeftMouse;
    int32_t fAbortRightMouse;
    int32_t fLimitEnabled;
    uint32_t wTimeLimit;
    int32_t fMCIControl;
    int32_t fStepMCIDevice;
    uint32_t dwMCIStartTime;
    uint32_t dwMCIStopTime;
    int32_t fStepCaptureAt2x;
    uint32_t wStepCaptureAverageFrames;
    uint32_t dwAudioBufferSize;
    int32_t fDisableWriteCache;
    uint32_t AVStreamMaster;
};

// How a capture stores its frames: fccHandler MJPG (Motion JPEG at dwQuality 0-100) or BI_RGB
// (uncompressed, as the driver delivers them). A driver that delivers Motion JPEG has its frames
// stored as they come whatever the choice.
struct CAPCOMPRESSION {
    uint32_t fccHandler;
    uint32_t dwQuality;
};
constexpr uint32_t kDefaultCaptureQuality = 90;

// The callbacks, installed with the WM_CAP_SET_CALLBACK_* messages (lParam; 0 removes one). While
// a capture runs they are called on the capture threads (the video callback, with each frame as the
// file holds it, on the writing thread).
using CAPYIELDCALLBACK = LRESULT (*)(HWND);
using CAPCONTROLCALLBACK = LRESULT (*)(HWND, int state);
using CAPERRORCALLBACKA = LRESULT (*)(HWND, int id, const char* text);
using CAPSTATUSCALLBACKA = LRESULT (*)(HWND, int id, const char* text);
using CAPVIDEOCALLBACK = LRESULT (*)(HWND, VIDEOHDR*);
using CAPWAVECALLBACK = LRESULT (*)(HWND, WAVEHDR*);

// A capture window for the driver table in force; parent is the window the live picture shows in
// (a QWidget* in the desktop program, null headless). Null when it cannot be made.
HWND capCreateCaptureWindowA(const char* name, uint32_t style, int32_t x, int32_t y, int32_t width,
                             int32_t height, HWND parent, int32_t id);
// 1 with the driver's name and version for an installed driver (index 0-9), else 0.
int32_t capGetDriverDescriptionA(uint16_t index, char* name, int32_t nameSize, char* version,
                                 int32_t versionSize);

// SendMessageA to a capture window: the message's result, 0 for a handle that is no capture window.
LRESULT capSendMessage(HWND window, uint32_t message, WPARAM wParam, LPARAM lParam);
// IsWindow for capture windows.
bool capIsWindow(HWND window);
// DestroyWindow: stops a running capture and disconnects the driver. 0 for a handle that is none.
int32_t capDestroyWindow(HWND window);
// MoveWindow and GetWindowRect (relative to the parent) of a capture window.
int32_t capMoveWindow(HWND window, int32_t x, int32_t y, int32_t width, int32_t height, bool repaint);
int32_t capGetWindowRect(HWND window, RECT* rect);

// The capture file's limit: positions are 32-bit and signed everywhere else in the program.
constexpr int64_t kMaxCaptureFileBytes = INT32_MAX;
