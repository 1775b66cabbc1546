// The project file (extension "cgp"): a magic line, one F0 line per AVI file, then one R0 line per
// revision followed by the T lines of its title or the U lines of its underlay.
#pragma once

#include <cstdint>

#include "core/wintypes.h"

constexpr const char* kProjectMagic = "Corvane Project 00";
// Characters kept of one line; the rest of a longer line is dropped, never read as a line of its own.
constexpr int32_t kProjectLineLimit = 1023;
// What one file may create at most; further R0 and U1 lines are ignored.
constexpr int32_t kMaxRevisionsRead = 10000;
constexpr int32_t kMaxColourRangesRead = 10000;

// Saves the project under gSettings.ProjectFileName through a temporary file in the same folder,
// so that a failed save leaves the old file as it was. 1 when written; 0 when there was nothing
// to save or a message was shown.
int32_t WriteProject();
// Extends the project from gSettings.ProjectFileName; window is repainted after each added file.
// 1 when the file was read (a load that stops early keeps what was read), 0 when a message or the
// user's answer stopped it before anything was read. notOpened (optional) counts the files that
// could not be opened ("Failed to open file <NAME>" was shown for each).
int32_t ReadProject(HWND window, int32_t* notOpened = nullptr);
