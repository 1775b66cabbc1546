// Underlays: the colour conversion, BMP pictures (good, odd and hostile) scaled into images, the
// render key and the playback key with both soft edges.
#include <gtest/gtest.h>

#include <functional>

#include "core/diag.h"
#include "overlay_support.h"
#include "support/crafted.h"
#include "support/scripted.h"

using crafted::Bmp;
using crafted::BmpLayout;
using crafted::BmpPixel;

namespace {

const Bgr kBlue{255, 0, 0}, kPlain{0x40, 0x40, 0x40};

std::array<int32_t, 3> Yuv(int32_t r, int32_t g, int32_t b) {
    ConvertRGB(0, &r, &g, &b);
    return {r, g, b};
}

class Underlays : public OverlayTest {
  protected:
    TempDir dir;

    UnderlayRecord* FromFile(const std::string& bytes, int32_t w, int32_t h) {
        WriteWholeFile(dir.file("u.bmp"), bytes);
        UnderlayRecord* u = NewUnderlayRecord();
        std::strncpy(u->fileName, dir.file("u.bmp").c_str(), sizeof u->fileName - 1);
        PrepareUnderlay(u, w, h);
        return u;
    }
    UnderlayRecord* HandImage(int32_t w, int32_t h, const std::function<Bgr(int32_t)>& f) {
        UnderlayRecord* u = NewUnderlayRecord();
        u->imageWidth = w, u->imageHeight = h;
        u->image = static_cast<uint8_t*>(MyCalloc(static_cast<uint32_t>(w * h), 3));
        for (int32_t p = 0; p < w * h; p++) std::memcpy(u->image + p * 3, f(p).data(), 3);
        return u;
    }
    static Bgr ImageAt(const UnderlayRecord* u, int32_t row, int32_t col) {
        const uint8_t* p = u->image + (static_cast<size_t>(row) * u->imageWidth + col) * 3;
        return {p[0], p[1], p[2]};
    }
    static bool SolidBlue(const UnderlayRecord* u) {
        for (int32_t p = 0; u->image && p < u->imageWidth * u->imageHeight; p++)
            if (ImageAt(u, 0, p) != kBlue) return false;
        return u->image != nullptr;
    }
    static void Free(UnderlayRecord* u) {
        MyFree(u->image);
        MyFree(u);
    }
};

}  // namespace

TEST_F(Underlays, ConvertRGBGivesLumaAndColourDifferences) {
    EXPECT_EQ(Yuv(0, 255, 0), (std::array<int32_t, 3>{58, -58, -58}));
    EXPECT_EQ(Yuv(0, 0, 255), (std::array<int32_t, 3>{11, 86, -11}));
    EXPECT_EQ(Yuv(255, 0, 0), (std::array<int32_t, 3>{29, -29, 70}));
    // The weights sum to just under 1 and 0.866 is not 0.886: white truncates to 99 and -1.
    EXPECT_EQ(Yuv(255, 255, 255), (std::array<int32_t, 3>{99, -1, 0}));
    LogCapture log;
    int32_t r = 0, g = 255, b = 0;
    ConvertRGB(1, &r, &g, &b);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"ConvertRGB: rgb (0 255 0) -> yuv (58 -58 -58)"});
}

