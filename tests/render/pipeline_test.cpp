// The render's frame pipeline on clips made by ffmpeg: any number of threads writes the same file,
// untouched frames are copied as stored, a size is fitted, and thumbnails show what the render
// composes.
#include <gtest/gtest.h>

#include <cstring>

#include "render/compose.h"
#include "render/thumbs.h"
#include "render_support.h"
#include "support/ffprobe.h"

using namespace render_test;
using namespace media_test;

namespace {

class Pipeline : public RenderTest {
  protected:
    void TearDown() override {
        SetRenderThreads(0);
        RenderTest::TearDown();
    }
    // The Motion JPEG clip (every frame a key frame, with sound) and the Video 1 clip (delta frames)
    // in one project: an inactive stretch inside a run of delta frames, drops, a title, an underlay.
    void EditedProject() {
        ResetProjectForTests();
        for (const char* clip : {"render_mjpeg_u8.avi", "render_msvideo1.avi"})
            ASSERT_TRUE(AppendAVIToProject(nullptr, TestData(clip).c_str()));
        UnderlayRecord* u = NewUnderlayRecord();
        std::strncpy(u->fileName, TestData("render_under.bmp").c_str(), sizeof u->fileName - 1);
        AddRevision(kRevInactivate, 40, 44, nullptr);
        AddRevision(kRevDrop, 20, 22, nullptr);
        AddRevision(kRevTitle, 8, 50, MakeTitle("Quill", RGB(255, 255, 0), 2, 0, -18, FW_BOLD));
        AddRevision(kRevUnderlay, 30, 60, u);
    }
    std::string RenderWith(const std::string& codec, int32_t threads, const std::string& name,
                           int32_t result = 1) {
        SetRenderThreads(threads);
        Choose(codec, 80);
        const std::string out = dir.file(name);
        EXPECT_EQ(Render(out), result) << codec << " with " << threads << " threads";
        return ReadWholeFile(out);
    }
};

}  // namespace

TEST_F(Pipeline, AnyNumberOfThreadsWritesTheFileOneThreadWrites) {
    EditedProject();
    std::vector<std::string> codecs;
    ChooseCompressorModel model(nullptr);
    ASSERT_TRUE(model.Open());
    for (const CompressorEntry& e : model.entries()) codecs.push_back(e.hic ? FourCCText(e.handler) : "none");
    model.Cancel();
    for (int copy = 1; copy >= 0; copy--)
        for (const std::string& codec : codecs) {
            if (!copy && codec != "MJPG") continue;  // only Motion JPEG copies these frames
            SCOPED_TRACE(codec + (copy ? " copying" : ""));
            gSettings.CopyFrames = copy;
            const std::string one = RenderWith(codec, 1, "one.avi"),
                              three = RenderWith(codec, 3, "three.avi");
            EXPECT_GT(one.size(), 10000u);
            EXPECT_TRUE(one == three) << "the files differ";
        }
    // Escape while three threads work: the frames read before it are written, and nothing more.
    pump->pumps = 0;
    pump->beforeEachPump = [](ScriptedPump& p) {
        if (p.pumps == 12) p.escape();  // the first follows the file dialog
    };
    RenderWith("MJPG", 3, "stopped.avi", 0);
    EXPECT_EQ(ReadChunks(dir.file("stopped.avi"), "00dc").size(), 10u);
}

TEST_F(Pipeline, UntouchedFramesAreCopiedAsStoredWithTheirSound) {
    const std::string source = TestData("render_mjpeg_u8.avi");
    ASSERT_TRUE(AppendAVIToProject(nullptr, source.c_str()));
    AddRevision(kRevTitle, 10, 14, MakeTitle("Copy", RGB(255, 0, 0), 1, 1, -16, FW_BOLD));
    std::vector<std::string> stored;
    for (int32_t n = 1; n <= gProject.totalFrames; n++) {
        const uint8_t* data = getFrameData(n, gProject.head);
        stored.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(lastFrameSize));
    }
    auto sound = [](const std::string& file) {
        return Shell("ffmpeg -nostdin -v error -i " + Quote(file) + " -map 0:a -f u8 -");
    };
    const std::string storedSound = sound(source);

    for (int copy = 1; copy >= 0; copy--) {
        SCOPED_TRACE(copy ? "copying" : "not copying");
        gSettings.CopyFrames = copy;
        RenderWith("MJPG", 0, "copied.avi");
        const std::string out = dir.file("copied.avi");
        const std::vector<OutChunk> frames = ReadChunks(out, "00dc");
        ASSERT_EQ(frames.size(), stored.size());
        for (size_t i = 0; i < frames.size(); i++) {
            const bool titled = i + 1 >= 10 && i + 1 <= 14;
            EXPECT_EQ(frames[i].data == stored[i], copy && !titled) << "frame " << i + 1;
            EXPECT_EQ(frames[i].flags, AVIIF_KEYFRAME);
        }
        const std::string written = sound(out);
        EXPECT_EQ(written, storedSound.substr(0, written.size()));
        EXPECT_GT(written.size(), storedSound.size() * 9 / 10);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + Quote(out) + " -f null - 2>&1"), "");
    }
}

