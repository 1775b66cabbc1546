#include "avi_sample.h"

#include <cstdlib>

#include <cstdio>
#include <cstring>

#include "support/crafted.h"
#include "support/scripted.h"

namespace {

struct Walker {
    const std::string& data;
    AviSample& out;
    std::vector<uint32_t> chunkFlags;
    bool inVideo = false;

    void Walk(size_t pos, size_t end, int depth) {
        while (depth < 4 && pos + 8 <= end) {
            FOURCC id = ReadLE32(&data[pos]);
            uint32_t size = ReadLE32(&data[pos + 4]);
            size_t body = pos + 8;
            if (size > end - body) size = static_cast<uint32_t>(end - body);
            if (id == FourCC("LIST") || id == FourCC("RIFF")) {
                if (size >= 4) Walk(body + 4, body + size, depth + 1);
            } else if (id == FourCC("strh") && size >= 4) {
                inVideo = ReadLE32(&data[body]) == FourCC("vids") && out.format.empty();
            } else if (id == FourCC("strf") && inVideo && size >= sizeof(BITMAPINFOHEADER)) {
                out.format.assign(data.begin() + static_cast<long>(body),
                                  data.begin() + static_cast<long>(body + size));
                inVideo = false;
            } else if (id == FourCC("00dc") || id == FourCC("00db")) {
                out.frames.emplace_back(data.begin() + static_cast<long>(body),
                                        data.begin() + static_cast<long>(body + size));
            } else if (id == FourCC("idx1")) {
                for (size_t e = body; e + 16 <= body + size; e += 16) {
                    FOURCC ck = ReadLE32(&data[e]);
                    if (ck == FourCC("00dc") || ck == FourCC("00db"))
                        chunkFlags.push_back(ReadLE32(&data[e + 4]));
                }
            }
            pos = body + size + (size & 1);
        }
    }
};

}  // namespace

bool ReadAviSample(const std::string& path, AviSample& out) {
    std::string data = ReadWholeFile(path);
    if (data.size() < 12 || data.compare(0, 4, "RIFF") != 0) return false;
    out = AviSample{};
    Walker w{data, out, {}};
    w.Walk(0, data.size(), 0);
    for (size_t i = 0; i < out.frames.size(); ++i)
        out.keyFrames.push_back(i < w.chunkFlags.size() && (w.chunkFlags[i] & 0x10));
    return !out.format.empty();
}

bool WriteAviSample(const std::string& path, const BITMAPINFOHEADER& format, FOURCC handler,
                    const std::vector<std::vector<uint8_t>>& frames, const std::vector<uint32_t>& flags) {
    crafted::CraftedAvi avi;
    avi.width = format.biWidth, avi.height = format.biHeight, avi.bits = format.biBitCount;
    avi.compression = format.biCompression, avi.handler = handler, avi.usPerFrame = 100000, avi.rate = 10;
    for (size_t i = 0; i < frames.size(); ++i)
        avi.chunks.push_back(
            {"00dc", i < flags.size() ? flags[i] : 0x10u, std::string(frames[i].begin(), frames[i].end())});
    WriteWholeFile(path, avi.Build());
    return true;
}

std::vector<uint8_t> FfmpegDecodeBgr(const std::string& path) {
    std::string out = path + ".ffmpeg.bgr";
    std::string cmd =
        "ffmpeg -nostdin -v error -y -i '" + path + "' -f rawvideo -pix_fmt bgr24 '" + out + "'";
    if (std::system(cmd.c_str()) != 0) return {};
    std::string data = ReadWholeFile(out);
    std::remove(out.c_str());
    return std::vector<uint8_t>(data.begin(), data.end());
}
