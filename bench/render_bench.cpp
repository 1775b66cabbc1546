// Rendering beside ffmpeg, on one clip and one project: a 640 x 480, 30 frames a second, 60-second
// Motion JPEG clip with 11025 Hz 8-bit sound, titled over 180 of its 1800 frames (10%).
//
// Each round runs, one after the other:
// - the full transcode, `quillory-cli render --codec MJPG --quality 97 --no-copy` (quantiser 3, every
//   frame decoded, the title laid on, compressed on as many threads as there are processors);
// - the same with one thread (`--threads 1`), the one-thread figure the pipeline started from;
// - `ffmpeg -i SRC -c:v mjpeg -q:v 3 -c:a copy OUT.avi` with ffmpeg's default threads, and with
//   `-threads 1` on both sides;
// - the render with copying on (`--copy`): untitled frames copied as stored;
// - the storyboard's thumbnail cache filling 40 cells (80 x 60) of the clip with the edits shown,
//   the decoders open and no picture kept from before.
// Rounds are interleaved so that other work on the machine weighs on every contender alike; the
// medians and the best of each, and the ratios to the targets, are printed at the end.
//
// Targets: full transcode at most 1.0 x ffmpeg with its default threads; the copying render at least
// 10 x faster than ffmpeg's transcode; 40 thumbnails in at most 50 ms.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/diag.h"
#include "core/memory.h"
#include "platform/gdi/gdi.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "render/titles.h"
#include "settings/settings.h"
#include "studio/thumbnails.h"

namespace {

using namespace bench;

constexpr int kCells = 40;
constexpr int kCellWidth = 80, kCellHeight = 60;

std::string gDir, gSource, gProjectFile;
std::map<std::string, std::vector<double>> gTimes;  // seconds, by contender

bool Run(const std::string& cmd) {
    return std::system((cmd + " >/dev/null 2>&1").c_str()) == 0;
}

bool MakeSource() {
    gSource = gDir + "/source.avi";
    gProjectFile = gDir + "/bench.cgp";
    if (!MakeMjpegClip(gSource)) return false;
    FILE* f = std::fopen(gProjectFile.c_str(), "w");
    if (!f) return false;
    std::fprintf(
        f,
        "Corvane Project 00\nF0: %s\nR0: 101,280,2\nT0: 2,0\nT1: Quillory render benchmark\nT2: Arial\n"
        "T3: 0,-36,700,0,0,180,65535\n",
        gSource.c_str());
    std::fclose(f);
    return true;
}

void Time(const std::string& name, const std::string& cmd, benchmark::State& state) {
    const auto start = std::chrono::steady_clock::now();
    if (!Run(cmd)) state.SkipWithError((name + " failed").c_str());
    gTimes[name].push_back(Seconds(start));
}

// The project in this process, for the thumbnail cache.
bool LoadProject() {
    std::strcpy(gSettings.ProjectFileName, gProjectFile.c_str());
    return ReadProject(nullptr) == 1 && gProject.totalFrames == 1800;
}

// 40 cells from frame `first` on, every third frame (so some fall on the title).
double FillCells(int32_t first) {
    std::vector<CellRecord> records(kCells);
    std::vector<ThumbnailRequest> requests;
    for (int i = 0; i < kCells; i++) {
        records[static_cast<size_t>(i)] = CellRecord{};
        requests.push_back({&records[static_cast<size_t>(i)], first + 3 * i});
    }
    ForgetThumbnailPictures();
    const auto start = std::chrono::steady_clock::now();
    FillThumbnails(requests, kCellWidth, kCellHeight);
    const double seconds = Seconds(start);
    for (CellRecord& r : records) MyFree(r.image);
    return seconds;
}

void BM_Round(benchmark::State& state) {
    const std::string cli = std::string(QUILLORY_CLI) + " render '" + gProjectFile + "' '" + gDir;
    const std::string ffmpeg = "ffmpeg -nostdin -v error -y ";
    static int round = 0;
    for (auto _ : state) {
        Time("quillory full transcode", cli + "/full.avi' --codec MJPG --quality 97 --no-copy", state);
        Time("ffmpeg default threads",
             ffmpeg + "-i '" + gSource + "' -c:v mjpeg -q:v 3 -c:a copy '" + gDir + "/ffmpeg.avi'", state);
        Time("quillory copying", cli + "/copy.avi' --codec MJPG --quality 97 --copy", state);
        Time("ffmpeg -threads 1",
             ffmpeg + "-threads 1 -i '" + gSource + "' -threads 1 -c:v mjpeg -q:v 3 -c:a copy '" + gDir +
                 "/ffmpeg1.avi'",
             state);
        Time("quillory one thread", cli + "/one.avi' --codec MJPG --quality 97 --no-copy --threads 1", state);
        gTimes["thumbnails, 40 cells"].push_back(FillCells(1 + 120 * (round++ % 10)));
    }
}
BENCHMARK(BM_Round)->Iterations(1)->Repetitions(5)->Unit(benchmark::kSecond)->UseRealTime();

double Best(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}

void Report() {
    std::printf("\n%-26s %10s %10s\n", "", "median", "best");
    for (auto& [name, v] : gTimes) std::printf("%-26s %9.3f s %9.3f s\n", name.c_str(), Median(v), Best(v));
    auto m = [](const char* n) { return Median(gTimes[n]); };
    const double full = m("quillory full transcode"), ffmpeg = m("ffmpeg default threads");
    const double copying = m("quillory copying"), one = m("quillory one thread"),
                 ffmpeg1 = m("ffmpeg -threads 1");
    std::printf("full transcode / ffmpeg default threads: %.2f (target 1.00 or less)\n", full / ffmpeg);
    std::printf("one thread / ffmpeg -threads 1: %.2f\n", one / ffmpeg1);
    std::printf("ffmpeg transcode / copying render: %.1f x (target 10 x or more)\n", ffmpeg / copying);
    std::printf("40 thumbnails: %.1f ms (target 50 ms or less)\n", 1000 * m("thumbnails, 40 cells"));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char dir[] = "/tmp/quillory-render-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    gDir = dir;
    EnsureGuiApplication();
    InstallGdiTextExtentProvider();
    gSettings.ShowEdits = 1;
    int rc = 1;
    if (MakeSource() && LoadProject()) {
        FillCells(1);  // opens the decoders
        benchmark::RunSpecifiedBenchmarks();
        Report();
        rc = 0;
    } else {
        std::fprintf(stderr, "render_bench: could not make the source clip or its project\n");
    }
    CloseThumbnailDecoder();
    ResetProjectForTests();
    std::system(("rm -rf '" + gDir + "'").c_str());
    benchmark::Shutdown();
    return rc;
}
