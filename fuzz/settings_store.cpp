// The registry file as start-up reads it into the settings record, then the shutdown save and a
// second start-up from what it wrote, twice: the file written must read back to the same keys and
// values, and from the first save on every start-up must see the same settings (the first run may
// differ: values a save leaves out come back with their defaults).
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "platform/registry/registry.h"
#include "settings/settings.h"
#include "support.h"

namespace {

// The user whose settings start-up loads (the root value "User"), as it reads it.
std::string CurrentUser() {
    char user[100] = {};
    return RegReadRootString("User", user) ? std::string(user) : std::string();
}

std::string StartUp(const std::string& path) {
    RegistryUseFile(path);
    ResetSettings();
    LoadStartupSettings();
    return DescribeSettings(gSettings);
}

// A damaged file is set aside under a name of its own before it is replaced; those are removed so
// the folder does not fill up over a long run.
void RemoveSetAside(const std::string& path) {
    const std::filesystem::path p(path);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(p.parent_path(), ec))
        if (entry.path().filename().string().rfind(p.filename().string() + ".damaged-", 0) == 0)
            std::filesystem::remove(entry.path(), ec);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string path = FuzzWrite("registry.reg", data, size);
    StartUp(path);
    const std::string user = CurrentUser();
    std::string settings;
    for (int round = 0; round < 2; round++) {
        FUZZ_CHECK(RegSaveSettings(user.c_str()) == ERROR_SUCCESS);
        const std::string written = RegistryText();
        FUZZ_CHECK(FuzzRead(path) == written);
        const std::string loaded = StartUp(path);
        FUZZ_CHECK(!RegistryFileWasDamaged());
        FUZZ_CHECK(RegistryText() == written);
        FUZZ_CHECK(CurrentUser() == user);
        FUZZ_CHECK(round == 0 || loaded == settings);
        settings = loaded;
    }
    RemoveSetAside(path);
    FuzzTakeMessageCount();
    return 0;
}
