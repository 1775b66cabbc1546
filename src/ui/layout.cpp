#include "ui/layout.h"

#include "core/memory.h"

namespace {

struct Layout {
    LayoutRecord* records = nullptr;
    POINT origin{0, 0};
    bool begun = false;
};

Layout gCurrent;
Layout gSaved[kMaxSavedLayouts];  // [0] is the most recently saved
int32_t gSavedCount = 0;

void Release(Layout& layout) {
    while (layout.records) {
        LayoutRecord* next = layout.records->next;
        MyFree(layout.records);
        layout.records = next;
    }
    layout = Layout{};
}

const LayoutRecord* FindRecord(int32_t controlId) {
    for (const LayoutRecord* r = gCurrent.records; r; r = r->next)
        if (r->controlId == controlId) return r;
    return nullptr;
}

// Window coordinates saturate rather than wrap.
int32_t Clamp32(int64_t v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

}  // namespace

void BeginLayout(int32_t x, int32_t y) {
    if (gCurrent.begun || gCurrent.records) {
        if (gSavedCount == kMaxSavedLayouts) {
            Release(gSaved[kMaxSavedLayouts - 1]);
            gSavedCount--;
        }
        for (int32_t i = gSavedCount; i > 0; i--) gSaved[i] = gSaved[i - 1];
        gSaved[0] = gCurrent;
        gSavedCount++;
    }
    gCurrent = Layout{};
    gCurrent.origin = {x, y};
    gCurrent.begun = true;
}

void EndLayout() {
    Release(gCurrent);
    if (gSavedCount > 0) {
        gCurrent = gSaved[0];
        for (int32_t i = 0; i + 1 < gSavedCount; i++) gSaved[i] = gSaved[i + 1];
        gSaved[gSavedCount - 1] = Layout{};
        gSavedCount--;
    }
}

LayoutRecord* AddLayoutRecord(int32_t controlId, const RECT& present, int32_t referenceId, int32_t dx,
                              int32_t dy, int32_t minWidth, int32_t minHeight, uint32_t horizontalFlags,
                              uint32_t verticalFlags) {
    auto* r = static_cast<LayoutRecord*>(MyCalloc(1, sizeof(LayoutRecord)));
    if (!r) return nullptr;
    r->controlId = controlId;
    r->x = present.left;
    r->y = present.top;
    r->width = Clamp32(static_cast<int64_t>(present.right) - present.left);
    r->height = Clamp32(static_cast<int64_t>(present.bottom) - present.top);
    if ((horizontalFlags & kLayoutMinimum) && r->width < minWidth) r->width = minWidth;
    if ((verticalFlags & kLayoutMinimum) && r->height < minHeight) r->height = minHeight;
    if (const LayoutRecord* ref = referenceId ? FindRecord(referenceId) : nullptr) {
        if (horizontalFlags & kLayoutRightOf)
            r->x = Clamp32(static_cast<int64_t>(ref->x) + ref->width + dx);
        else if (horizontalFlags & kLayoutAlignLeft)
            r->x = Clamp32(static_cast<int64_t>(ref->x) + dx);
        if (verticalFlags & kLayoutAlignTop)
            r->y = Clamp32(static_cast<int64_t>(ref->y) + dy);
        else if (verticalFlags & kLayoutBelow)
            r->y = Clamp32(static_cast<int64_t>(ref->y) + ref->height + dy);
    }
    r->next = gCurrent.records;
    gCurrent.records = r;
    return r;
}

const LayoutRecord* CurrentLayout() {
    return gCurrent.records;
}

POINT CurrentLayoutOrigin() {
    return gCurrent.origin;
}

int32_t SavedLayoutCount() {
    return gSavedCount;
}

RECT LayoutTarget(const LayoutRecord& record, int32_t x, int32_t y) {
    int64_t left = static_cast<int64_t>(record.x) - gCurrent.origin.x + x;
    int64_t top = static_cast<int64_t>(record.y) - gCurrent.origin.y + y;
    return RECT{Clamp32(left), Clamp32(top), Clamp32(left + record.width), Clamp32(top + record.height)};
}
