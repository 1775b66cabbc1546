// The audio plan over reduced indexes laid out by hand: which stored bytes each frame plays.
#include "render/audioplan.h"

#include <gtest/gtest.h>

#include <deque>

#include "render_support.h"

using render_test::FrameEnd;

namespace {

// One file of a list at 15 frames a second: `frames` video entries interleaved with sound entries
// of the given sizes, laid out from offset 10000 with 100 bytes between them.
struct FakeFile {
    AVIlist rec{};
    std::vector<int64_t> starts;  // stream byte (from 0) where each sound entry starts

    FakeFile(int32_t frames, const std::vector<uint32_t>& sound, int32_t channels = 1, int32_t bits = 8) {
        rec.samplesPerSec = sound.empty() ? 0 : 11025;
        rec.channels = channels, rec.sampleBits = bits, rec.rate = 1000000, rec.scale = 66666;
        rec.nidx = frames + static_cast<int32_t>(sound.size());
        rec.idx =
            static_cast<AVIINDEXENTRY*>(MyCalloc(static_cast<uint32_t>(rec.nidx), sizeof(AVIINDEXENTRY)));
        int64_t stream = 0;
        for (size_t i = 0, e = 0; e < static_cast<size_t>(rec.nidx); i++) {
            if (i < sound.size()) {
                starts.push_back(stream);
                rec.idx[e++] = {TwoCC('w', 'b') << 16, 0, static_cast<uint32_t>(10000 + stream + 100 * i),
                                sound[i]};
                stream += sound[i];
            }
            if (i < static_cast<size_t>(frames)) rec.idx[e++] = {TwoCC('d', 'b') << 16, 0x10, 0, 8};
        }
    }
    FakeFile(const FakeFile&) = delete;
    ~FakeFile() { MyFree(rec.idx); }

    // Frame n's pieces read stream bytes [from, to) of this file, in order, with no gap, and none
    // runs past the end of its sound entry.
    void ExpectCovers(const AudioList& plan, int32_t n, int64_t from, int64_t to) const {
        SCOPED_TRACE("frame " + std::to_string(n));
        for (const AudioPiece& p : plan.Pieces(n)) {
            const size_t entry = std::upper_bound(starts.begin(), starts.end(), from) - starts.begin() - 1;
            EXPECT_EQ(p.source, &rec);
            EXPECT_EQ(p.offset, 10000 + from + 100 * static_cast<int64_t>(entry));
            EXPECT_TRUE(entry + 1 == starts.size() || from + p.count <= starts[entry + 1]);
            from += p.count;
        }
        EXPECT_EQ(from, to);
    }
};

}  // namespace

