// The progress window of conversions into clips: each file is converted on a worker thread while
// the window shows its name, the frames done and the time left, and stays responsive. Cancel (or
// Escape, or closing the window) stops the file being converted and refuses the ones after it. One
// window serves any number of files one after another (the files of one drop).
#pragma once

#include <QDialog>
#include <atomic>
#include <chrono>
#include <cstdint>

#include "media/conform.h"

class QLabel;
class QProgressBar;

class ConversionWindow : public QDialog {
    Q_OBJECT
  public:
    explicit ConversionWindow(QWidget* owner);
    ~ConversionWindow() override;

    // Converts request.source with the window shown, in an event loop of its own, and returns when
    // the worker is done. After a cancel it returns a cancelled result at once.
    ConformResult Convert(const ConformRequest& request);
    bool cancelled() const { return cancel_.load(); }

  protected:
    void reject() override;  // Escape
    void closeEvent(QCloseEvent* event) override;

  private:
    // The worker's figures into the labels and the bar (queued from the worker).
    Q_INVOKABLE void ShowProgress();

    QLabel* file_ = nullptr;
    QLabel* frames_ = nullptr;
    QLabel* left_ = nullptr;
    QProgressBar* bar_ = nullptr;
    std::atomic<bool> cancel_{false};
    // Written by the worker; the window reads them when it is told (at most one notice waiting).
    std::atomic<int64_t> done_{0}, total_{0};
    std::atomic<bool> noticePending_{false};
    std::chrono::steady_clock::time_point started_;
};
