// The project's AVI list: adding a file with its format and timing repairs, and emptying the project.
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/checked.h"
#include "core/diag.h"
#include "core/format.h"
#include "core/memory.h"
#include "media/conform.h"
#include "project/project.h"
#include "settings/settings.h"

namespace {

// The longest path an AVI list record keeps; a longer name would be saved cut, so it is refused.
constexpr size_t kMaxAVIName = sizeof(AVIlist{}.name) - 1;
// Frame durations beyond this many microseconds (about 35 minutes a frame) are taken as damage.
constexpr double kMaxFrameMicroseconds = INT32_MAX;

// Video entries of the reduced index: the frames that can really be shown.
int32_t VideoEntries(const AVIlist* rec) {
    int32_t n = 0;
    if (!rec->idx) return 0;
    for (int32_t i = 0; i < rec->nidx; i++)
        if (ChunkType(rec->idx[i].ckid) != kTypeWB) n++;
    return n;
}

void RepairFormat(AVIlist* rec) {
    BITMAPINFOHEADER h;
    std::memcpy(&h, rec->format, sizeof h);
    if (h.biSize == 68 && h.biCompression != FourCC("MJPG")) h.biSize = 40;
    if (h.biSizeImage == 0) {
        // Stated sides near 2^31 and a large bit count make a product beyond 64 bits.
        int64_t size = SaturatedMul(
            std::abs(static_cast<int64_t>(h.biWidth)) * std::abs(static_cast<int64_t>(h.biHeight)),
            h.biBitCount / 8);
        if (size <= UINT32_MAX) h.biSizeImage = static_cast<uint32_t>(size);  // else left unknown
    }
    std::memcpy(rec->format, &h, sizeof h);
}

// Rate becomes 1000000 and scale the frame duration in microseconds; false when the stored
// timing cannot describe a frame duration.
bool NormaliseTiming(AVIlist* rec) {
    if (rec->rate == 0 || rec->scale == 0) return false;
    if (rec->rate != 1000000) {
        double scale = std::trunc(1000000.0 / rec->rate * rec->scale);
        if (scale < 1 || scale > kMaxFrameMicroseconds) return false;
        rec->scale = static_cast<uint32_t>(scale);
        rec->rate = 1000000;
    }
    return rec->scale <= kMaxFrameMicroseconds;
}

int32_t Duration(int32_t totalFrames, int32_t frameRate) {
    if (frameRate == 0) return 0;
    double ms = std::trunc((totalFrames + 1.0) / frameRate * 1000.0);
    return ms > INT32_MAX ? INT32_MAX : static_cast<int32_t>(ms);
}

void Repaint() {
    ProjectCallbacks& cb = GetProjectCallbacks();
    if (cb.closeTooltip) cb.closeTooltip();
    if (cb.repaint) cb.repaint();
}

void Release(AVIlist* rec) {
    MyFree(rec->vptr);
    MyFree(rec->aptr);
    rec->vptr = nullptr;
    rec->aptr = nullptr;
    FreeAVIrecord(rec);
}

}  // namespace

namespace {

// The format a converted clip must have to join the project: its first clip's (or, when that no
// longer reads, its size and rate without sound); what a first clip gets for an empty project.
ConformFormat ProjectClipFormat() {
    ConformFormat format;
    if (!gProject.head || ConformFormatOfClip(gProject.head->name, &format)) return format;
    format.width = gProject.frameWidth;
    format.height = gProject.frameHeight;
    format.usPerFrame = gProject.framePeriod;
    format.sound = ConformFormat::Sound::kNone;
    return format;
}

}  // namespace

