#include <cstdio>
#include <string>

#include "commands.h"
#include "core/diag.h"
#include "diag/gifdump.h"

// gifdump FILE.gif [OUT.txt]: the GIF structure dump, by default beside the file (GifDumpOutputName);
// the command's message goes to standard error.
namespace {

int CmdGifDump(const Args& args) {
    if (args.empty() || args.size() > 2) {
        std::fprintf(stderr, "gifdump: expected FILE.gif [OUT.txt]\n");
        return 2;
    }
    const std::string& gif = args[0];
    const std::string out = args.size() == 2 ? args[1] : GifDumpOutputName(gif);
    const int32_t result = GifDump(gif.c_str(), out.c_str());
    if (result == -1) NotifyBox("Couldn't write the dump of <%s> to <%s>", gif.c_str(), out.c_str());
    if (result < 0) return 1;
    NotifyBox("<%s>\ndumped to:\n<%s>", gif.c_str(), out.c_str());
    return 0;
}

CommandRegistrar gifdump("gifdump", CmdGifDump, "FILE.gif [OUT.txt]");

}  // namespace
