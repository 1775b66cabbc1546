// The "Picture View" frame windows: a frame at actual size, and the title dialog's live preview.
// The windows live in quillory_render_gui.
#pragma once

#include <cstdint>

#include "core/wintypes.h"
#include "project/project.h"

// "Picture View": pixels (a 24-bit bottom-up frame as header describes it) shown at actual size.
// The modal form returns when closed.
void ShowFrame(HWND parent, const char* caption, const BITMAPINFOHEADER* header, const uint8_t* pixels);
// The modeless form keeps a pristine copy of the pixels; null when one is open already.
HWND OpenFrameView(HWND parent, const char* caption, BITMAPINFOHEADER* header, uint8_t* pixels);
void CloseFrameView();
// The modeless view while it is open, else null.
HWND FrameViewHandle();
// Lays the title over the pristine copy, into the caller's pixels, and repaints at once (the title
// dialog's live preview).
void RefreshFrameView(HWND window, TitleRecord* title);
