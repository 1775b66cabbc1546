// Peak memory of `quillory-cli frame` on a project of one 640 x 480 clip with 100 and with 2,000
// titles (a line of 20-pixel text each, at the nine places in turn, all over the frame composed):
// the child's ru_maxrss, printed beside the figure this benchmark measured when every title kept a
// stencil of the whole frame. Target: under 200 MB at 2,000 titles.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "media/aviwriter.h"

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr int32_t kFrames = 10;

struct Reference {
    int titles;
    double megabytes;  // before
};
constexpr Reference kBefore[] = {{100, 134.2}, {2000, 1805.4}};

bool WriteClip(const std::string& path) {
    const int32_t h = MyOpenWAVI(path.c_str(), kWidth, kHeight, 24, -kFrames, nullptr, 0, 100000, 0, 0, 0, 0);
    if (!h) return false;
    std::vector<uint8_t> frame(kWidth * kHeight * 3);
    for (int32_t n = 0; n < kFrames; n++) {
        for (size_t i = 0; i < frame.size(); i++) frame[i] = static_cast<uint8_t>(i / 3 + n);
        MyWriteChunk(h, frame.data(), static_cast<int32_t>(frame.size()), FourCC("00db"), 0x10);
    }
    return MyCloseAVI(h, kFrames) == 1;
}

// Runs `quillory-cli frame` on the project; its peak resident size in megabytes, or -1.
double PeakOfFrame(const std::string& project, const std::string& out) {
    const pid_t child = fork();
    if (child < 0) return -1;
    if (child == 0) {
        std::freopen("/dev/null", "w", stderr);
        execl(QUILLORY_CLI, QUILLORY_CLI, "frame", project.c_str(), "5", out.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

}  // namespace

int main() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char pattern[] = "/tmp/quillory-title-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    const std::string dir = pattern, clip = dir + "/clip.avi", out = dir + "/frame.bmp";
    if (!WriteClip(clip)) return 1;
    int failed = 0;
    for (const Reference& ref : kBefore) {
        const std::string project = dir + "/titles" + std::to_string(ref.titles) + ".cgp";
        std::FILE* f = std::fopen(project.c_str(), "w");
        if (!f) return 1;
        std::fprintf(f, "Corvane Project 00\nF0: %s\n", clip.c_str());
        for (int i = 0; i < ref.titles; i++)
            std::fprintf(
                f, "R0: 1,%d,2\nT0: %d,%d\nT1: Title number %d\nT2: Arial\nT3: 0,-20,400,0,1,150,65535\n",
                kFrames, i % 3, i / 3 % 3, i + 1);
        std::fclose(f);
        const double peak = PeakOfFrame(project, out);
        if (peak < 0) {
            std::fprintf(stderr, "title_memory_bench: quillory-cli frame failed on %d titles\n", ref.titles);
            failed = 1;
        }
        std::printf("%5d titles: peak %7.1f MB (before %7.1f MB)\n", ref.titles, peak, ref.megabytes);
        std::remove(project.c_str());
    }
    std::remove(out.c_str());
    std::remove(clip.c_str());
    rmdir(dir.c_str());
    return failed;
}
