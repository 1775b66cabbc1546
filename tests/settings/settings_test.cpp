#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "settings/settings.h"
#include "support/scripted.h"

namespace {

// Each test gets its own registry file and a fresh record, and runs in its own working folder.
class SettingsStore : public ::testing::Test {
  protected:
    void SetUp() override {
        file = dir.file("registry.reg");
        RegistryUseFile(file);
        ResetSettings();
        oldCwd = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
    }
    void TearDown() override {
        std::filesystem::current_path(oldCwd);
        RegistryUseFile("");
        ResetSettings();
    }
    // Sets a value under the per-user key, the way another run would have left it.
    void Store(const char* section, const char* name, const char* text, const char* user = "User") {
        HKEY k = nullptr;
        std::string path = std::string(kRootKeyPath) + "\\Users\\" + user + "\\" + section;
        ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), &k, nullptr), ERROR_SUCCESS);
        RegSetValueExA(k, name, REG_SZ, reinterpret_cast<const uint8_t*>(text),
                       static_cast<uint32_t>(strlen(text)));
        RegCloseKey(k);
    }
    std::string Stored(const char* section, const char* name) {
        HKEY k = nullptr;
        std::string path = std::string(kRootKeyPath) + "\\Users\\User\\" + section;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), &k) != ERROR_SUCCESS) return "<no key>";
        char buf[256];
        uint32_t size = sizeof buf;
        LONG err = RegQueryValueExA(k, name, nullptr, reinterpret_cast<uint8_t*>(buf), &size);
        RegCloseKey(k);
        return err == ERROR_SUCCESS ? std::string(buf, size) : "<none>";
    }

    TempDir dir;
    std::string file;
    std::filesystem::path oldCwd;
};

}  // namespace

TEST_F(SettingsStore, FirstRunStoresUserAndSavesTheInitialRecord) {
    ScopedBoxes boxes;
    LoadStartupSettings();
    EXPECT_TRUE(boxes->shown.empty());
    char user[100];
    ASSERT_EQ(RegReadRootString("User", user), 1);
    EXPECT_STREQ(user, "User");
    EXPECT_EQ(std::pair(gSettings.angJogPlay, gSettings.previewRate),
              std::pair(0, 250));  // the Initial column

    ASSERT_EQ(RegSaveSettings(nullptr), ERROR_SUCCESS);
    // An empty FontName is not written.
    EXPECT_EQ((std::vector{Stored("Paths", "HelpFile"), Stored("Paths", "CapFile"),
                           Stored("Paths", "ProjectFileName"), Stored("Paths", "LogFileName"),
                           Stored("Settings", "SSdisable"), Stored("Capture", "Arate"),
                           Stored("Titles", "FontName"), Stored("ToolTips", "fontnameToolTips")}),
              (std::vector<std::string>{"*", "*", "<none>", "<none>", "<none>", "0", "<none>", "Arial"}));

    // The second run loads what the first one stored, and derives the help path.
    RegistryUseFile(file);
    ResetSettings();
    LoadStartupSettings();
    // SSdisable was never written: its Missing default.
    std::string help = std::filesystem::current_path().string() + "/Quillory.hlp";
    EXPECT_EQ((std::tuple(gSettings.Arate, gSettings.cellW, gSettings.previewRate, gSettings.SSdisable,
                          std::string(gSettings.FontName), std::string(gSettings.HelpFile))),
              std::tuple(0, 80, 250, 1, std::string("Times New Roman"), help));
    ASSERT_EQ(boxes->shown.size(), 1u);  // the help file is not there
    EXPECT_EQ(boxes->shown[0].text,
              "Default Location For Help File\n" + help +
                  "\nDoes Not Exist\nGo to Registry and specify proper Help file name and "
                  "location");
}

TEST_F(SettingsStore, MissingValuesTakeDefaultsAndOddTextReadsAsZero) {
    ScopedBoxes boxes;
    WriteWholeFile(dir.file("Quillory.hlp"), "help");
    Store("Settings", "cellW", "abc");
    Store("Settings", "cellH", "-7x");
    Store("Paths", "CapFile", "*");
    Store("Paths", "LastAVIfileName", std::string(300, 'a').c_str());  // too long for the 200-byte read
    RegLoadSettings("User");
    EXPECT_TRUE(boxes->shown.empty());  // the help file exists
    EXPECT_EQ((std::vector{gSettings.cellW, gSettings.cellH, int32_t{gSettings.CapFile[0]},
                           int32_t{gSettings.LastAVIfileName[0]}, gSettings.angJogPlay, gSettings.msPerFrame,
                           gSettings.Arate, gSettings.Size, gSettings.Color}),
              (std::vector{0, -7, 0, 0, 45, 66667, 11025, -108, 65535}));
}

TEST_F(SettingsStore, AnglesAreBroughtIntoRangeWhenSaved) {
    const int cases[][2] = {{725, 5}, {720, 360}, {-1, 359}, {360, 360},
                            {0, 0},   {361, 1},   {-360, 0}, {-721, 359}};
    for (auto [in, out] : cases) {
        gSettings.angJogPlay = in;
        gSettings.angJogVCR = in;
        ASSERT_EQ(RegSaveSettings(""), ERROR_SUCCESS);
        EXPECT_EQ(gSettings.angJogPlay, out) << in;
        EXPECT_EQ(Stored("Settings", "angJogVCR"), std::to_string(out)) << in;
    }
}

