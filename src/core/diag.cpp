#include "core/diag.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::function<void(const std::string&)> gLogSink;
FILE* gLogFile = nullptr;
bool gLogOpened = false;
std::mutex gLogLock;  // worker threads (the render's, libav's) log too

std::shared_ptr<MessageBoxProvider> gBoxes;
std::shared_ptr<TextExtentProvider> gExtent;
HWND gMessageOwner = nullptr;

std::string VFormat(const char* format, va_list args) {
    char buffer[kMessageLimit];
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    if (n < 0) return std::string();
    return std::string(buffer);  // vsnprintf cut it to kMessageLimit - 1 characters
}

// Shows a question and maps its two answers; a box that cannot be shown is retried once without
// owner, then replaced by a last "???" box. A question nobody could answer counts as No / Cancel,
// never as consent.
// A third button, when the question has one, answers 2.
int AskTwoWay(const std::string& text, unsigned style, int yes, int no, const BoxChoice* choice = nullptr,
              int* selected = nullptr, const char* button = nullptr) {
    MessageBoxProvider& boxes = CurrentMessageBoxProvider();
    auto show = [&](HWND owner) {
        return choice   ? boxes.ShowWithChoice(owner, text, "Notify", style, *choice, selected)
               : button ? boxes.ShowWithButton(owner, text, "Notify", style, button)
                        : boxes.Show(owner, text, "Notify", style);
    };
    int r = show(gMessageOwner);
    if (r == yes) return 1;
    if (r == no) return 0;
    if (button && r == kIdBoxButton) return 2;
    r = show(nullptr);
    if (r == yes) return 1;
    if (r == no) return 0;
    if (button && r == kIdBoxButton) return 2;
    boxes.Show(nullptr, "???", "Notify", MB_OK | MB_ICONEXCLAMATION);
    return 0;
}

}  // namespace

void DebugLog(const char* format, ...) {
    std::lock_guard<std::mutex> guard(gLogLock);
    if (!gLogOpened) {
        gLogOpened = true;
        if (const char* path = std::getenv("QUILLORY_LOG"); path && *path) gLogFile = std::fopen(path, "a");
    }
    if (!gLogFile && !gLogSink) return;
    va_list args;
    va_start(args, format);
    std::string line = VFormat(format, args);
    va_end(args);
    if (gLogSink) gLogSink(line);
    if (gLogFile) {
        std::fprintf(gLogFile, "%s\n", line.c_str());
        std::fflush(gLogFile);
    }
}

void SetDebugLogSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> guard(gLogLock);
    gLogSink = std::move(sink);
}

std::string FormatMessageText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string s = VFormat(format, args);
    va_end(args);
    return s;
}

int32_t Mystrlen(const char* s) {
    if (!s) {
        DebugLog("ERROR Mystrlen - ss==0");
        return 0;
    }
    int32_t n = 0;
    while (n < 1000 && s[n]) n++;
    return n;
}

std::shared_ptr<MessageBoxProvider> SetMessageBoxProvider(std::shared_ptr<MessageBoxProvider> provider) {
    auto old = gBoxes;
    gBoxes = std::move(provider);
    return old;
}

MessageBoxProvider& CurrentMessageBoxProvider() {
    if (!gBoxes) gBoxes = std::make_shared<ConsoleMessageBoxProvider>();
    return *gBoxes;
}

int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, unsigned style) {
    return CurrentMessageBoxProvider().Show(owner, text, caption, style);
}

HWND MessageOwner() {
    return gMessageOwner;
}

HWND SetMessageOwner(HWND owner) {
    HWND old = gMessageOwner;
    gMessageOwner = owner;
    return old;
}

int NotifyBox(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    return CurrentMessageBoxProvider().Show(gMessageOwner, text, "Notify", MB_OK | MB_ICONEXCLAMATION);
}

int NotifyYesNo(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    return AskTwoWay(text, MB_YESNO | MB_ICONQUESTION, IDYES, IDNO);
}

int NotifyYesNoWithChoice(const BoxChoice& choice, int* selected, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    return AskTwoWay(text, MB_YESNO | MB_ICONQUESTION, IDYES, IDNO, &choice, selected);
}

int NotifyYesNoWithButton(const char* label, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    return AskTwoWay(text, MB_YESNO | MB_ICONQUESTION, IDYES, IDNO, nullptr, nullptr, label ? label : "");
}

int NotifyOkCancel(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = VFormat(format, args);
    va_end(args);
    return AskTwoWay(text, MB_OKCANCEL | MB_ICONEXCLAMATION, IDOK, IDCANCEL);
}

int ConsoleMessageBoxProvider::Show(HWND, const std::string& text, const std::string& caption,
                                    unsigned style) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    switch (style & MB_TYPEMASK) {
        case MB_YESNO:
            return answerYes_ ? IDYES : IDNO;
        case MB_OKCANCEL:
            return answerYes_ ? IDOK : IDCANCEL;
        default:
            return IDOK;
    }
}

std::shared_ptr<TextExtentProvider> SetTextExtentProvider(std::shared_ptr<TextExtentProvider> provider) {
    auto old = gExtent;
    gExtent = std::move(provider);
    return old;
}

uint32_t FixedTextExtentProvider::Extent(HDC, const char* text, int count) {
    if (!text || count < 0) count = 0;
    uint32_t width = static_cast<uint32_t>(count) * 8;
    return (16u << 16) | (width & 0xFFFF);
}

uint32_t MyGetTextExtent(HDC dc, const char* text, int count) {
    if (!gExtent) gExtent = std::make_shared<FixedTextExtentProvider>();
    return gExtent->Extent(dc, text, count);
}
