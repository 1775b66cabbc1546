#include "core/dialogs.h"

#include "core/diag.h"
#include "core/pump.h"

namespace {

std::shared_ptr<FileDialogProvider> gDialogs;

bool Run(FileDialogRequest& request, std::string& chosen) {
    if (!gDialogs) gDialogs = std::make_shared<QueuedFileDialogProvider>();
    std::string name;
    if (!gDialogs->Choose(request, name) || name.empty()) return false;
    if (!request.defaultExtension.empty()) AddDefaultExtension(name, request.defaultExtension.c_str());
    if (name.size() + 1 > request.maxLength) {
        DebugLog("file dialog: name too long (%ld characters)", static_cast<long>(name.size()));
        return false;
    }
    chosen = name;
    return true;
}

}  // namespace

bool QueuedFileDialogProvider::Choose(const FileDialogRequest& request, std::string& chosen) {
    requests.push_back(request);
    if (answers.empty()) return false;
    chosen = answers.front();
    answers.pop_front();
    return !chosen.empty();
}

std::shared_ptr<FileDialogProvider> SetFileDialogProvider(std::shared_ptr<FileDialogProvider> provider) {
    auto old = gDialogs;
    gDialogs = std::move(provider);
    return old;
}

bool GetOpenFileNameA(FileDialogRequest request, std::string& chosen) {
    request.save = false;
    return Run(request, chosen);
}

bool GetSaveFileNameA(FileDialogRequest request, std::string& chosen) {
    request.save = true;
    return Run(request, chosen);
}

namespace {

std::shared_ptr<FontDialogProvider> gFontDialogs;

}  // namespace

bool QueuedFontDialogProvider::Choose(const FontDialogRequest& request, FontChoice& chosen) {
    requests.push_back(request);
    if (answers.empty()) return false;
    chosen = answers.front();
    answers.pop_front();
    return true;
}

std::shared_ptr<FontDialogProvider> SetFontDialogProvider(std::shared_ptr<FontDialogProvider> provider) {
    auto old = gFontDialogs;
    gFontDialogs = std::move(provider);
    return old;
}

bool ChooseFontA(const FontDialogRequest& request, FontChoice& chosen) {
    if (!gFontDialogs) gFontDialogs = std::make_shared<QueuedFontDialogProvider>();
    FontChoice answer = request.font;
    if (!gFontDialogs->Choose(request, answer)) return false;
    answer.faceName[sizeof answer.faceName - 1] = '\0';
    chosen = answer;
    return true;
}
