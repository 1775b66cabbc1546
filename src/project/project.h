// The one project of the process: the AVI list of its clips and the revision list laid over
// ranges of project frames, with the title, underlay and colour-range records they carry.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "media/avilist.h"

// Revision type codes (stored in project files) and frame-state bits.
constexpr uint32_t kRevActivate = 0;
constexpr uint32_t kRevInactivate = 1;
constexpr uint32_t kRevTitle = 2;
constexpr uint32_t kRevUnderlay = 4;
constexpr uint32_t kRevDrop = 8;

constexpr uint32_t kStateInactive = 1;
constexpr uint32_t kStateTitled = 2;
constexpr uint32_t kStateUnderlaid = 4;
constexpr uint32_t kStateDropped = 8;

// Inclusive bounds of the Y, U and V values ConvertRGB gives; a pixel matches when all three fit.
struct ColourRange {
    ColourRange* next;
    int32_t lumaLow;
    int32_t lumaHigh;
    int32_t blueDiffLow;
    int32_t blueDiffHigh;
    int32_t redDiffLow;
    int32_t redDiffHigh;
};

struct TitleRecord {
    char* text;          // lines separated by a line feed; owned
    int32_t vertical;    // 0 middle, 1 top, 2 bottom
    int32_t horizontal;  // 0 centre, 1 left, 2 right
    char faceName[32];
    int32_t italic;
    int32_t height;  // LOGFONT height: negative is the character height in pixels
    int32_t weight;
    int32_t underline;
    int32_t quality;
    int32_t points;  // tenths of a point, as the font chooser reports; kept, not drawn with
    int32_t stencilWidth;
    int32_t stencilHeight;
    uint32_t colour;   // COLORREF 0x00BBGGRR
    uint8_t* stencil;  // stencilWidth x stencilHeight x 3; owned
    // Where the stencil's first pixel lands: column, and row counted from the bottom, of the frame.
    int32_t stencilX;
    int32_t stencilY;
    int32_t drawnWidth;  // the frame size the stencil was drawn for
    int32_t drawnHeight;
};

struct UnderlayRecord {
    char fileName[200];
    int32_t imageWidth;
    int32_t imageHeight;
    uint8_t* image;       // imageWidth x imageHeight x 3; owned
    ColourRange* ranges;  // shared with copies; see ReleaseUnusedColourRanges
};

struct Revision {
    Revision* next;
    int32_t start;  // first project frame covered, from 1
    int32_t end;    // last, inclusive
    uint32_t type;
    void* payload;    // TitleRecord for titles, UnderlayRecord for underlays
    int32_t applies;  // set by FrameState for title, underlay and drop revisions covering the frame
    // What payload points to (kRevTitle, kRevUnderlay, or 0 for none). A project file may hang a
    // record on a revision of another type; the record's own kind decides how it is released.
    uint32_t payloadKind;
};

// The revision's payload when it is a record of that kind, else null.
inline TitleRecord* TitleOf(const Revision* r) {
    return r->payloadKind == kRevTitle ? static_cast<TitleRecord*>(r->payload) : nullptr;
}
inline UnderlayRecord* UnderlayOf(const Revision* r) {
    return r->payloadKind == kRevUnderlay ? static_cast<UnderlayRecord*>(r->payload) : nullptr;
}
// Hangs a record of the given kind on a revision.
void AttachPayload(Revision* r, uint32_t kind, void* payload);

// The project file name and the last AVI file name live in the settings record
// (ProjectFileName, LastAVIfileName).
struct ProjectState {
    AVIlist* head;
    int32_t fileCount;
    int32_t totalFrames;
    int32_t frameRate;    // whole frames per second of the first file
    int32_t framePeriod;  // microseconds
    int32_t duration;     // milliseconds
    int32_t frameWidth;
    int32_t frameHeight;
    Revision* revisions;
    int32_t selStart;  // storyboard indexes from 0; -1 when nothing is selected
    int32_t selEnd;
    Revision* backup;  // the revision editor's copy
};

extern ProjectState gProject;

