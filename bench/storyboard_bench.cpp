// Rendering an 18,000-frame project from the storyboard window beside `quillory-cli render` of the
// same project: what the window's painting adds to a render (progress bar, caption, pumps). The
// clip is 10 minutes of 64 x 48 Motion JPEG at 30 frames a second, so painting is a large share of
// each frame; the project inactivates, drops and titles ranges of it. Both render to Motion JPEG
// at quality 90 on the offscreen platform. The medians and their ratio are printed at the end; the
// target is a ratio of at most 1.1.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/appstate.h"
#include "core/diag.h"
#include "core/dialogs.h"
#include "platform/gdi/gdi.h"
#include "project/project.h"
#include "render/compressor.h"
#include "settings/settings.h"
#include "studio/storyboard.h"
#include "studio/storyboard_ids.h"

namespace {

using namespace bench;

constexpr int kFrames = 18000;
constexpr int kQuality = 90;

std::string gDir, gSource, gProjectFile;
std::vector<double> gOurs, gTheirs, gOursCpu, gTheirsCpu;

bool MakeProject() {
    gSource = gDir + "/source.avi";
    gProjectFile = gDir + "/long.cgp";
    const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=64x48:rate=30 -frames:v " +
                            std::to_string(kFrames) + " -c:v mjpeg -q:v 5 '" + gSource + "'";
    if (std::system(cmd.c_str()) != 0) return false;
    const std::string text = "Corvane Project 00\nF0: " + gSource +
                             "\nR0: 1000,2999,1\nR0: 5000,5099,8\nR0: 7000,12000,2\nT0: 2,0\nT1: Benchmark\n"
                             "T2: Arial\nT3: 0,-12,700,0,0,90,65535\nR0: 15000,15999,1\nR0: 15500,15599,0\n";
    FILE* f = std::fopen(gProjectFile.c_str(), "w");
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

// Processor seconds (user and system) of this process, or of its finished children: on a shared
// machine these vary less than the wall clock.
double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
    return s(u.ru_utime) + s(u.ru_stime);
}

void BM_StoryboardRender(benchmark::State& state) {
    auto dialogs = std::make_shared<QueuedFileDialogProvider>();
    SetFileDialogProvider(dialogs);
    SetCompressorDialogProvider(std::make_shared<ScriptedCompressorChoice>("MJPG", kQuality));
    gCommandLine = {gProjectFile};
    auto* window = new StoryboardWindow;
    window->InitDialog();
    window->resize(700, 460);
    window->show();
    QCoreApplication::processEvents();
    if (gProject.totalFrames != kFrames) state.SkipWithError("the project did not load");
    for (auto _ : state) {
        dialogs->answers.push_back(gDir + "/storyboard.avi");
        const auto start = std::chrono::steady_clock::now();
        const double cpu = CpuSeconds(RUSAGE_SELF);
        window->Command(kCmdRender);
        QCoreApplication::processEvents();
        gOurs.push_back(Seconds(start));
        gOursCpu.push_back(CpuSeconds(RUSAGE_SELF) - cpu);
    }
    delete window;
    ResetProjectForTests();
}
BENCHMARK(BM_StoryboardRender)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();

void BM_CommandLineRender(benchmark::State& state) {
    const std::string cmd = std::string("QT_QPA_PLATFORM=offscreen '") + QUILLORY_CLI + "' render '" +
                            gProjectFile + "' '" + gDir + "/cli.avi' --codec MJPG --quality " +
                            std::to_string(kQuality) + " >/dev/null 2>&1";
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const double cpu = CpuSeconds(RUSAGE_CHILDREN);
        if (std::system(cmd.c_str()) != 0) state.SkipWithError("quillory-cli render failed");
        gTheirs.push_back(Seconds(start));
        gTheirsCpu.push_back(CpuSeconds(RUSAGE_CHILDREN) - cpu);
    }
}
BENCHMARK(BM_CommandLineRender)->Iterations(1)->Repetitions(3)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    benchmark::Initialize(&argc, argv);
    char dir[] = "/tmp/quillory-storyboard-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    gDir = dir;
    setenv("XDG_CONFIG_HOME", dir, 1);  // the command line's settings stay out of the user's
    int qtArgc = 1;
    char name[] = "storyboard_bench";
    char* qtArgv[] = {name, nullptr};
    QApplication app(qtArgc, qtArgv);
    SetMessageBoxProvider(std::make_shared<SilentBoxes>("storyboard_bench"));
    InstallGdiTextExtentProvider();
    int rc = 1;
    if (MakeProject()) {
        benchmark::RunSpecifiedBenchmarks();
        const double ours = Median(gOurs), theirs = Median(gTheirs);
        std::printf("median: storyboard %.2f s, quillory-cli %.2f s, ratio %.2f (target 1.10 or less)\n",
                    ours, theirs, theirs > 0 ? ours / theirs : 0.0);
        const double oursCpu = Median(gOursCpu), theirsCpu = Median(gTheirsCpu);
        std::printf("processor time: storyboard %.2f s, quillory-cli %.2f s, ratio %.2f\n", oursCpu,
                    theirsCpu, theirsCpu > 0 ? oursCpu / theirsCpu : 0.0);
        rc = 0;
    } else {
        std::fprintf(stderr, "storyboard_bench: could not make the clip or its project\n");
    }
    ResetCompressorState();
    std::system(("rm -rf '" + gDir + "'").c_str());
    benchmark::Shutdown();
    return rc;
}
