// win.ini as start-up reads it (the "MAPI" entry of "Mail"), then the mail provider's install
// step writing MAPI=1, and a removal: each save must read back with the entry as set and every
// other entry as it was.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/winini/winini.h"
#include "support.h"

namespace {

constexpr size_t kMaxEntriesCompared = 64;

using Entries = std::map<std::pair<std::string, std::string>, std::pair<bool, std::string>>;

// The value a reader finds for each entry name the text holds (a later copy is never found).
Entries Lookups(const std::vector<IniLine>& lines, const std::string& text) {
    Entries found;
    const std::vector<IniLine> now = ParseIni(text);
    for (const IniLine& l : lines) {
        if (!l.isEntry || found.size() >= kMaxEntriesCompared) continue;
        std::string value;
        const bool there = FindIniValue(now, l.section, l.key, value);
        found[{l.section, l.key}] = {there, value};
    }
    return found;
}

bool IsMailEntry(const std::pair<std::string, std::string>& name) {
    auto same = [](const std::string& a, const char* b) {
        if (a.size() != std::char_traits<char>::length(b)) return false;
        for (size_t i = 0; i < a.size(); i++)
            if (std::tolower(static_cast<unsigned char>(a[i])) !=
                std::tolower(static_cast<unsigned char>(b[i])))
                return false;
        return true;
    };
    return same(name.first, "Mail") && same(name.second, "MAPI");
}

void CheckOthersKept(const Entries& before, const std::vector<IniLine>& lines, const std::string& path) {
    const Entries after = Lookups(lines, FuzzRead(path));
    for (const auto& [name, value] : before)
        if (!IsMailEntry(name)) FUZZ_CHECK(after.at(name) == value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::string path = FuzzWrite("win.ini", data, size);
    FUZZ_CHECK(WinIniPath() == path);
    const std::vector<IniLine> lines = ParseIni(text);
    const Entries before = Lookups(lines, text);

    char mail[128];
    GetProfileStringA("Mail", "MAPI", "0", mail, sizeof mail);
    std::string expected;
    if (!FindIniValue(lines, "Mail", "MAPI", expected)) expected = "0";
    FUZZ_CHECK(std::string(mail) == expected.substr(0, expected.find('\0')).substr(0, sizeof mail - 1));

    FUZZ_CHECK(WriteProfileStringA("Mail", "MAPI", "1"));
    GetProfileStringA("Mail", "MAPI", "0", mail, sizeof mail);
    FUZZ_CHECK(std::string(mail) == "1");
    CheckOthersKept(before, lines, path);

    FUZZ_CHECK(WriteProfileStringA("Mail", "MAPI", nullptr));
    FUZZ_CHECK(!ProfileEntryExists("Mail", "MAPI"));
    CheckOthersKept(before, lines, path);
    FuzzTakeMessageCount();
    return 0;
}