// What the storyboard installs so that the model can tell it about changes.
struct ProjectCallbacks {
    std::function<void()> repaint;            // the storyboard must be drawn again
    std::function<void()> releaseThumbnails;  // the thumbnail cache is stale
    std::function<void(bool)> enableUndo;
    std::function<void()> resetView;  // back to every frame and the first position
    std::function<void()> closeTooltip;
    // Makes a clip the project can take from a file it cannot take as it is: another kind of video,
    // or (mismatched true, after the user agreed) an AVI of another size or rate. kAppendAdded with
    // the clip's path in *clip; kAppendRefused after its own message or a cancel; kAppendNotOpened
    // for a file that is no video, *why saying why when it knows better than the AVI reader.
    std::function<int32_t(const char* name, bool mismatched, std::string* clip, std::string* why)>
        conformClip;
};
void SetProjectCallbacks(ProjectCallbacks callbacks);
ProjectCallbacks& GetProjectCallbacks();

struct ConformRequest;
// For a conformClip callback: the conversion that makes name a clip the project can take, into
// clipsFolder (the first clip's format, or what a first clip gets for an empty project). False for a
// file that is no video (*why saying why) and for a missing, empty or special one (never probed, so
// a pipe cannot block); mismatched: an AVI already known to be a video, not probed again.
bool ProjectConformRequest(const char* name, bool mismatched, const std::string& clipsFolder,
                           ConformRequest* request, std::string* why);

// The state bits of project frame n (from 1); sets the applies flag of every revision as a side
// effect (1 on the title, underlay and drop revisions covering n). OverlaysAt asks without writing.
uint32_t FrameState(int32_t n);
// The revisions laid on project frame n (from 1), in the order they are laid: every title and
// underlay revision covering n, in list order. Writes nothing, so it is safe from any thread while
// the list stays as it is.
using OverlayList = std::vector<const Revision*>;
OverlayList OverlaysAt(int32_t n);
// The state bits of every project frame (frame n at n - 1), as FrameState gives them but without
// touching the applies flags; worked out again only when the frame count or a revision's range,
// type or place in the list has changed since the last call, so painting can ask on every paint.
const std::vector<uint8_t>& FrameStates();
// payload is a TitleRecord for type 2, an UnderlayRecord for type 4, else null.
// `after` (optional) is a revision of the list at or before its last one: the search for the end
// starts there, so a reader appending many revisions does not walk the list for each.
Revision* AddRevision(uint32_t type, int32_t start, int32_t end, void* payload, Revision* after = nullptr);
uint32_t RevisionTypesUsed();
void UndoLastRevision();
// Unlinks the revision from the project's list and releases it with its payload (a title's text and
// stencil, an underlay's image); false when it is not in the list.
bool RemoveRevision(Revision* revision);
void FreeRevisionList(Revision* first);
void ClearRevisions();
void CopyRevisionList();
bool AppendAVIToProject(HWND window, const char* name);
// What AppendAVIToProject did, for callers that must tell a file that would not open from one
// that was refused: kAppendAdded, kAppendRefused (mismatch, message shown, or a conversion refused
// or cancelled) or kAppendNotOpened. With a conformClip callback, a file that is not an AVI the
// project takes is handed to it, a mismatched AVI once the user said Yes to converting it.
constexpr int32_t kAppendAdded = 1;
constexpr int32_t kAppendRefused = 0;
constexpr int32_t kAppendNotOpened = -1;
// why (optional) says, for kAppendNotOpened, why the file was not taken.
// convert false: no file is handed to conformClip (a clip it made is appended as it is).
int32_t AppendAVIToProjectOutcome(HWND window, const char* name, std::string* why = nullptr,
                                  bool convert = true);
// True when the project is empty or the file's rate, width and height are the project's (false for a
// file that does not open): it can be appended without a mismatch.
bool FileMatchesProjectFormat(const char* name);
// "Failed to open file <NAME>" with the reason under it, as text and as a box.
std::string FileNotOpenedText(const char* name, const std::string& why);
void NotifyFileNotOpened(const char* name, const std::string& why);
void ClearProject();

// Allocation helpers for the records (zero-filled, through the memory monitor).
TitleRecord* NewTitleRecord();
UnderlayRecord* NewUnderlayRecord();
// Colour ranges are never released one by one: unlink a range and the next ClearRevisions,
// UndoLastRevision or CopyRevisionList reclaims it. FreeRevisionList leaves ranges alone.
ColourRange* NewColourRange();
// Frees every colour range that no underlay record of the project or the backup list refers to.
void ReleaseUnusedColourRanges();
// Puts the project back to empty without touching the storyboard (tests and shutdown).
void ResetProjectForTests();
