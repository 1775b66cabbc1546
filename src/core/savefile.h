// Saving a file without ever destroying the previous one: the data goes to a temporary file in
// the same folder, is flushed to disk and renamed over the old file.
#pragma once

#include <functional>
#include <string>
#include <string_view>

struct stat;

struct SaveFileOptions {
    bool createFolders = false;  // make the missing folders of the path first
    // Runs after the new data is safely on disk, just before it replaces the old file.
    std::function<void()> beforeReplace;
};

// A symbolic link stays a link (the file it names is replaced) and an existing file keeps its
// permissions. An existing file the user may not write is never replaced: one without any write
// bit (chmod a-w) counts as protected even when running as root. False, with the old file
// untouched and errno set, when anything fails or the path names something other than a regular
// file.
bool SaveFileReplacing(const std::string& path, std::string_view data, const SaveFileOptions& options = {});

// True when the user may replace or write over the existing file PATH (its stat in ST): the
// effective user may write it and it has at least one write bit.
bool MayReplaceFile(const std::string& path, const struct stat& st);
