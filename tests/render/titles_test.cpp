// Titles: where the text lands, the four-neighbour outline, each applier's copy rule on 24-bit and
// 16-bit frames, the walkers over the revision list, and failures that must leave frames alone.
#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "core/diag.h"
#include "overlay_support.h"
#include "support/scripted.h"

namespace {

using Points = std::set<std::pair<int32_t, int32_t>>;  // (x, y), y counted from the top

constexpr uint32_t kYellow = 0x0000FFFF;
const Bgr kYellowBgr{0, 255, 255}, kBackground{1, 1, 1}, kOutline{0, 0, 0}, kPlain{0x40, 0x40, 0x40};

// The ink of one line drawn by the GDI layer alone at (0, 0), and the line's extent.
Points InkOf(const TitleRecord* t, const std::string& line, uint32_t* extent) {
    const int32_t w = 600, h = 200, ox = 100, oy = 50;
    LOGFONTA lf{};
    lf.lfHeight = t->height;
    lf.lfWeight = t->weight;
    std::memcpy(lf.lfFaceName, t->faceName, sizeof lf.lfFaceName - 1);
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateBitmap(w, h, 1, 1, nullptr);
    HFONT font = CreateFontIndirectA(&lf);
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap), oldFont = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, RGB(255, 255, 255));
    TextOutA(dc, ox, oy, line.data(), static_cast<int>(line.size()));
    *extent = MyGetTextExtent(dc, line.data(), static_cast<int>(line.size()));
    std::vector<uint8_t> block(sizeof(BITMAPINFOHEADER) + 1024), rows(w * h);
    auto* info = reinterpret_cast<BITMAPINFO*>(block.data());
    info->bmiHeader = BITMAPINFOHEADER{40, w, h, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    GetDIBits(dc, bitmap, 0, h, rows.data(), info, DIB_RGB_COLORS);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(font);
    DeleteObject(bitmap);
    DeleteDC(dc);
    Points ink;
    for (int32_t r = 0; r < h; r++)
        for (int32_t x = 0; x < w; x++)
            if (rows[r * w + x]) ink.insert({x - ox, h - 1 - r - oy});
    return ink;
}

Points TextPixels(const TitleRecord* t) {
    Points text;
    for (int32_t r = 0; r < t->stencilHeight; r++)
        for (int32_t c = 0; c < t->stencilWidth; c++)
            if (StencilAt(t, r, c) == kYellowBgr) text.insert({c, t->stencilHeight - 1 - r});
    return text;
}

// The stencil of a grey picture (rows bottom first, '#' text; the rows padded with junk that must
// not count), drawn as 'T' text, 'o' outline and '.' background.
std::vector<std::string> Outline(const std::vector<std::string>& picture) {
    const int32_t w = static_cast<int32_t>(picture[0].size()), h = static_cast<int32_t>(picture.size());
    const int64_t stride = DibRowBytes(w, 8);
    std::vector<uint8_t> grey(static_cast<size_t>(stride * h), 0x99), stencil(static_cast<size_t>(w * h * 3));
    for (int32_t r = 0; r < h; r++)
        for (int32_t c = 0; c < w; c++) grey[r * stride + c] = picture[r][c] == '#' ? 255 : 0;
    StencilFromGrey(grey.data(), stride, w, h, kYellow, stencil.data());
    std::vector<std::string> out(h, std::string(w, '?'));
    for (int32_t p = 0; p < w * h; p++) {
        Bgr b{stencil[p * 3], stencil[p * 3 + 1], stencil[p * 3 + 2]};
        out[p / w][p % w] = b == kYellowBgr ? 'T' : b == kOutline ? 'o' : b == kBackground ? '.' : '?';
    }
    return out;
}

class Titles : public OverlayTest {};

}  // namespace

