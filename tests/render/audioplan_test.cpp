// The audio plan over reduced indexes laid out by hand: which stored bytes each frame plays.
#include "render/audioplan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"

namespace {

// One file of a list: `frames` video entries with its sound in entries of the given sizes, the
// sound entries laid out one after the other from offset 10000, each at 100 bytes past the last.
struct FakeFile {
    AVIlist rec{};
    std::vector<int64_t> starts;  // stream byte (from 0) where each sound entry starts
    std::vector<uint32_t> offsets;

    FakeFile(int32_t frames, const std::vector<uint32_t>& sound, int32_t rate = 11025, int32_t channels = 1,
             int32_t bits = 8) {
        rec.samplesPerSec = sound.empty() && rate == 11025 ? 0 : rate;
        rec.channels = channels;
        rec.sampleBits = bits;
        rec.rate = 1000000;
        rec.scale = 66666;
        rec.nidx = frames + static_cast<int32_t>(sound.size());
        rec.idx =
            static_cast<AVIINDEXENTRY*>(MyCalloc(static_cast<uint32_t>(rec.nidx), sizeof(AVIINDEXENTRY)));
        // Sound and pictures interleaved: one sound entry, then one picture, while both last.
        int32_t e = 0;
        uint32_t offset = 10000;
        int64_t stream = 0;
        for (size_t i = 0; e < rec.nidx; i++) {
            if (i < sound.size()) {
                rec.idx[e++] = AVIINDEXENTRY{TwoCC('w', 'b') << 16, 0, offset, sound[i]};
                starts.push_back(stream);
                offsets.push_back(offset);
                stream += sound[i];
                offset += sound[i] + 100;
            }
            if (static_cast<int32_t>(i) < frames)
                rec.idx[e++] = AVIINDEXENTRY{TwoCC('d', 'b') << 16, 0x10, 0, 8};
        }
    }
    ~FakeFile() { MyFree(rec.idx); }

    // The file offset of stream byte j (from 0).
    int64_t OffsetOf(int64_t j) const {
        for (size_t i = starts.size(); i-- > 0;)
            if (j >= starts[i]) return offsets[i] + (j - starts[i]);
        return -1;
    }
};

// end(i) of 15 frames a second at 11025 samples a second, as the plan defines it.
int64_t End(int64_t i) {
    return i == 0 ? 0 : static_cast<int64_t>(66666.0 * 11025 * static_cast<double>(i) / 1000000) - 1;
}

// Frame n's pieces must read stream bytes [from, to) of file f, in order and with no gap.
void ExpectCovers(const AudioList& plan, int32_t n, const FakeFile& f, int64_t from, int64_t to) {
    SCOPED_TRACE("frame " + std::to_string(n));
    int64_t j = from;
    for (const AudioPiece& p : plan.Pieces(n)) {
        EXPECT_EQ(p.source, &f.rec);
        EXPECT_EQ(p.offset, f.OffsetOf(j));
        // A piece never runs past the end of its sound entry.
        EXPECT_EQ(f.OffsetOf(j + p.count - 1), p.offset + p.count - 1);
        j += p.count;
    }
    EXPECT_EQ(j, to);
}

}  // namespace

