// What the capture tests share: a driver table with scripted installs and connection failures
// (the drivers themselves are the test pattern), and a CaptureUi that records what is shown.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "capture/session.h"
#include "platform/capwin/capdriver.h"

class ScriptedDriverTable : public CaptureDriverTable {
  public:
    std::vector<int32_t> installed;
    std::map<int32_t, int32_t> failures;  // connections that fail before one succeeds; -1: all
    std::vector<int32_t> tried;
    bool Describe(int32_t index, std::string& name, std::string& version) override {
        for (int32_t i : installed) {
            if (i != index) continue;
            name = "Scripted " + std::to_string(index);
            version = "0.1";
            return true;
        }
        return false;
    }
    std::unique_ptr<CaptureDriver> Connect(int32_t index) override {
        tried.push_back(index);
        int32_t& fail = failures[index];
        if (fail < 0) return nullptr;
        if (fail > 0) {
            fail--;
            return nullptr;
        }
        return MakeTestPatternDriver();
    }
};

class RecordingUi : public CaptureUi {
  public:
    struct Shown {
        int32_t line;
        std::string text;
        uint32_t colour;
    };
    void ShowLine(HWND, int32_t line, const std::string& text, uint32_t colour) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back({line, text, colour});
    }
    void ShowLevels(int32_t left, int32_t right) override {
        std::lock_guard<std::mutex> lock(mutex_);
        levels_.emplace_back(left, right);
    }
    void SetItemText(HWND, int32_t id, const std::string& text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        items_[id] = text;
    }
    std::vector<Shown> lines() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }
    // The latest text of a display line, "" when never shown.
    std::string last(int32_t line) {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = lines_.rbegin(); it != lines_.rend(); ++it)
            if (it->line == line) return it->text;
        return "";
    }
    std::vector<std::pair<int32_t, int32_t>> levels() {
        std::lock_guard<std::mutex> lock(mutex_);
        return levels_;
    }
    std::string item(int32_t id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return items_[id];
    }

  private:
    std::mutex mutex_;
    std::vector<Shown> lines_;
    std::vector<std::pair<int32_t, int32_t>> levels_;
    std::map<int32_t, std::string> items_;
};
