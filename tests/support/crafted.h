// Files built byte by byte for tests: RIFF chunks, a small AVI laid out as the common writers do,
// WAVE formats and BMP pictures. Fields a test wants to spoil are patched on the returned bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/wintypes.h"

namespace crafted {

inline std::string LE32(uint32_t v) {
    std::string s(4, '\0');
    WriteLE32(s.data(), v);
    return s;
}
inline std::string LE16(uint16_t v) {
    std::string s(2, '\0');
    WriteLE16(s.data(), v);
    return s;
}

// A chunk with its body's length and a pad byte for an odd length.
inline std::string Chunk(const std::string& tag, const std::string& body) {
    return tag + LE32(static_cast<uint32_t>(body.size())) + body + std::string(body.size() & 1, '\0');
}
// A chunk whose size field says something else than its body's length (no pad added).
inline std::string ChunkSized(const std::string& tag, uint32_t size, const std::string& body) {
    return tag + LE32(size) + body;
}
inline std::string List(const std::string& type, const std::string& body) {
    return Chunk("LIST", type + body);
}
inline std::string Riff(const std::string& form, const std::string& body) {
    return Chunk("RIFF", form + body);
}

inline std::string Avih(uint32_t usPerFrame, uint32_t frames, uint32_t width, uint32_t height,
                        uint32_t size = 56) {
    std::string b(size, '\0');
    WriteLE32(&b[0], usPerFrame);
    WriteLE32(&b[16], frames);
    if (size >= 40) WriteLE32(&b[32], width), WriteLE32(&b[36], height);
    return Chunk("avih", b);
}

inline std::string Strh(const std::string& type, uint32_t handler, uint32_t scale, uint32_t rate,
                        uint32_t length, uint32_t quality = 0) {
    std::string b(56, '\0');
    b.replace(0, 4, type);
    WriteLE32(&b[4], handler);
    WriteLE32(&b[20], scale);
    WriteLE32(&b[24], rate);
    WriteLE32(&b[32], length);
    WriteLE32(&b[40], quality);
    return Chunk("strh", b);
}

// A 40-byte BITMAPINFOHEADER whose own size field says headerSize.
inline std::string BitmapHeader(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                                uint32_t headerSize = 40) {
    std::string b(40, '\0');
    WriteLE32(&b[0], headerSize);
    WriteLE32(&b[4], static_cast<uint32_t>(width));
    WriteLE32(&b[8], static_cast<uint32_t>(height));
    WriteLE16(&b[12], 1);
    WriteLE16(&b[14], bits);
    WriteLE32(&b[16], compression);
    return b;
}

inline std::string WaveFormat(uint16_t channels, uint32_t rate, uint16_t bits) {
    uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    return LE16(1) + LE16(channels) + LE32(rate) + LE32(rate * align) + LE16(align) + LE16(bits);
}

// A data block whose bytes say which chunk it is.
inline std::string Payload(size_t size, int seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++) s[i] = static_cast<char>((seed * 31 + static_cast<int>(i) * 7) & 0xFF);
    return s;
}

struct CraftedChunk {
    std::string id;  // "00dc", "01wb", ...
    uint32_t flags;
    std::string data;
};

// hdrl (avih, video strl, optional audio strl, hdrlExtra), afterHdrl, the movi list, idx1.
struct CraftedAvi {
    int32_t width = 320, height = 240;
    uint16_t bits = 24;
    uint32_t compression = 0, handler = 0;
    uint32_t usPerFrame = 66666, rate = 15, scale = 1;
    uint32_t channels = 0, samplesPerSec = 0;  // no audio stream while channels is 0
    uint16_t sampleBits = 0;
    bool absoluteOffsets = false, withIndex = true;
    uint32_t headerSize = 40;
    std::string videoFormatTail, hdrlExtra, afterHdrl;
    std::vector<CraftedChunk> chunks;
    // Filled by Build: each chunk header's position and the movi position.
    mutable std::vector<uint32_t> headerAt;
    mutable uint32_t moviPosition = 0;

