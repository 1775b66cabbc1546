// The file reports: the Information text for AVI, WAVE and BMP files with the display format and
// time stamp additions, BMP headers that are refused, and the box it is shown in.
#include <gtest/gtest.h>

#include "core/memory.h"
#include "media/avilist.h"
#include "media/fileinfo.h"
#include "media/riff.h"
#include "support/crafted.h"
#include "support/scripted.h"

using namespace crafted;

namespace {

// 150 frames of 320x240x24 "MJPG" at rate / scale, frame 8 dropped, 22050 Hz 16-bit audio after
// each frame.
CraftedAvi ClipLayout(uint32_t rate, uint32_t scale) {
    CraftedAvi a;
    a.compression = a.handler = FourCC("MJPG");
    a.rate = rate, a.scale = scale, a.channels = 2, a.samplesPerSec = 22050, a.sampleBits = 16;
    for (int i = 0; i < 150; i++) {
        a.chunks.push_back({"00dc", 0x10, Payload(i == 7 ? 0 : 1000, i)});
        a.chunks.push_back({"01wb", 0, Payload(588, i)});
    }
    return a;
}

std::string Clip(const TempDir& dir, uint32_t rate, uint32_t scale) {
    std::string path = dir.file(std::to_string(rate) + "_" + std::to_string(scale) + ".avi");
    WriteWholeFile(path, ClipLayout(rate, scale).Build());
    return path;
}

std::string Save(const TempDir& dir, const std::string& name, const std::string& bytes) {
    WriteWholeFile(dir.file(name), bytes);
    return dir.file(name);
}

}  // namespace

using FileInfoReport = ScriptedTest;

TEST_F(FileInfoReport, AviWaveBmpAndOtherFiles) {
    // 149 frames of 1000 bytes and a drop: (1000 x 30 + 50000) / 100000 = 0.0 MB/sec, 153.6:1.
    std::string path = Clip(dir, 1000000, 66666);
    EXPECT_EQ(FileInfoText(path.c_str(), nullptr, nullptr),
              "AVI file - " + path +
                  "\n  Video: 320x240x24  (MJPG) 150 frames (1 drops)\n  Video Rate: 15.00fps (1000000/66666)"
                  "\n  0.0 MB/Sec 153.6:1\n  Audio: 22050 Samples/Sec 16-Bit Stereo");
    std::string text =
        FileInfoText(Clip(dir, 15, 0).c_str(), nullptr, nullptr);  // a scale of 0 divides nothing
    EXPECT_NE(text.find("\n  Video Rate: 0.00fps (15/0)\n"), std::string::npos);
    // Uncompressed, top-down, no audio, a source: the height is shown positive.
    CraftedAvi a;
    a.width = 64, a.height = -48, a.chunks = {{"00db", 0x10, Payload(9216, 1)}};
    std::string core(160, '\0');
    core.replace(0, 9, "Camera 12"), core.replace(40, 5, "Front"), core.replace(60, 5, "hello");
    a.afterHdrl = Chunk("CORE", core);
    path = Save(dir, "raw.avi", a.Build());
    EXPECT_EQ(FileInfoText(path.c_str(), nullptr, nullptr),
              "AVI file - " + path +
                  "\n  Video: 64x48x24 Uncompressed 1 frames (0 drops)\n  Video Rate: 15.00fps (15/1)"
                  "\n  0.3 MB/Sec 0.7:1\n  Audio: None\nSource: Front <Camera 12>\n  hello");

    path = Save(dir, "a.wav", Riff("WAVE", Chunk("fmt ", WaveFormat(2, 22050, 16)) + Chunk("data", "abcd")));
    EXPECT_EQ(FileInfoText(path.c_str(), nullptr, nullptr), "WAVE file - " + path + "\n  Audio: 22050 2 16");
    // A 24-bit top-down BMP with a time stamp after its header, shown under a name with a space.
    std::string pixels = "TS:x2024-01-01" + std::string(1826, 'p');
    path = Save(dir, "pic", Bmp({.width = 30, .height = -20, .pixels = pixels}));
    EXPECT_EQ(FileInfoText((path + " (snapshot 3)").c_str(), nullptr, nullptr),
              "BMP file - " + path + "\n  Image: 30x20x24  Uncompressed\n  ImageSize = 1840 bytes");
    EXPECT_EQ(std::string(gImageTimeStamp), pixels.substr(0, 30));
    path = Save(dir, "core.bmp", Bmp({.width = 40, .height = 30, .bits = 8, .core = true, .palette = 256}));
    EXPECT_EQ(FileInfoText(path.c_str(), nullptr, nullptr),
              "BMP file - " + path + "\n  Image: 40x30x8  Uncompressed\n  ImageSize = 1200 bytes");
    EXPECT_STREQ(gImageTimeStamp, "");
    // The report in its box, owned by the window given.
    ShowFileInfo(reinterpret_cast<HWND>(0x77), path.c_str(), nullptr, nullptr);
    ASSERT_EQ(boxes->shown.size(), 1u);
    const ShownBox b = boxes->shown[0];
    EXPECT_TRUE(b.owner == reinterpret_cast<HWND>(0x77) && b.caption == "Information" &&
                b.style == MB_ICONINFORMATION && b.text == FileInfoText(path.c_str(), nullptr, nullptr));
    boxes->shown.clear();
    path = Save(dir, "notes.txt", "hello there, not media");
    EXPECT_EQ(FileInfoText(path.c_str(), nullptr, nullptr), "Image - " + path);
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_EQ(FileInfoText(dir.file("gone").c_str(), nullptr, nullptr), "Image - " + dir.file("gone"));
    AVIinfoRecord info{};
    EXPECT_EQ(IsAVIFile(Save(dir, "tiny", "RIFF").c_str(), info), 0);
    EXPECT_EQ(IsAVIFile(Save(dir, "empty", "").c_str(), info), 0);
    EXPECT_EQ(boxes->texts(), (std::vector<std::string>{
                                  "couldn't open file <" + dir.file("gone") + ">: No such file or directory",
                                  "file <" + dir.file("empty") + "> is empty"}));
    EXPECT_EQ(FileProblem(dir.path().c_str()),
              "couldn't open file <" + dir.path() + ">: it is not a regular file");
    EXPECT_EQ(FileProblem(path.c_str()), "");
}

