// Files written whole or not at all: the target keeps its bytes until the new file is complete and
// on disk, whatever fails on the way (a fault in any system call, a refusal, a killed program), and
// nothing is left beside it.
#include "core/outputfile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <set>

#include "core/diskio.h"
#include "core/savefile.h"
#include "support/scripted.h"

namespace {

class OutputFileTest : public ::testing::Test {
  protected:
    void TearDown() override { ClearDiskFault(); }
    std::set<std::string> Entries() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            names.insert(e.path().filename().string());
        return names;
    }
    // Writes TEXT as the new PATH and names it; the error, or 0.
    int Save(const std::string& path, const std::string& text,
             OutputFile::Naming naming = OutputFile::Naming::kReplace) {
        OutputFile out;
        if (!out.Open(path) || !out.Write(text.data(), text.size()) || !out.Commit(naming))
            return out.error();
        return 0;
    }
    TempDir dir;
    const std::string old = dir.file("old.dat");
};

}  // namespace

TEST_F(OutputFileTest, TheTargetChangesOnlyWhenTheWholeFileIsThere) {
    WriteWholeFile(old, "previous");
    ASSERT_EQ(chmod(old.c_str(), 0640), 0);
    for (bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed ? "unnamed file" : "named temporary (no unnamed files here)");
        if (!unnamed) SetDiskFault({.unnamedError = EOPNOTSUPP});
        OutputFile out;
        ASSERT_TRUE(out.Open(old));
        EXPECT_NE(out.fd(), 0);
        ASSERT_TRUE(out.Write("new ", 4) && out.WriteAt("data", 4, 4));
        // Readable by its own name before it has the target's; the target is as it was.
        EXPECT_EQ(ReadWholeFile(out.readPath()), "new data");
        EXPECT_EQ(ReadWholeFile(old), "previous");
        EXPECT_EQ(Entries().size(), unnamed ? 1u : 2u);
        struct stat before {
        }, after{};
        stat(old.c_str(), &before);
        ASSERT_TRUE(out.Commit());
        stat(old.c_str(), &after);
        EXPECT_EQ(ReadWholeFile(old), "new data");
        EXPECT_EQ(after.st_mode & 07777, 0640u);
        EXPECT_NE(after.st_ino, before.st_ino);
        EXPECT_EQ(Entries(), std::set<std::string>{"old.dat"});
        WriteWholeFile(old, "previous");
        ClearDiskFault();
    }
    {
        SCOPED_TRACE("a new file gets the permissions the umask allows; abandoned ones leave nothing");
        const mode_t mask = umask(027);
        EXPECT_EQ(Save(dir.file("new.dat"), "x"), 0);
        umask(mask);
        struct stat st {};
        stat(dir.file("new.dat").c_str(), &st);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        std::filesystem::remove(dir.file("new.dat"));
        for (bool unnamed : {true, false}) {
            if (!unnamed) SetDiskFault({.unnamedError = EINVAL});
            OutputFile out;
            ASSERT_TRUE(out.Open(dir.file("dropped.dat")) && out.Write("x", 1));
        }
        ClearDiskFault();
        EXPECT_EQ(Entries(), std::set<std::string>{"old.dat"});
    }
    {
        SCOPED_TRACE("only a free name is taken when asked");
        EXPECT_EQ(Save(old, "other", OutputFile::Naming::kIfNameFree), EEXIST);
        EXPECT_EQ(ReadWholeFile(old), "previous");
        EXPECT_EQ(Save(dir.file("free.dat"), "free", OutputFile::Naming::kIfNameFree), 0);
        EXPECT_EQ(ReadWholeFile(dir.file("free.dat")), "free");
        std::filesystem::remove(dir.file("free.dat"));
    }
    EXPECT_EQ(Entries(), std::set<std::string>{"old.dat"});
}

TEST_F(OutputFileTest, RefusalsAndFailuresLeaveTheTargetAndNothingElse) {
    WriteWholeFile(old, "previous");
    {
        SCOPED_TRACE("a file protected while it was being written is not replaced (even by root)");
        OutputFile out;
        ASSERT_TRUE(out.Open(old) && out.Write("x", 1));
        ASSERT_EQ(chmod(old.c_str(), 0444), 0);
        EXPECT_FALSE(out.Commit());
        EXPECT_EQ(out.error(), EACCES);
        ASSERT_EQ(chmod(old.c_str(), 0644), 0);
    }
    for (bool unnamed : {true, false}) {
        for (const auto& [fault, error] :
             std::vector<std::pair<DiskFault, int>>{{{.writeError = ENOSPC, .failAfterBytes = 3}, ENOSPC},
                                                    {{.syncError = EIO}, EIO},
                                                    {{.renameError = EROFS}, EROFS},
                                                    {{.linkError = EIO}, EIO}}) {
            DiskFault f = fault;
            if (!unnamed) f.unnamedError = EOPNOTSUPP;
            SetDiskFault(f);
            const int got = Save(old, "longer data");
            ClearDiskFault();
            // A named temporary is renamed, never linked.
            EXPECT_EQ(got, !unnamed && fault.linkError ? 0 : error) << unnamed << " " << error;
            if (got == 0) WriteWholeFile(old, "previous");
            EXPECT_EQ(ReadWholeFile(old), "previous");
            EXPECT_EQ(Entries(), std::set<std::string>{"old.dat"});
        }
    }
    {
        SCOPED_TRACE("what runs before the replacement runs only once the data is on disk");
        bool ran = false;
        SaveFileOptions options;
        options.beforeReplace = [&ran] { ran = true; };
        SetDiskFault({.syncError = EIO});
        EXPECT_EQ(SaveFileReplacing(old, "longer data", options).error, EIO);
        ClearDiskFault();
        EXPECT_FALSE(ran);
        EXPECT_EQ(ReadWholeFile(old), "previous");
    }
    {
        SCOPED_TRACE("a save cut short by the program's death leaves the old file and nothing else");
        for (bool atTheEnd : {false, true}) {
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                OutputFile out;
                out.Open(old);
                out.Write("partial", 7);
                if (atTheEnd) {  // all on disk, just before the rename
                    SaveFileOptions options;
                    options.beforeReplace = [] { raise(SIGKILL); };
                    SaveFileReplacing(old, std::string(100000, 'n'), options);
                }
                raise(SIGKILL);
                _exit(0);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            EXPECT_EQ(ReadWholeFile(old), "previous");
            EXPECT_EQ(Entries(), std::set<std::string>{"old.dat"});
        }
    }
}
