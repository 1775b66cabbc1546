// Renders to MP4 read back by ffprobe and ffmpeg beside the uncompressed AVI render of the same
// project: the same frames, drops and sound, the index first; a render stopped by Escape or by a
// full disk still plays; the MPEG-4 part 2 fallback; odd picture sides.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <filesystem>

#include "core/diskio.h"
#include "media/fileinfo.h"
#include "platform/mp4/mp4.h"
#include "render_support.h"
#include "support/ffprobe.h"

using namespace render_test;
using namespace media_test;

namespace {

// The top-level boxes of an MP4 file, in order.
std::string TopLevelBoxes(const std::string& path) {
    const std::string f = ReadWholeFile(path);
    std::string boxes;
    for (size_t at = 0; at + 8 <= f.size();) {
        uint64_t size = static_cast<uint8_t>(f[at]) << 24 | static_cast<uint8_t>(f[at + 1]) << 16 |
                        static_cast<uint8_t>(f[at + 2]) << 8 | static_cast<uint8_t>(f[at + 3]);
        if (size == 1 && at + 16 <= f.size())
            for (int i = 0; i < 8; i++) size = (i ? size << 8 : 0) | static_cast<uint8_t>(f[at + 8 + i]);
        boxes += (boxes.empty() ? "" : " ") + f.substr(at + 4, 4);
        if (size < 8) break;
        at += size;
    }
    return boxes;
}

// Seconds of sound ffmpeg decodes from a file (edit lists applied).
double SoundSeconds(const std::string& path, int rate) {
    const std::string pcm = Shell("ffmpeg -nostdin -v error -i " + Quote(path) + " -map 0:a -ac 1 -ar " +
                                  std::to_string(rate) + " -f s16le -");
    return pcm.size() / 2.0 / rate;
}

// The lowest per-frame PSNR of two files' pictures, as ffmpeg's psnr filter reports it.
double LowestPsnr(const std::string& a, const std::string& b) {
    const std::string log = Shell("ffmpeg -nostdin -i " + Quote(a) + " -i " + Quote(b) +
                                  " -lavfi '[0:v][1:v]psnr' -f null - 2>&1 | grep -o 'min:[0-9.inf]*'");
    return log.size() > 4 ? std::atof(log.c_str() + 4) : 0;
}

std::string Field(const std::string& file, const std::string& stream, const std::string& key) {
    return ProbeStream(file, stream)[key];
}

}  // namespace

class RenderToMp4 : public RenderTest {
  protected:
    void TearDown() override {
        SetMp4H264Allowed(true);
        SetMp4FreeSpaceForTests(-1);
        RenderTest::TearDown();
    }
    // The ffmpeg clip (160 x 120, 15 frames a second, 11025 Hz 8-bit sound) with drops at the start
    // (left out) and in the middle (repeats), an inactive range and a title.
    void EditedProject() {
        ResetProjectForTests();
        ASSERT_TRUE(AppendAVIToProject(nullptr, TestData("render_mjpeg_u8.avi").c_str()));
        AddRevision(kRevDrop, 1, 2, nullptr);
        AddRevision(kRevInactivate, 5, 8, nullptr);
        AddRevision(kRevDrop, 12, 14, nullptr);
        AddRevision(kRevTitle, 3, 20, MakeTitle("HELLO", RGB(255, 0, 0), 1, 1, -20, FW_BOLD));
    }
};

