// The capture window's widgets: the live picture as a child widget of the window it was created
// in, and the drivers' choice dialogs.
#pragma once

// Installs both for capture windows made from now on (a QApplication must exist).
void InstallCaptureWindowWidgets();
