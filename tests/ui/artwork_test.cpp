// The generated artwork: every picture of the VCR bitmap where the panels cut it, four distinct
// state rows per button face, and the toolbar strip and splash picture.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/scripted.h"
#include "ui/artwork.h"
#include "ui/bitmaps.h"
#include "ui/resources.h"

namespace {

BitmapRecord* Loaded(const char* name) {
    if (BitmapRecord* b = FindLoadedBitmap(name)) return b;
    ButtonRecord* probe = AddBitmapButton(nullptr, nullptr, 1, name, 0, 0, 1, 1);
    BitmapRecord* b = probe ? probe->bitmap : nullptr;
    FreeButtonList(probe);
    return b;
}

// The colour at (x, y) counted from the top, as 0xRRGGBB.
uint32_t Pixel(const BitmapRecord& b, int32_t x, int32_t y) {
    const uint8_t* q = b.table + b.bits[static_cast<size_t>(b.height - 1 - y) * b.stride + x] * 4;
    return (static_cast<uint32_t>(q[2]) << 16) | (static_cast<uint32_t>(q[1]) << 8) | q[0];
}

std::vector<uint32_t> Image(const BitmapRecord& b, const ArtworkRect& r, int32_t row) {
    std::vector<uint32_t> px;
    for (int32_t y = 0; y < r.height; y++)
        for (int32_t x = 0; x < r.width; x++) px.push_back(Pixel(b, r.x + x, r.y + row * r.height + y));
    return px;
}

void ExpectDistinctRows(const BitmapRecord& b, const ArtworkRect& face, int32_t id) {
    for (int32_t r = 0; r < kButtonStateRows; r++)
        for (int32_t s = r + 1; s < kButtonStateRows; s++)
            EXPECT_NE(Image(b, face, r), Image(b, face, s)) << id << " rows " << r << ", " << s;
}

}  // namespace

TEST(Artwork, VcrBitmapHoldsEveryPictureWhereThePanelsCutIt) {
    ScopedBoxes boxes;
    BitmapRecord* vcr = Loaded(kVcrBitmapName);
    ASSERT_NE(vcr, nullptr);
    EXPECT_TRUE(vcr->header.biWidth == kVcrBitmapWidth && vcr->height == kVcrBitmapHeight &&
                vcr->header.biBitCount == 8);
    // Every picture lies inside the bitmap and none covers another.
    std::vector<std::pair<int32_t, ArtworkRect>> parts = {
        {-1, kVcrFront}, {-2, kVcrRowWell}, {-3, kVcrInfoWell}};
    auto withRows = [](const ArtworkRect& f) {
        return ArtworkRect{f.x, f.y, f.width, f.height * kButtonStateRows};
    };
    parts.push_back({-4, withRows(kCaptureStopFace)});
    for (const ArtworkButton& b : kVcrPanelButtons) parts.push_back({b.controlId, withRows(b.face)});
    for (const ArtworkButton& b : kCapturePanelButtons)
        if (b.controlId != 1881) parts.push_back({10000 + b.controlId, withRows(b.face)});
    for (size_t i = 0; i < parts.size(); i++) {
        const ArtworkRect& a = parts[i].second;
        EXPECT_TRUE(a.x >= 0 && a.y >= 0 && a.x + a.width <= kVcrBitmapWidth &&
                    a.y + a.height <= kVcrBitmapHeight)
            << parts[i].first;
        for (size_t j = i + 1; j < parts.size(); j++) {
            const ArtworkRect& b = parts[j].second;
            EXPECT_FALSE(a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height &&
                         b.y < a.y + a.height)
                << parts[i].first << " and " << parts[j].first;
        }
    }
    for (const ArtworkButton& b : kVcrPanelButtons) ExpectDistinctRows(*vcr, b.face, b.controlId);
    for (const ArtworkButton& b : kCapturePanelButtons) ExpectDistinctRows(*vcr, b.face, b.controlId);
    ExpectDistinctRows(*vcr, kCaptureStopFace, 0);
    EXPECT_TRUE(boxes->shown.empty());
}

TEST(Artwork, ToolbarStripAndSplashPicture) {
    ScopedBoxes boxes;
    BitmapRecord* strip = Loaded(kToolbarBitmapName);
    ASSERT_NE(strip, nullptr);
    EXPECT_TRUE(strip->header.biWidth == kToolbarStripWidth && strip->height == kToolbarStripHeight);
    std::vector<std::vector<uint32_t>> faces;
    for (int32_t id : kToolbarControlIds) {
        ArtworkRect face{};
        ASSERT_TRUE(ToolbarFace(id, face));
        ExpectDistinctRows(*strip, face, id);
        faces.push_back(Image(*strip, face, 0));
    }
    for (size_t i = 1; i < faces.size(); i++) EXPECT_NE(faces[i], faces[i - 1]) << "one picture per command";
    ArtworkRect none{};
    EXPECT_FALSE(ToolbarFace(4242, none));
    ResourceData splash;
    ASSERT_TRUE(FindResourceData("SPLASH", "PNG", splash));
    EXPECT_TRUE(splash.size > 1000 && std::memcmp(splash.data, "\x89PNG", 4) == 0);
    EXPECT_FALSE(FindResourceData("SPLASH", "MYBITMAP", splash));
}
