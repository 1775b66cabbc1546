#include "render/compressor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "support/scripted.h"

namespace {

// A fake driver whose answers each test sets: it records what it was sent.
struct FakeDriver {
    bool acceptInput = true;
    uint32_t formatSize = 40;  // biSize written by ICM_COMPRESS_GET_FORMAT
    bool beginOk = true;
    bool configurable = false;
    DWORD flags = VIDCF_QUALITY;
    DWORD defaultQuality = 6500;
    int failCompressions = 0;  // how many ICM_COMPRESS calls fail before one succeeds
    std::string description = "Fake codec";
    FOURCC handler = FourCC("FAKE");
    // Records.
    int opens = 0, closes = 0, compressions = 0, ends = 0;
    std::vector<DWORD> qualities;
};

FakeDriver gFakes[4];

template <int N>
LRESULT FakeProc(DWORD_PTR, HDRVR, UINT msg, LPARAM l1, LPARAM l2) {
    FakeDriver& f = gFakes[N];
    switch (msg) {
        case DRV_OPEN:
            f.opens++;
            return N + 1;
        case DRV_CLOSE:
            f.closes++;
            return 1;
        case ICM_GETINFO: {
            auto* info = reinterpret_cast<ICINFO*>(l1);
            std::memset(info, 0, sizeof *info);
            info->dwSize = sizeof *info;
            info->fccType = ICTYPE_VIDEO;
            info->fccHandler = f.handler;
            info->dwFlags = f.flags;
            for (size_t i = 0; i < f.description.size() && i < 127; ++i)
                info->szDescription[i] =
                    static_cast<WCHAR>(0x4100 | static_cast<unsigned char>(f.description[i]));
            return sizeof *info;
        }
        case ICM_COMPRESS_QUERY:
            return f.acceptInput ? ICERR_OK : ICERR_BADFORMAT;
        case ICM_COMPRESS_GET_FORMAT: {
            auto* out = reinterpret_cast<BITMAPINFOHEADER*>(l2);
            if (!out) return ICERR_OK;
            const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(l1);
            out->biSize = f.formatSize;
            out->biWidth = in->biWidth;
            out->biHeight = in->biHeight;
            out->biBitCount = 24;
            out->biCompression = f.handler;
            return ICERR_OK;
        }
        case ICM_COMPRESS_BEGIN:
            return f.beginOk ? ICERR_OK : ICERR_BADFORMAT;
        case ICM_COMPRESS: {
            f.compressions++;
            auto* c = reinterpret_cast<ICCOMPRESS*>(l1);
            f.qualities.push_back(c->dwQuality);
            if (f.failCompressions > 0) {
                f.failCompressions--;
                return ICERR_INTERNAL;
            }
            std::memset(c->lpOutput, 0x5A, 10);
            c->lpbiOutput->biSizeImage = 10;
            *c->lpckid = FourCC("00dc");
            *c->lpdwFlags = AVIIF_KEYFRAME;
            return ICERR_OK;
        }
        case ICM_COMPRESS_END:
            f.ends++;
            return ICERR_OK;
        case ICM_GETDEFAULTQUALITY:
            *reinterpret_cast<DWORD*>(l1) = f.defaultQuality;
            return ICERR_OK;
        case ICM_CONFIGURE:
            return f.configurable ? ICERR_OK : ICERR_UNSUPPORTED;
        case ICM_ABOUT:
            return ICERR_UNSUPPORTED;
        default:
            (void)l2;
            return ICERR_UNSUPPORTED;
    }
}

void Install(int n, const char (&code)[5]) {
    gFakes[n].handler = FourCC(code);
    LPARAM proc = n == 0   ? reinterpret_cast<LPARAM>(&FakeProc<0>)
                  : n == 1 ? reinterpret_cast<LPARAM>(&FakeProc<1>)
                  : n == 2 ? reinterpret_cast<LPARAM>(&FakeProc<2>)
                           : reinterpret_cast<LPARAM>(&FakeProc<3>);
    ASSERT_TRUE(ICInstall(ICTYPE_VIDEO, FourCC(code), proc, nullptr, ICINSTALL_FUNCTION));
}

BITMAPINFOHEADER Frame24(int32_t w, int32_t h) {
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biSizeImage = static_cast<uint32_t>(static_cast<uint64_t>(w) * static_cast<uint64_t>(h) * 3);
    bi.biXPelsPerMeter = bi.biYPelsPerMeter = 4000;
    return bi;
}

// A clean codec set-up and dialog memory for each test, with the given provider installed.
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
    }
    // Installs a provider that picks by code and quality, and returns it.
    std::shared_ptr<ScriptedCompressorChoice> Choose(const std::string& code, int quality = -1) {
        auto p = std::make_shared<ScriptedCompressorChoice>(code, quality);
        SetCompressorDialogProvider(p);
        return p;
    }
    // Hides every built-in compressor.
    static void HideBuiltins() {
        ICINFO info;
        std::vector<FOURCC> codes;
        for (DWORD i = 0; ICInfo(ICTYPE_VIDEO, i, &info); ++i) codes.push_back(info.fccHandler);
        for (FOURCC c : codes) ICRemove(ICTYPE_VIDEO, c, 0);
    }

    std::shared_ptr<CompressorDialogProvider> previous_;
};

}  // namespace

