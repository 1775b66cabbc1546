// The desktop's recently-used list: recently-used.xbel in the XDG data folder ($XDG_DATA_HOME, else
// ~/.local/share), the freedesktop bookmark file that file choosers and launchers offer files from.
// Other programs share the file, so it is read as hostile input and only the entry of the file used
// is ever changed: everything else stays byte for byte.
#pragma once

#include <cstddef>
#include <string>

struct RecentUse {
    std::string path;      // the file used, an absolute path
    std::string mimeType;  // its type, for a new entry
    std::string appName;   // the program, as the list names it
    std::string appExec;   // its command line, "%u" standing for the file
};

// A larger list is left alone.
constexpr size_t kMaxRecentlyUsedBytes = 16u << 20;

std::string RecentlyUsedPath();

// Notes the use in the list's text at the time now (ISO 8601, UTC): the file's entry (made when
// missing) gets the new modified and visited times and the program's count raised. An empty text
// starts a new list. False, with the text unchanged, when it is not a bookmark list that reads
// whole as UTF-8 within kMaxRecentlyUsedBytes.
bool NoteRecentUse(std::string& xbel, const RecentUse& use, const std::string& now);

// Reads the list, notes the use now and writes the list back whole (unnamed file, then rename). A
// list that cannot be read, does not parse or may not be written is left as it was: false with the
// reason.
bool AddToRecentlyUsed(const RecentUse& use, std::string* reason = nullptr);
