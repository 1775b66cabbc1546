#include <cstdio>

#include "commands.h"
#include "platform/codec/codec.h"
#include "render/compressor.h"

// Lists the installed compressors, one a line: FOURCC, "quality" or "-", description.
namespace {

int CmdCodecs(const Args& args) {
    if (!args.empty()) {
        std::fprintf(stderr, "codecs: unknown argument %s\n", args[0].c_str());
        return 2;
    }
    ICINFO info;
    for (DWORD i = 0; ICInfo(ICTYPE_VIDEO, i, &info); ++i) {
        HIC hic = ICOpen(info.fccType, info.fccHandler, ICMODE_QUERY);
        if (!hic) continue;
        ICINFO mine{};
        if (ICGetInfo(hic, &mine, sizeof mine) > 0) {
            std::printf("%s %s %s\n", FourCCText(mine.fccHandler).c_str(),
                        (mine.dwFlags & VIDCF_QUALITY) ? "quality" : "-",
                        ICInfoText(mine.szDescription, 128, 127).c_str());
        }
        ICClose(hic);
    }
    return 0;
}

CommandRegistrar registrar("codecs", CmdCodecs, "");

}  // namespace
