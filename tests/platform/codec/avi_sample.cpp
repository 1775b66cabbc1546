#include "avi_sample.h"

#include <cstdlib>

#include <cstdio>
#include <cstring>

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

void Put32(std::string& s, uint32_t v) {
    char b[4];
    WriteLE32(b, v);
    s.append(b, 4);
}

void PutId(std::string& s, const char (&id)[5]) {
    s.append(id, 4);
}

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
    auto n = static_cast<uint32_t>(frames.size());
    std::string avih;
    for (uint32_t v : {100000u, 0u, 0u, 0x10u, n, 0u, 1u, 0u, static_cast<uint32_t>(format.biWidth),
                       static_cast<uint32_t>(format.biHeight), 0u, 0u, 0u, 0u})
        Put32(avih, v);
    std::string strh;
    PutId(strh, "vids");
    Put32(strh, handler);
    for (uint32_t v : {0u, 0u, 0u, 1u, 10u, 0u, n, 0u, 0xFFFFFFFFu, 0u, 0u, 0u}) Put32(strh, v);
    std::string strl = "strl";
    strl += "strh";
    Put32(strl, static_cast<uint32_t>(strh.size()));
    strl += strh;
    strl += "strf";
    Put32(strl, sizeof format);
    strl.append(reinterpret_cast<const char*>(&format), sizeof format);
    std::string hdrl = "hdrl";
    hdrl += "avih";
    Put32(hdrl, static_cast<uint32_t>(avih.size()));
    hdrl += avih;
    hdrl += "LIST";
    Put32(hdrl, static_cast<uint32_t>(strl.size()));
    hdrl += strl;
    std::string movi = "movi", idx1;
    for (uint32_t i = 0; i < n; ++i) {
        Put32(idx1, FourCC("00dc"));
        Put32(idx1, i < flags.size() ? flags[i] : 0x10);
        Put32(idx1, static_cast<uint32_t>(movi.size()));
        Put32(idx1, static_cast<uint32_t>(frames[i].size()));
        movi += "00dc";
        Put32(movi, static_cast<uint32_t>(frames[i].size()));
        movi.append(reinterpret_cast<const char*>(frames[i].data()), frames[i].size());
        if (frames[i].size() & 1) movi.push_back('\0');
    }
    std::string body = "AVI ";
    body += "LIST";
    Put32(body, static_cast<uint32_t>(hdrl.size()));
    body += hdrl;
    body += "LIST";
    Put32(body, static_cast<uint32_t>(movi.size()));
    body += movi;
    body += "idx1";
    Put32(body, static_cast<uint32_t>(idx1.size()));
    body += idx1;
    std::string file = "RIFF";
    Put32(file, static_cast<uint32_t>(body.size()));
    file += body;
    WriteWholeFile(path, file);
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
