// The capture file as the capture window writes it: RIFF, hdrl, movi and idx1 from the start of
// the (preallocated) file, the rest of the file left untouched; the RIFF size covers only that.
// While a capture runs, Checkpoint writes a provisional idx1 after the last chunk and patches the
// headers, so a capture that dies leaves a file readable up to the last checkpoint, and a reader
// that walks the movi list beyond it finds every chunk written whole (an empty chunk header
// always follows the last one).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/capwin/capwin.h"

// Where the movi list begins: the headers and a JUNK filler take the first 2048 bytes, so the first
// chunk starts on a 2048-byte boundary.
constexpr int64_t kCaptureMoviListAt = 2036;
constexpr int64_t kCaptureFirstChunkAt = 2048;

// Preallocates name to exactly bytes (created when missing) and marks it as holding no capture.
// false when the space cannot be had (the file's size is then as it was), or, with errno set, when
// name is no regular file or one the user protected (it is then untouched).
bool AllocateCaptureFile(const std::string& name, int64_t bytes);

class CaptureAviWriter {
  public:
    ~CaptureAviWriter();
    // Opens (never truncates) the file and writes the headers of an empty capture. audio null: none.
    // A file AllocateCaptureFile would refuse is refused (error() says why).
    bool Open(const std::string& name, const BITMAPINFOHEADER& video, uint32_t microSecPerFrame,
              const WAVEFORMATEX* audio);
    // A video frame; 0 bytes writes an empty chunk (a dropped frame).
    bool WriteVideo(const uint8_t* data, uint32_t bytes);
    bool WriteAudio(const uint8_t* data, uint32_t bytes);
    // The provisional idx1 after the last chunk, then the headers; flushed to the disk.
    bool Checkpoint();
    // The final idx1 and headers; closes the file.
    bool Close();
    // The video chunks written and indexed, and the empty ones (dropped frames) among them.
    uint32_t frames() const { return frames_; }
    uint32_t droppedFrames() const { return dropped_; }
    uint32_t audioBytes() const { return audioBytes_; }
    // Bytes of AVI data: the end of movi.
    int64_t moviEnd() const { return pos_; }
    // The errno of the first write or flush that failed since Open, or 0. A chunk whose write
    // failed is not indexed: the file's next index and headers end before it.
    int error() const { return error_; }

  private:
    bool Failed();  // records errno as the error; false
    bool WriteChunk(uint32_t ckid, uint32_t flags, const uint8_t* data, uint32_t bytes);
    bool WriteIndexAndHeaders();
    std::vector<uint8_t> Headers() const;

    int fd_ = -1;
    BITMAPINFOHEADER video_{};
    WAVEFORMATEX audio_{};
    bool hasAudio_ = false;
    uint32_t microSecPerFrame_ = 0;
    int64_t pos_ = kCaptureFirstChunkAt;
    uint32_t frames_ = 0;
    uint32_t dropped_ = 0;
    uint32_t audioBytes_ = 0;
    uint32_t largestChunk_ = 0;
    std::vector<uint8_t> index_;  // idx1 entries as stored
    bool indexAtEnd_ = false;     // the provisional idx1 begins where the next chunk goes
    int error_ = 0;
};
