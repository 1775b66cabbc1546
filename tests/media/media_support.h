// Helpers of the media tests: a RIFF builder for crafted files, the sample media made by ffmpeg,
// ffprobe and ffmpeg run through popen, and the CRC-32 that ffprobe's data hash uses.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "platform/win/wintypes.h"

namespace media_test {

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

// A chunk: tag, size (the body's length unless given), body and a pad byte for an odd length.
inline std::string Chunk(const std::string& tag, const std::string& body) {
    std::string s = tag + LE32(static_cast<uint32_t>(body.size())) + body;
    if (body.size() & 1) s += '\0';
    return s;
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

inline std::string Avih(uint32_t usPerFrame, uint32_t totalFrames, uint32_t width, uint32_t height,
                        uint32_t size = 56) {
    std::string b(size, '\0');
    WriteLE32(&b[0], usPerFrame);
    WriteLE32(&b[16], totalFrames);
    if (size >= 40) {
        WriteLE32(&b[32], width);
        WriteLE32(&b[36], height);
    }
    return Chunk("avih", b);
}

// A 56-byte stream header.
inline std::string Strh(const std::string& type, uint32_t handler, uint32_t scale, uint32_t rate,
                        uint32_t length, uint32_t quality = 0, uint32_t size = 56) {
    std::string b(size, '\0');
    b.replace(0, 4, type);
    WriteLE32(&b[4], handler);
    WriteLE32(&b[20], scale);
    WriteLE32(&b[24], rate);
    WriteLE32(&b[32], length);
    if (size >= 44) WriteLE32(&b[40], quality);
    return Chunk("strh", b);
}

// A BITMAPINFOHEADER (40 bytes) and what follows it.
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

inline std::string WaveFormat(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t tag = 1) {
    uint16_t align = static_cast<uint16_t>(channels * bits / 8);
    return LE16(tag) + LE16(channels) + LE32(rate) + LE32(rate * align) + LE16(align) + LE16(bits);
}

struct CraftedChunk {
    std::string id;  // "00dc", "01wb", ...
    uint32_t flags;
    std::string data;
};

// A small AVI laid out as the common writers do: hdrl (avih, video strl, optional audio strl),
// extra chunks, the movi list, idx1.
struct CraftedAvi {
    int32_t width = 320;
    int32_t height = 240;
    uint16_t bits = 24;
    uint32_t compression = 0;
    uint32_t handler = 0;
    uint32_t usPerFrame = 66666;
    uint32_t rate = 15;
    uint32_t scale = 1;
    uint32_t totalFrames = 0;  // 0: the number of video chunks
    uint32_t channels = 0;     // 0: no audio stream
    uint32_t samplesPerSec = 0;
    uint16_t sampleBits = 0;
    bool absoluteOffsets = false;
    bool withIndex = true;
    std::string videoFormatTail;  // bytes after the 40-byte header (a palette, a JPEG extension)
    uint32_t headerSize = 40;     // the header's own size field
    std::string hdrlExtra;        // chunks appended inside hdrl
    std::string afterHdrl;        // chunks between hdrl and movi
    std::vector<CraftedChunk> chunks;
    // Filled by Build: where each chunk's header and data lie, and the movi position.
    mutable std::vector<uint32_t> headerAt;
    mutable uint32_t moviPosition = 0;

    std::string Build() const {
        uint32_t frames = totalFrames;
        if (!frames) {
            for (const auto& c : chunks)
                if (c.id.substr(2) != "wb") frames++;
        }
        std::string video =
            Strh("vids", handler, scale, rate, frames, 7500) +
            Chunk("strf", BitmapHeader(width, height, bits, compression, headerSize) + videoFormatTail);
        std::string hdrl =
            Avih(usPerFrame, frames, static_cast<uint32_t>(width), static_cast<uint32_t>(height)) +
            List("strl", video);
        if (channels) {
            uint32_t align = channels * sampleBits / 8;
            uint32_t audioBytes = 0;
            for (const auto& c : chunks)
                if (c.id.substr(2) == "wb") audioBytes += static_cast<uint32_t>(c.data.size());
            hdrl += List(
                "strl",
                Strh("auds", 0, align, samplesPerSec * align, align ? audioBytes / align : 0) +
                    Chunk("strf", WaveFormat(static_cast<uint16_t>(channels), samplesPerSec, sampleBits)));
        }
        hdrl += hdrlExtra;
        std::string head = "RIFF" + LE32(0) + "AVI " + List("hdrl", hdrl) + afterHdrl;
        moviPosition = static_cast<uint32_t>(head.size() + 8);
        std::string movi;
        headerAt.clear();
        std::string idx;
        for (const auto& c : chunks) {
            uint32_t at = static_cast<uint32_t>(head.size() + 12 + movi.size());
            headerAt.push_back(at);
            idx += c.id + LE32(c.flags) + LE32(absoluteOffsets ? at : at - moviPosition) +
                   LE32(static_cast<uint32_t>(c.data.size()));
            movi += Chunk(c.id, c.data);
        }
        std::string file = head + List("movi", movi);
        if (withIndex) file += Chunk("idx1", idx);
        WriteLE32(&file[4], static_cast<uint32_t>(file.size() - 8));
        return file;
    }
};

// A data block whose bytes say which chunk it is.
inline std::string Payload(size_t size, int seed) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; i++) s[i] = static_cast<char>((seed * 31 + static_cast<int>(i) * 7) & 0xFF);
    return s;
}