TEST_F(CompressorTest, DialogListsUsableCompressors) {
    Install(0, "VDOW");
    Install(1, "MRLE");
    Install(2, "RFSE");
    gFakes[2].acceptInput = false;
    Install(3, "LONG");
    gFakes[3].description = std::string(120, 'x');
    BITMAPINFOHEADER input = Frame24(160, 120);

    ChooseCompressorModel model(&input);
    ASSERT_TRUE(model.Open());
    const auto& e = model.entries();
    ASSERT_GE(e.size(), 3u);
    EXPECT_EQ(e[0].description, " ** 24-bit uncompressed **");
    EXPECT_EQ(e[0].hic, nullptr);
    // The skipped and refusing drivers are absent, and every one of them was closed again.
    for (const auto& entry : e) {
        EXPECT_NE(entry.handler, FourCC("VDOW"));
        EXPECT_NE(entry.handler, FourCC("MRLE"));
        EXPECT_NE(entry.handler, FourCC("RFSE"));
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(gFakes[i].opens, gFakes[i].closes) << i;
    // Descriptions are the low bytes of the wide characters, at most 99 of them.
    EXPECT_EQ(e[1].handler, FourCC("LONG"));
    EXPECT_EQ(e[1].description, std::string(99, 'x'));
    EXPECT_NE(model.FindHandler(FourCC("mjpg")), -1);
    EXPECT_NE(model.FindHandler(FourCC("MSVC")), -1);

    // Odd sizes drop the block codecs.
    BITMAPINFOHEADER odd = Frame24(162, 122);
    ChooseCompressorModel oddModel(&odd);
    ASSERT_TRUE(oddModel.Open());
    EXPECT_EQ(oddModel.FindHandler(FourCC("MSVC")), -1);
    EXPECT_EQ(oddModel.FindHandler(FourCC("cvid")), -1);
    EXPECT_NE(oddModel.FindHandler(FourCC("MJPG")), -1);
    oddModel.Cancel();
    model.Cancel();
    EXPECT_EQ(gFakes[3].opens, gFakes[3].closes);

    // No usable compressor: the message, and the dialog ends as cancelled with nothing open.
    HideBuiltins();
    gFakes[3].acceptInput = false;
    ScopedBoxes boxes;
    auto p = Choose("");
    EXPECT_EQ(ChooseCompressor(nullptr, &input), ChooseCancelled());
    EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Couldn't locate any compression drivers."});
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorCancelled);
    EXPECT_EQ(CurrentCompressor(), nullptr);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(gFakes[i].opens, gFakes[i].closes) << i;
}

