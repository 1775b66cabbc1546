// The AVI list: the reduced index with its audio trimming, the chain's buffers, frame and audio
// access, the skipped-frame tally and the read-speed report. Frame access is checked against the
// list walk it replaces, on chains that change under it.
#include <gtest/gtest.h>

#include <random>
#include <regex>

#include "core/memory.h"
#include "media/avilist.h"
#include "media/fileio.h"
#include "media_support.h"
#include "support/scripted.h"

using namespace media_test;

namespace {

std::string Save(const TempDir& dir, const std::string& name, const std::string& bytes) {
    std::string path = dir.file(name);
    WriteWholeFile(path, bytes);
    return path;
}

// 30 frames at 15 fps, one "00dc" and one "01wb" of audioChunk bytes per frame; 8-bit mono audio at
// 22050 Hz, so a frame's audio is 1470 bytes.
CraftedAvi Interleaved(size_t audioChunk, int frames = 30) {
    CraftedAvi a;
    a.compression = FourCC("MJPG");
    a.channels = 1;
    a.samplesPerSec = 22050;
    a.sampleBits = 8;
    for (int i = 0; i < frames; i++) {
        a.chunks.push_back({"00dc", static_cast<uint32_t>(i % 5 == 0 ? 0x10 : 0), Payload(100 + i, i)});
        a.chunks.push_back({"01wb", 0, Payload(audioChunk, 1000 + i)});
    }
    return a;
}

std::string Bytes(const uint8_t* p, int32_t n) {
    return p ? std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n)) : std::string();
}

// The bytes getFrameData delivers for frame n ("" for none).
std::string Frame(int32_t n, AVIlist* head) {
    uint8_t* p = getFrameData(n, head);
    return Bytes(p, lastFrameSize);
}

// The list walk of getFrameData and FramesSinceKeyFrame as first written: from the head, counting
// the non-audio entries. The bytes come from the file by its name, not through the record.
struct Walked {
    bool found = false;
    std::string bytes;
    int32_t since = 0;
};
Walked WalkTo(int32_t n, AVIlist* head, uint32_t capacity) {
    Walked w;
    const AVIlist* kept = nullptr;
    int32_t keptI = 0;
    int32_t count = 0;
    int32_t since = 0;
    for (AVIlist* r = head; r; r = r->next) {
        for (int32_t i = 0; i < r->nidx; i++) {
            const AVIINDEXENTRY& e = r->idx[i];
            if (ChunkType(e.ckid) == kTypeWB) continue;
            count++;
            since = (e.dwFlags & 0x10) ? 0 : since + 1;
            if (e.dwChunkLength) {
                kept = r;
                keptI = i;
            }
            if (count == n) {
                const AVIlist* src = kept ? kept : r;
                const AVIINDEXENTRY& s = src->idx[kept ? keptI : 0];
                std::string file = ReadWholeFile(src->name);
                w.found = true;
                w.bytes = file.substr(s.dwChunkOffset, std::min(s.dwChunkLength, capacity));
                w.since = since;
                return w;
            }
        }
    }
    return w;
}

void ExpectSameAsWalk(AVIlist* head, int32_t upTo) {
    for (int32_t n = -1; n <= upTo; n++) {
        SCOPED_TRACE(n);
        Walked w = WalkTo(n, head, head->vsize);
        uint8_t* p = getFrameData(n, head);
        ASSERT_EQ(p != nullptr, w.found);
        if (p) {
            ASSERT_EQ(lastFrameSize, static_cast<int32_t>(w.bytes.size()));
            ASSERT_EQ(Bytes(p, lastFrameSize), w.bytes);
        }
        ASSERT_EQ(FramesSinceKeyFrame(n, head), w.found ? w.since : 0);
    }
}

int32_t VideoEntries(const AVIlist* rec) {
    int32_t n = 0;
    for (int32_t i = 0; i < rec->nidx; i++) n += ChunkType(rec->idx[i].ckid) != kTypeWB;
    return n;
}

}  // namespace

