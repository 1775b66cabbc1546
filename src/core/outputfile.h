// A file written whole or not at all. The data goes into an unnamed file in the target's folder (a
// named temporary beside the target where the file system has no unnamed files); only when it is
// complete and flushed to disk does it take the target's name, replacing the old file in one
// step. A program killed on the way leaves the old file as it was and nothing else behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct stat;

class OutputFile {
  public:
    enum class Naming {
        kReplace,     // an existing file of the target's name is replaced
        kIfNameFree,  // the name is taken only when no file has it (EEXIST otherwise)
    };

    OutputFile() = default;
    ~OutputFile();  // abandons a file that was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Checks the target and opens the file that will become it. A symbolic link stays a link (the
    // file it names is the target); an existing target keeps its permissions. Refused with EACCES:
    // an existing file the user may not write, or one without any write bit (even for root);
    // EISDIR or EINVAL: something other than a regular file. False with error() set.
    bool Open(const std::string& path, bool createFolders = false);
    bool isOpen() const { return fd_ >= 0; }
    // The descriptor to write through (read and write, never 0), or -1.
    int fd() const { return fd_; }
    // A name the file can be read back by before it is committed.
    std::string readPath() const;
    // The file the commit replaces (a link resolved), and whether it existed when opened.
    const std::string& target() const { return target_; }
    bool targetExisted() const { return existed_; }

    // Writes at the file's position (or at offset) through the disk layer; false after a failure.
    bool Write(const void* data, size_t count);
    bool WriteAt(const void* data, size_t count, int64_t offset);
    // Records a writer's own failure: the file will not be committed.
    void Fail(int error);
    // Flushes the data to disk (once; Commit does it when not done).
    bool Sync();
    // Gives the complete file the target's name. False when anything failed since Open, or now:
    // the file is then abandoned and the target is as it was.
    bool Commit(Naming naming = Naming::kReplace);
    // Drops the file; the target is untouched.
    void Abandon();

    // The errno of the first failure, or 0.
    int error() const { return error_; }

  private:
    bool SetError(int error);

    int fd_ = -1;
    std::string target_;
    std::string tempName_;  // the named temporary, when there is one
    bool existed_ = false;
    bool synced_ = false;
    int error_ = 0;
};

// True when the user may replace or write over the existing file PATH (its stat in ST): the
// effective user may write it and it has at least one write bit.
bool MayReplaceFile(const std::string& path, const struct stat& st);