TEST_F(CompressorTest, SelectionMemoryAndControlStates) {
    Install(0, "CONF");
    gFakes[0].configurable = true;
    gFakes[0].flags = 0;
    BITMAPINFOHEADER input = Frame24(160, 120);

    // First run: nothing remembered, so the uncompressed entry; OK returns 0.
    int seen = -1;
    auto first = std::make_shared<FunctionCompressorDialog>([&](HWND, ChooseCompressorModel& m) {
        seen = m.selection();
        return true;
    });
    SetCompressorDialogProvider(first);
    EXPECT_EQ(ChooseCompressor(nullptr, &input), nullptr);
    EXPECT_EQ(seen, 0);
    EXPECT_EQ(CompressorMemory().lastPosition, 0);
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorUncompressed);
    EXPECT_EQ(CompressorBufferBytes(), 0u);

    // Picking MJPG: About yes, Configure no, quality yes; the uncompressed entry changes none of them.
    auto check = std::make_shared<FunctionCompressorDialog>([&](HWND, ChooseCompressorModel& m) {
        m.Select(m.FindHandler(FourCC("MJPG")));
        EXPECT_TRUE(m.aboutEnabled());
        EXPECT_FALSE(m.configureEnabled());
        EXPECT_TRUE(m.qualityEnabled());
        m.Select(0);
        EXPECT_TRUE(m.aboutEnabled());
        EXPECT_TRUE(m.qualityEnabled());
        m.Select(m.FindHandler(FourCC("CONF")));
        EXPECT_TRUE(m.configureEnabled());
        EXPECT_FALSE(m.aboutEnabled());
        EXPECT_FALSE(m.qualityEnabled());
        m.Select(99);  // not an entry: nothing changes
        EXPECT_EQ(m.selection(), m.FindHandler(FourCC("CONF")));
        m.Select(m.FindHandler(FourCC("MJPG")));
        ScopedBoxes boxes;
        m.About(nullptr);
        m.Configure(nullptr);  // disabled for MJPG: nothing happens
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Motion JPEG"});
        return true;
    });
    SetCompressorDialogProvider(check);
    HIC mjpg = ChooseCompressor(nullptr, &input);
    ASSERT_NE(mjpg, nullptr);
    ASSERT_NE(mjpg, ChooseCancelled());
    ICINFO info{};
    ICGetInfo(mjpg, &info, sizeof info);
    EXPECT_EQ(info.fccHandler, FourCC("MJPG"));
    ICClose(mjpg);
    EXPECT_EQ(CompressorMemory().fourcc, FourCC("MJPG"));
    EXPECT_EQ(gFakes[0].opens, gFakes[0].closes);

    // The next run preselects the remembered position, even when cancelled.
    int position = CompressorMemory().lastPosition;
    auto cancel = std::make_shared<FunctionCompressorDialog>([&](HWND, ChooseCompressorModel& m) {
        seen = m.selection();
        return false;
    });
    SetCompressorDialogProvider(cancel);
    EXPECT_EQ(ChooseCompressor(nullptr, &input), ChooseCancelled());
    EXPECT_EQ(seen, position);
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorCancelled);

    // A remembered position past the end of a shorter list falls back to the kept FOURCC.
    CompressorMemory().lastPosition = 50;
    SetCompressorDialogProvider(cancel);
    ChooseCompressor(nullptr, &input);
    ChooseCompressorModel probe(&input);
    probe.Open();
    EXPECT_EQ(seen, probe.FindHandler(FourCC("MJPG")));
    probe.Cancel();

    // The console choice by code, in any case, and "none".
    auto p = Choose("cvid");
    EXPECT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("cvid")));
    EXPECT_EQ(p->offered.front(), "none");
    p = Choose("none");
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorUncompressed);
    EXPECT_EQ(CurrentCompressor(), nullptr);  // the cvid compressor was ended by the new set-up
    p = Choose("XXXX");
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorCancelled);
}

