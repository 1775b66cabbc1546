// Saving projects of real clips and reading them back, and saves that must never cost the
// previous file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include "core/diskio.h"
#include "project/project_support.h"
#include "project/projectfile.h"

namespace {

class ProjectFileSave : public ProjectTest {
  protected:
    const std::string a = MediaPath("proj_a.avi"), b = MediaPath("proj_b.avi");
    void SetUp() override {
        ProjectTest::SetUp();
        ASSERT_TRUE(AppendAVIToProject(nullptr, a.c_str()));
        ASSERT_TRUE(AppendAVIToProject(nullptr, b.c_str()));
        SetProjectFileName(dir.file("p.cgp"));
    }
    size_t Entries() const {
        auto it = std::filesystem::directory_iterator(dir.path());
        return static_cast<size_t>(std::distance(it, std::filesystem::directory_iterator()));
    }
};

}  // namespace

TEST_F(ProjectFileSave, EveryLineKindComesBack) {
    AddRevision(kRevInactivate, 10, 25, nullptr);
    TitleRecord* t = MakeTitle("Hello\nWorld\nAgain");
    std::strcpy(t->faceName, "Times New Roman");
    t->vertical = 2, t->height = -24, t->weight = 700, t->quality = 1, t->points = 180,
    t->colour = 0x00FF00FF;
    AddRevision(kRevTitle, 1, 30, t);
    UnderlayRecord* u = MakeUnderlay("/pics/back.bmp", 2);
    *u->ranges = {u->ranges->next, 1, 2, -3, 4, -5, 6};
    *u->ranges->next = {nullptr, 20, 90, -10, 10, -7, 7};
    AddRevision(kRevUnderlay, 3, 9, u);
    AddRevision(kRevDrop, 4, 5, nullptr);
    AttachPayload(AddRevision(kRevInactivate, 6, 6, nullptr), kRevTitle, MakeTitle("not saved"));
    TitleRecord* bare = NewTitleRecord();  // a title whose project file gave no T1 or T2 line
    bare->colour = 0xFFFFFFFF;
    bare->italic = 255;
    AddRevision(kRevTitle, 7, 7, bare);
    AddRevision(kRevTitle, 8, 8, MakeTitle("back\\slash"));
    std::string expected = DumpProject();

    ASSERT_EQ(WriteProject(), 1);
    EXPECT_EQ(ReadWholeFile(dir.file("p.cgp")),
              "Corvane Project 00\nF0: " + a + "\nF0: " + b +
                  "\nR0: 10,25,1\n"
                  "R0: 1,30,2\nT0: 2,0\nT1: Hello\\World\\Again\nT2: Times New Roman\nT3: "
                  "0,-24,700,0,1,180,16711935\n"
                  "R0: 3,9,4\nU0: /pics/back.bmp\nU1: 1,2,-3,4,-5,6\nU1: 20,90,-10,10,-7,7\n"
                  "R0: 4,5,8\nR0: 6,6,1\n"
                  "R0: 7,7,2\nT0: 0,0\nT1: \nT2: \nT3: 255,0,0,0,0,0,-1\n"
                  "R0: 8,8,2\nT0: 0,0\nT1: back\\slash\nT2: Arial\nT3: 0,0,0,0,0,0,65535\n");
    EXPECT_EQ(Entries(), 1u);  // no temporary file left behind

    ResetProjectForTests();
    ASSERT_EQ(ReadProject(nullptr), 1);
    for (auto [from, to] :
         {std::pair<std::string, std::string>{" T 0 0 [not saved] [Arial] 0 0 0 0 0 0 65535", ""},
          {"[(null)]", "[]"},
          {"[back\\slash]", "[back\nslash]"}})
        expected.replace(expected.find(from), from.size(), to);
    EXPECT_EQ(DumpProject(), expected);
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(ProjectFileSave, SavingNeverCostsThePreviousFile) {
    const std::string file = dir.file("p.cgp");
    WriteWholeFile(file, "previous\n");
    for (std::string bad : {std::string(), dir.file("none/p.cgp"), dir.path()}) {
        SetProjectFileName(bad);
        EXPECT_EQ(WriteProject(), 0);
        const std::string why = bad == dir.path() ? "Is a directory" : "No such file or directory";
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{bad.empty() ? "Need a project file name"
                                                                       : "Couldn't open save project file <" +
                                                                             bad + ">\n" + why});
        boxes->shown.clear();
    }
    EXPECT_EQ(ReadWholeFile(file), "previous\n");
    EXPECT_EQ(Entries(), 1u);
    {
        SCOPED_TRACE("a save replaces the file whole and keeps its permissions");
        ASSERT_EQ(chmod(file.c_str(), 0640), 0);
        struct stat before {
        }, after{};
        stat(file.c_str(), &before);
        SetProjectFileName(file);
        ASSERT_EQ(WriteProject(), 1);
        stat(file.c_str(), &after);
        EXPECT_EQ(after.st_mode & 07777, 0640u);
        EXPECT_NE(after.st_ino, before.st_ino);
    }
    {
        SCOPED_TRACE("a project the user protected stays as it was; it still loads");
        ASSERT_EQ(chmod(file.c_str(), 0444), 0);
        const std::string kept = ReadWholeFile(file);
        EXPECT_EQ(WriteProject(), 0);
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Couldn't open save project file <" + file +
                                                           ">\nPermission denied"});
        EXPECT_EQ(ReadWholeFile(file), kept);
        EXPECT_EQ(Entries(), 1u);
        boxes->shown.clear();
        ResetProjectForTests();
        EXPECT_EQ(ReadProject(nullptr), 1);
        EXPECT_EQ(gProject.fileCount, 2);
        ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    }
    {
        SCOPED_TRACE("a disk that fails while writing, flushing or renaming");
        WriteWholeFile(file, "previous\n");
        SetProjectFileName(file);
        for (const auto& [fault, why] :
             {std::pair<DiskFault, std::string>{{ENOSPC, 30}, "No space left on device"},
              {{EIO, 0}, "Input/output error"},
              {{.syncError = EIO}, "Input/output error"},
              {{.renameError = EROFS}, "Read-only file system"}}) {
            SetDiskFault(fault);
            EXPECT_EQ(WriteProject(), 0);
            ClearDiskFault();
            EXPECT_EQ(boxes->texts(),
                      std::vector<std::string>{"Couldn't open save project file <" + file + ">\n" + why});
            EXPECT_EQ(ReadWholeFile(file), "previous\n");
            EXPECT_EQ(Entries(), 1u);  // no temporary file left behind
            boxes->shown.clear();
        }
        ASSERT_EQ(WriteProject(), 1);  // the next save works
        EXPECT_EQ(ReadWholeFile(file).rfind("Corvane Project 00\nF0: ", 0), 0u);
    }
    {
        SCOPED_TRACE("through a symbolic link the linked file is replaced and the link stays");
        ASSERT_EQ(symlink(file.c_str(), dir.file("link.cgp").c_str()), 0);
        WriteWholeFile(file, "previous\n");
        SetProjectFileName(dir.file("link.cgp"));
        ASSERT_EQ(WriteProject(), 1);
        struct stat st {};
        lstat(dir.file("link.cgp").c_str(), &st);
        EXPECT_TRUE(S_ISLNK(st.st_mode));
        EXPECT_EQ(ReadWholeFile(file).rfind("Corvane Project 00\nF0: ", 0), 0u);
    }
    SCOPED_TRACE("without files nothing is written");
    ResetProjectForTests();
    WriteWholeFile(file, "previous\n");
    SetProjectFileName(file);
    EXPECT_EQ(WriteProject(), 0);
    EXPECT_EQ(ReadWholeFile(file), "previous\n");
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(ProjectFileSave, ClipsThatDoNotMatchAreSkipped) {
    const std::string wide = MediaPath("proj_wide.avi");
    WriteWholeFile(dir.file("p.cgp"), "Corvane Project 00\r\nF0: " + a + "\r\nR0: 1,2,2\r\nF0: " + wide +
                                          "\r\nT0: 1,1\r\nF0: " + b + "\r\nR0: 5,6,8\r\n");
    ResetProjectForTests();
    EXPECT_EQ(ReadProject(nullptr), 1);
    EXPECT_EQ(DumpProject(),
              "files 2 16 15 66666 1133 160 120 -1 -1\nF " + a + " 10\nF " + b + " 6\nR 1 2 2\nR 5 6 8\n");
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->texts()[0].rfind("File <" + wide + "> mismatches", 0), 0u);
}
