#include "support.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "core/diag.h"
#include "core/pump.h"

namespace {

std::string gFolder;
int gMessages = 0;

class QuietBoxes : public MessageBoxProvider {
  public:
    int Show(HWND, const std::string&, const std::string&, unsigned style) override {
        ++gMessages;
        return (style & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
    }
};

// Nothing is ever pending: long operations run to their end.
class IdlePump : public PumpProvider {
  public:
    bool PumpUntilEscape() override { return false; }
    void PumpAll() override {}
    bool PumpWait(int32_t) override { return false; }
};

void RemoveFolder() {
    std::error_code ec;
    if (!gFolder.empty()) std::filesystem::remove_all(gFolder, ec);
}

}  // namespace

void FuzzSetUp() {
    if (!gFolder.empty()) return;
    std::string pattern = (std::filesystem::temp_directory_path() / "quillory-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    gFolder = pattern;
    std::atexit(RemoveFolder);
    // Settings and win.ini stay inside the folder, never the user's own.
    setenv("XDG_CONFIG_HOME", gFolder.c_str(), 1);
    setenv("QUILLORY_REGISTRY", FuzzPath("registry.reg").c_str(), 1);
    setenv("QUILLORY_WININI", FuzzPath("win.ini").c_str(), 1);
    unsetenv("QUILLORY_LOG");
    SetMessageBoxProvider(std::make_shared<QuietBoxes>());
    SetPumpProvider(std::make_shared<IdlePump>());
    SetTextExtentProvider(std::make_shared<FixedTextExtentProvider>());
}

std::string FuzzPath(const char* name) {
    return gFolder + "/" + name;
}

std::string FuzzWrite(const char* name, const uint8_t* data, size_t size) {
    std::string path = FuzzPath(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) FuzzFail("the input could not be written to the private folder", __FILE__, __LINE__);
    return path;
}

std::string FuzzRead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int FuzzTakeMessageCount() {
    int n = gMessages;
    gMessages = 0;
    return n;
}

void FuzzFail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "fuzz check failed: %s (%s:%d)\n", what, file, line);
    std::abort();
}