    std::string Build() const {
        uint32_t frames = 0, audioBytes = 0;
        for (const auto& c : chunks)
            c.id.substr(2) == "wb" ? audioBytes += static_cast<uint32_t>(c.data.size()) : frames++;
        std::string hdrl =
            Avih(usPerFrame, frames, static_cast<uint32_t>(width), static_cast<uint32_t>(height)) +
            List("strl", Strh("vids", handler, scale, rate, frames, 7500) +
                             Chunk("strf", BitmapHeader(width, height, bits, compression, headerSize) +
                                               videoFormatTail));
        if (channels) {
            uint32_t align = channels * sampleBits / 8;
            hdrl += List(
                "strl",
                Strh("auds", 0, align, samplesPerSec * align, align ? audioBytes / align : 0) +
                    Chunk("strf", WaveFormat(static_cast<uint16_t>(channels), samplesPerSec, sampleBits)));
        }
        std::string head = "RIFF" + LE32(0) + "AVI " + List("hdrl", hdrl + hdrlExtra) + afterHdrl;
        moviPosition = static_cast<uint32_t>(head.size() + 8);
        std::string movi, idx;
        headerAt.clear();
        for (const auto& c : chunks) {
            uint32_t at = static_cast<uint32_t>(head.size() + 12 + movi.size());
            headerAt.push_back(at);
            idx += c.id + LE32(c.flags) + LE32(absoluteOffsets ? at : at - moviPosition) +
                   LE32(static_cast<uint32_t>(c.data.size()));
            movi += Chunk(c.id, c.data);
        }
        std::string file = head + List("movi", movi) + (withIndex ? Chunk("idx1", idx) : "");
        WriteLE32(&file[4], static_cast<uint32_t>(file.size() - 8));
        return file;
    }
};

// Column x of row y (counted from the bottom) of every 24-bit picture Bmp draws.
inline std::array<uint8_t, 3> BmpPixel(int32_t x, int32_t y) {
    return {static_cast<uint8_t>(x), static_cast<uint8_t>(y), 7};
}

struct BmpLayout {
    int32_t width = 4, height = 2;  // a negative height stores the rows top-down
    uint16_t bits = 24;
    bool core = false;  // the 12-byte core header with 3-byte colours
    uint32_t compression = 0;
    uint32_t palette = 0;     // colour entries written (and the header's colours-used field)
    bool padRows = true;      // rows padded to 4 bytes, as BMP files are
    std::string pixels = {};  // instead of the drawn rows
};

// A BMP file: file header, info header, palette, pixels (24-bit: BmpPixel; others: index x).
inline std::string Bmp(const BmpLayout& s) {
    const int32_t rows = s.height < 0 ? -s.height : s.height;
    std::string h;
    if (s.core) {
        h = LE32(12) + LE16(static_cast<uint16_t>(s.width)) + LE16(static_cast<uint16_t>(s.height)) +
            LE16(1) + LE16(s.bits);
    } else {
        h = BitmapHeader(s.width, s.height, s.bits, s.compression);
        WriteLE32(&h[32], s.palette);
    }
    for (uint32_t i = 0; i < s.palette; i++) h.append(s.core ? 3 : 4, static_cast<char>(i));
    std::string pixels = s.pixels;
    const int64_t rowBytes = static_cast<int64_t>(s.width) * s.bits / 8;
    for (int32_t r = 0; s.pixels.empty() && r < rows && rowBytes < (1 << 20); r++) {
        std::string line(static_cast<size_t>(s.padRows ? (rowBytes + 3) / 4 * 4 : rowBytes), '\0');
        for (int32_t x = 0; x < s.width; x++) {
            if (s.bits == 24)
                line.replace(
                    static_cast<size_t>(x) * 3, 3,
                    reinterpret_cast<const char*>(BmpPixel(x, s.height < 0 ? rows - 1 - r : r).data()), 3);
            else if (s.bits == 8)
                line[static_cast<size_t>(x)] = static_cast<char>(x);
        }
        pixels += line;
    }
    const auto off = static_cast<uint32_t>(14 + h.size());
    return "BM" + LE32(off + static_cast<uint32_t>(pixels.size())) + LE32(0) + LE32(off) + h + pixels;
}

}  // namespace crafted
