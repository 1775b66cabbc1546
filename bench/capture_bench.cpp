// Streaming capture of the test pattern at 30 frames a second with 48000 Hz 16-bit stereo sound into
// Motion JPEG, beside ffmpeg doing the same work: ffmpeg compressing the very pictures our test
// pattern draws (written to it as raw BGR rows) at the quantiser our quality gives (97 -> -q:v 3,
// 90 -> -q:v 5) and in our compressor's 4:2:0, and, as before, ffmpeg encoding its own busier testsrc2 at
// -q:v 3. 1280x720 at quality 97 and at the default 90, and 1920x1080 at the default. Each runs for
// QUILLORY_BENCH_SECONDS (60 by default), QUILLORY_BENCH_REPETITIONS times (3), each run and the medians
// reported. Reported: dropped frames, the processor time the capture took (for ffmpeg on our pictures, its
// own time; draw_cpu_s is what drawing and handing them over took here), how far the file's pictures and
// sound are from the clock at the end in milliseconds, and the file's megabytes per minute.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/capwin/capdriver.h"
#include "platform/capwin/capwin.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kMicroSecPerFrame = 33333;
constexpr uint32_t kRate = 48000;

std::string gDir;
int gSeconds = 60;
Clock::time_point gStart;
std::atomic<int64_t> gFirstFrameUs{-1};
std::atomic<int64_t> gLastFrameLateUs{0};
std::atomic<int64_t> gWorstLateUs{0};

double CpuSeconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// How long after its place on the clock each frame was stored (the video callback comes once a
// frame is in the file), counted from the first.
LRESULT OnFrame(HWND, VIDEOHDR* h) {
    const int64_t at = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - gStart).count();
    if (gFirstFrameUs < 0) gFirstFrameUs = at;
    const int64_t late = at - gFirstFrameUs - static_cast<int64_t>(h->dwTimeCaptured) * 1000;
    gLastFrameLateUs = late;
    if (late > gWorstLateUs) gWorstLateUs = late;
    return 1;
}

template <typename T>
LRESULT Send(HWND w, uint32_t message, T* data) {
    return capSendMessage(w, message, sizeof(T), reinterpret_cast<LPARAM>(data));
}

