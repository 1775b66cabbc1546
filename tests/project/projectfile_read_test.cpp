// Reading project files: line kinds, numbers and texts, where T and U lines attach, and damaged or
// refused files, which must leave the project as it was.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "project/project_support.h"
#include "project/projectfile.h"

namespace {

const std::string kMagic = "Corvane Project 00\n";

class ProjectFileRead : public ProjectTest {
  protected:
    int32_t Load(const std::string& content) {
        WriteWholeFile(dir.file("p.cgp"), content);
        SetProjectFileName(dir.file("p.cgp"));
        return ReadProject(nullptr);
    }
};

}  // namespace

TEST_F(ProjectFileRead, LinesBuildRevisionsAndPayloads) {
    const std::string longText(1019, 't');
    std::string longLine = "R0: 1,1,2\nT0: 0,0\nT1: " + longText;  // a piece reader would find R0 lines
    while (longLine.size() < 100 * 1024) longLine += "R0: 9,9,9,";
    struct Case {
        const char* what;
        std::string body, revisions;
    } cases[] = {
        {"every payload line kind",
         "R0: 10,25,1\nR0: 1,30,2\nT0: 2,0\nT1: Hello\\World\\!\nT2: Times New Roman\nT3: "
         "0,-24,700,0,1,180,255\n"
         "R0: 4,9,4\nU0: /pics/back.bmp\nU1: 1,2,-3,4,-5,6\nU1: 20,90,-10,10,-7,7\n",
         "R 10 25 1\nR 1 30 2 T 2 0 [Hello\nWorld\n!] [Times New Roman] 0 -24 700 0 1 180 255\n"
         "R 4 9 4 U [/pics/back.bmp] (1 2 -3 4 -5 6) (20 90 -10 10 -7 7)\n"},
        {"missing numbers are 0, a missing colour is yellow",
         "R0: 5,9\nR0: 1,2,2\nT0:\nT3: 1,2,3,4,5,6\nR0:\n",
         "R 5 9 0\nR 1 2 2 T 0 0 [(null)] [] 1 2 3 4 5 6 65535\nR 0 0 0\n"},
        {"blanks, signs, stray characters, empty and extra fields, 32-bit wrap",
         "R0: 3 ,-7,,\nR0:12,  4,8,99\nR0: -,x5,2\nR0: 4294967295,2147483648,1\n",
         "R 0 -7 0\nR 12 4 8\nR 0 5 2\nR -1 -2147483648 1\n"},
        {"T and U lines attach only to a current revision that can take them",
         "T0: 1,1\nU0: orphan.bmp\nR0: 1,5,1\nT0: 2,2\nT1: on inactivate\nU0: no.bmp\nU1: 9,9,9,9,9,9\nT0: "
         "0,0\n"
         "R0: 6,7,4\nU0: u.bmp\nT1: no\nT2: no\nT3: 1\nR0: 8,9,8\nT1: no\nU1: 1,1,1,1,1,1\n",
         "R 1 5 1 T 2 2 [on inactivate] [] 0 0 0 0 0 0 65535\nR 6 7 4 U [u.bmp]\nR 8 9 8\n"},
        {"comments and unknown lines are skipped; a later T1 replaces the text",
         ";F0: /no/such.avi\n;R0: 1,2,3\nX0: 1\nR1: 4,4,4\nR0 1,2\nr0: 1,2\n\nR0: 1,1,2\nT0: 0,0\nT1: a\nT1: "
         "b\\\n",
         "R 1 1 2 T 0 0 [b\n] [] 0 0 0 0 0 0 65535\n"},
        {"CR LF, control characters and characters from 128 on end a line, but UTF-8 text stays",
         "R0: 7,8,1\x01,9\r\nR0: 1,2,2\r\nT0: 0,0\r\nT1: caf\xc3\xa9 \xe2\x82\xac\xe9!\r\nT2: Ar\tial\r\n"
         "R0: 3,3,4\nU0: /v/\xc3\xa9t\xc3\xa9\xc3.bmp\nR0: 3,3,3",
         "R 7 8 1\nR 1 2 2 T 0 0 [caf\xc3\xa9 \xe2\x82\xac] [Ar] 0 0 0 0 0 0 65535\nR 3 3 4 U "
         "[/v/\xc3\xa9t\xc3\xa9]\n"
         "R 3 3 3\n"},
        {"a character where the blank after the colon belongs is dropped whole, so the text reads back",
         "R0: 1,1,2\nT0: 0,0\nT1:\xe0\xb7\x9alo\\World\nT2:\xc3\xa9"
         "Arial\nR0: 2,2,4\nU0:\xf0\x9f\x8e\xac\n",
         "R 1 1 2 T 0 0 [lo\nWorld] [Arial] 0 0 0 0 0 0 65535\nR 2 2 4 U []\n"},
        {"face names keep 31 characters, underlay files 199",
         "R0: 1,1,2\nT0: 0,0\nT2: " + std::string(40, 'F') + "\nR0: 2,2,4\nU0: " + std::string(250, 'u') +
             "\n",
         "R 1 1 2 T 0 0 [(null)] [" + std::string(31, 'F') + "] 0 0 0 0 0 0 65535\nR 2 2 4 U [" +
             std::string(199, 'u') + "]\n"},
        {"a 100 KB line keeps 1023 characters and its rest is never read as a line",
         longLine + "\nR0: 5,5,5\n", "R 1 1 2 T 0 0 [" + longText + "] [] 0 0 0 0 0 0 65535\nR 5 5 5\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ResetProjectForTests();
        EXPECT_EQ(Load(kMagic + c.body), 1);
        EXPECT_EQ(DumpRevisions(), c.revisions);
        EXPECT_EQ(gProject.fileCount, 0);
    }
    EXPECT_TRUE(boxes->shown.empty());
    {
        SCOPED_TRACE("an F0 line whose file cannot be opened says so and why; the current revision stays");
        ResetProjectForTests();
        EXPECT_EQ(Load("Corvane Project 00\r\nR0: 1,2,2\nF0: /no/such/file.avi\nT0: 1,2\nF0:\nF0\n"), 1);
        EXPECT_EQ(DumpRevisions(), "R 1 2 2 T 1 2 [(null)] [] 0 0 0 0 0 0 65535\n");
        EXPECT_EQ(boxes->texts(), (std::vector<std::string>{
                                      "Failed to open file </no/such/file.avi>\nNo such file or directory",
                                      "Failed to open file <>\nno file name"}));
    }
    {
        SCOPED_TRACE("hostile counts are capped");
        ResetProjectForTests();
        std::string text = kMagic + "R0: 1,2,4\nU0: u.bmp\n";
        for (int i = 0; i < kMaxColourRangesRead + 2; i++) text += "U1: 1,2,3,4,5,6\n";
        for (int i = 0; i < kMaxRevisionsRead + 2; i++) text += "R0: 1,2,4\n";
        EXPECT_EQ(Load(text + "U0: last.bmp\n"), 1);
        int32_t revisions = 0, ranges = 0;
        for (const Revision* r = gProject.revisions; r; r = r->next) revisions += r->payload == nullptr;
        for (const ColourRange* c = UnderlayOf(gProject.revisions)->ranges; c; c = c->next) ranges++;
        EXPECT_EQ(revisions, kMaxRevisionsRead - 1);  // the first has the underlay, "last.bmp" nowhere
        EXPECT_EQ(ranges, kMaxColourRangesRead);
    }
}

TEST_F(ProjectFileRead, RefusedFilesLeaveTheProjectAsItWas) {
    AddRevision(kRevTitle, 2, 4, MakeTitle("keep me"));
    AddRevision(kRevDrop, 6, 6, nullptr);
    const std::string before = DumpProject();
    auto expect = [&](int32_t result, const std::string& message) {
        EXPECT_EQ(result, 0);
        EXPECT_EQ(DumpProject(), before);
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{message});
        boxes->shown.clear();
    };
    const std::string p = dir.file("p.cgp");
    SetProjectFileName("");
    expect(ReadProject(nullptr), "Need a project file name");
    for (std::string name : {dir.file("missing.cgp"), dir.path(), std::string("/dev/null")}) {
        SetProjectFileName(name);
        expect(ReadProject(nullptr), "Couldn't open specified project file <" + name + ">");
    }
    expect(Load("corvane project 00\nR0: 1,2,3\n"),
           "Illegal Project File <" + p + "> <corvane project 00>\n");
    expect(Load("Corvane Project 00 \nR0: 1,2,3\n"),
           "Illegal Project File <" + p + "> <Corvane Project 00 >\n");
    std::string garbage = "MZ\x90";
    for (int i = 0; i < 4096; i++) garbage += static_cast<char>((i * 7919 + 13) % 256);
    expect(Load(garbage), "Illegal Project File <" + p + "> <MZ>\n");
    expect(Load("\n" + kMagic), "Illegal Project File <" + p + "> <>\n");
    boxes->answers.push_back(IDNO);
    expect(Load(kMagic + "R0: 1,2,1\n"), "Do You Want To Clear\nExisting Project First?");
    {
        SCOPED_TRACE("an empty file is a project with nothing in it: no question, no change");
        EXPECT_EQ(Load(""), 1);
        EXPECT_EQ(DumpProject(), before);
        EXPECT_TRUE(boxes->shown.empty());
    }
    {
        SCOPED_TRACE("Yes clears revisions even without files; a read-only file loads");
        gProject.selStart = gProject.selEnd = 3;
        WriteWholeFile(p, kMagic + "R0: 7,8,1\n");
        ASSERT_EQ(chmod(p.c_str(), 0444), 0);
        EXPECT_EQ(ReadProject(nullptr), 1);
        EXPECT_EQ(DumpProject(), "files 0 0 0 0 0 0 0 3 3\nR 7 8 1\n");  // the selection stays
        EXPECT_EQ((std::vector{calls.thumbnailReleases, calls.undoEnabled, calls.viewResets}),
                  (std::vector{1, 0, 0}));
    }
}
