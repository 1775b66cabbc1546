// The AVI writer: one file at a time, headers first, chunks into one movi list, an idx1 index,
// and the headers written again with the true counts.
#pragma once

#include <cstdint>
#include <string>

#include "core/wintypes.h"

// What the headers describe: the video stream and, when samplesPerSec is not 0, the PCM sound.
struct WAVIStreams {
    int32_t width = 0;
    int32_t height = 0;
    int32_t bitCount = 0;
    const BITMAPINFOHEADER* format = nullptr;  // may be null; a 68-byte one is copied whole
    FOURCC handler = 0;                        // the compressor's code, 0 for uncompressed frames
    int32_t usPerFrame = 0;
    int32_t samplesPerSec = 0;
    int32_t channels = 0;
    int32_t bitsPerSample = 0;
    int32_t initialFrames = 0;
    bool quiet = false;  // no message box when the file cannot be begun: the caller reports AVIWriteError
};

// Begins a new file: it is written unnamed beside NAME and takes the name (replacing a file there)
// only when it is finished; a program killed on the way leaves NAME as it was. frames sizes the
// index (it grows when a render needs more). Returns the file handle, or 0 (a message is shown when
// the file cannot be opened; when its headers cannot be written, AVIWriteError says why and
// nothing is left).
int32_t MyCreateWAVI(const char* name, int64_t frames, const WAVIStreams& streams);
// Begins writing over an existing file in place (created when missing), never cutting it short:
// the preallocated capture file. Otherwise as MyCreateWAVI.
int32_t MyOverwriteWAVI(const char* name, int64_t frames, const WAVIStreams& streams);
// frames < 0: MyCreateWAVI with -frames; otherwise MyOverwriteWAVI.
int32_t MyOpenWAVI(const char* name, int32_t width, int32_t height, int32_t bitCount, int32_t frames,
                   const BITMAPINFOHEADER* format, FOURCC handler, int32_t usPerFrame, int32_t samplesPerSec,
                   int32_t channels, int32_t bitsPerSample, int32_t initialFrames);
// Bytes taken (8 + the length rounded up to even); 0 when the chunk was refused or a write
// failed. Chunks are gathered and written in large pieces, so a failure may show at a later chunk
// or at close: what did not land whole is cut off the file again and every later chunk is
// refused, so the file holds whole chunks only; AVIWriteError says why.
int32_t MyWriteChunk(int32_t handle, const void* data, int32_t length, FOURCC id, uint32_t flags);
// MyFinishAVI, then a new file takes its name (MyCommitAVI replacing): 1 when the file is a whole
// AVI of the chunks written. 0 when that failed: a new file is then dropped (one written over in
// place is left as it stands).
int32_t MyCloseAVI(int32_t handle, int32_t frames);
// Writes the index and the final headers and flushes the file to disk: 1 when the file is a whole
// AVI of the chunks written. Where the disk has no room for the index, chunks are taken off the end
// until it fits (AVIFramesClosed counts what is left). A new file stays unnamed until MyCommitAVI
// (or is dropped by MyAbandonAVI or the next MyOpenWAVI).
int32_t MyFinishAVI(int32_t handle, int32_t frames);
// A name the finished file reads by before it is committed (the file's own name after that).
std::string AVIFinishedFile();
// Gives the finished new file its name: replacing a file of that name, or only when the name is
// free (otherwise AVIWriteError is EEXIST and the file is dropped). 1, or 0 with AVIWriteError set.
int32_t MyCommitAVI(bool replace);
// Drops the file being written or finished; its name is untouched.
void MyAbandonAVI();
// The errno of the first write that failed since MyOpenWAVI (the open's own header writes
// included), or of a commit that failed; 0 when none did.
int32_t AVIWriteError();
// The frames the headers of the last file finished count: fewer than it was given when chunks had
// to be cut off after a failed write or for the index.
int32_t AVIFramesClosed();
// Bytes of a finished file that are neither chunks nor index entries: the headers, the movi list's
// header and the index's header.
int64_t AVIOverheadBytes(int32_t bitCount, const BITMAPINFOHEADER* format, FOURCC handler, bool audio);
