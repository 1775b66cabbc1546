// Choosing and driving a compressor: the dialog's list, its selection memory and control states,
// the quality scroll bar and where the quality goes, the set-up's buffer and format, and one frame
// with its one retry. Fake drivers installed ahead of the built-in ones record what they are sent.
#include "render/compressor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "support/scripted.h"

namespace {

struct FakeDriver {
    bool acceptInput = true, beginOk = true, configurable = false;
    uint32_t formatSize = 40;  // biSize written by ICM_COMPRESS_GET_FORMAT
    DWORD flags = VIDCF_QUALITY, defaultQuality = 6500;
    int failCompressions = 0;  // how many ICM_COMPRESS calls fail before one succeeds
    std::string description = "Fake codec";
    FOURCC handler = 0;
    int opens = 0, closes = 0, compressions = 0, ends = 0;
    std::vector<DWORD> qualities;
} gFakes[4];

template <int N>
LRESULT FakeProc(DWORD_PTR, HDRVR, UINT msg, LPARAM l1, LPARAM l2) {
    FakeDriver& f = gFakes[N];
    switch (msg) {
        case DRV_OPEN:
            return ++f.opens, N + 1;
        case DRV_CLOSE:
            return ++f.closes, 1;
        case ICM_GETINFO: {
            auto* info = reinterpret_cast<ICINFO*>(l1);
            *info = ICINFO{};
            info->dwSize = sizeof *info, info->fccType = ICTYPE_VIDEO, info->fccHandler = f.handler;
            info->dwFlags = f.flags;
            for (size_t i = 0; i < f.description.size() && i < 127; ++i)  // wide characters with a high byte
                info->szDescription[i] =
                    static_cast<WCHAR>(0x4100 | static_cast<unsigned char>(f.description[i]));
            return sizeof *info;
        }
        case ICM_COMPRESS_QUERY:
            return f.acceptInput ? ICERR_OK : ICERR_BADFORMAT;
        case ICM_COMPRESS_GET_FORMAT:
            if (auto* out = reinterpret_cast<BITMAPINFOHEADER*>(l2)) {
                *out = *reinterpret_cast<const BITMAPINFOHEADER*>(l1);
                out->biSize = f.formatSize, out->biCompression = f.handler;
            }
            return ICERR_OK;
        case ICM_COMPRESS_BEGIN:
            return f.beginOk ? ICERR_OK : ICERR_BADFORMAT;
        case ICM_COMPRESS: {
            auto* c = reinterpret_cast<ICCOMPRESS*>(l1);
            f.compressions++;
            f.qualities.push_back(c->dwQuality);
            if (f.failCompressions > 0) return f.failCompressions--, ICERR_INTERNAL;
            std::memset(c->lpOutput, 0x5A, 10);
            c->lpbiOutput->biSizeImage = 10, *c->lpckid = FourCC("00dc"), *c->lpdwFlags = AVIIF_KEYFRAME;
            return ICERR_OK;
        }
        case ICM_COMPRESS_END:
            return ++f.ends, ICERR_OK;
        case ICM_GETDEFAULTQUALITY:
            return *reinterpret_cast<DWORD*>(l1) = f.defaultQuality, ICERR_OK;
        case ICM_CONFIGURE:
            return f.configurable ? ICERR_OK : ICERR_UNSUPPORTED;
        default:
            return ICERR_UNSUPPORTED;
    }
}

const DRIVERPROC kProcs[] = {&FakeProc<0>, &FakeProc<1>, &FakeProc<2>, &FakeProc<3>};

FakeDriver& Install(int n, const char (&code)[5]) {
    gFakes[n].handler = FourCC(code);
    EXPECT_TRUE(ICInstall(ICTYPE_VIDEO, FourCC(code), reinterpret_cast<LPARAM>(kProcs[n]), nullptr,
                          ICINSTALL_FUNCTION));
    return gFakes[n];
}

BITMAPINFOHEADER Frame24(int32_t w, int32_t h) {
    return {40, w, h, 1, 24, BI_RGB, static_cast<uint32_t>(int64_t{w} * h * 3), 4000, 4000, 0, 0};
}

class CompressorTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetCompressorState();
        ICResetDrivers();
        for (auto& f : gFakes) f = FakeDriver{};
        previous_ = SetCompressorDialogProvider(nullptr);
    }
    void TearDown() override {
        ResetCompressorState();
        ICResetDrivers();
        SetCompressorDialogProvider(previous_);
        for (auto& f : gFakes) EXPECT_EQ(f.opens, f.closes) << "a driver left open";
    }
    std::shared_ptr<ScriptedCompressorChoice> Choose(const std::string& code, int quality = -1) {
        auto p = std::make_shared<ScriptedCompressorChoice>(code, quality);
        SetCompressorDialogProvider(p);
        return p;
    }
    void Dialog(std::function<bool(ChooseCompressorModel&)> run) {
        SetCompressorDialogProvider(std::make_shared<FunctionCompressorDialog>(
            [run](HWND, ChooseCompressorModel& m) { return run(m); }));
    }
    std::shared_ptr<CompressorDialogProvider> previous_;
};

}  // namespace

