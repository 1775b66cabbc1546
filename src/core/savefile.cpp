#include "core/savefile.h"

#include <cerrno>

SaveOutcome SaveFileReplacing(const std::string& path, std::string_view data,
                              const SaveFileOptions& options) {
    OutputFile out;
    bool saved = out.Open(path, options.createFolders) && out.Write(data.data(), data.size()) && out.Sync();
    if (saved && options.beforeReplace) options.beforeReplace();
    saved = saved && out.Commit();
    if (saved) return {};
    const int error = out.error();
    out.Abandon();
    return {error ? error : EIO};
}
