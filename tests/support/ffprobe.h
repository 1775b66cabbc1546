// The sample media the test set-up makes with ffmpeg, and ffprobe's view of a file: stream fields and
// each packet's size, key flag and CRC-32.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "support/scripted.h"

namespace media_test {

inline std::string TestData(const std::string& name) {
    const char* dir = std::getenv("QUILLORY_TEST_DATA");
    return std::string(dir ? dir : "build/testdata") + "/" + name;
}

// Standard output of a shell command; the path is quoted by the caller with Quote.
inline std::string Shell(const std::string& cmd, int* status = nullptr) {
    std::string out;
    Deadline deadline("the command " + cmd);
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    int rc = pclose(p);
    if (status) *status = rc;
    return out;
}

inline std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

// key=value lines of ffprobe for one stream ("v:0", "a:0"), in order.
inline std::vector<std::pair<std::string, std::string>> Probe(const std::string& file,
                                                              const std::string& args) {
    std::string out = Shell("ffprobe -v error " + args + " -of default=nw=1 " + Quote(file) + " 2>/dev/null");
    std::vector<std::pair<std::string, std::string>> kv;
    for (size_t pos = 0, nl; pos < out.size(); pos = nl + 1) {
        nl = out.find('\n', pos);
        if (nl == std::string::npos) nl = out.size();
        std::string line = out.substr(pos, nl - pos);
        if (size_t eq = line.find('='); eq != std::string::npos)
            kv.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return kv;
}

inline std::map<std::string, std::string> ProbeStream(const std::string& file, const std::string& stream) {
    std::map<std::string, std::string> m;
    for (auto& [k, v] : Probe(file, "-select_streams " + stream + " -show_streams")) m.emplace(k, v);
    return m;
}

struct Packet {
    uint32_t size;
    std::string crc;  // 8 hex digits
    bool key;
};

inline std::vector<Packet> ProbePackets(const std::string& file, const std::string& stream = "v:0") {
    std::vector<Packet> packets;
    Packet p{};
    for (auto& [k, v] :
         Probe(file, "-select_streams " + stream +
                         " -show_packets -show_data_hash CRC32 -show_entries packet=size,flags,data_hash")) {
        if (k == "size") p = Packet{static_cast<uint32_t>(std::stoul(v)), "", false};
        if (k == "flags") p.key = !v.empty() && v[0] == 'K';
        if (k == "data_hash") p.crc = v.substr(v.find(':') + 1), packets.push_back(p);
    }
    return packets;
}

// The CRC-32 of ffprobe's data hash, as 8 hex digits.
inline std::string Crc32(const uint8_t* data, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) {
        c ^= data[i];
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    char b[9];
    std::snprintf(b, sizeof b, "%08x", c ^ 0xFFFFFFFFu);
    return b;
}

// "a/b" in lowest terms, as ffprobe prints rates.
inline std::string Ratio(uint64_t a, uint64_t b) {
    uint64_t x = a, y = b;
    while (y) x = std::exchange(y, x % y);
    return x ? std::to_string(a / x) + "/" + std::to_string(b / x)
             : std::to_string(a) + "/" + std::to_string(b);
}

}  // namespace media_test
