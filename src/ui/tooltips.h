// The program's own tooltips: a pale-yellow popup with a black border beside the pointer, one or
// more lines from the dialog's tooltip table, closed by a repeating 2-second timer unless Shift is
// held. At most one exists at a time.
#pragma once

#include <cstdint>
#include <functional>

#include "core/wintypes.h"
#include "ui/tooltip_text.h"

class QWidget;

// The pointer rests at (x, y) (dialog client coordinates) on control (a child of dialog, or the
// dialog itself when it is on no control). Honours useToolTips and the allowed flag.
void ShowTooltip(HWND dialog, HWND control, const TooltipEntry* table, int32_t x, int32_t y);
// Destroys the popup if there is one; the memory of the last control stays.
void CloseTooltip();
// The extent of a line in the tooltip font of that face and point size (height << 16 | width).
uint32_t MeasureTooltipLine(HWND window, const char* text, int32_t length, const char* face, int32_t points);

// Lowered while code tracks the mouse itself (a selection drag), raised again afterwards.
void SetTooltipsAllowed(bool allowed);
bool TooltipsAllowed();

// Makes the dialog call ShowTooltip as the pointer moves over it and its controls (a disabled
// control included), as WM_SETCURSOR did, and names its controls after their tooltips for screen
// readers (NameControlsAfterTooltips). The table must outlive the dialog.
void InstallTooltipTable(QWidget* dialog, const TooltipEntry* table);

// The popup, or null.
HWND TooltipWindow();
// What the popup's timer does on each tick: close unless Shift is down.
void TooltipTimerTick();
// Replaces the keyboard query the timer makes (tests); an empty function restores it.
void SetShiftKeyQuery(std::function<bool()> query);
// Forgets the last dialog and control (tests).
void ResetTooltipMemory();
