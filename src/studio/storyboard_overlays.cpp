#include "studio/storyboard_overlays.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/diag.h"
#include "core/dialogs.h"
#include "core/format.h"
#include "core/memory.h"
#include "playback/playwindows.h"
#include "project/playmap.h"
#include "render/compose.h"
#include "render/frameview.h"
#include "render/title_dialog.h"
#include "render/titles.h"
#include "render/underlay.h"
#include "settings/settings.h"
#include "studio/storyboard_view.h"

namespace {

constexpr const char* kNeedSelection = "You have to drag-select a range of frames to do this";
constexpr size_t kBmpFileHeaderBytes = 14;

bool HasSelection() {
    return gProject.selStart >= 0 && gProject.selEnd >= 0;
}

void EnableUndo() {
    if (auto& enable = GetProjectCallbacks().enableUndo) enable(true);
}

void Repaint() {
    if (auto& repaint = GetProjectCallbacks().repaint) repaint();
}

// Decodes project frame n with the overlays on it, leaving out one revision, into composer.
// False after the composer's message.
bool DecodeWithOverlays(HWND window, FrameComposer& composer, int32_t n, Revision* leftOut) {
    const int32_t w = gProject.head->width, h = gProject.head->height;
    PrepareOverlays(window, w, h);
    if (!composer.Open(gProject.head, w, h)) return false;
    OverlayList overlays = OverlaysAt(n);
    std::erase(overlays, leftOut);
    return composer.Compose(n, overlays);
}

HWND OpenFrameViewOn(HWND window, FrameComposer& composer, int32_t n) {
    const std::string caption =
        FormatMessageText("frame %ld: %s", static_cast<long>(n - 1), gProject.head->name);
    return OpenFrameView(window, caption.c_str(), composer.format(), composer.pixels());
}

// A BMP file the underlay code can use: it exists and LoadBMP reads it as a 24-bit uncompressed
// picture. False after a message.
bool UsableBmp(const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) {
        NotifyBox("Failed to open BMP file <%s>", name.c_str());
        return false;
    }
    char head[kBmpFileHeaderBytes];
    const size_t got = std::fread(head, 1, sizeof head, f);
    std::fclose(f);
    if (got < sizeof head) {
        NotifyBox("Not a BMP file");
        return false;
    }
    UnderlayRecord probe{};
    CopyCut(probe.fileName, sizeof probe.fileName, name);
    uint8_t* pixels = nullptr;
    BITMAPINFOHEADER* header = LoadBMP(&probe, &pixels, nullptr);
    if (!header) return false;  // LoadBMP said why
    const bool usable = header->biBitCount == 24 && header->biCompression == BI_RGB;
    MyFree(pixels);
    MyFree(header);
    if (!usable) NotifyBox("Can only handle 24-bit BMPs for now");
    return usable;
}

// A BMP file chosen in an open-file dialog with that title, checked; remembered as the last one.
bool ChooseUnderlayFile(HWND window, const char* title, const char* initial, std::string& name) {
    FileDialogRequest r;
    r.owner = window;
    r.title = title;
    r.filters = {{"BMP Files", "*.bmp"}, {"All Files", "*.*"}};
    r.initialName = initial;
    if (const char* slash = std::strrchr(initial, '/')) r.initialDir = std::string(initial, slash);
    r.flags = OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
    r.maxLength = sizeof UnderlayRecord::fileName;
    if (!GetOpenFileNameA(r, name) || !UsableBmp(name)) return false;
    if (name.size() < sizeof gSettings.LastBMPfileName)
        CopyCut(gSettings.LastBMPfileName, sizeof gSettings.LastBMPfileName, name);
    return true;
}

}  // namespace

