// The storyboard's thumbnails of 1080p clips beside ffmpeg: a 10-second 1920x1080 30 fps H.264 file
// with AAC sound is conformed by `quillory-cli import` (Motion JPEG at quantiser 3, as a phone's
// clip joins a project), and a project strings the clip together four times (1,200 frames). Each
// round fills 40 cells (80 x 60, every 30th frame from another start, the decoders open and no
// picture kept from before) and runs `ffmpeg -lowres 3 -i CLIP -frames:v 40 -vf scale=80:60 -f null
// -` (40 of the same frames decoded at an eighth of their size and scaled to the cell, ffmpeg's
// quickest way to the same pictures, its start-up included). Five rounds, interleaved; prints the
// medians and the best of each, wall time and, for the cells, the processor time of all threads (a
// machine busy with other work stretches the wall time). The target: 40 cells in at most 100 ms.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/memory.h"
#include "platform/gdi/gdi.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "settings/settings.h"
#include "studio/thumbnails.h"

namespace {

using namespace bench;

constexpr int kCells = 40, kCellWidth = 80, kCellHeight = 60, kCopies = 4, kClipFrames = 300;

std::string gDir, gClip;
std::map<std::string, std::vector<double>> gTimes;  // seconds, by contender

// Processor seconds of this process, every thread.
double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

bool Run(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

bool MakeProject() {
    const std::string source = gDir + "/phone.mp4", project = gDir + "/bench.cgp";
    gClip = gDir + "/phone.avi";
    if (!Run(
            "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30:duration=10 -f lavfi -i "
            "sine=frequency=440:sample_rate=48000:duration=10 -ac 2 -c:v libx264 -profile:v high -preset "
            "veryfast -pix_fmt yuv420p -c:a aac '" +
            source + "'") ||
        !Run(std::string(QUILLORY_CLI) + " import '" + source + "' '" + gClip + "'"))
        return false;
    FILE* f = std::fopen(project.c_str(), "w");
    if (!f) return false;
    std::fprintf(f, "Corvane Project 00\n");
    for (int i = 0; i < kCopies; i++) std::fprintf(f, "F0: %s\n", gClip.c_str());
    std::fclose(f);
    std::strcpy(gSettings.ProjectFileName, project.c_str());
    return ReadProject(nullptr) == 1 && gProject.totalFrames == kCopies * kClipFrames &&
           gProject.frameWidth == 1920 && gProject.frameHeight == 1080;
}

// 40 cells from frame `first` on, every 30th frame, across the clips.
double FillCells(int32_t first) {
    std::vector<CellRecord> records(kCells);
    std::vector<ThumbnailRequest> requests;
    for (int i = 0; i < kCells; i++) {
        records[static_cast<size_t>(i)] = CellRecord{};
        requests.push_back({&records[static_cast<size_t>(i)], (first + 30 * i) % gProject.totalFrames});
    }
    ForgetThumbnailPictures();
    const double cpu = CpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    FillThumbnails(requests, kCellWidth, kCellHeight);
    const double seconds = Seconds(start);
    gTimes["quillory, 40 cells (processor)"].push_back(CpuSeconds() - cpu);
    for (CellRecord& r : records) MyFree(r.image);
    return seconds;
}

void BM_Round(benchmark::State& state) {
    static int round = 0;
    for (auto _ : state) {
        const double wall = FillCells(7 * round++);
        gTimes["quillory, 40 cells"].push_back(wall);
        const auto start = std::chrono::steady_clock::now();
        if (!Run("ffmpeg -nostdin -v error -lowres 3 -i '" + gClip +
                 "' -frames:v 40 -vf scale=80:60 -f null -"))
            state.SkipWithError("ffmpeg failed");
        gTimes["ffmpeg -lowres 3, 40 frames"].push_back(Seconds(start));
    }
}
BENCHMARK(BM_Round)->Iterations(1)->Repetitions(5)->Unit(benchmark::kMillisecond)->UseRealTime();

void Report() {
    std::printf("\n%-34s %10s %10s\n", "", "median", "best");
    for (auto& [name, v] : gTimes) {
        double best = v.empty() ? 0 : v.front();
        for (double t : v) best = std::min(best, t);
        std::printf("%-34s %7.1f ms %7.1f ms\n", name.c_str(), 1000 * Median(v), 1000 * best);
    }
    std::printf("40 thumbnails of 1080p clips: %.1f ms (target 100 ms or less)\n",
                1000 * Median(gTimes["quillory, 40 cells"]));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char dir[] = "/tmp/quillory-thumbnail-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    gDir = dir;
    EnsureGuiApplication();
    InstallGdiTextExtentProvider();
    gSettings.ShowEdits = 1;
    int rc = 1;
    if (MakeProject()) {
        FillCells(0);  // opens the decoders
        benchmark::RunSpecifiedBenchmarks();
        Report();
        rc = 0;
    } else {
        std::fprintf(stderr, "thumbnail_bench: could not make the 1080p clip or its project\n");
    }
    CloseThumbnailDecoder();
    ResetProjectForTests();
    std::system(("rm -rf '" + gDir + "'").c_str());
    benchmark::Shutdown();
    return rc;
}
