// The AVI list: the reduced index with its audio trimmed at both ends, frame and audio access on
// chains that change under them (checked against the list walk the frame table replaces), the
// skipped-frame tally, the read-speed report, and indexes that point outside the file.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "core/memory.h"
#include "media/avilist.h"
#include "media/fileio.h"
#include "media/riff.h"
#include "support/crafted.h"
#include "support/scripted.h"

using namespace crafted;

namespace {

// 15 fps, one "00dc" (a key frame every 5) and one "01wb" of audioChunk bytes per frame; 8-bit mono
// audio at 22050 Hz, so a frame's audio is 1470 bytes.
CraftedAvi Interleaved(size_t audioChunk, int frames = 30) {
    CraftedAvi a;
    a.compression = FourCC("MJPG");
    a.channels = 1, a.samplesPerSec = 22050, a.sampleBits = 8;
    for (int i = 0; i < frames; i++) {
        a.chunks.push_back({"00dc", static_cast<uint32_t>(i % 5 == 0 ? 0x10 : 0), Payload(100 + i, i)});
        a.chunks.push_back({"01wb", 0, Payload(audioChunk, 1000 + i)});
    }
    return a;
}

std::string Save(const TempDir& dir, const std::string& name, const std::string& bytes) {
    WriteWholeFile(dir.file(name), bytes);
    return dir.file(name);
}

std::string Bytes(const uint8_t* p, int32_t n) {
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

std::string Frame(int32_t n, AVIlist* head) {
    uint8_t* p = getFrameData(n, head);
    return Bytes(p, lastFrameSize);
}

// getFrameData and FramesSinceKeyFrame as a walk from the head would answer, for frames -1..upTo;
// the bytes come from the file by its name.
void ExpectSameAsWalk(AVIlist* head, int32_t upTo) {
    for (int32_t n = -1; n <= upTo; n++) {
        SCOPED_TRACE(n);
        const AVIlist *kept = nullptr, *at = nullptr;
        int32_t keptI = 0, count = 0, since = 0;
        for (const AVIlist* r = head; r && !at; r = r->next)
            for (int32_t i = 0; i < r->nidx && !at; i++) {
                const AVIINDEXENTRY& e = r->idx[i];
                if (ChunkType(e.ckid) == kTypeWB) continue;
                since = (e.dwFlags & 0x10) ? 0 : since + 1;
                if (e.dwChunkLength) kept = r, keptI = i;
                if (++count == n) at = r;
            }
        uint8_t* p = getFrameData(n, head);
        ASSERT_EQ(p != nullptr, at && kept);
        ASSERT_EQ(FramesSinceKeyFrame(n, head), at ? since : 0);
        if (!p) continue;
        const AVIINDEXENTRY& s = kept->idx[keptI];
        ASSERT_EQ(Bytes(p, lastFrameSize),
                  ReadWholeFile(kept->name).substr(s.dwChunkOffset, std::min(s.dwChunkLength, head->vsize)));
    }
}

// The video or audio entries of a record's index, and their bytes.
int32_t Count(const AVIlist* rec, bool audio, int64_t* bytes = nullptr) {
    int32_t n = 0;
    for (int32_t i = 0; i < rec->nidx; i++) {
        if ((ChunkType(rec->idx[i].ckid) == kTypeWB) != audio) continue;
        n++;
        if (bytes) *bytes += rec->idx[i].dwChunkLength;
    }
    return n;
}

}  // namespace

using ListOpening = ScriptedTest;

TEST_F(ListOpening, ReducedIndexKeepsTheRangeAndTrimsItsAudio) {
    CraftedAvi a = Interleaved(1000);
    std::string path = Save(dir, "a.avi", a.Build());
    AVIlist* rec = OpenAVIforList(path.c_str(), 10, 19);
    ASSERT_NE(rec, nullptr);
    // Frames 10-19 and their audio, bytes 14700 to 29400: chunk 14 loses its first 700 bytes, chunk
    // 29 keeps its first 400.
    int64_t audio = 0;
    EXPECT_EQ(Count(rec, false), 10);
    EXPECT_EQ(Count(rec, true, &audio), 16);
    EXPECT_EQ(audio, 14700);
    EXPECT_TRUE(rec->ndc == 30 && rec->nwb == 30 && rec->ndb == 0);
    // Offsets absolute, past the header; stream digits cleared.
    EXPECT_EQ((std::vector{rec->idx[0].dwChunkOffset, rec->idx[0].ckid & 0xFFFF, rec->idx[5].dwChunkOffset,
                           rec->idx[5].dwChunkLength, rec->idx[rec->nidx - 1].dwChunkLength}),
              (std::vector<uint32_t>{a.headerAt[20] + 8, 0, a.headerAt[29] + 8 + 700, 300, 400}));
    EXPECT_TRUE(rec->vsize == 119 && rec->asize == 1000);
    EXPECT_EQ(Frame(1, rec), Payload(110, 10));
    CloseAVIlist(rec);

    // Chunks ending exactly where the range's audio begins, or beginning where it ends, stay empty.
    path = Save(dir, "b.avi", Interleaved(1470).Build());
    rec = OpenAVIforList(path.c_str(), 10, 19);
    ASSERT_EQ(rec->nidx, 1 + 10 + 10 + 1);
    EXPECT_TRUE(ChunkType(rec->idx[0].ckid) == kTypeWB && ChunkType(rec->idx[21].ckid) == kTypeWB);
    EXPECT_EQ(
        (std::vector{rec->idx[0].dwChunkLength, rec->idx[20].dwChunkLength, rec->idx[21].dwChunkLength}),
        (std::vector<uint32_t>{0, 1470, 0}));
    CloseAVIlist(rec);
    rec = OpenAVIforList(path.c_str(), 5, -1);  // a negative last frame: to the end
    EXPECT_EQ(Count(rec, false), 25);
    CloseAVIlist(rec);
    EXPECT_EQ(OpenAVIforList(dir.file("missing.avi").c_str(), 0, -1), nullptr);
}

using FrameAccess = ScriptedTest;

TEST_F(FrameAccess, DropsKeyFramesAndChainsThatChange) {
    CraftedAvi a;
    a.chunks = {{"00dc", 0x10, Payload(50, 1)},
                {"00dc", 0, Payload(51, 2)},
                {"00dc", 0, ""},
                {"00dc", 0, Payload(53, 4)},
                {"00dc", 0x10, Payload(54, 5)}};
    AVIlist* rec = OpenAVIforList(Save(dir, "a.avi", a.Build()).c_str(), 0, -1);
    // A drop shows the last frame before it; frames -1..6 answer as a walk from the head does.
    EXPECT_EQ(Frame(3, rec) + Frame(4, rec), Payload(51, 2) + Payload(53, 4));
    EXPECT_EQ(std::make_pair(FramesSinceKeyFrame(4, rec), FramesSinceKeyFrame(5, rec)), std::make_pair(3, 0));
    ExpectSameAsWalk(rec, 6);
    CloseAVIlist(rec);
    // An empty first frame has nothing before it to show: no data, never the sound chunk first in
    // its record.
    CraftedAvi b;
    b.channels = 1, b.samplesPerSec = 8000, b.sampleBits = 8;
    b.chunks = {{"01wb", 0, Payload(20, 7)}, {"00db", 0x10, ""}, {"00db", 0x10, Payload(64, 8)}};
    rec = OpenAVIforList(Save(dir, "b.avi", b.Build()).c_str(), 0, -1);
    Frame(2, rec);  // a size left behind
    EXPECT_TRUE(getFrameData(1, rec) == nullptr && lastFrameSize == 0);
    CloseAVIlist(rec);
    // No idx1: the index is rebuilt from the movi list and the frames read as before.
    b.withIndex = false;
    rec = OpenAVIforList(Save(dir, "noidx.avi", b.Build()).c_str(), 0, -1);
    ASSERT_TRUE(rec && rec->nidx == 3 && rec->frames == 2);
    EXPECT_EQ(Frame(2, rec), Payload(64, 8));
    CloseAVIlist(rec);

    std::vector<AVIlist*> recs;
    for (int f = 0; f < 3; f++) {
        CraftedAvi c = Interleaved(300 + 100 * f, 8 + f);
        c.chunks[2 * (f + 1)].data.clear();        // a drop in each
        if (f == 2) c.chunks[2 * f].data.clear();  // and one at the start of a record
        recs.push_back(OpenAVIforList(Save(dir, "c" + std::to_string(f) + ".avi", c.Build()).c_str(), f, -1));
    }
    // The project links records itself and then sizes the head's buffers; the table follows each
    // change, including an unlink made without a call, a new order and a reopened record.
    auto link = [&](std::vector<AVIlist*> chain) {
        for (size_t i = 0; i < chain.size(); i++)
            chain[i]->next = i + 1 < chain.size() ? chain[i + 1] : nullptr;
        getMaxChunkSizes(chain[0]);
        ExpectSameAsWalk(chain[0], 30);
    };
    link({recs[0]});
    link({recs[0], recs[1]});
    link({recs[0], recs[1], recs[2]});
    recs[1]->next = nullptr;
    ExpectSameAsWalk(recs[0], 30);
    link({recs[2], recs[0]});
    recs[2]->next = nullptr;
    CloseAVIlist(recs[0]);
    AVIlist* again = OpenAVIforList(dir.file("c0.avi").c_str(), 3, 5);
    link({recs[2], again});
    link({recs[2], recs[1], again});
    CloseAVIlist(recs[2]);
}

TEST_F(FrameAccess, BuffersOfTheChainAndReleasing) {
    MemoryMonitorCounts start = MemoryMonitorStatus();
    std::string small = Save(dir, "s.avi", Interleaved(100, 4).Build());
    CraftedAvi big = Interleaved(3000, 4);
    big.chunks[2].data = Payload(5000, 77);
    AVIlist* head = OpenAVIforList(small.c_str(), 0, -1);
    head->next = OpenAVIforList(Save(dir, "l.avi", big.Build()).c_str(), 0, -1);
    // Before the head is resized a larger chunk is cut to its buffer, never written past it.
    EXPECT_EQ(Frame(6, head), Payload(5000, 77).substr(0, 103));
    getMaxChunkSizes(head);
    EXPECT_TRUE(head->vsize == 5000 && head->asize == 3000);
    EXPECT_EQ(Frame(6, head), Payload(5000, 77));
    CloseAVIlist(head);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, start.liveBlocks);
    // A record never linked is freed alone; its buffers are the caller's.
    AVIlist* lone = OpenAVIforList(small.c_str(), 0, -1);
    uint8_t *v = lone->vptr, *au = lone->aptr;
    FreeAVIrecord(lone);
    MyFree(v);
    MyFree(au);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, start.liveBlocks);
}