TEST(OpenAVIforList, ReducedIndexKeepsTheRangeAndTrimsItsAudio) {
    TempDir dir;
    CraftedAvi a = Interleaved(1000);
    std::string path = Save(dir, "a.avi", a.Build());
    AVIlist* rec = OpenAVIforList(path.c_str(), 10, 19);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->next, nullptr);
    EXPECT_STREQ(rec->name, path.c_str());
    EXPECT_EQ(rec->width, 320);
    EXPECT_EQ(rec->height, 240);
    EXPECT_EQ(rec->bits, 24);
    EXPECT_EQ(rec->frames, 30);
    EXPECT_EQ(rec->rate, 15u);
    EXPECT_EQ(rec->scale, 1u);
    EXPECT_EQ(rec->compression, FourCC("MJPG"));
    EXPECT_EQ(rec->samplesPerSec, 22050);
    EXPECT_EQ(rec->channels, 1);
    EXPECT_EQ(rec->sampleBits, 8);
    EXPECT_EQ(rec->ndc, 30);
    EXPECT_EQ(rec->ndb, 0);
    EXPECT_EQ(rec->nwb, 30);
    EXPECT_EQ(ReadLE32(rec->format), 40u);
    // Frames 10-19 and their audio, bytes 14700 to 29400: chunk 14 loses its first 700 bytes,
    // chunk 29 keeps its first 400.
    ASSERT_EQ(rec->nidx, 10 + 16);
    EXPECT_EQ(VideoEntries(rec), 10);
    int64_t audio = 0;
    for (int32_t i = 0; i < rec->nidx; i++) {
        const AVIINDEXENTRY& e = rec->idx[i];
        EXPECT_EQ(e.ckid & 0xFFFF, 0u);  // stream digits cleared
        if (ChunkType(e.ckid) == kTypeWB) audio += e.dwChunkLength;
    }
    EXPECT_EQ(audio, 14700);
    // In file order: frames 10 to 14, then the first audio kept.
    const AVIINDEXENTRY& firstAudio = rec->idx[5];
    EXPECT_EQ(ChunkType(firstAudio.ckid), kTypeWB);
    EXPECT_EQ(firstAudio.dwChunkOffset, a.headerAt[2 * 14 + 1] + 8 + 700);
    EXPECT_EQ(firstAudio.dwChunkLength, 300u);
    EXPECT_EQ(rec->idx[0].dwChunkOffset, a.headerAt[2 * 10] + 8);  // absolute, past the header
    EXPECT_EQ(rec->idx[rec->nidx - 1].dwChunkLength, 400u);
    EXPECT_EQ(rec->vsize, 119u);
    EXPECT_EQ(rec->asize, 1000u);
    // Frame 1 of the list is frame 10 of the file.
    uint8_t* p = getFrameData(1, rec);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Bytes(p, lastFrameSize), Payload(110, 10));
    CloseAVIlist(rec);

    // A negative last frame keeps every frame from first on.
    rec = OpenAVIforList(path.c_str(), 5, -1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(VideoEntries(rec), 25);
    CloseAVIlist(rec);

    EXPECT_EQ(OpenAVIforList(dir.file("missing.avi").c_str(), 0, -1), nullptr);
}

TEST(OpenAVIforList, AudioEndingAtTheRangeStartIsKeptEmpty) {
    TempDir dir;
    std::string path = Save(dir, "a.avi", Interleaved(1470).Build());
    AVIlist* rec = OpenAVIforList(path.c_str(), 10, 19);
    ASSERT_NE(rec, nullptr);
    // Chunk 9 ends at byte 14700, exactly where frame 10's audio begins: kept, with size 0. So is
    // chunk 20, which begins exactly where frame 19's audio ends.
    EXPECT_EQ(ChunkType(rec->idx[0].ckid), kTypeWB);
    EXPECT_EQ(rec->idx[0].dwChunkLength, 0u);
    ASSERT_EQ(rec->nidx, 1 + 10 + 10 + 1);
    EXPECT_EQ(ChunkType(rec->idx[21].ckid), kTypeWB);
    EXPECT_EQ(rec->idx[21].dwChunkLength, 0u);
    EXPECT_EQ(rec->idx[20].dwChunkLength, 1470u);
    CloseAVIlist(rec);
}

