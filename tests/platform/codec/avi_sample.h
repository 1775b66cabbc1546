// Just enough AVI for the codec tests: the first video stream's format and chunks of a sample file
// (with their key-frame flags), and a writer that wraps compressed frames into a file ffmpeg reads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win/wintypes.h"

struct AviSample {
    std::vector<uint8_t> format;  // the strf bytes: BITMAPINFOHEADER and what follows it
    std::vector<std::vector<uint8_t>> frames;
    std::vector<bool> keyFrames;
    const BITMAPINFOHEADER& header() const {
        return *reinterpret_cast<const BITMAPINFOHEADER*>(format.data());
    }
};

// False when the file is missing or not an AVI with a video stream.
bool ReadAviSample(const std::string& path, AviSample& out);

// Writes one video stream of frames with the given format (40 bytes are written for it).
bool WriteAviSample(const std::string& path, const BITMAPINFOHEADER& format, FOURCC handler,
                    const std::vector<std::vector<uint8_t>>& frames, const std::vector<uint32_t>& flags);

// Runs ffmpeg on path and returns its decode as top-down bgr24 bytes (empty on failure).
std::vector<uint8_t> FfmpegDecodeBgr(const std::string& path);
