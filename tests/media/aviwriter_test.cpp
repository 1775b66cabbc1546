// The AVI writer byte for byte: the header block in its three video format forms, the audio stream
// list, padded chunks, the index and its growth, the sizes patched at close, and refused calls.
// ffmpeg's view of the files it writes is in ffmpeg_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "core/memory.h"
#include "media/avilist.h"
#include "media/aviwriter.h"
#include "media/riff.h"
#include "support/crafted.h"
#include "support/scripted.h"
#include "writer_clip.h"

using namespace crafted;

namespace {

// Pairs of offset and the 32-bit word expected there; tags are compared as FOURCC values.
template <typename... Pairs>
void ExpectWords(const std::string& f, Pairs... pairs) {
    const std::vector<uint64_t> v{static_cast<uint64_t>(pairs)...};
    for (size_t i = 0; i + 1 < v.size(); i += 2) EXPECT_EQ(ReadLE32(&f[v[i]]), v[i + 1]) << "at " << v[i];
}

}  // namespace

using AviWriter = ScriptedTest;

TEST_F(AviWriter, UncompressedLayoutWithoutAudio) {
    std::string path = dir.file("u.avi");
    int32_t h = MyOpenWAVI(path.c_str(), 320, 240, 24, -3, nullptr, 0, 66666, 0, 0, 0, 0);
    ASSERT_GT(h, 0);
    const std::string frame = Frame24(320, 240, 0);
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(MyWriteChunk(h, frame.data(), 230400, FourCC("00db"), 0x10), 230408);
    EXPECT_EQ(MyWriteChunk(h, nullptr, 0, FourCC("00db"), 0), 8);  // a drop: an empty chunk
    MyCloseAVI(h, 3);
    const std::string f = ReadWholeFile(path);
    const size_t movi = 220, idx = movi + 12 + 2 * 230408 + 8;
    ASSERT_EQ(f.size(), idx + 8 + 3 * 16);
    ExpectWords(f, 0, FourCC("RIFF"), 4, f.size() - 8, 8, FourCC("AVI "), 12, FourCC("LIST"), 16, 200, 20,
                FourCC("hdrl"), 24, FourCC("avih"), 28, 56, 32, 66666, 44, 0x10, 48, 3, 52, 0, 56, 1, 64, 320,
                68, 240, 88, FourCC("LIST"), 92, 124, 96, FourCC("strl"), 100, FourCC("strh"), 104, 64, 108,
                FourCC("vids"), 112, 0, 128, 66666, 132, 1000000, 140, 3, 172, FourCC("strf"), 176, 40, 180,
                40, 184, 320, 188, 240, 192, 0x180001, 196, 0, 200, 230400, movi, FourCC("LIST"), movi + 4,
                4 + 2 * 230408 + 8, movi + 8, FourCC("movi"), movi + 12, FourCC("00db"), movi + 16, 230400,
                idx - 8, FourCC("00db"), idx - 4, 0, idx, FourCC("idx1"), idx + 4, 48);
    // Index entries: id, flags, absolute position of the chunk header, exact length.
    ExpectWords(f, idx + 8, FourCC("00db"), idx + 12, 0x10, idx + 16, 232, idx + 20, 230400, idx + 44, 0,
                idx + 48, 232 + 2 * 230408, idx + 52, 0);
}

TEST_F(AviWriter, GreyPaletteAudioListAndPadding) {
    std::string path = dir.file("g.avi");
    int32_t h = MyOpenWAVI(path.c_str(), 16, 8, 8, -2, nullptr, 0, 100000, 11025, 1, 8, 0);
    std::string a = Payload(735, 1), v = Payload(128, 2);
    EXPECT_EQ(MyWriteChunk(h, a.data(), 735, FourCC("01wb"), 0), 744);
    EXPECT_EQ(MyWriteChunk(h, v.data(), 128, FourCC("00db"), 0x10), 136);
    MyCloseAVI(h, 1);
    const std::string f = ReadWholeFile(path);
    // A 1064-byte strf with a grey palette; the audio stream list after the 1244-byte header block;
    // an odd audio chunk whose size field and index entry say 735, then a pad byte.
    const size_t al = 1244, movi = al + 108, idx = f.rfind("idx1");
    ExpectWords(f, 16, 1332, 56, 2, 176, 1064, 180, 40, 200, 128, 212, 256, 216, 256, 220 + 4 * 200,
                0x00C8C8C8, al, FourCC("LIST"), al + 4, 100, al + 20, FourCC("auds"), al + 40, 1, al + 44,
                11025, al + 52, 735, al + 64, 1, al + 84, FourCC("strf"), al + 92, 0x10001, al + 96, 11025,
                al + 104, 0x80001, movi + 8, FourCC("movi"), movi + 12, FourCC("01wb"), movi + 16, 735,
                movi + 20 + 736, FourCC("00db"), idx + 16, movi + 12, idx + 20, 735);
    EXPECT_EQ(f[movi + 20 + 735], '\0');
}

