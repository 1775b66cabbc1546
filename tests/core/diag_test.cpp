#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/diag.h"
#include "support/scripted.h"

TEST(Mystrlen, CountsUpToAThousand) {
    EXPECT_EQ(Mystrlen(nullptr), 0);
    EXPECT_EQ(Mystrlen(""), 0);
    EXPECT_EQ(Mystrlen("abc"), 3);
    std::string longText(1500, 'x');
    EXPECT_EQ(Mystrlen(longText.c_str()), 1000);
}

using NotifyBoxes = ScriptedTest;

TEST_F(NotifyBoxes, StylesCaptionsAndAnswers) {
    HWND owner = reinterpret_cast<HWND>(0x1234);
    HWND previous = SetMessageOwner(owner);

    NotifyBox("value %ld", 42L);
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].text, "value 42");
    EXPECT_EQ(boxes->shown[0].caption, "Notify");
    EXPECT_EQ(boxes->shown[0].style, MB_OK | MB_ICONEXCLAMATION);
    EXPECT_EQ(boxes->shown[0].owner, owner);

    boxes->answers = {IDYES, IDNO};
    EXPECT_EQ(NotifyYesNo("q"), 1);
    EXPECT_EQ(NotifyYesNo("q"), 0);
    EXPECT_EQ(boxes->shown.back().style, MB_YESNO | MB_ICONQUESTION);

    // A question with a button of its own: that button answers 2.
    boxes->answers = {kIdBoxButton, IDYES, IDNO};
    EXPECT_EQ(NotifyYesNoWithButton("Show in Folder", "view?"), 2);
    EXPECT_EQ(NotifyYesNoWithButton("Show in Folder", "view?"), 1);
    EXPECT_EQ(NotifyYesNoWithButton("Show in Folder", "view?"), 0);
    EXPECT_EQ(boxes->buttonsShown, std::vector<std::string>(3, "Show in Folder"));

    boxes->answers = {IDOK, IDCANCEL};
    EXPECT_EQ(NotifyOkCancel("c"), 1);
    EXPECT_EQ(NotifyOkCancel("c"), 0);
    EXPECT_EQ(boxes->shown.back().style, MB_OKCANCEL | MB_ICONEXCLAMATION);
    SetMessageOwner(previous);
}

TEST_F(NotifyBoxes, BoxThatCannotBeShownRetriesWithoutOwnerThenFallsBack) {
    HWND previous = SetMessageOwner(reinterpret_cast<HWND>(0x99));

    boxes->answers = {0, IDNO};
    EXPECT_EQ(NotifyYesNo("Remember?"), 0);
    ASSERT_EQ(boxes->shown.size(), 2u);
    EXPECT_EQ(boxes->shown[1].owner, nullptr);
    EXPECT_EQ(boxes->shown[1].text, "Remember?");

    boxes->shown.clear();
    boxes->answers = {0, 0, IDOK};
    EXPECT_EQ(NotifyOkCancel("x"), 0);  // the OK of the "???" box is not consent
    ASSERT_EQ(boxes->shown.size(), 3u);
    EXPECT_EQ(boxes->shown[2].text, "???");
    EXPECT_EQ(boxes->shown[2].style, MB_OK | MB_ICONEXCLAMATION);

    boxes->shown.clear();
    boxes->answers = {0};
    EXPECT_EQ(NotifyBox("no retry"), 0);
    EXPECT_EQ(boxes->shown.size(), 1u);
    SetMessageOwner(previous);
}

TEST_F(NotifyBoxes, LongMessagesAreCutAtTheLimit) {
    std::string huge(5000, 'y');
    NotifyBox("%s", huge.c_str());
    EXPECT_EQ(boxes->shown[0].text.size(), static_cast<size_t>(kMessageLimit - 1));
}

TEST(DebugLogFile, IsSilentWithoutSinkAndFormatsLines) {
    // With no sink and no QUILLORY_LOG nothing is written: not to the standard streams, not into the
    // working folder.
    if (std::getenv("QUILLORY_LOG")) GTEST_SKIP() << "QUILLORY_LOG is set";
    TempDir dir;
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const int out = open("streams", O_WRONLY | O_CREAT, 0600), saved1 = dup(1), saved2 = dup(2);
    dup2(out, 1), dup2(out, 2);
    DebugLog("nothing %d", 1);
    std::fflush(stdout), std::fflush(stderr);
    dup2(saved1, 1), dup2(saved2, 2);
    close(out), close(saved1), close(saved2);
    std::filesystem::current_path(cwd);
    EXPECT_EQ(ReadWholeFile(dir.file("streams")), "");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);
    LogCapture log;
    DebugLog("%ld: audio read error got:%ld, want:%ld", 3L, 10L, 20L);
    ASSERT_EQ(log.lines().size(), 1u);
    EXPECT_EQ(log.lines()[0], "3: audio read error got:10, want:20");
}
