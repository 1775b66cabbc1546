// Conforming on files ffmpeg made: what the clip holds is checked with ffmpeg and ffprobe.
#include "media/conform.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <set>

#include "support/ffprobe.h"
#include "support/scripted.h"

using namespace media_test;

namespace {

struct Rgb {
    int r, g, b;
};

// One decoded picture of a clip, as ffmpeg sees it.
class Picture {
  public:
    Picture(const std::string& clip, int frame, int width, int height) : width_(width) {
        bytes_ = Shell("ffmpeg -v error -i " + Quote(clip) + " -vf 'select=eq(n\\," + std::to_string(frame) +
                       ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null");
        EXPECT_EQ(bytes_.size(), static_cast<size_t>(width * height * 3));
    }
    Rgb at(int x, int y) const {
        const size_t i = (static_cast<size_t>(y) * width_ + x) * 3;
        if (i + 2 >= bytes_.size()) return {-1, -1, -1};
        return {static_cast<uint8_t>(bytes_[i]), static_cast<uint8_t>(bytes_[i + 1]),
                static_cast<uint8_t>(bytes_[i + 2])};
    }

  private:
    int width_;
    std::string bytes_;
};

bool Red(Rgb c) {
    return c.r > 200 && c.g < 60 && c.b < 60;
}
bool Black(Rgb c) {
    return c.r < 20 && c.g < 20 && c.b < 20;
}

ConformFormat Project(int w, int h, int fps, int rate, int bits, int channels) {
    ConformFormat f;
    f.width = w;
    f.height = h;
    f.usPerFrame = 1000000 / fps;
    f.sound = ConformFormat::Sound::kPcm;
    f.samplesPerSec = rate;
    f.sampleBits = bits;
    f.channels = channels;
    return f;
}

ConformResult Convert(const std::string& source, const std::string& output, const ConformFormat& format = {},
                      const std::atomic<bool>* cancel = nullptr, const ConformProgress& progress = nullptr) {
    ConformRequest r;
    r.source = TestData(source);
    r.output = output;
    r.format = format;
    return ConformVideo(r, progress, cancel);
}

std::set<std::string> Names(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        names.insert(e.path().filename().string());
    return names;
}

}  // namespace

TEST(Conform, ClipsHoldTheSourceUprightFittedAtTheTargetRateAndSound) {
    TempDir dir;
    {
        SCOPED_TRACE("a rotated portrait phone clip into a landscape 15 fps project with 8-bit mono sound");
        const std::string out = dir.file("portrait.avi");
        const ConformResult r = Convert("import_portrait.mp4", out, Project(320, 240, 15, 11025, 8, 1));
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.path, out);
        EXPECT_EQ(r.frames, 30);  // 2 s at 15 a second
        auto v = ProbeStream(out, "v:0");
        EXPECT_EQ(v["codec_name"], "mjpeg");
        EXPECT_EQ(v["width"], "320");
        EXPECT_EQ(v["nb_frames"], "30");
        for (const Packet& p : ProbePackets(out)) EXPECT_TRUE(p.key);
        // Upright 96x160 fitted into 320x240 is 144x240 at x 88: the red square stays top-left.
        Picture first(out, 0, 320, 240);
        EXPECT_TRUE(Red(first.at(100, 10)));
        EXPECT_FALSE(Red(first.at(100, 200)));
        EXPECT_FALSE(Red(first.at(220, 10)));
        EXPECT_TRUE(Black(first.at(20, 120)));
        EXPECT_TRUE(Black(first.at(300, 120)));
        EXPECT_FALSE(Black(first.at(160, 120)));
        auto a = ProbeStream(out, "a:0");
        EXPECT_EQ(a["codec_name"], "pcm_u8");
        EXPECT_EQ(a["sample_rate"], "11025");
        EXPECT_EQ(a["channels"], "1");
        // The sound lasts as long as the pictures: 30 frames of 735 samples.
        int64_t soundBytes = 0;
        for (const Packet& p : ProbePackets(out, "a:0")) soundBytes += p.size;
        EXPECT_EQ(soundBytes, 30 * 735);
    }
    {
        SCOPED_TRACE("a variable-rate MKV as a first clip: frames follow the time stamps");
        const std::string out = dir.file("vfr.avi");
        const ConformResult r = Convert("import_vfr.mkv", out);
        ASSERT_TRUE(r.ok) << r.message;
        EXPECT_EQ(r.width, 128);
        EXPECT_EQ(r.height, 96);
        EXPECT_EQ(r.usPerFrame, 33333);
        EXPECT_NEAR(r.frames, 90, 1);  // 3 s at 30 a second, though only 60% of the frames are there
        EXPECT_EQ(r.samplesPerSec, 0);
        EXPECT_EQ(ProbeStream(out, "a:0").count("codec_name"), 0u);
    }
    {
        SCOPED_TRACE("time stamps that jump back (two MPEG-TS files joined) or 1000 s ahead (an MKV)");
        const std::string make = "ffmpeg -nostdin -v error -f lavfi -i testsrc=size=128x96:rate=15:duration=";
        const std::string tone = " -f lavfi -i sine=sample_rate=48000:duration=";
        Shell(make + "1" + tone + "1 -c:v libx264 -pix_fmt yuv420p -c:a aac " + Quote(dir.file("half.ts")));
        Shell("cat " + Quote(dir.file("half.ts")) + " " + Quote(dir.file("half.ts")) + " >" +
              Quote(dir.file("joined.ts")));
        Shell(make + "2" + tone +
              "2 -vf 'setpts=PTS+gte(N\\,15)*1000/TB' -af 'asetpts=PTS+gte(T\\,1)*1000/TB' -c:v libx264 "
              "-pix_fmt yuv420p -c:a aac " +
              Quote(dir.file("ahead.mkv")));
        for (const char* name : {"joined.ts", "ahead.mkv"}) {
            SCOPED_TRACE(name);
            ConformRequest r;
            r.source = dir.file(name);
            r.output = dir.file("jumped.avi");
            r.format = Project(128, 96, 15, 11025, 8, 1);
            const ConformResult c = ConformVideo(r, nullptr, nullptr);
            ASSERT_TRUE(c.ok) << c.message;
            EXPECT_NEAR(c.frames, 30, 1);  // the 2 s of pictures there are
            int64_t soundBytes = 0;
            for (const Packet& p : ProbePackets(r.output, "a:0")) soundBytes += p.size;
            EXPECT_EQ(soundBytes, c.frames * 735);
        }
        for (const char* name : {"half.ts", "joined.ts", "ahead.mkv", "jumped.avi"})
            std::filesystem::remove(dir.file(name));
    }
    {
        SCOPED_TRACE("HEVC in QuickTime, VP9 with Opus in WebM");
        const ConformResult hevc = Convert("import_hevc.mov", dir.file("hevc.avi"));
        ASSERT_TRUE(hevc.ok) << hevc.message;
        EXPECT_EQ(hevc.frames, 25);
        EXPECT_EQ(hevc.usPerFrame, 40000);
        const ConformResult vp9 = Convert("import_vp9.webm", dir.file("vp9.avi"));
        ASSERT_TRUE(vp9.ok) << vp9.message;
        EXPECT_EQ(vp9.frames, 24);
        EXPECT_EQ(vp9.samplesPerSec, 48000);
        EXPECT_EQ(vp9.sampleBits, 16);
        EXPECT_EQ(vp9.channels, 1);
        EXPECT_EQ(ProbeStream(dir.file("vp9.avi"), "a:0")["codec_name"], "pcm_s16le");
    }
    {
        SCOPED_TRACE(
            "a part (one second from half a second in) of a file without sound, into a project with sound");
        ConformRequest r;
        r.source = TestData("import_vfr.mkv");
        r.output = dir.file("part.avi");
        r.format = Project(64, 48, 15, 11025, 8, 1);
        r.startSeconds = 0.5;
        r.seconds = 1;
        const ConformResult part = ConformVideo(r, nullptr, nullptr);
        ASSERT_TRUE(part.ok) << part.message;
        EXPECT_EQ(part.frames, 15);
        int64_t silence = 0;
        for (const Packet& p : ProbePackets(r.output, "a:0")) silence += p.size;
        EXPECT_EQ(silence, 15 * 735);
    }
}

