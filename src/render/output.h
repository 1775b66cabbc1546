// Where a render's frames go. The frame pipeline hands the output every project frame that is not
// inactive, in order: a composed picture, a chunk made already (compressed on a worker thread, or
// copied as stored; AVI files only), or a repeat of the picture before (a dropped frame, or one that
// could not be read), each with the sound that plays during it. The output compresses the pictures
// and writes them: AVI files through the chosen compressor and MyWriteChunk, MP4 files through the
// MP4 writer.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "core/wintypes.h"
#include "media/avilist.h"
#include "platform/mp4/mp4.h"

class RenderOutput {
  public:
    enum Result {
        kWritten,
        kLeftOut,  // a repeat with nothing before it: the frame and its sound are not written
        kFull,     // nothing more can be written; the file is still finished
    };
    virtual ~RenderOutput() = default;
    // Project frame n's picture in `format`, `bytes` long: bottom-up BGR rows of the composer's
    // format (an MP4 file takes no other), or planar J420 where the AVI compressor takes it. A
    // picture the compressor fails on repeats the one before instead.
    virtual Result Frame(int32_t n, const BITMAPINFOHEADER* format, const uint8_t* pixels, uint32_t bytes,
                         std::span<const uint8_t> sound) = 0;
    // A frame's chunk as it goes into an AVI file (an MP4 file takes none: kFull).
    virtual Result Chunk(const uint8_t* data, uint32_t size, FOURCC id, uint32_t flags,
                         std::span<const uint8_t> sound) = 0;
    // The picture before, shown once more.
    virtual Result Repeat(std::span<const uint8_t> sound) = 0;
    // Frames written so far.
    virtual int32_t written() const = 0;
    // Why the output took no more frames, when no write failed: frame n (from 1) was the first
    // left out.
    virtual std::string FullText(int32_t n) const = 0;
    // Ends the file so that it plays up to the last frame written and flushes it to disk; false when
    // it could not be. The file has no name yet: a program killed before Commit leaves none.
    virtual bool Finish() = 0;
    // The errno of a write that failed (nothing more was written after it), or 0.
    virtual int WriteError() const = 0;
    // Reads the finished file back: true, with its length in bytes, when it holds every frame written.
    virtual bool ReadBack(int64_t* length) = 0;
    // Gives the finished file its name: replacing a file there, or only when the name is free. 0, or
    // the errno of the failure (EEXIST: the name is taken); the file is dropped then, as it is when
    // the output goes without a commit.
    virtual int Commit(bool replace) = 0;
};

struct RenderOutputRequest {
    HWND owner = nullptr;
    std::string name;
    BITMAPINFOHEADER* input = nullptr;  // the composed frames
    const AVIlist* head = nullptr;      // the sound format
    int32_t usPerFrame = 0;
    int32_t activeFrames = 0;
    bool withAudio = false;
};

// What the user chose for the file.
struct RenderChoice {
    bool mp4 = false;
    int64_t fourcc = 0;         // AVI: the compressor begun, or kCompressorUncompressed
    BITMAPINFOHEADER output{};  // AVI: the format the file stores
    int32_t quality = 0;        // MP4: 0-100
};

// Lets the user choose the compression (for an AVI file the "Choose Compressor" list, which begins
// the compressor, for an MP4 file its quality alone). False when the choice was cancelled or failed
// (nothing to report).
bool ChooseRenderOutput(const RenderOutputRequest& request, RenderChoice* choice);
// Creates the file as chosen. Null when it could not be created, with the reason in *reason (empty
// when none is known); an AVI compressor is ended.
std::unique_ptr<RenderOutput> CreateRenderOutput(const RenderOutputRequest& request,
                                                 const RenderChoice& choice, std::string* reason);
// The MP4 writer's format for the request's frames and sound at a quality.
Mp4Format Mp4FormatFor(const RenderOutputRequest& request, int32_t quality);

// Whether the render writes an MP4 file to this name: it ends in ".mp4", in any case.
bool IsMp4Name(const std::string& name);