TEST_F(Titles, PlacementFollowsTheMeasuredExtents) {
    ScopedBoxes boxes;
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
        std::string text = c.lines[0] + (c.lines.size() > 1 ? "\n" + c.lines[1] : "");
        SCOPED_TRACE(text);
        TitleRecord* t = MakeTitle(text, kYellow, c.vertical, c.horizontal, 20);
        PrepareTitle(nullptr, 320, 240, t);
        Points want;
        int32_t y = c.y;
        for (const std::string& line : c.lines) {
            uint32_t extent = 0;
            Points ink = InkOf(t, line, &extent);
            int32_t width = static_cast<int32_t>(extent & 0xFFFF);
            EXPECT_EQ(extent >> 16, 20u);  // a cell height of 20 gives 20-pixel lines
            int32_t x = c.horizontal == 1 ? c.x : c.horizontal == 2 ? c.x - width : c.x - width / 2;
            for (auto [px, py] : ink) want.insert({px + x, py + y});
            y += 20;
        }
        EXPECT_FALSE(want.empty());
        EXPECT_EQ(TextPixels(t), want);
        FreeTitle(t);
    }
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(Titles, OutlineCoversFourNeighboursOnly) {
    EXPECT_EQ(Outline({".....", ".....", "..#..", ".....", "....."}),
              (std::vector<std::string>{".....", "..o..", ".oTo.", "..o..", "....."}));
    // Text next to text keeps its colour; neighbours do not wrap from one row's end to the next row.
    EXPECT_EQ(Outline({"#...", "..##", "...."}), (std::vector<std::string>{"Tooo", "ooTT", "..oo"}));
    // A rendered title at a width whose rows are padded obeys the same rule everywhere.
    TitleRecord* t = MakeTitle("Wg\nIj", kYellow, 0, 0, 24);
    PrepareTitle(nullptr, 61, 45, t);
    auto isText = [&](int32_t r, int32_t c) {
        return r >= 0 && c >= 0 && r < 45 && c < 61 && StencilAt(t, r, c) == kYellowBgr;
    };
    for (int32_t r = 0; r < 45; r++)
        for (int32_t c = 0; c < 61; c++) {
            bool nearText = isText(r - 1, c) || isText(r + 1, c) || isText(r, c - 1) || isText(r, c + 1);
            if (!isText(r, c)) {
                EXPECT_EQ(StencilAt(t, r, c), nearText ? kOutline : kBackground) << r << "," << c;
            }
        }
    EXPECT_GT(TextPixels(t).size(), 20u);
    FreeTitle(t);
}

TEST_F(Titles, EachApplierHasItsCopyRule) {
    LogCapture log;
    const Bgr redIsOne{200, 100, 1}, blueIsOne{1, 100, 200};
    TitleRecord* t = MakeTitle("x", kYellow);
    AddRevision(kRevTitle, 1, 1, t);
    gProject.frameWidth = 5;
    gProject.frameHeight = 1;
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
    HandStencil(t, 5, 1, {kBackground, kOutline, kYellowBgr, redIsOne, blueIsOne});
    auto f = applyAll(24, 0x40);
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE("24-bit: ApplyTitle and ApplyTitle1 skip any byte of 1, ApplyTitle2 only a blue 1");
        EXPECT_EQ(f[i].bgr(0, 0), kPlain);
        EXPECT_EQ(f[i].bgr(0, 1), kOutline);
        EXPECT_EQ(f[i].bgr(0, 2), kYellowBgr);
        EXPECT_EQ(f[i].bgr(0, 3), i == 2 ? redIsOne : kPlain);
        EXPECT_EQ(f[i].bgr(0, 4), kPlain);
    }
    HandStencil(t, 5, 1, {Bgr{50, 100, 200}, kOutline, redIsOne, blueIsOne, kBackground});
    f = applyAll(16, 0x11);
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE("16-bit: 5-5-5 packing and no byte of 1");
        EXPECT_EQ(f[i].word(0, 0), 0x6586);  // (200 & 0xF8) << 7 | (100 & 0xF8) << 2 | 50 >> 3
        EXPECT_EQ(f[i].word(0, 1), 0);
        for (int32_t c = 2; c < 5; c++) EXPECT_EQ(f[i].word(0, c), 0x1111);
    }
    for (int bits : {8, 32}) {
        SCOPED_TRACE("other depths are left as they are and logged");
        TestFrame one(5, 1, bits), all(5, 1, bits), play(5, 1, bits);
        const auto before = one.bytes;
        ApplyTitle1(nullptr, one.data(), &one.header, t);
        ApplyTitle(nullptr, all.data(), &all.header, 0);
        ApplyTitle2(play.data(), 1, bits);
        EXPECT_TRUE(one.bytes == before && all.bytes == before && play.bytes == before);
        for (const char* who : {"ApplyTitle", "ApplyTitle1", "ApplyTitle2"})
            EXPECT_TRUE(log.contains(std::string(who) + ": Unsupported bit depth " + std::to_string(bits)));
    }
    FrameState(2);  // the revision no longer applies
    TestFrame later(5, 1, 24);
    ApplyTitle(nullptr, later.data(), &later.header, 1);
    EXPECT_EQ(later.bgr(0, 2), kPlain);
}

