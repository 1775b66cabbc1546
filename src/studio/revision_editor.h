// The "Edit Revision List" dialog (resource 218): every revision of the project in order, with
// commands to change the selected one's range, text or underlay picture, pick an underlay's key
// colours, or remove it. The dialog edits the project's list directly and keeps a copy as it was:
// OK keeps the edits, Cancel puts the copy back (key colours picked meanwhile stay).
#pragma once

#include <cstdint>

#include "core/wintypes.h"

constexpr int32_t kRevisionEditorId = 218;
constexpr int32_t kRevisionList = 2087;
constexpr int32_t kRevisionEditRange = 2088;
constexpr int32_t kRevisionRemove = 2089;
constexpr int32_t kRevisionEditText = 1500;  // a title's text, or an underlay's picture file
constexpr int32_t kRevisionChromakey = 1435;
constexpr int32_t kRevisionHelpContext = 60;

// False (no dialog) when the project has no revisions; true once the dialog has closed.
bool EditRevisionList(HWND owner);
// Empties the dialog's list and adds one line per revision (RevisionText).
void FillRevisionList(HWND dialog);