TEST(OpenAVIforList, IndexFormsAndAllocations) {
    TempDir dir;
    CraftedAvi a = Interleaved(500, 6);
    // Nothing dropped: the index stays in the array it was loaded into (record, index and the two
    // buffers are the only blocks).
    std::string path = Save(dir, "all.avi", a.Build());
    int32_t before = MemoryMonitorStatus().allocations;
    AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(MemoryMonitorStatus().allocations - before, 4);
    EXPECT_EQ(rec->nidx, 12);
    CloseAVIlist(rec);
    before = MemoryMonitorStatus().allocations;
    rec = OpenAVIforList(path.c_str(), 2, 3);
    EXPECT_EQ(MemoryMonitorStatus().allocations - before, 5);  // and the exact array
    CloseAVIlist(rec);

    // Absolute offsets in the file are recognised as such.
    a.absoluteOffsets = true;
    path = Save(dir, "abs.avi", a.Build());
    rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->idx[0].dwChunkOffset, a.headerAt[0] + 8);
    EXPECT_EQ(Frame(3, rec), Payload(102, 2));
    CloseAVIlist(rec);

    // "41" entries are video; rec list and index entries of other kinds are dropped; "db" counts apart.
    CraftedAvi b;
    b.chunks = {{"0041", 0x10, Payload(10, 1)},
                {"00db", 0, Payload(11, 2)},
                {"ix00", 0, Payload(12, 3)},
                {"00dc", 0, Payload(13, 4)}};
    path = Save(dir, "kinds.avi", b.Build());
    rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    ASSERT_EQ(rec->nidx, 3);
    EXPECT_EQ(ChunkType(rec->idx[0].ckid), kTypeIV);
    EXPECT_EQ(rec->ndb, 1);
    EXPECT_EQ(rec->ndc, 2);
    EXPECT_EQ(Frame(3, rec), Payload(13, 4));
    CloseAVIlist(rec);

    // No idx1: the record opens without an index and its frames cannot be read.
    b.withIndex = false;
    path = Save(dir, "noidx.avi", b.Build());
    rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->idx, nullptr);
    EXPECT_EQ(rec->nidx, 0);
    {
        ScopedBoxes boxes;
        EXPECT_EQ(getFrameData(1, rec), nullptr);
        EXPECT_TRUE(boxes->saw("getFrameData: no video buffer available"));
    }
    CloseAVIlist(rec);
}

TEST(FrameAccess, DroppedFramesKeyFramesAndTheEnd) {
    TempDir dir;
    CraftedAvi a;
    a.compression = FourCC("MJPG");
    a.chunks = {{"00dc", 0x10, Payload(50, 1)},
                {"00dc", 0, Payload(51, 2)},
                {"00dc", 0, ""},
                {"00dc", 0, Payload(53, 4)},
                {"00dc", 0x10, Payload(54, 5)}};
    std::string path = Save(dir, "a.avi", a.Build());
    AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    // A dropped frame shows the last non-empty frame before it.
    EXPECT_EQ(Frame(3, rec), Payload(51, 2));
    EXPECT_EQ(Frame(4, rec), Payload(53, 4));
    EXPECT_EQ(getFrameData(6, rec), nullptr);
    EXPECT_EQ(getFrameData(0, rec), nullptr);
    EXPECT_EQ(FramesSinceKeyFrame(1, rec), 0);
    EXPECT_EQ(FramesSinceKeyFrame(4, rec), 3);
    EXPECT_EQ(FramesSinceKeyFrame(5, rec), 0);
    EXPECT_EQ(FramesSinceKeyFrame(6, rec), 0);
    CloseAVIlist(rec);

    // A first frame that is empty reads the first entry of its record, whatever it is.
    CraftedAvi b;
    b.channels = 1;
    b.samplesPerSec = 8000;
    b.sampleBits = 8;
    b.chunks = {{"01wb", 0, Payload(20, 7)}, {"00db", 0x10, ""}, {"00db", 0x10, Payload(64, 8)}};
    path = Save(dir, "b.avi", b.Build());
    rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(Frame(1, rec), Payload(20, 7));
    CloseAVIlist(rec);
}

