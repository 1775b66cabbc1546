// WinHelpA on Linux: a help window (QTextBrowser) on the help file, an HTML document with one
// anchor "context-N" per context number and the anchor "finder" for the index and search page.
// A file name followed by ">name" shows the topic in the secondary help window of that name.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/wintypes.h"

constexpr uint32_t HELP_CONTEXT = 0x0001;
constexpr uint32_t HELP_QUIT = 0x0002;
constexpr uint32_t HELP_CONTENTS = 0x0003;
constexpr uint32_t HELP_INDEX = 0x0003;
constexpr uint32_t HELP_FINDER = 0x000B;
constexpr uint32_t HELP_KEY = 0x0101;         // data: const char* keyword, searched for
constexpr uint32_t HELP_PARTIALKEY = 0x0105;  // likewise

// The largest help file (and picture in it) the window reads.
constexpr size_t kMaxHelpFileBytes = 8u << 20;

// 1 when the help window shows what was asked for, 0 otherwise (a missing or unreadable file
// shows a box; an unknown context shows the finder). HELP_QUIT closes every help window. An empty
// file name is "Quillory.hlp" in the working folder; a name that is no file falls back on the
// installed program's own help file.
int WinHelpA(HWND owner, const char* helpFile, uint32_t command, uintptr_t data);

// "context-N"
std::string HelpAnchorForContext(uint32_t context);

// What a help window shows (tests, and the storyboard's check marks are not involved).
struct HelpWindowState {
    bool open = false;
    std::string file;
    std::string anchor;  // the anchor navigated to last; empty at the top of the file
    std::string title;
    std::string search;  // the text in the search field
};
// windowName "" is the main help window.
HelpWindowState HelpWindowStateOf(const std::string& windowName);

// Every anchor name of a help file as the help window reads it; empty when it cannot be read.
std::vector<std::string> HelpFileAnchors(const std::string& path);
