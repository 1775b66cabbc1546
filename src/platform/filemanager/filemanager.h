// "Show in Folder": the desktop's file manager opens the file's folder with the file selected
// (org.freedesktop.FileManager1.ShowItems on the session bus); without a session bus or a file
// manager that answers, the folder is opened with the desktop's program for folders.
#pragma once

#include <string>

// Returns at once; the file manager is asked in the background (a QGuiApplication must exist).
void ShowInFolder(const std::string& path);
