#include "project/projectfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/diag.h"
#include "core/format.h"
#include "core/memory.h"
#include "core/savefile.h"
#include "project/project.h"
#include "settings/settings.h"

namespace {

// ---- writing

// A one-line text field: ends at a line break, which the reader could not take back.
void AppendField(std::string& out, const char* text) {
    for (const char* p = text; *p && *p != '\n' && *p != '\r'; p++) out += *p;
}

void AppendLine(std::string& out, const char* format, ...) QUILLORY_PRINTF(2, 3);
void AppendLine(std::string& out, const char* format, ...) {
    char buffer[128];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0) out.append(buffer, static_cast<size_t>(n) < sizeof buffer ? n : sizeof buffer - 1);
}

std::string ProjectText() {
    std::string out = kProjectMagic;
    out += '\n';
    for (const AVIlist* f = gProject.head; f; f = f->next) {
        out += "F0: ";
        AppendField(out, f->name);
        out += '\n';
    }
    for (const Revision* r = gProject.revisions; r; r = r->next) {
        AppendLine(out, "R0: %ld,%ld,%ld\n", static_cast<long>(r->start), static_cast<long>(r->end),
                   static_cast<long>(static_cast<int32_t>(r->type)));
        if (const TitleRecord* t = TitleOf(r); t && r->type == kRevTitle) {
            AppendLine(out, "T0: %ld,%ld\n", static_cast<long>(t->vertical),
                       static_cast<long>(t->horizontal));
            out += "T1: ";
            // Line feeds are stored as backslashes; a title without text is written empty.
            for (const char* p = t->text ? t->text : ""; *p; p++)
                if (*p != '\r') out += *p == '\n' ? '\\' : *p;
            out += "\nT2: ";
            char face[sizeof t->faceName];
            CopyCut(face, sizeof face, std::string(t->faceName, strnlen(t->faceName, sizeof t->faceName)));
            AppendField(out, face);
            out += '\n';
            AppendLine(out, "T3: %d,%d,%d,%d,%d,%d,%ld\n", t->italic, t->height, t->weight, t->underline,
                       t->quality, t->points, static_cast<long>(static_cast<int32_t>(t->colour)));
        } else if (const UnderlayRecord* u = UnderlayOf(r); u && r->type == kRevUnderlay) {
            char file[sizeof u->fileName];
            CopyCut(file, sizeof file, std::string(u->fileName, strnlen(u->fileName, sizeof u->fileName)));
            out += "U0: ";
            AppendField(out, file);
            out += '\n';
            for (const ColourRange* c = u->ranges; c; c = c->next)
                AppendLine(out, "U1: %d,%d,%d,%d,%d,%d\n", c->lumaLow, c->lumaHigh, c->blueDiffLow,
                           c->blueDiffHigh, c->redDiffLow, c->redDiffHigh);
        }
    }
    return out;
}

// ---- reading

// Length of the well-formed UTF-8 sequence that starts at s[i], or 0.
size_t Utf8Length(const std::string& s, size_t i) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    unsigned char c = b(i);
    size_t n = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; k++)
        if ((b(i + k) & 0xC0) != 0x80) return 0;
    if (n == 3 && ((c == 0xE0 && b(i + 1) < 0xA0) || (c == 0xED && b(i + 1) >= 0xA0))) return 0;
    if (n == 4 && ((c == 0xF0 && b(i + 1) < 0x90) || (c == 0xF4 && b(i + 1) >= 0x90))) return 0;
    return n;
}

// Reads one line: at most kProjectLineLimit characters are kept, the rest up to the line feed is
// dropped; the line is then cut at its first character below 30 (a carriage return is cut that
// way) or of 128 and above. Characters of a well-formed UTF-8 sequence are kept, so the paths of
// this system's own files read back. False at the end of the file.
bool ReadLine(std::FILE* f, std::string& line) {
    line.clear();
    int c = std::getc(f);
    if (c == EOF) return false;
    for (; c != EOF && c != '\n'; c = std::getc(f))
        if (static_cast<int32_t>(line.size()) < kProjectLineLimit) line += static_cast<char>(c);
    for (size_t i = 0; i < line.size();) {
        auto u = static_cast<unsigned char>(line[i]);
        size_t n = u >= 128 ? Utf8Length(line, i) : 1;
        if (u < 30 || n == 0) {
            line.resize(i);
            break;
        }
        i += n;
    }
    return true;
}

