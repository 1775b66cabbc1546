#include "settings/settings.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/datadir.h"
#include "core/diag.h"
#include "core/format.h"

SettingsRecord gSettings = InitialSettings();

const char* const kRootKeyPath = "SOFTWARE\\Brellmont\\Quillory";

namespace {

constexpr const char* kHelpName = "Quillory.hlp";
constexpr uint32_t kValueBuffer = 200;  // every value is read through a buffer of this size

enum class Kind { Number, String };

// One setting: where it lives in the record and in the registry, and its value when missing.
struct Field {
    const char* section;
    const char* name;
    Kind kind;
    size_t offset;
    int capacity;  // strings only
    int32_t missingNumber;
    const char* missingText;
};

#define NUM(sec, f, missing)                                                    \
    Field {                                                                     \
        sec, #f, Kind::Number, offsetof(SettingsRecord, f), 0, missing, nullptr \
    }
#define STR(sec, f, missing)                                                                      \
    Field {                                                                                       \
        sec, #f, Kind::String, offsetof(SettingsRecord, f), sizeof(SettingsRecord::f), 0, missing \
    }

// In the record's order, which is also the order of loading.
const Field kFields[] = {
    STR("Paths", LogFileName, ""),
    STR("Paths", HelpFile, "0"),
    STR("Paths", ProjectFileName, ""),
    STR("Paths", LastAVIfileName, ""),
    STR("Paths", LastSaveAVIfileName, ""),
    STR("Paths", LastBMPfileName, ""),
    STR("Paths", CapFile, ""),
    STR("Paths", ClipsFolder, ""),
    NUM("Settings", gDesktopWidth, 0),
    NUM("Settings", gDesktopHeight, 0),
    NUM("Settings", gDesktopDepth, 0),
    NUM("Settings", angJogPlay, 45),
    NUM("Settings", angJogVCR, 45),
    NUM("Settings", cellW, 80),
    NUM("Settings", cellH, 60),
    NUM("Settings", smooth, 2),
    NUM("Settings", SSdisable, 1),
    NUM("Settings", ShowEdits, 1),
    NUM("Edit", previewRate, 3),
    NUM("Edit", previewRateThreshold, 20),
    NUM("ToolTips", useToolTips, 1),
    NUM("ToolTips", alwaysUseToolTips, 0),
    NUM("ToolTips", fontsizeToolTips, 8),
    STR("ToolTips", fontnameToolTips, "Arial"),
    NUM("Capture", msPerFrame, 66667),
    NUM("Capture", Arate, 11025),
    NUM("Capture", Abits, 8),
    NUM("Capture", Amode, 2),
    NUM("Capture", overlaymode, 1),
    NUM("Capture", CapCompress, 1),
    NUM("Capture", CapQuality, 90),
    NUM("Render", CopyFrames, 1),
    NUM("Render", FitToSize, 0),
    NUM("Render", FitMB, 10),
    STR("Titles", FontName, "Times New Roman"),
    NUM("Titles", Italic, 0),
    NUM("Titles", Size, -108),
    NUM("Titles", Weight, 400),
    NUM("Titles", Underline, 0),
    NUM("Titles", Quality, 1),
    NUM("Titles", Points, 200),
    NUM("Titles", Color, 65535),
    STR("Mail", SendAs, "MP4"),
};

#undef NUM
#undef STR

constexpr const char* kRecentKey = "Recent Projects";

std::vector<std::string> gRecent;

// A path Recent Projects can keep: absolute, short enough for the project file name, no control
// characters.
bool KeepableProject(const std::string& path) {
    if (path.empty() || path[0] != '/' || path.size() >= sizeof(SettingsRecord::ProjectFileName))
        return false;
    return std::none_of(path.begin(), path.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string RecentValueName(size_t index) {
    return "Project" + std::to_string(index + 1);
}

// The list as stored: unusable, empty and repeated values are passed over.
void LoadRecentProjects(HKEY userKey) {
    gRecent.clear();
    HKEY key = nullptr;
    if (!userKey || RegOpenKeyExA(userKey, kRecentKey, &key) != ERROR_SUCCESS) return;
    for (size_t i = 0; i < kMaxRecentProjects; i++) {
        char buffer[sizeof(SettingsRecord::ProjectFileName)];
        uint32_t size = sizeof buffer - 1;
        uint32_t type = 0;
        if (RegQueryValueExA(key, RecentValueName(i).c_str(), &type, reinterpret_cast<uint8_t*>(buffer),
                             &size) != ERROR_SUCCESS)
            continue;
        const std::string path(buffer, size);
        if (KeepableProject(path) && std::find(gRecent.begin(), gRecent.end(), path) == gRecent.end())
            gRecent.push_back(path);
    }
    RegCloseKey(key);
}

const char* const kSections[] = {"Paths",   "Settings", "Edit",   "ToolTips",
                                 "Capture", "Render",   "Titles", "Mail"};

int32_t& NumberOf(SettingsRecord& s, const Field& f) {
    return *reinterpret_cast<int32_t*>(reinterpret_cast<char*>(&s) + f.offset);
}
char* TextOf(SettingsRecord& s, const Field& f) {
    return reinterpret_cast<char*>(&s) + f.offset;
}

std::string UserKeyPath(const char* user) {
    return std::string(kRootKeyPath) + "\\Users\\" + (user && *user ? user : "User");
}

// The installed program's own help file, when there is one (the help window looks there too, so a
// path too long to keep costs nothing).
bool TakeInstalledHelpPath() {
    std::string installed = InstalledDataFile(kHelpName);
    if (installed.empty()) return false;
    if (installed.size() < sizeof gSettings.HelpFile)
        CopyCut(gSettings.HelpFile, sizeof gSettings.HelpFile, installed.c_str());
    return true;
}

// The help file beside the working directory, or the bare name when the directory is too long
// to be written in front of it (the bare name is found in the working directory all the same);
// when the working directory has none, the installed one.
void DeriveHelpPath() {
    char cwd[PATH_MAX];
    std::string path = kHelpName;
    if (getcwd(cwd, sizeof cwd) && std::strlen(cwd) <= 100) {
        path = cwd;
        if (path.empty() || path.back() != '/') path += '/';
        path += kHelpName;
    }
    CopyCut(gSettings.HelpFile, sizeof gSettings.HelpFile, path.c_str());
    if (access(gSettings.HelpFile, F_OK) != 0 && TakeInstalledHelpPath()) return;
    if (access(gSettings.HelpFile, F_OK) != 0)
        NotifyBox(
            "Default Location For Help File\n%s\nDoes Not Exist\nGo to Registry and specify proper Help file "
            "name "
            "and location",
            gSettings.HelpFile);
}

void LoadSection(HKEY userKey, const char* section) {
    HKEY key = nullptr;
    if (!userKey || RegOpenKeyExA(userKey, section, &key) != ERROR_SUCCESS) key = nullptr;
    for (const Field& f : kFields) {
        if (std::strcmp(f.section, section) != 0) continue;
        if (f.kind == Kind::Number) {
            NumberOf(gSettings, f) = RegReadNumber(key, f.name, f.missingNumber);
        } else {
            RegReadString(key, f.name, f.missingText, TextOf(gSettings, f), f.capacity);
            if (std::strcmp(f.name, "HelpFile") == 0 &&
                (std::strcmp(gSettings.HelpFile, kHelpName) == 0 || gSettings.HelpFile[0] == '0'))
                DeriveHelpPath();
        }
    }
    if (key) RegCloseKey(key);
}

void WriteText(HKEY key, const char* name, const char* text) {
    RegSetValueExA(key, name, REG_SZ, reinterpret_cast<const uint8_t*>(text),
                   static_cast<uint32_t>(std::strlen(text)));
}

void WriteNumber(HKEY key, const char* name, int32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "%ld", static_cast<long>(v));
    WriteText(key, name, text);
}

// Angles above 360 come down to 1..360, negative ones up to 0..359; 0..360 stay.
int32_t NormaliseAngle(int32_t a) {
    if (a > 360) return a - 360 * ((a - 1) / 360);
    if (a < 0) return static_cast<int32_t>(a + 360 * ((359 - static_cast<int64_t>(a)) / 360));
    return a;
}

}  // namespace

SettingsRecord InitialSettings() {
    SettingsRecord s{};
    s.cellW = 80;
    s.cellH = 60;
    s.smooth = 2;
    s.previewRate = 250;
    s.useToolTips = 1;
    s.fontsizeToolTips = 8;
    std::strcpy(s.fontnameToolTips, "Arial");
    s.msPerFrame = 66667;
    s.Abits = 8;
    s.Amode = 2;
    s.overlaymode = 1;
    s.CapCompress = 1;
    s.CapQuality = 90;
    s.ShowEdits = 1;
    s.CopyFrames = 1;
    s.FitMB = 10;
    std::strcpy(s.SendAs, "MP4");
    return s;
}

void ResetSettings() {
    gSettings = InitialSettings();
    gRecent.clear();
}

const std::vector<std::string>& RecentProjects() {
    return gRecent;
}

void AddRecentProject(const std::string& path) {
    if (!KeepableProject(path)) return;
    RemoveRecentProject(path);
    gRecent.insert(gRecent.begin(), path);
    if (gRecent.size() > kMaxRecentProjects) gRecent.resize(kMaxRecentProjects);
}

void RemoveRecentProject(const std::string& path) {
    gRecent.erase(std::remove(gRecent.begin(), gRecent.end(), path), gRecent.end());
}

int32_t RegReadNumber(HKEY section, const char* name, int32_t missing) {
    if (!section) return missing;
    char buffer[kValueBuffer + 1];
    uint32_t size = kValueBuffer;
    uint32_t type = 0;
    if (RegQueryValueExA(section, name, &type, reinterpret_cast<uint8_t*>(buffer), &size) != ERROR_SUCCESS)
        return missing;
    buffer[size] = '\0';
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(buffer, &end, 10);
    if (end == buffer) return 0;  // not a number: 0, not the default
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

void RegReadString(HKEY section, const char* name, const char* missing, char* dest, int capacity) {
    if (!dest || capacity <= 0) return;
    char buffer[kValueBuffer + 1];
    uint32_t size = kValueBuffer;
    uint32_t type = 0;
    if (!section ||
        RegQueryValueExA(section, name, &type, reinterpret_cast<uint8_t*>(buffer), &size) != ERROR_SUCCESS) {
        CopyCut(dest, capacity, missing);
        return;
    }
    buffer[size] = '\0';
    if (buffer[0] == '*') {
        CopyCut(dest, capacity, missing);
        return;
    }
    CopyCut(dest, capacity, buffer);
}

void RegLoadSettings(const char* user) {
    HKEY userKey = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, UserKeyPath(user).c_str(), &userKey) != ERROR_SUCCESS)
        userKey = nullptr;
    for (const char* section : kSections) LoadSection(userKey, section);
    LoadRecentProjects(userKey);
    if (userKey) RegCloseKey(userKey);
}

