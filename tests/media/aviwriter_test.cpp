// The AVI writer: the header block and its three video format forms, the audio stream list, chunks
// with their padding, the index (and its growth) and the sizes patched at close; then the files it
// writes, read by ffprobe and decoded by ffmpeg, and read back by the program's own reader.
#include <gtest/gtest.h>

#include "core/memory.h"
#include "media/avilist.h"
#include "media/aviwriter.h"
#include "media/riff.h"
#include "media_support.h"
#include "support/scripted.h"

using namespace media_test;

namespace {

uint32_t U32(const std::string& f, size_t at) {
    return ReadLE32(&f[at]);
}
std::string Tag(const std::string& f, size_t at) {
    return f.substr(at, 4);
}

// A bottom-up 24-bit frame with a pattern that moves with n.
std::string Frame24(int32_t w, int32_t h, int n) {
    int32_t row = (w * 3 + 3) & ~3;
    std::string f(static_cast<size_t>(row * h), '\0');
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            f[static_cast<size_t>(y * row + x * 3 + 0)] = static_cast<char>((x * 4 + n * 8) & 0xFF);
            f[static_cast<size_t>(y * row + x * 3 + 1)] = static_cast<char>((y * 4) & 0xFF);
            f[static_cast<size_t>(y * row + x * 3 + 2)] = static_cast<char>((x + y + n) & 0xFF);
        }
    return f;
}

struct Written {
    std::string path;
    int32_t frames;
};

// Writes frames of w x h at bits (24 or 8) with usPerFrame, and audio pieces of the given sizes
// before each frame when samplesPerSec is not 0.
Written WriteClip(const std::string& path, int32_t w, int32_t h, int32_t bits, int32_t frames,
                  int32_t usPerFrame, int32_t samplesPerSec, int32_t channels, int32_t sampleBits,
                  std::vector<int32_t> audioPieces, int32_t indexFrames = 0) {
    int32_t handle = MyOpenWAVI(path.c_str(), w, h, bits, -(indexFrames ? indexFrames : frames), nullptr, 0,
                                usPerFrame, samplesPerSec, channels, sampleBits, 0);
    EXPECT_GT(handle, 0);
    int serial = 0;
    for (int n = 0; n < frames; n++) {
        for (int32_t piece : audioPieces) {
            std::string a = Payload(static_cast<size_t>(piece), 500 + serial++);
            MyWriteChunk(handle, a.data(), piece, FourCC("01wb"), 0);
        }
        std::string v = bits == 24 ? Frame24(w, h, n) : Payload(static_cast<size_t>(((w + 3) & ~3) * h), n);
        MyWriteChunk(handle, v.data(), static_cast<int32_t>(v.size()), FourCC("00db"), 0x10);
    }
    MyCloseAVI(handle, frames);
    return {path, frames};
}

}  // namespace

