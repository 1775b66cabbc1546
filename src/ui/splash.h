// The splash window (dialog 1129): the program's picture and a version line. Shown modeless at
// start-up and closed by the storyboard; the About command shows the same dialog modally.
#pragma once

#include <cstdint>
#include <string>

#include "core/wintypes.h"

constexpr int32_t kSplashDialogId = 1129;
constexpr int32_t kSplashPictureId = 1130;  // the picture, a button that closes the window
constexpr int32_t kSplashVersionId = 1131;

// "Quillory version X.Y.Z"
std::string SplashVersionLine();

// Creates the modeless splash window, centred on the screen, when none exists.
void ShowSplash(HWND owner);
// Destroys the splash window if it exists.
void CloseSplash();
// The splash window, or null.
HWND SplashWindow();
// The same dialog, modal, owned by owner; returns when the user closes it.
void ShowAboutBox(HWND owner);
