// Independent checks: the sample media ffmpeg made (tools/testmedia/media.sh) and the files the
// program's writer makes, read by the program's own code and by ffprobe, which must agree on every
// figure and every frame's bytes; ffmpeg decodes the written files without a word.
#include <gtest/gtest.h>

#include "media/avilist.h"
#include "media/fileio.h"
#include "media/riff.h"
#include "support/ffprobe.h"
#include "support/scripted.h"
#include "writer_clip.h"

using namespace media_test;

namespace {

// The list of the whole clip against ffprobe: sizes, rate, audio format (and, for ffmpeg's own files,
// the audio chunks), and each frame's stored bytes and key flag against the packet ffmpeg reads.
void ExpectListAgrees(const std::string& path, bool topDown, bool audioChunks = true) {
    auto v = ProbeStream(path, "v:0"), a = ProbeStream(path, "a:0");
    auto packets = ProbePackets(path, "v:0"), audioPackets = ProbePackets(path, "a:0");
    ASSERT_FALSE(packets.empty());
    AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(std::to_string(rec->width) + "x" + std::to_string(rec->height), v["width"] + "x" + v["height"]);
    EXPECT_EQ(rec->topDown, topDown);
    EXPECT_EQ(std::to_string(rec->frames), v["nb_frames"]);
    EXPECT_EQ(Ratio(rec->rate, rec->scale), v["r_frame_rate"]);
    EXPECT_EQ(std::to_string(rec->samplesPerSec), a.empty() ? "0" : a["sample_rate"]);
    if (!a.empty()) {
        EXPECT_EQ(std::to_string(rec->channels) + " " + std::to_string(rec->sampleBits),
                  a["channels"] + " " + a["bits_per_sample"]);
        if (audioChunks) {
            EXPECT_EQ(std::to_string(rec->audioLength), a["nb_frames"]);
        }
    }
    uint64_t ours = 0, theirs = 0;
    int32_t video = 0, audio = 0;
    for (int32_t i = 0; i < rec->nidx; i++)
        ChunkType(rec->idx[i].ckid) == kTypeWB ? (ours += rec->idx[i].dwChunkLength, audio++) : video++;
    for (const Packet& p : audioPackets) theirs += p.size;
    if (audioChunks) {
        EXPECT_EQ(ours, theirs);
        EXPECT_EQ(static_cast<size_t>(audio), audioPackets.size());
    }
    ASSERT_EQ(static_cast<size_t>(video), packets.size());
    for (int32_t n = 1; n <= video; n++) {
        SCOPED_TRACE(n);
        uint8_t* p = getFrameData(n, rec);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(static_cast<uint32_t>(lastFrameSize), packets[n - 1].size);
        ASSERT_EQ(Crc32(p, static_cast<size_t>(lastFrameSize)), packets[n - 1].crc);
        ASSERT_EQ(FramesSinceKeyFrame(n, rec) == 0, packets[n - 1].key);
    }
    EXPECT_EQ(getFrameData(video + 1, rec), nullptr);
    CloseAVIlist(rec);
}

}  // namespace

using FfmpegAgrees = ScriptedTest;

TEST_F(FfmpegAgrees, SampleClips) {
    const std::pair<const char*, bool> samples[] = {
        {"media_bgr24_s16_15.avi", true}, {"media_bgr24w30_u8_2997.avi", true},
        {"media_pal8_15.avi", true},      {"media_mjpeg_u8_2997.avi", false},
        {"media_msvideo1_15.avi", false}, {"media_cinepak_s16_15.avi", false},
        {"media_accept_mjpeg.avi", false}};
    for (auto [name, topDown] : samples) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(FileExists(TestData(name).c_str())) << "the test set-up did not make it";
        ExpectListAgrees(TestData(name), topDown);
    }
    // Frames 30 to 59 of the 15 fps acceptance clip: 2 seconds of 22050 Hz 16-bit stereo audio.
    const std::string path = TestData("media_accept_mjpeg.avi");
    auto packets = ProbePackets(path, "v:0");
    AVIlist* rec = OpenAVIforList(path.c_str(), 30, 59);
    int64_t audio = 0;
    for (int32_t i = 0; i < rec->nidx; i++)
        audio += ChunkType(rec->idx[i].ckid) == kTypeWB ? rec->idx[i].dwChunkLength : 0;
    EXPECT_EQ(audio, 176400);
    for (int n = 1; n <= 30; n++) {
        uint8_t* p = getFrameData(n, rec);
        ASSERT_EQ(Crc32(p, static_cast<size_t>(lastFrameSize)), packets[29 + n].crc);
    }
    EXPECT_EQ(getFrameData(31, rec), nullptr);
    CloseAVIlist(rec);
}

TEST_F(FfmpegAgrees, WrittenClips) {
    const std::tuple<const char*, ClipLayout, const char*, const char*> cases[] = {
        {"rgb.avi", {64, 48, 24, 20, 66666, 0, 0, 0, {}}, "bgr24", nullptr},
        {"rgb_s16.avi", {32, 24, 24, 12, 33367, 22050, 2, 16, {736, 736}}, "bgr24", "pcm_s16le"},
        {"grey_u8_odd.avi", {20, 10, 8, 15, 66666, 11025, 1, 8, {735, 1}}, "pal8", "pcm_u8"},
        {"grey.avi", {16, 16, 8, 10, 40000, 0, 0, 0, {}}, "pal8", nullptr},
    };
    for (const auto& [name, clip, pixFmt, audioCodec] : cases) {
        SCOPED_TRACE(name);
        std::string path = WriteClip(dir.file(name), clip);
        auto v = ProbeStream(path, "v:0"), a = ProbeStream(path, "a:0");
        EXPECT_EQ(v["codec_name"] + " " + v["codec_tag"] + " " + v["pix_fmt"],
                  std::string("rawvideo 0x0000 ") + pixFmt);
        EXPECT_EQ(v["width"] + "x" + v["height"] + " " + v["nb_frames"] + " " + v["r_frame_rate"],
                  std::to_string(clip.w) + "x" + std::to_string(clip.h) + " " + std::to_string(clip.frames) +
                      " " + Ratio(1000000, static_cast<uint64_t>(clip.usPerFrame)));
        EXPECT_EQ(a["codec_name"] + " " + a["sample_rate"] + " " + a["channels"],
                  audioCodec ? audioCodec + (" " + std::to_string(clip.samplesPerSec) + " " +
                                             std::to_string(clip.channels))
                             : "  ");
        int status = 0;
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + Quote(path) + " -f null - 2>&1", &status), "");
        EXPECT_EQ(status, 0);
        ExpectListAgrees(path, false, false);  // our list trims the sound to the frames' span
        // Every audio byte written, and no pad byte, reaches ffmpeg.
        int64_t written = 0, probed = 0;
        for (int32_t piece : clip.audioPieces) written += int64_t{piece} * clip.frames;
        for (const Packet& p : ProbePackets(path, "a:0")) probed += p.size;
        EXPECT_EQ(probed, written);
    }
}
