// Rebuilding an AVI index from the movi list, for files whose idx1 is missing or cut short (a
// capture that died, a copy that was cut). The walk is bounded like every other: by the list's
// stated size, by the file, and by a cap on the number of chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "media/riff.h"

// The most chunks a rebuilt index holds (a 2 GB file of 30 fps video with sound per frame holds
// far fewer).
constexpr int32_t kMaxScannedChunks = 1 << 22;

// Reads count bytes at position; the bytes delivered (fewer at the end of the file), -1 on failure.
using ScanRead = std::function<int32_t(int64_t position, void* buffer, int32_t count)>;

// The stream chunks ("##db", "##dc", "##wb", ...) of the movi list whose type field is at
// moviPosition, as idx1 entries (offsets counted from the type field, every chunk flagged as a key
// frame), up to the first chunk header that is not one or that runs past the list. "rec " lists are
// entered; JUNK, index chunks and other lists are stepped over. A stream chunk right at the list's
// stated end means its size was never brought up to date: the walk goes on to the end of the file.
std::vector<AVIINDEXENTRY> ScanMoviChunks(const ScanRead& read, int64_t moviPosition, int64_t fileLength);
// The same over a whole file held in memory.
std::vector<AVIINDEXENTRY> ScanMoviBuffer(const uint8_t* data, size_t size, int64_t moviPosition);

// When the loaded index (a MyCalloc block, or null) does not reach the end of the movi list, scans
// the list and, when that finds more entries, replaces the index with them. 1 when it did.
int32_t RebuildIndexFromMovi(int32_t handle, uint32_t moviPosition, AVIINDEXENTRY** index, int32_t* count);
