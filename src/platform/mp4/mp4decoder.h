// An MP4 (or QuickTime) file decoded for playing, through libavformat and libavcodec (no libav type
// appears here): its pictures by number in showing order as 24-bit bottom-up rows, and its sound
// from any sample on as 16-bit PCM.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

class Mp4Decoder {
  public:
    // Null when path is not an MP4 file with a picture track that can be decoded.
    static std::unique_ptr<Mp4Decoder> Open(const char* path);
    ~Mp4Decoder();
    Mp4Decoder(const Mp4Decoder&) = delete;
    Mp4Decoder& operator=(const Mp4Decoder&) = delete;

    int32_t width() const;
    int32_t height() const;
    // The pictures the file really holds (its packets, not what its headers claim).
    int32_t frames() const;
    // rate / scale pictures a second.
    uint32_t rate() const;
    uint32_t scale() const;
    // The sample entry's four characters ("avc1").
    uint32_t codecTag() const;
    // 0 without sound that can be decoded.
    int32_t samplesPerSec() const;
    // 1 or 2: more channels are mixed down to two.
    int32_t channels() const;

    // Picture index (from 0, clamped to the pictures): DibRowBytes(width, 24) x height bytes,
    // bottom-up, valid until the next call. Stepping on decodes one picture; a jump decodes from the
    // key frame before it. Null when nothing could be decoded.
    const uint8_t* Picture(int32_t index);
    // Pictures decoded so far, shown or not.
    int64_t picturesDecoded() const;

    // The sound from sample `first` (at samplesPerSec) on: the next ReadSound starts there.
    void SeekSound(int64_t first);
    // Appends the next stretch of sound (16 bits a sample, the channels interleaved) to out; false
    // once the sound has ended.
    bool ReadSound(std::vector<uint8_t>& out);

  private:
    struct State;
    explicit Mp4Decoder(std::unique_ptr<State> state);
    std::unique_ptr<State> s_;
};