TEST(AviWriter, UncompressedLayoutWithoutAudio) {
    TempDir dir;
    std::string path = dir.file("u.avi");
    int32_t h = MyOpenWAVI(path.c_str(), 320, 240, 24, -3, nullptr, 0, 66666, 0, 0, 0, 0);
    ASSERT_GT(h, 0);
    std::string frame = Frame24(320, 240, 0);
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(MyWriteChunk(h, frame.data(), 230400, FourCC("00db"), 0x10), 230408);
    EXPECT_EQ(MyWriteChunk(h, nullptr, 0, FourCC("00db"), 0), 8);  // a drop: an empty chunk
    MyCloseAVI(h, 3);
    std::string f = ReadWholeFile(path);
    const size_t movi = 220;
    const size_t idx = movi + 12 + 2 * 230408 + 8;
    ASSERT_EQ(f.size(), idx + 8 + 3 * 16);
    EXPECT_EQ(Tag(f, 0), "RIFF");
    EXPECT_EQ(U32(f, 4), f.size() - 8);
    EXPECT_EQ(Tag(f, 8), "AVI ");
    EXPECT_EQ(Tag(f, 12), "LIST");
    EXPECT_EQ(U32(f, 16), 200u);  // 160 + a 40-byte format
    EXPECT_EQ(Tag(f, 20), "hdrl");
    EXPECT_EQ(Tag(f, 24), "avih");
    EXPECT_EQ(U32(f, 28), 56u);
    EXPECT_EQ(U32(f, 32), 66666u);
    EXPECT_EQ(U32(f, 44), 0x10u);
    EXPECT_EQ(U32(f, 48), 3u);
    EXPECT_EQ(U32(f, 52), 0u);
    EXPECT_EQ(U32(f, 56), 1u);
    EXPECT_EQ(U32(f, 64), 320u);
    EXPECT_EQ(U32(f, 68), 240u);
    EXPECT_EQ(Tag(f, 88), "LIST");
    EXPECT_EQ(U32(f, 92), 124u);
    EXPECT_EQ(Tag(f, 96), "strl");
    EXPECT_EQ(Tag(f, 100), "strh");
    EXPECT_EQ(U32(f, 104), 64u);
    EXPECT_EQ(Tag(f, 108), "vids");
    EXPECT_EQ(U32(f, 112), 0u);
    EXPECT_EQ(U32(f, 128), 66666u);
    EXPECT_EQ(U32(f, 132), 1000000u);
    EXPECT_EQ(U32(f, 140), 3u);
    EXPECT_EQ(Tag(f, 172), "strf");
    EXPECT_EQ(U32(f, 176), 40u);
    EXPECT_EQ(U32(f, 180), 40u);
    EXPECT_EQ(U32(f, 184), 320u);
    EXPECT_EQ(U32(f, 188), 240u);
    EXPECT_EQ(ReadLE16(&f[192]), 1);
    EXPECT_EQ(ReadLE16(&f[194]), 24);
    EXPECT_EQ(U32(f, 196), 0u);
    EXPECT_EQ(U32(f, 200), 230400u);
    EXPECT_EQ(Tag(f, movi), "LIST");
    EXPECT_EQ(U32(f, movi + 4), 4 + 2 * 230408u + 8);
    EXPECT_EQ(Tag(f, movi + 8), "movi");
    EXPECT_EQ(Tag(f, movi + 12), "00db");
    EXPECT_EQ(U32(f, movi + 16), 230400u);
    EXPECT_EQ(Tag(f, idx - 8), "00db");
    EXPECT_EQ(U32(f, idx - 4), 0u);
    EXPECT_EQ(Tag(f, idx), "idx1");
    EXPECT_EQ(U32(f, idx + 4), 48u);
    // Entries: id, flags, absolute position of the chunk header, exact length.
    EXPECT_EQ(Tag(f, idx + 8), "00db");
    EXPECT_EQ(U32(f, idx + 12), 0x10u);
    EXPECT_EQ(U32(f, idx + 16), 232u);
    EXPECT_EQ(U32(f, idx + 20), 230400u);
    EXPECT_EQ(U32(f, idx + 8 + 32 + 4), 0u);
    EXPECT_EQ(U32(f, idx + 8 + 32 + 8), 232u + 2 * 230408);
    EXPECT_EQ(U32(f, idx + 8 + 32 + 12), 0u);

    // The reader takes the offsets as absolute (the first is not below the movi position).
    AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->idx[0].dwChunkOffset, 240u);
    EXPECT_EQ(rec->ndb, 3);
    uint8_t* p = getFrameData(3, rec);  // the drop shows frame 2
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(lastFrameSize, 230400);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(p), 230400), frame);
    CloseAVIlist(rec);
}

