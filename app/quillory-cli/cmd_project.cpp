#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "core/memory.h"
#include "project/playmap.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "settings/settings.h"

// project FILE.cgp: what the project file loads; playmap FILE.cgp: the positions a preview plays.
namespace {

// Reads the project named by args into the process's project; false after a message.
bool LoadProject(const char* command, const Args& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "usage: quillory-cli %s FILE.cgp\n", command);
        return false;
    }
    if (args[0].size() >= sizeof gSettings.ProjectFileName) {
        std::fprintf(stderr, "%s: project file name longer than %zu characters\n", command,
                     sizeof gSettings.ProjectFileName - 1);
        return false;
    }
    std::strcpy(gSettings.ProjectFileName, args[0].c_str());
    ConvertOtherVideosIntoProject();
    return ReadProject(nullptr) != 0;
}

int Finish(int rc) {
    ResetProjectForTests();
    WrapupMemoryMonitor();
    return rc;
}

int CmdProject(const Args& args) {
    if (!LoadProject("project", args)) return Finish(1);
    for (const AVIlist* f = gProject.head; f; f = f->next)
        std::printf("F: %s %ld\n", f->name, static_cast<long>(f->frames));
    for (const Revision* r = gProject.revisions; r; r = r->next) {
        std::string line = "R: " + std::to_string(r->start) + " " + std::to_string(r->end) + " " +
                           std::to_string(static_cast<int32_t>(r->type));
        if (const TitleRecord* t = TitleOf(r)) {
            if (t->text && *t->text) line += " " + std::string(t->text, std::strcspn(t->text, "\n"));
        } else if (const UnderlayRecord* u = UnderlayOf(r)) {
            int32_t ranges = 0;
            for (const ColourRange* c = u->ranges; c; c = c->next) ranges++;
            line += " " + std::string(u->fileName, strnlen(u->fileName, sizeof u->fileName)) + " " +
                    std::to_string(ranges);
        }
        std::printf("%s\n", line.c_str());
    }
    std::printf("frames %ld\nrate %ld\nduration %ld\n", static_cast<long>(gProject.totalFrames),
                static_cast<long>(gProject.frameRate), static_cast<long>(gProject.duration));
    return Finish(0);
}

int CmdPlaymap(const Args& args) {
    if (!LoadProject("playmap", args)) return Finish(1);
    int32_t positions = 0;
    uint32_t* map = BuildPlayMap(&positions);
    if (!map) {
        std::fprintf(stderr, "playmap: no play map for %ld frames\n",
                     static_cast<long>(gProject.totalFrames));
        return Finish(1);
    }
    // Each kept position with the frame it shows and the state of the frame it stands for.
    int32_t p = 0;
    for (int32_t i = 0; i < gProject.totalFrames; i++) {
        uint32_t state = PlayMapState(map, i + 1);
        if (state & kStateInactive) continue;
        p++;
        std::printf("%ld %ld %02x\n", static_cast<long>(p), static_cast<long>(PlayMapFrame(map, p)), state);
    }
    std::printf("positions %ld\n", static_cast<long>(positions));
    MyFree(map);
    return Finish(0);
}

CommandRegistrar projectCommand("project", CmdProject, "FILE.cgp");
CommandRegistrar playmapCommand("playmap", CmdPlaymap, "FILE.cgp");

}  // namespace
