// The RIFF/AVI reader: the file layer, the header walk into AVIinfo, the index loader and the WAVE
// reader, on crafted files, including every kind of bad input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <random>

#include "core/memory.h"
#include "media/fileio.h"
#include "media/riff.h"
#include "media_support.h"
#include "support/scripted.h"

using namespace media_test;

namespace {

// Three frames of 320x240 "MJPG" with sizes 0, 100 and 300, 15 fps.
CraftedAvi ThreeFrames() {
    CraftedAvi a;
    a.compression = FourCC("MJPG");
    a.handler = FourCC("MJPG");
    a.chunks = {{"00dc", 0x10, ""}, {"00dc", 0x10, Payload(100, 1)}, {"00dc", 0, Payload(300, 2)}};
    return a;
}

std::string Save(const TempDir& dir, const std::string& name, const std::string& bytes) {
    std::string path = dir.file(name);
    WriteWholeFile(path, bytes);
    return path;
}

// The index of a file, released afterwards.
std::vector<AVIINDEXENTRY> IndexOf(const std::string& path) {
    int32_t h = MyOpenRead(path.c_str());
    LoadAVIIndex(h, 0, 0, 0);
    MyClose(h);
    std::vector<AVIINDEXENTRY> v;
    if (AVIinfo.index) v.assign(AVIinfo.index, AVIinfo.index + AVIinfo.indexCount);
    MyFree(AVIinfo.index);
    AVIinfo.index = nullptr;
    AVIinfo.indexCount = 0;
    return v;
}

}  // namespace

TEST(FileLayer, PiecesHandlesAndPositions) {
    TempDir dir;
    std::string data = Payload(70001, 3);
    std::string path = Save(dir, "f.bin", data);
    int32_t h = MyOpenRead(path.c_str());
    ASSERT_GT(h, 0);
    EXPECT_EQ(MyFileLength(h), 70001);
    std::string got(70001, '\0');
    EXPECT_EQ(MyRead(h, got.data(), 70001), 70001);  // three pieces of at most 30000
    EXPECT_EQ(got, data);
    EXPECT_EQ(MyRead(h, got.data(), 10), 0);  // at the end
    EXPECT_EQ(MySeek(h, 5), 0);
    EXPECT_EQ(MyTell(h), 5);
    EXPECT_EQ(MySkip(h, 10), 0);
    EXPECT_EQ(MyTell(h), 15);
    MyClose(h);

    EXPECT_EQ(MyOpenRead(dir.file("missing").c_str()), 0);
    EXPECT_EQ(FileExists(path.c_str()), 1);
    EXPECT_EQ(FileExists(dir.file("missing").c_str()), 0);

    int32_t w = MyCreateTrunc(dir.file("w.bin").c_str());
    EXPECT_EQ(MyWrite(w, data.data(), 0), 0);
    EXPECT_EQ(MyWrite(w, data.data(), 65000), 65000);
    MyClose(w);
    w = MyOpenWrite(dir.file("w.bin").c_str());  // written over in place, not truncated
    EXPECT_EQ(MyWrite(w, "xy", 2), 2);
    MyClose(w);
    std::string back = ReadWholeFile(dir.file("w.bin"));
    EXPECT_EQ(back.size(), 65000u);
    EXPECT_EQ(back.substr(0, 2), "xy");
}

TEST(FileLayer, NeverHandsOutDescriptorZero) {
    TempDir dir;
    std::string path = Save(dir, "f.bin", "abc");
    int saved = dup(0);
    close(0);  // as in CI: no standard input, so the next open would get 0
    int32_t h = MyOpenRead(path.c_str());
    EXPECT_GT(h, 2);
    char c[3];
    EXPECT_EQ(MyRead(h, c, 3), 3);
    MyClose(h);
    EXPECT_EQ(fcntl(0, F_GETFD), -1);  // descriptor 0 is left closed
    if (saved >= 0) {
        dup2(saved, 0);
        close(saved);
    }
}