bool AddTitleToSelection(HWND window) {
    if (!HasSelection()) {
        NotifyBox("%s", kNeedSelection);
        return false;
    }
    if (!gProject.head) return false;
    const int32_t n = gProject.selStart + 1;
    FrameComposer composer;
    if (!DecodeWithOverlays(window, composer, n, nullptr)) return false;
    OpenFrameViewOn(window, composer, n);
    TitleRecord* title = NewTitleDialog(window);
    bool added = false;
    if (title) {
        added = AddRevision(kRevTitle, gProject.selStart + 1, gProject.selEnd + 1, title) != nullptr;
        if (added) {
            EnableUndo();
        } else {
            MyFree(title->text);
            MyFree(title->stencil);
            MyFree(title);
        }
    }
    Repaint();
    CloseFrameView();
    return added;
}

bool EditTitleOnSelection(HWND window, int32_t n) {
    if (!gProject.head || gProject.selStart < 0 || gProject.selStart != gProject.selEnd) return false;
    const int32_t frame = gProject.selStart + 1;
    const std::vector<Revision*> titles = TitlesCoveringFrame(frame);
    if (n < 0 || n >= static_cast<int32_t>(titles.size())) return false;
    Revision* revision = titles[static_cast<size_t>(n)];
    FrameComposer composer;
    // An inactive frame is not shown; the title can still be edited.
    if (!(FrameState(frame) & kStateInactive)) {
        if (!DecodeWithOverlays(window, composer, frame, revision)) return false;
        OpenFrameViewOn(window, composer, frame);
    }
    const bool ran = EditTitleDialog(window, TitleOf(revision)) != 0;
    Repaint();
    CloseFrameView();
    return ran;
}

bool AddUnderlayToSelection(HWND window) {
    if (!HasSelection()) {
        NotifyBox("%s", kNeedSelection);
        return false;
    }
    std::string name;
    if (!ChooseUnderlayFile(window, "Select BMP File For Underlay", gSettings.LastBMPfileName, name))
        return false;
    UnderlayRecord* underlay = NewUnderlayRecord();
    if (!underlay) return false;
    CopyCut(underlay->fileName, sizeof underlay->fileName, name);
    Revision* revision = AddRevision(kRevUnderlay, gProject.selStart + 1, gProject.selEnd + 1, underlay);
    if (!revision) {
        MyFree(underlay);
        return false;
    }
    EnableUndo();
    Repaint();
    if (NotifyYesNo("Pick key colours now?")) PickUnderlayColours(window, revision);
    return true;
}

void PickUnderlayColours(HWND window, Revision* revision) {
    UnderlayRecord* underlay = revision ? UnderlayOf(revision) : nullptr;
    if (!gProject.head || !underlay || PlayWindowBusy()) return;
    PlayMapMarks marks;
    marks.startIndex = revision->start - 1;
    marks.endIndex = revision->end - 1;
    int32_t kept = 0;
    MonitorPtr<uint32_t> map(BuildPlayMap(&kept, &marks));
    if (!map) return;
    PrepareOverlays(window, gProject.head->width, gProject.head->height);
    DoPlayWindow4(window, gSettings.LastAVIfileName, marks.startPosition, marks.endPosition,
                  marks.startPosition, underlay, PlayMapView{map.get(), gProject.totalFrames, kept});
}

bool ReviseUnderlayFile(HWND window, Revision* revision) {
    if (!revision || revision->type != kRevUnderlay) return false;
    UnderlayRecord* underlay = UnderlayOf(revision);
    if (!underlay && revision->payload) return false;  // a record of another kind hangs there
    std::string name;
    const char* initial = underlay && underlay->fileName[0] ? underlay->fileName : gSettings.LastBMPfileName;
    if (!ChooseUnderlayFile(window, "Revise Filename for Underlay File", initial, name)) return false;
    if (!underlay) {
        underlay = NewUnderlayRecord();
        if (!underlay) return false;
        AttachPayload(revision, kRevUnderlay, underlay);
    }
    CopyCut(underlay->fileName, sizeof underlay->fileName, name);
    // The old picture goes; the next PrepareOverlays scales the new one.
    MyFree(underlay->image);
    underlay->image = nullptr;
    underlay->imageWidth = underlay->imageHeight = 0;
    return true;
}
