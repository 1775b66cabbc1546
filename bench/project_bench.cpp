// Reading a project of 1,000 and 10,000 small clips (ten 16 x 16 frames with 8 kHz sound each):
// the time ReadProject takes, and the time closing the project takes, each the median of three
// runs, printed beside the figures this benchmark measured before loading became linear in the
// clips; then the time to read one frame in order through a ChainFrames (the render's way) beside
// getFrameData, which checks the whole chain at every call.
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_support.h"
#include "media/aviwriter.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "settings/settings.h"

namespace {

constexpr int32_t kSide = 16;
constexpr int32_t kFramesPerClip = 10;
constexpr int32_t kSoundBytesPerFrame = 800;  // 8 kHz, 8 bits, mono, 10 frames a second
constexpr int kRuns = 3;

struct Reference {
    int32_t clips;
    double load;   // seconds
    double close;  // seconds
};
// Measured by this benchmark before the fix (the list's buffers sized by rescanning every clip at
// each append, and the memory monitor searching a list of every live block at each release).
constexpr Reference kBefore[] = {{1000, 0.080, 0.096}, {10000, 5.82, 26.8}};

bool WriteClip(const std::string& path) {
    const int32_t h =
        MyOpenWAVI(path.c_str(), kSide, kSide, 24, -kFramesPerClip, nullptr, 0, 100000, 8000, 1, 8, 0);
    if (!h) return false;
    std::vector<uint8_t> frame(kSide * kSide * 3, 0x40), sound(kSoundBytesPerFrame, 0x80);
    for (int32_t n = 0; n < kFramesPerClip; n++) {
        MyWriteChunk(h, sound.data(), kSoundBytesPerFrame, FourCC("01wb"), 0);
        MyWriteChunk(h, frame.data(), static_cast<int32_t>(frame.size()), FourCC("00db"), 0x10);
    }
    return MyCloseAVI(h, kFramesPerClip) == 1;
}

volatile int64_t gSink;  // keeps the reads from being optimised away

// Seconds per frame reading the project's frames in order: every frame through a ChainFrames (what
// the render does), and every 100th through getFrameData, which checks the whole chain at each call.
void ReadFrames(AVIlist* head, int32_t total, double* chain, double* walk) {
    int64_t sum = 0;
    auto start = std::chrono::steady_clock::now();
    ChainFrames frames(head);
    for (int32_t n = 1; n <= total; n++) sum += frames.FrameData(n)[0] + frames.SinceKeyFrame(n);
    *chain = bench::Seconds(start) / total;
    start = std::chrono::steady_clock::now();
    int32_t read = 0;
    for (int32_t n = 1; n <= total; n += 100, read++)
        sum += getFrameData(n, head)[0] + FramesSinceKeyFrame(n, head);
    *walk = bench::Seconds(start) / read;
    gSink = sum;
}

}  // namespace

int main() {
    SetMessageBoxProvider(std::make_shared<bench::SilentBoxes>("project_bench"));
    // Every clip may hold a descriptor while the project is open.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    char pattern[] = "/tmp/quillory-project-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string dir = pattern;
    const std::string clip = dir + "/clip.avi";
    if (!WriteClip(clip)) return 1;

    std::vector<std::string> made;
    for (const Reference& ref : kBefore) {
        const std::string project = dir + "/p" + std::to_string(ref.clips) + ".cgp";
        std::string text = std::string(kProjectMagic) + "\n";
        for (int32_t i = static_cast<int32_t>(made.size()); i < ref.clips; i++) {
            made.push_back(dir + "/c" + std::to_string(i) + ".avi");
            if (link(clip.c_str(), made.back().c_str()) != 0) return 1;
        }
        for (int32_t i = 0; i < ref.clips; i++) text += "F0: " + made[static_cast<size_t>(i)] + "\n";
        std::FILE* f = std::fopen(project.c_str(), "w");
        if (!f) return 1;
        std::fputs(text.c_str(), f);
        std::fclose(f);

        std::vector<double> loads, closes;
        double chain = 0, walk = 0;
        for (int run = 0; run < kRuns; run++) {
            std::strcpy(gSettings.ProjectFileName, project.c_str());
            auto start = std::chrono::steady_clock::now();
            const int32_t ok = ReadProject(nullptr);
            loads.push_back(bench::Seconds(start));
            if (!ok || gProject.fileCount != ref.clips) {
                std::fprintf(stderr, "project_bench: %ld of %ld clips loaded\n",
                             static_cast<long>(gProject.fileCount), static_cast<long>(ref.clips));
                return 1;
            }
            if (run == kRuns - 1) ReadFrames(gProject.head, gProject.totalFrames, &chain, &walk);
            start = std::chrono::steady_clock::now();
            ResetProjectForTests();
            closes.push_back(bench::Seconds(start));
        }
        std::printf("%6ld clips: load %8.3f s (before %8.3f s), close %7.3f s (before %7.3f s)\n",
                    static_cast<long>(ref.clips), bench::Median(loads), ref.load, bench::Median(closes),
                    ref.close);
        std::printf(
            "              a frame read in order: %6.2f us through ChainFrames, %8.2f us through "
            "getFrameData\n",
            chain * 1e6, walk * 1e6);
        std::remove(project.c_str());
    }
    for (const std::string& name : made) unlink(name.c_str());
    unlink(clip.c_str());
    rmdir(dir.c_str());
    return 0;
}