LONG RegSaveSettings(const char* user) {
    HKEY userKey = nullptr;
    LONG err = RegCreateKeyExA(HKEY_LOCAL_MACHINE, UserKeyPath(user).c_str(), &userKey, nullptr);
    if (err != ERROR_SUCCESS) {
        DebugLog("RegSaveSettings - ERROR 01");
        return err;
    }
    SettingsRecord& s = gSettings;
    HKEY key = nullptr;

    if (RegCreateKeyExA(userKey, "Paths", &key, nullptr) == ERROR_SUCCESS) {
        WriteText(key, "HelpFile",
                  (!s.HelpFile[0] || std::strcmp(s.HelpFile, kHelpName) == 0) ? "*" : s.HelpFile);
        if (s.ProjectFileName[0]) WriteText(key, "ProjectFileName", s.ProjectFileName);
        if (s.LastAVIfileName[0]) WriteText(key, "LastAVIfileName", s.LastAVIfileName);
        if (s.LastSaveAVIfileName[0]) WriteText(key, "LastSaveAVIfileName", s.LastSaveAVIfileName);
        if (s.LastBMPfileName[0]) WriteText(key, "LastBMPfileName", s.LastBMPfileName);
        WriteText(key, "CapFile", s.CapFile[0] ? s.CapFile : "*");
        if (s.ClipsFolder[0]) WriteText(key, "ClipsFolder", s.ClipsFolder);
        RegCloseKey(key);
    } else {
        DebugLog("RegSaveSettings - ERROR 02");
    }

    for (const char* section : {"Settings", "Edit", "ToolTips", "Capture", "Render", "Titles", "Mail"}) {
        if (RegCreateKeyExA(userKey, section, &key, nullptr) != ERROR_SUCCESS) {
            DebugLog("RegSaveSettings - ERROR 03");
            continue;
        }
        if (std::strcmp(section, "Settings") == 0) {
            s.angJogPlay = NormaliseAngle(s.angJogPlay);
            s.angJogVCR = NormaliseAngle(s.angJogVCR);
            for (const char* name : {"gDesktopWidth", "gDesktopHeight", "gDesktopDepth", "cellW", "cellH",
                                     "smooth", "angJogPlay", "angJogVCR", "ShowEdits"})
                for (const Field& f : kFields)
                    if (std::strcmp(f.name, name) == 0) WriteNumber(key, name, NumberOf(s, f));
        } else {
            for (const Field& f : kFields) {
                if (std::strcmp(f.section, section) != 0) continue;
                if (f.kind == Kind::Number) {
                    WriteNumber(key, f.name, NumberOf(s, f));
                } else if (TextOf(s, f)[0] || std::strcmp(f.name, "FontName") != 0) {
                    WriteText(key, f.name, TextOf(s, f));
                }
            }
        }
        RegCloseKey(key);
    }

    // Every slot is written, so that a shorter list leaves no old entry behind.
    if (RegCreateKeyExA(userKey, kRecentKey, &key, nullptr) == ERROR_SUCCESS) {
        for (size_t i = 0; i < kMaxRecentProjects; i++)
            WriteText(key, RecentValueName(i).c_str(), i < gRecent.size() ? gRecent[i].c_str() : "");
        RegCloseKey(key);
    } else {
        DebugLog("RegSaveSettings - ERROR 03");
    }

    err = RegFlushKey(userKey);
    RegCloseKey(userKey);
    if (err != ERROR_SUCCESS) DebugLog("RegSaveSettings - ERROR 01");
    return err;
}

