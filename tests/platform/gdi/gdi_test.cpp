// The GDI text stand-in: Windows face names land on metric-compatible faces, LOGFONT heights mean
// what they mean on Windows, monochrome bitmaps read back as bottom-up 8-bit rows, and handles
// that are not live objects are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "platform/gdi/gdi.h"

namespace {

// Width and height of text in a font; the extent provider must agree with the context.
SIZE Measure(const char* face, int32_t height, int32_t weight = FW_NORMAL) {
    LOGFONTA lf{};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    std::strncpy(lf.lfFaceName, face, sizeof lf.lfFaceName - 1);
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font = CreateFontIndirectA(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{-1, -1};
    GetTextExtentPoint32A(dc, "Hello World", 11, &size);
    uint32_t packed = MyGetTextExtent(dc, "Hello World", 11);
    EXPECT_EQ(packed, static_cast<uint32_t>(size.cy) << 16 | static_cast<uint32_t>(size.cx));
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(font);
    return size;
}

std::vector<uint8_t> ReadBack(HDC dc, HBITMAP bitmap, int32_t width, int32_t height) {
    std::vector<uint8_t> block(sizeof(BITMAPINFOHEADER) + 1024);
    auto* info = reinterpret_cast<BITMAPINFO*>(block.data());
    info->bmiHeader = BITMAPINFOHEADER{40, width, height, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint8_t> rows(static_cast<size_t>((width + 3) / 4 * 4 * height), 0x77);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, static_cast<uint32_t>(height), rows.data(), info, DIB_RGB_COLORS),
              height);
    return rows;
}

}  // namespace

TEST(GdiText, FacesAndHeightsReachTheMeasure) {
    ASSERT_TRUE(EnsureGuiApplication());
    auto previous = InstallGdiTextExtentProvider();
    // Advance widths of "Hello World" in 2048ths of an em, shared by the Windows faces and Liberation.
    for (auto [face, height, advance] :
         {std::tuple{"Arial", 20, 10584}, {"Arial", 40, 10584}, {"Times New Roman", 20, 10294}})
        EXPECT_NEAR(Measure(face, -height).cx, advance * height / 2048.0, 1.0) << face << height;
    for (int32_t cell : {12, 20, 33})  // a positive height is the whole cell
        EXPECT_TRUE(Measure("Arial", cell).cy <= cell && Measure("Arial", cell).cy >= cell - 1) << cell;
    EXPECT_GT(Measure("Arial", -20).cy, 20);  // a negative one is the em, without the cell's margins
    EXPECT_EQ(Measure("Arial", 0).cy, 16);
    EXPECT_GT(Measure("Arial", -20, FW_BOLD).cx, Measure("Arial", -20).cx);
    EXPECT_GT(Measure("No Such Face At All", -20).cx, 0);
    EXPECT_EQ(Measure("", -20).cx, Measure("Arial", -20).cx);
    // A context that is not live is measured with the system font.
    EXPECT_EQ(MyGetTextExtent(reinterpret_cast<HDC>(0x5150), "abc", 3) >> 16, 16u);
    EXPECT_EQ(MyGetTextExtent(nullptr, nullptr, 5) & 0xFFFF, 0u);
    SetTextExtentProvider(previous);
}

