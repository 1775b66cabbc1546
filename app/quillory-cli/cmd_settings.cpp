#include <cerrno>
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "core/memory.h"
#include "settings/settings.h"

// Runs the start-up settings steps and prints the record; --save then runs the shutdown save.
namespace {

int CmdSettings(const Args& args) {
    bool save = false;
    for (const auto& a : args) {
        if (a == "--save") {
            save = true;
        } else {
            std::fprintf(stderr, "settings: unknown argument %s\n", a.c_str());
            return 2;
        }
    }
    LoadStartupSettings();
    std::fputs(DescribeSettings(gSettings).c_str(), stdout);
    int rc = 0;
    if (save && RegSaveSettings(nullptr) != ERROR_SUCCESS) {
        std::fprintf(stderr, "settings: could not write %s: %s\n", RegistryFilePath().c_str(),
                     std::strerror(RegistryWriteError() ? RegistryWriteError() : EIO));
        rc = 1;
    }
    WrapupMemoryMonitor();
    return rc;
}

CommandRegistrar registrar("settings", CmdSettings, "[--save]");

}  // namespace
