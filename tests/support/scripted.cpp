#include "support/scripted.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/memory.h"

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

Deadline::Deadline(std::string what, int seconds) {
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (test) what = std::string(test->test_suite_name()) + "." + test->name() + ": " + what;
    watch_ = std::thread([this, what = std::move(what), seconds] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (left_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) return;
        std::fprintf(stderr, "Failure: %s did not finish within %d s\n", what.c_str(), seconds);
        std::fflush(stderr);
        std::_Exit(1);
    });
}

Deadline::~Deadline() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        done_ = true;
    }
    left_.notify_all();
    watch_.join();
}

void ScriptedTest::SetUp() {
    previousDialogs_ = SetFileDialogProvider(dialogs);
    baselineBlocks = MemoryMonitorStatus().liveBlocks;
}

void ScriptedTest::TearDown() {
    SetFileDialogProvider(previousDialogs_);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, baselineBlocks) << "memory-monitor blocks left behind";
}
