// Choosing and driving a compressor: the dialog's list, its selection memory and control states,
// the quality scroll bar and where the quality goes, the set-up's buffer and format, and one frame
// with its one retry. Fake drivers installed ahead of the built-in ones record what they are sent.
#include "render/compressor.h"

#include <gtest/gtest.h>

#include "render_support.h"

using namespace render_test;

namespace {

BITMAPINFOHEADER Frame24(int32_t w, int32_t h) {
    return {40, w, h, 1, 24, BI_RGB, static_cast<uint32_t>(int64_t{w} * h * 3), 4000, 4000, 0, 0};
}

class CompressorTest : public RenderTest {
  protected:
    BITMAPINFOHEADER input = Frame24(160, 120);
    int64_t Setup(const std::string& code, int quality = -1) {
        Choose(code, quality);
        return CompressorSetup(nullptr, &input);
    }
};

}  // namespace

TEST_F(CompressorTest, DialogListsUsableCompressors) {
    InstallFake(0, "VDOW"), InstallFake(1, "MRLE");  // skipped by name
    InstallFake(2, "RFSE").answers[ICM_COMPRESS_QUERY] = ICERR_BADFORMAT;
    InstallFake(3, "LONG").description = std::string(120, 'x');
    BITMAPINFOHEADER odd = Frame24(162, 122);
    ChooseCompressorModel model(&input), oddModel(&odd);
    ASSERT_TRUE(model.Open() && oddModel.Open());
    const auto& e = model.entries();
    ASSERT_GE(e.size(), 3u);
    EXPECT_TRUE(e[0].description == " ** 24-bit uncompressed **" && e[0].hic == nullptr);
    for (FOURCC gone : {FourCC("VDOW"), FourCC("MRLE"), FourCC("RFSE")})
        EXPECT_EQ(model.FindHandler(gone), -1);
    // Descriptions are the low bytes of the wide characters, at most 99 of them.
    EXPECT_TRUE(e[1].handler == FourCC("LONG") && e[1].description == std::string(99, 'x'));
    // Codes are found in any case; odd sizes drop the block codecs.
    EXPECT_TRUE(model.FindHandler(FourCC("mjpg")) > 0 && model.FindHandler(FourCC("MSVC")) > 0);
    EXPECT_EQ(oddModel.FindHandler(FourCC("MSVC")) + oddModel.FindHandler(FourCC("cvid")), -2);
    oddModel.Cancel(), model.Cancel();

    // No usable compressor: the message, and the dialog ends as cancelled with nothing open.
    ICINFO info;
    while (ICInfo(ICTYPE_VIDEO, 0, &info) && ICRemove(ICTYPE_VIDEO, info.fccHandler, 0)) {
    }
    EXPECT_EQ(Setup(""), kCompressorCancelled);
    EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Couldn't locate any compression drivers."});
    EXPECT_EQ(CurrentCompressor(), nullptr);
}

TEST_F(CompressorTest, SelectionMemoryAndControlStates) {
    FakeDriver& conf = InstallFake(0, "CONF");
    conf.answers[ICM_CONFIGURE] = ICERR_OK, conf.flags = 0;
    // First run: nothing remembered, so the uncompressed entry; OK gives no compressor.
    int seen = -1;
    Dialog([&](ChooseCompressorModel& m) { return seen = m.selection(), true; });
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorUncompressed);
    EXPECT_TRUE(seen == 0 && CompressorMemory().lastPosition == 0 && CompressorBufferBytes() == 0);
    // About, Configure and quality follow the entry (about, configure and quality flags of MJPG, the
    // uncompressed entry, CONF and no entry): the uncompressed entry has none; no entry changes none.
    Dialog([&](ChooseCompressorModel& m) {
        std::string states;
        for (int entry : {m.FindHandler(FourCC("MJPG")), 0, m.FindHandler(FourCC("CONF")), 99})
            m.Select(entry), states += std::to_string(m.aboutEnabled()) +
                                       std::to_string(m.configureEnabled()) +
                                       std::to_string(m.qualityEnabled()) + " ";
        EXPECT_EQ(states, "101 000 010 010 ");
        m.Select(m.FindHandler(FourCC("MJPG")));
        m.About(nullptr), m.Configure(nullptr);  // Configure is disabled for MJPG
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Motion JPEG"});
        return true;
    });
    EXPECT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("MJPG")));
    EXPECT_EQ(CompressorMemory().fourcc, FourCC("MJPG"));
    // The next run preselects the remembered position, even when cancelled.
    const int position = CompressorMemory().lastPosition;
    Dialog([&](ChooseCompressorModel& m) { return seen = m.selection(), false; });
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorCancelled);
    EXPECT_EQ(seen, position);
    // The console's choice by code in any case, and "none", which ends the compressor open before;
    // a code not offered cancels.
    auto p = Choose("cvid");
    EXPECT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("cvid")));
    EXPECT_EQ(p->offered.front(), "none");
    EXPECT_TRUE(Setup("none") == kCompressorUncompressed && CurrentCompressor() == nullptr);
    EXPECT_EQ(Setup("XXXX"), kCompressorCancelled);
}

