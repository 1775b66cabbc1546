// The file reports: the Information text for AVI, WAVE and BMP files, the display format and time
// stamp additions, the box it is shown in, and the shorter mailing text.
#include <gtest/gtest.h>

#include "core/memory.h"
#include "media/fileinfo.h"
#include "media/riff.h"
#include "media_support.h"
#include "support/scripted.h"

using namespace media_test;

namespace {

std::string Save(const TempDir& dir, const std::string& name, const std::string& bytes) {
    std::string path = dir.file(name);
    WriteWholeFile(path, bytes);
    return path;
}

// A 320 x 240 x 24 "MJPG" clip of 150 small frames at rate / scale, with 22050 Hz 16-bit audio of
// the given channels.
std::string Clip(const TempDir& dir, const std::string& name, uint32_t rate, uint32_t scale,
                 uint32_t channels = 2) {
    CraftedAvi a;
    a.compression = FourCC("MJPG");
    a.handler = FourCC("MJPG");
    a.rate = rate;
    a.scale = scale;
    a.channels = channels;
    a.samplesPerSec = 22050;
    a.sampleBits = 16;
    for (int i = 0; i < 150; i++) {
        a.chunks.push_back({"00dc", 0x10, Payload(i == 7 ? 0 : 1000, i)});
        a.chunks.push_back({"01wb", 0, Payload(588, i)});
    }
    return Save(dir, name, a.Build());
}

// A BMP: file header, a header of the given bytes, then pixel bytes.
std::string Bmp(const std::string& header, const std::string& after, uint32_t dataOffset = 0,
                uint32_t fileSize = 0) {
    uint32_t off = dataOffset ? dataOffset : static_cast<uint32_t>(14 + header.size());
    std::string body = header + after;
    uint32_t size = fileSize ? fileSize : static_cast<uint32_t>(14 + body.size());
    return "BM" + LE32(size) + LE32(0) + LE32(off) + body;
}

}  // namespace

TEST(FileInfoText, AviReport) {
    TempDir dir;
    std::string path = Clip(dir, "clip.avi", 1000000, 66666);
    ScopedBoxes boxes;
    std::string text = FileInfoText(path.c_str(), nullptr, nullptr);
    // 149 frames of 1000 bytes and a drop: average 1000, (1000 x 30 + 50000) / 100000 = 0 tenths of
    // MB/sec, 320 x 240 x 20 / 1000 = 153.6:1.
    EXPECT_EQ(text, "AVI file - " + path +
                        "\n  Video: 320x240x24  (MJPG) 150 frames (1 drops)"
                        "\n  Video Rate: 15.00fps (1000000/66666)"
                        "\n  0.0 MB/Sec 153.6:1"
                        "\n  Audio: 22050 Samples/Sec 16-Bit Stereo");
    EXPECT_TRUE(boxes->shown.empty());

    path = Clip(dir, "ntsc.avi", 30000, 1001, 1);
    text = FileInfoText(path.c_str(), nullptr, nullptr);
    EXPECT_NE(text.find("\n  Video Rate: 29.97fps (30000/1001)\n"), std::string::npos);
    EXPECT_NE(text.find("\n  Audio: 22050 Samples/Sec 16-Bit Mono"), std::string::npos);

    // A scale of 0 does not divide by zero: the rate shows as 0.00.
    path = Clip(dir, "zero.avi", 15, 0);
    text = FileInfoText(path.c_str(), nullptr, nullptr);
    EXPECT_NE(text.find("\n  Video Rate: 0.00fps (15/0)\n"), std::string::npos);

    // Uncompressed, top-down, no audio, a source: the height is shown positive, as for any file.
    CraftedAvi a;
    a.width = 64;
    a.height = -48;
    a.chunks = {{"00db", 0x10, Payload(9216, 1)}};
    std::string core(160, '\0');
    core.replace(0, 9, "Camera 12");
    core.replace(40, 5, "Front");
    core.replace(60, 5, "hello");
    a.afterHdrl = Chunk("CORE", core);
    path = Save(dir, "raw.avi", a.Build());
    text = FileInfoText(path.c_str(), nullptr, nullptr);
    EXPECT_EQ(text, "AVI file - " + path +
                        "\n  Video: 64x48x24 Uncompressed 1 frames (0 drops)"
                        "\n  Video Rate: 15.00fps (15/1)"
                        "\n  0.3 MB/Sec 0.7:1"
                        "\n  Audio: None"
                        "\nSource: Front <Camera 12>"
                        "\n  hello");
    EXPECT_TRUE(AVIinfo.topDown);
}