TEST_F(Underlays, PicturesAreScaledIntoTheImage) {
    ScopedBoxes boxes;
    LogCapture log;
    UnderlayRecord* u = FromFile(Bmp({.width = 100, .height = 50}), 200, 100);
    for (int32_t r = 0; r < 100; r++)  // every source pixel becomes a 2 x 2 block
        for (int32_t c = 0; c < 200; c++)
            ASSERT_EQ(ImageAt(u, r, c), BmpPixel(c / 2, r / 2)) << r << "," << c;
    Free(u);
    // Rows padded to 4 bytes, rows a writer left unpadded, top-down rows, a 12-byte core header.
    for (BmpLayout s : {BmpLayout{7, 3}, BmpLayout{.width = 7, .height = 3, .padRows = false},
                        BmpLayout{7, -3}, BmpLayout{.width = 7, .height = 3, .core = true}}) {
        u = FromFile(Bmp(s), 7, 3);
        for (int32_t p = 0; p < 21; p++) EXPECT_EQ(ImageAt(u, p / 7, p % 7), BmpPixel(p % 7, p / 7));
        Free(u);
    }
    EXPECT_TRUE(boxes->shown.empty());
    // Pictures that are not 24-bit uncompressed leave solid blue.
    for (BmpLayout s : {BmpLayout{.width = 16, .height = 4, .bits = 8, .palette = 256},
                        BmpLayout{.width = 16, .height = 4, .bits = 8, .core = true, .palette = 3},
                        BmpLayout{.compression = 1}}) {
        u = FromFile(Bmp(s), 10, 10);
        EXPECT_TRUE(SolidBlue(u));
        Free(u);
    }
    EXPECT_TRUE(log.contains("Can only handle 24-bit BMPs for now"));
    // A missing file leaves solid blue and says so only to the log; a record without a name, or a
    // size of 0, is left without an image.
    u = NewUnderlayRecord();
    PrepareUnderlay(u, 3, 3);
    EXPECT_EQ(u->image, nullptr);
    std::strcpy(u->fileName, "/nowhere/x.bmp");
    PrepareUnderlay(u, 3, 3);
    EXPECT_TRUE(SolidBlue(u));
    EXPECT_TRUE(log.contains("Failed to open BMP file </nowhere/x.bmp>"));
    PrepareUnderlay(u, 0, 3);
    EXPECT_EQ(u->image, nullptr);
    Free(u);
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(Underlays, HostileBmpFilesAreRefusedWithoutReadingPastThem) {
    const std::string good = Bmp({});  // 4 x 2: 54 bytes of headers, 24 of pixels
    auto with = [&](size_t at, uint32_t v) {
        std::string s = good;
        WriteLE32(s.data() + at, v);
        return s;
    };
    const std::pair<std::string, const char*> cases[] = {
        {good.substr(0, 10), nullptr},
        {"XM" + good.substr(2), "Not a BMP file"},
        {with(10, 5000), "failed to read bm header (64 4986)"},  // data offset beyond the file
        {with(10, 8), "Not a BMP file"},                         // data offset inside the file header
        {with(10, 0x7FFFFFF0), "failed to allocate bm header of 2147483618 bytes"},
        {with(14, 20), "Not a BMP file"},  // a header of no known kind
        {with(14, 60), "Not a BMP file"},  // a header longer than its block
        {with(2, 1000000), "failed to read bm data (24 999946)"},
        {with(2, 20), "failed to allocate bm data of -34 bytes"},
        {with(2, 0xFFFFFFFF), "failed to allocate bm data of 4294967241 bytes"},
    };
    for (const auto& [bytes, message] : cases) {
        SCOPED_TRACE(message ? message : "short");
        ScopedBoxes boxes;
        UnderlayRecord* u = FromFile(bytes, 4, 2);
        EXPECT_TRUE(SolidBlue(u));
        uint8_t* pixels = reinterpret_cast<uint8_t*>(0x1);
        int32_t size = -1;
        EXPECT_EQ(LoadBMP(u, &pixels, &size), nullptr);
        EXPECT_TRUE(pixels == nullptr && size == 0);
        EXPECT_EQ(boxes->texts(),
                  message ? std::vector<std::string>(2, message) : std::vector<std::string>{});
        EXPECT_EQ(ReadWholeFile(dir.file("u.bmp")), bytes);
        Free(u);
    }
    // Picture sizes the pixel block cannot hold give solid blue, quietly.
    ScopedBoxes boxes;
    for (auto [w, h] : {std::pair{5, 2}, {4, 3}, {-4, 2}, {0, 2}, {4, 0}, {100000, 1}}) {
        std::string bytes = with(18, static_cast<uint32_t>(w));
        WriteLE32(bytes.data() + 22, static_cast<uint32_t>(h));
        UnderlayRecord* u = FromFile(bytes, 6, 6);
        EXPECT_TRUE(SolidBlue(u)) << w << "x" << h;
        Free(u);
    }
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(Underlays, RenderKeyReplacesSaturatedBlue) {
    LogCapture log;
    AddRevision(kRevUnderlay, 1, 5, HandImage(4, 2, [](int32_t p) {
                    return Bgr{9, static_cast<uint8_t>(p), 99};
                }));
    TestFrame f(4, 2, 24), wider(5, 3, 24, 0), sixteen(4, 2, 16, 0x1F);  // 0x1F1F: blue in 5-5-5
    const Bgr cases[] = {{210, 40, 40}, {200, 40, 40}, {210, 50, 40}, {255, 49, 49}};
    for (int32_t c = 0; c < 4; c++) f.set(0, c, cases[c]);
    for (int32_t p = 0; p < 15; p++) wider.set(p / 5, p % 5, {230, 0, 0});
    const auto before = sixteen.bytes;
    FrameState(3);
    for (TestFrame* t : {&f, &wider, &sixteen}) ApplyTitle(nullptr, t->data(), &t->header, 2);
    EXPECT_EQ(f.bgr(0, 0), (Bgr{9, 0, 99}));
    EXPECT_EQ(f.bgr(0, 1), cases[1]);
    EXPECT_EQ(f.bgr(0, 2), cases[2]);
    EXPECT_EQ(f.bgr(0, 3), (Bgr{9, 3, 99}));
    EXPECT_EQ(f.bgr(1, 0), kPlain);
    // On a larger frame only the image's part changes; a 16-bit frame is left and logged.
    EXPECT_EQ(wider.bgr(1, 3), (Bgr{9, 7, 99}));
    EXPECT_TRUE(wider.bgr(1, 4) == (Bgr{230, 0, 0}) && wider.bgr(2, 0) == (Bgr{230, 0, 0}));
    EXPECT_EQ(sixteen.bytes, before);
    EXPECT_TRUE(log.contains("ApplyTitle: Unsupported bit depth 16"));
    EXPECT_TRUE(f.guardIntact() && wider.guardIntact());
}

TEST_F(Underlays, PlaybackKeyAndItsSoftEdges) {
    const Bgr green{0, 255, 0}, image{10, 20, 30}, red{0, 0, 255};
    const int32_t w = 6, h = 4, n = w * h;
    gProject.frameWidth = w;
    gProject.frameHeight = h;
    UnderlayRecord* u = HandImage(w, h, [&](int32_t) { return image; });
    auto [y, cu, cv] = Yuv(0, 255, 0);
    u->ranges = NewColourRange();
    *u->ranges = ColourRange{nullptr, y - 2, y + 2, cu - 2, cu + 2, cv - 2, cv + 2};
    AddRevision(kRevUnderlay, 1, 1, u);
    // Green frames (0x03E0 in 5-5-5) with `odd` put at one pixel, keyed with the smooth setting.
    auto keyed = [&](int bits, int32_t smooth, int32_t at = -1, Bgr odd = {}) {
        TestFrame f(w, h, bits);
        for (int32_t p = 0; p < n; p++)
            bits == 24 ? f.set(p / w, p % w, green) : WriteLE16(f.at(p / w, p % w), 0x03E0);
        if (at >= 0) f.set(at / w, at % w, odd);
        gSettings.smooth = smooth;
        EXPECT_EQ(ApplyTitle2(f.data(), 1, bits), 1);
        EXPECT_TRUE(f.guardIntact());
        return f;
    };
    auto blend = [](Bgr f, Bgr i) {
        Bgr out;
        for (int ch = 0; ch < 3; ch++) out[ch] = static_cast<uint8_t>((f[ch] * 128 + i[ch] * 127) >> 8);
        return out;
    };
    TestFrame f = keyed(24, 0, 2 * w + 2, red), g = keyed(16, 0), s1 = keyed(24, 1, w + 2, red),
              s2 = keyed(24, 2), s2g = keyed(16, 2);
    for (int32_t p = 0; p < n; p++) {
        SCOPED_TRACE(p);
        // No smoothing: keyed pixels take the image; 16-bit frames are read and written as 5-5-5.
        EXPECT_EQ(f.bgr(p / w, p % w), p == 2 * w + 2 ? red : image);
        EXPECT_EQ(g.word(p / w, p % w), (30 & 0xF8) << 7 | (20 & 0xF8) << 2 | 10 >> 3);
        // Smooth 1: the first pixel is never replaced; an edge is blended half way.
        EXPECT_EQ(s1.bgr(p / w, p % w), p == 0       ? green
                                        : p == w + 2 ? blend(red, image)
                                        : p == w + 3 ? blend(green, image)
                                                     : image);
        // Smooth 2: the first and last w + 1 pixels are never replaced.
        bool edge = p < w + 1 || p >= n - w - 1;
        EXPECT_EQ(s2.bgr(p / w, p % w), edge ? green : image);
        EXPECT_EQ(s2g.word(p / w, p % w) == 0x03E0, edge);
    }
    // Other smooth values, records without ranges and 8-bit frames key nothing.
    LogCapture log;
    TestFrame plain = keyed(24, 7), eight(w, h, 8);
    EXPECT_EQ(plain.bgr(1, 1), green);
    ColourRange* kept = std::exchange(u->ranges, nullptr);
    EXPECT_EQ(keyed(24, 0).bgr(1, 1), green);
    u->ranges = kept;
    const auto before = eight.bytes;
    ApplyTitle2(eight.data(), 1, 8);
    EXPECT_EQ(eight.bytes, before);
    EXPECT_TRUE(log.contains("ApplyTitle2: Unsupported bit depth 8"));
}