bool ProjectConformRequest(const char* name, bool mismatched, const std::string& clipsFolder,
                           ConformRequest* request, std::string* why) {
    struct stat st {};
    if (stat(name, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return false;
    request->source = name;
    request->format = ProjectClipFormat();
    request->clipsFolder = clipsFolder;
    return mismatched || ProbeClip(name, request->format, why) != ClipFit::kNotVideo;
}

namespace {

// A file the AVI list cannot take handed to the conformClip callback, and its clip appended.
int32_t AppendConformed(const char* name, bool mismatched, std::string* why) {
    std::string clip, reason;
    const int32_t outcome = GetProjectCallbacks().conformClip(name, mismatched, &clip, &reason);
    if (outcome == kAppendNotOpened && !reason.empty()) *why = reason;
    if (outcome != kAppendAdded) return outcome;
    const int32_t added = AppendAVIToProjectOutcome(nullptr, clip.c_str(), why, false);
    // The next Insert AVI File starts where the source was, not in the clips folder.
    if (added == kAppendAdded) CopyCut(gSettings.LastAVIfileName, sizeof gSettings.LastAVIfileName, name);
    return added;
}

}  // namespace

int32_t AppendAVIToProjectOutcome(HWND, const char* name, std::string* why, bool convert) {
    std::string ignored;
    if (!why) why = &ignored;
    convert = convert && GetProjectCallbacks().conformClip;
    if (!name || !*name || std::strlen(name) > kMaxAVIName) {
        DebugLog("AppendAVIToProject: unusable file name");
        *why = !name || !*name ? "no file name"
                               : "the name is longer than " + std::to_string(kMaxAVIName) + " characters";
        return kAppendNotOpened;
    }
    AVIlist* rec = OpenAVIforList(name, 0, -1, why);
    if (!rec) return convert ? AppendConformed(name, false, why) : kAppendNotOpened;
    RepairFormat(rec);
    if (!NormaliseTiming(rec)) {
        DebugLog("AppendAVIToProject: <%s> has no usable frame timing (rate %lu scale %lu)", name,
                 static_cast<unsigned long>(rec->rate), static_cast<unsigned long>(rec->scale));
        *why = "no usable frame timing";
        Release(rec);
        return convert ? AppendConformed(name, false, why) : kAppendNotOpened;
    }
    // Only frames the index really holds count, whatever the header claims.
    int32_t frames = rec->frames < 0 ? 0 : rec->frames;
    int32_t entries = VideoEntries(rec);
    if (frames > entries) {
        DebugLog("AppendAVIToProject: <%s> claims %ld frames, its index holds %ld", name,
                 static_cast<long>(frames), static_cast<long>(entries));
        frames = entries;
    }
    rec->frames = frames;
    if (static_cast<int64_t>(gProject.totalFrames) + frames > INT32_MAX) {
        DebugLog("AppendAVIToProject: too many frames in the project");
        *why = "too many frames in the project";
        Release(rec);
        return kAppendNotOpened;
    }

    int32_t rate = static_cast<int32_t>(std::trunc(1000000.0 / rec->scale + 0.5));
    if (gProject.head && (rate != gProject.frameRate || rec->width != gProject.frameWidth ||
                          rec->height != gProject.frameHeight)) {
        char mismatch[512];  // the name is at most kMaxAVIName characters
        std::snprintf(
            mismatch, sizeof mismatch,
            "File <%s> mismatches in rate, width, and/or height\n  rate %ld (%ld)\n  width %ld (%ld)\n  "
            "height %ld (%ld)",
            name, static_cast<long>(rate), static_cast<long>(gProject.frameRate),
            static_cast<long>(rec->width), static_cast<long>(gProject.frameWidth),
            static_cast<long>(rec->height), static_cast<long>(gProject.frameHeight));
        Release(rec);
        if (!convert) {
            NotifyBox("%s", mismatch);
            return kAppendRefused;
        }
        if (!NotifyYesNo("%s\n\nConvert it to the project's format?", mismatch)) return kAppendRefused;
        return AppendConformed(name, true, why);
    }

    CopyCut(gSettings.LastAVIfileName, sizeof gSettings.LastAVIfileName, name);
    if (!gProject.head) {
        gProject.head = rec;
        gProject.frameRate = rate;
        // A file slower than half a frame a second has rate 0; its own frame duration stands in.
        gProject.framePeriod = rate > 0 ? 1000000 / rate : static_cast<int32_t>(rec->scale);
        gProject.frameWidth = rec->width;
        gProject.frameHeight = rec->height;
    } else {
        AppendAVIrecord(gProject.head, rec);
    }
    gProject.fileCount += 1;
    gProject.totalFrames += frames;
    gProject.duration = Duration(gProject.totalFrames, gProject.frameRate);
    Repaint();
    return kAppendAdded;
}

bool FileMatchesProjectFormat(const char* name) {
    if (!gProject.head) return true;
    AVIlist* rec = name && *name ? OpenAVIforList(name, 0, -1) : nullptr;
    if (!rec) return false;
    RepairFormat(rec);
    const bool timed = NormaliseTiming(rec);
    const auto rate = timed ? static_cast<int32_t>(std::trunc(1000000.0 / rec->scale + 0.5)) : -1;
    const bool same = timed && rate == gProject.frameRate && rec->width == gProject.frameWidth &&
                      rec->height == gProject.frameHeight;
    Release(rec);
    return same;
}

std::string FileNotOpenedText(const char* name, const std::string& why) {
    return "Failed to open file <" + std::string(name ? name : "") + ">" + (why.empty() ? "" : "\n" + why);
}

void NotifyFileNotOpened(const char* name, const std::string& why) {
    NotifyBox("%s", FileNotOpenedText(name, why).c_str());
}

bool AppendAVIToProject(HWND window, const char* name) {
    return AppendAVIToProjectOutcome(window, name) == kAppendAdded;
}

void ClearProject() {
    if (gProject.head) CloseAVIlist(gProject.head);
    gProject.head = nullptr;
    ClearRevisions();
    ProjectCallbacks& cb = GetProjectCallbacks();
    if (cb.releaseThumbnails) cb.releaseThumbnails();
    if (cb.enableUndo) cb.enableUndo(false);
    gProject.fileCount = 0;
    gProject.totalFrames = 0;
    gProject.duration = 0;
    gProject.selStart = -1;
    gProject.selEnd = -1;
    if (cb.resetView) cb.resetView();
}

void ResetProjectForTests() {
    if (gProject.head) CloseAVIlist(gProject.head);
    Revision* backup = gProject.backup;
    gProject.backup = nullptr;
    FreeRevisionList(backup);
    ClearRevisions();
    gProject = ProjectState{nullptr, 0, 0, 0, 0, 0, 0, 0, nullptr, -1, -1, nullptr};
}
