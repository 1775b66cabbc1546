// Adding clips made by ffmpeg and by the program's own writer to the project, refusing the ones
// that do not fit, and clearing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "media/aviwriter.h"
#include "project/project_support.h"

using ProjectFiles = ProjectTest;

namespace {

// An uncompressed 8x8 clip: chunks frames in the index, headerFrames in the headers.
std::string WriteClip(const TempDir& dir, const char* name, int32_t usPerFrame, int32_t chunks,
                      int32_t headerFrames, uint32_t headerSize = 40) {
    uint8_t format[68] = {};
    BITMAPINFOHEADER h{headerSize, 8, 8, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    std::memcpy(format, &h, sizeof h);
    int32_t file = MyOpenWAVI(dir.file(name).c_str(), 8, 8, 24, -chunks,
                              reinterpret_cast<BITMAPINFOHEADER*>(format), 0, usPerFrame, 0, 0, 0, 0);
    uint8_t pixels[8 * 8 * 3] = {};
    for (int32_t i = 0; i < chunks; i++)
        MyWriteChunk(file, pixels, sizeof pixels, FourCC("00db"), AVIIF_KEYFRAME);
    MyCloseAVI(file, headerFrames);
    return dir.file(name);
}

BITMAPINFOHEADER HeadFormat() {
    BITMAPINFOHEADER h;
    std::memcpy(&h, gProject.head->format, sizeof h);
    return h;
}

}  // namespace

TEST_F(ProjectFiles, AppendTakesClipsOfOneSizeAndRate) {
    const std::string a = MediaPath("proj_a.avi"), b = MediaPath("proj_b.avi"),
                      wide = MediaPath("proj_wide.avi");
    ASSERT_TRUE(AppendAVIToProject(nullptr, a.c_str()));
    EXPECT_EQ(DumpProject(), "files 1 10 15 66666 733 160 120 -1 -1\nF " + a + " 10\n");
    EXPECT_EQ(gProject.head->scale, 66666u);  // microseconds, at a rate of 1000000
    EXPECT_EQ(calls.repaints + calls.tooltipCloses, 2);
    ASSERT_TRUE(AppendAVIToProject(nullptr, b.c_str()));
    const std::string two = DumpProject();
    EXPECT_EQ(two, "files 2 16 15 66666 1133 160 120 -1 -1\nF " + a + " 10\nF " + b + " 6\n");
    EXPECT_EQ(gProject.head->vsize, std::max(gProject.head->vsize, gProject.head->next->vsize));
    EXPECT_EQ(std::string(gSettings.LastAVIfileName), b);
    {
        SCOPED_TRACE("a wider clip is refused with the mismatch message and changes nothing");
        const int32_t blocks = MemoryMonitorStatus().liveBlocks;
        EXPECT_EQ(AppendAVIToProjectOutcome(nullptr, wide.c_str()), kAppendRefused);
        EXPECT_EQ(boxes->texts(),
                  std::vector<std::string>{"File <" + wide +
                                           "> mismatches in rate, width, and/or height\n  rate 15 "
                                           "(15)\n  width 176 (160)\n  height 120 (120)"});
        for (std::string name : {MediaPath("none.avi"), "/" + std::string(200, 'n'), std::string()})
            EXPECT_EQ(AppendAVIToProjectOutcome(nullptr, name.c_str()), kAppendNotOpened);
        EXPECT_EQ(DumpProject(), two);
        EXPECT_EQ(std::string(gSettings.LastAVIfileName), b);
        EXPECT_EQ(calls.repaints, 2);
        EXPECT_EQ(MemoryMonitorStatus().liveBlocks, blocks);
        boxes->shown.clear();
    }
    SCOPED_TRACE("14.99 frames a second rounds to the project's 15 and is taken");
    ASSERT_TRUE(AppendAVIToProject(nullptr, MediaPath("proj_1499.avi").c_str()));
    EXPECT_EQ(gProject.totalFrames, 21);
    EXPECT_TRUE(boxes->shown.empty());

    SCOPED_TRACE("clearing closes every file and resets the project and the storyboard");
    AddRevision(kRevUnderlay, 2, 9, MakeUnderlay("pic.bmp", 2));
    gProject.selStart = 2;
    gProject.selEnd = 7;
    ClearProject();
    EXPECT_EQ(DumpProject(), "files 0 0 15 66666 0 160 120 -1 -1\n");
    EXPECT_EQ(calls.thumbnailReleases + calls.viewResets, 2);
    EXPECT_EQ(calls.undoEnabled, 0);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, baselineBlocks);
    ASSERT_TRUE(AppendAVIToProject(nullptr, wide.c_str()));  // an empty project takes any size
}

TEST_F(ProjectFiles, CraftedClipsAreRepairedOrRefused) {
    ASSERT_TRUE(AppendAVIToProject(nullptr, WriteClip(dir, "wide.avi", 100000, 3, 3, 68).c_str()));
    EXPECT_EQ(HeadFormat().biSize, 40u);  // a 68-byte header on frames that are not motion JPEG
    EXPECT_EQ(gProject.frameRate, 10);
    ClearProject();

    std::string noSize = WriteClip(dir, "nosize.avi", 100000, 3, 3);
    std::string bytes = ReadWholeFile(noSize);
    ASSERT_EQ(ReadLE32(bytes.data() + 200), 192u);  // the stored format's image size
    WriteLE32(bytes.data() + 200, 0);
    WriteWholeFile(noSize, bytes);
    ASSERT_TRUE(AppendAVIToProject(nullptr, noSize.c_str()));
    EXPECT_EQ(HeadFormat().biSizeImage, 192u);
    ClearProject();
    // Sides of 2^31 - 1 at 65535 bits: a size past 64 bits stays unknown.
    WriteLE32(bytes.data() + 184, INT32_MAX), WriteLE32(bytes.data() + 188, INT32_MAX);
    WriteLE16(bytes.data() + 194, 0xFFFF);
    WriteWholeFile(noSize, bytes);
    ASSERT_TRUE(AppendAVIToProject(nullptr, noSize.c_str()));
    EXPECT_EQ(HeadFormat().biSizeImage, 0u);
    ClearProject();

    ASSERT_TRUE(AppendAVIToProject(nullptr, WriteClip(dir, "claims.avi", 100000, 3, 5000000).c_str()));
    EXPECT_EQ(gProject.totalFrames, 3);  // what the index holds, not what the headers claim
    const std::string before = DumpProject();
    EXPECT_EQ(AppendAVIToProjectOutcome(nullptr, WriteClip(dir, "notime.avi", 0, 3, 3).c_str()),
              kAppendNotOpened);
    EXPECT_EQ(DumpProject(), before);
    ClearProject();

    SCOPED_TRACE("a frame every three seconds: rate 0, the frame's own period, no duration");
    ASSERT_TRUE(AppendAVIToProject(nullptr, WriteClip(dir, "slow1.avi", 3000000, 4, 4).c_str()));
    ASSERT_TRUE(AppendAVIToProject(nullptr, WriteClip(dir, "slow2.avi", 2900000, 2, 2).c_str()));
    EXPECT_EQ(DumpProject(), "files 2 6 0 3000000 0 8 8 -1 -1\nF " + dir.file("slow1.avi") + " 4\nF " +
                                 dir.file("slow2.avi") + " 2\n");
    EXPECT_TRUE(boxes->shown.empty());
}
