// Tooltips, the part without windows: the tables of (control id, text) pairs, splitting a text
// into lines and measuring it, and the rule that decides whether a tooltip shows.
#pragma once

#include <cstdint>
#include <functional>

#include "core/wintypes.h"

// One row of a dialog's tooltip table; a table ends with a row whose id is 0. "\n" separates lines.
struct TooltipEntry {
    int32_t controlId;
    const char* text;
};

constexpr int32_t kMaxTooltipLines = 200;
// A table longer than this is taken to have lost its closing row.
constexpr int32_t kMaxTooltipTableRows = 10000;

// The text of the first row for controlId, or null (also for id 0 and a null table).
const char* LookupTooltip(const TooltipEntry* table, int32_t controlId);

struct TooltipLines {
    int32_t count = 0;
    int32_t starts[kMaxTooltipLines];
    int32_t ends[kMaxTooltipLines];
};
// Splits at each "\n"; lines past kMaxTooltipLines are left out. Returns the line count.
int32_t SplitTooltipLines(const char* text, TooltipLines& lines);

// Measures one line: height in the upper 16 bits, width in the lower.
using TooltipMeasure = std::function<uint32_t(const char* line, int32_t length)>;
// (line height x line count) << 16 | widest width; the line height is that of the last line
// measured. Each half is kept within 16 bits.
uint32_t TooltipTextSize(const char* text, const TooltipLines& lines, const TooltipMeasure& measure,
                         int32_t* lineHeight = nullptr);

// What the tooltip code remembers between calls: the dialog and control of the latest tooltip.
struct TooltipMemory {
    HWND lastOwner = nullptr;
    HWND lastControl = nullptr;
};

struct TooltipDecision {
    bool closeShown = false;     // close the tooltip now shown
    const char* text = nullptr;  // show a new tooltip with this text, or nothing
};

// The rule of ShowTooltip. A tooltip stays while the pointer is on its control; it is not shown
// twice for the same control until the pointer has been on another control or on no control;
// a control without a row shows nothing and leaves the memory as it was.
TooltipDecision DecideTooltip(TooltipMemory& memory, bool shown, bool allowed, HWND dialog, HWND control,
                              int32_t controlId, const TooltipEntry* table);
