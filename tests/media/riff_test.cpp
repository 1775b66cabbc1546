// The RIFF/AVI reader on crafted files: the file layer, the record and its figures, the walk's rules,
// and bad input of every kind, after which the walk has ended or skipped and what came before stands.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "core/memory.h"
#include "media/fileio.h"
#include "media/riff.h"
#include "support/crafted.h"
#include "support/scripted.h"

using namespace crafted;

namespace {

// Three frames of 320x240 "MJPG" with sizes 0, 100 and 300, 15 fps, changed by `change`.
std::string Avi(const std::function<void(CraftedAvi&)>& change = nullptr, CraftedAvi* built = nullptr) {
    CraftedAvi a;
    a.compression = a.handler = FourCC("MJPG");
    a.chunks = {{"00dc", 0x10, ""}, {"00dc", 0x10, Payload(100, 1)}, {"00dc", 0, Payload(300, 2)}};
    if (change) change(a);
    std::string bytes = a.Build();
    if (built) *built = a;
    return bytes;
}

std::string Patched(std::string f, size_t at, uint32_t v) {
    WriteLE32(&f[at], v);
    return f;
}

std::vector<AVIINDEXENTRY> IndexOf(const std::string& path) {
    int32_t h = MyOpenRead(path.c_str());
    AVIinfoRecord info{};
    LoadAVIIndex(h, 0, 0, 0, info);
    MyClose(h);
    std::vector<AVIINDEXENTRY> v(info.index, info.index + (info.index ? info.indexCount : 0));
    MyFree(info.index);
    return v;
}

// The record the walk cases below read into, one after another.
AVIinfoRecord walked;

}  // namespace

using FileLayer = ScriptedTest;

TEST_F(FileLayer, PiecesPositionsAndNoDescriptorZero) {
    const std::string data = Payload(70001, 3), path = dir.file("f.bin");
    WriteWholeFile(path, data);
    int saved = dup(0);
    close(0);  // as in CI: no standard input, so the next open would get 0
    int32_t h = MyOpenRead(path.c_str());
    EXPECT_GT(h, 2);
    EXPECT_EQ(MyFileLength(h), 70001);
    std::string got(70001, '\0');
    EXPECT_EQ(MyRead(h, got.data(), 70001), 70001);  // three pieces of at most 30000
    EXPECT_EQ(got, data);
    EXPECT_EQ((std::vector<int64_t>{MyRead(h, got.data(), 10), MySeek(h, 5), MySkip(h, 10), MyTell(h)}),
              (std::vector<int64_t>{0, 0, 0, 15}));
    MyClose(h);
    EXPECT_EQ(fcntl(0, F_GETFD), -1);
    dup2(saved, 0);
    close(saved);
    EXPECT_EQ(MyOpenRead(dir.file("missing").c_str()), 0);
    // A named pipe would block the open or the first read for ever; a folder is no file either.
    ASSERT_EQ(mkfifo(dir.file("pipe").c_str(), 0600), 0);
    EXPECT_EQ(MyOpenRead(dir.file("pipe").c_str()), 0);
    EXPECT_EQ(MyOpenRead(dir.file("").c_str()), 0);
}

using AviHeaders = ScriptedTest;

TEST_F(AviHeaders, RecordFiguresAndIndex) {
    CraftedAvi a;
    std::string bytes = Avi(
        [](CraftedAvi& c) {
            c.channels = 2, c.samplesPerSec = 22050, c.sampleBits = 16;
            c.chunks.push_back({"01wb", 0, Payload(400, 4)});
        },
        &a);
    std::string path = dir.file("a.avi");
    WriteWholeFile(path, bytes);
    AVIinfoRecord info{};
    ASSERT_EQ(ReadAVIInfo(path.c_str(), info), 1);
    // 400 bytes of 4-byte samples; sizes 0, 100, 300: one drop, average 200, so the rate figure is 0
    // and the ratio 7680.
    EXPECT_EQ((std::vector<int64_t>{info.fileLength, info.audioLength, info.moviPosition, info.droppedFrames,
                                    info.frameTimeOrRate, info.compressionFigure}),
              (std::vector<int64_t>{static_cast<int64_t>(bytes.size()), 100, a.moviPosition, 1, 0, 7680}));
    auto idx = IndexOf(path);
    ASSERT_EQ(idx.size(), 4u);
    EXPECT_EQ(idx[1].dwChunkOffset, a.headerAt[1] - a.moviPosition);
    EXPECT_EQ(ChunkType(idx[3].ckid), kTypeWB);

    // No index: the rate figure stays the avih microseconds per frame. Read into a record of its
    // own while the first is still in use, each record keeps its own file's facts.
    const std::string second = dir.file("b.avi");
    WriteWholeFile(second, Avi([](CraftedAvi& c) { c.withIndex = false; }));
    AVIinfoRecord other{};
    ASSERT_EQ(ReadAVIInfo(second.c_str(), other), 1);
    EXPECT_EQ((std::vector{info.audioLength, info.droppedFrames, info.frameTimeOrRate, other.audioLength,
                           other.droppedFrames, other.frameTimeOrRate}),
              (std::vector{100, 1, 0, 0, 0, 66666}));
    EXPECT_TRUE(IndexOf(second).empty());
    EXPECT_EQ(ReadAVIInfo(dir.file("missing.avi").c_str(), other), 0);
}