TEST_F(CompressorTest, DialogListsUsableCompressors) {
    Install(0, "VDOW"), Install(1, "MRLE");  // skipped by name
    Install(2, "RFSE").acceptInput = false;
    Install(3, "LONG").description = std::string(120, 'x');
    BITMAPINFOHEADER input = Frame24(160, 120), odd = Frame24(162, 122);
    ChooseCompressorModel model(&input), oddModel(&odd);
    ASSERT_TRUE(model.Open() && oddModel.Open());
    const auto& e = model.entries();
    ASSERT_GE(e.size(), 3u);
    EXPECT_TRUE(e[0].description == " ** 24-bit uncompressed **" && e[0].hic == nullptr);
    for (FOURCC gone : {FourCC("VDOW"), FourCC("MRLE"), FourCC("RFSE")})
        EXPECT_EQ(model.FindHandler(gone), -1);
    // Descriptions are the low bytes of the wide characters, at most 99 of them.
    EXPECT_TRUE(e[1].handler == FourCC("LONG") && e[1].description == std::string(99, 'x'));
    EXPECT_NE(model.FindHandler(FourCC("mjpg")), -1);
    EXPECT_NE(model.FindHandler(FourCC("MSVC")), -1);
    // Odd sizes drop the block codecs.
    EXPECT_EQ(oddModel.FindHandler(FourCC("MSVC")) + oddModel.FindHandler(FourCC("cvid")), -2);
    EXPECT_NE(oddModel.FindHandler(FourCC("MJPG")), -1);
    oddModel.Cancel();
    model.Cancel();

    // No usable compressor: the message, and the dialog ends as cancelled with nothing open.
    ICINFO info;
    while (ICInfo(ICTYPE_VIDEO, 0, &info) && ICRemove(ICTYPE_VIDEO, info.fccHandler, 0)) {
    }
    ScopedBoxes boxes;
    Choose("");
    EXPECT_EQ(ChooseCompressor(nullptr, &input), ChooseCancelled());
    EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Couldn't locate any compression drivers."});
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorCancelled);
    EXPECT_EQ(CurrentCompressor(), nullptr);
}