TEST_F(FileInfoReport, FramesAreThoseTheFileHolds) {
    // The report, the mailing summary and the clip reader agree on the frames there, whatever the
    // headers claim.
    auto check = [&](const std::string& name, const std::string& bytes, const std::string& video) {
        const std::string path = Save(dir, name, bytes);
        EXPECT_NE(FileInfoText(path.c_str(), nullptr, nullptr)
                      .find("\n  Video: 320x240x24  (MJPG) " + video + "\n"),
                  std::string::npos)
            << name;
        char* summary = DescribeAVI(path.c_str());
        ASSERT_TRUE(summary);
        EXPECT_TRUE(std::string(summary).starts_with("File Size: " + std::to_string(bytes.size()) +
                                                     " bytes\nVideo: 320x240x24  (MJPG) " +
                                                     video.substr(0, video.find(" (")) + " "))
            << summary;
        MyMallocFree(summary);
        AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
        ASSERT_TRUE(rec);
        EXPECT_EQ(std::to_string(rec->frames) + " frames", video.substr(0, video.find(" (")));
        CloseAVIlist(rec);
    };
    CraftedAvi a = ClipLayout(15, 1);
    const std::string whole = a.Build();
    // Cut inside frame 41, the idx1 gone with it: the header still claims 150.
    check("cut.avi", whole.substr(0, a.headerAt[80] + 500), "40 frames (1 drops)");
    // A writer that died before it brought its sizes up to date: the RIFF and movi sizes as at the
    // start (an empty list), no idx1, no frame count.
    a.withIndex = false;
    std::string unpatched = a.Build();
    WriteLE32(&unpatched[4], a.moviPosition + 4 - 8);
    WriteLE32(&unpatched[a.moviPosition - 4], 4);
    WriteLE32(&unpatched[48], 0);
    check("unpatched.avi", unpatched, "150 frames (1 drops)");
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(FileInfoReport, DisplayFormatAndTimeStamp) {
    CraftedAvi a;
    a.chunks = {{"00db", 0x10, Payload(230400, 1)}};
    std::string path = Save(dir, "f.avi", a.Build());
    BITMAPINFOHEADER display{40, 320, 240, 1, 24, 0, 0, 0, 0, 0, 0};
    // The file's own size with image size 0: Yes stores the fix, and the size then differs from the
    // one noted; No leaves it; a size already right asks nothing.
    boxes->answers = {IDYES, IDNO};
    std::string text = FileInfoText(path.c_str(), &display, nullptr);
    EXPECT_EQ(display.biSizeImage, 230400u);
    EXPECT_NE(text.find("\n  Audio: None\n  ImageSize = 0 bytes\n\nDisplay Image Parameters:\n  ImageSize = "
                        "230400 bytes"),
              std::string::npos)
        << text;
    display.biSizeImage = 0;
    text = FileInfoText(path.c_str(), &display, nullptr);
    EXPECT_EQ(display.biSizeImage, 0u);
    EXPECT_EQ(text.find("Display Image Parameters"), std::string::npos);
    display.biSizeImage = 230400;
    FileInfoText(path.c_str(), &display, nullptr);
    EXPECT_EQ(gImageSize, 230400);
    EXPECT_EQ(boxes->texts(), std::vector<std::string>(2, "Fix image size from 0 to 230400?"));
    // Another size: its image line. Rows of 161 x 3 bytes padded to 484 make the size right.
    display.biWidth = 161, display.biHeight = 120, display.biSizeImage = 484 * 120;
    text = FileInfoText(path.c_str(), &display, nullptr);
    EXPECT_EQ(boxes->shown.size(), 2u);
    EXPECT_TRUE(text.ends_with(
        "\n  ImageSize = 58080 bytes\n\nDisplay Image Parameters:\n  Image: 161x120x24  Uncompressed"))
        << text;
    // Time stamps in both forms; anything else adds nothing.
    std::string stamp = "TS: 2024-05-06 07:08:09", tripled;
    for (char c : stamp) tripled += std::string(3, c);
    for (const std::string& s : {stamp, tripled})
        EXPECT_EQ(FileInfoText("", nullptr, s.c_str()),
                  "Snapshot Preview Image\n\nImage TimeStamp: 2024-05-06 07:08:09");
    EXPECT_EQ(FileInfoText("", nullptr, "TS"), "Snapshot Preview Image");
}

using BmpHeaders = ScriptedTest;

TEST_F(BmpHeaders, RefusedHeadersAndSizesByWhatIsThere) {
    const std::string good = Bmp({.width = 30, .height = 20, .pixels = std::string(100, 'p')});
    auto with = [&](size_t at, uint32_t v) {
        std::string s = good;
        WriteLE32(&s[at], v);
        return s;
    };
    // The V4 and V5 headers: the 40-byte header and more fields before the pixels.
    auto longer = [&](uint32_t size) {
        std::string s = good;
        s.insert(54, size - 40, '\0');
        WriteLE32(&s[14], size), WriteLE32(&s[10], 14 + size),
            WriteLE32(&s[2], static_cast<uint32_t>(s.size()));
        return s;
    };
    struct Case {
        const char* what;
        std::string bytes;
        int32_t result, imageSize;
    } const cases[] = {
        {"data offset beyond the stated file size", with(2, 50), 0, 0},
        {"data offset inside the file header", with(10, 10), 0, 0},
        {"data offset too close for the header", with(10, 14 + 30), 0, 0},
        {"header size that would overrun the 40 bytes read", with(14, 2000), 0, 0},
        {"header size of another form", with(14, 64), 0, 0},
        {"a 108-byte header in the room of 40", with(14, 108), 0, 0},
        {"a 108-byte header", longer(108), 1, 100},
        {"a 124-byte header", longer(124), 1, 100},
        {"stated file size beyond the file: the bytes there", with(2, 1000000), 1, 100},
        {"cut inside the header", good.substr(0, 30), 0, 0},
    };
    AVIinfoRecord info{};
    for (const Case& c : cases) {
        std::string path = Save(dir, "b.bmp", c.bytes);
        EXPECT_EQ(ReadBMPInfo(path.c_str(), info), c.result) << c.what;
        if (c.result) {
            EXPECT_EQ(gImageSize, c.imageSize) << c.what;
        }
    }
    EXPECT_EQ(ReadBMPInfo(dir.file("none.bmp").c_str(), info), 0);
}
