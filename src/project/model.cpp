// The project's revision list and its records. Files are added and removed in project_files.cpp.
#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "core/diag.h"
#include "core/memory.h"
#include "project/project.h"

ProjectState gProject{nullptr, 0, 0, 0, 0, 0, 0, 0, nullptr, -1, -1, nullptr};

namespace {

ProjectCallbacks gCallbacks;
// Every colour range alive; a range is released once no underlay record in the project's list or
// in the backup list refers to it any more (copies share their original's ranges).
std::unordered_set<ColourRange*> gColourRanges;

void FreePayload(Revision* r) {
    if (TitleRecord* t = TitleOf(r)) {
        MyFree(t->text);
        MyFree(t->stencil);
    } else if (UnderlayRecord* u = UnderlayOf(r)) {
        MyFree(u->image);
    }
    MyFree(r->payload);
    r->payload = nullptr;
    r->payloadKind = 0;
}

void MarkRanges(const Revision* list, std::unordered_set<ColourRange*>& reachable) {
    for (const Revision* r = list; r; r = r->next)
        if (const UnderlayRecord* u = UnderlayOf(r))
            for (ColourRange* c = u->ranges; c; c = c->next) reachable.insert(c);
}

}  // namespace

void SetProjectCallbacks(ProjectCallbacks callbacks) {
    gCallbacks = std::move(callbacks);
}
ProjectCallbacks& GetProjectCallbacks() {
    return gCallbacks;
}

uint32_t FrameState(int32_t n) {
    uint32_t state = 0;
    for (Revision* r = gProject.revisions; r; r = r->next) {
        r->applies = 0;
        if (r->start > n || n > r->end) continue;
        if (r->type == kRevActivate) {
            state &= ~kStateInactive;
        } else {
            state |= r->type;
            if (r->type > kRevInactivate) r->applies = 1;
        }
    }
    return state;
}

OverlayList OverlaysAt(int32_t n) {
    OverlayList overlays;
    for (const Revision* r = gProject.revisions; r; r = r->next)
        if (r->start <= n && n <= r->end && (r->type & (kRevTitle | kRevUnderlay))) overlays.push_back(r);
    return overlays;
}

const std::vector<uint8_t>& FrameStates() {
    static std::vector<int64_t> seen;  // the frame count, then start, end and type of each revision
    static std::vector<int64_t> now;
    static std::vector<uint8_t> states;
    now.assign(1, gProject.totalFrames);
    for (const Revision* r = gProject.revisions; r; r = r->next)
        now.insert(now.end(), {r->start, r->end, r->type});
    if (now == seen && !seen.empty()) return states;
    seen.swap(now);
    const int32_t total = std::max(gProject.totalFrames, 0);
    states.assign(static_cast<size_t>(total), 0);
    // Applying each revision over its range, in list order, gives every frame what FrameState's
    // walk of the list gives it.
    for (const Revision* r = gProject.revisions; r; r = r->next) {
        const int32_t first = std::max(r->start, 1), last = std::min(r->end, total);
        for (int32_t n = first; n <= last; n++) {
            uint8_t& state = states[static_cast<size_t>(n - 1)];
            state = r->type == kRevActivate ? state & ~kStateInactive : state | static_cast<uint8_t>(r->type);
        }
    }
    return states;
}

Revision* AddRevision(uint32_t type, int32_t start, int32_t end, void* payload, Revision* after) {
    auto* r = static_cast<Revision*>(MyCalloc(1, sizeof(Revision)));
    if (!r) return nullptr;
    r->start = start;
    r->end = end;
    r->type = type;
    r->payload = payload;
    r->payloadKind = payload && (type == kRevTitle || type == kRevUnderlay) ? type : 0;
    Revision** tail = after ? &after->next : &gProject.revisions;
    while (*tail) tail = &(*tail)->next;
    *tail = r;
    return r;
}

uint32_t RevisionTypesUsed() {
    uint32_t used = 0;
    for (const Revision* r = gProject.revisions; r; r = r->next) used |= r->type;
    return used;
}

void UndoLastRevision() {
    if (!gProject.revisions) return;
    Revision** link = &gProject.revisions;
    while ((*link)->next) link = &(*link)->next;
    Revision* last = *link;
    *link = nullptr;
    FreePayload(last);
    MyFree(last);
    ReleaseUnusedColourRanges();
}

bool RemoveRevision(Revision* revision) {
    for (Revision** link = &gProject.revisions; *link; link = &(*link)->next) {
        if (*link != revision) continue;
        *link = revision->next;
        FreePayload(revision);
        MyFree(revision);
        ReleaseUnusedColourRanges();
        return true;
    }
    return false;
}

void FreeRevisionList(Revision* first) {
    while (first) {
        Revision* next = first->next;
        FreePayload(first);
        MyFree(first);
        first = next;
    }
}

void ClearRevisions() {
    Revision* list = gProject.revisions;
    gProject.revisions = nullptr;
    FreeRevisionList(list);
    ReleaseUnusedColourRanges();
}

void CopyRevisionList() {
    Revision* old = gProject.backup;
    gProject.backup = nullptr;
    FreeRevisionList(old);
    Revision** tail = &gProject.backup;
    for (const Revision* r = gProject.revisions; r; r = r->next) {
        auto* copy = static_cast<Revision*>(MyCalloc(1, sizeof(Revision)));
        if (!copy) break;
        *copy = *r;
        copy->next = nullptr;
        copy->payload = nullptr;
        *tail = copy;
        tail = &copy->next;
        copy->payloadKind = 0;
        if (const TitleRecord* src = TitleOf(r)) {
            TitleRecord* t = NewTitleRecord();
            if (!t) break;
            *t = *src;
            t->stencil = nullptr;
            t->text = nullptr;
            AttachPayload(copy, kRevTitle, t);
            if (src->text) {
                size_t n = std::strlen(src->text) + 1;
                t->text = static_cast<char*>(MyCalloc(static_cast<uint32_t>(n), 1));
                if (!t->text) break;  // the copy stops at the first failed allocation
                std::memcpy(t->text, src->text, n);
            }
        } else if (const UnderlayRecord* src = UnderlayOf(r)) {
            UnderlayRecord* u = NewUnderlayRecord();
            if (!u) break;
            *u = *src;
            u->image = nullptr;
            AttachPayload(copy, kRevUnderlay, u);
        }
    }
    ReleaseUnusedColourRanges();
}

void AttachPayload(Revision* r, uint32_t kind, void* payload) {
    r->payload = payload;
    r->payloadKind = payload ? kind : 0;
}

TitleRecord* NewTitleRecord() {
    return static_cast<TitleRecord*>(MyCalloc(1, sizeof(TitleRecord)));
}
UnderlayRecord* NewUnderlayRecord() {
    return static_cast<UnderlayRecord*>(MyCalloc(1, sizeof(UnderlayRecord)));
}

ColourRange* NewColourRange() {
    auto* c = static_cast<ColourRange*>(MyCalloc(1, sizeof(ColourRange)));
    if (c) gColourRanges.insert(c);
    return c;
}

void ReleaseUnusedColourRanges() {
    std::unordered_set<ColourRange*> reachable;
    MarkRanges(gProject.revisions, reachable);
    MarkRanges(gProject.backup, reachable);
    for (auto it = gColourRanges.begin(); it != gColourRanges.end();) {
        if (reachable.count(*it)) {
            ++it;
        } else {
            MyFree(*it);
            it = gColourRanges.erase(it);
        }
    }
}