TEST(FrameAccess, TableFollowsTheChainAsTheWalkWould) {
    TempDir dir;
    std::vector<AVIlist*> recs;
    for (int f = 0; f < 3; f++) {
        CraftedAvi a = Interleaved(300 + 100 * f, 8 + f);
        a.chunks[2 * (f + 1)].data.clear();        // a dropped frame in each
        if (f == 2) a.chunks[2 * f].data.clear();  // and one at the start of a record
        std::string path = Save(dir, "c" + std::to_string(f) + ".avi", a.Build());
        recs.push_back(OpenAVIforList(path.c_str(), f, -1));
        ASSERT_NE(recs.back(), nullptr);
    }
    AVIlist* head = recs[0];
    ExpectSameAsWalk(head, 12);
    // The project links records itself and then sizes the head's buffers.
    head->next = recs[1];
    getMaxChunkSizes(head);
    ExpectSameAsWalk(head, 20);
    recs[1]->next = recs[2];
    getMaxChunkSizes(head);
    ExpectSameAsWalk(head, 30);
    // Unlinked again (without a call here): the table notices the shorter chain.
    recs[1]->next = nullptr;
    ExpectSameAsWalk(head, 30);
    // A different order, and a record reopened at the same place in the chain.
    recs[2]->next = recs[0];
    recs[0]->next = nullptr;
    getMaxChunkSizes(recs[2]);
    ExpectSameAsWalk(recs[2], 30);
    recs[2]->next = nullptr;
    CloseAVIlist(recs[0]);
    AVIlist* again = OpenAVIforList((dir.file("c0.avi")).c_str(), 3, 5);
    recs[2]->next = again;
    getMaxChunkSizes(recs[2]);
    ExpectSameAsWalk(recs[2], 30);
    recs[2]->next = recs[1];
    recs[1]->next = again;
    getMaxChunkSizes(recs[2]);
    ExpectSameAsWalk(recs[2], 30);
    CloseAVIlist(recs[2]);
}

TEST(FrameAccess, BuffersOfTheChainAndReleasing) {
    TempDir dir;
    MemoryMonitorCounts start = MemoryMonitorStatus();
    std::string small = Save(dir, "s.avi", Interleaved(100, 4).Build());
    CraftedAvi big = Interleaved(3000, 4);
    big.chunks[2].data = Payload(5000, 77);
    std::string large = Save(dir, "l.avi", big.Build());
    AVIlist* head = OpenAVIforList(small.c_str(), 0, -1);
    AVIlist* tail = OpenAVIforList(large.c_str(), 0, -1);
    ASSERT_TRUE(head && tail);
    EXPECT_EQ(head->vsize, 103u);
    head->next = tail;
    // Before the head is resized the larger chunk is cut to its buffer, never written past it.
    uint8_t* p = getFrameData(6, head);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(lastFrameSize, 103);
    EXPECT_EQ(Bytes(p, 103), Payload(5000, 77).substr(0, 103));
    getMaxChunkSizes(head);
    EXPECT_EQ(head->vsize, 5000u);
    EXPECT_EQ(head->asize, 3000u);
    EXPECT_EQ(Frame(6, head), Payload(5000, 77));
    CloseAVIlist(head);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, start.liveBlocks);

    // A record never linked is freed alone; its buffers are the caller's to release.
    AVIlist* lone = OpenAVIforList(small.c_str(), 0, -1);
    uint8_t* v = lone->vptr;
    uint8_t* au = lone->aptr;
    FreeAVIrecord(lone);
    MyFree(v);
    MyFree(au);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, start.liveBlocks);
}

