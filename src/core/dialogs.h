// The file and font dialogs, behind providers like the message boxes: the desktop program installs
// QFileDialog and its font and colour chooser, the command line answers from its arguments, tests
// answer from a queue.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/wintypes.h"

// OPENFILENAME flags the system passes; providers honour what they can.
constexpr unsigned OFN_OVERWRITEPROMPT = 0x2;
constexpr unsigned OFN_HIDEREADONLY = 0x4;
constexpr unsigned OFN_PATHMUSTEXIST = 0x800;
constexpr unsigned OFN_FILEMUSTEXIST = 0x1000;
constexpr unsigned OFN_LONGNAMES = 0x200000;

struct FileDialogRequest {
    HWND owner = nullptr;
    bool save = false;
    std::string title;
    std::vector<std::pair<std::string, std::string>> filters;  // ("AVI Files", "*.avi"), ...
    int filterIndex = 1;
    std::string initialDir;
    std::string initialName;
    unsigned flags = 0;
    size_t maxLength = 200;  // the caller's name buffer, terminator included
    // Added ("." and this) to a chosen name whose last component has no dot, before the dialog
    // asks whether to overwrite, so the question is about the file that will be written.
    std::string defaultExtension;
};

class FileDialogProvider {
  public:
    virtual ~FileDialogProvider() = default;
    // True with the chosen path, false when the user cancelled.
    virtual bool Choose(const FileDialogRequest& request, std::string& chosen) = 0;
};

// Answers from a queue; an empty queue cancels. Records every request.
class QueuedFileDialogProvider : public FileDialogProvider {
  public:
    std::deque<std::string> answers;  // "" cancels
    std::vector<FileDialogRequest> requests;
    bool Choose(const FileDialogRequest& request, std::string& chosen) override;
};

std::shared_ptr<FileDialogProvider> SetFileDialogProvider(std::shared_ptr<FileDialogProvider> provider);

// GetOpenFileNameA / GetSaveFileNameA: the chosen name with its default extension; a name longer
// than maxLength - 1 counts as cancelled.
bool GetOpenFileNameA(FileDialogRequest request, std::string& chosen);
bool GetSaveFileNameA(FileDialogRequest request, std::string& chosen);

// CHOOSEFONT flags and the font type the system passes; providers honour what they can.
constexpr unsigned CF_SCREENFONTS = 0x1;
constexpr unsigned CF_INITTOLOGFONTSTRUCT = 0x40;
constexpr unsigned CF_EFFECTS = 0x100;
constexpr unsigned CF_SCALABLEONLY = 0x20000;
constexpr uint16_t SCREEN_FONTTYPE = 0x2000;

// What the font chooser starts from and hands back: the LOGFONT fields titles keep, the point size
// and the colour.
struct FontChoice {
    char faceName[32] = {};
    int32_t height = 0;  // LOGFONT height: negative is the character height in pixels (96 dpi)
    int32_t weight = 0;
    int32_t italic = 0;
    int32_t underline = 0;
    int32_t quality = 0;
    int32_t points = 0;   // tenths of a point
    uint32_t colour = 0;  // COLORREF 0x00BBGGRR
};

struct FontDialogRequest {
    HWND owner = nullptr;
    unsigned flags = 0;
    uint16_t fontType = 0;
    FontChoice font;
};

class FontDialogProvider {
  public:
    virtual ~FontDialogProvider() = default;
    // True with the chosen font, false when the user cancelled.
    virtual bool Choose(const FontDialogRequest& request, FontChoice& chosen) = 0;
};

// Answers from a queue; an empty queue cancels. Records every request.
class QueuedFontDialogProvider : public FontDialogProvider {
  public:
    std::deque<FontChoice> answers;
    std::vector<FontDialogRequest> requests;
    bool Choose(const FontDialogRequest& request, FontChoice& chosen) override;
};

std::shared_ptr<FontDialogProvider> SetFontDialogProvider(std::shared_ptr<FontDialogProvider> provider);

// ChooseFontA: true with the chosen font (its face name terminated), false when cancelled.
bool ChooseFontA(const FontDialogRequest& request, FontChoice& chosen);
