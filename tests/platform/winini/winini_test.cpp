#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/winini/winini.h"
#include "support/scripted.h"

namespace {

class WinIni : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = dir_.file("win.ini");
        setenv("QUILLORY_WININI", path_.c_str(), 1);
    }
    void TearDown() override { unsetenv("QUILLORY_WININI"); }
    std::string Get(const char* section, const char* entry, const char* def = "0") {
        char buf[128];
        GetProfileStringA(section, entry, def, buf, sizeof buf);
        return buf;
    }
    TempDir dir_;
    std::string path_;
};

}  // namespace

TEST_F(WinIni, ReadsTheMailEntryTheWayWindowsDid) {
    // No file: the default.
    EXPECT_EQ(WinIniPath(), path_);
    EXPECT_TRUE(Get("Mail", "MAPI") == "0" && GetProfileIntA("Mail", "MAPI", 0) == 0);

    WriteWholeFile(
        path_,
        "; comment\r\n[fonts]\r\nMAPI=7\r\n  [ mail ]  \r\n  mapi =  1  \r\nMAPI=2\r\n[Mail]\r\nMAPI=3\r\n");
    // Names ignore case and blanks; first section, first entry.
    EXPECT_EQ(Get("Mail", "MAPI") + " " + Get("Mail", "Other", "dflt") + " " + Get("Nowhere", "MAPI", "x"),
              "1 dflt x");
    EXPECT_EQ(GetProfileIntA("MAIL", "Mapi", 0), 1);

    WriteWholeFile(path_,
                   "[Mail]\nMAPI=\"1\"\nName='Post Office'\nNum=  -42abc\nBad=abc\nHuge=99999999999\n");
    EXPECT_EQ(Get("Mail", "MAPI") + "|" + Get("Mail", "Name"),
              "1|Post Office");  // one pair of quotes removed
    EXPECT_EQ((std::vector{GetProfileIntA("Mail", "Num", 5), GetProfileIntA("Mail", "Bad", 5),
                           GetProfileIntA("Mail", "Huge", 5), GetProfileIntA("Mail", "Absent", 5)}),
              (std::vector{-42, 0, INT32_MAX, 5}));

    // The copy is cut to the buffer, and the count says how much was copied.
    char small[4];
    EXPECT_EQ(GetProfileStringA("Mail", "Name", "", small, sizeof small), 3u);
    EXPECT_STREQ(small, "Pos");
    EXPECT_EQ(GetProfileStringA("Mail", "Name", "", small, 0), 0u);
    EXPECT_TRUE(GetProfileStringA(nullptr, "Name", "d", small, sizeof small) == 1u &&
                std::string(small) == "d");
}

TEST_F(WinIni, GarbageNeverCrashesAndHidesNothingValid) {
    std::string junk;
    for (int i = 0; i < 4000; i++) junk += static_cast<char>((i * 7919) % 256);
    WriteWholeFile(path_, junk + "\n[Mail]\nMAPI=1\n[unterminated\n=novalue\n[]\n");
    EXPECT_EQ(Get("Mail", "MAPI"), "1");
    std::vector<IniLine> lines = ParseIni("[unterminated\n=x\n;c=1\nkey\n");
    for (const IniLine& l : lines) EXPECT_FALSE(l.isSection || l.isEntry);

    // A file beyond the size cap is read up to the cap and never rewritten.
    std::string big = "[Mail]\nMAPI=1\n" + std::string(kMaxWinIniBytes, 'z');
    WriteWholeFile(path_, big);
    EXPECT_EQ(Get("Mail", "MAPI"), "1");
    EXPECT_FALSE(WriteProfileStringA("Mail", "MAPI", "0"));
    EXPECT_EQ(ReadWholeFile(path_), big);
}

TEST_F(WinIni, WritingKeepsEverythingElse) {
    // A new file with the section.
    ASSERT_TRUE(WriteProfileStringA("Mail", "MAPI", "1"));
    EXPECT_EQ(ReadWholeFile(path_), "[Mail]\nMAPI=1\n");
    EXPECT_EQ(Get("Mail", "MAPI"), "1");

    WriteWholeFile(path_,
                   "; keep me\r\n[Fonts]\r\nA=1\r\n\r\n[mail]\r\nSMTP=x\r\nmapi=0\r\n\r\n[Other]\r\nB=2\r\n");
    ASSERT_TRUE(WriteProfileStringA("Mail", "MAPI", "1"));
    EXPECT_EQ(ReadWholeFile(path_),
              "; keep me\r\n[Fonts]\r\nA=1\r\n\r\n[mail]\r\nSMTP=x\r\nmapi=1\r\n\r\n[Other]\r\nB=2\r\n");
    ASSERT_TRUE(WriteProfileStringA("Mail", "New", "v"));
    EXPECT_EQ(Get("Mail", "New") + "|" + Get("Other", "B"), "v|2");
    ASSERT_TRUE(WriteProfileStringA("Mail", "New", nullptr));  // removal
    EXPECT_EQ(Get("Mail", "New", "gone") + "|" + Get("Fonts", "A"), "gone|1");

    // Lines keep their own endings, a carriage return of their own included.
    WriteWholeFile(path_, "[A]\r\nk=v\r\r\n[B]\nx=1\r\r");
    ASSERT_TRUE(WriteProfileStringA("Mail", "MAPI", "1"));
    EXPECT_EQ(ReadWholeFile(path_), "[A]\r\nk=v\r\r\n[B]\nx=1\r\r\n\r\n[Mail]\r\nMAPI=1\r\n");
    WriteWholeFile(path_, "[B]\nx=1\r\r");
    ASSERT_TRUE(WriteProfileStringA("Mail", "MAPI", "1"));
    EXPECT_EQ(Get("B", "x"), "1\r");

    // A value cannot smuggle in another line; bad names are refused and change nothing.
    ASSERT_TRUE(WriteProfileStringA("Mail", "Note", "a\n[Mail]\nMAPI=9"));
    EXPECT_EQ(Get("Mail", "MAPI"), "1");
    std::string before = ReadWholeFile(path_);
    EXPECT_FALSE(WriteProfileStringA("Mail", "A=B", "1") || WriteProfileStringA("Ma]il", "A", "1") ||
                 WriteProfileStringA("Mail", "", "1") || WriteProfileStringA(nullptr, "A", "1"));
    EXPECT_EQ(ReadWholeFile(path_), before);

    // The folder is made when missing ($XDG_CONFIG_HOME/Brellmont/win.ini).
    unsetenv("QUILLORY_WININI");
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    std::string saved = oldConfig ? oldConfig : "";
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
    EXPECT_EQ(WinIniPath(), dir_.file("config") + "/Brellmont/win.ini");
    EXPECT_TRUE(WriteProfileStringA("Mail", "MAPI", "1"));
    EXPECT_EQ(GetProfileIntA("Mail", "MAPI", 0), 1);
    if (oldConfig)
        setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    setenv("QUILLORY_WININI", path_.c_str(), 1);
}
