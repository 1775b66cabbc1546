// The MP4 decoder that plays, against ffmpeg's own decode of files ffmpeg made.
#include "platform/mp4/mp4decoder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "core/wintypes.h"
#include "support/ffprobe.h"
#include "support/scripted.h"

using media_test::ProbeStream;
using media_test::Quote;
using media_test::Shell;

namespace {

constexpr int kW = 96, kH = 72;

// Mean difference of the bytes of our bottom-up picture and ffmpeg's top-down one.
double Difference(const uint8_t* ours, const std::string& theirs) {
    const size_t row = static_cast<size_t>(kW) * 3, stride = DibRowBytes(kW, 24);
    double sum = 0;
    for (size_t y = 0; y < kH; y++)
        for (size_t x = 0; x < row; x++)
            sum += std::abs(ours[(kH - 1 - y) * stride + x] - static_cast<uint8_t>(theirs[y * row + x]));
    return sum / (row * kH);
}

}  // namespace

TEST(Mp4Decoder, PicturesInShowingOrderAndTheWholeSound) {
    TempDir dir;
    // H.264 with B-frames and a key frame every 10, stereo AAC: ffmpeg's files as phones send them.
    const std::string file = dir.file("clip.mp4");
    Shell(
        "ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=96x72:rate=15:duration=3 -f lavfi -i "
        "sine=frequency=500:sample_rate=44100:duration=3 -ac 2 -c:v libx264 -g 10 -bf 2 -pix_fmt yuv420p "
        "-c:a aac -movflags +faststart " +
        Quote(file));
    const std::string frames =
        Shell("ffmpeg -nostdin -v error -i " + Quote(file) + " -f rawvideo -pix_fmt bgr24 -");
    const std::string pcm = Shell("ffmpeg -nostdin -v error -i " + Quote(file) + " -f s16le -");
    const size_t pictureBytes = static_cast<size_t>(kW) * kH * 3;
    const int32_t count = static_cast<int32_t>(frames.size() / pictureBytes);
    ASSERT_EQ(std::to_string(count), ProbeStream(file, "v:0")["nb_frames"]);
    auto theirs = [&](int32_t i) {
        return frames.substr(static_cast<size_t>(i) * pictureBytes, pictureBytes);
    };

    std::unique_ptr<Mp4Decoder> d = Mp4Decoder::Open(file.c_str());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->frames(), count);
    EXPECT_EQ(d->width(), kW);
    EXPECT_EQ(d->rate() / d->scale(), 15u);
    EXPECT_EQ(d->samplesPerSec(), 44100);
    EXPECT_EQ(d->channels(), 2);
    {
        SCOPED_TRACE("every picture in order, each decoded once; then jumps back and forth");
        for (int32_t i = 0; i < count; i++) {
            const uint8_t* p = d->Picture(i);
            ASSERT_NE(p, nullptr);
            EXPECT_LT(Difference(p, theirs(i)), 2.0) << "picture " << i;
            if (i + 1 < count) {
                EXPECT_GT(Difference(p, theirs(i + 1)), 4.0) << "picture " << i;
            }
        }
        EXPECT_EQ(d->picturesDecoded(), count);
        for (int32_t i : {37, 4, 5, 23, 22, 44, 0}) {
            const int64_t before = d->picturesDecoded();
            EXPECT_LT(Difference(d->Picture(i), theirs(i)), 2.0) << i;
            EXPECT_LE(d->picturesDecoded() - before, 10) << "from the key frame before " << i;
        }
        EXPECT_LT(Difference(d->Picture(999), theirs(count - 1)), 2.0);  // beyond the end: the last
    }
    {
        SCOPED_TRACE("the whole sound, and the sound from a sample on, as ffmpeg decodes it");
        // The largest difference of two 16-bit sounds, the second from sample `from` on.
        auto worst = [&pcm](const std::vector<uint8_t>& ours, int64_t from) {
            int most = 0;
            for (size_t i = 0, j = static_cast<size_t>(from) * 4; i + 1 < ours.size(); i += 2, j += 2)
                most = std::max(most, std::abs(static_cast<int16_t>(ours[i] | ours[i + 1] << 8) -
                                               static_cast<int16_t>((pcm[j] & 0xFF) | pcm[j + 1] << 8)));
            return most;
        };
        for (int64_t from : {int64_t{-1}, int64_t{44100 + 333}, int64_t{0}}) {
            if (from >= 0) d->SeekSound(from);
            std::vector<uint8_t> ours;
            while (d->ReadSound(ours)) {
            }
            const size_t start = static_cast<size_t>(std::max<int64_t>(from, 0)) * 4;
            ASSERT_EQ(ours.size(), pcm.size() - start) << from;
            // A fresh decoder and one flushed by a seek differ by a few steps in their first frame.
            EXPECT_LE(worst(ours, std::max<int64_t>(from, 0)), 8) << from;
        }
    }
    {
        SCOPED_TRACE("a file cut in half plays what is there; what is no MP4 file is refused");
        const std::string whole = ReadWholeFile(file), cut = dir.file("cut.mp4"), junk = dir.file("junk.mp4");
        WriteWholeFile(cut, whole.substr(0, whole.size() / 2));
        std::unique_ptr<Mp4Decoder> half = Mp4Decoder::Open(cut.c_str());
        ASSERT_NE(half, nullptr);
        EXPECT_TRUE(half->frames() > 0 && half->frames() < count) << half->frames();
        EXPECT_NE(half->Picture(count - 1), nullptr);
        std::vector<uint8_t> sound;
        while (half->ReadSound(sound)) {
        }
        EXPECT_LT(sound.size(), pcm.size());
        WriteWholeFile(junk, std::string("\0\0\0\x10"
                                         "ftypisom\0\0\0\0",
                                         16) +
                                 std::string(4000, '\x55'));
        for (const std::string& name : {junk, dir.file("missing.mp4"), dir.path()})
            EXPECT_EQ(Mp4Decoder::Open(name.c_str()), nullptr) << name;
    }
}
