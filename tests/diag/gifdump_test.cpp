// The GIF structure dump: a crafted file with every kind of block dumped line for line, every cut
// of it ending in the abort line after what came before, the refusals, and the command around it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <sstream>

#include "core/dialogs.h"
#include "diag/gifdump.h"
#include "support/scripted.h"

namespace {

std::string Bytes(std::initializer_list<int> bytes) {
    std::string s;
    for (int b : bytes) s += static_cast<char>(b);
    return s;
}

// GIF89a, 3x2, an unsorted 4-colour global table, then a graphic control extension, a comment, a
// looping NETSCAPE block, plain text, an unknown extension, an interlaced image with a 256-colour
// local table, a second graphic control and the trailer.
std::string CraftedGif() {
    std::string g = "GIF89a" + Bytes({3, 0, 2, 0, 0xA1, 1, 0});
    g += Bytes({0xFF, 0, 0, 0, 0xFF, 0, 0, 0, 0xFF, 0x10, 0x20, 0x30});
    g += Bytes({0x21, 0xF9, 4, 0x0D, 10, 0, 3, 0});
    g += Bytes({0x21, 0xFE, 5}) + "hello" + Bytes({3}) + "gif" + Bytes({0});
    g += Bytes({0x21, 0xFF, 11}) + "NETSCAPE2.0" + Bytes({3, 1, 5, 0, 0});
    g += Bytes({0x21, 0x01, 12}) + std::string(12, 'p') + Bytes({0});
    g += Bytes({0x21, 0xAB, 1, 0x7F, 0});
    g += Bytes({0x2C, 1, 0, 0, 0, 2, 0, 1, 0, 0xE7}) + std::string(768, '\x55') + Bytes({2, 2, 0x4C, 1, 0});
    g += Bytes({0x21, 0xF9, 4, 0x12, 0xFF, 0xFF, 0, 0});
    return g + Bytes({0x3B});
}

const char* kCraftedDump = R"(<GIF89a>
Logical Screen Descriptor
  Size: 3x2
  Packed Fields: a1
    3 bits/pixel
    Global Color Table: 4 colors
    Colors Not Sorted
  Bkg Color Index: 1
  Pixel Aspect Ratio: 0
Global Color Table with 4 colors
  0: ff,00,00
  1: 00,ff,00
  2: 00,00,ff
  3: 10,20,30
Graphic Control Extension...
  BlockSize 04
  Packed Fields: 0d
    Restore to Prev
    Transparent Index Given
  Delaytime: 10 (1/100 sec)
  Transparency Index: 3
  Blkterm 00 (expected to be ==0)
Comment Extension...
  BlockSize 5
    <hello>
  BlockSize 3
    <gif>
  BlockSize 0
Application Extension...
  BlockSize 11
    App Ident: <NETSCAPE>
    App Auth: 32 2e 30
  BlockSize 3
    Loop Count = 5
  BlockSize 0
Plain Text Extension...
  BlockSize 12
  BlockSize 0
?? Extension ab
  BlockSize 1
  BlockSize 0
Image Descriptor...
  Offset: 1,0
  Size:   2x1
  Packed Fields: e7
    Local Color Table with 256 colors
    Interlaced
    Sorted
Local Color Table with 256 colors
  LZW Min Code Size: 2
  BlockSize 2
  BlockSize 0
Graphic Control Extension...
  BlockSize 04
  Packed Fields: 12
    Undefined Disposal
    User Input Flag On
  Delaytime: -1 (1/100 sec)
  Transparency Index: 0
  Blkterm 00 (expected to be ==0)
)";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

using GifDumpTest = ScriptedTest;