TEST_F(RenderToMp4, HoldsTheFramesAndSoundOfTheAviRenderWithTheIndexFirst) {
    EditedProject();
    const std::string avi = dir.file("edited.avi"), mp4 = dir.file("edited.mp4");
    boxes->answers = {IDNO, IDNO};
    ASSERT_EQ(Render(avi), 1);
    auto scripted = Choose("MJPG", 80);  // for MP4 only the quality counts
    ASSERT_EQ(Render(mp4), 1);
    EXPECT_EQ(scripted->offered, std::vector<std::string>{"mp4"});
    EXPECT_EQ(std::string(gSettings.LastSaveAVIfileName), mp4);
    const int64_t length = static_cast<int64_t>(ReadWholeFile(mp4).size());
    EXPECT_EQ(boxes->texts().back(), "Record to MP4 file complete - size = " + std::to_string(length) +
                                         " bytes\nWould you like to view the file?");

    // 24 frames: 3-4 and 9-30, the drops 12-14 repeating frame 11; H.264 Main in yuv420p with AAC-LC.
    auto video = ProbeStream(mp4, "v:0"), sound = ProbeStream(mp4, "a:0");
    EXPECT_EQ(video["codec_name"] + " " + video["profile"] + " " + video["pix_fmt"] + " " +
                  video["nb_frames"] + " " + sound["codec_name"] + " " + sound["profile"] + " " +
                  sound["sample_rate"],
              "h264 Main yuv420p 24 aac LC 44100");
    EXPECT_EQ(Field(avi, "v:0", "nb_frames"), "24");
    EXPECT_NEAR(std::stod(video["duration"]), 24 / 15.0, 1 / 15.0);
    EXPECT_EQ(TopLevelBoxes(mp4).find("mdat") > TopLevelBoxes(mp4).find("moov"), true) << TopLevelBoxes(mp4);
    EXPECT_GE(LowestPsnr(mp4, avi), 30.0);
    EXPECT_NEAR(SoundSeconds(mp4, 44100), SoundSeconds(avi, 11025), 1 / 15.0);
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + Quote(mp4) + " -f null - 2>&1"), "");

    // The mailing summary describes it as DescribeAVI does an AVI file, with its duration.
    int64_t reported = 0;
    char* text = DescribeMP4(mp4.c_str(), &reported);
    ASSERT_NE(text, nullptr);
    const std::string summary = text;
    MyMallocFree(text);
    EXPECT_EQ(reported, length);
    EXPECT_EQ(summary.substr(0, summary.find('\n')), "File Size: " + std::to_string(length) + " bytes");
    EXPECT_NE(summary.find("\nDuration: 1.6"), std::string::npos) << summary;
    EXPECT_NE(
        summary.find("\nVideo: 160x120x24  (avc1) 24 frames 15.00fps\nAudio: 44100 Samples/Sec AAC Mono"),
        std::string::npos)
        << summary;
    EXPECT_EQ(DescribeMP4(avi.c_str(), nullptr), nullptr);
}

