// quillory-cli: the headless companion of the studio (reports, project summaries, rendering,
// the settings record). Boxes go to standard error as "Notify: TEXT"; questions are answered Yes.
#include <cstdio>
#include <memory>

#include "commands.h"
#include "core/diag.h"
#include "media/fileio.h"

std::map<std::string, CommandInfo>& Commands() {
    static std::map<std::string, CommandInfo> commands;
    return commands;
}

namespace {

void Usage() {
    std::fprintf(stderr, "usage: quillory-cli --version\n");
    for (const auto& [name, info] : Commands())
        std::fprintf(stderr, "       quillory-cli %s%s%s\n", name.c_str(), info.usage.empty() ? "" : " ",
                     info.usage.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    RaiseOpenFileLimit();
    SetMessageBoxProvider(std::make_shared<ConsoleMessageBoxProvider>(true));
    if (argc < 2) {
        Usage();
        return 2;
    }
    std::string command = argv[1];
    if (command == "--version") {
        std::printf("quillory-cli %s\n", QUILLORY_VERSION);
        return 0;
    }
    auto it = Commands().find(command);
    if (it == Commands().end()) {
        Usage();
        return 2;
    }
    return it->second.run(Args(argv + 2, argv + argc));
}
