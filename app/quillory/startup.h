// The desktop program's entry: refuses a second copy, loads the settings, notes whether mail is
// offered, measures the display, shows the splash window, runs the storyboard window, and then
// saves the settings, reports the memory monitor and releases the single-instance lock.
#pragma once

#include <functional>

// The single-instance lock's name.
constexpr const char* kInstanceName = "Quillory Main Process";

struct StartupHooks {
    // Runs the main window until the user leaves it; 0 when it could not be made. Empty runs the
    // storyboard window.
    std::function<int()> runMainDialog;
};

// The whole run; the process exit code (0, also when a second copy is refused). Uses the
// application object when one exists, else makes one from argc and argv. QUILLORY_MESSAGES=console
// sends every message box to standard error as "Notify: TEXT", answered Yes (headless runs).
int QuilloryMain(int argc, char** argv, const StartupHooks& hooks = {});
