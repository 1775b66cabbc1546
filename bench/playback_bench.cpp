// Playing a project forward beside ffmpeg decoding the same file in real time: a 640 x 480, 30
// frames a second, 60-second Motion JPEG clip with 11025 Hz 8-bit sound, titled over frames
// 100-199 (so those frames are decompressed explicitly and overlaid), played for 20 seconds by
// `quillory-cli play` with its sound into a WAVE file, and `ffmpeg -re -t 20 -i SRC -f null -`;
// then the same for an MP4 file of that clip (H.264 and AAC, as the render writes them). Prints both
// processor times, the skipped positions and the ratio for each. Targets for the project: 0
// skipped, at most 15% of one core.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr int kSeconds = 20;

double ChildCpu() {
    rusage u{};
    getrusage(RUSAGE_CHILDREN, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

std::string Run(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buf[512];
        while (std::fgets(buf, sizeof buf, p)) out += buf;
        pclose(p);
    }
    return out;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/playback_bench.XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) return 1;
    const std::string d = dir, src = d + "/source.avi", cgp = d + "/bench.cgp";
    if (std::system(
            ("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=640x480:rate=30:duration=60 -f lavfi -i "
             "sine=frequency=440:sample_rate=11025:duration=60 -c:v mjpeg -q:v 3 -pix_fmt yuvj420p "
             "-c:a pcm_u8 -ac 1 '" +
             src + "'")
                .c_str()) != 0)
        return 1;
    if (FILE* f = std::fopen(cgp.c_str(), "w")) {
        std::fprintf(f,
                     "Corvane Project 00\nF0: %s\nR0: 100,199,2\nT0: 1,1\nT1: Quillory playback benchmark\n"
                     "T2: Arial\nT3: 0,-32,700,0,1,240,65535\n",
                     src.c_str());
        std::fclose(f);
    }
    // Plays file for kSeconds beside ffmpeg decoding it in real time; false on unexpected output.
    struct Played {
        long frames = 0, skipped = 0;
        double cpu = 0, wall = 0, ffmpeg = 0;
    };
    auto play = [&d](const std::string& file, const char* label, Played& p) {
        const std::string line = Run(std::string(QUILLORY_CLI) + " play '" + file + "' --seconds " +
                                     std::to_string(kSeconds) + " --wave '" + d + "/out.wav' 2>/dev/null");
        if (std::sscanf(line.c_str(), "frames %ld skipped %ld cpu %lf wall %lf", &p.frames, &p.skipped,
                        &p.cpu, &p.wall) != 4) {
            std::fprintf(stderr, "playback_bench: unexpected output <%s>\n", line.c_str());
            return false;
        }
        const double before = ChildCpu();
        Run("ffmpeg -nostdin -v error -re -t " + std::to_string(kSeconds) + " -i '" + file +
            "' -f null - 2>&1");
        p.ffmpeg = ChildCpu() - before;
        std::printf(
            "%s: quillory play %ld frames, %ld skipped, cpu %.2f s over %.2f s wall (%.1f%% of one core)\n",
            label, p.frames, p.skipped, p.cpu, p.wall, p.wall > 0 ? 100 * p.cpu / p.wall : 0);
        std::printf("%s: ffmpeg -re decode cpu %.2f s over %d s (%.1f%% of one core)\n", label, p.ffmpeg,
                    kSeconds, 100 * p.ffmpeg / kSeconds);
        std::printf("%s: ratio quillory/ffmpeg cpu %.2f\n", label, p.ffmpeg > 0 ? p.cpu / p.ffmpeg : 0);
        return true;
    };
    Played project, movie;
    if (!play(cgp, "project (MJPEG, titled)", project)) return 1;
    const std::string mp4 = d + "/source.mp4";
    if (std::system(("ffmpeg -nostdin -v error -y -i '" + src +
                     "' -c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -c:a aac '" + mp4 + "'")
                        .c_str()) != 0 ||
        !play(mp4, "MP4 file (H.264, AAC)", movie))
        return 1;
    std::system(("rm -rf '" + d + "'").c_str());
    return project.skipped == 0 && project.wall > 0 && project.cpu / project.wall <= 0.15 ? 0 : 2;
}