TEST(Conform, FailuresLeaveNoFile) {
    TempDir dir;
    const std::string out = dir.file("out.avi");
    {
        SCOPED_TRACE("sound alone");
        const ConformResult r = Convert("import_sound.m4a", out);
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find("import_sound.m4a"), std::string::npos) << r.message;
        EXPECT_NE(r.message.find("no video stream"), std::string::npos) << r.message;
    }
    {
        SCOPED_TRACE("an MP4 cut short");
        const std::string whole = ReadWholeFile(TestData("import_portrait.mp4"));
        const std::string cut = dir.file("cut.mp4");
        WriteWholeFile(cut, whole.substr(0, whole.size() / 2));
        ConformRequest r;
        r.source = cut;
        r.output = out;
        const ConformResult c = ConformVideo(r, nullptr, nullptr);
        EXPECT_FALSE(c.ok);
        EXPECT_NE(c.message.find("cut.mp4"), std::string::npos) << c.message;
        std::filesystem::remove(cut);
    }
    {
        SCOPED_TRACE("cancelled part way");
        std::atomic<bool> cancel{false};
        int64_t seen = 0;
        const ConformResult r = Convert("import_portrait.mp4", out, {}, &cancel, [&](int64_t done, int64_t) {
            seen = done;
            if (done == 10) cancel = true;
        });
        EXPECT_FALSE(r.ok);
        EXPECT_TRUE(r.cancelled);
        EXPECT_GE(seen, 10);
    }
    {
        SCOPED_TRACE("a clip larger than an AVI file holds");
        const ConformResult r = Convert("import_portrait.mp4", out, Project(16384, 16384, 500, 48000, 16, 2));
        EXPECT_FALSE(r.ok);
        EXPECT_NE(r.message.find("2 GB"), std::string::npos) << r.message;
    }
    {
        SCOPED_TRACE("the clip may not replace its own source");
        const std::string source = dir.file("source.avi");
        ASSERT_TRUE(Convert("import_hevc.mov", source).ok);
        const std::string before = ReadWholeFile(source);
        ConformRequest r;
        r.source = source;
        r.output = source;
        EXPECT_FALSE(ConformVideo(r, nullptr, nullptr).ok);
        EXPECT_EQ(ReadWholeFile(source), before);
        std::filesystem::remove(source);
    }
    EXPECT_TRUE(Names(dir.path()).empty());
}

