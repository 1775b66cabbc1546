// The capture file: choosing it and the space set aside for it, tying it to the capture window,
// measuring it, and telling whether it holds a capture.
#pragma once

#include <cstdint>
#include <string>

#include "core/wintypes.h"

// The megabyte of capture file sizes, shown and entered.
constexpr uint32_t kCapMegabyte = 1048575;
// The largest size this code handles: free space and files beyond it count as this much.
constexpr uint32_t kMaxCapBytes = 2147483647;

// Free bytes on the file system of path's folder (drive is kept for the callers' sake: every
// path names its own file system here); 0 on failure.
uint32_t GetDiskFree(int32_t drive, const char* path);
uint32_t MyGetFileSize(const char* path);
uint32_t GetCapFileSize();
// 0: no name or no such file (the path is then emptied); 2: the capture window refused the name;
// 1: tied, and the capture file capacity measured.
int32_t SetupCapFile(char* path);
uint32_t ReadCapFileContent();
// "   Content: Empty" / "   Content: %s bytes" (dialog) or the panel's capital forms.
std::string CapFileContentText(uint32_t content, bool panel);

// The "Set Capture File Size" dialog without its window.
struct CapFileDialogState {
    char path[200];
    uint32_t currentSize;
    uint32_t maximumSize;
};
// The working copy of path with its sizes measured.
CapFileDialogState OpenCapFileDialog(const char* path);
void MeasureCapFileDialog(CapFileDialogState& state);
// "File: %s", the current and maximum sizes in megabytes as "%ld".
std::string CapFileDialogFileText(const CapFileDialogState& state);
std::string CapFileMegabytes(uint32_t bytes);

enum class CapFileOutcome {
    kRenamed,       // no size given: only the name changed
    kAllocated,     // the name changed and the space was set aside
    kNotAllocated,  // the name changed; "Can't pre-allocate capture file space" shown
    kTooLarge,      // "Sorry, Not enough disk space for requested size" shown; nothing changed
};
// OK with the edit field's text: commits the name to CapFile and allocates as the entry asks.
CapFileOutcome CapFileDialogOk(CapFileDialogState& state, const std::string& entered);
// Browse: the save dialog; true when a name was chosen (and the sizes measured again). Without an
// existing file the dialog proposes "capture.avi" in fallbackFolder.
bool CapFileDialogBrowse(HWND owner, CapFileDialogState& state, const std::string& fallbackFolder);
