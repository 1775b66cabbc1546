// Independent checks: the sample media that ffmpeg made (tools/testmedia/media.sh) read by the
// program's own code and by ffprobe, which must agree on every figure and every frame's bytes.
#include <gtest/gtest.h>

#include <numeric>

#include "media/avilist.h"
#include "media/fileinfo.h"
#include "media/fileio.h"
#include "media/riff.h"
#include "media_support.h"
#include "support/scripted.h"

using namespace media_test;

namespace {

struct Sample {
    const char* file;
    bool topDown;
};

const Sample kSamples[] = {
    {"media_bgr24_s16_15.avi", true},  {"media_bgr24w30_u8_2997.avi", true},
    {"media_pal8_15.avi", true},       {"media_mjpeg_u8_2997.avi", false},
    {"media_msvideo1_15.avi", false},  {"media_cinepak_s16_15.avi", false},
    {"media_accept_mjpeg.avi", false},
};

uint64_t ToU64(const std::string& s) {
    return s.empty() ? 0 : std::stoull(s);
}

}  // namespace

TEST(FfmpegSamples, ListAgreesWithFfprobe) {
    for (const Sample& s : kSamples) {
        SCOPED_TRACE(s.file);
        std::string path = TestData(s.file);
        ASSERT_TRUE(FileExists(path.c_str())) << "the test set-up did not make " << path;
        auto v = ProbeStream(path, "v:0");
        auto a = ProbeStream(path, "a:0");
        auto packets = ProbePackets(path, "v:0");
        auto audioPackets = ProbePackets(path, "a:0");
        ASSERT_FALSE(packets.empty());

        AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
        ASSERT_NE(rec, nullptr);
        EXPECT_EQ(std::to_string(rec->width), v["width"]);
        EXPECT_EQ(std::to_string(rec->height), v["height"]);
        EXPECT_EQ(rec->topDown, s.topDown);
        EXPECT_EQ(std::to_string(rec->frames), v["nb_frames"]);
        auto [num, den] = Reduced(rec->rate, rec->scale);
        EXPECT_EQ(std::to_string(num) + "/" + std::to_string(den), v["r_frame_rate"]);
        if (a.empty()) {
            EXPECT_EQ(rec->samplesPerSec, 0);
        } else {
            EXPECT_EQ(std::to_string(rec->samplesPerSec), a["sample_rate"]);
            EXPECT_EQ(std::to_string(rec->channels), a["channels"]);
            EXPECT_EQ(std::to_string(rec->sampleBits), a["bits_per_sample"]);
            // The audio entries kept for the whole clip are the packets ffmpeg reads.
            uint64_t ours = 0;
            int32_t count = 0;
            for (int32_t i = 0; i < rec->nidx; i++) {
                if (ChunkType(rec->idx[i].ckid) != kTypeWB) continue;
                ours += rec->idx[i].dwChunkLength;
                count++;
            }
            uint64_t theirs = 0;
            for (const Packet& p : audioPackets) theirs += p.size;
            EXPECT_EQ(ours, theirs);
            EXPECT_EQ(static_cast<size_t>(count), audioPackets.size());
            EXPECT_EQ(rec->nwb, count);
            EXPECT_EQ(static_cast<uint64_t>(rec->audioLength), ToU64(a["nb_frames"]));
        }
        // Every frame's stored bytes are the packet ffmpeg reads for it; its key frames are ours.
        int32_t video = 0;
        for (int32_t i = 0; i < rec->nidx; i++) video += ChunkType(rec->idx[i].ckid) != kTypeWB;
        ASSERT_EQ(static_cast<size_t>(video), packets.size());
        for (size_t n = 1; n <= packets.size(); n++) {
            uint8_t* p = getFrameData(static_cast<int32_t>(n), rec);
            ASSERT_NE(p, nullptr) << n;
            ASSERT_EQ(static_cast<uint32_t>(lastFrameSize), packets[n - 1].size) << n;
            ASSERT_EQ(Hex8(Crc32(p, static_cast<size_t>(lastFrameSize))), packets[n - 1].crc) << n;
            ASSERT_EQ(FramesSinceKeyFrame(static_cast<int32_t>(n), rec) == 0, packets[n - 1].key) << n;
        }
        EXPECT_EQ(getFrameData(static_cast<int32_t>(packets.size()) + 1, rec), nullptr);
        CloseAVIlist(rec);
    }
}

