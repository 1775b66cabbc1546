#include <gtest/gtest.h>

#include <cmath>
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
    const uint8_t* row = b.bits + static_cast<size_t>(b.height - 1 - y) * static_cast<size_t>(b.stride);
    const uint8_t* q = b.table + row[x] * 4;
    return (static_cast<uint32_t>(q[2]) << 16) | (static_cast<uint32_t>(q[1]) << 8) | q[0];
}

std::vector<uint32_t> Image(const BitmapRecord& b, const ArtworkRect& r, int32_t row) {
    std::vector<uint32_t> px;
    for (int32_t y = 0; y < r.height; y++)
        for (int32_t x = 0; x < r.width; x++) px.push_back(Pixel(b, r.x + x, r.y + row * r.height + y));
    return px;
}

bool Overlap(const ArtworkRect& a, const ArtworkRect& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

ArtworkRect WithRows(const ArtworkRect& face) {
    return {face.x, face.y, face.width, face.height * kButtonStateRows};
}

}  // namespace

TEST(Artwork, VcrBitmapHoldsEveryPictureWhereThePanelsCutIt) {
    ScopedBoxes boxes;
    BitmapRecord* vcr = Loaded(kVcrBitmapName);
    ASSERT_NE(vcr, nullptr);
    EXPECT_EQ(vcr->header.biWidth, kVcrBitmapWidth);
    EXPECT_EQ(vcr->height, kVcrBitmapHeight);
    EXPECT_EQ(vcr->header.biBitCount, 8);
    // The panel's StretchDIBits sources, counted from the bottom, land on these pictures.
    EXPECT_EQ(StretchSourceY(kVcrBitmapHeight, kVcrFront.y, kVcrFront.height), 100);
    EXPECT_EQ(StretchSourceY(kVcrBitmapHeight, kVcrRowWell.y, kVcrRowWell.height), 0);
    EXPECT_EQ(StretchSourceY(kVcrBitmapHeight, kVcrInfoWell.y, kVcrInfoWell.height), 19);

    // Every picture lies inside the bitmap and none covers another.
    std::vector<std::pair<int32_t, ArtworkRect>> parts = {
        {-1, kVcrFront}, {-2, kVcrRowWell}, {-3, kVcrInfoWell}, {-4, WithRows(kCaptureStopFace)}};
    for (const ArtworkButton& b : kVcrPanelButtons) parts.push_back({b.controlId, WithRows(b.face)});
    for (const ArtworkButton& b : kCapturePanelButtons)
        if (b.controlId != 1881) parts.push_back({10000 + b.controlId, WithRows(b.face)});
    for (size_t i = 0; i < parts.size(); i++) {
        const ArtworkRect& r = parts[i].second;
        EXPECT_TRUE(r.x >= 0 && r.y >= 0 && r.x + r.width <= kVcrBitmapWidth &&
                    r.y + r.height <= kVcrBitmapHeight)
            << parts[i].first;
        for (size_t j = i + 1; j < parts.size(); j++)
            EXPECT_FALSE(Overlap(r, parts[j].second)) << parts[i].first << " and " << parts[j].first;
    }

    // The four state images of each button differ from one another.
    auto distinctRows = [&](const ArtworkRect& face, int32_t id) {
        for (int32_t a = 0; a < kButtonStateRows; a++)
            for (int32_t b = a + 1; b < kButtonStateRows; b++)
                EXPECT_NE(Image(*vcr, face, a), Image(*vcr, face, b)) << id << " rows " << a << ", " << b;
    };
    for (const ArtworkButton& b : kVcrPanelButtons) distinctRows(b.face, b.controlId);
    for (const ArtworkButton& b : kCapturePanelButtons) distinctRows(b.face, b.controlId);
    distinctRows(kCaptureStopFace, 0);
    EXPECT_NE(Image(*vcr, kCaptureStopFace, 0), Image(*vcr, kCapturePanelButtons[0].face, 0));

    // The marker paths are one flat colour: the panel repaints a marker's old place with it.
    int32_t jog = 0, shuttle = 0;
    for (int32_t y = kJogCentreY - kShuttleRadius; y <= kJogCentreY + kShuttleRadius; y++)
        for (int32_t x = kJogCentreX - kShuttleRadius; x <= kJogCentreX + kShuttleRadius; x++) {
            double r = std::hypot(x - kJogCentreX, y - kJogCentreY);
            if (r >= 9 && r <= 29) {
                EXPECT_EQ(Pixel(*vcr, x, y), kJogFaceRgb) << x << "," << y;
                jog++;
            } else if (r >= 37 && r <= 47) {
                EXPECT_EQ(Pixel(*vcr, x, y), kShuttleFaceRgb) << x << "," << y;
                shuttle++;
            }
        }
    EXPECT_GT(jog, 2000);
    EXPECT_GT(shuttle, 2500);
    // The LCD window is black where the panel writes its lines.
    for (int32_t y = 7; y <= 31; y++)
        for (int32_t x = 5; x <= 144; x++) ASSERT_EQ(Pixel(*vcr, x, y), 0u) << x << "," << y;
    EXPECT_TRUE(boxes->shown.empty());
}

TEST(Artwork, ToolbarStripAndSplashPicture) {
    ScopedBoxes boxes;
    BitmapRecord* strip = Loaded(kToolbarBitmapName);
    ASSERT_NE(strip, nullptr);
    EXPECT_EQ(strip->header.biWidth, kToolbarStripWidth);
    EXPECT_EQ(strip->height, kToolbarStripHeight);
    EXPECT_EQ(kToolbarFaceCount, 19);
    for (int32_t id : kToolbarControlIds) {
        ArtworkRect face{};
        ASSERT_TRUE(ToolbarFace(id, face));
        for (int32_t a = 0; a < kButtonStateRows; a++)
            for (int32_t b = a + 1; b < kButtonStateRows; b++)
                EXPECT_NE(Image(*strip, face, a), Image(*strip, face, b)) << id;
    }
    ArtworkRect none{};
    EXPECT_FALSE(ToolbarFace(4242, none));
    // Faces differ from each other (one picture per command).
    ArtworkRect open{}, insert{};
    ToolbarFace(1861, open);
    ToolbarFace(2076, insert);
    EXPECT_NE(Image(*strip, open, 0), Image(*strip, insert, 0));

    ResourceData splash;
    ASSERT_TRUE(FindResourceData("SPLASH", "PNG", splash));
    ASSERT_GT(splash.size, 1000u);
    EXPECT_EQ(std::memcmp(splash.data, "\x89PNG", 4), 0);
    EXPECT_FALSE(FindResourceData("SPLASH", "MYBITMAP", splash));
}
