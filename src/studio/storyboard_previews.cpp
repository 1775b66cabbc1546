#include "studio/storyboard_previews.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "core/diag.h"
#include "core/dialogs.h"
#include "core/format.h"
#include "core/memory.h"
#include "playback/playwindows.h"
#include "project/playmap.h"
#include "project/project.h"
#include "render/compose.h"
#include "render/frameview.h"
#include "render/titles.h"
#include "settings/settings.h"
#include "studio/storyboard.h"

namespace {

// The folder part of a kept file name, for a dialog's start folder.
std::string FolderOf(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? std::string(path, static_cast<size_t>(slash - path)) : std::string();
}

struct OwnedMap {
    uint32_t* map = nullptr;
    ~OwnedMap() { MyFree(map); }
};

}  // namespace

bool FineTuneRange(HWND window, int32_t startFrame) {
    if (!gProject.head || PlayWindowBusy()) return false;
    int32_t start = std::max(gProject.selStart, 0), end = std::max(gProject.selEnd, 0);
    PrepareOverlays(window, gProject.head->width, gProject.head->height);
    DoPlayProjectRange(window, &start, &end, startFrame);
    if (start > end) std::swap(start, end);
    DrawSelection(start, end, true);
    return true;
}

bool PreviewProject(HWND window, bool shift) {
    if (!gProject.head || PlayWindowBusy()) return false;
    if (shift) return FineTuneRange(window, 0);
    OwnedMap owned;
    int32_t kept = 0;
    owned.map = BuildPlayMap(&kept);
    if (!owned.map) return false;
    PrepareOverlays(window, gProject.head->width, gProject.head->height);
    DoPlayWindow(window, PlayMapView{owned.map, gProject.totalFrames, kept});
    return false;
}

void PreviewRange(HWND window) {
    if (!gProject.head || gProject.selStart < 0 || gProject.selEnd < 0 || PlayWindowBusy()) return;
    PlayMapMarks marks;
    marks.startIndex = gProject.selStart;
    marks.endIndex = gProject.selEnd;
    OwnedMap owned;
    int32_t kept = 0;
    owned.map = BuildPlayMap(&kept, &marks);
    if (!owned.map) return;
    PrepareOverlays(window, gProject.head->width, gProject.head->height);
    DoPlayWindow3(window, gSettings.LastAVIfileName, marks.startPosition, marks.endPosition,
                  marks.startPosition, PlayMapView{owned.map, gProject.totalFrames, kept});
}

void ViewSelectedFrame(HWND window) {
    if (!gProject.head || gProject.selStart < 0 || gProject.selEnd < 0) return;
    const int32_t n = gProject.selStart + 1;
    const uint32_t state = FrameState(n);
    if (state & kStateInactive) return;  // an inactive frame shows nothing
    PrepareOverlays(window, gProject.head->width, gProject.head->height);
    FrameComposer composer;
    if (!composer.Open(gProject.head, gProject.head->width, gProject.head->height)) return;
    if (composer.Compose(n, OverlaysAt(n))) {
        const std::string caption =
            FormatMessageText("frame %ld: %s", static_cast<long>(n - 1), gProject.head->name);
        ShowFrame(window, caption.c_str(), composer.format(), composer.pixels());
    }
    composer.Close();
}

void PlayAVIFile(HWND window) {
    if (PlayWindowBusy()) return;
    FileDialogRequest r;
    r.owner = window;
    r.title = "Select AVI File For Playback";
    r.filters = {{"AVI Files", "*.avi"}, {"MP4 Files", "*.mp4"}, {"All Files", "*.*"}};
    r.initialDir = FolderOf(gSettings.LastSaveAVIfileName);
    r.initialName = gSettings.LastSaveAVIfileName;
    r.flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    r.maxLength = sizeof gSettings.LastSaveAVIfileName;
    std::string name;
    if (GetOpenFileNameA(r, name)) DoPlayWindowX(window, name.c_str());
}