inline std::string TestData(const std::string& name) {
    const char* dir = std::getenv("QUILLORY_TEST_DATA");
    return std::string(dir ? dir : "build/testdata") + "/" + name;
}

// Standard output of a shell command (standard error is dropped unless redirected in cmd).
inline std::string Shell(const std::string& cmd, int* status = nullptr) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof(buf), p)) > 0) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = rc;
    return out;
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// key=value lines of `ffprobe -of default=nw=1` for the entries asked, per line in order.
inline std::vector<std::pair<std::string, std::string>> ProbeEntries(const std::string& file,
                                                                     const std::string& args) {
    std::string out = Shell("ffprobe -v error " + args + " -of default=nw=1 " + Quote(file) + " 2>/dev/null");
    std::vector<std::pair<std::string, std::string>> kv;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t nl = out.find('\n', pos);
        if (nl == std::string::npos) nl = out.size();
        std::string line = out.substr(pos, nl - pos);
        size_t eq = line.find('=');
        if (eq != std::string::npos) kv.emplace_back(line.substr(0, eq), line.substr(eq + 1));
        pos = nl + 1;
    }
    return kv;
}

// The first value of each key for one stream ("v:0", "a:0").
inline std::map<std::string, std::string> ProbeStream(const std::string& file, const std::string& stream) {
    std::map<std::string, std::string> m;
    for (auto& [k, v] : ProbeEntries(file, "-select_streams " + stream + " -show_streams"))
        if (!m.count(k)) m[k] = v;
    return m;
}

struct Packet {
    uint32_t size;
    std::string crc;  // 8 hex digits
    bool key;
};

// The packets ffmpeg reads for the first video stream, in order.
inline std::vector<Packet> ProbePackets(const std::string& file, const std::string& stream = "v:0") {
    std::vector<Packet> packets;
    Packet p{};
    for (auto& [k, v] : ProbeEntries(file, "-select_streams " + stream +
                                               " -show_packets -show_data_hash CRC32 "
                                               "-show_entries packet=size,flags,data_hash")) {
        if (k == "size") {
            p = Packet{static_cast<uint32_t>(std::stoul(v)), "", false};
        } else if (k == "flags") {
            p.key = !v.empty() && v[0] == 'K';
        } else if (k == "data_hash") {
            p.crc = v.substr(v.find(':') + 1);
            packets.push_back(p);
        }
    }
    return packets;
}

inline uint32_t Crc32(const uint8_t* data, size_t n) {
    static uint32_t table[256];
    static bool ready = false;
    if (!ready) {
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
        ready = true;
    }
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

inline std::string Hex8(uint32_t v) {
    char b[9];
    std::snprintf(b, sizeof(b), "%08x", v);
    return b;
}

// "a/b" reduced, for comparing rates.
inline std::pair<uint64_t, uint64_t> Reduced(uint64_t a, uint64_t b) {
    uint64_t x = a, y = b;
    while (y) {
        uint64_t t = x % y;
        x = y;
        y = t;
    }
    return x ? std::make_pair(a / x, b / x) : std::make_pair(a, b);
}

}  // namespace media_test