TEST_F(AviWriter, MotionJpegAndOtherCodecForms) {
    const std::string path = dir.file("m.avi");
    auto write = [&](const std::string* format, FOURCC codec) {
        auto* h = format ? reinterpret_cast<const BITMAPINFOHEADER*>(format->data()) : nullptr;
        MyCloseAVI(MyOpenWAVI(path.c_str(), 64, 48, 24, -1, h, codec, 66666, 0, 0, 0, 0), 0);
        return ReadWholeFile(path);
    };
    // A supplied 68-byte format is copied whole, its image size recomputed, the JPEG extension set.
    std::string fmt = BitmapHeader(64, 48, 24, FourCC("MJPG"), 68) + std::string(28, '\x55');
    fmt.replace(24, 16, std::string(16, '\x55'));
    std::string f = write(&fmt, FourCC("MJPG"));
    ExpectWords(f, 112, FourCC("MJPG"), 176, 68, 180, 68, 196, FourCC("MJPG"), 200, 64 * 48 * 3, 204,
                0x55555555, 248, FourCC("LIST"));
    EXPECT_EQ(f.substr(220, 28), LE32(44) + LE32(24) + LE32(0) + LE32(2) + LE32(8) + LE32(2) + LE32(1));
    // MJPG without a format: 68 bytes, 28 of them zero; any other codec: the plain header.
    f = write(nullptr, FourCC("MJPG"));
    ExpectWords(f, 176, 68, 180, 68, 196, FourCC("MJPG"));
    EXPECT_EQ(f.substr(220, 28), std::string(28, '\0'));
    ExpectWords(write(nullptr, FourCC("cvid")), 176, 40, 196, FourCC("cvid"), 220, FourCC("LIST"));
}

TEST_F(AviWriter, IndexGrowsOverwritesInPlaceAndRefusesBadCalls) {
    const int32_t liveBefore = MemoryMonitorStatus().liveBlocks;
    // An index sized for one frame; 6 audio pieces per frame for 40 frames need 280 entries.
    std::string path =
        WriteClip(dir.file("grow.avi"), {16, 16, 24, 40, 66666, 8000, 1, 8, {89, 89, 89, 89, 89, 89}}, 1);
    std::string f = ReadWholeFile(path);
    size_t idx = f.rfind("idx1");
    ExpectWords(f, idx + 4, 280 * 16);
    EXPECT_EQ(f.size(), idx + 8 + 280 * 16);
    AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
    EXPECT_TRUE(rec->nidx == 280 && rec->nwb == 240 && rec->audioLength == 240 * 89);
    for (int n = 1; n <= 40; n++) {
        uint8_t* p = getFrameData(n, rec);
        ASSERT_EQ(std::string(reinterpret_cast<char*>(p), static_cast<size_t>(lastFrameSize)),
                  Frame24(16, 16, n - 1));
    }
    CloseAVIlist(rec);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore);  // the writer's index is released too

    // A positive frame count writes over the file without truncating it; bad calls write nothing.
    path = dir.file("over.avi");
    WriteWholeFile(path, std::string(100000, 'z'));
    int32_t h = MyOpenWAVI(path.c_str(), 8, 8, 24, 2, nullptr, 0, 40000, 0, 0, 0, 5);
    std::string v = Frame24(8, 8, 1);
    EXPECT_EQ(MyWriteChunk(h + 1000, v.data(), 192, FourCC("00db"), 0x10), 0);  // another handle
    EXPECT_EQ(MyWriteChunk(h, v.data(), -1, FourCC("00db"), 0x10), 0);
    EXPECT_EQ(MyWriteChunk(h, nullptr, 10, FourCC("00db"), 0x10), 0);
    EXPECT_EQ(MyWriteChunk(h, v.data(), 192, FourCC("00db"), 0x10), 200);
    MyCloseAVI(h, 1);
    f = ReadWholeFile(path);
    EXPECT_EQ(f.size(), 100000u);
    ExpectWords(f, 52, 5);  // initial frames as given
    AVIinfoRecord info{};
    ASSERT_EQ(ReadAVIInfo(path.c_str(), info), 1);
    EXPECT_TRUE(info.fileLength == 220 + 12 + 200 + 8 + 16 && info.totalFrames == 1);
    EXPECT_EQ(MyWriteChunk(h, v.data(), 192, FourCC("00db"), 0x10), 0);  // after close
    MyCloseAVI(h, 1);
    EXPECT_EQ(ReadWholeFile(path), f);

    const std::string bad = dir.file("no/such/dir.avi");
    EXPECT_EQ(MyOpenWAVI(bad.c_str(), 320, 240, 24, -1, nullptr, 0, 66666, 22050, 2, 16, 0), 0);
    EXPECT_EQ(boxes->texts(), std::vector<std::string>{"MyOpenWAVI failed: <" + bad +
                                                       "> 320x240x24 00000000 66666 22050 2 16"});

    // A named pipe with no reader is refused at once instead of blocking the writer, and a file
    // without write bits keeps its bytes, whoever runs the program.
    const std::string fifo = dir.file("pipe.avi");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(MyOpenWAVI(fifo.c_str(), 8, 8, 24, -1, nullptr, 0, 40000, 0, 0, 0, 0), 0);
    const std::string kept = dir.file("kept.avi");
    WriteWholeFile(kept, "precious");
    ASSERT_EQ(chmod(kept.c_str(), 0444), 0);
    EXPECT_EQ(MyOpenWAVI(kept.c_str(), 8, 8, 24, -1, nullptr, 0, 40000, 0, 0, 0, 0), 0);
    EXPECT_EQ(ReadWholeFile(kept), "precious");
    EXPECT_EQ(boxes->texts().size(), 3u);
}
