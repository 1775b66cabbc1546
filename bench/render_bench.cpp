// Rendering a project to Motion JPEG beside ffmpeg doing the same transcode: a 640 x 480, 30 frames
// a second, 60-second Motion JPEG clip with 11025 Hz 8-bit sound and one title over 100 frames.
// Ours decodes, lays the title on, re-encodes at quality 97 (quantiser 3) and copies the sound;
// ffmpeg runs `-threads 1 -i SRC -threads 1 -c:v mjpeg -q:v 3 -c:a copy`. Both use one thread.
// The medians and their ratio are printed at the end; the target is a ratio of at most 1.5.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/diag.h"
#include "core/dialogs.h"
#include "core/memory.h"
#include "platform/gdi/gdi.h"
#include "project/project.h"
#include "render/compressor.h"
#include "render/render.h"

namespace {

// Quality 97 maps onto the Motion JPEG quantiser 2 + round(3 x 29 / 100) = 3, ffmpeg's -q:v 3.
constexpr int kQuality = 97;

std::string gDir;
std::string gSource;
std::vector<double> gOurs, gTheirs;

// Answers every box No (the offer to view the file) without showing anything.
class SilentBoxes : public MessageBoxProvider {
  public:
    int Show(HWND, const std::string& text, const std::string&, unsigned style) override {
        if ((style & MB_TYPEMASK) == MB_YESNO) return IDNO;
        std::fprintf(stderr, "render_bench: %s\n", text.c_str());
        return IDOK;
    }
};

bool MakeSource() {
    gSource = gDir + "/source.avi";
    const std::string cmd =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=640x480:rate=30:duration=60 -f lavfi -i "
        "sine=frequency=440:sample_rate=11025:duration=60 -c:v mjpeg -q:v 3 -pix_fmt yuvj420p -c:a pcm_u8 "
        "-ac 1 '" +
        gSource + "'";
    return std::system(cmd.c_str()) == 0;
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

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void BM_QuilloryRender(benchmark::State& state) {
    const std::string out = gDir + "/ours.avi";
    auto dialogs = std::make_shared<QueuedFileDialogProvider>();
    SetFileDialogProvider(dialogs);
    SetCompressorDialogProvider(std::make_shared<ScriptedCompressorChoice>("MJPG", kQuality));
    for (auto _ : state) {
        dialogs->answers.push_back(out);
        const auto start = std::chrono::steady_clock::now();
        if (!RenderProjectToAVI(nullptr)) state.SkipWithError("the render failed");
        gOurs.push_back(Seconds(start));
    }
}
BENCHMARK(BM_QuilloryRender)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();

void BM_FfmpegTranscode(benchmark::State& state) {
    const std::string cmd = "ffmpeg -nostdin -v error -y -threads 1 -i '" + gSource +
                            "' -threads 1 -c:v mjpeg -q:v 3 -c:a copy '" + gDir + "/ffmpeg.avi'";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("ffmpeg failed");
        gTheirs.push_back(Seconds(start));
    }
}
BENCHMARK(BM_FfmpegTranscode)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();

double Median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    char dir[] = "/tmp/quillory-render-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    gDir = dir;
    SetMessageBoxProvider(std::make_shared<SilentBoxes>());
    EnsureGuiApplication();
    InstallGdiTextExtentProvider();
    int rc = 1;
    if (MakeSource() && SetUpProject()) {
        benchmark::RunSpecifiedBenchmarks();
        const double ours = Median(gOurs), theirs = Median(gTheirs);
        std::printf("median: quillory %.2f s, ffmpeg %.2f s, ratio %.2f (target 1.50 or less)\n", ours,
                    theirs, theirs > 0 ? ours / theirs : 0.0);
        rc = 0;
    } else {
        std::fprintf(stderr, "render_bench: could not make the source clip or its project\n");
    }
    ResetProjectForTests();
    ResetCompressorState();
    std::system(("rm -rf '" + gDir + "'").c_str());
    benchmark::Shutdown();
    return rc;
}