std::string Probe(const std::string& args) {
    std::string out;
    if (FILE* p = popen(("ffprobe -v error " + args + " 2>/dev/null").c_str(), "r")) {
        char buf[256];
        while (fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

// Frames and seconds of sound in a file, as ffprobe reads them.
void FileTiming(const std::string& file, double* frames, double* soundSeconds) {
    *frames = std::atof(Probe("-count_packets -select_streams v:0 -show_entries stream=nb_read_packets -of "
                              "default=nw=1:nk=1 '" +
                              file + "'")
                            .c_str());
    *soundSeconds =
        std::atof(
            Probe("-select_streams a:0 -show_entries stream=nb_frames -of default=nw=1:nk=1 '" + file + "'")
                .c_str()) /
        kRate;
}

// The bytes of the AVI data (the RIFF) in a file, without the preallocated rest.
uint64_t FileBytes(const std::string& file) {
    uint8_t head[8] = {};
    if (FILE* f = std::fopen(file.c_str(), "rb")) {
        if (std::fread(head, 1, 8, f) != 8) head[4] = head[5] = head[6] = head[7] = 0;
        std::fclose(f);
    }
    return 8 + (static_cast<uint64_t>(head[4]) | head[5] << 8 | head[6] << 16 |
                static_cast<uint64_t>(head[7]) << 24);
}

// clock: the seconds the recording ran by its own account (ours: the capture's elapsed time; ffmpeg:
// the whole run, start-up included).
void Report(benchmark::State& state, double dropped, double cpu, double clock, const std::string& file) {
    double frames = 0, sound = 0;
    FileTiming(file, &frames, &sound);
    state.counters["frames"] = frames;
    state.counters["dropped"] = dropped;
    state.counters["cpu_s"] = cpu;
    state.counters["cpu_pct"] = 100 * cpu / clock;
    // Dropped frames keep their place in the file as empty chunks, which ffprobe does not count.
    state.counters["video_drift_ms"] = 1000 * ((frames + dropped) * kMicroSecPerFrame / 1e6 - clock);
    state.counters["sound_drift_ms"] = 1000 * (sound - clock);
    state.counters["mb_per_min"] = static_cast<double>(FileBytes(file)) / 1048576 * 60 / clock;
    std::remove(file.c_str());
}

// Arguments: width, height, Motion JPEG quality.
void BM_QuilloryCapture(benchmark::State& state) {
    const std::string file = gDir + "/ours.avi";
    for (auto _ : state) {
        const auto width = static_cast<int32_t>(state.range(0));
        const auto height = static_cast<int32_t>(state.range(1));
        HWND w = capCreateCaptureWindowA("Capture Window", WS_CHILD, 0, 0, width, height, nullptr, 0);
        const BITMAPINFOHEADER format = CaptureFormat(width, height);
        WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, kRate, kRate * 4, 4, 16, 0};
        CAPCOMPRESSION mjpg{FourCC("MJPG"), static_cast<uint32_t>(state.range(2))};
        CAPTUREPARMS p{};
        gFirstFrameUs = -1;
        gWorstLateUs = 0;
        if (!capSendMessage(w, WM_CAP_DRIVER_CONNECT, 0, 0) || !Send(w, WM_CAP_SET_VIDEOFORMAT, &format) ||
            !Send(w, WM_CAP_SET_AUDIOFORMAT, &pcm) || !Send(w, WM_CAP_SET_COMPRESSION, &mjpg) ||
            !capSendMessage(w, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(file.c_str())) ||
            !capSendMessage(w, WM_CAP_FILE_ALLOCATE, 0, 2000000000)) {
            state.SkipWithError("the capture window could not be set up");
            break;
        }
        Send(w, WM_CAP_GET_SEQUENCE_SETUP, &p);
        p.dwRequestMicroSecPerFrame = kMicroSecPerFrame;
        p.fCaptureAudio = 1;
        p.fYield = 1;
        Send(w, WM_CAP_SET_SEQUENCE_SETUP, &p);
        capSendMessage(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&OnFrame));
        const double cpu = CpuSeconds(RUSAGE_SELF);
        gStart = Clock::now();
        capSendMessage(w, WM_CAP_SEQUENCE, 0, 0);
        std::this_thread::sleep_until(gStart + std::chrono::seconds(gSeconds));
        capSendMessage(w, WM_CAP_STOP, 0, 0);
        CAPSTATUS s{};
        Send(w, WM_CAP_GET_STATUS, &s);
        const double used = CpuSeconds(RUSAGE_SELF) - cpu;
        capDestroyWindow(w);
        state.counters["last_frame_late_ms"] = gLastFrameLateUs / 1000.0;
        state.counters["worst_frame_late_ms"] = gWorstLateUs / 1000.0;
        Report(state, s.dwCurrentVideoFramesDropped, used, s.dwCurrentTimeElapsedMS / 1000.0, file);
    }
}
void BM_FfmpegCapture(benchmark::State& state) {
    const std::string file = gDir + "/ffmpeg.avi";
    const std::string seconds = std::to_string(gSeconds);
    const std::string cmd =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc2=size=" + std::to_string(state.range(0)) + "x" +
        std::to_string(state.range(1)) + ":rate=30 -f lavfi -i sine=sample_rate=48000 -t " + seconds +
        " -c:v mjpeg -q:v 3 -c:a pcm_s16le -ac 2 '" + file + "'";
    for (auto _ : state) {
        const double cpu = CpuSeconds(RUSAGE_CHILDREN);
        if (std::system(cmd.c_str()) != 0) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
        // ffmpeg encodes as fast as it can: its pictures and sound are measured against the
        // seconds asked for.
        Report(state, 0, CpuSeconds(RUSAGE_CHILDREN) - cpu, gSeconds, file);
    }
}

// Arguments: width, height, ffmpeg's quantiser. Our test pattern's frames, drawn here as the capture
// draws them, piped top row first into ffmpeg with the sine the other reference uses.
void BM_FfmpegOurFrames(benchmark::State& state) {
    const std::string file = gDir + "/ffmpeg-ours.avi";
    const auto width = static_cast<int32_t>(state.range(0));
    const auto height = static_cast<int32_t>(state.range(1));
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::string seconds = std::to_string(gSeconds);
    const std::string cmd = "ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt bgr24 -s " + size +
                            " -r 30 -i - -f lavfi -i sine=sample_rate=48000 -t " + seconds +
                            " -pix_fmt yuvj420p" + " -c:v mjpeg -q:v " + std::to_string(state.range(2)) +
                            " -c:a pcm_s16le -ac 2 '" + file + "'";
    std::unique_ptr<CaptureDriver> pattern = MakeTestPatternDriver();
    const BITMAPINFOHEADER format = CaptureFormat(width, height);
    if (!pattern->SetFormat(format)) {
        state.SkipWithError("the test pattern has no such size");
        return;
    }
    const size_t stride = DibRowBytes(width, 24), row = static_cast<size_t>(width) * 3;
    std::vector<uint8_t> rows(format.biSizeImage);
    const int64_t frames = static_cast<int64_t>(gSeconds) * 1000000 / kMicroSecPerFrame;
    for (auto _ : state) {
        const double children = CpuSeconds(RUSAGE_CHILDREN);
        const double self = CpuSeconds(RUSAGE_SELF);
        FILE* pipe = popen(cmd.c_str(), "w");
        bool ok = pipe != nullptr;
        for (int64_t n = 0; ok && n < frames; n++) {
            pattern->Grab(n, n * kMicroSecPerFrame, rows.data());
            for (int32_t y = height - 1; ok && y >= 0; y--)
                ok = std::fwrite(rows.data() + static_cast<size_t>(y) * stride, 1, row, pipe) == row;
        }
        if (!pipe || pclose(pipe) != 0 || !ok) {
            state.SkipWithError("ffmpeg failed");
            break;
        }
        state.counters["draw_cpu_s"] = CpuSeconds(RUSAGE_SELF) - self;
        Report(state, 0, CpuSeconds(RUSAGE_CHILDREN) - children, gSeconds, file);
    }
}

void Register() {
    const int repetitions = std::getenv("QUILLORY_BENCH_REPETITIONS")
                                ? std::max(1, std::atoi(std::getenv("QUILLORY_BENCH_REPETITIONS")))
                                : 3;
    const auto setUp = [repetitions](benchmark::internal::Benchmark* b) {
        b->Iterations(1)->Repetitions(repetitions)->Unit(benchmark::kSecond)->UseRealTime();
    };
    // 1280x720: the references at the quantiser of quality 97, ours at 97; then both at the default
    // quality.
    setUp(benchmark::RegisterBenchmark("BM_FfmpegCapture/1280x720/q3", BM_FfmpegCapture)->Args({1280, 720}));
    setUp(benchmark::RegisterBenchmark("BM_FfmpegOurFrames/1280x720/q3", BM_FfmpegOurFrames)
              ->Args({1280, 720, 3}));
    setUp(benchmark::RegisterBenchmark("BM_QuilloryCapture/1280x720/quality97", BM_QuilloryCapture)
              ->Args({1280, 720, 97}));
    setUp(benchmark::RegisterBenchmark("BM_FfmpegOurFrames/1280x720/q5", BM_FfmpegOurFrames)
              ->Args({1280, 720, 5}));
    setUp(benchmark::RegisterBenchmark("BM_QuilloryCapture/1280x720/quality90", BM_QuilloryCapture)
              ->Args({1280, 720, kDefaultCaptureQuality}));
    setUp(
        benchmark::RegisterBenchmark("BM_FfmpegCapture/1920x1080/q3", BM_FfmpegCapture)->Args({1920, 1080}));
    setUp(benchmark::RegisterBenchmark("BM_FfmpegOurFrames/1920x1080/q5", BM_FfmpegOurFrames)
              ->Args({1920, 1080, 5}));
    setUp(benchmark::RegisterBenchmark("BM_QuilloryCapture/1920x1080/quality90", BM_QuilloryCapture)
              ->Args({1920, 1080, kDefaultCaptureQuality}));
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (const char* s = std::getenv("QUILLORY_BENCH_SECONDS")) gSeconds = std::max(1, std::atoi(s));
    char dir[] = "/tmp/quillory-capture-bench-XXXXXX";
    if (!mkdtemp(dir)) return 1;
    gDir = dir;
    Register();
    benchmark::RunSpecifiedBenchmarks();
    std::system(("rm -rf '" + gDir + "'").c_str());
    benchmark::Shutdown();
    return 0;
}
