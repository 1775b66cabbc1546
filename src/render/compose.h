// Project frames as the render writes them: the stored bytes decoded (a delta frame from its last
// key frame on), widened to 24 bits, with the titles and underlays of the frame laid on. The render,
// the single-frame export and the thumbnails share this, so all show the same pixels.
//
// Reading and decoding are separate steps so that the render can read in order on its own thread
// and decode on worker threads: Read (the thread that owns the AVI list) copies a frame's stored
// bytes into a FramePacket; Decode (any thread, one composer per thread) turns a packet into
// pixels. Compose does both at once.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/wintypes.h"
#include "platform/codec/codec.h"
#include "project/project.h"
#include "render/titles.h"

// What decoding one project frame takes: its stored chunk, after the chunks since its key frame
// when the decoder has not just seen the frame before it. Pieces are fed in order; the last one is
// the frame itself.
struct FramePacket {
    struct Piece {
        int32_t n;       // project frame (from 1)
        int32_t source;  // the file of the list the bytes come from
        uint32_t offset;
        uint32_t size;
    };
    std::vector<Piece> pieces;
    std::vector<uint8_t> data;

    void Clear() {
        pieces.clear();
        data.clear();
    }
    const uint8_t* Bytes(const Piece& p) const { return data.data() + p.offset; }
};

// The frame buffer: bottom-up BGR rows of DibRowBytes(width, 24) bytes, as codecs and AVI readers
// expect. Frames stored top-down or with 8, 16 or 32 bits per pixel are converted into it.
class FrameComposer {
  public:
    // Where a decoded picture landed.
    enum class Picture { kNone, kBgr, kJ420 };

    FrameComposer();
    ~FrameComposer();
    FrameComposer(const FrameComposer&) = delete;
    FrameComposer& operator=(const FrameComposer&) = delete;

    // Opens a decoder for every compressed file of the list (each file may use its own format) and
    // allocates the zero-filled frame buffer. 0, after "ICLocate failed", "lpOut allocation failed"
    // or "ICDecompressBegin failed", when the frames cannot be decoded; nothing stays open then.
    // With a smaller decode size (thumbnails) the frame buffer and format() have that size and
    // compressed frames are scaled down into it, by decoders that can decode at a fraction of the
    // size at that fraction; frames of files without a decoder then give kNone, and overlays,
    // which are made for the project's size, cannot be laid on.
    int32_t Open(AVIlist* head, int32_t width, int32_t height, int32_t decodeWidth = 0,
                 int32_t decodeHeight = 0);
    // Closes the decoders and releases the buffers.
    void Close();

    // The file of the list whose bytes project frame n shows (-1 for none), and whether frames of
    // that file depend on the ones before them.
    int32_t SourceOf(int32_t n) const;
    bool HasDeltaFrames(int32_t source) const;
    const AVIlist* SourceRecord(int32_t source) const;
    // The key frame frame n decodes from (n itself for a key frame).
    int32_t KeyFrameOf(int32_t n) const;
    // The length of the chunk getFrameData gives for frame n (0 for none).
    uint32_t StoredBytes(int32_t n) const;

    // Copies what decoding frame n takes into packet; the chunks since the key frame come first,
    // or those after lastFed (the frame the decoder of n's file saw last) when that is a frame of
    // n's run before n. False, after "failed to
    // get data for frame %ld (%08lx %ld)" with n - 1, when the frame has no stored picture at or
    // before it; false without a message when its file could not be opened (Unopened() names it).
    // Only on the thread that owns the AVI list.
    bool Read(int32_t n, int32_t lastFed, FramePacket& packet);
    // The file of the latest frame Read could not read because the file could not be opened (null
    // when there was none), and how many reads failed that way since Open.
    const AVIlist* Unopened() const { return unopened_; }
    int32_t UnopenedReads() const { return unopenedReads_; }
    // Feeds the packet to this composer's decoders. With j420 (J420Bytes + kJ420Slack bytes), a
    // compressed frame of the project's size whose picture the J420 form carries lands there;
    // anything else lands in the frame buffer. kNone, with the error logged, when the frame gives
    // no picture: an empty packet, a decoder's error, a file of another size.
    Picture Decode(const FramePacket& packet, uint8_t* j420 = nullptr);

    // Decodes project frame n (from 1) into the frame buffer. False, after the message of Read (or
    // "Failed to open file <NAME>" with the reason), when the frame has no stored picture; when it
    // gives none otherwise (see the other Decode), the buffer keeps what it held.
    bool Decode(int32_t n);
    // Decode, then the overlays laid on (OverlaysAt(n), or fewer).
    bool Compose(int32_t n, const OverlayList& overlays);

    uint8_t* pixels() const { return frame_; }
    uint32_t bytes() const { return frameBytes_; }
    // The 24-bit format of the frame buffer (the compressor's input format).
    BITMAPINFOHEADER* format() { return &format_; }

  private:
    struct Source;
    bool Feed(Source& s, int32_t m, const uint8_t* data, int32_t size, bool output);
    void Land(Source& s);

    ChainFrames& Frames() const;

    AVIlist* head_ = nullptr;
    // The list's frames as they were at Open (as sources_ is), made at the first read.
    mutable std::unique_ptr<ChainFrames> frames_;
    std::vector<Source> sources_;
    std::vector<int32_t> sourceOf_;   // per project frame: the source getFrameData reads, -1 for none
    std::vector<uint32_t> storedOf_;  // per project frame: the length of the chunk it reads
    BITMAPINFOHEADER format_{};
    uint8_t* frame_ = nullptr;  // MyCalloc
    uint32_t frameBytes_ = 0;
    uint8_t* scratch_ = nullptr;  // decoder output that is not 24-bit; MyCalloc
    uint32_t scratchBytes_ = 0;
    int32_t decodeWidth_ = 0, decodeHeight_ = 0;
    FramePacket own_;  // Decode(n)'s packet
    const AVIlist* unopened_ = nullptr;
    int32_t unopenedReads_ = 0;
};
