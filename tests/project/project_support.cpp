#include "project/project_support.h"

#include <cstdlib>
#include <cstring>

void ProjectTest::SetUp() {
    ResetProjectForTests();
    ResetSettings();
    SetProjectCallbacks({[this] { calls.repaints++; }, [this] { calls.thumbnailReleases++; },
                         [this](bool on) { calls.undoEnabled = on; }, [this] { calls.viewResets++; },
                         [this] { calls.tooltipCloses++; }, nullptr});
    ScriptedTest::SetUp();
}

void ProjectTest::TearDown() {
    ResetProjectForTests();
    SetProjectCallbacks({});
    ScriptedTest::TearDown();
}

namespace {
std::string Numbers(std::initializer_list<int64_t> values) {
    std::string s;
    for (int64_t v : values) s += " " + std::to_string(v);
    return s;
}
}  // namespace

std::string DumpRevisions() {
    std::string out;
    for (const Revision* r = gProject.revisions; r; r = r->next) {
        out += "R" + Numbers({r->start, r->end, r->type});
        if (const TitleRecord* t = TitleOf(r)) {
            out += " T" + Numbers({t->vertical, t->horizontal}) + " [" + (t->text ? t->text : "(null)") +
                   "] [" + t->faceName + "]" +
                   Numbers({t->italic, t->height, t->weight, t->underline, t->quality, t->points, t->colour});
        } else if (const UnderlayRecord* u = UnderlayOf(r)) {
            out += " U [" + std::string(u->fileName) + "]";
            for (const ColourRange* c = u->ranges; c; c = c->next)
                out += " (" +
                       Numbers({c->lumaLow, c->lumaHigh, c->blueDiffLow, c->blueDiffHigh, c->redDiffLow,
                                c->redDiffHigh})
                           .substr(1) +
                       ")";
        }
        out += "\n";
    }
    return out;
}

std::string DumpProject() {
    std::string out = "files" +
                      Numbers({gProject.fileCount, gProject.totalFrames, gProject.frameRate,
                               gProject.framePeriod, gProject.duration, gProject.frameWidth,
                               gProject.frameHeight, gProject.selStart, gProject.selEnd}) +
                      "\n";
    for (const AVIlist* f = gProject.head; f; f = f->next)
        out += "F " + std::string(f->name) + Numbers({f->frames}) + "\n";
    return out + DumpRevisions();
}

TitleRecord* MakeTitle(const char* text) {
    TitleRecord* t = NewTitleRecord();
    t->text = static_cast<char*>(MyCalloc(static_cast<uint32_t>(std::strlen(text) + 1), 1));
    std::strcpy(t->text, text);
    t->stencil = static_cast<uint8_t*>(MyCalloc(4 * 2 * 3, 1));
    std::strcpy(t->faceName, "Arial");
    t->colour = 0x0000FFFF;
    return t;
}

UnderlayRecord* MakeUnderlay(const char* file, int ranges) {
    UnderlayRecord* u = NewUnderlayRecord();
    std::strncpy(u->fileName, file, sizeof u->fileName - 1);
    u->image = static_cast<uint8_t*>(MyCalloc(2 * 2 * 3, 1));
    for (ColourRange** tail = &u->ranges; ranges-- > 0; tail = &(*tail)->next) {
        *tail = NewColourRange();
        (*tail)->lumaHigh = 10 + ranges;
    }
    return u;
}

std::string MediaPath(const std::string& name) {
    const char* dir = std::getenv("QUILLORY_TEST_DATA");
    return std::string(dir ? dir : "testdata") + "/" + name;
}

void SetProjectFileName(const std::string& name) {
    std::memset(gSettings.ProjectFileName, 0, sizeof gSettings.ProjectFileName);
    std::strncpy(gSettings.ProjectFileName, name.c_str(), sizeof gSettings.ProjectFileName - 1);
}
