// Project frames as the render writes them: the stored bytes decoded (a delta frame from its last
// key frame on), widened to 24 bits, with the titles and underlays of the frame laid on. The render
// and the single-frame export share this, so both show the same pixels.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/codec/codec.h"
#include "platform/win/wintypes.h"
#include "project/project.h"

// The frame buffer: bottom-up BGR rows of DibRowBytes(width, 24) bytes, as codecs and AVI readers
// expect. Frames stored top-down or with 8, 16 or 32 bits per pixel are converted into it.
class FrameComposer {
  public:
    FrameComposer();
    ~FrameComposer();
    FrameComposer(const FrameComposer&) = delete;
    FrameComposer& operator=(const FrameComposer&) = delete;

    // Opens a decoder for every compressed file of the list (each file may use its own format) and
    // allocates the zero-filled frame buffer. 0, after "ICLocate failed", "lpOut allocation failed"
    // or "ICDecompressBegin failed", when the frames cannot be decoded; nothing stays open then.
    int32_t Open(AVIlist* head, int32_t width, int32_t height);
    // Closes the decoders and releases the buffers.
    void Close();

    // Decodes project frame n (from 1) into the frame buffer. False, after "failed to get data for
    // frame %ld (%08lx %ld)" with n - 1, when the frame has no stored picture at or before it; the
    // buffer keeps what it held. A decoder's error is only logged.
    bool Decode(int32_t n);
    // Decode, then the titles and underlays when state (FrameState(n), called just before) has the
    // titled or underlaid bit.
    bool Compose(HWND window, int32_t n, uint32_t state);

    uint8_t* pixels() const { return frame_; }
    uint32_t bytes() const { return frameBytes_; }
    // The 24-bit format of the frame buffer (the compressor's input format).
    BITMAPINFOHEADER* format() { return &format_; }

  private:
    struct Source;
    void Feed(Source& s, int32_t m, const uint8_t* data, int32_t size, bool output);

    AVIlist* head_ = nullptr;
    std::vector<Source> sources_;
    std::vector<int32_t> sourceOf_;  // per project frame: the source getFrameData reads, -1 for none
    BITMAPINFOHEADER format_{};
    uint8_t* frame_ = nullptr;  // MyCalloc
    uint32_t frameBytes_ = 0;
    uint8_t* scratch_ = nullptr;  // decoder output that is not 24-bit; MyCalloc
    uint32_t scratchBytes_ = 0;
};
