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

// A symbolic link stays a link (the file it names is replaced) and an existing file keeps its
// permissions. An existing file the user may not write is never replaced: one without any write
// bit (chmod a-w) counts as protected even when running as root. False, with the old file
// untouched and errno set, when anything fails or the path names something other than a regular
// file. A save cut short (the program killed) leaves nothing behind.
bool SaveFileReplacing(const std::string& path, std::string_view data, const SaveFileOptions& options = {});
