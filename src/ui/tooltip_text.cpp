#include "ui/tooltip_text.h"

#include <algorithm>

const char* LookupTooltip(const TooltipEntry* table, int32_t controlId) {
    if (!table || controlId == 0) return nullptr;
    for (int32_t i = 0; i < kMaxTooltipTableRows && table[i].controlId != 0; i++)
        if (table[i].controlId == controlId) return table[i].text;
    return nullptr;
}

int32_t SplitTooltipLines(const char* text, TooltipLines& lines) {
    lines.count = 0;
    if (!text) return 0;
    int32_t start = 0;
    for (int32_t i = 0;; i++) {
        if (text[i] != '\n' && text[i] != '\0') continue;
        lines.starts[lines.count] = start;
        lines.ends[lines.count] = i;
        lines.count++;
        if (text[i] == '\0' || lines.count == kMaxTooltipLines) break;
        start = i + 1;
    }
    return lines.count;
}

uint32_t TooltipTextSize(const char* text, const TooltipLines& lines, const TooltipMeasure& measure,
                         int32_t* lineHeight) {
    int32_t width = 0, height = 0;
    for (int32_t i = 0; i < lines.count && text && measure; i++) {
        uint32_t extent = measure(text + lines.starts[i], lines.ends[i] - lines.starts[i]);
        width = std::max(width, static_cast<int32_t>(extent & 0xFFFF));
        height = static_cast<int32_t>(extent >> 16);
    }
    if (lineHeight) *lineHeight = height;
    int64_t total = static_cast<int64_t>(height) * lines.count;
    uint32_t packedHeight = static_cast<uint32_t>(std::min<int64_t>(total, 0xFFFF));
    return (packedHeight << 16) | static_cast<uint32_t>(width);
}

TooltipDecision DecideTooltip(TooltipMemory& memory, bool shown, bool allowed, HWND dialog, HWND control,
                              int32_t controlId, const TooltipEntry* table) {
    TooltipDecision d;
    if (!allowed) return d;
    bool same = dialog == memory.lastOwner && control == memory.lastControl;
    if (same) return d;  // it stays, or it was already shown for this control
    d.closeShown = shown;
    if (controlId == 0) {
        memory.lastOwner = nullptr;
        memory.lastControl = nullptr;
        return d;
    }
    d.text = LookupTooltip(table, controlId);
    if (d.text) {
        memory.lastOwner = dialog;
        memory.lastControl = control;
    }
    return d;
}
