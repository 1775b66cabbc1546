// Where a render's frames go. The frame loop hands the output every project frame that is not
// inactive, in order: a composed picture, or a repeat of the picture before (a dropped frame, or one
// that could not be read), each with the sound that plays during it. The output compresses and
// writes them: AVI files through the chosen compressor and MyWriteChunk, MP4 files through the MP4
// writer.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "media/avilist.h"
#include "platform/win/wintypes.h"

class RenderOutput {
  public:
    enum Result {
        kWritten,
        kLeftOut,  // a repeat with nothing before it: the frame and its sound are not written
        kFull,     // nothing more can be written; the file is still finished
    };
    virtual ~RenderOutput() = default;
    // Project frame n's picture: bottom-up BGR rows of the composer's format, `bytes` long. A
    // picture the compressor fails on twice repeats the one before instead.
    virtual Result Frame(int32_t n, const uint8_t* pixels, uint32_t bytes,
                         std::span<const uint8_t> sound) = 0;
    // The picture before, shown once more.
    virtual Result Repeat(std::span<const uint8_t> sound) = 0;
    // Frames written so far.
    virtual int32_t written() const = 0;
    // Ends the file so that it plays up to the last frame written; false when it could not be.
    virtual bool Finish() = 0;
    // The errno of a write that failed (nothing more was written after it), or 0.
    virtual int WriteError() const = 0;
    // Reads the finished file back: true, with its length in bytes, when it holds every frame written.
    virtual bool ReadBack(int64_t* length) = 0;
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

// Lets the user choose the compression (for an AVI file the "Choose Compressor" list, for an MP4
// file its quality alone) and creates the file. Null when the choice was cancelled or failed (*quiet
// set: nothing to report) or the file could not be created (the caller reports it; errno says why
// when that is known, else it is 0).
std::unique_ptr<RenderOutput> OpenRenderOutput(const RenderOutputRequest& request, bool* quiet);

// Whether the render writes an MP4 file to this name: it ends in ".mp4", in any case.
bool IsMp4Name(const std::string& name);
