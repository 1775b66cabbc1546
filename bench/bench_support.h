// What the benchmarks share: wall-clock seconds, medians, message boxes that answer by themselves,
// and the Motion JPEG clip the render benchmarks work on.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/diag.h"

namespace bench {

inline double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Answers every question No (the offer to view the file) and prints every other box.
class SilentBoxes : public MessageBoxProvider {
  public:
    explicit SilentBoxes(std::string who) : who_(std::move(who)) {}
    int Show(HWND, const std::string& text, const std::string&, unsigned style) override {
        if ((style & MB_TYPEMASK) == MB_YESNO) return IDNO;
        std::fprintf(stderr, "%s: %s\n", who_.c_str(), text.c_str());
        return IDOK;
    }

  private:
    std::string who_;
};

// 60 s of ffmpeg's test source at 640 x 480, 30 frames a second, as Motion JPEG (quantiser 3) with
// 11025 Hz 8-bit mono sound.
inline bool MakeMjpegClip(const std::string& path) {
    const std::string cmd =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=640x480:rate=30:duration=60 -f lavfi -i "
        "sine=frequency=440:sample_rate=11025:duration=60 -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_u8 "
        "-ac 1 '" +
        path + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

}  // namespace bench