TEST(AudioPlan, EachFrameReadsExactlyItsOwnSamples) {
    const int32_t blocks = MemoryMonitorStatus().liveBlocks;

    // 15 frames a second at 11025 samples a second: frame 1 plays samples 1-733, frame 2 734-1468.
    EXPECT_EQ(FrameAudioEnd(66666, 1000000, 11025, 1), 733);
    EXPECT_EQ(FrameAudioEnd(66666, 1000000, 11025, 2), 1468);
    EXPECT_EQ(FrameAudioEnd(66666, 1000000, 11025, 0), 0);
    EXPECT_EQ(FrameAudioEnd(66666, 0, 11025, 2), 1468) << "a rate of 0 counts as microseconds";
    EXPECT_EQ(FrameAudioEnd(1, 1000000, 11025, 5), 0) << "frames shorter than a sample never go back";

    {
        // Entries of 1000 bytes: frames cross entry boundaries.
        FakeFile f(6, {1000, 1000, 1000, 1000, 1000});
        AudioList plan;
        ASSERT_TRUE(plan.Plan(&f.rec));
        EXPECT_EQ(plan.frames(), 6);
        for (int32_t n = 1; n <= 6; n++) ExpectCovers(plan, n, f, End(n - 1), End(n));
        EXPECT_EQ(plan.Pieces(2).size(), 2u) << "frame 2 straddles the first two entries";
        EXPECT_TRUE(plan.Pieces(0).empty());
        EXPECT_TRUE(plan.Pieces(7).empty());
    }
    {
        // Entries of 100 bytes: a frame is made of eight or nine pieces, none lost.
        FakeFile f(3, std::vector<uint32_t>(30, 100));
        AudioList plan;
        ASSERT_TRUE(plan.Plan(&f.rec));
        for (int32_t n = 1; n <= 3; n++) ExpectCovers(plan, n, f, End(n - 1), End(n));
        EXPECT_GE(plan.Pieces(2).size(), 8u);
    }
    {
        // 16-bit stereo: four bytes a sample.
        FakeFile f(3, {2000, 2000, 2000, 2000, 2000}, 11025, 2, 16);
        AudioList plan;
        ASSERT_TRUE(plan.Plan(&f.rec));
        for (int32_t n = 1; n <= 3; n++) ExpectCovers(plan, n, f, 4 * End(n - 1), 4 * End(n));
    }
    {
        // No sound, or sound of fewer than 8 bits a sample: nothing is planned.
        FakeFile none(3, {});
        FakeFile fourBits(3, {1000}, 11025, 1, 4);
        AudioList plan;
        EXPECT_FALSE(plan.Plan(&none.rec));
        EXPECT_FALSE(plan.Plan(&fourBits.rec));
        EXPECT_FALSE(plan.Plan(nullptr));
        EXPECT_EQ(plan.frames(), 0);
    }
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, blocks);
}

TEST(AudioPlan, LaterFilesPlayTheirOwnSoundFromTheirFirstFrame) {
    // The head's sound stops in its third frame; a second file with the same sound; a third without
    // sound; a fourth with sound again, which ends short (the last file is not made up).
    FakeFile head(4, {1000, 700});
    FakeFile second(2, {3000});
    FakeFile silent(2, {});
    FakeFile last(3, {800});
    head.rec.next = &second.rec;
    second.rec.next = &silent.rec;
    silent.rec.next = &last.rec;
    const int32_t blocks = MemoryMonitorStatus().liveBlocks;
    AudioList plan;
    ASSERT_TRUE(plan.Plan(&head.rec));
    EXPECT_EQ(plan.frames(), 11);

    ExpectCovers(plan, 1, head, End(0), End(1));
    ExpectCovers(plan, 2, head, End(1), End(2));
    // Frame 3 has 1700 - 1468 bytes of sound, then silence up to its length; frame 4 is all silence.
    auto pieces = plan.Pieces(3);
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].source, &head.rec);
    EXPECT_EQ(pieces[0].count, 1700 - End(2));
    EXPECT_EQ(pieces[1].source, nullptr);
    EXPECT_EQ(plan.FrameBytes(3), End(3) - End(2));
    EXPECT_EQ(plan.FrameBytes(4), End(4) - End(3));
    EXPECT_EQ(plan.Pieces(4)[0].source, nullptr);

    ExpectCovers(plan, 5, second, End(0), End(1));
    ExpectCovers(plan, 6, second, End(1), End(2));
    for (int32_t n : {7, 8}) {
        ASSERT_EQ(plan.Pieces(n).size(), 1u);
        EXPECT_EQ(plan.Pieces(n)[0].source, nullptr);
        EXPECT_EQ(plan.FrameBytes(n), End(n - 6) - End(n - 7));
    }
    ExpectCovers(plan, 9, last, End(0), 800 < End(1) ? 800 : End(1));
    EXPECT_EQ(plan.FrameBytes(9), 733);
    EXPECT_EQ(plan.FrameBytes(10), 800 - 733);
    EXPECT_TRUE(plan.Pieces(11).empty());
    plan.Release();
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, blocks);
}
