// The audio that goes with each project frame of a render: pieces of the files' "wb" chunks,
// planned once from the reduced indexes. Frame i (from 1) of a file covers the samples after
// end(i - 1) up to end(i) = trunc(scale x samplesPerSec x i / rate) - 1, with end(0) = 0.
#pragma once

#include <cstdint>
#include <span>

#include "media/avilist.h"

// The most sound one frame's chunk carries; a longer frame (a nonsense rate) is cut there.
constexpr int64_t kMaxFrameSound = 16 * 1024 * 1024;

// One stretch of audio bytes: read from source at offset, or `count` bytes of silence when source
// is null.
struct AudioPiece {
    AVIlist* source;
    int32_t offset;
    int32_t count;
};

// end(i) of the frame numbered i (from 1) at scale / rate seconds a frame; end(0) is 0. A rate of 0
// counts as 1000000 (scale in microseconds).
int64_t FrameAudioEnd(uint32_t scale, uint32_t rate, int32_t samplesPerSec, int64_t i);

// The bytes per sample of a PCM format ((bits / 8) x channels), or 0 when the format is unusable.
int32_t AudioSampleBytes(int32_t samplesPerSec, int32_t channels, int32_t sampleBits);

// The plan: per project frame, its pieces in playing order.
//
// The head's audio is laid on the head's frames. A later file whose audio format equals the head's
// lays its own audio on its own frames, counted from its first frame; a later file without audio
// or with another format gets silence of each frame's length, so the files after it stay in step.
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

    FrameSlot* slots_ = nullptr;    // MyCalloc
    AudioPiece* pieces_ = nullptr;  // MyCalloc
    int32_t frameCount_ = 0;
    int32_t pieceCount_ = 0;
    int32_t pieceCapacity_ = 0;
};