TEST(AviWriter, GreyPaletteAudioListAndPadding) {
    TempDir dir;
    std::string path = dir.file("g.avi");
    int32_t h = MyOpenWAVI(path.c_str(), 16, 8, 8, -2, nullptr, 0, 100000, 11025, 1, 8, 0);
    ASSERT_GT(h, 0);
    std::string a = Payload(735, 1);
    EXPECT_EQ(MyWriteChunk(h, a.data(), 735, FourCC("01wb"), 0), 744);
    std::string v = Payload(128, 2);
    EXPECT_EQ(MyWriteChunk(h, v.data(), 128, FourCC("00db"), 0x10), 136);
    MyCloseAVI(h, 1);
    std::string f = ReadWholeFile(path);
    // The 8-bit form: a 1064-byte strf with a grey palette, a 1244-byte header block.
    EXPECT_EQ(U32(f, 176), 1064u);
    EXPECT_EQ(U32(f, 180), 40u);
    EXPECT_EQ(U32(f, 200), 128u);  // 1 x 16 x 8
    EXPECT_EQ(U32(f, 212), 256u);
    EXPECT_EQ(U32(f, 216), 256u);
    EXPECT_EQ(U32(f, 220 + 4 * 200), 0x00C8C8C8u);
    EXPECT_EQ(U32(f, 16), 76u + 84 + 1064 + 108);
    EXPECT_EQ(U32(f, 56), 2u);
    // The audio stream list follows the header block.
    const size_t al = 1244;
    EXPECT_EQ(Tag(f, al), "LIST");
    EXPECT_EQ(U32(f, al + 4), 100u);
    EXPECT_EQ(Tag(f, al + 20), "auds");
    EXPECT_EQ(U32(f, al + 40), 1u);
    EXPECT_EQ(U32(f, al + 44), 11025u);
    EXPECT_EQ(U32(f, al + 52), 735u);  // audio bytes / block align, set at close
    EXPECT_EQ(U32(f, al + 64), 1u);
    EXPECT_EQ(Tag(f, al + 84), "strf");
    EXPECT_EQ(ReadLE16(&f[al + 92]), 1);
    EXPECT_EQ(ReadLE16(&f[al + 94]), 1);
    EXPECT_EQ(U32(f, al + 96), 11025u);
    EXPECT_EQ(ReadLE16(&f[al + 106]), 8);
    // An odd audio chunk: the size field says 736, a pad byte follows, the index keeps 735.
    const size_t movi = al + 108;
    EXPECT_EQ(Tag(f, movi + 8), "movi");
    EXPECT_EQ(Tag(f, movi + 12), "01wb");
    EXPECT_EQ(U32(f, movi + 16), 736u);
    EXPECT_EQ(f[movi + 20 + 735], '\0');
    EXPECT_EQ(Tag(f, movi + 20 + 736), "00db");
    size_t idx = f.rfind("idx1");
    EXPECT_EQ(U32(f, idx + 8 + 12), 735u);
    EXPECT_EQ(U32(f, idx + 8 + 8), movi + 12);
}

TEST(AviWriter, MotionJpegForms) {
    TempDir dir;
    // A supplied 68-byte format is copied whole with the JPEG extension filled in.
    std::string fmt(68, '\x55');
    WriteLE32(&fmt[0], 68);
    WriteLE32(&fmt[4], 64);
    WriteLE32(&fmt[8], 48);
    WriteLE16(&fmt[12], 1);
    WriteLE16(&fmt[14], 24);
    WriteLE32(&fmt[16], FourCC("MJPG"));
    std::string path = dir.file("m68.avi");
    int32_t h =
        MyOpenWAVI(path.c_str(), 64, 48, 24, -1, reinterpret_cast<const BITMAPINFOHEADER*>(fmt.data()),
                   FourCC("MJPG"), 66666, 0, 0, 0, 0);
    ASSERT_GT(h, 0);
    MyCloseAVI(h, 0);
    std::string f = ReadWholeFile(path);
    EXPECT_EQ(U32(f, 112), FourCC("MJPG"));
    EXPECT_EQ(U32(f, 176), 68u);
    EXPECT_EQ(U32(f, 180), 68u);
    EXPECT_EQ(U32(f, 196), FourCC("MJPG"));
    EXPECT_EQ(U32(f, 200), 64u * 48 * 3);  // recomputed
    EXPECT_EQ(U32(f, 204), 0x55555555u);   // the rest of the supplied header stays
    const uint32_t ext[7] = {44, 24, 0, 2, 8, 2, 1};
    for (int i = 0; i < 7; i++) EXPECT_EQ(U32(f, 220 + 4 * i), ext[i]);
    EXPECT_EQ(Tag(f, 248), "LIST");
    EXPECT_EQ(Tag(f, 256), "movi");

    // "MJPG" without such a format: a 68-byte header with 28 zero bytes.
    path = dir.file("mj.avi");
    h = MyOpenWAVI(path.c_str(), 64, 48, 24, -1, nullptr, FourCC("MJPG"), 66666, 0, 0, 0, 0);
    MyCloseAVI(h, 0);
    f = ReadWholeFile(path);
    EXPECT_EQ(U32(f, 176), 68u);
    EXPECT_EQ(U32(f, 180), 68u);
    EXPECT_EQ(U32(f, 196), FourCC("MJPG"));
    EXPECT_EQ(f.substr(220, 28), std::string(28, '\0'));

    // Any other codec: the plain header with the handler as compression.
    path = dir.file("cv.avi");
    h = MyOpenWAVI(path.c_str(), 64, 48, 24, -1, nullptr, FourCC("cvid"), 66666, 0, 0, 0, 0);
    MyCloseAVI(h, 0);
    f = ReadWholeFile(path);
    EXPECT_EQ(U32(f, 176), 40u);
    EXPECT_EQ(U32(f, 196), FourCC("cvid"));
    EXPECT_EQ(Tag(f, 220), "LIST");
}

