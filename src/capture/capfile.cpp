#include "capture/capfile.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "capture/session.h"
#include "core/diag.h"
#include "core/dialogs.h"
#include "core/format.h"
#include "core/pump.h"
#include "media/fileio.h"
#include "settings/settings.h"

namespace {

// GetCapFileSize sets the name again this many times before it gives up.
constexpr int32_t kSetNameTries = 12;

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

uint32_t GetDiskFree(int32_t, const char* path) {
    if (!path) return 0;
    struct statvfs fs {};
    if (statvfs(FolderOf(path).c_str(), &fs) != 0) return 0;
    const uint64_t free = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
    return static_cast<uint32_t>(std::min<uint64_t>(free, kMaxCapBytes));
}

uint32_t MyGetFileSize(const char* path) {
    const int32_t handle = path ? MyOpenRead(path) : 0;
    if (!handle) return 0;
    int32_t size = MyFileLength(handle);
    if (size < 0) {
        NotifyBox("MyGetFileSize\nCouldn't find size of file <%s>", path);
        size = 0;
    }
    MyClose(handle);
    return static_cast<uint32_t>(size);
}

uint32_t GetCapFileSize() {
    char name[200] = "";
    SendCap(WM_CAP_FILE_GET_CAPTURE_FILEA, sizeof name, reinterpret_cast<LPARAM>(name));
    const uint32_t size = MyGetFileSize(gSettings.CapFile);
    for (int32_t tries = 1;; tries++) {
        if (std::strcmp(name, gSettings.CapFile) == 0) return size;
        SendCap(WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(gSettings.CapFile));
        SendCap(WM_CAP_FILE_GET_CAPTURE_FILEA, sizeof name, reinterpret_cast<LPARAM>(name));
        if (tries == kSetNameTries) break;
    }
    NotifyBox("ERROR in GetCapFileSize: Cannot properly set cap file to <%s>", gSettings.CapFile);
    return 0;
}

int32_t SetupCapFile(char* path) {
    if (!path || !path[0]) return 0;
    if (!FileExists(path)) {
        path[0] = '\0';
        return 0;
    }
    if (!SendCap(WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(path))) return 2;
    gCapFileCapacity = GetCapFileSize();
    return 1;
}

uint32_t ReadCapFileContent() {
    if (!gSettings.CapFile[0]) return 0;
    const int32_t handle = MyOpenRead(gSettings.CapFile);
    if (!handle) return 0;
    uint8_t head[12];
    uint32_t content = 0;
    if (MyRead(handle, head, 12) == 12 && ReadLE32(head) == FourCC("RIFF") &&
        ReadLE32(head + 8) == FourCC("AVI ")) {
        const uint32_t size = ReadLE32(head + 4);
        if (size > 100) content = size + 8;
    }
    MyClose(handle);
    return content;
}

std::string CapFileContentText(uint32_t content, bool panel) {
    const char* number = FormatThousands(static_cast<int32_t>(content));
    if (panel)
        return content ? FormatMessageText("      CAPFILE CONTENT: %s BYTE AVI FILE", number)
                       : "      CAPFILE CONTENT: EMPTY";
    return content ? FormatMessageText("   Content: %s bytes", number) : "   Content: Empty";
}

CapFileDialogState OpenCapFileDialog(const char* path) {
    CapFileDialogState state{};
    CopyCut(state.path, sizeof state.path, path ? path : "");
    MeasureCapFileDialog(state);
    return state;
}

void MeasureCapFileDialog(CapFileDialogState& state) {
    state.currentSize = MyGetFileSize(state.path);
    const uint64_t maximum = static_cast<uint64_t>(GetDiskFree(0, state.path)) + state.currentSize;
    state.maximumSize = static_cast<uint32_t>(std::min<uint64_t>(maximum, kMaxCapBytes));
}

std::string CapFileDialogFileText(const CapFileDialogState& state) {
    return FormatMessageText("File: %s", state.path);
}

std::string CapFileMegabytes(uint32_t bytes) {
    return FormatMessageText("%ld", static_cast<long>(bytes / kCapMegabyte));
}

CapFileOutcome CapFileDialogOk(CapFileDialogState& state, const std::string& entered) {
    // "%d" of the field: a leading number, anything else 0.
    errno = 0;
    const long n = std::strtol(entered.c_str(), nullptr, 10);
    if (n < 1) {
        if (ghWndCap) {
            CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, state.path);
            SendCap(WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(gSettings.CapFile));
        }
        return CapFileOutcome::kRenamed;
    }
    const int64_t bytes = static_cast<int64_t>(n) * kCapMegabyte;
    if (errno == ERANGE || bytes > INT32_MAX || bytes > state.maximumSize) {
        NotifyBox("Sorry, Not enough disk space for requested size");
        return CapFileOutcome::kTooLarge;
    }
    if (ghWndCap) {
        CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, state.path);
        SendCap(WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(gSettings.CapFile));
        if (capIsWindow(ghWndCap) && SendCap(WM_CAP_FILE_ALLOCATE, 0, static_cast<LPARAM>(bytes)))
            return CapFileOutcome::kAllocated;
    }
    NotifyBox("Can't pre-allocate capture file space");
    return CapFileOutcome::kNotAllocated;
}

bool CapFileDialogBrowse(HWND owner, CapFileDialogState& state, const std::string& fallbackFolder) {
    FileDialogRequest r;
    r.owner = owner;
    r.save = true;
    r.title = "Specify Capture AVI File";
    r.filters = {{"AVI Files", "*.avi"}, {"All Files", "*.*"}};
    r.filterIndex = 1;
    r.flags = OFN_PATHMUSTEXIST;
    r.maxLength = sizeof state.path;
    if (state.path[0] && FileExists(state.path)) {
        r.initialDir = FolderOf(state.path);
        r.initialName = state.path;
    } else {
        r.initialDir = fallbackFolder;
        r.initialName = fallbackFolder + "/capture.avi";
    }
    std::string chosen;
    if (!GetSaveFileNameA(r, chosen)) return false;
    AddDefaultExtension(chosen, "AVI");
    if (chosen.size() >= sizeof state.path) return false;
    CopyCut(state.path, sizeof state.path, chosen);
    MeasureCapFileDialog(state);
    return true;
}
