#include "project/revision_text.h"

#include <cstring>
#include <string>

#include "core/diag.h"
#include "core/format.h"

const char* RevisionText(const Revision* r) {
    static std::string line;
    if (!r) return "";
    char first[32] = "", last[32] = "";
    if (gProject.frameRate != 0) {
        FormatTimecode(first, r->start - 1, gProject.frameRate);
        FormatTimecode(last, r->end - 1, gProject.frameRate);
    }
    switch (r->type) {
        case kRevActivate:
            line = FormatMessageText("%s %s Activate Range", first, last);
            break;
        case kRevInactivate:
            line = FormatMessageText("%s %s Inactivate Range", first, last);
            break;
        case kRevTitle: {
            const TitleRecord* t = TitleOf(r);
            const char* text = t && t->text ? t->text : "";
            char shown[kRevisionTitleChars + 1];
            CopyCut(shown, sizeof shown, std::string(text, std::strcspn(text, "\n")));
            line = FormatMessageText("%s %s Title: %s", first, last, shown);
            break;
        }
        case kRevUnderlay: {
            const UnderlayRecord* u = UnderlayOf(r);
            line = u ? FormatMessageText(
                           "%s %s Video Underlay: %s", first, last,
                           std::string(u->fileName, strnlen(u->fileName, sizeof u->fileName)).c_str())
                     : FormatMessageText("%s %s Video Underlay: No File", first, last);
            break;
        }
        case kRevDrop:
            line = FormatMessageText("%s %s Drop Frame Range", first, last);
            break;
        default:
            line = FormatMessageText("** unknown type %ld **", static_cast<long>(r->type));
            break;
    }
    return line.c_str();
}

bool IsProjectRevision(const Revision* revision) {
    for (const Revision* r = gProject.revisions; r; r = r->next)
        if (r == revision) return true;
    return false;
}
