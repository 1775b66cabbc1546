// quillory-cli: the headless companion of the studio (reports, project summaries, rendering,
// the settings record). Boxes go to standard error as "Notify: TEXT"; questions are answered Yes.
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>

#include "commands.h"
#include "core/diag.h"

namespace {

void Usage() {
    std::fprintf(stderr,
                 "usage: quillory-cli --version\n"
                 "       quillory-cli settings [--save]\n");
}

}  // namespace

int main(int argc, char** argv) {
    SetMessageBoxProvider(std::make_shared<ConsoleMessageBoxProvider>(true));
    if (argc < 2) {
        Usage();
        return 2;
    }
    std::string command = argv[1];
    Args args(argv + 2, argv + argc);
    if (command == "--version") {
        std::printf("quillory-cli %s\n", QUILLORY_VERSION);
        return 0;
    }
    static const std::map<std::string, int (*)(const Args&)> kCommands = {
        {"settings", CmdSettings},
    };
    auto it = kCommands.find(command);
    if (it == kCommands.end()) {
        Usage();
        return 2;
    }
    return it->second(args);
}