TEST(FileInfoText, DisplayFormatAndTimeStamp) {
    TempDir dir;
    CraftedAvi a;
    a.chunks = {{"00db", 0x10, Payload(230400, 1)}};
    std::string path = Save(dir, "f.avi", a.Build());
    BITMAPINFOHEADER display{};
    display.biSize = 40;
    display.biWidth = 320;
    display.biHeight = 240;
    display.biBitCount = 24;
    display.biSizeImage = 0;
    {
        // The file's own size with image size 0: the fix is asked; Yes stores it, and the stored size
        // then differs from the one noted.
        ScopedBoxes boxes;
        boxes->answers = {IDYES};
        std::string text = FileInfoText(path.c_str(), &display, nullptr);
        ASSERT_EQ(boxes->shown.size(), 1u);
        EXPECT_EQ(boxes->shown[0].text, "Fix image size from 0 to 230400?");
        EXPECT_EQ(display.biSizeImage, 230400u);
        EXPECT_NE(text.find("\n  Audio: None\n  ImageSize = 0 bytes\n\nDisplay Image Parameters:\n  "
                            "ImageSize = 230400 bytes"),
                  std::string::npos)
            << text;
        EXPECT_EQ(gImageSize, 0);
    }
    {
        // No leaves it; a size already right asks nothing.
        ScopedBoxes boxes;
        display.biSizeImage = 0;
        boxes->answers = {IDNO};
        std::string text = FileInfoText(path.c_str(), &display, nullptr);
        EXPECT_EQ(display.biSizeImage, 0u);
        EXPECT_EQ(text.find("Display Image Parameters"), std::string::npos);
        display.biSizeImage = 230400;
        text = FileInfoText(path.c_str(), &display, nullptr);
        EXPECT_EQ(boxes->shown.size(), 1u);
        EXPECT_EQ(gImageSize, 230400);
    }
    {
        // Another size: its image line. Rows of 161 x 3 bytes are padded to 484, so the size is right.
        ScopedBoxes boxes;
        display.biWidth = 161;
        display.biHeight = 120;
        display.biSizeImage = 484 * 120;
        std::string text = FileInfoText(path.c_str(), &display, nullptr);
        EXPECT_TRUE(boxes->shown.empty());
        const std::string tail =
            "\n  ImageSize = 58080 bytes\n\nDisplay Image Parameters:\n  Image: 161x120x24  Uncompressed";
        ASSERT_GE(text.size(), tail.size());
        EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    }
    // Time stamps in both forms; anything else adds nothing.
    std::string stamp = "TS: 2024-05-06 07:08:09";
    std::string text = FileInfoText("", nullptr, stamp.c_str());
    EXPECT_EQ(text, "Snapshot Preview Image\n\nImage TimeStamp: 2024-05-06 07:08:09");
    std::string tripled;
    for (char c : stamp) tripled += std::string(3, c);
    EXPECT_EQ(FileInfoText("", nullptr, tripled.c_str()), text);
    EXPECT_EQ(FileInfoText("", nullptr, "hello"), "Snapshot Preview Image");
    EXPECT_EQ(FileInfoText("", nullptr, "TS"), "Snapshot Preview Image");
}

TEST(FileInfoText, WaveBmpAndOtherFiles) {
    TempDir dir;
    ScopedBoxes boxes;
    std::string wav =
        Save(dir, "a.wav", Riff("WAVE", Chunk("fmt ", WaveFormat(2, 22050, 16)) + Chunk("data", "abcd")));
    EXPECT_EQ(FileInfoText(wav.c_str(), nullptr, nullptr), "WAVE file - " + wav + "\n  Audio: 22050 2 16");

    // A 24-bit BMP with a time stamp after its header; a name with a space is looked up up to it.
    std::string header = BitmapHeader(30, -20, 24, 0);
    std::string pixels = "TS:x2024-01-01" + std::string(1840 - 14, 'p');
    std::string bmp = Save(dir, "pic", Bmp(header, pixels));
    std::string shown = bmp + " (snapshot 3)";
    EXPECT_EQ(FileInfoText(shown.c_str(), nullptr, nullptr),
              "BMP file - " + bmp + "\n  Image: 30x20x24  Uncompressed\n  ImageSize = 1840 bytes");
    EXPECT_TRUE(AVIinfo.topDown);
    EXPECT_EQ(std::string(gImageTimeStamp), pixels.substr(0, 30));

    // The 12-byte core header: 16-bit fields, no compression.
    std::string core = LE32(12) + LE16(40) + LE16(30) + LE16(1) + LE16(8);
    bmp = Save(dir, "core.bmp", Bmp(core, std::string(3 * 256, 'c') + std::string(1200, 'q'), 14 + 12 + 768));
    EXPECT_EQ(FileInfoText(bmp.c_str(), nullptr, nullptr),
              "BMP file - " + bmp + "\n  Image: 40x30x8  Uncompressed\n  ImageSize = 1200 bytes");
    EXPECT_STREQ(gImageTimeStamp, "");

    // An RLE-compressed 8-bit BMP shows its code.
    bmp = Save(dir, "rle.bmp", Bmp(BitmapHeader(8, 8, 8, FourCC("RLE8")), std::string(100, 'r')));
    EXPECT_NE(FileInfoText(bmp.c_str(), nullptr, nullptr).find("\n  Image: 8x8x8  (RLE8)\n"),
              std::string::npos);

    // Anything else is an image by name; a missing file says so first.
    std::string other = Save(dir, "notes.txt", "hello there, not media");
    EXPECT_EQ(FileInfoText(other.c_str(), nullptr, nullptr), "Image - " + other);
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_EQ(FileInfoText(dir.file("gone").c_str(), nullptr, nullptr), "Image - " + dir.file("gone"));
    EXPECT_TRUE(boxes->saw("couldn't open file"));
    std::string tiny = Save(dir, "tiny", "RIFF");
    boxes->shown.clear();
    EXPECT_EQ(IsAVIFile(tiny.c_str()), 0);
    EXPECT_TRUE(boxes->saw("error 1"));
}

