// play: the player and its loops on the offscreen platform, timed, with the sound into a WAVE file;
// AVI and MP4 files and projects.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands.h"
#include "core/diag.h"
#include "core/memory.h"
#include "platform/gdi/gdi.h"
#include "platform/wave/wave.h"
#include "playback/host.h"
#include "playback/loops.h"
#include "playback/player.h"
#include "project/playmap.h"
#include "project/projectfile.h"
#include "render/titles.h"
#include "settings/settings.h"

namespace {

constexpr const char* kUsage =
    "FILE.avi|FILE.mp4|PROJECT.cgp [--seconds S] [--mode forward|reverse|range|pingpong] [--range A B] "
    "[--start P] "
    "[--shuttle INDEX] [--wave OUT.wav]";
// The longest play the command runs.
constexpr double kMaxSeconds = 24 * 3600;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool EndsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; i++)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != tail[i]) return false;
    return true;
}

int Usage() {
    std::fprintf(stderr, "usage: quillory-cli play %s\n", kUsage);
    return 2;
}

bool Number(const char* text, double* out) {
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end && end != text && *end == '\0';
}

int CmdPlay(const Args& args) {
    if (args.empty()) return Usage();
    std::string file = args[0], mode = "forward", wave;
    double seconds = -1, a = 0, b = 0, start = 1, shuttle = 0;
    bool haveRange = false;
    for (size_t i = 1; i < args.size(); i++) {
        const std::string& o = args[i];
        auto next = [&](double* v) { return i + 1 < args.size() && Number(args[++i].c_str(), v); };
        if (o == "--seconds" && next(&seconds) && seconds >= 0 && seconds <= kMaxSeconds) continue;
        if (o == "--start" && next(&start)) continue;
        if (o == "--shuttle" && next(&shuttle) && shuttle >= -15 && shuttle <= 15) continue;
        if (o == "--range" && next(&a) && next(&b)) {
            haveRange = true;
            continue;
        }
        if (o == "--mode" && i + 1 < args.size()) {
            mode = args[++i];
            if (mode == "forward" || mode == "reverse" || mode == "range" || mode == "pingpong") continue;
        }
        if (o == "--wave" && i + 1 < args.size()) {
            wave = args[++i];
            continue;
        }
        return Usage();
    }
    EnsureGuiApplication();
    SetWaveOutTarget(wave.empty() ? "none" : "file:" + wave);
    ResetPlayer();
    ResetLoops();
    uint32_t* map = nullptr;
    const bool project = EndsWith(file, ".cgp");
    if (project) {
        if (file.size() >= sizeof gSettings.ProjectFileName) return Usage();
        std::strcpy(gSettings.ProjectFileName, file.c_str());
        ConvertOtherVideosIntoProject();
        if (!ReadProject(nullptr) || !gProject.head) {
            std::fprintf(stderr, "play: %s cannot be played\n", file.c_str());
            return 1;
        }
        int32_t kept = 0;
        map = BuildPlayMap(&kept);
        if (!map) return 1;
        PrepareOverlays(nullptr, gProject.head->width, gProject.head->height);
        gPlayer.useProjectList = gPlayer.projectMode = true;
        gPlayer.playMap = map;
        gPlayer.playMapWords = gProject.totalFrames;
        gPlayer.playPositions = kept;
        std::snprintf(gPlayer.fileName, sizeof gPlayer.fileName, "%s", gProject.head->name);
    } else {
        std::snprintf(gPlayer.fileName, sizeof gPlayer.fileName, "%s", file.c_str());
    }
    gPlayer.startPosition = static_cast<int32_t>(start);
    gPlayer.rangeStart = haveRange ? static_cast<int32_t>(a) - 1 : 0;
    gPlayer.rangeEnd = haveRange ? static_cast<int32_t>(b) - 1 : 0;
    PlayPicture picture;
    const int32_t w = project ? gProject.head->width : 0;
    if (!OpenPlayer(&picture, RECT{0, 0, std::max(w, 320), std::max(w, 320) * 3 / 4})) {
        MyFree(map);
        ResetProjectForTests();
        return 1;
    }
    if (!haveRange) gPlayer.rangeEnd = gPlayer.N - 1;
    int32_t passFrames = gPlayer.N;
    if (mode == "range") passFrames = std::max(gPlayer.rangeEnd - gPlayer.rangeStart + 1, 1);
    if (mode == "pingpong") passFrames = 2 * gPlayer.N;
    if (seconds < 0) seconds = passFrames * gPlayer.timing.frameTime / 1000.0;
    const uint32_t begin = timeGetTime();
    const uint32_t end = begin + static_cast<uint32_t>(seconds * 1000);
    PlaybackHost host;
    host.pumpForKey = [end] {
        if (static_cast<int32_t>(timeGetTime() - end) >= 0) return VK_ESCAPE;
        return DefaultPumpForKey();
    };
    host.waitUntil = [end](uint32_t until, const std::function<bool()>& wake) {
        const bool last = static_cast<int32_t>(until - end) >= 0;
        if (DefaultWaitUntil(last ? end : until, wake)) return true;
        return last && static_cast<int32_t>(timeGetTime() - end) >= 0;
    };
    SetPlaybackHost(host);
    gLoop.shuttleIndex = static_cast<int32_t>(shuttle);
    const double cpu0 = CpuSeconds();
    if (mode == "forward")
        PlayForward();
    else if (mode == "reverse")
        IDC_PlayRev();
    else if (mode == "range")
        PlayRange();
    else
        IDC_PingPong(false, false);
    const double cpu = CpuSeconds() - cpu0;
    const double wall = static_cast<uint32_t>(timeGetTime() - begin) / 1000.0;
    SetPlaybackHost(PlaybackHost{});
    ClosePlayer();
    MyFree(map);
    ResetProjectForTests();
    std::printf("frames %ld skipped %ld cpu %.2f wall %.2f\n", static_cast<long>(gLoop.framesShown),
                static_cast<long>(gLoop.skipped), cpu, wall);
    // The sound file is written whole or not at all: one that could not be is a failure.
    if (const std::string problem = wave.empty() ? std::string() : WaveOutFileProblem(); !problem.empty()) {
        NotifyBox("%s", problem.c_str());
        return 1;
    }
    return 0;
}

CommandRegistrar playCommand("play", CmdPlay, kUsage);

}  // namespace
