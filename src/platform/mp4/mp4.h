// MP4 files through libavformat, behind a plain C++ interface (no libav type appears here): the
// render's writer (H.264 from libx264, or MPEG-4 part 2 without it, and AAC-LC sound, the index at
// the front of the file) and the reader behind the file reports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/codec/codec.h"  // kH264DefaultQuality

// What a writer is given.
struct Mp4Format {
    int32_t width = 0;  // the picture; an odd side is encoded one pixel larger, the edge repeated
    int32_t height = 0;
    uint32_t rate = 0;  // rate / scale frames a second; scale / rate seconds is the video time base
    uint32_t scale = 0;
    int32_t samplesPerSec = 0;          // the PCM handed to WriteSound; 0 for a file without sound
    int32_t channels = 0;               // 1 to 8; more than 2 are mixed down to stereo
    int32_t sampleBits = 0;             // 8 (unsigned), 16, 24 or 32 (signed); other sound is left out
    int quality = kH264DefaultQuality;  // the compressor dialog's 0..100, mapped as for the AVI compressors
};

class Mp4Writer {
  public:
    // Opens the encoders, then the file: written unnamed beside path, it takes the name only at
    // Commit. Null, with the reason in *problem (may be null), when the format cannot be encoded or
    // the file cannot be written (a folder missing, something other than a regular file, a file
    // the user protected).
    static std::unique_ptr<Mp4Writer> Create(const std::string& path, const Mp4Format& format,
                                             std::string* problem);
    // A writer that keeps nothing and only counts the bytes its file would take: what a given quality
    // makes of a sample of frames (sizes predicted before a render).
    static std::unique_ptr<Mp4Writer> CreateSizeTrial(const Mp4Format& format, std::string* problem);
    ~Mp4Writer();  // drops a file that was not committed
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    // Whether the disk still has room for one more frame and for finishing the file after it (the
    // index, and the frames the encoder holds back).
    bool HasRoom();
    // The last HasRoom's figures: the bytes that had to be free, and the bytes that were (-1:
    // unknown).
    int64_t roomNeeded() const;
    int64_t roomFree() const;
    // One picture: bottom-up BGR rows of DibRowBytes(width, 24) bytes. False after a write error.
    bool WriteFrame(const uint8_t* pixels);
    // The picture before, shown for one more frame (a dropped frame). False when there is none.
    bool RepeatFrame();
    // Sound in the format's PCM layout, played on after the sound before it. False after an error.
    bool WriteSound(const uint8_t* pcm, size_t bytes);
    // Hands on what the encoders hold, writes the index at the front of the file (fast start) and
    // flushes it to disk: the file plays up to the last frame written. False when it could not be
    // finished. The file has no name yet.
    bool Finish();
    // A name the finished file reads by before it is committed.
    std::string finishedFile() const;
    // Gives the finished file its name: replacing a file there, or only when the name is free. 0,
    // or the errno of the failure (EEXIST: the name is taken); the file is dropped then.
    int Commit(bool replace = true);

    int32_t frames() const;
    // The errno of the first write (or flush at Finish) that failed, or 0.
    int WriteError() const;
    // Bytes written so far; after Finish, the file's length.
    int64_t bytes() const;
    // The video encoder in use: "libx264" or "mpeg4".
    const char* videoEncoder() const;

  private:
    struct State;
    explicit Mp4Writer(std::unique_ptr<State> state);
    // The encoders and the muxer for path (null: counting only).
    static std::unique_ptr<State> OpenState(const std::string* path, const Mp4Format& format,
                                            std::string& problem);
    std::unique_ptr<State> s_;
};

// The AAC track's bits a second for the format's sound (0 for a file without sound).
int64_t Mp4SoundBitRate(const Mp4Format& format);
// Whether MP4 files can be written here (libavformat's muxer and the encoders are present).
bool Mp4Available();
// The description of the video the writer makes ("H.264 (x264)" or "MPEG-4 part 2").
std::string Mp4VideoDescription();
// Tests: false makes writers use MPEG-4 part 2 as they do where libx264 is missing.
void SetMp4H264Allowed(bool allowed);
// Tests: a disk that holds this many bytes of a file and no more (what finishing a file needs is not
// counted); negative for the real disk.
void SetMp4FreeSpaceForTests(int64_t bytes);

// What the reader finds in an MP4 (or QuickTime) file.
struct Mp4Info {
    int64_t fileLength = 0;
    int64_t durationMs = 0;
    int32_t width = 0, height = 0, depth = 0;  // 0 without a video track
    uint32_t codecTag = 0;                     // the sample entry's four characters ("avc1")
    std::string videoCodec;                    // libavcodec's name ("h264")
    int64_t frames = 0;
    int32_t rateNum = 0, rateDen = 0;  // frames a second = rateNum / rateDen; 0 / 0 unknown
    int64_t videoBitRate = 0;          // bits a second
    int32_t samplesPerSec = 0;         // 0 without a sound track
    int32_t channels = 0;
    int32_t sampleBits = 0;  // PCM sound only
    std::string soundCodec;  // "aac"
};

// Reads the headers of an MP4 file (a fragmented one's fragments too); false when path is not a
// regular file in an MP4 container. Frames and duration count only what the file really holds.
bool ReadMp4Info(const char* path, Mp4Info* info);