TEST_F(RenderToMp4, StoppedRendersAreFinishedAndOtherPicturesAndEncodersWork) {
    const std::string clip = TestData("render_mjpeg_u8.avi");
    {
        SCOPED_TRACE("Escape after 10 frames");
        ResetProjectForTests();
        ASSERT_TRUE(AppendAVIToProject(nullptr, clip.c_str()));
        pump->beforeEachPump = [](ScriptedPump& p) {
            if (p.pumps == 12) p.escape();
        };
        const std::string out = dir.file("escape.mp4");
        EXPECT_EQ(Render(out), 0);
        pump->beforeEachPump = nullptr;
        EXPECT_EQ(Field(out, "v:0", "nb_frames"), "10");
        EXPECT_NEAR(SoundSeconds(out, 44100), 10 / 15.0, 1 / 15.0);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + Quote(out) + " -f null - 2>&1"), "");
    }
    {
        SCOPED_TRACE(
            "a full disk: what plays stays where no file was; the reason and the frames kept are told");
        EditedProject();
        // Room for the first frames, then no more.
        SetMp4FreeSpaceForTests(6000);
        const std::string out = dir.file("full.mp4");
        boxes->shown.clear();
        EXPECT_EQ(Render(out), 0);
        SetMp4FreeSpaceForTests(-1);
        Mp4Info info;
        ASSERT_TRUE(ReadMp4Info(out.c_str(), &info));
        EXPECT_TRUE(info.frames > 0 && info.frames < 24) << info.frames;
        EXPECT_EQ(Field(out, "v:0", "nb_frames"), std::to_string(info.frames));
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + Quote(out) + " -f null - 2>&1"), "");
        ASSERT_EQ(boxes->shown.size(), 1u);
        const std::string text = boxes->texts()[0];
        // Frames count from 1, as the progress does: the first left out follows the last kept of
        // 3-4 and 9-30.
        const int64_t next = info.frames + 1 <= 2 ? info.frames + 3 : info.frames + 7;
        EXPECT_EQ(
            text.rfind("The disk is full: frames from " + std::to_string(next) + " on were left out\n", 0),
            0u)
            << text;
        EXPECT_EQ(text.substr(text.find('\n')),
                  "\nThe file holds the " + std::to_string(info.frames) + " frames written before that");
    }
    {
        SCOPED_TRACE("a disk without room to begin: the space needed is told and no file is made");
        EditedProject();
        SetMp4FreeSpaceForTests(1000);
        const std::string out = dir.file("small.mp4");
        boxes->shown.clear();
        EXPECT_EQ(Render(out), 0);
        SetMp4FreeSpaceForTests(-1);
        EXPECT_FALSE(std::filesystem::exists(out));
        ASSERT_EQ(boxes->shown.size(), 1u);
        const std::string text = boxes->texts()[0];
        EXPECT_EQ(text.rfind("There is not enough room on the disk for " + out +
                                 ": an MP4 file needs about 3 KB "
                                 "free to begin, the disk has ",
                             0),
                  0u)
            << text;
        EXPECT_EQ(text.substr(text.find('\n')), "\nNo file was made");
    }
    {
        SCOPED_TRACE("a write that fails: no file is made and the user hears why");
        EditedProject();
        const std::string out = dir.file("failed.mp4");
        boxes->shown.clear();
        SetDiskFault({.writeError = EIO, .failAfterBytes = 3000});
        EXPECT_EQ(Render(out), 0);
        ClearDiskFault();
        EXPECT_FALSE(std::filesystem::exists(out));
        ASSERT_EQ(boxes->shown.size(), 1u);
        EXPECT_EQ(boxes->texts()[0].rfind("Couldn't write " + out + "\nInput/output error\n", 0), 0u);
        EXPECT_EQ(boxes->texts()[0].substr(boxes->texts()[0].rfind('\n')), "\nNo file was made");
    }
    {
        SCOPED_TRACE("nothing to render: no MP4 file either");
        EditedProject();
        AddRevision(kRevInactivate, 1, 30, nullptr);
        const std::string out = dir.file("nothing.mp4");
        boxes->shown.clear();
        EXPECT_EQ(Render(out), 0);
        dialogs->answers.clear();
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"There is nothing to render: every frame of the "
                                                           "project is dropped or inactive"});
    }
    {
        SCOPED_TRACE("MPEG-4 part 2 without libx264; odd sides and a file without sound");
        SetMp4H264Allowed(false);
        ClipLayout odd;
        Project({odd});
        const std::string out = dir.file("odd.mp4");
        ASSERT_EQ(Render(out), 1);
        auto video = ProbeStream(out, "v:0");
        EXPECT_EQ(
            video["codec_name"] + " " + video["width"] + "x" + video["height"] + " " + video["nb_frames"],
            "mpeg4 6x4 6");
        EXPECT_TRUE(ProbeStream(out, "a:0").empty());
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + Quote(out) + " -f null - 2>&1"), "");
    }
}

TEST_F(RenderToMp4, ThePredictedSizeIsWithinAQuarterOfTheFile) {
    // Scenes that cost very differently: a short project (what a Clipgram is) and a long one.
    const std::vector<std::vector<std::string>> projects = {
        {"render_bars.avi", "render_zoom.avi", "render_bars.avi"},
        {"render_bars.avi", "render_minute.avi", "render_zoom.avi"}};
    for (const auto& clips : projects) {
        SCOPED_TRACE(clips[1]);
        ResetProjectForTests();
        for (const std::string& clip : clips)
            ASSERT_TRUE(AppendAVIToProject(nullptr, TestData(clip).c_str()));
        int64_t predicted = -1;
        Dialog([&predicted](ChooseCompressorModel& m) {
            predicted = m.Predict().bytes;
            return true;
        });
        const std::string out = dir.file("predicted.mp4");
        boxes->answers = {IDNO};
        ASSERT_EQ(Render(out), 1);
        const auto real = static_cast<int64_t>(ReadWholeFile(out).size());
        EXPECT_NEAR(predicted, real, real / 4) << "predicted " << predicted << ", the file has " << real;
    }
}
