// Small pictures of project frames for the storyboard's cells, made on worker threads: frames are
// decoded at a fraction of their size where the decoder can (Motion JPEG), and frames that show
// titles or underlays are composed at full size as the render composes them, then scaled down.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "render/compose.h"

class FrameThumbnailer {
  public:
    FrameThumbnailer();
    ~FrameThumbnailer();
    FrameThumbnailer(const FrameThumbnailer&) = delete;
    FrameThumbnailer& operator=(const FrameThumbnailer&) = delete;

    // Closes the decoders (the window's end); they open again when needed.
    void Close();
    // The pictures of project frames (from 1) at width x height, as bottom-up rows of width x 3
    // bytes (blue, green, red); empty for a frame that gives none. With edits, the titles and
    // underlays covering a frame are laid on, from their prepared stencils and images (see
    // PrepareOverlays). On the thread that owns the AVI list. False when the list's frames cannot be
    // decoded (a file without a decoder): every picture is then empty.
    bool Make(const std::vector<int32_t>& frames, int32_t width, int32_t height, bool edits,
              std::vector<std::vector<uint8_t>>& pictures);

    // Stored frames read for decoding so far.
    int64_t framesRead() const { return framesRead_; }

  private:
    struct Thread;
    bool OpenFor(int32_t width, int32_t height);

    std::vector<std::unique_ptr<Thread>> threads_;
    // What the decoders were opened for: the list's records and index arrays, and the cell size.
    std::vector<const void*> list_;
    int32_t width_ = 0, height_ = 0;
    int64_t framesRead_ = 0;
};

// Scales a bottom-up 24-bit frame (rows of stride bytes) to width x height packed bottom-up rows,
// each pixel the mean of the pixels it covers.
void ShrinkFrame(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int64_t stride, uint8_t* dst,
                 int32_t width, int32_t height);
