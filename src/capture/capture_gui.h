// The capture windows: the "Video Capture Window" with the live picture, the capture panel that
// runs a capture, the "Streaming Capture Settings" and "Capture File" dialogs, and the Drivers menu.
#pragma once

#include <cstdint>

#include "core/wintypes.h"

class QWidget;

// Opens the video window, connects the driver and runs the panel modally over the storyboard;
// gLastCapturedFile names the file captured into, if any.
void DoCapture5x(HWND storyboard);
// Fills the main window's fifth menu with the installed drivers (ids 8000 + index); 0 without it.
int32_t EnumCaptureGuys(HWND mainWindow);
// Cameras and microphones through Qt Multimedia as drivers 1-9 (the desktop program's choice).
void InstallCameraDrivers();
void CaptureSettingsDialog(HWND owner);
void CaptureFileDialog(HWND owner, char* path);

// The open panel and video window, or null (tests).
QWidget* CapturePanelWindow();
QWidget* VideoCaptureWindowWidget();