TEST_F(CompressorTest, QualityScrollKeepsWithinRangeAndReachesTheCompressor) {
    input = Frame24(64, 48);
    std::vector<int> positions;
    Dialog([&](ChooseCompressorModel& m) {
        using M = ChooseCompressorModel;
        m.Select(m.FindHandler(FourCC("MJPG")));
        positions.push_back(m.scrollPosition());  // the kept 10000 shows as 100
        const std::pair<int, int> steps[] = {
            {M::kLineRight, 0}, {M::kPageRight, 0}, {M::kThumbTrack, 250},   {M::kThumbPosition, -7},
            {M::kLineLeft, 0},  {M::kPageLeft, 0},  {M::kPageRight, 0},      {M::kPageRight, 0},
            {M::kPageRight, 0}, {M::kLineLeft, 0},  {8 /* end scroll */, 77}};
        for (auto [code, pos] : steps) m.Scroll(code, pos), positions.push_back(m.scrollPosition());
        EXPECT_EQ(m.numberText(), "29");
        return true;
    });
    EXPECT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("MJPG")));
    EXPECT_EQ(positions, (std::vector<int>{100, 100, 100, 100, 0, 0, 0, 10, 20, 30, 29, 29}));
    EXPECT_EQ(CompressorMemory().quality, 2900);
    EXPECT_EQ(Setup("FFV1", 55), static_cast<int64_t>(FourCC("FFV1")));
    EXPECT_EQ(CompressorMemory().quality, 2900) << "a compressor without quality leaves the kept quality";

    // A kept quality of -1 shows the compressor's default; the kept quality goes with each frame.
    FakeDriver& qual = InstallFake(0, "QUAL");
    CompressorMemory().quality = -1;
    int shown = -1;
    Dialog([&](ChooseCompressorModel& m) {
        return m.Select(m.FindHandler(FourCC("QUAL"))), shown = m.scrollPosition(), true;
    });
    EXPECT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("QUAL")));
    EXPECT_TRUE(shown == 65 && CompressorMemory().quality == 6500);
    ASSERT_EQ(Setup("QUAL", 42), static_cast<int64_t>(FourCC("QUAL")));
    std::vector<uint8_t> pixels(PaddedFrameBytes(64, 48));
    uint32_t size = 0, flags = 0, id = 0;
    ASSERT_NE(CompOneFrame(1, &input, pixels.data(), &size, 0x10, nullptr, nullptr, &flags, &id), nullptr);
    EXPECT_EQ(qual.qualities, std::vector<DWORD>{4200});
}

TEST_F(CompressorTest, SetupBufferFormatAndFailures) {
    const int32_t blocks = MemoryMonitorStatus().liveBlocks;
    input = Frame24(320, 240);
    ASSERT_EQ(Setup("MJPG", 80), static_cast<int64_t>(FourCC("MJPG")));
    // A second set-up ends the first; a short header is replaced by the 48-byte default, of which
    // only the 40-byte header is copied out.
    FakeDriver& shrt = InstallFake(0, "SHRT");
    shrt.formatSize = 20;
    ASSERT_EQ(Setup("SHRT"), static_cast<int64_t>(FourCC("SHRT")));
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, blocks + 1);
    alignas(BITMAPINFOHEADER) uint8_t block[48];
    std::memset(block, 0xEE, sizeof block);
    GetCompressorFormat(reinterpret_cast<BITMAPINFOHEADER*>(block));
    BITMAPINFOHEADER want{48, 320, 240, 1, 24, FourCC("SHRT"), 230400, 4000, 4000, 0, 0};
    EXPECT_TRUE(std::memcmp(block, &want, 40) == 0 && block[40] == 0xEE);
    // A refused begin fails with the codec closed and no buffer (SHRT was ended by this set-up), and
    // so do sizes whose buffer would not fit 31 bits, before anything is allocated.
    InstallFake(1, "NOBG").answers[ICM_COMPRESS_BEGIN] = ICERR_BADFORMAT;
    EXPECT_EQ(Setup("NOBG"), kCompressorFailed);
    EXPECT_TRUE(CurrentCompressor() == nullptr && CompressorBufferBytes() == 0 &&
                shrt.calls[ICM_COMPRESS_END] == 1);
    input = Frame24(40000, 40000);
    InstallFake(2, "ANYS");
    EXPECT_EQ(Setup("ANYS"), kCompressorFailed);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, blocks);
}

TEST_F(CompressorTest, OneFrameWithOneRetry) {
    input = Frame24(162, 120);
    BITMAPINFOHEADER fmt{};
    std::vector<uint8_t> pixels(PaddedFrameBytes(162, 120), 0x80);
    uint32_t size = 0, flags = 99, id = 99;
    auto frame = [&](int32_t n) {
        return static_cast<uint8_t*>(
            CompOneFrame(n, &input, pixels.data(), &size, 0x10, nullptr, nullptr, &flags, &id));
    };
    EXPECT_EQ(frame(1), nullptr);  // nothing set up
    ASSERT_EQ(Setup("MJPG", 90), static_cast<int64_t>(FourCC("MJPG")));
    const uint8_t* out = frame(1);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(input.biSizeImage, 488u * 120u);  // rows padded to 4 bytes
    GetCompressorFormat(&fmt);
    EXPECT_TRUE(fmt.biSizeImage == size && id == FourCC("00dc") && flags == AVIIF_KEYFRAME);
    EXPECT_TRUE(out[0] == 0xFF && out[1] == 0xD8);  // a JPEG starts with its marker
    // One failure is retried once; two give no frame and keep the size, and the compressor stays
    // for the next frame.
    FakeDriver& flky = InstallFake(0, "FLKY");
    flky.failCompressions = 1;
    ASSERT_EQ(Setup("FLKY"), static_cast<int64_t>(FourCC("FLKY")));
    EXPECT_NE(frame(2), nullptr);
    EXPECT_TRUE(size == 10 && flky.calls[ICM_COMPRESS] == 2);
    flky.failCompressions = 2;
    size = 1234;
    EXPECT_EQ(frame(3), nullptr);
    EXPECT_TRUE(size == 1234 && flky.calls[ICM_COMPRESS] == 4);
    EXPECT_NE(frame(4), nullptr);
    CompressorEnd();
    EXPECT_EQ(flky.calls[ICM_COMPRESS_END], 1);
    EXPECT_EQ(frame(5), nullptr);
}
