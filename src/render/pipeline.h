// The render's frame pipeline. The calling thread (the one that owns the AVI list) reads the
// project's frames in order and hands them to the file in order; worker threads decode, lay the
// overlays on and, for compressors whose frames stand alone, compress the frames in between.
//
// - Frames of files with delta frames are decoded per run: the frames of one run (a key frame and
//   those after it) go to the worker that decoded the run's first frame, whose decoder then holds
//   the frames before each one; a frame that starts a worker on a run is read with the frames since
//   its key frame.
// - Compressors that keep state between frames (and the sink's own, as for MP4 files) compress on
//   the calling thread, in order, while the workers decode and compose the frames after.
// - Frames with no title or underlay whose file is stored in the output's own format, every frame a
//   key frame, are copied as stored when copying is asked for: no decoding, no compressing.
// - At most kFramesInFlightPerWorker frames per worker are read and not yet written.
//
// The file is the same, byte for byte, whatever the number of threads: each frame is decoded from
// the same bytes and compressed by an equal compressor, and the frames are written in order.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "render/compose.h"

constexpr int32_t kFramesInFlightPerWorker = 2;
constexpr int32_t kMaxRenderThreads = 64;

// One project frame on its way to the file.
struct RenderFrame {
    enum class Kind {
        kCompose,  // decoded, overlays laid on, compressed
        kCopy,     // the stored chunk as it is
        kRepeat,   // a dropped frame: the frame before it once more
    };
    int32_t n = 0;  // project frame (from 1)
    Kind kind = Kind::kRepeat;
    bool unopened = false;  // its file could not be opened: it is not written, and nothing after it
    FramePacket packet;
    OverlayList overlays;

    // What the frame became. ok is false when it could not be read, decoded or compressed (it is
    // then written as a repeat). A chunk is ready to be written; a picture still has to go through
    // the in-order compressor.
    bool ok = false;
    std::vector<uint8_t> chunk;
    uint32_t flags = 0;
    FOURCC id = 0;
    std::vector<uint8_t> picture;
    uint32_t pictureBytes = 0;  // of picture, without the slack planar pictures keep
    BITMAPINFOHEADER pictureFormat{};
};

// Receives the frames in project order on the calling thread.
class FrameSink {
  public:
    virtual ~FrameSink() = default;
    // False stops the render (nothing more can be written).
    virtual bool Write(RenderFrame& frame) = 0;
};

struct PipelineSetup {
    FrameComposer* reader = nullptr;  // opened on the project's list; reads, and decodes with one thread
    AVIlist* head = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    // What the frames become: 24-bit pixels (kCompressorUncompressed, chunks "00db"), or the open
    // compressor's frames ("00dc"), compressed by the workers when it is independent.
    int64_t fourcc = 0;
    const BITMAPINFOHEADER* output = nullptr;  // the output format (copying compares with it)
    bool copy = false;
    int32_t threads = 1;
    // The sink compresses (an MP4 file): every frame reaches it as 24-bit pixels, none is copied.
    bool sinkCompresses = false;
};

// The threads a render uses when asked for n (0: one per processor), within 1..kMaxRenderThreads.
int32_t RenderThreadCount(int32_t n);
// Calls work(index, thread) for index 0 .. count - 1 on `threads` threads (the calling one is
// thread 0), each index once; returns when all are done.
void ParallelFor(int32_t count, int32_t threads, const std::function<void(int32_t, int32_t)>& work);

// Whether frames of the list's file `source` can be written as stored: the output's format (same
// code, size and depth; 24-bit bottom-up rows for uncompressed output), nothing in the stored format
// that the output's lacks, and every stored frame a key frame.
bool CopyAllowed(const FrameComposer& reader, int32_t source, int64_t fourcc, const BITMAPINFOHEADER& output);

// Runs the frames 1 .. total. Before each frame, step(i) (i from 0) shows the progress and pumps
// messages; true stops the reading there (Escape), and the frames read so far are still written.
// A frame whose file cannot be opened stops the reading too; the frames before it are written
// (the reader's Unopened() names the file). Returns the number of frames handed to the sink.
int32_t RunFramePipeline(const PipelineSetup& setup, int32_t total, FrameSink& sink,
                         const std::function<bool(int32_t)>& step);
