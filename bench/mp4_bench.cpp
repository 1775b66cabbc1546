// Rendering a project to MP4 beside ffmpeg making an MP4 of the same clip: a 640 x 480, 30 frames
// a second, 60-second Motion JPEG clip with 11025 Hz 8-bit sound and one title over 100 frames.
// Ours renders at the quality that maps onto rate factor 23; ffmpeg runs `-i SRC -c:v libx264
// -crf 23 -preset medium -c:a aac OUT.mp4` with its default threads. The medians of the wall times,
// their ratio and both file sizes are printed at the end; the target is a ratio of at most 1.0 at
// an equal or smaller size.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/diag.h"
#include "core/dialogs.h"
#include "core/memory.h"
#include "platform/codec/codec.h"
#include "platform/gdi/gdi.h"
#include "project/project.h"
#include "render/compressor.h"
#include "render/render.h"

namespace {

using namespace bench;

constexpr int kRateFactor = 23;

std::string gDir;
std::string gSource;
std::vector<double> gOurs, gTheirs;

// The slider position the compressors map onto the rate factor, or -1.
int QualityFor(int rateFactor) {
    for (int q = 100; q >= 0; --q)
        if (QualityToRateFactor(q) == rateFactor) return q;
    return -1;
}

bool MakeSource() {
    gSource = gDir + "/source.avi";
    return MakeMjpegClip(gSource);
}

bool SetUpProject() {
    if (!AppendAVIToProject(nullptr, gSource.c_str())) return false;
    TitleRecord* t = NewTitleRecord();
    const char text[] = "Quillory render benchmark";
    t->text = static_cast<char*>(MyCalloc(sizeof text, 1));
    std::memcpy(t->text, text, sizeof text);
    t->vertical = 2;  // bottom centre
    t->height = -36;
    t->weight = FW_BOLD;
    t->colour = RGB(255, 255, 0);
    std::strcpy(t->faceName, "Arial");
    return AddRevision(kRevTitle, 101, 200, t) != nullptr;
}

void BM_QuilloryMp4(benchmark::State& state) {
    const std::string out = gDir + "/ours.mp4";
    auto dialogs = std::make_shared<QueuedFileDialogProvider>();
    SetFileDialogProvider(dialogs);
    SetCompressorDialogProvider(std::make_shared<ScriptedCompressorChoice>("", QualityFor(kRateFactor)));
    for (auto _ : state) {
        dialogs->answers.push_back(out);
        const auto start = std::chrono::steady_clock::now();
        if (!RenderProjectToAVI(nullptr)) state.SkipWithError("the render failed");
        gOurs.push_back(Seconds(start));
    }
}
BENCHMARK(BM_QuilloryMp4)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();

void BM_FfmpegMp4(benchmark::State& state) {
    const std::string cmd = "ffmpeg -nostdin -v error -y -i '" + gSource + "' -c:v libx264 -crf " +
                            std::to_string(kRateFactor) + " -preset medium -c:a aac '" + gDir +
                            "/ffmpeg.mp4'";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("ffmpeg failed");
        gTheirs.push_back(Seconds(start));
    }
}
BENCHMARK(BM_FfmpegMp4)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();

long long SizeOf(const std::string& path) {
    std::error_code e;
    const auto size = std::filesystem::file_size(path, e);
    return e ? -1 : static_cast<long long>(size);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char dir[] = "/tmp/quillory-mp4-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    gDir = dir;
    SetMessageBoxProvider(std::make_shared<SilentBoxes>("mp4_bench"));
    EnsureGuiApplication();
    InstallGdiTextExtentProvider();
    int rc = 1;
    if (QualityFor(kRateFactor) >= 0 && MakeSource() && SetUpProject()) {
        benchmark::RunSpecifiedBenchmarks();
        const double ours = Median(gOurs), theirs = Median(gTheirs);
        std::printf("median: quillory %.2f s, ffmpeg %.2f s, ratio %.2f (target 1.00 or less)\n", ours,
                    theirs, theirs > 0 ? ours / theirs : 0.0);
        std::printf("size at rate factor %d (quality %d): quillory %lld bytes, ffmpeg %lld bytes\n",
                    kRateFactor, QualityFor(kRateFactor), SizeOf(gDir + "/ours.mp4"),
                    SizeOf(gDir + "/ffmpeg.mp4"));
        rc = 0;
    } else {
        std::fprintf(stderr, "mp4_bench: could not make the source clip or its project\n");
    }
    ResetProjectForTests();
    ResetCompressorState();
    std::system(("rm -rf '" + gDir + "'").c_str());
    benchmark::Shutdown();
    return rc;
}