TEST_F(CompressorTest, SelectionMemoryAndControlStates) {
    FakeDriver& conf = Install(0, "CONF");
    conf.configurable = true, conf.flags = 0;
    BITMAPINFOHEADER input = Frame24(160, 120);
    // First run: nothing remembered, so the uncompressed entry; OK gives no compressor.
    int seen = -1;
    Dialog([&](ChooseCompressorModel& m) { return seen = m.selection(), true; });
    EXPECT_EQ(ChooseCompressor(nullptr, &input), nullptr);
    EXPECT_TRUE(seen == 0 && CompressorMemory().lastPosition == 0);
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorUncompressed);
    EXPECT_EQ(CompressorBufferBytes(), 0u);

    // About, Configure and quality follow the entry; the uncompressed entry changes none of them.
    Dialog([&](ChooseCompressorModel& m) {
        auto states = [&] {
            return std::vector<bool>{m.aboutEnabled(), m.configureEnabled(), m.qualityEnabled()};
        };
        m.Select(m.FindHandler(FourCC("MJPG")));
        EXPECT_EQ(states(), (std::vector<bool>{true, false, true}));
        m.Select(0);
        EXPECT_EQ(states(), (std::vector<bool>{true, false, true}));
        m.Select(m.FindHandler(FourCC("CONF")));
        EXPECT_EQ(states(), (std::vector<bool>{false, true, false}));
        m.Select(99);  // not an entry: nothing changes
        EXPECT_EQ(m.selection(), m.FindHandler(FourCC("CONF")));
        m.Select(m.FindHandler(FourCC("MJPG")));
        ScopedBoxes boxes;
        m.About(nullptr);
        m.Configure(nullptr);  // disabled for MJPG
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Motion JPEG"});
        return true;
    });
    HIC mjpg = ChooseCompressor(nullptr, &input);
    ASSERT_TRUE(mjpg && mjpg != ChooseCancelled());
    ICINFO info{};
    ICGetInfo(mjpg, &info, sizeof info);
    EXPECT_EQ(info.fccHandler, FourCC("MJPG"));
    ICClose(mjpg);
    EXPECT_EQ(CompressorMemory().fourcc, FourCC("MJPG"));

    // The next run preselects the remembered position, even when cancelled.
    const int position = CompressorMemory().lastPosition;
    Dialog([&](ChooseCompressorModel& m) { return seen = m.selection(), false; });
    EXPECT_EQ(ChooseCompressor(nullptr, &input), ChooseCancelled());
    EXPECT_EQ(seen, position);
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorCancelled);
    // The console choice by code, in any case, and "none".
    auto p = Choose("cvid");
    EXPECT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("cvid")));
    EXPECT_EQ(p->offered.front(), "none");
    Choose("none");
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorUncompressed);
    EXPECT_EQ(CurrentCompressor(), nullptr);  // the cvid compressor was ended by the new set-up
    Choose("XXXX");
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorCancelled);
}

TEST_F(CompressorTest, QualityScrollKeepsWithinRangeAndReachesTheCompressor) {
    BITMAPINFOHEADER input = Frame24(64, 48);
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
    ICClose(ChooseCompressor(nullptr, &input));
    EXPECT_EQ(positions, (std::vector<int>{100, 100, 100, 100, 0, 0, 0, 10, 20, 30, 29, 29}));
    EXPECT_EQ(CompressorMemory().quality, 2900);
    Choose("FFV1", 55);  // a compressor without quality leaves the kept quality
    EXPECT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("FFV1")));
    EXPECT_EQ(CompressorMemory().quality, 2900);

    // A kept quality of -1 shows the compressor's default; the kept quality goes with each frame.
    FakeDriver& qual = Install(0, "QUAL");
    CompressorMemory().quality = -1;
    int shown = -1;
    Dialog([&](ChooseCompressorModel& m) {
        return m.Select(m.FindHandler(FourCC("QUAL"))), shown = m.scrollPosition(), true;
    });
    EXPECT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("QUAL")));
    EXPECT_TRUE(shown == 65 && CompressorMemory().quality == 6500);
    Choose("QUAL", 42);
    ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("QUAL")));
    std::vector<uint8_t> noise(PaddedFrameBytes(64, 48));
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>((i * 7919) >> 3);
    uint32_t size = 0, flags = 0, id = 0, sizes[2] = {};
    ASSERT_NE(CompOneFrame(1, &input, noise.data(), &size, 0x10, nullptr, nullptr, &flags, &id), nullptr);
    EXPECT_EQ(qual.qualities, std::vector<DWORD>{4200});
    // With MJPG a lower quality gives a smaller frame.
    for (int k = 0; k < 2; ++k) {
        Choose("MJPG", k ? 5 : 95);
        ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("MJPG")));
        ASSERT_NE(CompOneFrame(1, &input, noise.data(), &sizes[k], 0x10, nullptr, nullptr, &flags, &id),
                  nullptr);
    }
    EXPECT_GT(sizes[0], sizes[1] * 2);
}

