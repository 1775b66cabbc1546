// The settings record: every user setting under the name of its registry value, loaded once at
// start-up and saved once at shutdown. Other code reads and changes the fields directly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registry/registry.h"

struct SettingsRecord {
    // Paths
    char LogFileName[128];
    char HelpFile[128];
    char ProjectFileName[128];
    char LastAVIfileName[128];
    char LastSaveAVIfileName[128];
    char LastBMPfileName[128];
    char CapFile[200];
    char ClipsFolder[200];  // where converted clips go; empty: DefaultClipsFolder()
    // Settings
    int32_t gDesktopWidth;
    int32_t gDesktopHeight;
    int32_t gDesktopDepth;
    int32_t angJogPlay;
    int32_t angJogVCR;
    int32_t cellW;
    int32_t cellH;
    int32_t smooth;
    int32_t SSdisable;
    int32_t ShowEdits;  // storyboard cells show titles and underlays laid on
    // Edit
    int32_t previewRate;
    int32_t previewRateThreshold;
    // ToolTips
    int32_t useToolTips;
    int32_t alwaysUseToolTips;
    int32_t fontsizeToolTips;
    char fontnameToolTips[32];
    // Capture
    int32_t msPerFrame;
    int32_t Arate;
    int32_t Abits;
    int32_t Amode;
    int32_t overlaymode;
    int32_t CapCompress;  // frames stored as Motion JPEG (1) or uncompressed (0)
    int32_t CapQuality;   // the Motion JPEG quality, 0-100
    // Render
    int32_t CopyFrames;  // frames without titles or underlays are copied when the format allows
    int32_t FitToSize;   // the quality is chosen so that the file fits FitMB megabytes
    int32_t FitMB;
    // Titles
    char FontName[32];
    int32_t Italic;
    int32_t Size;
    int32_t Weight;
    int32_t Underline;
    int32_t Quality;
    int32_t Points;
    int32_t Color;
    // Mail
    char SendAs[8];  // the format a project is recorded in before it is mailed: "MP4" or "AVI"
};

extern SettingsRecord gSettings;

// Whether the user wants the screen saver held off while the program's windows are active.
inline bool ScreenSaverHoldWanted() {
    return gSettings.SSdisable != 0;
}

// Recent Projects: the projects last opened or saved, most recent first, loaded and saved with the
// record as the values "Project1" to "Project8" of the user's key "Recent Projects". Only absolute
// paths the project file name can hold are kept.
constexpr size_t kMaxRecentProjects = 8;
const std::vector<std::string>& RecentProjects();
// Puts path first (once); the oldest beyond the limit drop off.
void AddRecentProject(const std::string& path);
void RemoveRecentProject(const std::string& path);

// The record as it stands before any load.
SettingsRecord InitialSettings();
// Puts the initial values back and empties Recent Projects (tests, and the start of a run).
void ResetSettings();

// "SOFTWARE\Brellmont\Quillory"
extern const char* const kRootKeyPath;

void RegLoadSettings(const char* user);
// 0 on success, otherwise the registry error of the per-user key (or of writing the file).
LONG RegSaveSettings(const char* user);
// 1 when the root key and the value were read into dest (at least 100 bytes), else 0.
int RegReadRootString(const char* name, char* dest);
// 0 on failure, 1 when the root key was created, 2 when it existed.
int RegWriteRootString(const char* name, const char* value);
int32_t RegReadNumber(HKEY section, const char* name, int32_t missing);
void RegReadString(HKEY section, const char* name, const char* missing, char* dest, int capacity);

// "Quillory/Clips" in the user's videos folder (XDG_VIDEOS_DIR, from the environment or
// user-dirs.dirs, else ~/Videos).
std::string DefaultClipsFolder();
// The ClipsFolder setting, or the default when it is empty.
std::string ClipsFolderPath();
// The same as the stored settings have it, read without loading the rest of them (for a program
// that does not run on the settings).
std::string StoredClipsFolderPath();

// Start-up: empties LogFileName; on a first run stores "User"="User" and keeps the initial
// values, otherwise loads the settings of the user named by the root value "User".
void LoadStartupSettings();

// Every field as "Name=value" lines, in the record's order.
std::string DescribeSettings(const SettingsRecord& s);
