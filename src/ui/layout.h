// The row layout, the part without windows: a list of layout records (newest first) with an
// origin, and a stack of up to three saved layouts below the current one.
#pragma once

#include <cstdint>

#include "core/wintypes.h"

// Horizontal flags.
constexpr uint32_t kLayoutAlignLeft = 1;  // x = reference x + dx
constexpr uint32_t kLayoutRightOf = 2;    // x = reference right + dx
// Vertical flags.
constexpr uint32_t kLayoutAlignTop = 4;  // y = reference y + dy
constexpr uint32_t kLayoutBelow = 8;     // y = reference bottom + dy
// Either direction: raise the size to the minimum given.
constexpr uint32_t kLayoutMinimum = 16;

constexpr int32_t kMaxSavedLayouts = 3;

struct LayoutRecord {
    LayoutRecord* next;
    int32_t controlId;
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

// Saves the current layout (dropping the oldest saved one beyond three) and starts an empty one.
void BeginLayout(int32_t x, int32_t y);
// Releases the current layout and makes the most recently saved one current again.
void EndLayout();

// LayoutControl's arithmetic for a control whose present rectangle (dialog client coordinates)
// is given; the new record joins the current layout. Null when it could not be allocated.
LayoutRecord* AddLayoutRecord(int32_t controlId, const RECT& present, int32_t referenceId, int32_t dx,
                              int32_t dy, int32_t minWidth, int32_t minHeight, uint32_t horizontalFlags,
                              uint32_t verticalFlags);

const LayoutRecord* CurrentLayout();
POINT CurrentLayoutOrigin();
int32_t SavedLayoutCount();
// The rectangle where ApplyLayout (dialog, x, y) puts a record's control.
RECT LayoutTarget(const LayoutRecord& record, int32_t x, int32_t y);
