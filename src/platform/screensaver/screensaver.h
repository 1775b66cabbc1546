// The screen saver held off while the user works in one of the program's windows: asked of the
// desktop through org.freedesktop.ScreenSaver (Inhibit and UnInhibit) on the session bus. Without
// a session bus or a screen-saver service nothing happens and nothing is reported.
#pragma once

class QWidget;

// From now on, window holds the screen saver off while it is the active window and wanted() says
// so (asked at each activation: the user's setting); it lets go when the window deactivates, hides,
// closes or is destroyed. Call once per window, after making it.
void HoldOffScreenSaverWhileActive(QWidget* window, bool (*wanted)());

// Whether the program holds an inhibition now (its cookie from the desktop).
bool ScreenSaverHeldOff();