TEST(AudioAccess, GetFindAndTheTally) {
    TempDir dir;
    CraftedAvi a = Interleaved(1000, 4);
    std::string path = Save(dir, "a.avi", a.Build());
    AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    // GetAudioData reads any bytes of the file into the audio buffer.
    uint32_t at = a.headerAt[3] + 8;
    uint8_t* p = GetAudioData(rec, static_cast<int32_t>(at + 10), 500);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(Bytes(p, 500), Payload(1000, 1001).substr(10, 500));
    EXPECT_EQ(GetAudioData(rec, static_cast<int32_t>(at), 1001), nullptr);  // more than the buffer holds
    const int32_t fileSize = static_cast<int32_t>(ReadWholeFile(path).size());
    EXPECT_EQ(GetAudioData(rec, fileSize - 10, 100), nullptr);  // a short read

    // FindAudioData: the chunk holding byte b, counting from chunk k.
    AudioSpan* s = FindAudioData(0, rec, 0);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->ordinal, 0);
    EXPECT_EQ(s->bytes, 1000);
    EXPECT_EQ(Bytes(s->data, s->bytes), Payload(1000, 1000));
    s = FindAudioData(0, rec, 2500);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->ordinal, 2);
    EXPECT_EQ(s->bytes, 500);
    EXPECT_EQ(Bytes(s->data, s->bytes), Payload(1000, 1002).substr(500));
    s = FindAudioData(3, rec, -5);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->ordinal, 3);
    EXPECT_EQ(s->bytes, 1000);
    EXPECT_EQ(FindAudioData(4, rec, 0), nullptr);
    EXPECT_EQ(FindAudioData(0, rec, 4000), nullptr);

    // The skipped-frame tally: 5, 6, 9 skips 2; going back to 3 adds nothing; -1 restarts it.
    uint8_t buf[16];
    gSkippedFrames = -1;
    ReadChunkAt(5, rec, static_cast<int32_t>(at), buf, 16);
    ReadChunkAt(6, rec, static_cast<int32_t>(at), buf, 16);
    EXPECT_EQ(ReadChunkAt(9, rec, static_cast<int32_t>(at), buf, 16), 16);
    EXPECT_EQ(gSkippedFrames, 2);
    ReadChunkAt(3, rec, static_cast<int32_t>(at), buf, 16);
    ReadChunkAt(0, rec, static_cast<int32_t>(at), buf, 16);
    EXPECT_EQ(gSkippedFrames, 2);
    EXPECT_EQ(gLastFrameRead, 3);
    gSkippedFrames = -1;
    ReadChunkAt(8, rec, static_cast<int32_t>(at), buf, 16);
    EXPECT_EQ(gSkippedFrames, 0);
    CloseAVIlist(rec);

    // Without audio there is nothing to get.
    CraftedAvi v;
    v.chunks = {{"00db", 0x10, Payload(10, 1)}};
    path = Save(dir, "v.avi", v.Build());
    rec = OpenAVIforList(path.c_str(), 0, -1);
    EXPECT_EQ(GetAudioData(rec, 0, 4), nullptr);
    EXPECT_EQ(FindAudioData(0, rec, 0), nullptr);
    CloseAVIlist(rec);
}

TEST(PlayAVIlist01, ReportsEveryByteOfTheList) {
    TempDir dir;
    std::string p1 = Save(dir, "a.avi", Interleaved(700, 10).Build());
    std::string p2 = Save(dir, "b.avi", Interleaved(900, 5).Build());
    AVIlist* head = OpenAVIforList(p1.c_str(), 0, -1);
    head->next = OpenAVIforList(p2.c_str(), 0, -1);
    getMaxChunkSizes(head);
    ScopedBoxes boxes;
    PlayAVIlist01(head);
    ASSERT_EQ(boxes->shown.size(), 1u);
    // Audio 10 x 700 + 5 x 900; video 100..109 and 100..104.
    std::regex form(
        "total bytes read = 11500 audio, 1555 video, 13055 total, time=(\\d+)\nfile read speed = "
        "(\\d+)\\.(\\d+) Mb/sec");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(boxes->shown[0].text, m, form)) << boxes->shown[0].text;
    // A read too quick to measure is rated over 1 ms: 13055 bytes in 1 ms are 13.06 Mb/sec, which
    // the report's format prints as "13.6".
    if (m[1] == "0") {
        EXPECT_EQ(m[2], "13");
        EXPECT_EQ(m[3], "6");
    }
    CloseAVIlist(head);
}

