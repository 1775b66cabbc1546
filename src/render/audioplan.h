// The audio that goes with each project frame of a render and a preview: pieces of the files' "wb"
// chunks (converted to the head's format where a file's differs), planned once from the reduced
// indexes. Frame i (from 1) of a file covers the samples after
// end(i - 1) up to end(i) = trunc(scale x samplesPerSec x i / rate) - 1, with end(0) = 0.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "media/avilist.h"
#include "render/soundconvert.h"

// The most sound one frame's chunk carries; a longer frame (a nonsense rate) is cut there.
constexpr int64_t kMaxFrameSound = 16 * 1024 * 1024;

// A file whose PCM sound has another format than the head's: where its sound lies, for converting.
struct SoundConversion {
    struct Span {
        int64_t start;   // the span's first byte in the file's sound (from 0)
        int32_t offset;  // in the file
        int32_t count;
    };
    AVIlist* source;
    PcmFormat from, to;
    const Span* spans;  // the file's sound entries in order
    int32_t spanCount;
    int64_t samples;  // source samples the spans hold
};

// One stretch of audio bytes: read from source at offset, or `count` bytes of silence when source
// is null; with convert, the count bytes (in the head's format) from its converted sample `first`
// on.
struct AudioPiece {
    AVIlist* source;
    int32_t offset;
    int32_t count;
    const SoundConversion* convert;
    int64_t first;
};

// The bytes of a piece with a source: its stored bytes, or the converted ones in scratch; null
// when they cannot be read (logged).
const uint8_t* AudioPieceData(const AudioPiece& piece, std::vector<uint8_t>& scratch);

// end(i) of the frame numbered i (from 1) at scale / rate seconds a frame; end(0) is 0. A rate of 0
// counts as 1000000 (scale in microseconds).
int64_t FrameAudioEnd(uint32_t scale, uint32_t rate, int32_t samplesPerSec, int64_t i);

// The bytes per sample of a PCM format ((bits / 8) x channels), or 0 when the format is unusable.
int32_t AudioSampleBytes(int32_t samplesPerSec, int32_t channels, int32_t sampleBits);

// The plan: per project frame, its pieces in playing order.
//
// The head's audio is laid on the head's frames. A later file whose audio format equals the head's
// lays its own audio on its own frames, counted from its first frame; one with PCM of another
// format that both sides of the converter take lays its audio converted to the head's format the
// same way (frame j of the file plays converted samples end(j - 1) to end(j) - 1); a later file
// without audio, or with audio the converter does not take, gets silence of each frame's length, so
// the files after it stay in step.
class AudioList {
  public:
    AudioList() = default;
    ~AudioList() { Release(); }
    AudioList(const AudioList&) = delete;
    AudioList& operator=(const AudioList&) = delete;

    // Plans every frame of the list for the head's audio format. False, after the log line "Failed
    // to allocate AudioList", when the memory cannot be had (the render then goes without audio);
    // false without a line when the head has no usable audio.
    bool Plan(AVIlist* head);
    void Release();

    // The pieces of project frame n (from 1); empty beyond the planned frames.
    std::span<const AudioPiece> Pieces(int32_t n) const;
    // Bytes planned for frame n.
    int64_t FrameBytes(int32_t n) const;
    int32_t frames() const { return frameCount_; }

  private:
    struct FrameSlot {
        int32_t first;  // index of its first piece
        int32_t count;
    };
    void Add(int32_t frame, AVIlist* source, int64_t offset, int64_t count);
    void AddConverted(int32_t frame, const SoundConversion* convert, int64_t first, int64_t count);
    const SoundConversion* Conversion(AVIlist* r, AVIlist* head);

    FrameSlot* slots_ = nullptr;              // MyCalloc
    AudioPiece* pieces_ = nullptr;            // MyCalloc
    SoundConversion* conversions_ = nullptr;  // MyCalloc, one per converted file
    SoundConversion::Span* spans_ = nullptr;  // MyCalloc, the converted files' sound entries
    int32_t conversionCount_ = 0;
    int32_t spanCount_ = 0;
    int32_t frameCount_ = 0;
    int32_t pieceCount_ = 0;
    int32_t pieceCapacity_ = 0;
};
