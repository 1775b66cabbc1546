// Underlays: the colour conversion, BMP pictures (good, odd and hostile) scaled into images, the
// render key, the colour ranges' ends and the playback key with both soft edges.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "render_support.h"

using namespace render_test;
using crafted::Bmp;
using crafted::BmpLayout;

namespace {

const Bgr kBlue{255, 0, 0}, kPlain{0x40, 0x40, 0x40};

std::array<int32_t, 3> Yuv(int32_t r, int32_t g, int32_t b) {
    ConvertRGB(0, &r, &g, &b);
    return {r, g, b};
}

class Underlays : public RenderTest {
  protected:
    // The image PrepareUnderlay makes of a picture file of these bytes, bottom row first.
    std::vector<Bgr> FromFile(const std::string& bytes, int32_t w, int32_t h) {
        WriteWholeFile(dir.file("u.bmp"), bytes);
        UnderlayRecord* u = NewUnderlayRecord();
        std::strncpy(u->fileName, dir.file("u.bmp").c_str(), sizeof u->fileName - 1);
        PrepareUnderlay(u, w, h);
        std::vector<Bgr> image(u->image ? static_cast<size_t>(w * h) : 0);
        std::memcpy(image.data(), u->image, image.size() * 3);
        MyFree(u->image), MyFree(u);
        return image;
    }
    // A record with a hand-made image, bottom row first.
    static UnderlayRecord* HandImage(int32_t w, int32_t h, std::vector<Bgr> pixels) {
        UnderlayRecord* u = NewUnderlayRecord();
        u->imageWidth = w, u->imageHeight = h;
        u->image = static_cast<uint8_t*>(MyCalloc(static_cast<uint32_t>(w * h), 3));
        std::memcpy(u->image, pixels.data(), pixels.size() * 3);
        return u;
    }
};

std::vector<Bgr> Drawn(int32_t w, int32_t h, int32_t scale = 1) {
    std::vector<Bgr> p;
    for (int32_t i = 0; i < w * h * scale * scale; i++)
        p.push_back(crafted::BmpPixel(i % (w * scale) / scale, i / (w * scale) / scale));
    return p;
}

}  // namespace

TEST_F(Underlays, ConvertRGBGivesLumaAndColourDifferences) {
    // The weights sum to just under 1 and 0.866 is not 0.886: white truncates to 99 and -1.
    EXPECT_EQ(
        (std::vector{Yuv(0, 255, 0), Yuv(0, 0, 255), Yuv(255, 0, 0), Yuv(255, 255, 255)}),
        (std::vector<std::array<int32_t, 3>>{{58, -58, -58}, {11, 86, -11}, {29, -29, 70}, {99, -1, 0}}));
}