// Bad input in the index: entries that point outside the file, sizes that would size the buffers
// past the file, audio figures whose products overflow 32 bits, a clock of 0.
TEST(ListBadInput, EntriesOutsideTheFileAreKeptEmpty) {
    TempDir dir;
    CraftedAvi a = Interleaved(100, 4);
    std::string f = a.Build();
    size_t idx = f.rfind("idx1") + 8;
    WriteLE32(&f[idx + 16 * 2 + 12], 0x7FFFFFF0);  // frame 2: size beyond the file
    WriteLE32(&f[idx + 16 * 4 + 8], 0xFFFFFF00);   // frame 3: offset beyond the file
    WriteLE32(&f[idx + 16 * 5 + 12], 0xFFFFFFFF);  // audio 3: size -1
    std::string path = Save(dir, "a.avi", f);
    AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(VideoEntries(rec), 4);  // counted where they stand
    EXPECT_EQ(rec->vsize, 103u);      // never sized by the bad entries
    EXPECT_EQ(rec->asize, 100u);
    EXPECT_EQ(Frame(2, rec), Payload(100, 0));  // shows the frame before
    EXPECT_EQ(Frame(3, rec), Payload(100, 0));
    EXPECT_EQ(Frame(4, rec), Payload(103, 3));
    CloseAVIlist(rec);
}

TEST(ListBadInput, AudioArithmeticAndClock) {
    TempDir dir;
    CraftedAvi a = Interleaved(100, 4);
    a.rate = 0;
    a.scale = 0;
    std::string path = Save(dir, "clock.avi", a.Build());
    AVIlist* rec = OpenAVIforList(path.c_str(), 1, 2);  // scale 0 counts as 1000000, rate 0 as 100000
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->rate, 0u);  // the record keeps the stored values
    EXPECT_EQ(VideoEntries(rec), 2);
    {
        ScopedBoxes boxes;
        PlayAVIlist01(rec);
        EXPECT_EQ(boxes->shown.size(), 1u);
    }
    CloseAVIlist(rec);

    // Sample rate, bits and channels whose products overflow 32 bits.
    std::string f = Interleaved(100, 4).Build();
    size_t fmt = f.find("strf", f.find("auds")) + 8;
    WriteLE16(&f[fmt + 2], 0xFFFF);
    WriteLE32(&f[fmt + 4], 0x7FFFFFFF);
    WriteLE16(&f[fmt + 14], 0xFFFF);
    path = Save(dir, "huge.avi", f);
    rec = OpenAVIforList(path.c_str(), 1, 2);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(VideoEntries(rec), 2);
    EXPECT_EQ(rec->channels, 0xFFFF);
    ScopedBoxes boxes;
    PlayAVIlist01(rec);
    CloseAVIlist(rec);
}

// Random damage to a whole file, headers and index included: opening, reading every frame and every
// audio chunk and the speed report stay inside their buffers (see the sanitizer build), and every
// frame delivered is no larger than the head's buffer.
TEST(ListBadInput, RandomDamageNeverEscapesTheBuffers) {
    TempDir dir;
    const std::string good = Interleaved(333, 12).Build();
    std::mt19937 rng(99);
    ScopedBoxes boxes;
    for (int round = 0; round < 300; round++) {
        std::string f = good;
        int hits = 1 + static_cast<int>(rng() % 8);
        for (int i = 0; i < hits; i++) {
            size_t at = rng() % f.size();
            if (rng() % 4 == 0) {
                f.resize(at);
            } else if (at + 4 <= f.size()) {
                uint32_t values[] = {0xFFFFFFFFu, 0x80000000u, 0, static_cast<uint32_t>(rng()),
                                     static_cast<uint32_t>(rng() % 5000)};
                WriteLE32(&f[at], values[rng() % 5]);
            }
            if (f.size() < 16) break;
        }
        std::string path = dir.file("fuzz.avi");
        WriteWholeFile(path, f);
        AVIlist* rec = OpenAVIforList(path.c_str(), static_cast<int32_t>(rng() % 4), rng() % 2 ? -1 : 8);
        if (!rec) continue;
        ASSERT_LE(rec->vsize, f.size());
        ASSERT_LE(rec->asize, f.size());
        for (int32_t n = 0; n <= 14; n++) {
            if (!rec->vptr) break;
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