TEST(ReadAVIInfo, FillsTheRecordFromTheHeaders) {
    TempDir dir;
    CraftedAvi a = ThreeFrames();
    a.channels = 2;
    a.samplesPerSec = 22050;
    a.sampleBits = 16;
    a.chunks.push_back({"01wb", 0, Payload(400, 4)});
    std::string bytes = a.Build();
    std::string path = Save(dir, "a.avi", bytes);
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.fileLength, static_cast<int32_t>(bytes.size()));
    EXPECT_EQ(AVIinfo.width, 320);
    EXPECT_EQ(AVIinfo.height, 240);
    EXPECT_FALSE(AVIinfo.topDown);
    EXPECT_EQ(AVIinfo.bitCount, 24);
    EXPECT_EQ(AVIinfo.compression, FourCC("MJPG"));
    EXPECT_EQ(AVIinfo.totalFrames, 3);
    EXPECT_EQ(AVIinfo.videoRate, 15u);
    EXPECT_EQ(AVIinfo.videoScale, 1u);
    EXPECT_EQ(AVIinfo.videoQuality, 7500u);
    EXPECT_EQ(AVIinfo.videoHandler, FourCC("MJPG"));
    EXPECT_EQ(AVIinfo.samplesPerSec, 22050);
    EXPECT_EQ(AVIinfo.channels, 2);
    EXPECT_EQ(AVIinfo.bitsPerSample, 16);
    EXPECT_EQ(AVIinfo.audioFormat.nBlockAlign, 4);
    EXPECT_EQ(AVIinfo.audioLength, 100);  // 400 bytes of 4-byte samples
    EXPECT_EQ(AVIinfo.moviPosition, a.moviPosition);
    // The worked example: sizes 0, 100, 300 give one drop, average 200, rate figure 0 and 7680.
    EXPECT_EQ(AVIinfo.droppedFrames, 1);
    EXPECT_EQ(AVIinfo.frameTimeOrRate, 0);
    EXPECT_EQ(AVIinfo.compressionFigure, 7680);
    EXPECT_EQ(ReadLE32(AVIinfo.videoFormat), 40u);

    // The index loader brings the three video entries and the audio one, as stored.
    auto idx = IndexOf(path);
    ASSERT_EQ(idx.size(), 4u);
    EXPECT_EQ(idx[1].dwChunkLength, 100u);
    EXPECT_EQ(idx[1].dwChunkOffset, a.headerAt[1] - a.moviPosition);
    EXPECT_EQ(ChunkType(idx[3].ckid), kTypeWB);

    // No index: the rate figure stays the avih microseconds per frame.
    a.withIndex = false;
    path = Save(dir, "b.avi", a.Build());
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.frameTimeOrRate, 66666);
    EXPECT_EQ(AVIinfo.droppedFrames, 0);
    EXPECT_TRUE(IndexOf(path).empty());

    EXPECT_EQ(ReadAVIInfo(dir.file("missing.avi").c_str()), 0);
}

TEST(ReadAVIInfo, WalkRules) {
    TempDir dir;
    // A file that does not begin with RIFF has only its first chunk examined.
    std::string strf = Chunk("strf", BitmapHeader(64, 48, 24, 0));
    std::string path = Save(dir, "norif.bin", Chunk("JUNK", "abcd") + strf);
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 0);
    path = Save(dir, "strf.bin", strf + Chunk("JUNK", "abcd"));
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.width, 64);

    // A RIFF form that is not "AVI " is still walked.
    path = Save(dir, "wave.bin", Riff("WAVE", List("hdrl", Chunk("strf", BitmapHeader(32, 16, 24, 0)))));
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.width, 32);

    // An avih of 64 bytes is logged and its first 56 used; the walk goes on after it.
    {
        LogCapture log;
        CraftedAvi a = ThreeFrames();
        a.hdrlExtra = Avih(40000, 77, 0, 0, 64) + Chunk("strf", BitmapHeader(160, 120, 16, 0));
        path = Save(dir, "avih64.avi", a.Build());
        EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
        EXPECT_TRUE(log.contains("** MainAVIHeader size mismatch"));
        EXPECT_EQ(AVIinfo.totalFrames, 77);
        EXPECT_EQ(AVIinfo.width, 160);
        EXPECT_EQ(AVIinfo.compression, 0u);  // set to 0 by the second avih, then by the strf
    }

    // An 18-byte wave format is skipped: no audio.
    {
        CraftedAvi a = ThreeFrames();
        a.hdrlExtra =
            List("strl", Strh("auds", 0, 4, 88200, 10) + Chunk("strf", WaveFormat(2, 22050, 16) + LE16(0)));
        path = Save(dir, "wfx.avi", a.Build());
        EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
        EXPECT_EQ(AVIinfo.samplesPerSec, 0);
        EXPECT_EQ(AVIinfo.audioLength, 10);
    }

    // tc_O and rn_O are stepped over by their exact size.
    {
        CraftedAvi a = ThreeFrames();
        a.afterHdrl = ChunkSized("tc_O", 3, "xyz") + Chunk("strf", BitmapHeader(48, 32, 24, 0));
        path = Save(dir, "tco.avi", a.Build());
        EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
        EXPECT_EQ(AVIinfo.width, 48);
    }

    // An empty LIST (just its type) is empty: the chunk after it belongs to the parent.
    {
        CraftedAvi a = ThreeFrames();
        a.hdrlExtra = List("strl", "") + Strh("vids", 0, 1001, 30000, 3);
        path = Save(dir, "empty.avi", a.Build());
        EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
        EXPECT_EQ(AVIinfo.videoRate, 30000u);
    }
}

