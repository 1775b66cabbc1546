// The system calls that put saved data on disk. Every output (OutputFile, below every save and
// every media file written) goes through them, so a failing disk can be played here: writes that
// fail once a number of bytes has landed, a flush, a link or a rename that fails, a file system
// without unnamed files. Tests set a fault directly; QUILLORY_DISK_FAULT sets one for a whole run
// of either program (end-to-end tests), in the form ParseDiskFault reads.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <cstdint>
#include <string>

struct DiskFault {
    int writeError = 0;          // errno of the writes past failAfterBytes; 0: writes never fail
    int64_t failAfterBytes = 0;  // bytes that land (counted over every write) before they fail
    bool once = false;           // only the first failing write fails, as a passing fault would
    int syncError = 0;           // errno of every flush to disk; 0: flushes work
    int renameError = 0;         // errno of every rename; 0: renames work
    int linkError = 0;           // errno of every link of an open file to a name; 0: links work
    int unnamedError = 0;        // errno of every open of an unnamed file; 0: they open
};

// Replaces the fault in force and counts the bytes written from 0 again.
void SetDiskFault(const DiskFault& fault);
void ClearDiskFault();

// Comma-separated parts: "write:ERROR:BYTES" (":once" may follow), "sync:ERROR", "rename:ERROR",
// "link:ERROR", "unnamed:ERROR", ERROR one of ENOSPC, EIO, EDQUOT, EFBIG, EROFS, EOPNOTSUPP,
// EINVAL, EISDIR. False (fault untouched) when the text does not read.
bool ParseDiskFault(const std::string& text, DiskFault* fault);

// write(2), pwrite(2), pwritev(2), fsync(2) (fdatasync(2) with dataOnly) and rename(2) under the
// fault in force. A write that crosses the byte limit lands the bytes below it and returns their
// count; the next one fails.
ssize_t DiskWrite(int fd, const void* data, size_t count);
ssize_t DiskWriteAt(int fd, const void* data, size_t count, int64_t offset);
ssize_t DiskWriteVectorAt(int fd, const struct iovec* parts, int count, int64_t offset);
int DiskSync(int fd, bool dataOnly = false);
int DiskRename(const char* from, const char* to);
// ftruncate(2). Cutting a file back gives its space back to a disk that is full (a write fault of
// ENOSPC, EDQUOT or EFBIG counts the bytes cut off as never written); other faults stay as they are.
int DiskTruncate(int fd, int64_t length);
// open(2) of an unnamed file (O_TMPFILE) in folder, read and write, close-on-exec.
int DiskOpenUnnamed(const char* folder, mode_t mode);
// Gives the open file fd the name `to` (linkat(2) through /proc/self/fd, or AT_EMPTY_PATH without
// /proc); fails with EEXIST when the name is taken.
int DiskLink(int fd, const char* to);
