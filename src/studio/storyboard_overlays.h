// The storyboard's title and underlay launches: adding a title over the selection with a live
// preview on its first frame, editing a title of the selected frame, adding an underlay picture and
// picking its key colours.
#pragma once

#include <cstdint>
#include <string>

#include "core/wintypes.h"
#include "project/project.h"

// Add Title (2086, 7043): the selection's first frame, with the overlays already on it, in the
// picture view while the title dialog runs; the title made there becomes a revision over the
// selection. True when one was added.
bool AddTitleToSelection(HWND window);
// Edit title (7100 + n): the n-th title revision covering the one selected frame, edited in place
// while the picture view shows the frame without it. True when the dialog ran.
bool EditTitleOnSelection(HWND window, int32_t n);
// Add Underlay (7046, 158): a 24-bit BMP chosen for the selection becomes an underlay revision
// without key colours (the fixed blue key applies), then "Pick key colours now?". True when added.
bool AddUnderlayToSelection(HWND window);
// Plays the project over the revision's frames with the colour-key picker; accepted picks are
// appended to its underlay's colour ranges. Nothing without files or an underlay record.
void PickUnderlayColours(HWND window, Revision* revision);
// Asks for another BMP file for an underlay revision ("Revise Filename for Underlay File") and
// stores it, making the revision's underlay record when it has none. True when the name changed.
bool ReviseUnderlayFile(HWND window, Revision* revision);