TEST(ReadAVIInfo, PaletteTopDownAndSource) {
    TempDir dir;
    CraftedAvi a;
    a.bits = 8;
    a.width = 16;
    a.height = -8;  // rows stored top-down
    std::string palette;
    for (int i = 0; i < 256; i++)
        palette += std::string{static_cast<char>(i), 0, static_cast<char>(255 - i), 0};
    a.videoFormatTail = palette;
    a.chunks = {{"00db", 0x10, Payload(128, 1)}};
    // An 8-bit format with a 40-byte header copies the palette.
    std::string bytes = a.Build();
    std::string path = Save(dir, "pal.avi", bytes);
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.height, 8);
    EXPECT_TRUE(AVIinfo.topDown);
    EXPECT_EQ(static_cast<int32_t>(ReadLE32(AVIinfo.videoFormat + 8)), 8);
    EXPECT_EQ(AVIinfo.palette[0].rgbRed, 255);
    EXPECT_EQ(AVIinfo.palette[200].rgbBlue, 200);
    EXPECT_EQ(AVIinfo.palette[200].rgbRed, 55);

    // A 24-bit format copies none: the palette of the file before stays.
    CraftedAvi b = ThreeFrames();
    path = Save(dir, "rgb.avi", b.Build());
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_FALSE(AVIinfo.topDown);
    EXPECT_EQ(AVIinfo.palette[200].rgbBlue, 200);

    // CORE: name, tag, value and comment.
    std::string core(160, '\0');
    core.replace(0, 9, "Camera 12");
    core.replace(40, 5, "Front");
    WriteLE32(&core[56], 4242);
    core.replace(60, 12, "hello world!");
    b.afterHdrl = Chunk("CORE", core);
    path = Save(dir, "core.avi", b.Build());
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_STREQ(AVIinfo.sourceName, "Camera 12");
    EXPECT_STREQ(AVIinfo.sourceTag, "Front");
    EXPECT_EQ(AVIinfo.sourceValue, 4242);
    EXPECT_STREQ(AVIinfo.sourceComment, "hello world!");
    // Read again without it: the source fields are zeroed.
    path = Save(dir, "nocore.avi", ThreeFrames().Build());
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_STREQ(AVIinfo.sourceName, "");
}

TEST(ReadWaveInfo, CanonicalPcmOnly) {
    TempDir dir;
    std::string fmt = Chunk("fmt ", WaveFormat(2, 22050, 16));
    std::string data = Chunk("data", Payload(1000, 1));
    std::string path = Save(dir, "plain.wav", Riff("WAVE", fmt + data));
    ASSERT_EQ(ReadWaveInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.samplesPerSec, 22050);
    EXPECT_EQ(AVIinfo.channels, 2);
    EXPECT_EQ(AVIinfo.bitsPerSample, 16);
    EXPECT_EQ(AVIinfo.audioLength, 1000);

    // A LIST chunk between fmt and data is skipped.
    path = Save(dir, "list.wav", Riff("WAVE", fmt + List("INFO", Chunk("ISFT", "Lavf")) + data));
    ASSERT_EQ(ReadWaveInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.audioLength, 1000);

    // An 18-byte fmt, a missing data chunk, another form: rejected.
    path = Save(dir, "fmt18.wav", Riff("WAVE", Chunk("fmt ", WaveFormat(2, 22050, 16) + LE16(0)) + data));
    EXPECT_EQ(ReadWaveInfo(path.c_str()), 0);
    path = Save(dir, "nodata.wav", Riff("WAVE", fmt));
    EXPECT_EQ(ReadWaveInfo(path.c_str()), 0);
    path = Save(dir, "avi.wav", Riff("AVI ", fmt + data));
    EXPECT_EQ(ReadWaveInfo(path.c_str()), 0);
}

