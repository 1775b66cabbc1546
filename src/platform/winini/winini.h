// The user's win.ini: $XDG_CONFIG_HOME/Brellmont/win.ini (QUILLORY_WININI names another file),
// INI syntax. Section and entry names compare without regard to letter case, as on Windows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The largest win.ini read; a bigger file is read up to this size and never rewritten.
constexpr size_t kMaxWinIniBytes = 1 << 20;

std::string WinIniPath();

// The entry's value, or defaultValue when the file, the section or the entry is missing; at most
// size - 1 characters and a terminator go into buffer. Returns the number of characters copied.
uint32_t GetProfileStringA(const char* section, const char* entry, const char* defaultValue, char* buffer,
                           uint32_t size);
// The entry read as a decimal number (leading blanks and a sign allowed, digits up to the first
// other character, clamped to 32 bits); defaultValue when missing, 0 when it holds no number.
int32_t GetProfileIntA(const char* section, const char* entry, int32_t defaultValue);
// True when the section holds the entry (whatever its value).
bool ProfileEntryExists(const char* section, const char* entry);
// Sets the entry (a null value removes it), creating the file, section or entry as needed. The
// file is replaced atomically; false, with errno saying why, when it could not be written (or is too
// big to rewrite: EFBIG).
bool WriteProfileStringA(const char* section, const char* entry, const char* value);

// The parsed form of an INI text, for the functions above and for tests.
struct IniLine {
    std::string text;     // the line as read, without its end-of-line
    std::string ending;   // "\r" when a carriage return came before the line feed: kept on rewrite
    std::string section;  // section header name when this line is one, else empty
    std::string key;      // entry name when this line is an entry, else empty
    std::string value;    // entry value, blanks trimmed and one pair of enclosing quotes removed
    bool isSection = false;
    bool isEntry = false;
};
std::vector<IniLine> ParseIni(const std::string& text);
// First value of entry in the first section of that name; false when there is none.
bool FindIniValue(const std::vector<IniLine>& lines, const std::string& section, const std::string& entry,
                  std::string& value);
// The text with the entry set (or removed with a null value).
std::string SetIniValue(const std::string& text, const std::string& section, const std::string& entry,
                        const char* value);