// Reads the comma-separated numbers that start at the line's fourth character into fields; a
// field the line does not give keeps the value it has.
void ReadNumbers(const std::string& line, int32_t* fields, int count) {
    size_t len = line.size();
    size_t i = 3;
    int k = 0;
    while (i < len) {
        if (line[i] == ',') {
            k++;
            i++;
            continue;
        }
        size_t j = i;
        while (j < len && line[j] == ' ') j++;
        bool negative = j < len && line[j] == '-';
        if (negative) j++;
        uint32_t v = 0;  // 32-bit arithmetic: larger numbers wrap, as the writer's values never do
        while (j < len && line[j] >= '0' && line[j] <= '9')
            v = v * 10 + static_cast<uint32_t>(line[j++] - '0');
        if (negative) v = 0u - v;
        if (k < count) fields[k] = static_cast<int32_t>(v);
        i = j > i ? j : i + 1;  // a character no number can start with is stepped over
    }
}

// The text from the fifth character. When the fourth began a UTF-8 character (no blank after the
// colon), the rest of that character is dropped too, so the text never starts inside one: it would
// be written back as a line the reader cuts.
std::string TextField(const std::string& line) {
    size_t start = 4;
    while (start < line.size() && (static_cast<unsigned char>(line[start]) & 0xC0) == 0x80) start++;
    return start < line.size() ? line.substr(start) : std::string();
}

// The line's kind: its first three characters are a letter, a digit and a colon.
bool IsKind(const std::string& line, const char* kind) {
    return line.size() >= 3 && line.compare(0, 3, kind) == 0;
}

class ProjectReader {
  public:
    ProjectReader(std::FILE* f, HWND window) : file_(f), window_(window) {}

    void ReadAll() {
        std::string line;
        while (ReadLine(file_, line)) Apply(line);
    }
    int32_t notOpened() const { return notOpened_; }

  private:
    void Apply(const std::string& line) {
        if (!line.empty() && line[0] == ';') return;
        if (IsKind(line, "F0:")) {
            std::string name = TextField(line);
            std::string why;
            int32_t outcome = AppendAVIToProjectOutcome(window_, name.c_str(), &why);
            if (outcome == kAppendNotOpened) {
                NotifyFileNotOpened(name.c_str(), why);
                notOpened_++;
            } else {
                current_ = nullptr;
            }
        } else if (IsKind(line, "R0:")) {
            current_ = nullptr;
            if (revisions_ >= kMaxRevisionsRead) {
                if (revisions_++ == kMaxRevisionsRead)
                    DebugLog("ReadProject: revisions beyond the cap ignored");
                return;
            }
            int32_t n[3] = {0, 0, 0};
            ReadNumbers(line, n, 3);
            current_ = AddRevision(static_cast<uint32_t>(n[2]), n[0], n[1], nullptr, lastAdded_);
            if (current_) lastAdded_ = current_;
            revisions_++;
        } else if (IsKind(line, "T0:")) {
            if (!current_ || current_->payload) return;
            TitleRecord* t = NewTitleRecord();
            if (!t) return;
            int32_t n[2] = {0, 0};
            ReadNumbers(line, n, 2);
            t->vertical = n[0];
            t->horizontal = n[1];
            t->colour = kDefaultTitleColour;
            AttachPayload(current_, kRevTitle, t);
        } else if (IsKind(line, "T1:")) {
            TitleRecord* t = current_ ? TitleOf(current_) : nullptr;
            if (!t) return;
            std::string text = TextField(line);
            auto* copy = static_cast<char*>(MyCalloc(static_cast<uint32_t>(text.size() + 1), 1));
            if (!copy) return;  // the old text stays
            for (size_t i = 0; i < text.size(); i++) copy[i] = text[i] == '\\' ? '\n' : text[i];
            MyFree(t->text);
            t->text = copy;
        } else if (IsKind(line, "T2:")) {
            if (TitleRecord* t = current_ ? TitleOf(current_) : nullptr)
                CopyCut(t->faceName, sizeof t->faceName, TextField(line));
        } else if (IsKind(line, "T3:")) {
            TitleRecord* t = current_ ? TitleOf(current_) : nullptr;
            if (!t) return;
            int32_t n[7] = {0, 0, 0, 0, 0, 0, static_cast<int32_t>(kDefaultTitleColour)};
            ReadNumbers(line, n, 7);
            t->italic = n[0];
            t->height = n[1];
            t->weight = n[2];
            t->underline = n[3];
            t->quality = n[4];
            t->points = n[5];
            t->colour = static_cast<uint32_t>(n[6]);
        } else if (IsKind(line, "U0:")) {
            if (!current_ || current_->payload) return;
            UnderlayRecord* u = NewUnderlayRecord();
            if (!u) return;
            CopyCut(u->fileName, sizeof u->fileName, TextField(line));
            AttachPayload(current_, kRevUnderlay, u);
        } else if (IsKind(line, "U1:")) {
            UnderlayRecord* u = current_ ? UnderlayOf(current_) : nullptr;
            if (!u) return;
            if (ranges_ >= kMaxColourRangesRead) {
                if (ranges_++ == kMaxColourRangesRead)
                    DebugLog("ReadProject: colour ranges beyond the cap ignored");
                return;
            }
            ColourRange* c = NewColourRange();
            if (!c) return;
            int32_t n[6] = {0, 0, 0, 0, 0, 0};
            ReadNumbers(line, n, 6);
            c->lumaLow = n[0];
            c->lumaHigh = n[1];
            c->blueDiffLow = n[2];
            c->blueDiffHigh = n[3];
            c->redDiffLow = n[4];
            c->redDiffHigh = n[5];
            ColourRange** tail = rangesOf_ == u && rangesTail_ ? rangesTail_ : &u->ranges;
            while (*tail) tail = &(*tail)->next;
            *tail = c;
            rangesOf_ = u;
            rangesTail_ = &c->next;
            ranges_++;
        }
    }

