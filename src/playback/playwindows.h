// The entry points through which the rest of the program plays something (each opens the play
// window and runs the VCR panel modally until it is closed).
// Callers above playback include this header only; the windows live in quillory_playback_gui.
#pragma once

#include <cstdint>

#include "core/wintypes.h"
#include "project/project.h"

// A play map as BuildPlayMap makes it: one word per project frame, `positions` of them kept.
struct PlayMapView {
    const uint32_t* map = nullptr;
    int32_t words = 0;
    int32_t positions = 0;
    bool everyFrame = false;  // BuildMarkingMap's: position p is project frame p
};

// The whole project as edited. With an empty view the play map is built here.
void DoPlayWindow(HWND parent, const PlayMapView& map = {});
// One AVI file.
void DoPlayWindowX(HWND parent, const char* fileName);
// The project's frames, each at its own position (BuildMarkingMap), with the range controls and
// in/out marking; hands back the range marked as project frame indexes (from 0).
void DoPlayProjectRange(HWND parent, int32_t* rangeStart, int32_t* rangeEnd, int32_t startFrame);
// The project with the range controls (no in/out marking); range and start are play positions
// from 0. DoPlayWindow4 also picks colour keys into the underlay by dragging over the picture.
void DoPlayWindow3(HWND parent, const char* ignored, int32_t rangeStart, int32_t rangeEnd, int32_t startFrame,
                   const PlayMapView& map = {});
void DoPlayWindow4(HWND parent, const char* ignored, int32_t rangeStart, int32_t rangeEnd, int32_t startFrame,
                   UnderlayRecord* underlay, const PlayMapView& map = {});
// True while an entry point runs (they are not re-entrant).
bool PlayWindowBusy();
