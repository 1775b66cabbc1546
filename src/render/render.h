// Rendering the project to a new AVI or MP4 file: every frame that is not inactive is decoded, has
// its titles and underlays laid on, is compressed (or kept as 24-bit pixels) and written with its
// audio.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "core/wintypes.h"

// What the main window shows while a render runs; every member may be empty.
struct RenderCallbacks {
    std::function<void(const char* caption)> setCaption;  // the main window's caption
    // The red progress bar under the storyboard: frame (from 0) of total is being written.
    std::function<void(int32_t frame, int32_t total)> progress;
    std::function<void(bool busy)> waitCursor;
    // The user asked to view the new file.
    std::function<void(const char* name)> viewFile;
    // The user asked to see the new file in its folder; without it the closing message offers only
    // to view the file.
    std::function<void(const char* name)> showInFolder;
    // The render ran for elapsedMs (its questions before and after not counted) and ended: summary
    // says what ended and how ("Render finished: NAME, 12.4 MB" or "Render failed: NAME"), detail
    // why it failed. Not called when the user cancelled it.
    std::function<void(int64_t elapsedMs, const std::string& summary, const std::string& detail)> ended;
};
void SetRenderCallbacks(RenderCallbacks callbacks);

// The kind of file the name box offers first; the name the user chooses decides (".mp4" writes an
// MP4 file, anything else an AVI file).
enum class RenderKind { kAsBefore, kAvi, kMp4 };

// Asks for the output name and the compressor, renders, reads the file back and offers to view
// it or show it in its folder. 1 when every frame was written and the file reads back correctly
// and has taken the name, else 0 after a message. A render that stopped early never replaces an
// existing file; where the name was free it leaves what plays. An output that is one of the
// project's own files is refused before anything is written. The name chosen is left in
// gSettings.LastSaveAVIfileName.
int32_t RenderProjectToAVI(HWND mainWindow, RenderKind offer = RenderKind::kAsBefore);
// The worker threads of the next renders: 0 (the default) for one per processor, 1 for none (all
// on the calling thread). The file is the same either way.
void SetRenderThreads(int32_t threads);
// Whether a render is running (its threads read the title stencils and underlay pictures, which
// must then stay as they are).
bool RenderInProgress();
// The whole output name of the last render (the settings keep at most 127 characters of it).
std::string LastRenderOutputName();
// Writes project frame n (from 1) as the render composes it (decoded, widened to 24 bits, titles and
// underlays laid on) into a 24-bit BMP file, whole or not at all. A file the project reads (a clip,
// an underlay picture, the project file) is never written over. False with the reason in *reason.
bool WriteProjectFrame(int32_t n, const std::string& path, std::string* reason);
