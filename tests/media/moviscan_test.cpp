// The index rebuilt from the movi list: what the walk takes and where it stops, and when the
// reader uses it instead of the file's idx1.
#include "media/moviscan.h"

#include <gtest/gtest.h>

#include "core/memory.h"
#include "media/avilist.h"
#include "media/fileio.h"
#include "support/crafted.h"
#include "support/scripted.h"

using namespace crafted;

namespace {

std::vector<std::string> Ids(const std::vector<AVIINDEXENTRY>& entries) {
    std::vector<std::string> ids;
    for (const AVIINDEXENTRY& e : entries)
        ids.push_back(FourCCText(e.ckid) + ":" + std::to_string(e.dwChunkLength));
    return ids;
}

}  // namespace

using MoviScan = ScriptedTest;

TEST_F(MoviScan, TakesStreamChunksUpToTheFirstThatIsNone) {
    CraftedAvi a;
    a.withIndex = false;
    a.chunks = {{"00dc", 0, Payload(11, 1)},
                {"JUNK", 0, Payload(4, 2)},
                {"01wb", 0, Payload(6, 3)},
                {"ix00", 0, Payload(8, 4)},
                {"00dc", 0, ""},
                {"00dc", 0, Payload(9, 5)}};
    std::string file = a.Build();
    auto scan = [&](const std::string& f) {
        return Ids(ScanMoviBuffer(reinterpret_cast<const uint8_t*>(f.data()), f.size(), a.moviPosition));
    };
    EXPECT_EQ(scan(file), (std::vector<std::string>{"00dc:11", "01wb:6", "00dc:0", "00dc:9"}));
    std::vector<AVIINDEXENTRY> entries =
        ScanMoviBuffer(reinterpret_cast<const uint8_t*>(file.data()), file.size(), a.moviPosition);
    EXPECT_EQ(entries[0].dwChunkOffset, 4u);  // counted from the list's type field, as idx1 counts
    EXPECT_EQ(entries[3].dwChunkOffset, a.headerAt[5] - a.moviPosition);

    // A chunk header that is none ends the walk; so does a chunk cut by the list's end or the file's.
    std::string garbage = file;
    garbage.replace(a.headerAt[2], 4, "\x01\x02\x03\x04");
    EXPECT_EQ(scan(garbage), (std::vector<std::string>{"00dc:11"}));
    std::string shortList = file;
    WriteLE32(&shortList[a.moviPosition - 4], a.headerAt[5] - a.moviPosition + 8);
    EXPECT_EQ(scan(shortList).size(), 3u);
    EXPECT_EQ(scan(file.substr(0, a.headerAt[5] + 12)).size(), 3u);
    // "rec " lists are walked into; a list that claims to be larger than its parent is bounded.
    std::string rec = "LIST" + LE32(4 + 8 + 2) + "rec " + "00db" + LE32(2) + "ab";
    std::string withRec = file;
    withRec.insert(a.headerAt[0], rec);
    WriteLE32(&withRec[a.moviPosition - 4],
              ReadLE32(&withRec[a.moviPosition - 4]) + static_cast<uint32_t>(rec.size()));
    EXPECT_EQ(scan(withRec).front(), "00db:2");
    EXPECT_TRUE(scan(file.substr(0, a.moviPosition + 2)).empty());
    EXPECT_TRUE(scan("").empty());
    // A list whose size was never brought up to date (it still says empty) goes on to the file's end.
    std::string unpatched = file;
    WriteLE32(&unpatched[a.moviPosition - 4], 4);
    EXPECT_EQ(scan(unpatched), scan(file));
}

TEST_F(MoviScan, ReaderRebuildsAMissingOrCutIndexOnly) {
    CraftedAvi a;
    a.channels = 1, a.samplesPerSec = 8000, a.sampleBits = 8;
    for (int i = 0; i < 6; i++) {
        a.chunks.push_back({"00db", 0x10, Payload(40, i)});
        a.chunks.push_back({"01wb", 0x10, Payload(533, 100 + i)});
    }
    const std::string whole = a.Build();
    auto open = [&](const std::string& name, const std::string& bytes) {
        WriteWholeFile(dir.file(name), bytes);
        return OpenAVIforList(dir.file(name).c_str(), 0, -1);
    };
    // A complete idx1 is used as it stands; one cut inside gives way to the scan, which finds the same.
    AVIlist* full = open("full.avi", whole);
    ASSERT_TRUE(full && full->nidx == 12 && full->frames == 6);
    const size_t idx1At = whole.size() - 8 - 12 * 16;
    AVIlist* cut = open("cut.avi", whole.substr(0, idx1At + 8 + 3 * 16 + 5));
    ASSERT_TRUE(cut && cut->nidx == 12 && cut->frames == 6);
    for (int32_t i = 0; i < 12; i++) {
        EXPECT_EQ(cut->idx[i].dwChunkOffset, full->idx[i].dwChunkOffset);
        EXPECT_EQ(cut->idx[i].dwChunkLength, full->idx[i].dwChunkLength);
    }
    CloseAVIlist(full);
    CloseAVIlist(cut);
    // An index that stops short of the list's end is replaced; one that reaches it stays; a movi
    // position that is none changes nothing.
    CraftedAvi b = a;
    b.chunks.resize(2);
    WriteWholeFile(dir.file("b.avi"), b.Build());
    const int32_t handle = MyOpenRead(dir.file("b.avi").c_str());
    auto* index = static_cast<AVIINDEXENTRY*>(MyCalloc(1, sizeof(AVIINDEXENTRY)));
    *index = {FourCC("00db"), 0x10, 4, 40};
    int32_t count = 1;
    EXPECT_EQ(RebuildIndexFromMovi(handle, b.moviPosition, &index, &count), 1);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(RebuildIndexFromMovi(handle, b.moviPosition, &index, &count), 0);
    EXPECT_EQ(RebuildIndexFromMovi(handle, 3, &index, &count), 0);
    MyFree(index);
    MyClose(handle);
}