// Bad input: no size read from a file is trusted. Each case is a crafted file; the walk ends or
// skips, nothing is read outside a buffer (the sanitizer build proves it), and what came before
// the damage is reported.
TEST(ReaderBadInput, ChunkLargerThanTheFile) {
    TempDir dir;
    CraftedAvi a = ThreeFrames();
    std::string good = a.Build();
    // A chunk after the headers claims 2 GB: the walk ends there, the headers stand.
    std::string path = Save(dir, "big.avi", good + ChunkSized("JUNK", 0x7FFFFFF0, "xx"));
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.width, 320);
    // A stream header that claims more than the file holds is read only as far as the file goes.
    path = Save(dir, "strh.avi",
                "RIFF" + LE32(1000) + "AVI " + Chunk("strf", BitmapHeader(8, 8, 24, 0)) +
                    ChunkSized("strh", 0x10000, "vids" + std::string(30, '\x01')));
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.videoScale, 0x01010101u);
    EXPECT_EQ(AVIinfo.videoRate, 0x01010101u);
    EXPECT_EQ(AVIinfo.videoQuality, 0u);  // beyond what is there
    // The RIFF size beyond the file: the walk covers the file and fileLength is the file's length.
    std::string cut = good;
    WriteLE32(&cut[4], 0x7FFF0000);
    path = Save(dir, "riff.avi", cut);
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.fileLength, static_cast<int32_t>(cut.size()));
    EXPECT_EQ(AVIinfo.droppedFrames, 1);  // the idx1 at the end was reached
}

TEST(ReaderBadInput, ChunkLargerThanItsParent) {
    TempDir dir;
    // Inside hdrl a strf claims more than the list holds; the walk of hdrl ends at the list's end
    // and the chunk after the list is still read.
    std::string strl =
        Chunk("strh", std::string(56, '\0')) + ChunkSized("strf", 5000, BitmapHeader(8, 8, 24, 0));
    std::string hdrl = List("hdrl", strl);
    std::string core(160, '\0');
    core.replace(0, 4, "Cam1");
    std::string path = Save(dir, "parent.avi",
                            Riff("AVI ", hdrl + Chunk("CORE", core) + Chunk("JUNK", std::string(6000, 'j'))));
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);  // the 40 bytes that are inside the list
    EXPECT_EQ(AVIinfo.width, 8);
    EXPECT_STREQ(AVIinfo.sourceName, "Cam1");

    // A LIST larger than the RIFF around it is cut to it.
    std::string inner = List("hdrl", Chunk("strf", BitmapHeader(9, 9, 24, 0)));
    WriteLE32(&inner[4], 0x00100000);
    path = Save(dir, "list.avi", Riff("AVI ", inner) + Chunk("JUNK", std::string(100, 'j')));
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.width, 9);
}

TEST(ReaderBadInput, NegativeAndAllOnesSizes) {
    TempDir dir;
    for (uint32_t size : {0x80000000u, 0xFFFFFFFFu, 0xFFFFFFF8u}) {
        SCOPED_TRACE(size);
        CraftedAvi a = ThreeFrames();
        std::string good = a.Build();
        // RIFF size: the file is walked as it is.
        std::string f = good;
        WriteLE32(&f[4], size);
        std::string path = Save(dir, "riff.avi", f);
        EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
        EXPECT_EQ(AVIinfo.fileLength, static_cast<int32_t>(f.size()));
        EXPECT_EQ(IndexOf(path).size(), 3u);
        // A LIST size: cut to its parent.
        a.afterHdrl = ChunkSized("LIST", size, "INFO" + Chunk("ISFT", "x"));
        path = Save(dir, "list.avi", a.Build());
        EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
        EXPECT_EQ(AVIinfo.droppedFrames, 1);  // the cut list runs to the end: its walk meets idx1
        // A leaf size: the walk ends there.
        a.afterHdrl = ChunkSized("JUNK", size, "abcdefgh");
        path = Save(dir, "leaf.avi", a.Build());
        EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
        EXPECT_EQ(AVIinfo.width, 320);
        // The CORE size: refused with its message.
        {
            ScopedBoxes boxes;
            a.afterHdrl = ChunkSized("CORE", size, std::string(160, 'c'));
            path = Save(dir, "core.avi", a.Build());
            EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
            EXPECT_TRUE(boxes->saw("CORE ERROR - chunk too large"));
            EXPECT_STREQ(AVIinfo.sourceName, "");
        }
        // A WAVE chunk before data: refused without looping back.
        path = Save(dir, "w.wav",
                    Riff("WAVE", Chunk("fmt ", WaveFormat(1, 8000, 8)) + ChunkSized("LIST", size, "") +
                                     Chunk("data", "abcd")));
        EXPECT_EQ(ReadWaveInfo(path.c_str()), 0);
        // A data size: the bytes really there.
        path = Save(dir, "d.wav",
                    Riff("WAVE", Chunk("fmt ", WaveFormat(1, 8000, 8)) + ChunkSized("data", size, "abcdef")));
        EXPECT_EQ(ReadWaveInfo(path.c_str()), 1);
        EXPECT_EQ(AVIinfo.audioLength, 6);
    }
}