int RegReadRootString(const char* name, char* dest) {
    HKEY root = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kRootKeyPath, &root) != ERROR_SUCCESS) return 0;
    char buffer[100];
    uint32_t size = sizeof buffer - 1;
    uint32_t type = 0;
    LONG err = RegQueryValueExA(root, name, &type, reinterpret_cast<uint8_t*>(buffer), &size);
    RegCloseKey(root);
    if (err != ERROR_SUCCESS) return 0;
    buffer[size] = '\0';
    std::strcpy(dest, buffer);
    return 1;
}

int RegWriteRootString(const char* name, const char* value) {
    HKEY root = nullptr;
    uint32_t disposition = 0;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kRootKeyPath, &root, &disposition) != ERROR_SUCCESS) return 0;
    WriteText(root, name, value);
    LONG err = RegCloseKey(root);
    if (err != ERROR_SUCCESS) return 0;
    return disposition == REG_CREATED_NEW_KEY ? 1 : 2;
}

void LoadStartupSettings() {
    gSettings.LogFileName[0] = '\0';
    char user[100];
    if (!RegReadRootString("User", user))
        RegWriteRootString("User", "User");
    else
        RegLoadSettings(user);
}

std::string DescribeSettings(const SettingsRecord& record) {
    SettingsRecord s = record;
    std::string out;
    for (const Field& f : kFields) {
        out += f.name;
        out += '=';
        out += f.kind == Kind::Number ? std::to_string(NumberOf(s, f)) : std::string(TextOf(s, f));
        out += '\n';
    }
    return out;
}

