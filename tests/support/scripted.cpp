#include "support/scripted.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

int ScriptedMessageBoxes::Show(HWND owner, const std::string& text, const std::string& caption,
                               unsigned style) {
    shown.push_back({owner, text, caption, style});
    if (!answers.empty()) {
        int a = answers.front();
        answers.pop_front();
        return a;
    }
    return (style & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
}

int ScriptedMessageBoxes::ShowWithChoice(HWND owner, const std::string& text, const std::string& caption,
                                         unsigned style, const BoxChoice& choice, int* selected) {
    choicesShown.push_back(choice);
    if (!choices.empty()) {
        *selected = choices.front();
        choices.pop_front();
    }
    return Show(owner, text, caption, style);
}

int ScriptedMessageBoxes::ShowWithButton(HWND owner, const std::string& text, const std::string& caption,
                                         unsigned style, const std::string& label) {
    buttonsShown.push_back(label);
    return Show(owner, text, caption, style);
}

std::vector<std::string> ScriptedMessageBoxes::texts() const {
    std::vector<std::string> t;
    for (const auto& b : shown) t.push_back(b.text);
    return t;
}

bool ScriptedMessageBoxes::saw(const std::string& text) const {
    return std::any_of(shown.begin(), shown.end(), [&](const ShownBox& b) { return b.text == text; });
}

ScopedBoxes::ScopedBoxes() : boxes_(std::make_shared<ScriptedMessageBoxes>()) {
    previous_ = SetMessageBoxProvider(boxes_);
}
ScopedBoxes::~ScopedBoxes() {
    SetMessageBoxProvider(previous_);
}

bool ScriptedPump::PumpUntilEscape() {
    pumps++;
    if (beforeEachPump) beforeEachPump(*this);
    bool escaped = false;
    while (!queue.empty()) {
        ScriptedEvent e = std::move(queue.front());
        queue.pop_front();
        if (escaped) continue;  // dropped behind the Escape
        if (e.escape)
            escaped = true;
        else if (e.dispatch)
            e.dispatch();
    }
    return escaped;
}

void ScriptedPump::PumpAll() {
    pumps++;
    while (!queue.empty()) {
        ScriptedEvent e = std::move(queue.front());
        queue.pop_front();
        if (e.dispatch) e.dispatch();
    }
}

LogCapture::LogCapture() {
    SetDebugLogSink([this](const std::string& line) { lines_.push_back(line); });
}
LogCapture::~LogCapture() {
    SetDebugLogSink(nullptr);
}

bool LogCapture::contains(const std::string& text) const {
    return std::any_of(lines_.begin(), lines_.end(),
                       [&](const std::string& l) { return l.find(text) != std::string::npos; });
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "quillory-test-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) std::abort();
    path_ = tmpl;
}
TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}