TEST(ReaderBadInput, IndexCountLargerThanTheChunk) {
    TempDir dir;
    CraftedAvi a = ThreeFrames();
    std::string f = a.Build();
    // idx1 claims 1000 entries; the file holds 3 (and a stray 5 bytes of a fourth).
    size_t at = f.rfind("idx1");
    WriteLE32(&f[at + 4], 16000);
    f += "12345";
    std::string path = Save(dir, "idx.avi", f);
    MemoryMonitorCounts before = MemoryMonitorStatus();
    auto idx = IndexOf(path);
    EXPECT_EQ(idx.size(), 3u);
    EXPECT_EQ(MemoryMonitorStatus().liveBytes, before.liveBytes);
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.droppedFrames, 1);
    EXPECT_EQ(AVIinfo.compressionFigure, 7680);

    // An idx1 whose size is not a multiple of 16: the whole entries only.
    f = a.Build();
    at = f.rfind("idx1");
    WriteLE32(&f[at + 4], 40);
    path = Save(dir, "idx40.avi", f);
    EXPECT_EQ(IndexOf(path).size(), 2u);
}

TEST(ReaderBadInput, HeaderSizesThatWouldOverrunTheirBuffers) {
    TempDir dir;
    // A strf whose header size field says 5000 in a 40-byte chunk: cut to what was read.
    CraftedAvi a = ThreeFrames();
    std::string f = a.Build();
    size_t at = f.find("strf");
    WriteLE32(&f[at + 8], 5000);
    std::string path = Save(dir, "bisize.avi", f);
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(ReadLE32(AVIinfo.videoFormat), 40u);

    // An 8-bit header of 40 bytes with only 10 palette entries after it: those and zeros.
    CraftedAvi b;
    b.bits = 8;
    b.videoFormatTail = std::string(40, '\x07');
    b.chunks = {{"00db", 0x10, Payload(64, 1)}};
    f = b.Build();
    path = Save(dir, "pal10.avi", f);
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.palette[9].rgbRed, 7);
    EXPECT_EQ(AVIinfo.palette[10].rgbRed, 0);

    // A strf larger than the 1092-byte buffer: the first 1092 bytes, the walk goes on after it.
    CraftedAvi c = ThreeFrames();
    c.videoFormatTail = std::string(3000, 'x');
    c.headerSize = 3040;
    c.afterHdrl =
        Chunk("strh", "vids" + std::string(16, '\0') + LE32(1001) + LE32(30000) + std::string(32, '\0'));
    path = Save(dir, "strf3000.avi", c.Build());
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(ReadLE32(AVIinfo.videoFormat), 1092u);
    EXPECT_EQ(AVIinfo.videoRate, 30000u);

    // A CORE chunk of 400 bytes is read; 401 is refused and skipped, and the walk goes on.
    for (uint32_t n : {400u, 401u}) {
        ScopedBoxes boxes;
        CraftedAvi d = ThreeFrames();
        std::string core(n, 'z');
        d.afterHdrl = Chunk("CORE", core);
        path = Save(dir, "core.avi", d.Build());
        ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
        EXPECT_EQ(boxes->saw("CORE ERROR - chunk too large"), n == 401);
        EXPECT_EQ(std::strlen(AVIinfo.sourceName), n == 400 ? 40u : 0u);
        EXPECT_EQ(std::strlen(AVIinfo.sourceComment), n == 400 ? 100u : 0u);
        EXPECT_EQ(AVIinfo.droppedFrames, 1);
    }
}

