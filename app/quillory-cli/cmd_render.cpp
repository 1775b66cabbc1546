#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "core/diag.h"
#include "core/dialogs.h"
#include "core/memory.h"
#include "platform/gdi/gdi.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "render/compressor.h"
#include "render/output.h"
#include "render/pipeline.h"
#include "render/render.h"
#include "settings/settings.h"

// render PROJECT.cgp OUT.avi|OUT.mp4 [--codec FOURCC|none] [--quality 0-100] [--threads N]
// [--copy|--no-copy] [--fit-mb N]: the whole render without questions (an MP4 takes no codec and
// copies nothing). frame PROJECT.cgp N OUT.bmp: one project frame as the render composes it.
namespace {

// The closing lines of a whole render, of an AVI and of an MP4 file.
constexpr const char* kCompleteTexts[] = {"Record to AVI file complete - size = ",
                                          "Record to MP4 file complete - size = "};
// The longest output name the render takes.
constexpr size_t kMaxOutputName = 199;

// Console boxes, except the render's closing question: its first line goes to standard output and
// the answer is No (nothing is shown).
class RenderBoxes : public MessageBoxProvider {
  public:
    int Show(HWND owner, const std::string& text, const std::string& caption, unsigned style) override {
        for (const char* complete : kCompleteTexts) {
            if (text.rfind(complete, 0) != 0) continue;
            std::printf("%s\n", text.substr(0, text.find('\n')).c_str());
            std::fflush(stdout);
            return IDNO;
        }
        return console_.Show(owner, text, caption, style);
    }

  private:
    ConsoleMessageBoxProvider console_{true};
};

// Reads the project file into the process's project; false after a message.
bool LoadProject(const char* command, const std::string& file) {
    if (file.size() >= sizeof gSettings.ProjectFileName) {
        std::fprintf(stderr, "%s: project file name longer than %zu characters\n", command,
                     sizeof gSettings.ProjectFileName - 1);
        return false;
    }
    std::strcpy(gSettings.ProjectFileName, file.c_str());
    int32_t notOpened = 0;
    ConvertOtherVideosIntoProject();
    if (!ReadProject(nullptr, &notOpened)) return false;
    if (notOpened > 0) {
        // The frames would not be the project's: its numbering would skip the missing files.
        std::fprintf(stderr, "%s: %ld of the files of %s could not be opened\n", command,
                     static_cast<long>(notOpened), file.c_str());
        return false;
    }
    if (!gProject.head || gProject.totalFrames <= 0) {
        std::fprintf(stderr, "%s: the project %s has no frames\n", command, file.c_str());
        return false;
    }
    return true;
}

// Titles are measured and drawn with the real fonts.
void UseRealText() {
    EnsureGuiApplication();
    InstallGdiTextExtentProvider();
}

int Finish(int rc) {
    ResetProjectForTests();
    ResetCompressorState();
    WrapupMemoryMonitor();
    return rc;
}

// A whole number within [low, high]; false for anything else.
bool ParseNumber(const std::string& text, long low, long high, long* value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end || v < low || v > high) return false;
    *value = v;
    return true;
}

