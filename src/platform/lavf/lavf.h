// Any container libavformat opens, demuxed and decoded for conforming (no libav type appears here):
// pictures turned upright by the display rotation and fitted into a J420 frame with black bars,
// sound resampled and mixed with libswresample, each with its time stamp in seconds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the headers say.
struct LavfInfo {
    std::string container;   // libavformat's name ("mov,mp4,m4a,3gp,3g2,mj2")
    std::string videoCodec;  // libavcodec's name ("h264"); empty without a video stream
    std::string soundCodec;  // empty without sound
    int32_t codedWidth = 0, codedHeight = 0;
    int rotation = 0;  // clockwise degrees the picture is turned to stand upright: 0, 90, 180, 270
    int32_t displayWidth = 0, displayHeight = 0;  // upright, with the pixel aspect applied
    double averageRate = 0;                       // pictures a second; 0 unknown
    double durationSeconds = 0;                   // of the video stream (the file's when unknown)
    double startSeconds = 0;                      // the time stamp the file starts at
    int64_t frames = 0;                           // the video stream's count when the file says it
    int32_t samplesPerSec = 0;                    // 0 without sound that decodes
    int32_t channels = 0;
    int32_t sampleBits = 0;  // PCM sound only
};

// A stretch of sound in the format SetSound asked for, and the time of its first sample.
struct LavfSound {
    double seconds = 0;
    std::vector<uint8_t> pcm;
};

// One decoded picture as the decoder gave it, before it is fitted and turned: converted on any
// thread through a LavfConverter.
class LavfPicture {
  public:
    ~LavfPicture();
    double seconds() const { return seconds_; }

  private:
    friend class LavfSource;
    friend class LavfConverter;
    struct Frame;
    LavfPicture(std::unique_ptr<Frame> frame, double seconds);
    std::unique_ptr<Frame> frame_;
    double seconds_;
};

// Fits and turns pictures of one source into J420 frames of width x height (even sides), the
// upright picture scaled to fit inside and centred on black. One per thread.
class LavfConverter {
  public:
    LavfConverter(const LavfInfo& info, int32_t width, int32_t height);
    ~LavfConverter();
    LavfConverter(const LavfConverter&) = delete;
    LavfConverter& operator=(const LavfConverter&) = delete;
    // frame gets J420Bytes plus kJ420Slack bytes. False when the picture cannot be converted.
    bool Convert(const LavfPicture& picture, std::vector<uint8_t>& frame);

  private:
    struct State;
    std::unique_ptr<State> s_;
};

class LavfSource {
  public:
    // Null with the reason in *why when path cannot be opened, has no video stream, or its video
    // cannot be decoded.
    static std::unique_ptr<LavfSource> Open(const char* path, std::string* why);
    ~LavfSource();
    LavfSource(const LavfSource&) = delete;
    LavfSource& operator=(const LavfSource&) = delete;

    const LavfInfo& info() const;

    // Pictures come out as J420 frames of width x height (even sides), the upright picture scaled
    // to fit inside and centred on black.
    bool SetPicture(int32_t width, int32_t height);
    // Sound comes out at this rate, 8 (unsigned) or 16 bits, 1 or 2 channels; rate 0 (or a file
    // without sound that decodes): none comes.
    bool SetSound(int32_t samplesPerSec, int32_t bits, int32_t channels);
    // Decodes on to the next picture, handed over unconverted: 1, 0 at the end, -1 when reading
    // failed (*why says why). Sound decoded on the way is kept for TakeSound.
    int NextPicture(std::unique_ptr<LavfPicture>* picture, std::string* why);
    // Goes to the key frame at or before seconds (from the file's start).
    void Seek(double seconds);
    // As above, converted at once (SetPicture's size) into frame, its time in *seconds.
    int NextPicture(std::vector<uint8_t>& frame, double* seconds, std::string* why);
    // Moves the sound decoded so far onto the end of out.
    void TakeSound(std::vector<LavfSound>& out);
    // Packets read that were damaged beyond decoding.
    int64_t damagedPackets() const;
    // Video packets read, for telling a file cut short from one that ended.
    int64_t videoPackets() const;

  private:
    struct State;
    explicit LavfSource(std::unique_ptr<State> state);
    std::unique_ptr<State> s_;
};

// Reads only the headers. False with *why when path cannot be opened by libavformat.
bool ReadLavfInfo(const char* path, LavfInfo* info, std::string* why);
