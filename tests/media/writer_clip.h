// Clips made with the program's own writer: moving 24-bit frames (or 8-bit patterns) with audio
// pieces before each frame.
#pragma once

#include <string>
#include <vector>

#include "media/aviwriter.h"
#include "support/crafted.h"

// A bottom-up 24-bit frame with a pattern that moves with n.
inline std::string Frame24(int32_t w, int32_t h, int n) {
    const int32_t row = (w * 3 + 3) & ~3;
    std::string f(static_cast<size_t>(row * h), '\0');
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            char* p = &f[static_cast<size_t>(y * row + x * 3)];
            p[0] = static_cast<char>(x * 4 + n * 8), p[1] = static_cast<char>(y * 4),
            p[2] = static_cast<char>(x + y + n);
        }
    return f;
}

struct ClipLayout {
    int32_t w, h, bits, frames, usPerFrame, samplesPerSec, channels, sampleBits;
    std::vector<int32_t> audioPieces;
};

// Writes the clip (the index sized for indexFrames frames when not 0) and returns its path.
inline std::string WriteClip(const std::string& path, const ClipLayout& c, int32_t indexFrames = 0) {
    int32_t handle = MyOpenWAVI(path.c_str(), c.w, c.h, c.bits, -(indexFrames ? indexFrames : c.frames),
                                nullptr, 0, c.usPerFrame, c.samplesPerSec, c.channels, c.sampleBits, 0);
    for (int n = 0, serial = 0; n < c.frames; n++) {
        for (int32_t piece : c.audioPieces) {
            std::string a = crafted::Payload(static_cast<size_t>(piece), 500 + serial++);
            MyWriteChunk(handle, a.data(), piece, FourCC("01wb"), 0);
        }
        std::string v = c.bits == 24 ? Frame24(c.w, c.h, n)
                                     : crafted::Payload(static_cast<size_t>(((c.w + 3) & ~3) * c.h), n);
        MyWriteChunk(handle, v.data(), static_cast<int32_t>(v.size()), FourCC("00db"), 0x10);
    }
    MyCloseAVI(handle, c.frames);
    return path;
}