TEST_F(CompressorTest, QualityScrollKeepsWithinRangeAndReachesTheCompressor) {
    BITMAPINFOHEADER input = Frame24(64, 48);
    std::vector<int> positions;
    auto scroll = std::make_shared<FunctionCompressorDialog>([&](HWND, ChooseCompressorModel& m) {
        m.Select(m.FindHandler(FourCC("MJPG")));
        positions.push_back(m.scrollPosition());  // the kept 10000 shows as 100
        m.Scroll(ChooseCompressorModel::kLineRight, 0);
        positions.push_back(m.scrollPosition());
        m.Scroll(ChooseCompressorModel::kPageRight, 0);
        positions.push_back(m.scrollPosition());
        m.Scroll(ChooseCompressorModel::kThumbTrack, 250);
        positions.push_back(m.scrollPosition());
        m.Scroll(ChooseCompressorModel::kThumbPosition, -7);
        positions.push_back(m.scrollPosition());
        m.Scroll(ChooseCompressorModel::kLineLeft, 0);
        m.Scroll(ChooseCompressorModel::kPageLeft, 0);
        positions.push_back(m.scrollPosition());
        m.Scroll(ChooseCompressorModel::kPageRight, 0);
        m.Scroll(ChooseCompressorModel::kPageRight, 0);
        m.Scroll(ChooseCompressorModel::kPageRight, 0);
        m.Scroll(ChooseCompressorModel::kLineLeft, 0);
        m.Scroll(8 /* end scroll */, 77);
        positions.push_back(m.scrollPosition());
        EXPECT_EQ(m.numberText(), "29");
        return true;
    });
    SetCompressorDialogProvider(scroll);
    HIC hic = ChooseCompressor(nullptr, &input);
    ICClose(hic);
    EXPECT_EQ(positions, (std::vector<int>{100, 100, 100, 100, 0, 0, 29}));
    EXPECT_EQ(CompressorMemory().quality, 2900);

    // A compressor without quality leaves the kept quality as it is.
    Choose("FFV1", 55);
    EXPECT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("FFV1")));
    EXPECT_EQ(CompressorMemory().quality, 2900);

    // A kept quality of -1 shows the compressor's default.
    Install(0, "QUAL");
    CompressorMemory().quality = -1;
    int shown = -1;
    SetCompressorDialogProvider(
        std::make_shared<FunctionCompressorDialog>([&](HWND, ChooseCompressorModel& m) {
            m.Select(m.FindHandler(FourCC("QUAL")));
            shown = m.scrollPosition();
            return true;
        }));
    EXPECT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("QUAL")));
    EXPECT_EQ(shown, 65);
    EXPECT_EQ(CompressorMemory().quality, 6500);

    // The kept quality is what each frame is compressed with.
    Choose("QUAL", 42);
    ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("QUAL")));
    std::vector<uint8_t> pixels(PaddedFrameBytes(64, 48));
    uint32_t size = 0, flags = 0, id = 0;
    ASSERT_NE(CompOneFrame(1, &input, pixels.data(), &size, 0x10, nullptr, nullptr, &flags, &id), nullptr);
    EXPECT_EQ(gFakes[0].qualities, std::vector<DWORD>{4200});

    // With MJPG, a lower quality gives a smaller frame.
    std::vector<uint8_t> noise(PaddedFrameBytes(64, 48));
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>((i * 7919) >> 3);
    uint32_t sizes[2] = {};
    int qualities[2] = {95, 5};
    for (int k = 0; k < 2; ++k) {
        Choose("MJPG", qualities[k]);
        ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("MJPG")));
        ASSERT_NE(CompOneFrame(1, &input, noise.data(), &sizes[k], 0x10, nullptr, nullptr, &flags, &id),
                  nullptr);
    }
    EXPECT_GT(sizes[0], sizes[1] * 2);
}

