// Diagnostics shared by the whole system: the debug log hook, the message boxes with the
// caption "Notify", a bounded string length and the packed text-extent query.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/wintypes.h"

#define QUILLORY_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

// The longest message the formatting functions produce; longer texts are cut.
constexpr int kMessageLimit = 1024;

// printf-style diagnostic line. Goes nowhere unless QUILLORY_LOG names a file to append to,
// or a test installed a sink.
void DebugLog(const char* format, ...) QUILLORY_PRINTF(1, 2);
// Installs a receiver for every log line (tests); an empty function removes it.
void SetDebugLogSink(std::function<void(const std::string&)> sink);

// Formats into at most kMessageLimit - 1 characters.
std::string FormatMessageText(const char* format, ...) QUILLORY_PRINTF(1, 2);

// Length of s up to 1000 characters; null gives 0 (and a log line).
int32_t Mystrlen(const char* s);

// A choice shown under a box's text ("Send as:" and its options).
struct BoxChoice {
    std::string label;
    std::vector<std::string> options;
    std::vector<bool> enabled;  // per option; missing entries are enabled
};

// What a box's own extra button returns (ShowWithButton).
constexpr int kIdBoxButton = 100;

// Shows message boxes. Show returns IDOK, IDCANCEL, IDYES or IDNO, or 0 when the box could not
// be shown.
class MessageBoxProvider {
  public:
    virtual ~MessageBoxProvider() = default;
    virtual int Show(HWND owner, const std::string& text, const std::string& caption, unsigned style) = 0;
    // A box with a choice: *selected is the option shown first and, after the box, the one chosen.
    // Providers that cannot show a choice ask without it and leave *selected as it was.
    virtual int ShowWithChoice(HWND owner, const std::string& text, const std::string& caption,
                               unsigned style, const BoxChoice& /*choice*/, int* /*selected*/) {
        return Show(owner, text, caption, style);
    }
    // A box with the style's buttons and one more labelled one, which returns kIdBoxButton.
    // Providers that cannot show it ask without it.
    virtual int ShowWithButton(HWND owner, const std::string& text, const std::string& caption,
                               unsigned style, const std::string& /*label*/) {
        return Show(owner, text, caption, style);
    }
};

// Installs the provider used by every box; returns the previous one. Null restores the console.
std::shared_ptr<MessageBoxProvider> SetMessageBoxProvider(std::shared_ptr<MessageBoxProvider> provider);
MessageBoxProvider& CurrentMessageBoxProvider();

// MessageBoxA through the installed provider.
int MessageBoxA(HWND owner, const std::string& text, const std::string& caption, unsigned style);

// The window that owns message boxes; modal panels install themselves and restore the old owner.
HWND MessageOwner();
HWND SetMessageOwner(HWND owner);  // returns the previous owner

int NotifyBox(const char* format, ...) QUILLORY_PRINTF(1, 2);
int NotifyYesNo(const char* format, ...) QUILLORY_PRINTF(1, 2);
int NotifyOkCancel(const char* format, ...) QUILLORY_PRINTF(1, 2);
// NotifyYesNo with a choice under the question; *selected as for ShowWithChoice.
int NotifyYesNoWithChoice(const BoxChoice& choice, int* selected, const char* format, ...)
    QUILLORY_PRINTF(3, 4);
// NotifyYesNo with a third button labelled label beside Yes and No: 2 when it was pressed.
int NotifyYesNoWithButton(const char* label, const char* format, ...) QUILLORY_PRINTF(2, 3);

// Console boxes: "Notify: TEXT" (the caption, when not "Notify", replaces the word) on standard
// error; questions take the settable default answer.
class ConsoleMessageBoxProvider : public MessageBoxProvider {
  public:
    explicit ConsoleMessageBoxProvider(bool answerYes = true) : answerYes_(answerYes) {}
    int Show(HWND owner, const std::string& text, const std::string& caption, unsigned style) override;
    void setAnswer(bool yes) { answerYes_ = yes; }

  private:
    bool answerYes_;
};

// Measures text for MyGetTextExtent: height in the upper 16 bits, width in the lower 16.
class TextExtentProvider {
  public:
    virtual ~TextExtentProvider() = default;
    virtual uint32_t Extent(HDC dc, const char* text, int count) = 0;
};
std::shared_ptr<TextExtentProvider> SetTextExtentProvider(std::shared_ptr<TextExtentProvider> provider);

// A fixed-pitch measure for headless runs: 8 pixels a character, 16 pixels high.
class FixedTextExtentProvider : public TextExtentProvider {
  public:
    uint32_t Extent(HDC dc, const char* text, int count) override;
};

uint32_t MyGetTextExtent(HDC dc, const char* text, int count);