TEST_F(Pipeline, AFittedFileIsAtMostTheSizeAndNotMuchLess) {
    ASSERT_TRUE(AppendAVIToProject(nullptr, TestData("render_minute.avi").c_str()));
    AddRevision(kRevTitle, 101, 190, MakeTitle("Fit", RGB(255, 255, 0), 2, 0, -24, FW_BOLD));
    gSettings.CopyFrames = 0;
    gSettings.FitToSize = 1;
    for (int32_t mb : {4, 6, 8}) {
        gSettings.FitMB = mb;
        const size_t bytes = RenderWith("MJPG", 0, "fitted.avi").size();
        EXPECT_LE(bytes, static_cast<size_t>(mb) * 1000000) << mb << " MB";
        EXPECT_GE(bytes, static_cast<size_t>(mb) * 800000) << mb << " MB";
    }
    // An MP4 file (two minutes: one fits in less than a megabyte): H.264 keeps state between
    // frames, so its prediction counts runs of frames.
    ASSERT_TRUE(AppendAVIToProject(nullptr, TestData("render_minute.avi").c_str()));
    gSettings.FitMB = 1;
    const size_t mp4 = RenderWith("", 0, "fitted.mp4").size();
    EXPECT_LE(mp4, 1000000u);
    EXPECT_GE(mp4, 800000u);
    // A size below what the lowest quality gives: the message, and the file at the lowest quality.
    RenderWith("MJPG", 0, "small.avi");
    const std::vector<std::string> texts = boxes->texts();
    EXPECT_EQ(std::count_if(texts.begin(), texts.end(),
                            [](const std::string& t) {
                                return t.rfind(
                                           "The project does not fit in 1.0 MB: at the lowest quality it "
                                           "takes about ",
                                           0) == 0;
                            }),
              1);
    EXPECT_EQ(CompressorMemory().quality, 0);
}

TEST_F(Pipeline, ThumbnailsShowTheFramesAsTheRenderComposesThem) {
    EditedProject();
    PrepareOverlays(nullptr, 160, 120);
    FrameComposer render;
    ASSERT_TRUE(render.Open(gProject.head, 160, 120));
    FrameThumbnailer thumbs;
    const std::vector<int32_t> frames = {3, 12, 35, 47, 52};  // plain, titled, both, delta and titled
    std::vector<std::vector<uint8_t>> edited, plain;
    ASSERT_TRUE(thumbs.Make(frames, 40, 30, true, edited) && thumbs.Make(frames, 40, 30, false, plain));
    for (size_t i = 0; i < frames.size(); i++) {
        SCOPED_TRACE(frames[i]);
        std::vector<uint8_t> composed(40 * 30 * 3), bare(40 * 30 * 3);
        ASSERT_TRUE(render.Decode(frames[i]));
        ShrinkFrame(render.pixels(), 160, 120, DibRowBytes(160, 24), bare.data(), 40, 30);
        ASSERT_TRUE(render.Compose(frames[i], OverlaysAt(frames[i])));
        ShrinkFrame(render.pixels(), 160, 120, DibRowBytes(160, 24), composed.data(), 40, 30);
        // Composed frames are scaled exactly so; plain ones come from a smaller decode, so roughly.
        int64_t difference = 0;
        for (size_t b = 0; b < bare.size(); b++) difference += std::abs(plain[i][b] - bare[b]);
        EXPECT_LE(difference / static_cast<int64_t>(bare.size()), 30);
        if (frames[i] == 3) continue;
        EXPECT_EQ(edited[i], composed);
        EXPECT_NE(plain[i], edited[i]);
    }
    // Cells larger than the clip: the picture is grown to fill them from what was decoded.
    std::vector<std::vector<uint8_t>> large;
    ASSERT_TRUE(thumbs.Make({3}, 320, 240, false, large));
    std::vector<uint8_t> grown(320 * 240 * 3);
    ASSERT_TRUE(render.Decode(3));
    ShrinkFrame(render.pixels(), 160, 120, DibRowBytes(160, 24), grown.data(), 320, 240);
    ASSERT_EQ(large[0].size(), grown.size());
    int64_t difference = 0;
    for (size_t b = 0; b < grown.size(); b++) difference += std::abs(large[0][b] - grown[b]);
    EXPECT_LE(difference / static_cast<int64_t>(grown.size()), 2);
}