TEST(AviWriter, IndexGrowsAndNothingIsWrittenPastIt) {
    TempDir dir;
    const int32_t liveBefore = MemoryMonitorStatus().liveBlocks;
    std::string path = dir.file("grow.avi");
    // The index is sized for 3 entries per frame of one frame; 6 audio pieces per frame for 40 frames
    // need 280 entries.
    WriteClip(path, 16, 16, 24, 40, 66666, 8000, 1, 8, {89, 89, 89, 89, 89, 89}, 1);
    std::string f = ReadWholeFile(path);
    size_t idx = f.rfind("idx1");
    EXPECT_EQ(U32(f, idx + 4), 280u * 16);
    EXPECT_EQ(f.size(), idx + 8 + 280 * 16);
    AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
    ASSERT_NE(rec, nullptr);
    EXPECT_EQ(rec->nidx, 280);
    EXPECT_EQ(rec->nwb, 240);
    EXPECT_EQ(rec->audioLength, 240 * 89);
    for (int n = 1; n <= 40; n++) {
        uint8_t* p = getFrameData(n, rec);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(std::string(reinterpret_cast<char*>(p), static_cast<size_t>(lastFrameSize)),
                  Frame24(16, 16, n - 1));
    }
    CloseAVIlist(rec);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore);  // the writer's index is released too
}

TEST(AviWriter, WritesOverInPlaceAndRefusesBadCalls) {
    TempDir dir;
    std::string path = dir.file("over.avi");
    WriteWholeFile(path, std::string(100000, 'z'));
    // A positive frame count writes over the existing file without truncating it.
    int32_t h = MyOpenWAVI(path.c_str(), 8, 8, 24, 2, nullptr, 0, 40000, 0, 0, 0, 5);
    ASSERT_GT(h, 0);
    std::string v = Frame24(8, 8, 1);
    EXPECT_EQ(MyWriteChunk(h + 1000, v.data(), 192, FourCC("00db"), 0x10), 0);  // another handle
    EXPECT_EQ(MyWriteChunk(h, v.data(), -1, FourCC("00db"), 0x10), 0);
    EXPECT_EQ(MyWriteChunk(h, nullptr, 10, FourCC("00db"), 0x10), 0);
    EXPECT_EQ(MyWriteChunk(h, v.data(), 192, FourCC("00db"), 0x10), 200);
    MyCloseAVI(h, 1);
    std::string f = ReadWholeFile(path);
    EXPECT_EQ(f.size(), 100000u);
    EXPECT_EQ(U32(f, 52), 5u);  // initial frames as given
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.fileLength, 220 + 12 + 200 + 8 + 16);
    EXPECT_EQ(AVIinfo.totalFrames, 1);
    // Writing after close, or closing twice, does nothing.
    EXPECT_EQ(MyWriteChunk(h, v.data(), 192, FourCC("00db"), 0x10), 0);
    MyCloseAVI(h, 1);
    EXPECT_EQ(ReadWholeFile(path), f);

    ScopedBoxes boxes;
    EXPECT_EQ(
        MyOpenWAVI(dir.file("no/such/dir.avi").c_str(), 320, 240, 24, -1, nullptr, 0, 66666, 22050, 2, 16, 0),
        0);
    ASSERT_EQ(boxes->shown.size(), 1u);
    EXPECT_EQ(boxes->shown[0].text, "MyOpenWAVI failed: <" + dir.file("no/such/dir.avi") +
                                        "> 320x240x24 00000000 66666 22050 2 16");
}

