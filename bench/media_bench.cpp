// Reading every frame of a long clip: getFrameData and FramesSinceKeyFrame find a frame's entry
// through the list's frame table, so the time per frame must not grow with the clip. Beside it, the
// list walk it replaced (from the head on every request), timed on every 100th frame.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <string>

#include "media/avilist.h"
#include "media/aviwriter.h"

namespace {

constexpr int32_t kWidth = 8;
constexpr int32_t kHeight = 8;
constexpr int32_t kFrameBytes = kWidth * kHeight * 3;

std::string gDir;

// A clip of small uncompressed frames, a key frame every 12, written once per frame count.
const std::string& Clip(int32_t frames) {
    static std::map<int32_t, std::string> made;
    auto it = made.find(frames);
    if (it != made.end()) return it->second;
    std::string path = gDir + "/clip" + std::to_string(frames) + ".avi";
    int32_t h = MyOpenWAVI(path.c_str(), kWidth, kHeight, 24, -frames, nullptr, 0, 66666, 0, 0, 0, 0);
    uint8_t frame[kFrameBytes];
    for (int32_t n = 0; n < frames; n++) {
        for (int32_t i = 0; i < kFrameBytes; i++) frame[i] = static_cast<uint8_t>(n + i);
        MyWriteChunk(h, frame, kFrameBytes, FourCC("00db"), n % 12 == 0 ? 0x10 : 0);
    }
    MyCloseAVI(h, frames);
    return made[frames] = path;
}

void BM_ReadEveryFrame(benchmark::State& state) {
    const int32_t frames = static_cast<int32_t>(state.range(0));
    AVIlist* head = OpenAVIforList(Clip(frames).c_str(), 0, -1);
    int64_t sum = 0;
    for (auto _ : state) {
        for (int32_t n = 1; n <= frames; n++) {
            uint8_t* p = getFrameData(n, head);
            sum += p[0] + FramesSinceKeyFrame(n, head);
        }
    }
    benchmark::DoNotOptimize(sum);
    state.counters["per_frame"] = benchmark::Counter(
        frames, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    CloseAVIlist(head);
}
BENCHMARK(BM_ReadEveryFrame)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)
    ->UseRealTime();

// The reference: the walk from the head for each frame, then the same seek and read.
void BM_ListWalkReference(benchmark::State& state) {
    const int32_t frames = static_cast<int32_t>(state.range(0));
    AVIlist* head = OpenAVIforList(Clip(frames).c_str(), 0, -1);
    int64_t sum = 0;
    int32_t visited = 0;
    for (auto _ : state) {
        visited = 0;
        for (int32_t n = 1; n <= frames; n += 100, visited++) {
            int32_t count = 0;
            const AVIINDEXENTRY* found = nullptr;
            int32_t since = 0;
            for (AVIlist* r = head; r && !found; r = r->next)
                for (int32_t i = 0; i < r->nidx; i++) {
                    const AVIINDEXENTRY& e = r->idx[i];
                    if (ChunkType(e.ckid) == kTypeWB) continue;
                    since = (e.dwFlags & 0x10) ? 0 : since + 1;
                    if (++count == n) {
                        found = &e;
                        break;
                    }
                }
            ReadChunkAt(0, head, static_cast<int32_t>(found->dwChunkOffset), head->vptr,
                        static_cast<int32_t>(found->dwChunkLength));
            sum += head->vptr[0] + since;
        }
    }
    benchmark::DoNotOptimize(sum);
    state.counters["per_frame"] = benchmark::Counter(
        visited, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    CloseAVIlist(head);
}
BENCHMARK(BM_ListWalkReference)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0)
    ->UseRealTime();

// Keeps each run's time per frame for the ratio printed at the end.
class Figures : public benchmark::ConsoleReporter {
  public:
    std::map<std::string, double> perFrame;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs) {
            auto it = r.counters.find("per_frame");
            if (it != r.counters.end() && r.run_type == Run::RT_Iteration)
                perFrame[r.benchmark_name()] = it->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void PrintRatio(const Figures& f, const char* name) {
    auto small = f.perFrame.find(std::string(name) + "/10000/min_time:1.000/real_time");
    auto large = f.perFrame.find(std::string(name) + "/100000/min_time:1.000/real_time");
    if (small == f.perFrame.end() || large == f.perFrame.end()) return;
    std::printf("%s: %.1f ns per frame at 10,000 frames, %.1f ns at 100,000 frames, ratio %.2f\n", name,
                small->second * 1e9, large->second * 1e9, large->second / small->second);
}

}  // namespace

int main(int argc, char** argv) {
    char pattern[] = "/tmp/quillory-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    gDir = pattern;
    benchmark::Initialize(&argc, argv);
    Figures figures;
    benchmark::RunSpecifiedBenchmarks(&figures);
    benchmark::Shutdown();
    std::printf("\n");
    PrintRatio(figures, "BM_ReadEveryFrame");
    PrintRatio(figures, "BM_ListWalkReference");
    for (int32_t frames : {10000, 100000}) unlink((gDir + "/clip" + std::to_string(frames) + ".avi").c_str());
    rmdir(gDir.c_str());
    return 0;
}