TEST(FfmpegSamples, RangeOfTheAcceptanceClip) {
    // Frames 30 to 59 of the 15 fps clip: 2 seconds of 22050 Hz 16-bit stereo audio, 176400 bytes.
    std::string path = TestData("media_accept_mjpeg.avi");
    auto packets = ProbePackets(path, "v:0");
    ASSERT_EQ(packets.size(), 150u);
    AVIlist* rec = OpenAVIforList(path.c_str(), 30, 59);
    ASSERT_NE(rec, nullptr);
    int64_t audio = 0;
    int32_t video = 0;
    for (int32_t i = 0; i < rec->nidx; i++) {
        if (ChunkType(rec->idx[i].ckid) == kTypeWB) {
            audio += rec->idx[i].dwChunkLength;
        } else {
            video++;
        }
    }
    EXPECT_EQ(video, 30);
    EXPECT_EQ(audio, 176400);
    for (int n = 1; n <= 30; n++) {
        uint8_t* p = getFrameData(n, rec);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(Hex8(Crc32(p, static_cast<size_t>(lastFrameSize))), packets[29 + n].crc);
    }
    CloseAVIlist(rec);
}

TEST(FfmpegSamples, WaveAndBmpHeaders) {
    for (const char* name : {"media_list_s16.wav", "media_plain_u8.wav"}) {
        SCOPED_TRACE(name);
        std::string path = TestData(name);
        auto a = ProbeStream(path, "a:0");
        ASSERT_EQ(ReadWaveInfo(path.c_str()), 1);
        EXPECT_EQ(std::to_string(AVIinfo.samplesPerSec), a["sample_rate"]);
        EXPECT_EQ(std::to_string(AVIinfo.channels), a["channels"]);
        EXPECT_EQ(std::to_string(AVIinfo.bitsPerSample), a["bits_per_sample"]);
        EXPECT_EQ(static_cast<uint64_t>(AVIinfo.audioLength),
                  ToU64(a["duration_ts"]) * AVIinfo.channels * AVIinfo.bitsPerSample / 8);
        EXPECT_EQ(IsWAVEFile(path.c_str()), 1);
    }
    // The two forms are really there: a LIST chunk before "data" in one, none in the other.
    EXPECT_NE(ReadWholeFile(TestData("media_list_s16.wav")).substr(36, 4), "data");
    EXPECT_EQ(ReadWholeFile(TestData("media_plain_u8.wav")).substr(36, 4), "data");

    for (auto [name, bits] : {std::pair{"media_bgr24.bmp", 24}, std::pair{"media_pal8.bmp", 8}}) {
        SCOPED_TRACE(name);
        std::string path = TestData(name);
        auto v = ProbeStream(path, "v:0");
        ASSERT_EQ(ReadBMPInfo(path.c_str()), 1);
        EXPECT_EQ(std::to_string(AVIinfo.width), v["width"]);
        EXPECT_EQ(std::to_string(AVIinfo.height), v["height"]);
        EXPECT_EQ(AVIinfo.bitCount, bits);
        std::string file = ReadWholeFile(path);
        EXPECT_EQ(gImageSize, static_cast<int32_t>(file.size() - ReadLE32(&file[10])));
    }
}

TEST(FfmpegSamples, AcceptanceReport) {
    std::string path = TestData("media_accept_mjpeg.avi");
    std::string text = FileInfoText(path.c_str(), nullptr, nullptr);
    EXPECT_NE(text.find("\n  Video: 320x240x24  (MJPG) 150 frames (0 drops)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  Video Rate: 15.00fps (15/1)\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\n  Audio: 22050 Samples/Sec 16-Bit Stereo"), std::string::npos) << text;
}