TEST_F(GifDumpTest, EveryBlockAndEveryCut) {
    const std::string gif = dir.file("crafted.gif"), out = dir.file("crafted.txt");
    const std::string crafted = CraftedGif();
    WriteWholeFile(gif, crafted);
    ASSERT_EQ(GifDump(gif.c_str(), out.c_str()), 0);
    EXPECT_EQ(ReadWholeFile(out), "dump gif <" + gif + ">\n" + kCraftedDump +
                                      "****** Trailer 3b - pos=" + std::to_string(crafted.size()) + "\n");
    EXPECT_TRUE(boxes->shown.empty());
    const std::vector<std::string> whole = Lines(ReadWholeFile(out));

    // A file cut anywhere keeps the lines of what it holds and ends with the abort line; one cut
    // inside the signature is no GIF file, and the dump before stays as it was.
    for (size_t n = 0; n<crafted.size(); n += n> 120 && n < 870 ? 50 : 1) {  // a few cuts in the big table
        WriteWholeFile(gif, crafted.substr(0, n));
        boxes->shown.clear();
        const std::string before = ReadWholeFile(out);
        if (n < 6) {
            EXPECT_EQ(GifDump(gif.c_str(), out.c_str()), -2);
            EXPECT_EQ(ReadWholeFile(out), before);
            EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Illegal file"});
            continue;
        }
        ASSERT_EQ(GifDump(gif.c_str(), out.c_str()), 0);
        std::vector<std::string> lines = Lines(ReadWholeFile(out));
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "Unrecognized Data Block 00 - Abort") << "cut at " << n;
        lines.pop_back();
        ASSERT_LE(lines.size(), whole.size());
        EXPECT_TRUE(std::equal(lines.begin(), lines.end(), whole.begin())) << "cut at " << n;
    }

    // Another byte where a block should start ends the dump; signatures must match exactly.
    WriteWholeFile(gif, crafted.substr(0, 25) + "x");
    GifDump(gif.c_str(), out.c_str());
    EXPECT_EQ(Lines(ReadWholeFile(out)).back(), "Unrecognized Data Block 78 - Abort");
    const std::string kept = ReadWholeFile(out);
    WriteWholeFile(gif, "gif89a" + crafted.substr(6));
    boxes->shown.clear();
    EXPECT_EQ(GifDump(gif.c_str(), out.c_str()), -2);
    EXPECT_TRUE(boxes->saw("Illegal file"));
    // A GIF that cannot be opened is named with the reason; the output stays as it was.
    EXPECT_EQ(GifDump(dir.file("gone.gif").c_str(), out.c_str()), -2);
    EXPECT_TRUE(boxes->saw("Couldn't open <" + dir.file("gone.gif") + ">\nNo such file or directory"));
    EXPECT_EQ(ReadWholeFile(out), kept);

    // The dump never replaces the file it reads, nor an output the user protected (even as root).
    const std::string txt = dir.file("notes.txt");
    WriteWholeFile(txt, crafted);
    EXPECT_EQ(GifDump(txt.c_str(), GifDumpOutputName(txt).c_str()), -1);
    EXPECT_EQ(ReadWholeFile(txt), crafted);
    WriteWholeFile(gif, crafted);
    ASSERT_EQ(chmod(out.c_str(), 0444), 0);
    EXPECT_EQ(GifDump(gif.c_str(), out.c_str()), -1);
    EXPECT_EQ(ReadWholeFile(out), kept);
}

TEST_F(GifDumpTest, CommandAsksNamesAndReports) {
    WriteWholeFile(dir.file("Loop.gif"), CraftedGif());
    WriteWholeFile(dir.file("Shout.GIF"), CraftedGif());

    // A name without a dot gets ".gif"; the output replaces the last three characters, whatever
    // their case; the chosen file seeds the next dialog.
    gLastGifPath[0] = '\0';
    dialogs->answers = {dir.file("Loop"), dir.file("Shout.GIF"), ""};
    GifDumpCommand(nullptr);
    GifDumpCommand(nullptr);
    GifDumpCommand(nullptr);  // cancelled
    ASSERT_EQ(dialogs->requests.size(), 3u);
    const FileDialogRequest& first = dialogs->requests[0];
    EXPECT_EQ(first.title, "Select GIF File");
    EXPECT_EQ(first.filters, (std::vector<std::pair<std::string, std::string>>{
                                 {"GIF Graphics Files", "*.gif"}, {"All Files", "*.*"}}));
    EXPECT_EQ(first.flags, OFN_LONGNAMES | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY);
    EXPECT_EQ(dialogs->requests[1].initialName + "|" + dialogs->requests[1].initialDir + "|" + gLastGifPath,
              dir.file("Loop.gif") + "|" + dir.path() + "/|" + dir.file("Shout.GIF"));
    EXPECT_EQ(boxes->texts(),
              (std::vector<std::string>{
                  "<" + dir.file("Loop.gif") + ">\ndumped to:\n<" + dir.file("Loop.txt") + ">",
                  "<" + dir.file("Shout.GIF") + ">\ndumped to:\n<" + dir.file("Shout.txt") + ">"}));
    EXPECT_EQ(Lines(ReadWholeFile(dir.file("Shout.txt"))).size(), Lines(kCraftedDump).size() + 2);
    // A file name too short to lose three characters keeps them all.
    EXPECT_EQ(
        (std::vector{GifDumpOutputName("/d.gif/ab"), GifDumpOutputName("a.g"), GifDumpOutputName("ab.g")}),
        (std::vector<std::string>{"/d.gif/ab.txt", "a.g.txt", "atxt"}));
}
