// The one QApplication of a GUI test program (offscreen: ctest sets QT_QPA_PLATFORM).
#pragma once

#include <QApplication>
#include <cstdlib>

inline QApplication& TestApp() {
    static int argc = 1;
    static char name[] = "quillory-test";
    static char* argv[] = {name, nullptr};
    if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // Never destroyed: at exit Qt's own globals may already be gone.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}