    static constexpr uint32_t kDefaultTitleColour = 0x0000FFFF;  // yellow

    std::FILE* file_;
    HWND window_;
    Revision* current_ = nullptr;
    Revision* lastAdded_ = nullptr;  // the list's end as this reader left it
    // The underlay whose ranges were appended to last, and the link after its last range.
    const UnderlayRecord* rangesOf_ = nullptr;
    ColourRange** rangesTail_ = nullptr;
    int32_t revisions_ = 0;
    int32_t ranges_ = 0;
    int32_t notOpened_ = 0;
};

// Only regular files are read: a folder, a device or a pipe is refused rather than waited on.
std::FILE* OpenProjectFile(const char* name) {
    int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return nullptr;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    std::FILE* f = fdopen(fd, "rb");
    if (!f) close(fd);
    return f;
}

void ClearBeforeLoad() {
    ProjectCallbacks& cb = GetProjectCallbacks();
    if (cb.releaseThumbnails) cb.releaseThumbnails();
    if (gProject.head) CloseAVIlist(gProject.head);
    // Revisions go too, even in a project without files: the user asked for a clear project.
    ClearRevisions();
    if (cb.enableUndo) cb.enableUndo(false);
    gProject.head = nullptr;
    gProject.fileCount = 0;
    gProject.frameRate = 0;
    gProject.totalFrames = 0;
    gProject.duration = 0;
}

}  // namespace

int32_t WriteProject() {
    const char* name = gSettings.ProjectFileName;
    if (!*name) {
        NotifyBox("Need a project file name");
        return 0;
    }
    if (!gProject.head) return 0;
    if (const SaveOutcome saved = SaveFileReplacing(name, ProjectText()); !saved) {
        // The old file is kept as it was; the reason goes under the message.
        NotifyBox("Couldn't open save project file <%s>\n%s", name, std::strerror(saved.error));
        return 0;
    }
    return 1;
}

int32_t ReadProject(HWND window, int32_t* notOpened) {
    if (notOpened) *notOpened = 0;
    const char* name = gSettings.ProjectFileName;
    if (!*name) {
        NotifyBox("Need a project file name");
        return 0;
    }
    std::FILE* f = OpenProjectFile(name);
    if (!f) {
        NotifyBox("Couldn't open specified project file <%s>", name);
        return 0;
    }
    std::string first;
    if (!ReadLine(f, first)) {  // an empty file is a project with nothing in it
        std::fclose(f);
        return 1;
    }
    if (first != kProjectMagic) {
        NotifyBox("Illegal Project File <%s> <%s>\n", name, first.c_str());
        std::fclose(f);
        return 0;
    }
    if (gProject.head || gProject.fileCount > 0 || gProject.revisions) {
        if (!NotifyYesNo("Do You Want To Clear\nExisting Project First?")) {
            std::fclose(f);
            return 0;
        }
        ClearBeforeLoad();
    }
    ProjectReader reader(f, window);
    reader.ReadAll();
    std::fclose(f);
    if (notOpened) *notOpened = reader.notOpened();
    return 1;
}
