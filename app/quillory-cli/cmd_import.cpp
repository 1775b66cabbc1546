#include <atomic>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "commands.h"
#include "core/diag.h"
#include "media/conform.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "settings/settings.h"

// import IN [OUT.avi] [--like CLIP.avi|PROJECT.cgp] [--size WxH] [--fps F] [--audio R,B,C|none]
// [--start S] [--seconds N]: one file conformed into an AVI clip (into the clips folder when OUT is
// left out, where a clip made before from the same source and format is used again).
namespace {

const char* const kUsage =
    "usage: quillory-cli import IN [OUT.avi] [--like CLIP.avi|PROJECT.cgp] [--size WxH] [--fps F] "
    "[--audio RATE,BITS,CHANNELS|none] [--start S] [--seconds N]\n";

std::atomic<bool> gInterrupted{false};

void OnInterrupt(int) {
    gInterrupted.store(true);
}

bool ParseDouble(const std::string& text, double low, double high, double* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (errno || *end || !std::isfinite(v) || v < low || v > high) return false;
    *value = v;
    return true;
}

bool ParseSize(const std::string& text, int32_t* w, int32_t* h) {
    int a = 0, b = 0;
    char x = 0, extra = 0;
    if (std::sscanf(text.c_str(), "%d%c%d%c", &a, &x, &b, &extra) != 3 || (x != 'x' && x != 'X'))
        return false;
    if (a < 2 || b < 2 || a > 16384 || b > 16384 || a % 2 || b % 2) return false;
    *w = a;
    *h = b;
    return true;
}

bool ParseAudio(const std::string& text, ConformFormat* f) {
    if (text == "none") {
        f->sound = ConformFormat::Sound::kNone;
        return true;
    }
    int r = 0, b = 0, c = 0;
    char extra = 0;
    if (std::sscanf(text.c_str(), "%d,%d,%d%c", &r, &b, &c, &extra) != 3) return false;
    if (r < 1000 || r > 384000 || (b != 8 && b != 16) || (c != 1 && c != 2)) return false;
    f->sound = ConformFormat::Sound::kPcm;
    f->samplesPerSec = r;
    f->sampleBits = b;
    f->channels = c;
    return true;
}

bool EndsWith(const std::string& s, const char* tail) {
    const size_t n = std::strlen(tail);
    return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, tail) == 0;
}

// The format of the project's first clip; false after a message.
bool ProjectFormat(const std::string& file, ConformFormat* f) {
    if (file.size() >= sizeof gSettings.ProjectFileName) {
        std::fprintf(stderr, "import: project file name longer than %zu characters\n",
                     sizeof gSettings.ProjectFileName - 1);
        return false;
    }
    std::strcpy(gSettings.ProjectFileName, file.c_str());
    int32_t notOpened = 0;
    const bool read = ReadProject(nullptr, &notOpened);
    const std::string first = read && gProject.head ? gProject.head->name : "";
    ResetProjectForTests();
    if (first.empty() || !ConformFormatOfClip(first.c_str(), f)) {
        std::fprintf(stderr, "import: the project %s has no clip to take the format from\n", file.c_str());
        return false;
    }
    return true;
}

// Progress lines on standard error, one each tenth of the way.
ConformProgress TenthsOnStandardError() {
    return [shownTenth = -1](int64_t done, int64_t total) mutable {
        const int tenth = total > 0 ? static_cast<int>(done * 10 / total) : 0;
        if (tenth == shownTenth) return;
        shownTenth = tenth;
        std::fprintf(stderr, "import: frame %lld of %lld\n", static_cast<long long>(done),
                     static_cast<long long>(total));
    };
}