TEST_F(Titles, WalkersFollowTheRevisionList) {
    LogCapture log;
    gProject.frameWidth = 3;  // 24-bit rows of 9 bytes padded to 12
    gProject.frameHeight = 2;
    TitleRecord *first = MakeTitle("a", 0), *second = MakeTitle("b", 0);
    const Bgr red{0, 0, 255}, green{0, 255, 0};
    HandStencil(first, 3, 2, {red, red, kBackground, red, red, red});
    HandStencil(second, 3, 2, {kBackground, green, green, kBackground, kBackground, kBackground});
    AddRevision(kRevTitle, 1, 10, first);
    AddRevision(kRevDrop, 4, 4, nullptr);
    AddRevision(kRevTitle, 5, 10, second);
    AddRevision(kRevTitle, 6, 6, nullptr);
    AddRevision(kRevInactivate, 1, 2, nullptr);
    TestFrame f(3, 2, 24);
    FrameState(5);
    ApplyTitle(nullptr, f.data(), &f.header, 4);
    EXPECT_EQ(f.bgr(0, 0), red);
    EXPECT_EQ(f.bgr(0, 1), green);  // the later revision paints over the earlier one
    EXPECT_EQ(f.bgr(1, 2), red);
    for (int i = 9; i < 12; i++) EXPECT_EQ(f.bytes[i], 0x40) << "padding byte " << i;
    EXPECT_FALSE(log.contains("ti==0"));
    FrameState(6);
    ApplyTitle(nullptr, f.data(), &f.header, 5);
    EXPECT_TRUE(log.contains("ti==0"));
    // Every covering revision counts.
    for (auto [frame, count] : {std::pair{1, 2}, {4, 2}, {6, 3}, {11, 0}})
        EXPECT_EQ(ApplyTitle2(f.data(), frame, 24), count);
    EXPECT_EQ(ApplyTitle2(nullptr, 1, 24), 2);
    // A frame smaller than the stencils gets only the part both cover.
    TestFrame small(2, 1, 24);
    FrameState(1);
    ApplyTitle(nullptr, small.data(), &small.header, 0);
    EXPECT_EQ(small.bgr(0, 1), red);
    EXPECT_TRUE(f.guardIntact() && small.guardIntact());
    ApplyTitle(nullptr, f.data(), nullptr, 0);
    ApplyTitle1(nullptr, f.data(), &f.header, nullptr);
}

TEST_F(Titles, FailuresLeaveFramesAlone) {
    ScopedBoxes boxes;
    TitleRecord* t = MakeTitle("", kYellow);
    PrepareTitle(nullptr, 30, 10, t);  // an empty text is all background and changes nothing
    EXPECT_TRUE(TextPixels(t).empty());
    EXPECT_EQ(StencilAt(t, 9, 29), kBackground);
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
    // PrepareOverlays rebuilds every title of the list.
    MyFree(t->text);
    t->text = static_cast<char*>(MyCalloc(6, 1));
    std::memcpy(t->text, "Hello", 5);
    AddRevision(kRevTitle, 1, 1, t);
    AddRevision(kRevTitle, 2, 2, nullptr);
    PrepareOverlays(nullptr, 40, 20);
    EXPECT_EQ(t->stencilWidth, 40);
    EXPECT_FALSE(TextPixels(t).empty());
    EXPECT_EQ(boxes->shown.size(), 2u);
}
