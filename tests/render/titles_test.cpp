// Titles: where the text lands, the four-neighbour outline, each applier's copy rule on 24-bit and
// 16-bit frames, the walkers over the revision list, and failures that must leave frames alone.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "render_support.h"

using namespace render_test;

namespace {

using Points = std::set<std::pair<int32_t, int32_t>>;  // (x, y), y counted from the top

constexpr uint32_t kYellow = 0x0000FFFF;
const Bgr kYellowBgr{0, 255, 255}, kBackground{1, 1, 1}, kOutline{0, 0, 0}, kPlain{0x40, 0x40, 0x40};

// The ink of one line drawn by the GDI layer alone at (0, 0), and the line's extent.
Points InkOf(const TitleRecord* t, const std::string& line, uint32_t* extent) {
    const int32_t w = 600, h = 200, ox = 100, oy = 50;
    TitleFont text(t);
    HBITMAP bitmap = CreateBitmap(w, h, 1, 1, nullptr);
    HGDIOBJ old = SelectObject(text.dc, bitmap);
    SetBkMode(text.dc, TRANSPARENT);
    SetTextColor(text.dc, RGB(255, 255, 255));
    TextOutA(text.dc, ox, oy, line.data(), static_cast<int>(line.size()));
    *extent = text.Extent(line);
    std::vector<uint8_t> block(sizeof(BITMAPINFOHEADER) + 1024), rows(w * h);
    auto* info = reinterpret_cast<BITMAPINFO*>(block.data());
    info->bmiHeader = BITMAPINFOHEADER{40, w, h, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(text.dc, bitmap, 0, h, rows.data(), info, DIB_RGB_COLORS);
    SelectObject(text.dc, old);
    DeleteObject(bitmap);
    Points ink;
    for (int32_t p = 0; p < w * h; p++)
        if (rows[p]) ink.insert({p % w - ox, h - 1 - p / w - oy});
    return ink;
}

// The text pixels of a stencil, placed in the frame it was drawn for.
Points TextPixels(const TitleRecord* t) {
    Points text;
    for (int32_t p = 0, w = t->stencilWidth; t->stencil && p < w * t->stencilHeight; p++)
        if (StencilAt(t, p) == kYellowBgr)
            text.insert({t->stencilX + p % w, t->drawnHeight - 1 - (t->stencilY + p / w)});
    return text;
}

// The pixels of a 24-bit frame in the text colour, y counted from the top of a frame of height
// `drawn` whose bottom rows the frame shows.
Points TextOnFrame(TestFrame& f, int32_t drawn) {
    Points text;
    for (int32_t r = 0; r < f.header.biHeight; r++)
        for (int32_t c = 0; c < f.header.biWidth; c++)
            if (f.bgr(r, c) == kYellowBgr) text.insert({c, drawn - 1 - r});
    return text;
}

// The stencil of a grey picture (rows bottom first, '#' text; the rows padded with junk that must
// not count), drawn as 'T' text, 'o' outline and '.' background.
std::vector<std::string> Outline(const std::vector<std::string>& picture) {
    const int32_t w = static_cast<int32_t>(picture[0].size()), h = static_cast<int32_t>(picture.size());
    const int64_t stride = DibRowBytes(w, 8);
    std::vector<uint8_t> grey(static_cast<size_t>(stride * h), 0x99), stencil(static_cast<size_t>(w * h * 3));
    for (int32_t p = 0; p < w * h; p++) grey[p / w * stride + p % w] = picture[p / w][p % w] == '#' ? 255 : 0;
    StencilFromGrey(grey.data(), stride, w, h, kYellow, stencil.data());
    std::vector<std::string> out(h, std::string(w, '?'));
    for (int32_t p = 0; p < w * h; p++) {
        const Bgr b{stencil[p * 3], stencil[p * 3 + 1], stencil[p * 3 + 2]};
        out[p / w][p % w] = b == kYellowBgr ? 'T' : b == kOutline ? 'o' : b == kBackground ? '.' : '?';
    }
    return out;
}

class Titles : public RenderTest {};

}  // namespace

TEST_F(Titles, PlacementFollowsTheMeasuredExtentsAndTheOutlineTheFourNeighbours) {
    struct Case {
        int32_t vertical, horizontal;
        std::vector<std::string> lines;
        int32_t x, y;  // anchor and first line's top on a 320 x 240 frame with 20-pixel lines
    } const cases[] = {
        {2, 0, {"Quillory", "says hi"}, 160, 240 - 40 - 12},
        {1, 1, {"Left"}, 16, 12},
        {1, 2, {"Right", "side"}, 304, 12},
        {0, 0, {"Mid"}, 160, (240 - 20) / 2},
    };
    for (const Case& c : cases) {
        const std::string text = c.lines[0] + (c.lines.size() > 1 ? "\n" + c.lines[1] : "");
        SCOPED_TRACE(text);
        TitleRecord* t = MakeTitle(text, kYellow, c.vertical, c.horizontal, 20);
        AddRevision(kRevTitle, 1, 1, t);
        PrepareTitle(nullptr, 320, 240, t);
        Points want;
        int32_t y = c.y;
        for (const std::string& line : c.lines) {
            uint32_t extent = 0;
            const Points ink = InkOf(t, line, &extent);
            const int32_t width = static_cast<int32_t>(extent & 0xFFFF);
            EXPECT_EQ(extent >> 16, 20u);  // a cell height of 20 gives 20-pixel lines
            const int32_t x = c.horizontal == 1 ? c.x : c.horizontal == 2 ? c.x - width : c.x - width / 2;
            for (auto [px, py] : ink) want.insert({px + x, py + y});
            y += 20;
        }
        EXPECT_FALSE(want.empty());
        EXPECT_EQ(TextPixels(t), want);
        // Laid on frames of that size and smaller (the part both cover), at 24 and 16 bits, the
        // stencil of the text's box changes what a stencil of the whole frame changes.
        TitleRecord whole = *t;
        whole.stencil = static_cast<uint8_t*>(MyCalloc(320 * 240, 3));
        RenderTitle(nullptr, t->text, 320, 240, whole.stencil, t);
        whole.stencilWidth = 320, whole.stencilHeight = 240, whole.stencilX = whole.stencilY = 0;
        for (auto [w, h, bits] : {std::array{320, 240, 24}, {200, 120, 24}, {320, 240, 16}, {311, 97, 16}}) {
            TestFrame boxed(w, h, bits), full(w, h, bits);
            ApplyTitle1(nullptr, boxed.data(), &boxed.header, t);
            ApplyTitle1(nullptr, full.data(), &full.header, &whole);
            EXPECT_TRUE(boxed.bytes == full.bytes) << w << "x" << h << "x" << bits;
            if (w == 320 && bits == 24) {
                EXPECT_EQ(TextOnFrame(boxed, 240), want);
            }
        }
        MyFree(whole.stencil);
    }
    EXPECT_TRUE(boxes->shown.empty());

    // Text next to text keeps its colour; neighbours do not wrap from one row's end to the next row.
    EXPECT_EQ(Outline({".....", ".....", "..#..", ".....", "....."}),
              (std::vector<std::string>{".....", "..o..", ".oTo.", "..o..", "....."}));
    EXPECT_EQ(Outline({"#...", "..##", "...."}), (std::vector<std::string>{"Tooo", "ooTT", "..oo"}));
}

TEST_F(Titles, EachApplierHasItsCopyRuleAndTheWalkersFollowTheRevisionList) {
    const Bgr red{0, 0, 255}, nearBlack{2, 2, 2};
    TitleRecord *t = MakeTitle("x", kYellow), *over = MakeTitle("y", 0);
    AddRevision(kRevTitle, 1, 2, t);
    AddRevision(kRevDrop, 2, 2, nullptr);
    AddRevision(kRevTitle, 2, 2, over);
    AddRevision(kRevTitle, 2, 2, nullptr);
    gProject.frameWidth = 5, gProject.frameHeight = 1;
    // ApplyTitle1 with the record, ApplyTitle through the revision list, ApplyTitle2 for playback.
    auto applyAll = [&](int bits, uint8_t fill) {
        std::vector<TestFrame> f(3, TestFrame(5, 1, bits, fill));
        ApplyTitle1(nullptr, f[0].data(), &f[0].header, t);
        FrameState(1);
        ApplyTitle(nullptr, f[1].data(), &f[1].header, 0);
        EXPECT_EQ(ApplyTitle2(f[2].data(), 1, bits), 1);
        for (const TestFrame& g : f) EXPECT_TRUE(g.guardIntact());
        return f;
    };
    // A title in RGB(1, 1, 1), the background marker's colour, is drawn by every applier (as 2s).
    const uint8_t grey[8] = {0, 0, 255, 0, 0};
    HandStencil(t, 5, 1, std::vector<Bgr>(5));
    StencilFromGrey(grey, 8, 5, 1, RGB(1, 1, 1), t->stencil);
    auto f = applyAll(24, 0x40);
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE("24-bit: text and outline are copied, the background is not");
        const std::vector<Bgr> want{kPlain, kOutline, nearBlack, kOutline, kPlain};
        for (int32_t c = 0; c < 5; c++) EXPECT_EQ(f[i].bgr(0, c), want[c]) << c;
    }
    HandStencil(t, 5, 1, {Bgr{50, 100, 200}, kOutline, Bgr{200, 100, 1}, Bgr{1, 100, 200}, kBackground});
    f = applyAll(16, 0x11);
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE("16-bit: 5-5-5 packing and no byte of 1");
        const std::vector<uint16_t> want{0x6586, 0, 0x1111, 0x1111, 0x1111};  // 0x6586: 200, 100, 50
        for (int32_t c = 0; c < 5; c++) EXPECT_EQ(f[i].word(0, c), want[c]) << c;
    }
    for (int bits : {8, 32}) {
        SCOPED_TRACE("other depths are left as they are");
        TestFrame one(5, 1, bits), all(5, 1, bits), play(5, 1, bits);
        const auto before = one.bytes;
        ApplyTitle1(nullptr, one.data(), &one.header, t);
        ApplyTitle(nullptr, all.data(), &all.header, 0);
        ApplyTitle2(play.data(), 1, bits);
        EXPECT_TRUE(one.bytes == before && all.bytes == before && play.bytes == before);
    }
    // Frame 2: every covering revision counts, a later title paints over an earlier one, a title
    // without a record is passed over; a frame smaller than a stencil gets the part both cover; a
    // frame no revision covers is left alone.
    HandStencil(over, 3, 1, {kBackground, red, red});
    EXPECT_EQ((std::vector{ApplyTitle2(f[0].data(), 2, 16), ApplyTitle2(f[0].data(), 3, 16)}),
              (std::vector{4, 0}));
    TestFrame small(3, 1, 24), none(5, 1, 24);
    FrameState(2);
    ApplyTitle(nullptr, small.data(), &small.header, 1);
    EXPECT_EQ((std::vector{small.bgr(0, 0), small.bgr(0, 1), small.bgr(0, 2)}),
              (std::vector{Bgr{50, 100, 200}, red, red}));
    EXPECT_EQ(std::vector<uint8_t>(small.bytes.begin() + 9, small.bytes.begin() + 12),
              std::vector<uint8_t>(3, 0x40));
    FrameState(3);
    ApplyTitle(nullptr, none.data(), &none.header, 2);
    EXPECT_TRUE(small.guardIntact() && none.bytes == TestFrame(5, 1, 24).bytes);
}