TEST_F(CompressorTest, SetupSizesFormatsAndFailures) {
    ResetMemoryMonitor();
    BITMAPINFOHEADER input = Frame24(320, 240);
    Choose("MJPG", 80);
    ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("MJPG")));
    BITMAPINFOHEADER out{};
    GetCompressorFormat(&out);
    EXPECT_EQ(out.biSize, 40u);
    EXPECT_EQ(out.biCompression, FourCC("MJPG"));
    EXPECT_EQ(out.biSizeImage, 230400u);
    EXPECT_EQ(CompressorBufferBytes(), 230468u);
    EXPECT_EQ(MemoryMonitorStatus().liveBytes, 230468);

    // A second set-up ends the first: its buffer goes and the codec is closed.
    Install(0, "SHRT");
    gFakes[0].formatSize = 20;
    Choose("SHRT");
    ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("SHRT")));
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, 1);
    // The short header was replaced by the 48-byte default.
    alignas(BITMAPINFOHEADER) uint8_t block[48];
    std::memset(block, 0xEE, sizeof block);
    GetCompressorFormat(reinterpret_cast<BITMAPINFOHEADER*>(block));
    BITMAPINFOHEADER def;
    std::memcpy(&def, block, sizeof def);
    EXPECT_EQ(def.biSize, 48u);
    EXPECT_EQ(def.biWidth, 320);
    EXPECT_EQ(def.biHeight, 240);
    EXPECT_EQ(def.biPlanes, 1);
    EXPECT_EQ(def.biBitCount, 24);
    EXPECT_EQ(def.biCompression, FourCC("SHRT"));
    EXPECT_EQ(def.biXPelsPerMeter, 4000);
    EXPECT_EQ(def.biYPelsPerMeter, 4000);
    EXPECT_EQ(def.biClrUsed, 0u);
    EXPECT_EQ(def.biSizeImage, 230400u);
    EXPECT_EQ(block[40], 0xEE);  // only the 40-byte header is copied

    // A refused begin: -2, the codec closed, no buffer left.
    Install(1, "NOBG");
    gFakes[1].beginOk = false;
    Choose("NOBG");
    EXPECT_EQ(CompressorSetup(nullptr, &input), kCompressorFailed);
    EXPECT_EQ(CurrentCompressor(), nullptr);
    EXPECT_EQ(CompressorBufferBytes(), 0u);
    EXPECT_EQ(gFakes[1].opens, gFakes[1].closes);
    EXPECT_EQ(gFakes[0].ends, 1);  // SHRT was ended by this set-up
    EXPECT_EQ(gFakes[0].opens, gFakes[0].closes);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, 0);

    // Sizes whose buffer would not fit 31 bits fail before anything is allocated.
    BITMAPINFOHEADER huge = Frame24(40000, 40000);
    Install(2, "ANYS");
    Choose("ANYS");
    EXPECT_EQ(CompressorSetup(nullptr, &huge), kCompressorFailed);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, 0);
    EXPECT_EQ(PaddedFrameBytes(321, 1), 964u);
    EXPECT_EQ(PaddedFrameBytes(0, 10), 0u);
}

TEST_F(CompressorTest, OneFrameWithOneRetry) {
    BITMAPINFOHEADER input = Frame24(162, 120);
    std::vector<uint8_t> pixels(PaddedFrameBytes(162, 120), 0x80);
    uint32_t size = 0, flags = 99, id = 99;
    // Nothing set up: no frame.
    EXPECT_EQ(CompOneFrame(1, &input, pixels.data(), &size, 0x10, nullptr, nullptr, &flags, &id), nullptr);

    Choose("MJPG", 90);
    ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("MJPG")));
    void* out = CompOneFrame(1, &input, pixels.data(), &size, 0x10, nullptr, nullptr, &flags, &id);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(input.biSizeImage, 488u * 120u);
    BITMAPINFOHEADER fmt{};
    GetCompressorFormat(&fmt);
    EXPECT_EQ(fmt.biSizeImage, size);
    EXPECT_EQ(id, FourCC("00dc"));
    EXPECT_EQ(flags, AVIIF_KEYFRAME);
    EXPECT_EQ(static_cast<uint8_t*>(out)[0], 0xFF);  // a JPEG starts with its marker
    EXPECT_EQ(static_cast<uint8_t*>(out)[1], 0xD8);

    // One failure is retried once.
    Install(0, "FLKY");
    gFakes[0].failCompressions = 1;
    Choose("FLKY");
    ASSERT_EQ(CompressorSetup(nullptr, &input), static_cast<int64_t>(FourCC("FLKY")));
    LogCapture log;
    out = CompOneFrame(2, &input, pixels.data(), &size, 0x10, nullptr, nullptr, &flags, &id);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(size, 10u);
    EXPECT_EQ(gFakes[0].compressions, 2);
    EXPECT_FALSE(log.contains("CompOneFrame - frame failed again"));

    // Two failures: null and the log line; the compressor stays open for the next frame.
    gFakes[0].failCompressions = 2;
    size = 1234;
    EXPECT_EQ(CompOneFrame(3, &input, pixels.data(), &size, 0x10, nullptr, nullptr, &flags, &id), nullptr);
    EXPECT_EQ(size, 1234u);
    EXPECT_TRUE(log.contains("CompOneFrame - frame failed again - error=-4"));
    EXPECT_EQ(gFakes[0].compressions, 4);
    EXPECT_NE(CompOneFrame(4, &input, pixels.data(), &size, 0x10, nullptr, nullptr, &flags, &id), nullptr);

    // After the end nothing compresses.
    CompressorEnd();
    EXPECT_EQ(gFakes[0].ends, 1);
    EXPECT_EQ(CompOneFrame(5, &input, pixels.data(), &size, 0x10, nullptr, nullptr, &flags, &id), nullptr);
}
