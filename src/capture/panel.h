// The capture panel without its window: its part of the capture session, the level meter's
// segments and the start and stop of a capture as the panel's Start/Stop button runs them.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "capture/session.h"
#include "core/wintypes.h"

// The system's names for the panel's part of the capture session (CaptureSession: capturing,
// lastCapturedFile, pictureRect, lastPlacement).
extern std::atomic<int32_t>& gCapturing;
extern char (&gLastCapturedFile)[200];
extern PanelRect& gPictureRect;
extern PanelRect& gLastPlacement;

// The panel's control ids.
constexpr int32_t kPanelStart = 1436;
constexpr int32_t kPanelDetails = 1595;
constexpr int32_t kPanelPalette = 1862;
constexpr int32_t kPanelInfo = 1435;
constexpr int32_t kPanelCapFile = 1705;
constexpr int32_t kPanelHelp = 9;
constexpr int32_t kPanelPower = 1881;
constexpr int32_t kPictureFrameId = 1742;
constexpr int32_t kCapturePanelWidth = 400;
constexpr int32_t kCapturePanelHeight = 146;
constexpr int32_t kCapturePictureWidth = 320;
constexpr int32_t kCapturePictureHeight = 240;

// The level meter: ten segments a side, 10 x 3 pixels at y 94; the left side grows leftwards
// from x 170, the right side rightwards from x 190.
constexpr int32_t kLevelSegments = 10;
constexpr int32_t kLevelMeterY = 94;
constexpr int32_t kLevelSegmentWidth = 10;
constexpr int32_t kLevelSegmentHeight = 3;
// Segments lit for a level in percent: none below 1, else 0 to level / 10 (at most 9).
int32_t LitSegments(int32_t level);
int32_t SegmentX(bool left, int32_t segment);
uint32_t SegmentColour(int32_t segment, bool lit);

// Start's check: false after "No capture file specified..." when CapFile names no file.
bool CaptureFileNamed();
// Start: marks the capture as running, shows the banner and starts the capture (MyCapVideo).
void PanelStartCapture(HWND panel, HWND video);
// Stop: ends the capture, shows the final line, keeps CapFile as the last captured file and puts
// the settings line and the display mode back.
void PanelStopCapture(HWND panel, HWND video);
// The refresh of the panel's texts: the file lines, the content line 5 and the settings line.
void RefreshPanelLines(HWND panel);
// Panel set-up after its window exists: the palette button, the audio check (no audio hardware
// turns Arate off) and the texts.
void PanelSetUp(HWND panel);