using AudioAccess = ScriptedTest;

TEST_F(AudioAccess, GetFindTallyAndReport) {
    CraftedAvi a = Interleaved(1000, 4);
    std::string path = Save(dir, "a.avi", a.Build());
    AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
    const auto at = static_cast<int32_t>(a.headerAt[3] + 8);
    EXPECT_EQ(Bytes(GetAudioData(rec, at + 10, 500), 500), Payload(1000, 1001).substr(10, 500));
    EXPECT_EQ(GetAudioData(rec, at, 1001), nullptr);  // more than the buffer holds
    // The chunk holding byte b, counting from chunk k.
    struct Find {
        int32_t k, b, ordinal, bytes;
        std::string data;
    } const finds[] = {{0, 0, 0, 1000, Payload(1000, 1000)},
                       {0, 2500, 2, 500, Payload(1000, 1002).substr(500)},
                       {3, -5, 3, 1000, Payload(1000, 1003)}};
    for (const Find& f : finds) {
        AudioSpan* s = FindAudioData(f.k, rec, f.b);
        ASSERT_NE(s, nullptr);
        EXPECT_TRUE(s->ordinal == f.ordinal && Bytes(s->data, s->bytes) == f.data) << f.k << " " << f.b;
    }
    EXPECT_TRUE(FindAudioData(4, rec, 0) == nullptr && FindAudioData(0, rec, 4000) == nullptr);
    // The skipped-frame tally: 5, 6, 9 skips 2; going back adds nothing; -1 restarts it.
    uint8_t buf[16];
    gSkippedFrames = -1;
    for (int32_t f : {5, 6, 9, 3, 0}) EXPECT_EQ(ReadChunkAt(f, rec, at, buf, 16), 16);
    EXPECT_TRUE(gSkippedFrames == 2 && gLastFrameRead == 3);
    gSkippedFrames = -1;
    ReadChunkAt(8, rec, at, buf, 16);
    EXPECT_EQ(gSkippedFrames, 0);
    CloseAVIlist(rec);

    // The report counts every byte of the list: audio 10 x 700 + 5 x 900, video 100..109 and
    // 100..104; a read too quick to measure is rated over 1 ms, printed as the format prints it.
    AVIlist* head = OpenAVIforList(Save(dir, "p.avi", Interleaved(700, 10).Build()).c_str(), 0, -1);
    head->next = OpenAVIforList(Save(dir, "q.avi", Interleaved(900, 5).Build()).c_str(), 0, -1);
    getMaxChunkSizes(head);
    PlayAVIlist01(head);
    ASSERT_EQ(boxes->shown.size(), 1u);
    std::smatch m;
    ASSERT_TRUE(
        std::regex_match(boxes->shown[0].text, m,
                         std::regex("total bytes read = 11500 audio, 1555 video, 13055 total, time=(\\d+)\n"
                                    "file read speed = (\\d+)\\.(\\d+) Mb/sec")))
        << boxes->shown[0].text;
    if (m[1] == "0") {
        EXPECT_EQ(m[2].str() + "." + m[3].str(), "13.6");
    }
    CloseAVIlist(head);
}