TEST(AudioPlan, EachFrameReadsExactlyItsOwnSamples) {
    // 15 frames a second at 11025 samples a second: frame 1 plays samples 1-733, frame 2 734-1468.
    EXPECT_EQ(FrameAudioEnd(66666, 1000000, 11025, 1), 733);
    EXPECT_EQ(FrameAudioEnd(66666, 1000000, 11025, 2), 1468);
    EXPECT_EQ(FrameAudioEnd(66666, 0, 11025, 2), 1468) << "a rate of 0 counts as microseconds";
    EXPECT_EQ(FrameAudioEnd(1, 1000000, 11025, 5), 0) << "frames shorter than a sample never go back";
    // Frames across entries of 1000 bytes, frames of eight or nine 100-byte entries, 16-bit stereo;
    // then no sound, and sound of fewer than 8 bits a sample, which are not planned.
    std::deque<FakeFile> files;
    files.emplace_back(6, std::vector<uint32_t>(5, 1000));
    files.emplace_back(3, std::vector<uint32_t>(30, 100));
    files.emplace_back(3, std::vector<uint32_t>(5, 2000), 2, 16);
    FakeFile none(3, {}), fourBits(3, {1000}, 1, 4), extreme(3, {999}, 3, 8);
    // The head's sound stops in its third frame; a second file with the same sound; a third without
    // sound; a fourth with sound again, which ends short (the last file is not made up).
    FakeFile head(4, {1000, 700}), second(2, {3000}), silent(2, {}), last(3, {800});
    head.rec.next = &second.rec, second.rec.next = &silent.rec, silent.rec.next = &last.rec;
    FakeFile mono(2, {1000}), stereo(3, {8000, 8000}, 2, 16), low(3, {1000});
    stereo.rec.samplesPerSec = 22050, low.rec.samplesPerSec = 5512;
    mono.rec.next = &stereo.rec, stereo.rec.next = &low.rec;
    const int32_t blocks = MemoryMonitorStatus().liveBlocks;
    AudioList plan;
    for (const FakeFile& f : files) {
        ASSERT_TRUE(plan.Plan(const_cast<AVIlist*>(&f.rec)));
        EXPECT_EQ(plan.frames(), f.rec.nidx - static_cast<int32_t>(f.starts.size()));
        const int64_t sample = f.rec.channels * f.rec.sampleBits / 8;
        for (int32_t n = 1; n <= plan.frames(); n++)
            f.ExpectCovers(plan, n, sample * FrameEnd(n - 1), sample * FrameEnd(n));
        EXPECT_TRUE(plan.Pieces(0).empty() && plan.Pieces(plan.frames() + 1).empty());
    }
    EXPECT_FALSE(plan.Plan(&none.rec) || plan.Plan(&fourBits.rec) || plan.Plan(nullptr) || plan.frames());
    // A frame of 2^32 - 1 seconds at 2^31 - 1 samples a second of three bytes: its byte numbers pass
    // 64 bits and stop at the limit, so the first frame takes all the sound there is.
    extreme.rec.scale = UINT32_MAX, extreme.rec.rate = 1, extreme.rec.samplesPerSec = INT32_MAX;
    ASSERT_TRUE(plan.Plan(&extreme.rec));
    extreme.ExpectCovers(plan, 1, 0, 999);
    EXPECT_TRUE(plan.Pieces(2).empty() && plan.Pieces(3).empty());

    ASSERT_TRUE(plan.Plan(&head.rec));
    EXPECT_EQ(plan.frames(), 11);
    head.ExpectCovers(plan, 1, 0, FrameEnd(1));
    head.ExpectCovers(plan, 2, FrameEnd(1), FrameEnd(2));
    second.ExpectCovers(plan, 5, 0, FrameEnd(1));
    second.ExpectCovers(plan, 6, FrameEnd(1), FrameEnd(2));
    last.ExpectCovers(plan, 9, 0, FrameEnd(1));
    // Frame 3 has 1700 - 1468 bytes of sound, then silence up to its length; the silent frames are
    // silence of their own length; frame 10 has what is left.
    const auto pieces = plan.Pieces(3);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_TRUE(pieces[0].source == &head.rec && pieces[0].count == 1700 - FrameEnd(2) && !pieces[1].source);
    for (auto [n, k] : {std::pair{3, 3}, {4, 4}, {7, 1}, {8, 2}}) {
        EXPECT_EQ(plan.FrameBytes(n), FrameEnd(k) - FrameEnd(k - 1)) << n;
        EXPECT_EQ(plan.Pieces(n).back().source, nullptr) << n;
    }
    EXPECT_EQ(plan.FrameBytes(10), 800 - 733);
    EXPECT_TRUE(plan.Pieces(11).empty());

    // Sound of another format is converted: a 22050 Hz 16-bit stereo file plays its frames' whole
    // length, the converted samples from each frame's start on; the last file (5512 Hz) only up to
    // where its converted sound ends (its 1000 samples come to 2001).
    ASSERT_TRUE(plan.Plan(&mono.rec));
    for (auto [n, k] : {std::pair{3, 1}, {4, 2}, {5, 3}, {6, 1}, {7, 2}}) {
        ASSERT_EQ(plan.Pieces(n).size(), 1u) << n;
        const AudioPiece& p = plan.Pieces(n)[0];
        EXPECT_TRUE(p.convert && p.first == FrameEnd(k - 1) && p.count == FrameEnd(k) - FrameEnd(k - 1)) << n;
    }
    EXPECT_EQ(plan.FrameBytes(8), 2001 - FrameEnd(2));
    plan.Release();
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, blocks);
}
