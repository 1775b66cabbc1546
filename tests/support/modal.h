// Scripts for windows that run an event loop of their own (dialogs, the VCR panel): the script runs
// once its window is open; a window that does not open in time fails the test and the modal window
// open then is rejected, so that a missing or unexpected window never holds the test.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <chrono>
#include <functional>
#include <string>

// The visible top-level window of that object name, or null.
inline QWidget* ShownWindow(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == name && w->isVisible()) return w;
    return nullptr;
}

// Runs script on what find gives once it is not null (polled every 10 ms by the event loops to come);
// after `seconds` without it the test fails naming `what`.
inline void WhenShown(const std::string& what, std::function<QWidget*()> find,
                      std::function<void(QWidget*)> script, int seconds = 20) {
    auto* timer = new QTimer;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget* w = find();
        const bool late = !w && std::chrono::steady_clock::now() > deadline;
        if (!w && !late) return;
        timer->stop();  // before the script, which may open windows of its own
        timer->deleteLater();
        if (w) return script(w);
        ADD_FAILURE() << what << " did not open within " << seconds << " s";
        if (auto* open = qobject_cast<QDialog*>(QApplication::activeModalWidget())) open->reject();
    });
    timer->start(10);
}

// Runs script in the window of that object name once it is open, then rejects it if the script left
// it open (close, when given, ends it instead).
inline void WhenOpen(const char* name, std::function<void(QWidget*)> script,
                     std::function<void(QWidget*)> close = {}) {
    WhenShown(
        std::string("the window ") + name, [name] { return ShownWindow(name); },
        [script, close](QWidget* w) {
            script(w);
            if (!w->isVisible()) return;
            if (close)
                close(w);
            else if (auto* d = qobject_cast<QDialog*>(w))
                d->reject();
        });
}
