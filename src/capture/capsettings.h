// Capture settings: the choice lists of the "Streaming Capture Settings" dialog, the estimate of
// the data rate and of how long a capture the file holds, and the settings and file lines of the
// capture panel's display.
#pragma once

#include <cstdint>
#include <string>

#include "core/wintypes.h"

struct CaptureChoice {
    const char* text;
    int32_t value;
};
extern const CaptureChoice kFrameRateChoices[11];  // msPerFrame
constexpr int32_t kAudioRateCount = 6;
extern const CaptureChoice kAudioRateChoices[kAudioRateCount];  // Arate
extern const CaptureChoice kCompressionChoices[2];              // CapCompress
constexpr int32_t kQualityCount = 4;
extern const CaptureChoice kQualityChoices[kQualityCount];  // CapQuality
extern const CaptureChoice kBitsChoices[2];                 // Abits
extern const CaptureChoice kModeChoices[2];                 // Amode
extern const CaptureChoice kDisplayChoices[2];              // overlaymode (the list position)
constexpr int32_t kDefaultMsPerFrame = 66667;

// The dialog's control ids.
constexpr int32_t kSetFrameRate = 1700;
constexpr int32_t kSetAudioRate = 1701;
constexpr int32_t kSetBits = 1702;
constexpr int32_t kSetMode = 1703;
constexpr int32_t kSetDisplay = 2100;
constexpr int32_t kSetCompression = 1704;
constexpr int32_t kSetQuality = 1707;
constexpr int32_t kSetFormatButton = 1530;
constexpr int32_t kSetSourceButton = 1580;
constexpr int32_t kSetCapFileButton = 1705;
constexpr int32_t kSetVideoLine = 1790;
constexpr int32_t kSetFileLine = 1531;
constexpr int32_t kSetSizeLine = 1706;
constexpr int32_t kSetContentLine = 1865;
constexpr int32_t kSetRateLine = 1877;
constexpr int32_t kSetMaxLine = 1878;

// Bytes per minute of capture at that frame period, video format and sound; 0 without an
// estimate (period 0, or a compression other than none and "AURA").
uint32_t CaptureBytesPerMinute(int32_t msPerFrame, const BITMAPINFOHEADER& format, int32_t arate,
                               int32_t abits, int32_t amode);
// Bytes per minute of frames that take frameBytes each in the file (compressed), with the sound.
uint32_t CompressedBytesPerMinute(int32_t msPerFrame, uint32_t frameBytes, int32_t arate, int32_t abits,
                                  int32_t amode);
// Whether frames of the driver's format f are stored compressed: a camera's Motion JPEG always, 24-bit
// rows when the settings ask for Motion JPEG.
bool IsStoredCompressed(const BITMAPINFOHEADER& f);
// Bytes per minute for the driver's format f and the settings: compressed frames at the size a
// trial compression of the current picture gives, or while capturing at their real average.
uint32_t CaptureRateForSettings(const BITMAPINFOHEADER& f);
// Hands the settings' compression choice to the capture window.
void SetCompressionFromSettings();
// The capture file size proposed when none is entered: this many minutes at the estimate, in megabytes.
constexpr uint32_t kDefaultCapFileMinutes = 2;
uint32_t DefaultCapFileMegabytes();
// The estimate for the capture window's format and the settings; shows "%s KB/min" in line 1877
// of the dialog (target 0) or "(%s KB/MINUTE)" on display line 7 of the panel (target 1), "***"
// when there is none, nothing for an unknown compression.
uint32_t EstimateCaptureRate(HWND window, int32_t target);
// The dialog's maximum line for a capture file of that capacity: "Max: " and the whole minutes it
// holds, or its seconds when that is less than a minute; "***" without an estimate.
std::string MaxCaptureText(uint32_t capacity, uint32_t bytesPerMinute);
// "CAPTURE 320x240x24 RGB  15.00fps - Audio: 11025 8-bit Mono" and its other forms.
std::string PanelSettingsText(bool open, const BITMAPINFOHEADER& format, int32_t msPerFrame, int32_t arate,
                              int32_t abits, int32_t amode);
// "%ldx%ldx%d %4.4s" of a format.
std::string VideoFormatText(const BITMAPINFOHEADER& format);
// The position in a list of the entry with that value, or -1.
int32_t ChoicePosition(const CaptureChoice* choices, int32_t count, int32_t value);

// The dialog's and the panel's refreshes (window: the dialog or the panel).
void MySetCapSettings(HWND window, bool panel);
void ShowCapFileLines(HWND dialog);
void ShowPanelCapFileLines(HWND panel);
void ShowPanelSettingsLine(HWND panel);
void SetAudioFormatFromSettings();
// The dialog's opening steps on the settings: msPerFrame outside the list becomes 66667.
void NormaliseCaptureSettings();