TEST(ReadBMPInfo, BadHeaders) {
    TempDir dir;
    std::string header = BitmapHeader(30, 20, 24, 0);
    // The data offset beyond the stated file size: not a BMP.
    std::string path = Save(dir, "a.bmp", Bmp(header, std::string(1840, 'p'), 54, 50));
    EXPECT_EQ(ReadBMPInfo(path.c_str()), 0);
    // A data offset before the end of the file header, or too close for the header it announces.
    path = Save(dir, "b.bmp", Bmp(header, std::string(100, 'p'), 10));
    EXPECT_EQ(ReadBMPInfo(path.c_str()), 0);
    path = Save(dir, "c.bmp", Bmp(header, std::string(100, 'p'), 14 + 30));
    EXPECT_EQ(ReadBMPInfo(path.c_str()), 0);
    // A header size that is neither 12 nor 40 (one that would overrun the 40 bytes read included).
    path = Save(dir, "d.bmp", Bmp(BitmapHeader(30, 20, 24, 0, 2000), std::string(100, 'p')));
    EXPECT_EQ(ReadBMPInfo(path.c_str()), 0);
    path = Save(dir, "e.bmp",
                Bmp(BitmapHeader(30, 20, 24, 0, 108) + std::string(68, '\0'), std::string(100, 'p')));
    EXPECT_EQ(ReadBMPInfo(path.c_str()), 0);
    // A stated file size beyond the file: the pixel bytes really there.
    path = Save(dir, "f.bmp", Bmp(header, std::string(100, 'p'), 0, 1000000));
    EXPECT_EQ(ReadBMPInfo(path.c_str()), 1);
    EXPECT_EQ(gImageSize, 100);
    // Cut inside the header.
    path = Save(dir, "g.bmp", Bmp(header, "").substr(0, 30));
    EXPECT_EQ(ReadBMPInfo(path.c_str()), 0);
    EXPECT_EQ(ReadBMPInfo(dir.file("none.bmp").c_str()), 0);
}

TEST(ShowFileInfo, InformationBoxOwnedByTheWindow) {
    TempDir dir;
    std::string path = Clip(dir, "clip.avi", 15, 1);
    ScopedBoxes boxes;
    HWND owner = reinterpret_cast<HWND>(0x77);
    ShowFileInfo(owner, path.c_str(), nullptr, nullptr);
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].owner, owner);
    EXPECT_EQ(boxes->shown[0].caption, "Information");
    EXPECT_EQ(boxes->shown[0].style, MB_ICONINFORMATION);
    EXPECT_EQ(boxes->shown[0].text, FileInfoText(path.c_str(), nullptr, nullptr));
}

TEST(DescribeAVI, MailingSummary) {
    TempDir dir;
    std::string path = Clip(dir, "clip.avi", 1000000, 66666);
    const int32_t live = MemoryMonitorStatus().liveBlocks;
    char* text = DescribeAVI(path.c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text), "File Size: " + std::to_string(ReadWholeFile(path).size()) +
                                     " bytes\nVideo: 320x240x24  (MJPG) 150 frames 15.00fps"
                                     "\nAudio: 22050 Samples/Sec 16-Bit Stereo");
    MyMallocFree(text);

    CraftedAvi a;
    a.rate = 30000;
    a.scale = 1001;
    a.chunks = {{"00db", 0x10, Payload(100, 1)}};
    path = Save(dir, "raw.avi", a.Build());
    text = DescribeAVI(path.c_str());
    ASSERT_NE(text, nullptr);
    EXPECT_NE(std::string(text).find("\nVideo: 320x240x24 Uncompressed 1 frames 29.97fps\nAudio: None"),
              std::string::npos);
    MyMallocFree(text);

    path = Save(dir, "a.wav", Riff("WAVE", Chunk("fmt ", WaveFormat(2, 22050, 16)) + Chunk("data", "abcd")));
    EXPECT_EQ(DescribeAVI(path.c_str()), nullptr);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, live);
}
