#include "core/savefile.h"

#include <cerrno>

bool SaveFileReplacing(const std::string& path, std::string_view data, const SaveFileOptions& options) {
    OutputFile out;
    bool saved = out.Open(path, options.createFolders) && out.Write(data.data(), data.size()) && out.Sync();
    if (saved && options.beforeReplace) options.beforeReplace();
    saved = saved && out.Commit();
    if (!saved) {
        const int error = out.error();
        out.Abandon();
        errno = error ? error : EIO;
    }
    return saved;
}