using ListBadInput = ScriptedTest;

TEST_F(ListBadInput, EntriesOutsideTheFileOverflowsAndRandomDamage) {
    std::string f = Interleaved(100, 4).Build();
    size_t idx = f.rfind("idx1") + 8;
    WriteLE32(&f[idx + 16 * 2 + 12], 0x7FFFFFF0);  // frame 2: size beyond the file
    WriteLE32(&f[idx + 16 * 4 + 8], 0xFFFFFF00);   // frame 3: offset beyond the file
    WriteLE32(&f[idx + 16 * 5 + 12], 0xFFFFFFFF);  // audio 3: size -1
    AVIlist* rec = OpenAVIforList(Save(dir, "a.avi", f).c_str(), 0, -1);
    EXPECT_EQ(Count(rec, false), 4);                                              // counted where they stand
    EXPECT_TRUE(rec->vsize == 103 && rec->asize == 100);                          // never sized by them
    EXPECT_EQ(Frame(2, rec) + Frame(3, rec), Payload(100, 0) + Payload(100, 0));  // kept empty
    EXPECT_EQ(Frame(4, rec), Payload(103, 3));
    CloseAVIlist(rec);

    // Channels, rate and bits whose products overflow 32 bits.
    f = Interleaved(100, 4).Build();
    size_t fmt = f.find("strf", f.find("auds")) + 8;
    WriteLE16(&f[fmt + 2], 0xFFFF);
    WriteLE32(&f[fmt + 4], 0x7FFFFFFF);
    WriteLE16(&f[fmt + 14], 0xFFFF);
    rec = OpenAVIforList(Save(dir, "huge.avi", f).c_str(), 1, 2);
    EXPECT_EQ(Count(rec, false), 2);
    PlayAVIlist01(rec);
    CloseAVIlist(rec);
    // A frame count of -2^31: the last frame lies before every frame, so none is kept.
    f = Interleaved(100, 4).Build();
    WriteLE32(&f[f.find("avih") + 8 + 16], 0x80000000u);
    rec = OpenAVIforList(Save(dir, "minframes.avi", f).c_str(), 0, -1);
    EXPECT_EQ(Count(rec, false), 0);
    CloseAVIlist(rec);

    // Random damage to headers and index: the readers agree with themselves on a second read, and
    // opening, every frame, every audio chunk and the report stay inside their buffers (see the
    // sanitizer build); no frame is larger than the buffer.
    CraftedAvi source = Interleaved(333, 12);
    source.afterHdrl = Chunk("CORE", std::string(160, 'c'));
    const std::string good = source.Build();
    std::mt19937 rng(99);
    for (int round = 0; round < 300; round++) {
        f = good;
        for (int i = 1 + static_cast<int>(rng() % 8); i > 0 && f.size() >= 16; i--) {
            size_t at = rng() % f.size();
            const uint32_t values[] = {0xFFFFFFFFu, 0x80000000u, 0, static_cast<uint32_t>(rng()),
                                       static_cast<uint32_t>(rng() % 5000)};
            if (rng() % 4 == 0)
                f.resize(at);
            else if (at + 4 <= f.size())
                WriteLE32(&f[at], values[rng() % 5]);
        }
        rec = OpenAVIforList(Save(dir, "fuzz.avi", f).c_str(), static_cast<int32_t>(rng() % 4),
                             rng() % 2 ? -1 : 8);
        if (!rec) continue;
        ASSERT_TRUE(rec->vsize <= f.size() && rec->asize <= f.size());
        for (int32_t n = 0; n <= 14 && rec->vptr; n++) {
            if (getFrameData(n, rec)) {
                ASSERT_LE(static_cast<uint32_t>(lastFrameSize), rec->vsize);
            }
            FramesSinceKeyFrame(n, rec);
        }
        for (int32_t k = 0; k < 14; k++) FindAudioData(k, rec, static_cast<int32_t>(rng() % 700) - 50);
        GetAudioData(rec, static_cast<int32_t>(rng() % f.size()), static_cast<int32_t>(rng() % 400));
        PlayAVIlist01(rec);
        CloseAVIlist(rec);
    }
}