TEST_F(Underlays, PicturesAreScaledIntoTheImage) {
    // Every source pixel becomes a 2 x 2 block.
    EXPECT_EQ(FromFile(Bmp({.width = 100, .height = 50}), 200, 100), Drawn(100, 50, 2));
    // Rows padded to 4 bytes, rows a writer left unpadded, top-down rows, a 12-byte core header.
    for (BmpLayout s : {BmpLayout{7, 3}, BmpLayout{.width = 7, .height = 3, .padRows = false},
                        BmpLayout{7, -3}, BmpLayout{.width = 7, .height = 3, .core = true}})
        EXPECT_EQ(FromFile(Bmp(s), 7, 3), Drawn(7, 3));
    // Pictures that are not 24-bit uncompressed, and a missing file, leave solid blue and say so
    // only to the log; no name, or a size of 0, leaves no image.
    for (BmpLayout s : {BmpLayout{.width = 16, .height = 4, .bits = 8, .palette = 256},
                        BmpLayout{.width = 16, .height = 4, .bits = 8, .core = true, .palette = 3},
                        BmpLayout{.compression = 1}})
        EXPECT_EQ(FromFile(Bmp(s), 10, 10), std::vector<Bgr>(100, kBlue));
    UnderlayRecord* u = NewUnderlayRecord();
    PrepareUnderlay(u, 3, 3);
    EXPECT_EQ(u->image, nullptr);
    std::strcpy(u->fileName, "/nowhere/x.bmp");
    PrepareUnderlay(u, 1, 1);
    EXPECT_TRUE(u->image && Bgr({u->image[0], u->image[1], u->image[2]}) == kBlue);
    PrepareUnderlay(u, 0, 3);
    EXPECT_EQ(u->image, nullptr);
    MyFree(u);
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(Underlays, HostileBmpFilesAreRefusedWithoutReadingPastThem) {
    const std::string good = Bmp({});  // 4 x 2: 54 bytes of headers, 24 of pixels
    auto with = [&](std::vector<std::pair<size_t, uint32_t>> fields) {
        std::string s = good;
        for (auto [at, v] : fields) WriteLE32(&s[at], v);
        return s;
    };
    // The bytes, the message (shown twice) and whether the file loads, for a picture size the pixel
    // block cannot hold, which is refused quietly.
    const std::tuple<std::string, const char*, bool> cases[] = {
        {good.substr(0, 10), nullptr, false},
        {"XM" + good.substr(2), "Not a BMP file", false},
        {with({{10, 5000}}), "failed to read bm header (64 4986)", false},  // data offset beyond the file
        {with({{10, 8}}), "Not a BMP file", false},  // data offset inside the file header
        {with({{10, 0x7FFFFFF0}}), "failed to allocate bm header of 2147483618 bytes", false},
        {with({{14, 20}}), "Not a BMP file", false},  // a header of no known kind
        {with({{14, 60}}), "Not a BMP file", false},  // a header longer than its block
        {with({{2, 1000000}}), "failed to read bm data (24 999946)", false},
        {with({{2, 20}}), "failed to allocate bm data of -34 bytes", false},
        {with({{2, 0xFFFFFFFF}}), "failed to allocate bm data of 4294967241 bytes", false},
        {with({{18, 5}}), nullptr, true},
        {with({{22, 3}}), nullptr, true},
        {with({{18, static_cast<uint32_t>(-4)}}), nullptr, true},
        {with({{18, 0}}), nullptr, true},
        {with({{22, 0}}), nullptr, true},
        {with({{18, 100000}, {22, 1}}), nullptr, true},
    };
    for (const auto& [bytes, message, loads] : cases) {
        SCOPED_TRACE(message ? message : "quiet");
        boxes->shown.clear();
        EXPECT_EQ(FromFile(bytes, 4, 2), std::vector<Bgr>(8, kBlue));
        UnderlayRecord u{};
        std::strncpy(u.fileName, dir.file("u.bmp").c_str(), sizeof u.fileName - 1);
        uint8_t* pixels = reinterpret_cast<uint8_t*>(0x1);
        int32_t size = -1;
        if (!loads) {
            EXPECT_EQ(LoadBMP(&u, &pixels, &size), nullptr);
            EXPECT_TRUE(!pixels && size == 0);
        }
        EXPECT_EQ(boxes->texts(),
                  message ? std::vector<std::string>(2, message) : std::vector<std::string>{});
        EXPECT_EQ(ReadWholeFile(dir.file("u.bmp")), bytes);
    }
    // An image size of 0 is worked out from sides not yet checked: 3 x (2^31 - 1)^2 stops at the
    // limit. A named pipe is no picture and never blocks.
    WriteWholeFile(dir.file("u.bmp"), with({{18, INT32_MAX}, {22, INT32_MAX}, {34, 0}}));
    UnderlayRecord u{};
    std::strncpy(u.fileName, dir.file("u.bmp").c_str(), sizeof u.fileName - 1);
    uint8_t* pixels = nullptr;
    MonitorPtr<BITMAPINFOHEADER> bh(LoadBMP(&u, &pixels, nullptr));
    MonitorPtr<uint8_t> kept(pixels);
    EXPECT_TRUE(bh && bh->biSizeImage == UINT32_MAX);
    std::strncpy(u.fileName, dir.file("pipe.bmp").c_str(), sizeof u.fileName - 1);
    ASSERT_EQ(mkfifo(u.fileName, 0600), 0);
    EXPECT_EQ(LoadBMP(&u, &pixels, nullptr), nullptr);
}

TEST_F(Underlays, RenderKeyReplacesSaturatedBlue) {
    std::vector<Bgr> image;
    for (uint8_t p = 0; p < 8; p++) image.push_back({9, p, 99});
    AddRevision(kRevUnderlay, 1, 5, HandImage(4, 2, image));
    TestFrame f(4, 2, 24), wider(5, 3, 24, 0), sixteen(4, 2, 16, 0x1F);  // 0x1F1F: blue in 5-5-5
    // Blue above 200 with green and red below 50 is keyed: the first and last of these.
    const Bgr cases[] = {{210, 40, 40}, {200, 40, 40}, {210, 50, 40}, {255, 49, 49}};
    for (int32_t c = 0; c < 4; c++) f.set(0, c, cases[c]);
    for (int32_t p = 0; p < 15; p++) wider.set(p / 5, p % 5, {230, 0, 0});
    const auto before = sixteen.bytes;
    FrameState(3);
    for (TestFrame* t : {&f, &wider, &sixteen}) ApplyTitle(nullptr, t->data(), &t->header, 2);
    EXPECT_EQ((std::vector{f.bgr(0, 0), f.bgr(0, 1), f.bgr(0, 2), f.bgr(0, 3), f.bgr(1, 0)}),
              (std::vector{image[0], cases[1], cases[2], image[3], kPlain}));
    // On a larger frame only the image's part changes; a 16-bit frame is left as it is.
    EXPECT_EQ((std::vector{wider.bgr(1, 3), wider.bgr(1, 4), wider.bgr(2, 0)}),
              (std::vector{image[7], Bgr{230, 0, 0}, Bgr{230, 0, 0}}));
    EXPECT_EQ(sixteen.bytes, before);
    EXPECT_TRUE(f.guardIntact() && wider.guardIntact());
}

TEST_F(Underlays, ColourRangesIncludeTheirEnds) {
    // A green pixel against ranges whose ends sit on its luma and colour differences (keyed), or
    // with one end a step past them (not keyed).
    const Bgr green{0, 255, 0}, image{10, 20, 30};
    const auto [y, cu, cv] = Yuv(0, 255, 0);
    const ColourRange exact{nullptr, y, y, cu, cu, cv, cv};
    const std::pair<const char*, int32_t ColourRange::*> ends[] = {
        {"luma low", &ColourRange::lumaLow},     {"luma high", &ColourRange::lumaHigh},
        {"blue low", &ColourRange::blueDiffLow}, {"blue high", &ColourRange::blueDiffHigh},
        {"red low", &ColourRange::redDiffLow},   {"red high", &ColourRange::redDiffHigh}};
    std::vector<std::pair<std::string, ColourRange>> cases{{"every end on the pixel", exact}};
    for (size_t e = 0; e < 6; e++) {
        ColourRange past = exact;
        past.*ends[e].second += e % 2 ? -1 : 1;
        cases.push_back({std::string(ends[e].first) + " one step past", past});
    }
    gProject.frameWidth = 1, gProject.frameHeight = 1;
    UnderlayRecord* u = HandImage(1, 1, {image});
    u->ranges = NewColourRange();
    AddRevision(kRevUnderlay, 1, 1, u);
    gSettings.smooth = 0;
    for (const auto& [what, range] : cases) {
        SCOPED_TRACE(what);
        *u->ranges = range;
        TestFrame f(1, 1, 24);
        f.set(0, 0, green);
        EXPECT_EQ(ApplyTitle2(f.data(), 1, 24), 1);
        EXPECT_EQ(f.bgr(0, 0), &range == &cases[0].second ? image : green);
    }
}

TEST_F(Underlays, PlaybackKeyAndItsSoftEdges) {
    const Bgr green{0, 255, 0}, image{10, 20, 30}, red{0, 0, 255};
    const int32_t w = 6, h = 4, n = w * h;
    gProject.frameWidth = w, gProject.frameHeight = h;
    UnderlayRecord* u = HandImage(w, h, std::vector<Bgr>(n, image));
    auto [y, cu, cv] = Yuv(0, 255, 0);
    u->ranges = NewColourRange();
    *u->ranges = ColourRange{nullptr, y - 2, y + 2, cu - 2, cu + 2, cv - 2, cv + 2};
    AddRevision(kRevUnderlay, 1, 1, u);
    // Green frames (0x03E0 in 5-5-5) with a red pixel at `at`, keyed with the smooth setting.
    auto keyed = [&](int bits, int32_t smooth, int32_t at = -1) {
        TestFrame f(w, h, bits);
        for (int32_t p = 0; p < n; p++)
            bits == 24 ? f.set(p / w, p % w, green) : WriteLE16(f.at(p / w, p % w), 0x03E0);
        if (at >= 0) f.set(at / w, at % w, red);
        gSettings.smooth = smooth;
        EXPECT_EQ(ApplyTitle2(f.data(), 1, bits), 1);
        EXPECT_TRUE(f.guardIntact());
        return f;
    };
    auto blend = [&](Bgr f) {
        Bgr out;
        for (int ch = 0; ch < 3; ch++) out[ch] = static_cast<uint8_t>((f[ch] * 128 + image[ch] * 127) >> 8);
        return out;
    };
    TestFrame f = keyed(24, 0, 2 * w + 2), g = keyed(16, 0), s1 = keyed(24, 1, w + 2), s2 = keyed(24, 2),
              s2g = keyed(16, 2);
    for (int32_t p = 0; p < n; p++) {
        SCOPED_TRACE(p);
        const int32_t r = p / w, c = p % w;
        // No smoothing: keyed pixels take the image; 16-bit frames are read and written as 5-5-5.
        EXPECT_EQ(f.bgr(r, c), p == 2 * w + 2 ? red : image);
        EXPECT_EQ(g.word(r, c), (30 & 0xF8) << 7 | (20 & 0xF8) << 2 | 10 >> 3);
        // Smooth 1: the first pixel is never replaced; an edge is blended half way.
        EXPECT_EQ(s1.bgr(r, c), p == 0 ? green : p == w + 2 ? blend(red) : p == w + 3 ? blend(green) : image);
        // Smooth 2: the first and last w + 1 pixels are never replaced.
        const bool edge = p < w + 1 || p >= n - w - 1;
        EXPECT_EQ(s2.bgr(r, c), edge ? green : image);
        EXPECT_EQ(s2g.word(r, c) == 0x03E0, edge);
    }
    // 8-bit frames are left as they are.
    TestFrame eight(w, h, 8);
    const auto before = eight.bytes;
    ApplyTitle2(eight.data(), 1, 8);
    EXPECT_EQ(eight.bytes, before);
}