TEST(GdiObjects, DrawReadBackAndRefuse) {
    ASSERT_TRUE(EnsureGuiApplication());
    const int32_t baseline = GdiLiveObjectCount();
    const int32_t w = 37, h = 30, stride = 40;
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateBitmap(w, h, 1, 1, nullptr);
    HGDIOBJ previous = SelectObject(dc, bitmap);
    ASSERT_TRUE(screen && dc && bitmap && previous);
    {
        SCOPED_TRACE("rows come back bottom-up, padded with zeros");
        PatBlt(dc, 0, 0, w, h, BLACKNESS);
        SelectObject(dc, GetStockObject(WHITE_BRUSH));
        EXPECT_EQ(PatBlt(dc, 0, 0, 3, 2, PATCOPY), 1);  // the top-left corner
        EXPECT_EQ(PatBlt(dc, 0, 0, w, h, 0x12345678), 0);
        std::vector<uint8_t> rows = ReadBack(dc, bitmap, w, h);
        for (int32_t r = 0; r < h; r++)
            for (int32_t x = 0; x < stride; x++)
                ASSERT_EQ(rows[static_cast<size_t>(r * stride + x)], x < 3 && r >= h - 2 ? 255 : 0)
                    << r << "," << x;
    }
    {
        SCOPED_TRACE("text is drawn in black and white only");
        LOGFONTA lf{24, 0, 0, 0, FW_BOLD, 0, 1, 0, 0, 0, 0, 0, 0, "Arial"};
        HFONT font = CreateFontIndirectA(&lf);
        HGDIOBJ oldFont = SelectObject(dc, font);
        PatBlt(dc, 0, 0, w, h, BLACKNESS);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(255, 255, 255));
        EXPECT_EQ(TextOutA(dc, 2, 2, "Hx", 2), 1);
        std::vector<uint8_t> rows = ReadBack(dc, bitmap, w, h);
        EXPECT_TRUE(std::all_of(rows.begin(), rows.end(), [](uint8_t v) { return v == 0 || v == 255; }));
        EXPECT_GT(std::count(rows.begin(), rows.end(), 255), 20);
        EXPECT_EQ(DeleteObject(font), 0) << "a selected font is not deleted";
        SelectObject(dc, oldFont);
        EXPECT_EQ(DeleteObject(font), 1);
    }
    {
        SCOPED_TRACE("refused handles and requests");
        void* junk = reinterpret_cast<void*>(0x4242);
        // The last: a screen context has nothing to draw on.
        EXPECT_EQ((std::vector{DeleteObject(junk), DeleteDC(junk), ReleaseDC(nullptr, dc),
                               TextOutA(junk, 0, 0, "a", 1), TextOutA(screen, 0, 0, "a", 1)}),
                  std::vector<int>(5, 0));
        EXPECT_EQ((std::vector<const void*>{SelectObject(junk, GetStockObject(BLACK_BRUSH)),
                                            CreateCompatibleDC(junk), CreateFontIndirectA(nullptr)}),
                  std::vector<const void*>(3, nullptr));
        EXPECT_EQ(SetTextColor(junk, 0), CLR_INVALID);
        HDC other = CreateCompatibleDC(nullptr);
        EXPECT_EQ(SelectObject(other, bitmap), nullptr) << "a bitmap lives in one context at a time";
        EXPECT_EQ(DeleteObject(bitmap), 0);
        DeleteDC(other);
        for (auto [bw, bh, bits] : {std::array{0, 5, 1},
                                    {5, -5, 1},
                                    {kMaxBitmapSide + 1, 1, 1},
                                    {kMaxBitmapSide, kMaxBitmapSide, 1},
                                    {8, 8, 24}})
            EXPECT_EQ(CreateBitmap(bw, bh, 1, static_cast<uint32_t>(bits), nullptr), nullptr);
        std::vector<uint8_t> block(sizeof(BITMAPINFOHEADER) + 1024);
        auto* info = reinterpret_cast<BITMAPINFO*>(block.data());
        info->bmiHeader = BITMAPINFOHEADER{40, w + 1, h, 1, 8, BI_RGB, 0, 0, 0, 0, 0};
        std::vector<uint8_t> rows(16, 0x77);
        EXPECT_EQ(GetDIBits(dc, bitmap, 0, 1, rows.data(), info, DIB_RGB_COLORS), 0);
        EXPECT_EQ(rows, std::vector<uint8_t>(16, 0x77));
        EXPECT_EQ(DeleteObject(GetStockObject(BLACK_BRUSH)), 1);  // stock objects stay usable
        EXPECT_NE(SelectObject(dc, GetStockObject(BLACK_BRUSH)), nullptr);
    }
    SelectObject(dc, previous);
    EXPECT_EQ(DeleteObject(bitmap), 1);
    EXPECT_EQ(DeleteDC(dc), 1);
    EXPECT_EQ(ReleaseDC(nullptr, screen), 1);
    EXPECT_EQ(GdiLiveObjectCount(), baseline);
}