// Each case is read in order (some rely on what the one before left in the record); `check` runs
// after the read, and the box named must have been shown.
TEST_F(AviHeaders, WalkRulesAndBadInput) {
    struct Case {
        std::string what, bytes;
        int32_t result;
        std::function<void()> check;
        const char* box = nullptr;
        bool wave = false;
    };
    const std::string strf64 = Chunk("strf", BitmapHeader(64, 48, 24, 0));
    std::string core(160, '\0');
    core.replace(0, 9, "Camera 12"), core.replace(40, 5, "Front"), core.replace(60, 12, "hello world!");
    WriteLE32(&core[56], 4242);
    std::string palette;
    for (int i = 0; i < 256; i++)
        palette += std::string{static_cast<char>(i), 0, static_cast<char>(255 - i), 0};
    std::string deep = Chunk("strf", BitmapHeader(5, 5, 24, 0)),
                riffs = Chunk("strf", BitmapHeader(6, 6, 24, 0));
    for (int i = 0; i < 5000; i++) deep = List("deep", deep), riffs = Riff("AVI ", riffs);
    const std::string fmt = Chunk("fmt ", WaveFormat(2, 22050, 16)), data = Chunk("data", Payload(1000, 1));
    const std::string good = Avi();
    const size_t idx = good.rfind("idx1");
    auto width = [](int32_t w) { return [w] { EXPECT_EQ(walked.width, w); }; };
    // A second stream after the video stream, with its format; the sound as read, and the picture.
    auto stream = [](const char* type, const std::string& format) {
        return Avi([&](CraftedAvi& a) {
            a.hdrlExtra = List("strl", Strh(type, 0, 1, 1, 9) + Chunk("strf", format));
        });
    };
    auto sound = [](int32_t rate, int32_t channels, int32_t bits) {
        return [=] {
            EXPECT_EQ(
                (std::vector{walked.samplesPerSec, walked.channels, walked.bitsPerSample, walked.width}),
                (std::vector{rate, channels, bits, 320}));
            if (rate) {
                EXPECT_EQ(walked.audioFormat.wFormatTag, 1);  // the extensible form is kept as PCM
            }
        };
    };
    // WAVE_FORMAT_EXTENSIBLE: the wave format, its 22 bytes of extension, the sub-format's GUID.
    auto extensible = [](uint16_t channels, uint8_t subFormat) {
        std::string f = WaveFormat(channels, 48000, 16);
        WriteLE16(&f[0], 0xFFFE);
        return f + LE16(22) + LE16(16) + LE32(0x3F) + std::string{static_cast<char>(subFormat)} +
               std::string("\0\0\0\0\0\x10\0\x80\0\0\xaa\0\x38\x9b\x71", 15);
    };
    std::string adpcm = WaveFormat(1, 22050, 4) + LE16(32) + std::string(32, '\x07');
    WriteLE16(&adpcm[0], 2);

    std::vector<Case> cases = {
        {"a file not beginning with RIFF has only its first chunk examined", Chunk("JUNK", "abcd") + strf64, 0, {}},
        {"an avih of 64 bytes: its first 56 used, the walk goes on",
         Avi([](CraftedAvi& a) { a.hdrlExtra = Avih(40000, 77, 0, 0, 64) + Chunk("strf", BitmapHeader(160, 120, 16, 0)); }),
         1, [] { EXPECT_TRUE(walked.totalFrames == 77 && walked.width == 160 && walked.compression == 0); }},
        {"tc_O is stepped over by its exact size",
         Avi([](CraftedAvi& a) { a.afterHdrl = ChunkSized("tc_O", 3, "xyz") + Chunk("strf", BitmapHeader(48, 32, 24, 0)); }), 1,
         width(48)},
        {"top-down 8-bit rows: a positive height, the flag, the palette",
         Avi([&](CraftedAvi& a) { a.bits = 8, a.width = 16, a.height = -8, a.videoFormatTail = palette; }), 1,
         [] {
             EXPECT_TRUE(walked.height == 8 && walked.topDown && ReadLE32(walked.videoFormat + 8) == 8);
             EXPECT_TRUE(walked.palette[0].rgbRed == 255 && walked.palette[200].rgbBlue == 200);
         }},
        {"a 24-bit format copies no palette", good, 1,
         [] { EXPECT_TRUE(!walked.topDown && walked.palette[200].rgbRed == 55); }},
        {"CORE gives the source", Avi([&](CraftedAvi& a) { a.afterHdrl = Chunk("CORE", core); }), 1,
         [] {
             EXPECT_STREQ(walked.sourceName, "Camera 12");
             EXPECT_STREQ(walked.sourceTag, "Front");
             EXPECT_EQ(walked.sourceValue, 4242);
             EXPECT_STREQ(walked.sourceComment, "hello world!");
         }},
        {"a chunk claiming 2 GB ends the walk; the headers stand", good + ChunkSized("JUNK", 0x7FFFFFF0, "xx"), 1,
         width(320)},
        {"a strf larger than its list: the list's part, then the chunk after the list",
         Riff("AVI ", List("hdrl", Strh("vids", 0, 1, 1, 1) + ChunkSized("strf", 5000, BitmapHeader(8, 8, 24, 0))) +
                          Chunk("CORE", core) + Chunk("JUNK", std::string(6000, 'j'))),
         1, [] { EXPECT_TRUE(walked.width == 8 && std::strcmp(walked.sourceName, "Camera 12") == 0); }},
        {"an idx1 claiming 1000 entries: the three there", Patched(good, idx + 4, 16000) + "12345", 1,
         [] { EXPECT_TRUE(walked.droppedFrames == 1 && walked.compressionFigure == 7680); }},
        {"an idx1 of 40 bytes: the figures of its two whole entries", Patched(good, idx + 4, 40), 1,
         [] { EXPECT_EQ(walked.compressionFigure, 15360); }},
        {"a strf header size of 5000 in 40 bytes is cut to them", Patched(good, good.find("strf") + 8, 5000), 1,
         [] { EXPECT_EQ(ReadLE32(walked.videoFormat), 40u); }},
        {"10 palette entries after an 8-bit header: those and zeros",
         Avi([](CraftedAvi& a) { a.bits = 8, a.videoFormatTail = std::string(40, '\x07'); }), 1,
         [] { EXPECT_TRUE(walked.palette[9].rgbRed == 7 && walked.palette[10].rgbRed == 0); }},
        {"a strf beyond the 1092-byte buffer: its first 1092 bytes, the walk goes on",
         Avi([](CraftedAvi& a) {
             a.videoFormatTail = std::string(3000, 'x'), a.headerSize = 3040;
             a.afterHdrl = Strh("vids", 0, 1001, 30000, 3);
         }),
         1, [] { EXPECT_TRUE(ReadLE32(walked.videoFormat) == 1092 && walked.videoRate == 30000); }},
        {"a CORE of 400 bytes is read", Avi([](CraftedAvi& a) { a.afterHdrl = Chunk("CORE", std::string(400, 'z')); }), 1,
         [] { EXPECT_TRUE(std::strlen(walked.sourceName) == 40 && std::strlen(walked.sourceComment) == 100); }},
        {"a CORE of 401 is refused and skipped", Avi([](CraftedAvi& a) { a.afterHdrl = Chunk("CORE", std::string(401, 'z')); }),
         1, [] { EXPECT_TRUE(walked.sourceName[0] == 0 && walked.droppedFrames == 1); }, "CORE ERROR - chunk too large"},
        {"65535 x 65535 x 20 overflows 32 bits: clamped",
         Avi([](CraftedAvi& a) { a.width = a.height = 65535, a.chunks = {{"00dc", 0x10, "a"}}; }), 1,
         [] { EXPECT_EQ(walked.compressionFigure, INT32_MAX); }},
        {"sides of 2^31 - 1 overflow 64 bits: clamped",
         Avi([](CraftedAvi& a) { a.width = a.height = INT32_MAX, a.chunks = {{"00dc", 0x10, "a"}}; }), 1,
         [] { EXPECT_EQ(walked.compressionFigure, INT32_MAX); }},
        {"an 18-byte PCM format is sound", stream("auds", WaveFormat(2, 22050, 16) + LE16(0)), 1, sound(22050, 2, 16)},
        {"the extensible PCM format is sound", stream("auds", extensible(6, 1)), 1, sound(48000, 6, 16)},
        {"another extensible coding is none", stream("auds", extensible(6, 3)), 1, sound(0, 0, 0)},
        {"ADPCM is none", stream("auds", adpcm), 1, sound(0, 0, 0)},
        {"a second video stream's format is not the picture's", stream("vids", BitmapHeader(16, 16, 24, 0)), 1,
         width(320)},
        {"5000 nested lists are too deep to look into", Riff("AVI ", deep), 0, {}},
        {"a RIFF inside a list is an ordinary chunk", Riff("AVI ", List("hdrl", riffs)), 0, {}},
        {"WAVE: canonical PCM", Riff("WAVE", fmt + data), 1,
         [] { EXPECT_TRUE(walked.samplesPerSec == 22050 && walked.channels == 2 && walked.audioLength == 1000); },
         nullptr, true},
        {"WAVE: a LIST before data is skipped", Riff("WAVE", fmt + List("INFO", Chunk("ISFT", "Lavf")) + data), 1,
         [] { EXPECT_EQ(walked.audioLength, 1000); }, nullptr, true},
        {"WAVE: an 18-byte fmt", Riff("WAVE", Chunk("fmt ", WaveFormat(2, 22050, 16) + LE16(0)) + data), 0, {}, nullptr,
         true},
        };
    for (uint32_t size : {0x80000000u, 0xFFFFFFFFu, 0xFFFFFFF8u}) {
        std::string s = " size " + std::to_string(size);
        cases.push_back({"RIFF" + s + ": the file as it is", Patched(good, 4, size), 1, [n = good.size()] {
                             EXPECT_EQ(walked.fileLength, static_cast<int32_t>(n));
                             EXPECT_EQ(walked.droppedFrames, 1);  // the idx1 at the end was reached
                         }});
        cases.push_back({"LIST" + s + ": cut to its parent", Avi([&](CraftedAvi& a) {
                             a.afterHdrl = ChunkSized("LIST", size, "INFO" + Chunk("ISFT", "x"));
                         }),
                         1, [] { EXPECT_EQ(walked.droppedFrames, 1); }});
        cases.push_back({"leaf" + s + ": the walk ends there",
                         Avi([&](CraftedAvi& a) { a.afterHdrl = ChunkSized("JUNK", size, "abcdefgh"); }), 1,
                         width(320)});
        cases.push_back({"CORE" + s + ": refused", Avi([&](CraftedAvi& a) {
                             a.afterHdrl = ChunkSized("CORE", size, std::string(160, 'c'));
                         }),
                         1, [] { EXPECT_STREQ(walked.sourceName, ""); }, "CORE ERROR - chunk too large"});
        cases.push_back({"WAVE chunk" + s + " before data: refused without looping back",
                         Riff("WAVE", Chunk("fmt ", WaveFormat(1, 8000, 8)) + ChunkSized("LIST", size, "") +
                                          Chunk("data", "abcd")),
                         0,
                         {},
                         nullptr,
                         true});
        cases.push_back(
            {"WAVE data" + s + ": the bytes really there",
             Riff("WAVE", Chunk("fmt ", WaveFormat(1, 8000, 8)) + ChunkSized("data", size, "abcdef")), 1,
             [] { EXPECT_EQ(walked.audioLength, 6); }, nullptr, true});
    }
    const std::string path = dir.file("case.avi");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteWholeFile(path, c.bytes);
        ScopedBoxes boxes;
        ASSERT_EQ(c.wave ? ReadWaveInfo(path.c_str(), walked) : ReadAVIInfo(path.c_str(), walked), c.result);
        if (c.check) c.check();
        EXPECT_EQ(boxes->texts(), c.box ? std::vector<std::string>{c.box} : std::vector<std::string>{});
    }

    // The index holds the whole entries really there, and no more is allocated.
    WriteWholeFile(path, Patched(good, idx + 4, 16000) + "12345");
    const int32_t live = MemoryMonitorStatus().liveBytes;
    EXPECT_EQ(IndexOf(path).size(), 3u);
    EXPECT_EQ(MemoryMonitorStatus().liveBytes, live);
    WriteWholeFile(path, Patched(good, idx + 4, 40));
    EXPECT_EQ(IndexOf(path).size(), 2u);
    WriteWholeFile(path, Patched(good, 4, 0xFFFFFFFF));
    EXPECT_EQ(IndexOf(path).size(), 3u);
}

TEST_F(AviHeaders, TruncatedFileReportsWhatCameBeforeTheCut) {
    const std::string path = dir.file("cut.avi");
    const std::string f = Avi();
    const size_t strfEnd = f.find("strf") + 8 + 40, idx = f.rfind("idx1");
    for (size_t cut = 0; cut <= f.size(); cut++) {
        SCOPED_TRACE(cut);
        WriteWholeFile(path, f.substr(0, cut));
        AVIinfoRecord info{};
        int32_t ok = ReadAVIInfo(path.c_str(), info);
        ASSERT_EQ(ok, cut >= strfEnd ? 1 : 0);
        if (ok) {
            ASSERT_EQ(info.width, 320);
        }
        ASSERT_EQ(IndexOf(path).size(), cut > idx + 8 ? (cut - idx - 8) / 16 : 0);
    }
}