TEST(Conform, ClipsFolderNamesNewClipsAndReusesOnesMadeBefore) {
    TempDir dir;
    const std::string folder = dir.file("Quillory/Clips");
    auto toFolder = [&](const std::string& source, const ConformFormat& format, int* conversions) {
        ConformRequest r;
        r.source = TestData(source);
        r.clipsFolder = folder;
        r.format = format;
        return ConformVideo(
            r, [conversions](int64_t done, int64_t) { *conversions += done == 1; }, nullptr);
    };
    int conversions = 0;
    const ConformResult first = toFolder("import_hevc.mov", {}, &conversions);
    ASSERT_TRUE(first.ok) << first.message;
    EXPECT_EQ(first.path, folder + "/import_hevc.avi");
    EXPECT_FALSE(first.reused);

    const ConformResult again = toFolder("import_hevc.mov", {}, &conversions);
    ASSERT_TRUE(again.ok) << again.message;
    EXPECT_TRUE(again.reused);
    EXPECT_EQ(again.path, first.path);
    EXPECT_EQ(again.frames, first.frames);
    EXPECT_EQ(conversions, 1);

    // Another format is another clip, under the next free name.
    const ConformResult other = toFolder("import_hevc.mov", Project(64, 48, 10, 22050, 16, 1), &conversions);
    ASSERT_TRUE(other.ok) << other.message;
    EXPECT_EQ(other.path, folder + "/import_hevc (2).avi");
    EXPECT_EQ(conversions, 2);

    // A file of the name that conforming did not make keeps its bytes.
    WriteWholeFile(folder + "/import_vp9.avi", "mine");
    const ConformResult beside = toFolder("import_vp9.webm", {}, &conversions);
    ASSERT_TRUE(beside.ok) << beside.message;
    EXPECT_EQ(beside.path, folder + "/import_vp9 (2).avi");
    EXPECT_EQ(ReadWholeFile(folder + "/import_vp9.avi"), "mine");
}

TEST(Conform, ProbeTellsClipsThatFitFromOthers) {
    TempDir dir;
    const ConformFormat project = Project(320, 240, 15, 11025, 8, 1);
    ASSERT_TRUE(Convert("import_portrait.mp4", dir.file("fits.avi"), project).ok);
    std::string why;
    EXPECT_EQ(ProbeClip(dir.file("fits.avi").c_str(), project, &why), ClipFit::kAsIs);
    EXPECT_EQ(ProbeClip(dir.file("fits.avi").c_str(), Project(640, 480, 15, 11025, 8, 1), &why),
              ClipFit::kNeedsConforming);
    EXPECT_EQ(ProbeClip(dir.file("fits.avi").c_str(), ConformFormat{}, &why), ClipFit::kAsIs);
    EXPECT_EQ(ProbeClip(TestData("import_vp9.webm").c_str(), project, &why), ClipFit::kNeedsConforming);
    EXPECT_EQ(ProbeClip(TestData("import_sound.m4a").c_str(), project, &why), ClipFit::kNotVideo);
    EXPECT_NE(why.find("no video stream"), std::string::npos);
    WriteWholeFile(dir.file("text.avi"), "not a video");
    EXPECT_EQ(ProbeClip(dir.file("text.avi").c_str(), project, &why), ClipFit::kNotVideo);
    EXPECT_FALSE(why.empty());
}
