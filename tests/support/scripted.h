// Scripted providers for tests: message boxes that record what they were asked and answer from a
// queue, a pump that delivers a queue of events, a log capture, a temporary folder, a deadline for
// waits, and the fixture most suites build on.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/diag.h"
#include "core/dialogs.h"
#include "core/pump.h"

struct ShownBox {
    HWND owner;
    std::string text;
    std::string caption;
    unsigned style;
};

class ScriptedMessageBoxes : public MessageBoxProvider {
  public:
    // Answers are returned in order; 0 stands for a box that cannot be shown. When the queue
    // is empty, boxes answer IDOK / IDYES.
    std::deque<int> answers;
    std::vector<ShownBox> shown;

    // Boxes with a choice pick from this queue (the shown option when it is empty) and are recorded
    // like the others, their choices in `choicesShown`.
    std::deque<int> choices;
    std::vector<BoxChoice> choicesShown;

    int Show(HWND owner, const std::string& text, const std::string& caption, unsigned style) override;
    int ShowWithChoice(HWND owner, const std::string& text, const std::string& caption, unsigned style,
                       const BoxChoice& choice, int* selected) override;
    // Boxes with a button of their own are recorded like the others, their labels in buttonsShown;
    // kIdBoxButton in the answers presses it.
    std::vector<std::string> buttonsShown;
    int ShowWithButton(HWND owner, const std::string& text, const std::string& caption, unsigned style,
                       const std::string& label) override;
    std::vector<std::string> texts() const;
    bool saw(const std::string& text) const;
};

// Installs scripted boxes for the life of the object and restores the previous provider.
class ScopedBoxes {
  public:
    ScopedBoxes();
    ~ScopedBoxes();
    ScriptedMessageBoxes* operator->() { return boxes_.get(); }
    ScriptedMessageBoxes& get() { return *boxes_; }

  private:
    std::shared_ptr<ScriptedMessageBoxes> boxes_;
    std::shared_ptr<MessageBoxProvider> previous_;
};

// A queued user event: a handler to dispatch, or an Escape key press.
struct ScriptedEvent {
    bool escape = false;
    std::function<void()> dispatch;
};

class ScriptedPump : public PumpProvider {
  public:
    std::deque<ScriptedEvent> queue;
    // Called on every pump before the queue is emptied (a test can enqueue per frame).
    std::function<void(ScriptedPump&)> beforeEachPump;
    int pumps = 0;

    bool PumpUntilEscape() override;
    void PumpAll() override;
    void click(std::function<void()> f) { queue.push_back({false, std::move(f)}); }
    void escape() { queue.push_back({true, nullptr}); }
};

// Collects DebugLog lines while alive.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    const std::vector<std::string>& lines() const { return lines_; }
    bool contains(const std::string& text) const;

  private:
    std::vector<std::string> lines_;
};

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& content);

// Ends the test program with a failure naming the test and `what` when the scope is not left within
// `seconds`: a wait that never ends (a worker that hangs, a window nobody closes) fails with a
// message instead of holding the suite until ctest's timeout.
class Deadline {
  public:
    explicit Deadline(std::string what, int seconds = 120);
    ~Deadline();
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable left_;
    bool done_ = false;
    std::thread watch_;
};

// The base of most fixtures: scripted message boxes and file dialogs for the test's life, a fresh
// temporary folder, and a check that every memory-monitor block taken during the test was given
// back (fixtures that reset state call SetUp after their resets and TearDown after their releases).
class ScriptedTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    ScopedBoxes boxes;
    TempDir dir;
    std::shared_ptr<QueuedFileDialogProvider> dialogs = std::make_shared<QueuedFileDialogProvider>();
    int32_t baselineBlocks = 0;

  private:
    std::shared_ptr<FileDialogProvider> previousDialogs_;
};