TEST_F(SettingsStore, PathsFollowTheStarAndEmptyConventions) {
    std::strcpy(gSettings.LastAVIfileName, "/clips/a.avi");
    std::strcpy(gSettings.HelpFile, "Quillory.hlp");
    ASSERT_EQ(RegSaveSettings(nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Stored("Paths", "HelpFile"), "*");

    gSettings.LastAVIfileName[0] = '\0';  // empty at shutdown: the stored one stays
    std::strcpy(gSettings.HelpFile, "/opt/help/other.hlp");
    ASSERT_EQ(RegSaveSettings(nullptr), ERROR_SUCCESS);
    EXPECT_EQ(Stored("Paths", "LastAVIfileName"), "/clips/a.avi");

    ScopedBoxes boxes;
    ResetSettings();
    RegLoadSettings(nullptr);
    // Taken without a check.
    EXPECT_EQ(std::pair(std::string(gSettings.HelpFile), boxes->shown.empty()),
              std::pair(std::string("/opt/help/other.hlp"), true));
}

TEST_F(SettingsStore, UsersAreKeptApart) {
    Store("Settings", "cellW", "120", "alice");
    Store("Settings", "cellW", "64", "bob");
    ScopedBoxes boxes;
    RegLoadSettings("bob");
    EXPECT_EQ(gSettings.cellW, 64);
    RegLoadSettings("alice");
    EXPECT_EQ(gSettings.cellW, 120);
}

TEST_F(SettingsStore, DamagedFileLoadsWhatItCanAndIsKeptAside) {
    ScopedBoxes boxes;
    const std::string good =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellmont\\Quillory]\n\"User\"=\"User\"\n\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellmont\\Quillory\\Users\\User\\Settings]\n"
        "\"cellW\"=\"96\"\n\"cellH\"=\"72";  // cut in the middle of a line
    WriteWholeFile(file, good);
    RegistryUseFile(file);
    LoadStartupSettings();
    // cellH is unreadable: its Missing default.
    EXPECT_EQ(std::tuple(gSettings.cellW, gSettings.cellH, RegistryFileWasDamaged()),
              std::tuple(96, 60, true));

    ASSERT_EQ(RegSaveSettings(nullptr), ERROR_SUCCESS);
    int aside = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename().string().rfind("registry.reg.damaged-", 0) == 0) {
            aside++;
            EXPECT_EQ(ReadWholeFile(e.path().string()), good);
        }
    EXPECT_EQ(aside, 1);

    // Binary garbage: no crash, every value Missing.
    std::string garbage;
    for (int i = 0; i < 4096; ++i) garbage += static_cast<char>((i * 131 + 7) & 0xFF);
    WriteWholeFile(file, garbage);
    RegistryUseFile(file);
    ResetSettings();
    LoadStartupSettings();
    EXPECT_EQ(gSettings.cellW, 80);
    // The first run's write of the root value already set the garbage aside.
    aside = 0;
    for (auto& e : std::filesystem::directory_iterator(dir.path()))
        aside += e.path().filename().string().rfind("registry.reg.damaged-", 0) == 0;
    EXPECT_EQ(std::pair(aside, RegistryFileWasDamaged()), std::pair(2, false));
}

TEST_F(SettingsStore, TextSurvivesQuotesBackslashesAndControlCharacters) {
    const std::string odd = "C:\\dir \"q\"\tend";
    Store("Paths", "ProjectFileName", odd.c_str());
    RegistryUseFile(file);  // read back from the file itself
    EXPECT_EQ(Stored("Paths", "ProjectFileName"), odd);
    EXPECT_NE(
        ReadWholeFile(file).find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brellmont\\Quillory\\Users\\User\\Paths]"),
        std::string::npos);
}

TEST_F(SettingsStore, UnwritableFolderFailsTheSave) {
    RegistryUseFile("/proc/quillory-no/registry.reg");
    EXPECT_NE(RegSaveSettings(nullptr), ERROR_SUCCESS);
}

TEST_F(SettingsStore, RecentProjectsKeepTheLastEightMostRecentFirst) {
    for (int i = 1; i <= 10; i++) AddRecentProject("/p/" + std::to_string(i) + ".cgp");
    AddRecentProject("/p/8.cgp");  // used again: first, and only once
    AddRecentProject("relative.cgp");
    AddRecentProject("/" + std::string(200, 'x') + ".cgp");
    const std::vector<std::string> eight{"/p/8.cgp", "/p/10.cgp", "/p/9.cgp", "/p/7.cgp",
                                         "/p/6.cgp", "/p/5.cgp",  "/p/4.cgp", "/p/3.cgp"};
    EXPECT_EQ(RecentProjects(), eight);
    ASSERT_EQ(RegSaveSettings(nullptr), ERROR_SUCCESS);
    ResetSettings();
    RegLoadSettings("User");
    EXPECT_EQ(RecentProjects(), eight);

    // A shorter list leaves no old entry behind; values no run of ours writes are passed over.
    RemoveRecentProject("/p/10.cgp");
    for (int i = 3; i <= 7; i++) RemoveRecentProject("/p/" + std::to_string(i) + ".cgp");
    ASSERT_EQ(RegSaveSettings(nullptr), ERROR_SUCCESS);
    Store("Recent Projects", "Project3", "/p/8.cgp");
    Store("Recent Projects", "Project4", "notes.cgp");
    Store("Recent Projects", "Project5", ("/" + std::string(300, 'y')).c_str());
    Store("Recent Projects", "Project6", "/p/line\nbreak.cgp");
    Store("Recent Projects", "Project7", "/p/kept.cgp");
    ResetSettings();
    RegLoadSettings("User");
    EXPECT_EQ(RecentProjects(), (std::vector<std::string>{"/p/8.cgp", "/p/9.cgp", "/p/kept.cgp"}));
}