TEST_F(CompressorTest, SetupBufferFormatAndFailures) {
    ResetMemoryMonitor();
    BITMAPINFOHEADER input = Frame24(320, 240), out{};
    Choose("MJPG", 80);
    ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("MJPG")));
    GetCompressorFormat(&out);
    EXPECT_TRUE(out.biSize == 40 && out.biCompression == FourCC("MJPG") && out.biSizeImage == 230400);
    EXPECT_EQ(CompressorBufferBytes(), 230468u);
    EXPECT_EQ(MemoryMonitorStatus().liveBytes, 230468);
    // A second set-up ends the first; a short header is replaced by the 48-byte default, of which
    // only the 40-byte header is copied out.
    FakeDriver& shrt = Install(0, "SHRT");
    shrt.formatSize = 20;
    Choose("SHRT");
    ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("SHRT")));
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, 1);
    alignas(BITMAPINFOHEADER) uint8_t block[48];
    std::memset(block, 0xEE, sizeof block);
    GetCompressorFormat(reinterpret_cast<BITMAPINFOHEADER*>(block));
    BITMAPINFOHEADER want{48, 320, 240, 1, 24, FourCC("SHRT"), 230400, 4000, 4000, 0, 0};
    EXPECT_EQ(std::memcmp(block, &want, 40), 0);
    EXPECT_EQ(block[40], 0xEE);
    // A refused begin: failed, the codec closed, no buffer; SHRT was ended by this set-up.
    Install(1, "NOBG").beginOk = false;
    Choose("NOBG");
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorFailed);
    EXPECT_TRUE(CurrentCompressor() == nullptr && CompressorBufferBytes() == 0 && shrt.ends == 1);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, 0);
    // Sizes whose buffer would not fit 31 bits fail before anything is allocated.
    BITMAPINFOHEADER huge = Frame24(40000, 40000);
    Install(2, "ANYS");
    Choose("ANYS");
    EXPECT_EQ(CompressorSetup(nullptr, &huge), kCompressorFailed);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, 0);
    EXPECT_EQ(PaddedFrameBytes(321, 1), 964u);
}

TEST_F(CompressorTest, OneFrameWithOneRetry) {
    BITMAPINFOHEADER input = Frame24(162, 120), fmt{};
    std::vector<uint8_t> pixels(PaddedFrameBytes(162, 120), 0x80);
    uint32_t size = 0, flags = 99, id = 99;
    auto frame = [&](int32_t n) {
        return CompOneFrame(n, &input, pixels.data(), &size, 0x10, nullptr, nullptr, &flags, &id);
    };
    EXPECT_EQ(frame(1), nullptr);  // nothing set up
    Choose("MJPG", 90);
    ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("MJPG")));
    auto* out = static_cast<uint8_t*>(frame(1));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(input.biSizeImage, 488u * 120u);
    GetCompressorFormat(&fmt);
    EXPECT_TRUE(fmt.biSizeImage == size && id == FourCC("00dc") && flags == AVIIF_KEYFRAME);
    EXPECT_TRUE(out[0] == 0xFF && out[1] == 0xD8);  // a JPEG starts with its marker

    FakeDriver& flky = Install(0, "FLKY");
    flky.failCompressions = 1;  // one failure is retried once
    Choose("FLKY");
    ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("FLKY")));
    LogCapture log;
    EXPECT_NE(frame(2), nullptr);
    EXPECT_TRUE(size == 10 && flky.compressions == 2);
    EXPECT_FALSE(log.contains("CompOneFrame - frame failed again"));
    // Two failures: no frame, the size kept, the log line; the compressor stays for the next frame.
    flky.failCompressions = 2;
    size = 1234;
    EXPECT_EQ(frame(3), nullptr);
    EXPECT_TRUE(size == 1234 && flky.compressions == 4);
    EXPECT_TRUE(log.contains("CompOneFrame - frame failed again - error=-4"));
    EXPECT_NE(frame(4), nullptr);
    CompressorEnd();
    EXPECT_EQ(flky.ends, 1);
    EXPECT_EQ(frame(5), nullptr);
}
