// The file dialogs, behind a provider like the message boxes: the desktop program installs
// QFileDialog, the command line answers from its arguments, tests answer from a queue.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/win/wintypes.h"

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
