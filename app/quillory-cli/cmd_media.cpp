#include <cstdio>
#include <string>

#include "commands.h"
#include "core/diag.h"
#include "core/memory.h"
#include "media/fileinfo.h"

// File reports: "info" prints what the Information box would show, "describe" the mailing summary
// (of an AVI or MP4 file); a file that cannot be read is named with the reason, exit 1.
namespace {

int CmdInfo(const Args& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "info: expected one file name\n");
        return 2;
    }
    if (const std::string problem = FileProblem(args[0].c_str()); !problem.empty()) {
        NotifyBox("%s", problem.c_str());
        return 1;
    }
    std::printf("%s\n", FileInfoText(args[0].c_str(), nullptr, nullptr).c_str());
    return 0;
}

int CmdDescribe(const Args& args) {
    if (args.size() != 1) {
        std::fprintf(stderr, "describe: expected one file name\n");
        return 2;
    }
    if (const std::string problem = FileProblem(args[0].c_str()); !problem.empty()) {
        NotifyBox("%s", problem.c_str());
        return 1;
    }
    char* text = DescribeAVI(args[0].c_str());
    if (!text) text = DescribeMP4(args[0].c_str(), nullptr);
    if (!text) text = DescribeVideo(args[0].c_str(), nullptr);
    if (!text) {
        NotifyBox("%s is not a valid AVI file", args[0].c_str());
        return 1;
    }
    std::printf("%s\n", text);
    MyMallocFree(text);
    return 0;
}

CommandRegistrar info("info", CmdInfo, "FILE");
CommandRegistrar describe("describe", CmdDescribe, "FILE");

}  // namespace
