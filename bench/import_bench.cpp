// Conforming beside ffmpeg: a 1920x1080, 30 frames a second H.264 (High profile, libx264) file with
// 48 kHz stereo AAC, QUILLORY_BENCH_SECONDS long (default 60), conformed by `quillory-cli import`
// as a first clip beside `ffmpeg -i IN -c:v mjpeg -q:v 3 -c:a pcm_s16le OUT.avi`, then into a
// 640x480 15 fps clip beside ffmpeg with the equivalent scale, pad and fps filters; ffmpeg with its
// default threads. Three rounds, interleaved; prints the medians of the wall times, their ratio and
// both file sizes. The target is a ratio of at most 1.0.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_support.h"

namespace {

using namespace bench;

constexpr int kRounds = 3;

double Timed(const std::string& cmd) {
    const auto start = std::chrono::steady_clock::now();
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", cmd.c_str());
    return Seconds(start);
}

long long SizeOf(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

}  // namespace

int main() {
    const char* env = std::getenv("QUILLORY_BENCH_SECONDS");
    const int seconds = env && std::atoi(env) > 0 ? std::atoi(env) : 60;
    char pattern[] = "/tmp/import_bench.XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string dir = pattern;
    const std::string source = dir + "/source.mp4";
    const std::string make =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=" +
        std::to_string(seconds) +
        " -f lavfi -i sine=frequency=440:sample_rate=48000:duration=" + std::to_string(seconds) +
        " -ac 2 -c:v libx264 -profile:v high -preset veryfast -pix_fmt yuv420p -c:a aac '" + source + "'";
    std::printf("making %d s of 1920x1080 H.264 ...\n", seconds);
    std::fflush(stdout);
    if (std::system(make.c_str()) != 0) return 1;

    struct Case {
        const char* name;
        std::string ours, theirs;
        std::vector<double> oursTimes, theirTimes;
    };
    const std::string cli = QUILLORY_CLI;
    std::vector<Case> cases = {
        {"first clip (1920x1080 30 fps)",
         cli + " import '" + source + "' '" + dir + "/ours1.avi' >/dev/null 2>&1",
         "ffmpeg -nostdin -v error -y -i '" + source + "' -c:v mjpeg -q:v 3 -c:a pcm_s16le '" + dir +
             "/theirs1.avi'",
         {},
         {}},
        {"640x480 15 fps project",
         cli + " import '" + source + "' '" + dir + "/ours2.avi' --size 640x480 --fps 15 >/dev/null 2>&1",
         "ffmpeg -nostdin -v error -y -i '" + source +
             "' -vf "
             "'scale=640:480:force_original_aspect_ratio=decrease,pad=640:480:(ow-iw)/2:(oh-ih)/2,fps=15' "
             "-c:v mjpeg -q:v 3 -c:a pcm_s16le '" +
             dir + "/theirs2.avi'",
         {},
         {}},
    };
    for (int round = 0; round < kRounds; ++round)
        for (Case& c : cases) {
            c.oursTimes.push_back(Timed(c.ours));
            c.theirTimes.push_back(Timed(c.theirs));
        }
    int n = 1;
    for (Case& c : cases) {
        const double ours = Median(c.oursTimes), theirs = Median(c.theirTimes);
        std::printf("%s: ours %.2f s (%lld bytes), ffmpeg %.2f s (%lld bytes), ratio %.2f\n", c.name, ours,
                    SizeOf(dir + "/ours" + std::to_string(n) + ".avi"), theirs,
                    SizeOf(dir + "/theirs" + std::to_string(n) + ".avi"), theirs > 0 ? ours / theirs : 0);
        ++n;
    }
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