// The files the writer makes, as an independent reader sees them.
TEST(AviWriterWithFfmpeg, ProbedDecodedAndReadBack) {
    TempDir dir;
    struct Case {
        const char* name;
        int32_t w, h, bits, frames, us, rate, channels, sampleBits;
        std::vector<int32_t> pieces;
        const char* pixFmt;
        const char* audioCodec;
    };
    const Case cases[] = {
        {"rgb.avi", 64, 48, 24, 20, 66666, 0, 0, 0, {}, "bgr24", nullptr},
        {"rgb_s16.avi", 32, 24, 24, 12, 33367, 22050, 2, 16, {736, 736}, "bgr24", "pcm_s16le"},
        {"grey_u8_odd.avi", 20, 10, 8, 15, 66666, 11025, 1, 8, {735, 1}, "pal8", "pcm_u8"},
        {"grey.avi", 16, 16, 8, 10, 40000, 0, 0, 0, {}, "pal8", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = dir.file(c.name);
        WriteClip(path, c.w, c.h, c.bits, c.frames, c.us, c.rate, c.channels, c.sampleBits, c.pieces);
        auto v = ProbeStream(path, "v:0");
        EXPECT_EQ(v["codec_name"], "rawvideo");
        EXPECT_EQ(v["codec_tag"], "0x0000");
        EXPECT_EQ(v["width"], std::to_string(c.w));
        EXPECT_EQ(v["height"], std::to_string(c.h));
        EXPECT_EQ(v["pix_fmt"], c.pixFmt);
        EXPECT_EQ(v["nb_frames"], std::to_string(c.frames));
        auto [num, den] = Reduced(1000000, static_cast<uint64_t>(c.us));
        EXPECT_EQ(v["r_frame_rate"], std::to_string(num) + "/" + std::to_string(den));
        auto a = ProbeStream(path, "a:0");
        if (c.audioCodec) {
            EXPECT_EQ(a["codec_name"], c.audioCodec);
            EXPECT_EQ(a["sample_rate"], std::to_string(c.rate));
            EXPECT_EQ(a["channels"], std::to_string(c.channels));
            EXPECT_EQ(a["bits_per_sample"], std::to_string(c.sampleBits));
        } else {
            EXPECT_TRUE(a.empty());
        }
        // ffmpeg decodes every packet without a word.
        int status = 0;
        std::string errors = Shell("ffmpeg -nostdin -v error -i " + Quote(path) + " -f null - 2>&1", &status);
        EXPECT_EQ(errors, "");
        EXPECT_EQ(status, 0);
        // Its packets are the chunks written, frame by frame.
        auto packets = ProbePackets(path);
        ASSERT_EQ(packets.size(), static_cast<size_t>(c.frames));
        // And the program's own reader takes the file back.
        ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
        EXPECT_EQ(AVIinfo.totalFrames, c.frames);
        EXPECT_EQ(AVIinfo.samplesPerSec, c.rate);
        AVIlist* rec = OpenAVIforList(path.c_str(), 0, -1);
        ASSERT_NE(rec, nullptr);
        for (int n = 1; n <= c.frames; n++) {
            uint8_t* p = getFrameData(n, rec);
            ASSERT_NE(p, nullptr);
            ASSERT_EQ(static_cast<uint32_t>(lastFrameSize), packets[n - 1].size);
            ASSERT_EQ(Hex8(Crc32(p, static_cast<size_t>(lastFrameSize))), packets[n - 1].crc);
        }
        CloseAVIlist(rec);
    }
}
