// The storyboard's launches into playback: the previews, the range preview, the frame view, the
// range fine-tuning and playing any AVI file.
#pragma once

#include <cstdint>

#include "core/wintypes.h"

// Preview (1043, 7045): the project as edited, from its first position. With Shift, the range
// marking of FineTuneRange from frame 0 instead; returns true when the selection changed.
bool PreviewProject(HWND window, bool shift);
// Range preview (2091): the selection's positions with the range controls.
void PreviewRange(HWND window);
// Frame view (Shift+2091): the selected frame with its titles and underlays, at actual size.
void ViewSelectedFrame(HWND window);
// Fine Tune Range (7047): the project's frames with the selection as the range; the range marked
// there becomes the selection. True when the play ran.
bool FineTuneRange(HWND window, int32_t startFrame);
// Play AVI (1152): an AVI or MP4 file chosen in "Select AVI File For Playback", played in the play
// window.
void PlayAVIFile(HWND window);