TEST(ReaderBadInput, ProductsThatOverflow32Bits) {
    TempDir dir;
    CraftedAvi a = ThreeFrames();
    a.width = 65535;
    a.height = 65535;
    a.chunks = {{"00dc", 0x10, "a"}};
    std::string path = Save(dir, "huge.avi", a.Build());
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.compressionFigure, INT32_MAX);  // 65535 x 65535 x 20 / 1, clamped
    EXPECT_EQ(AVIinfo.frameTimeOrRate, 0);
}

TEST(ReaderBadInput, DeepNestingAndStrayRiff) {
    TempDir dir;
    std::string body = Chunk("strf", BitmapHeader(5, 5, 24, 0));
    for (int i = 0; i < 5000; i++) body = List("deep", body);
    std::string path = Save(dir, "deep.avi", Riff("AVI ", body));
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 0);  // too deep to be looked into, and no crash

    body = Chunk("strf", BitmapHeader(6, 6, 24, 0));
    for (int i = 0; i < 5000; i++) body = Riff("AVI ", body);
    path = Save(dir, "riffs.avi", Riff("AVI ", List("hdrl", body)));
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 0);  // a RIFF inside a list is an ordinary chunk

    path = Save(dir, "tiny.avi",
                Riff("AVI ", ChunkSized("LIST", 2, "ab") + Chunk("strf", BitmapHeader(7, 7, 24, 0))));
    EXPECT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.width, 7);
}

TEST(ReaderBadInput, TruncatedFileReportsWhatCameBeforeTheCut) {
    TempDir dir;
    CraftedAvi a = ThreeFrames();
    std::string f = a.Build();
    size_t strfEnd = f.find("strf") + 8 + 40;
    size_t idx = f.rfind("idx1");
    for (size_t cut = 0; cut <= f.size(); cut++) {
        std::string path = Save(dir, "cut.avi", f.substr(0, cut));
        int32_t ok = ReadAVIInfo(path.c_str());
        ASSERT_EQ(ok, cut >= strfEnd ? 1 : 0) << cut;
        auto entries = IndexOf(path);
        size_t whole = cut > idx + 8 ? (cut - idx - 8) / 16 : 0;
        ASSERT_EQ(entries.size(), whole) << cut;
        if (ok) {
            ASSERT_EQ(AVIinfo.width, 320);
        }
    }
}

// Random damage to a real header block: every reader returns without reading outside its buffers
// (run under -DQUILLORY_SANITIZE=ON to see it), and a second read of the same bytes agrees.
TEST(ReaderBadInput, RandomDamageNeverEscapesTheBuffers) {
    TempDir dir;
    CraftedAvi a = ThreeFrames();
    a.channels = 1;
    a.samplesPerSec = 8000;
    a.sampleBits = 8;
    a.chunks.push_back({"01wb", 0, Payload(33, 9)});
    a.afterHdrl = Chunk("CORE", std::string(160, 'c'));
    const std::string good = a.Build();
    std::mt19937 rng(1234);
    ScopedBoxes boxes;
    for (int round = 0; round < 400; round++) {
        std::string f = good;
        int hits = 1 + static_cast<int>(rng() % 6);
        for (int i = 0; i < hits; i++) {
            size_t at = rng() % f.size();
            switch (rng() % 3) {
                case 0:
                    f[at] = static_cast<char>(rng());
                    break;
                case 1:
                    if (at + 4 <= f.size()) WriteLE32(&f[at], rng() % 2 ? 0xFFFFFFFFu : rng());
                    break;
                default:
                    f.resize(at);
                    break;
            }
            if (f.empty()) break;
        }
        std::string path = Save(dir, "fuzz.avi", f);
        int32_t r1 = ReadAVIInfo(path.c_str());
        int32_t w1 = AVIinfo.width;
        int32_t r2 = ReadAVIInfo(path.c_str());
        ASSERT_EQ(r1, r2);
        ASSERT_EQ(w1, AVIinfo.width);
        ASSERT_GE(AVIinfo.height, 0);
        auto idx = IndexOf(path);
        ASSERT_LE(idx.size() * 16, f.size());
        ReadWaveInfo(path.c_str());
    }
}
