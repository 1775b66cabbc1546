// The file layer every media read and write goes through: POSIX descriptors, transfers cut into
// pieces of at most 30000 bytes. A handle of 0 means "no file"; descriptor 0 is never handed out.
#pragma once

#include <cstdint>

constexpr int32_t kMaxTransfer = 30000;

int32_t FileExists(const char* name);  // 1 when the file exists
// Read only, regular files only; the handle, or 0 with errno set (EISDIR or EINVAL for a folder or
// another kind of file).
int32_t MyOpenRead(const char* name);
// Write over in place, created when missing: regular files only, never one the user may not write
// (errno set). The handle, or 0. New files are written whole through OutputFile instead.
int32_t MyOpenWrite(const char* name);
// Bytes delivered (fewer at the end of the file), or -1 when a piece fails.
int32_t MyRead(int32_t handle, void* buffer, int32_t count);
// The sum of what each piece wrote; 0 for a count of 0. Short when a piece failed, errno saying why.
int32_t MyWrite(int32_t handle, const void* buffer, int32_t count);
// Flushes what was written to the disk: 1, or 0 with errno set.
int32_t MySync(int32_t handle);
int32_t MyClose(int32_t handle);
int32_t MyTell(int32_t handle);
int32_t MySeek(int32_t handle, int32_t position);  // absolute; returns 0
int32_t MySkip(int32_t handle, int32_t count);     // forward from the current position; returns 0
// Length of the open file in bytes; files of 2 GB and more count as INT32_MAX (the layer's positions
// are 32-bit). -1 when it cannot be had.
int32_t MyFileLength(int32_t handle);
// Raises the soft limit of open descriptors to the hard one (the programs call it at start).
void RaiseOpenFileLimit();
