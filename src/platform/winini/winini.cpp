#include "platform/winini/winini.h"

#include "core/savefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

std::string Trim(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) b++;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) e--;
    return s.substr(b, e - b);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x < 128 && y < 128) {
            if (std::tolower(x) != std::tolower(y)) return false;
        } else if (x != y) {
            return false;
        }
    }
    return true;
}

// Reads at most kMaxWinIniBytes; tooBig tells whether more was there.
bool ReadIni(const std::string& path, std::string& text, bool& tooBig) {
    text.clear();
    tooBig = false;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char chunk[16384];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        size_t room = kMaxWinIniBytes - text.size();
        if (static_cast<size_t>(n) > room) {
            text.append(chunk, room);
            tooBig = true;
            break;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
    close(fd);
    return true;
}

bool ValidName(const char* s, bool isSection) {
    if (!s || !*s) return false;
    for (const char* p = s; *p; ++p) {
        if (*p == '\n' || *p == '\r' || *p == ']' || (!isSection && *p == '=')) return false;
    }
    return !(s[0] == ';' || (!isSection && s[0] == '['));
}

}  // namespace

std::string WinIniPath() {
    if (const char* p = std::getenv("QUILLORY_WININI"); p && *p) return p;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) return std::string(x) + "/Brellmont/win.ini";
    if (const char* h = std::getenv("HOME"); h && *h) return std::string(h) + "/.config/Brellmont/win.ini";
    return "win.ini";
}

std::vector<IniLine> ParseIni(const std::string& text) {
    std::vector<IniLine> lines;
    std::string current;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        IniLine line;
        line.text = text.substr(pos, end - pos);
        if (!line.text.empty() && line.text.back() == '\r') {
            line.text.pop_back();
            line.ending = "\r";
        }
        pos = end + 1;
        std::string t = Trim(line.text);
        if (!t.empty() && t[0] == '[') {
            size_t close = t.find(']');
            if (close != std::string::npos) {
                line.isSection = true;
                line.section = Trim(t.substr(1, close - 1));
                current = line.section;
            }
        } else if (!t.empty() && t[0] != ';') {
            size_t eq = t.find('=');
            if (eq != std::string::npos && eq > 0) {
                line.isEntry = true;
                line.section = current;
                line.key = Trim(t.substr(0, eq));
                line.value = Trim(t.substr(eq + 1));
                size_t n = line.value.size();
                if (n >= 2 && (line.value[0] == '"' || line.value[0] == '\'') &&
                    line.value[n - 1] == line.value[0])
                    line.value = line.value.substr(1, n - 2);
            }
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

bool FindIniValue(const std::vector<IniLine>& lines, const std::string& section, const std::string& entry,
                  std::string& value) {
    // Windows reads only the first section of a name.
    bool inFirst = false, seen = false;
    for (const IniLine& l : lines) {
        if (l.isSection) {
            if (inFirst) return false;
            if (!seen && SameName(l.section, section)) inFirst = seen = true;
            continue;
        }
        if (inFirst && l.isEntry && SameName(l.key, entry)) {
            value = l.value;
            return true;
        }
    }
    return false;
}

std::string SetIniValue(const std::string& text, const std::string& section, const std::string& entry,
                        const char* value) {
    std::vector<IniLine> lines = ParseIni(text);
    const std::string eol = text.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    std::string newLine;
    if (value) {
        std::string v = value;
        std::replace(v.begin(), v.end(), '\n', ' ');
        std::replace(v.begin(), v.end(), '\r', ' ');
        newLine = entry + "=" + v;
    }
    // Lines of the file keep their own ending, so nothing else in it changes by a byte; lines added
    // take the file's usual one.
    std::vector<std::string> out;
    bool inSection = false, sectionSeen = false, done = false;
    size_t insertAt = 0;  // after the section's last non-blank line
    for (const IniLine& l : lines) {
        if (l.isSection) {
            inSection = !sectionSeen && SameName(l.section, section);
            if (inSection) {
                sectionSeen = true;
                insertAt = out.size() + 1;
            }
        } else if (inSection && l.isEntry && SameName(l.key, entry)) {
            if (value && !done) {
                out.push_back(l.key + "=" + newLine.substr(entry.size() + 1) + l.ending + "\n");
                done = true;
                insertAt = out.size();
            }
            continue;  // a removal drops every copy
        }
        out.push_back(l.text + l.ending + "\n");
        if (inSection && !l.isSection && !Trim(l.text).empty()) insertAt = out.size();
    }
    if (value && !done) {
        if (sectionSeen) {
            out.insert(out.begin() + static_cast<std::ptrdiff_t>(insertAt), newLine + eol);
        } else {
            if (!out.empty() && !Trim(out.back().substr(0, out.back().find_last_not_of("\r\n") + 1)).empty())
                out.push_back(eol);
            out.push_back("[" + section + "]" + eol);
            out.push_back(newLine + eol);
        }
    }
    std::string result;
    for (const std::string& s : out) result += s;
    return result;
}

uint32_t GetProfileStringA(const char* section, const char* entry, const char* defaultValue, char* buffer,
                           uint32_t size) {
    if (!buffer || size == 0) return 0;
    std::string value = defaultValue ? defaultValue : "";
    std::string text;
    bool tooBig = false;
    if (section && entry && ReadIni(WinIniPath(), text, tooBig)) {
        std::string found;
        if (FindIniValue(ParseIni(text), section, entry, found)) value = found;
    }
    size_t n = std::min<size_t>(strnlen(value.c_str(), value.size()), size - 1);
    std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

int32_t GetProfileIntA(const char* section, const char* entry, int32_t defaultValue) {
    std::string text;
    bool tooBig = false;
    std::string found;
    if (!section || !entry || !ReadIni(WinIniPath(), text, tooBig) ||
        !FindIniValue(ParseIni(text), section, entry, found))
        return defaultValue;
    const char* p = found.c_str();
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    long long v = 0;
    bool digits = false;
    while (*p >= '0' && *p <= '9') {
        digits = true;
        if (v <= static_cast<long long>(INT32_MAX) + 1) v = v * 10 + (*p - '0');
        ++p;
    }
    if (!digits) return 0;
    if (negative) v = -v;
    return static_cast<int32_t>(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

bool ProfileEntryExists(const char* section, const char* entry) {
    std::string text, found;
    bool tooBig = false;
    return section && entry && ReadIni(WinIniPath(), text, tooBig) &&
           FindIniValue(ParseIni(text), section, entry, found);
}

bool WriteProfileStringA(const char* section, const char* entry, const char* value) {
    if (!ValidName(section, true) || !ValidName(entry, false)) {
        errno = EINVAL;
        return false;
    }
    std::string path = WinIniPath();
    std::string text;
    bool tooBig = false;
    if (!ReadIni(path, text, tooBig)) {
        if (errno != ENOENT) return false;
        text.clear();
    }
    if (tooBig) {
        errno = EFBIG;
        return false;
    }
    SaveFileOptions options;
    options.createFolders = true;
    const SaveOutcome saved =
        SaveFileReplacing(path, SetIniValue(text, Trim(section), Trim(entry), value), options);
    if (!saved) errno = saved.error;  // the interface's own way to say why, as Windows' last error
    return static_cast<bool>(saved);
}