TEST_F(Titles, FailuresLeaveFramesAlone) {
    TitleRecord* t = MakeTitle("", kYellow);
    AddRevision(kRevTitle, 1, 1, t);
    PrepareTitle(nullptr, 30, 10, t);  // an empty text has an empty stencil and changes nothing
    EXPECT_TRUE(t->stencil && t->stencilWidth * t->stencilHeight == 0);
    TestFrame f(30, 10, 24);
    const auto before = f.bytes;
    ApplyTitle1(nullptr, f.data(), &f.header, t);
    EXPECT_EQ(f.bytes, before);
    // A bitmap that cannot be made keeps the stencil as it was; sizes past the limits make none.
    std::vector<uint8_t> stencil(30, 0x33);
    RenderTitle(nullptr, "Hello", kMaxBitmapSide + 10, 1, stencil.data(), t);
    EXPECT_EQ(boxes->texts(), (std::vector<std::string>{"GetStencil - couldn't CreateBitmap (16394x1)",
                                                        "Couldn't GET Stencil"}));
    EXPECT_EQ(stencil, std::vector<uint8_t>(30, 0x33));
    for (auto [w, h] : {std::pair{0, 10}, {10, -1}, {kMaxOverlaySide + 1, 2}}) {
        PrepareTitle(nullptr, w, h, t);
        EXPECT_EQ(t->stencil, nullptr);
    }
}
