// Saving a file without ever destroying the previous one: the data is written whole into an unnamed
// file beside the old one (OutputFile), flushed to disk and only then given the old file's name.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "core/outputfile.h"

struct SaveFileOptions {
    bool createFolders = false;  // make the missing folders of the path first
    // Runs after the new data is safely on disk, just before it replaces the old file.
    std::function<void()> beforeReplace;
};

// What became of a save: true once the new file has the name, else false with the reason.
struct SaveOutcome {
    int error = 0;  // the errno of the step that failed, 0 when none did
    explicit operator bool() const { return error == 0; }
};

// A symbolic link stays a link (the file it names is replaced) and an existing file keeps its
// permissions. An existing file the user may not write is never replaced: one without any write
// bit (chmod a-w) counts as protected even when running as root. Fails, with the old file
// untouched, when anything fails or the path names something other than a regular file. A save cut
// short (the program killed) leaves nothing behind.
SaveOutcome SaveFileReplacing(const std::string& path, std::string_view data,
                              const SaveFileOptions& options = {});