int CmdRender(const Args& args) {
    const char* usage =
        "usage: quillory-cli render PROJECT.cgp OUT.avi|OUT.mp4 [--codec FOURCC|none] [--quality 0-100]\n"
        "       [--threads N] [--copy|--no-copy] [--fit-mb N]\n";
    std::string codec;
    long quality = -1;
    long threads = 0;
    long fitMB = 0;
    bool copy = true;
    std::vector<std::string> names;
    for (size_t i = 0; i < args.size(); i++) {
        if (args[i] == "--codec" && i + 1 < args.size()) {
            codec = args[++i];
            if (codec != "none" && codec.size() != 4) {
                std::fprintf(stderr, "render: a codec is four characters or \"none\": %s\n", codec.c_str());
                return 2;
            }
        } else if (args[i] == "--quality" && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], 0, 100, &quality)) {
                std::fprintf(stderr, "render: the quality is a number from 0 to 100: %s\n", args[i].c_str());
                return 2;
            }
        } else if (args[i] == "--threads" && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], 1, kMaxRenderThreads, &threads)) {
                std::fprintf(stderr, "render: the threads are a number from 1 to %d: %s\n", kMaxRenderThreads,
                             args[i].c_str());
                return 2;
            }
        } else if (args[i] == "--fit-mb" && i + 1 < args.size()) {
            if (!ParseNumber(args[++i], 1, kMaxFitMB, &fitMB)) {
                std::fprintf(stderr, "render: the size is a number of megabytes from 1 to %d: %s\n",
                             kMaxFitMB, args[i].c_str());
                return 2;
            }
        } else if (args[i] == "--copy" || args[i] == "--no-copy") {
            copy = args[i] == "--copy";
        } else if (args[i].rfind("--", 0) == 0) {
            std::fputs(usage, stderr);
            return 2;
        } else {
            names.push_back(args[i]);
        }
    }
    if (names.size() != 2) {
        std::fputs(usage, stderr);
        return 2;
    }
    if (!codec.empty() && IsMp4Name(names[1])) {
        std::fprintf(stderr, "render: an MP4 file takes only a quality, not --codec\n");
        return 2;
    }
    if (names[1].size() > kMaxOutputName) {
        std::fprintf(stderr, "render: output name longer than %zu characters\n", kMaxOutputName);
        return 2;
    }
    SetMessageBoxProvider(std::make_shared<RenderBoxes>());
    UseRealText();
    if (!LoadProject("render", names[0])) return Finish(1);

    auto dialogs = std::make_shared<QueuedFileDialogProvider>();
    dialogs->answers.push_back(names[1]);
    SetFileDialogProvider(dialogs);
    SetCompressorDialogProvider(
        std::make_shared<ScriptedCompressorChoice>(codec, static_cast<int>(quality), stderr));
    gSettings.CopyFrames = copy ? 1 : 0;
    gSettings.FitToSize = fitMB > 0 ? 1 : 0;
    if (fitMB > 0) gSettings.FitMB = static_cast<int32_t>(fitMB);
    SetRenderThreads(static_cast<int32_t>(threads));
    int shownTenth = -1;
    SetRenderCallbacks(RenderCallbacks{nullptr,
                                       [&shownTenth](int32_t frame, int32_t total) {
                                           int tenth = static_cast<int>(int64_t{frame + 1} * 10 / total);
                                           if (tenth == shownTenth) return;
                                           shownTenth = tenth;
                                           std::fprintf(stderr, "render: frame %ld of %ld\n",
                                                        static_cast<long>(frame + 1),
                                                        static_cast<long>(total));
                                       },
                                       nullptr, nullptr, nullptr, nullptr});
    const int32_t ok = RenderProjectToAVI(nullptr);
    SetRenderCallbacks(RenderCallbacks{});
    return Finish(ok ? 0 : 1);
}

int CmdFrame(const Args& args) {
    if (args.size() != 3) {
        std::fputs("usage: quillory-cli frame PROJECT.cgp N OUT.bmp\n", stderr);
        return 2;
    }
    UseRealText();
    if (!LoadProject("frame", args[0])) return Finish(1);
    long n = 0;
    if (!ParseNumber(args[1], 1, gProject.totalFrames, &n)) {
        std::fprintf(stderr, "frame: no frame %s in a project of %ld frames\n", args[1].c_str(),
                     static_cast<long>(gProject.totalFrames));
        return Finish(1);
    }
    std::string reason;
    if (!WriteProjectFrame(static_cast<int32_t>(n), args[2], &reason)) {
        std::fprintf(stderr, "frame: could not write %s: %s\n", args[2].c_str(), reason.c_str());
        return Finish(1);
    }
    return Finish(0);
}

CommandRegistrar renderCommand("render", CmdRender,
                               "PROJECT.cgp OUT.avi|OUT.mp4 [--codec FOURCC|none] [--quality 0-100] "
                               "[--threads N] [--copy|--no-copy] [--fit-mb N]");
CommandRegistrar frameCommand("frame", CmdFrame, "PROJECT.cgp N OUT.bmp");

}  // namespace