namespace {

// The user's videos folder: $XDG_VIDEOS_DIR, else its line in user-dirs.dirs, else ~/Videos.
std::string VideosFolder() {
    const char* env = std::getenv("XDG_VIDEOS_DIR");
    if (env && env[0] == '/') return env;
    const char* homeEnv = std::getenv("HOME");
    const std::string home = homeEnv && homeEnv[0] ? homeEnv : "/tmp";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string dirs =
        (config && config[0] == '/' ? std::string(config) : home + "/.config") + "/user-dirs.dirs";
    if (FILE* fp = std::fopen(dirs.c_str(), "r")) {
        char line[1024];
        std::string found;
        while (std::fgets(line, sizeof line, fp)) {
            std::string text = line;
            const std::string key = "XDG_VIDEOS_DIR=\"";
            if (text.rfind(key, 0) != 0) continue;
            const size_t end = text.find('"', key.size());
            if (end == std::string::npos) continue;
            found = text.substr(key.size(), end - key.size());
        }
        std::fclose(fp);
        if (found.rfind("$HOME", 0) == 0) found = home + found.substr(5);
        if (!found.empty() && found[0] == '/' && found != home && found != home + "/") return found;
    }
    return home + "/Videos";
}

}  // namespace

std::string DefaultClipsFolder() {
    return VideosFolder() + "/Quillory/Clips";
}

std::string ClipsFolderPath() {
    return gSettings.ClipsFolder[0] ? std::string(gSettings.ClipsFolder) : DefaultClipsFolder();
}

std::string StoredClipsFolderPath() {
    char user[200] = {};
    char folder[sizeof gSettings.ClipsFolder] = {};
    HKEY userKey = nullptr, paths = nullptr;
    if (RegReadRootString("User", user) &&
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, UserKeyPath(user).c_str(), &userKey) == ERROR_SUCCESS) {
        if (RegOpenKeyExA(userKey, "Paths", &paths) == ERROR_SUCCESS) {
            RegReadString(paths, "ClipsFolder", "", folder, sizeof folder);
            RegCloseKey(paths);
        }
        RegCloseKey(userKey);
    }
    return folder[0] ? std::string(folder) : DefaultClipsFolder();
}
