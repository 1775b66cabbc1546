// The AVI writer: one file at a time, headers first, chunks into one movi list, an idx1 index,
// and the headers written again with the true counts.
#pragma once

#include <cstdint>

#include "platform/win/wintypes.h"

// frames < 0 creates or truncates the file, > 0 writes over an existing one; |frames| sizes the
// index (it grows when a render needs more). Returns the file handle, or 0.
int32_t MyOpenWAVI(const char* name, int32_t width, int32_t height, int32_t bitCount, int32_t frames,
                   const BITMAPINFOHEADER* format, FOURCC handler, int32_t usPerFrame, int32_t samplesPerSec,
                   int32_t channels, int32_t bitsPerSample, int32_t initialFrames);
// Bytes written (8 + the length rounded up to even).
int32_t MyWriteChunk(int32_t handle, const void* data, int32_t length, FOURCC id, uint32_t flags);
void MyCloseAVI(int32_t handle, int32_t frames);
// Bytes of a finished file that are neither chunks nor index entries: the headers, the movi list's
// header and the index's header.
int64_t AVIOverheadBytes(int32_t bitCount, const BITMAPINFOHEADER* format, FOURCC handler, bool audio);