int32_t ConvertIntoProject(const char* name, bool mismatched, std::string* clip, std::string* why) {
    ConformRequest request;
    if (!ProjectConformRequest(name, mismatched, StoredClipsFolderPath(), &request, why))
        return kAppendNotOpened;
    std::signal(SIGINT, OnInterrupt);
    const ConformResult r = ConformVideo(request, TenthsOnStandardError(), &gInterrupted);
    std::signal(SIGINT, SIG_DFL);
    if (!r.ok) {
        NotifyBox("%s", r.message.c_str());
        return kAppendRefused;
    }
    std::fprintf(stderr, "%s %s\n", r.reused ? "reused" : "clip", r.path.c_str());
    *clip = r.path;
    return kAppendAdded;
}

int CmdImport(const Args& args) {
    ConformRequest request;
    std::string like;
    int32_t width = 0, height = 0;
    double fps = 0;
    bool audioGiven = false;
    ConformFormat audio;
    std::vector<std::string> names;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.rfind("--", 0) != 0) {
            names.push_back(a);
            continue;
        }
        if (i + 1 >= args.size()) {
            std::fputs(kUsage, stderr);
            return 2;
        }
        const std::string& v = args[++i];
        bool ok = true;
        if (a == "--like")
            like = v;
        else if (a == "--size")
            ok = ParseSize(v, &width, &height);
        else if (a == "--fps")
            ok = ParseDouble(v, 0.1, 1000, &fps);
        else if (a == "--audio")
            ok = audioGiven = ParseAudio(v, &audio);
        else if (a == "--start")
            ok = ParseDouble(v, 0, 1e7, &request.startSeconds);
        else if (a == "--seconds")
            ok = ParseDouble(v, 0.001, 1e7, &request.seconds);
        else
            ok = false;
        if (!ok) {
            std::fprintf(stderr, "import: bad value for %s: %s\n", a.c_str(), v.c_str());
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    if (names.empty() || names.size() > 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    request.source = names[0];
    if (names.size() == 2) request.output = names[1];

    ConformFormat& f = request.format;
    if (!like.empty()) {
        const bool project = EndsWith(like, ".cgp");
        if (project ? !ProjectFormat(like, &f) : !ConformFormatOfClip(like.c_str(), &f)) {
            if (!project)
                std::fprintf(stderr, "import: %s is not an AVI clip that plays here\n", like.c_str());
            return 2;
        }
    }
    if (width > 0) {
        f.width = width;
        f.height = height;
    }
    if (fps > 0) f.usPerFrame = static_cast<int32_t>(std::lround(1e6 / fps));
    if (audioGiven) {
        f.sound = audio.sound;
        f.samplesPerSec = audio.samplesPerSec;
        f.sampleBits = audio.sampleBits;
        f.channels = audio.channels;
    }
    if (request.output.empty()) request.clipsFolder = StoredClipsFolderPath();

    std::signal(SIGINT, OnInterrupt);
    const ConformResult r = ConformVideo(request, TenthsOnStandardError(), &gInterrupted);
    std::signal(SIGINT, SIG_DFL);
    if (!r.ok) {
        NotifyBox("%s", r.message.c_str());
        return 1;
    }
    if (request.output.empty()) std::printf("%s %s\n", r.reused ? "reused" : "clip", r.path.c_str());
    const double rate = 1e6 / r.usPerFrame;
    std::string sound = "sound none";
    if (r.samplesPerSec > 0)
        sound = "sound " + std::to_string(r.samplesPerSec) + " Hz " + std::to_string(r.sampleBits) + "-bit " +
                std::to_string(r.channels) + " ch";
    std::printf("imported %d frames %dx%d at %g fps, %s\n", r.frames, r.width, r.height,
                std::round(rate * 1000) / 1000, sound.c_str());
    return 0;
}

CommandRegistrar reg("import", CmdImport,
                     "IN [OUT.avi] [--like CLIP.avi|PROJECT.cgp] [--size WxH] [--fps F] [--audio R,B,C|none] "
                     "[--start S] [--seconds N]");

}  // namespace

void ConvertOtherVideosIntoProject() {
    GetProjectCallbacks().conformClip = ConvertIntoProject;
}
