#include <gtest/gtest.h>

#include <string>

#include "core/memory.h"
#include "support/scripted.h"
#include "ui/artwork.h"
#include "ui/bitmaps.h"
#include "ui/resources.h"

namespace {

// A bitmap file: header fields can be spoiled by the caller.
struct BmpFields {
    int32_t width = 4;
    int32_t height = 3;
    uint16_t bits = 8;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;
    uint32_t infoSize = 40;
    int32_t cutBytes = 0;  // bytes taken off the end
    const char* magic = "BM";
};

std::string MakeBmp(const BmpFields& s) {
    uint32_t colours = s.bits <= 8 ? (s.clrUsed ? s.clrUsed : (1u << s.bits)) : 0;
    uint32_t stride = ((static_cast<uint32_t>(std::max(s.width, 0)) * s.bits + 31) / 32) * 4;
    uint32_t rows = static_cast<uint32_t>(s.height < 0 ? -s.height : s.height);
    std::string b(14 + 40, '\0');
    b[0] = s.magic[0];
    b[1] = s.magic[1];
    uint32_t off = 14 + 40 + colours * 4;
    WriteLE32(&b[10], off);
    WriteLE32(&b[14], s.infoSize);
    WriteLE32(&b[18], static_cast<uint32_t>(s.width));
    WriteLE32(&b[22], static_cast<uint32_t>(s.height));
    WriteLE16(&b[26], 1);
    WriteLE16(&b[28], s.bits);
    WriteLE32(&b[30], s.compression);
    WriteLE32(&b[46], s.clrUsed);
    for (uint32_t i = 0; i < colours; i++) b += std::string{static_cast<char>(i), static_cast<char>(i), 0, 0};
    if (rows < 100000 && stride < 100000) b += std::string(static_cast<size_t>(stride) * rows, '\x01');
    WriteLE32(&b[2], static_cast<uint32_t>(b.size()));
    b.resize(b.size() - static_cast<size_t>(std::min<int32_t>(s.cutBytes, static_cast<int32_t>(b.size()))));
    return b;
}

}  // namespace

TEST(BitmapButtons, ListsShareOneBitmapPerResource) {
    ScopedBoxes boxes;
    int32_t liveBefore = MemoryMonitorStatus().liveBlocks;
    bool firstLoad = FindLoadedBitmap(kVcrBitmapName) == nullptr;
    ButtonRecord* vcr = AddBitmapButton(nullptr, nullptr, 1152, kVcrBitmapName, 41, 157, 41, 12);
    vcr = AddBitmapButton(vcr, nullptr, 1435, kVcrBitmapName, 2, 157, 39, 12);
    ButtonRecord* capture = AddBitmapButton(nullptr, nullptr, 1436, kVcrBitmapName, 286, 0, 40, 12);
    ASSERT_NE(vcr, nullptr);
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(vcr->controlId, 1435);  // newest first
    EXPECT_EQ(vcr->next->controlId, 1152);
    EXPECT_EQ(vcr->bitmap, capture->bitmap);  // loaded once
    EXPECT_EQ(FindLoadedBitmap(kVcrBitmapName), vcr->bitmap);
    EXPECT_EQ(FindLoadedBitmap("vcr00"), nullptr);  // names are case-sensitive
    EXPECT_EQ(vcr->bitmap->height, kVcrBitmapHeight);
    EXPECT_EQ(vcr->bitmap->colours, 256);
    EXPECT_EQ(vcr->rowStep, 12);
    EXPECT_EQ(vcr->state, 0);
    EXPECT_EQ(vcr->caption[0], '\0');
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore + 3 + (firstLoad ? 1 : 0));

    // State images: pressed wins over focus, disabled over focus.
    ButtonRecord& b = *FindButtonRecord(vcr, 1152);
    EXPECT_EQ(ButtonImageTop(b, 0), 157);
    EXPECT_EQ(ButtonImageTop(b, ODS_FOCUS), 169);
    EXPECT_EQ(ButtonImageTop(b, ODS_SELECTED | ODS_FOCUS), 181);
    EXPECT_EQ(ButtonImageTop(b, ODS_DISABLED | ODS_FOCUS), 193);
    EXPECT_EQ(ButtonImageTop(b, ODS_SELECTED | ODS_DISABLED), 181);
    SetButtonImage(capture, 1436, kCaptureStopFace.x, kCaptureStopFace.y);
    EXPECT_EQ(capture->sourceX, 406);
    EXPECT_EQ(capture->sourceY, 96);
    SetButtonImage(capture, 4242, 1, 1);  // not in the list: nothing changes
    EXPECT_EQ(capture->sourceX, 406);

    ButtonRecord* withCaption =
        AddButtonImage(nullptr, nullptr, 5, kVcrBitmapName, 0, 0, 10, 10, 20, "A caption too long");
    EXPECT_STREQ(withCaption->caption, "A caption t");  // 12 bytes with the terminator
    EXPECT_EQ(withCaption->rowStep, 20);

    FreeButtonList(vcr);
    FreeButtonList(capture);
    FreeButtonList(withCaption);
    FreeButtonList(nullptr);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore + (firstLoad ? 1 : 0));  // the bitmap stays
}

TEST(BitmapButtons, UnsoundBitmapsAreRefusedWithAMessage) {
    ScopedBoxes boxes;
    ASSERT_TRUE(RegisterResource("GOOD", "MYBITMAP", MakeBmp({})));
    EXPECT_FALSE(RegisterResource("GOOD", "MYBITMAP", "other"));  // never replaced under a loaded bitmap
    int32_t liveBefore = MemoryMonitorStatus().liveBlocks;
    BitmapRecord* good = LoadBitmapResource(nullptr, "GOOD");
    ASSERT_NE(good, nullptr);
    EXPECT_EQ(good->stride, 4);
    EXPECT_EQ(good->colours, 256);
    MyFree(good);

    BmpFields fewColours;
    fewColours.clrUsed = 3;
    RegisterResource("FEW", "MYBITMAP", MakeBmp(fewColours));
    BitmapRecord* few = LoadBitmapResource(nullptr, "FEW");
    ASSERT_NE(few, nullptr);
    EXPECT_EQ(few->colours, 3);
    MyFree(few);

    struct Bad {
        const char* name;
        BmpFields spec;
    };
    std::vector<Bad> bad;
    auto add = [&](const char* name, auto change) {
        BmpFields s;
        change(s);
        bad.push_back({name, s});
    };
    add("BAD-MAGIC", [](BmpFields& s) { s.magic = "XX"; });
    add("BAD-WIDTH", [](BmpFields& s) { s.width = 0; });
    add("BAD-HUGE", [](BmpFields& s) { s.width = kMaxBitmapDimension + 1; });
    add("BAD-TOPDOWN", [](BmpFields& s) { s.height = -3; });
    add("BAD-BITS", [](BmpFields& s) { s.bits = 16; });
    add("BAD-RLE", [](BmpFields& s) { s.compression = 1; });
    add("BAD-INFO", [](BmpFields& s) { s.infoSize = 5000; });
    add("BAD-SHORT", [](BmpFields& s) { s.cutBytes = 1; });
    add("BAD-STUB", [](BmpFields& s) { s.cutBytes = 1050; });
    for (const Bad& b : bad) {
        ASSERT_TRUE(RegisterResource(b.name, "MYBITMAP", MakeBmp(b.spec))) << b.name;
        boxes->shown.clear();
        EXPECT_EQ(LoadBitmapResource(nullptr, b.name), nullptr) << b.name;
        ASSERT_EQ(boxes->shown.size(), 1u) << b.name;
        EXPECT_EQ(boxes->shown[0].text, "Couldn't load resource") << b.name;
    }
    RegisterResource("EMPTY", "MYBITMAP", "");
    EXPECT_EQ(LoadBitmapResource(nullptr, "EMPTY"), nullptr);

    boxes->shown.clear();
    EXPECT_EQ(LoadBitmapResource(nullptr, "NO-SUCH"), nullptr);
    EXPECT_EQ(LoadBitmapResource(nullptr, nullptr), nullptr);
    EXPECT_EQ(LoadBitmapResource(nullptr, std::string(60, 'V').c_str()), nullptr);
    EXPECT_EQ(boxes->texts(), std::vector<std::string>(3, "Couldn't find resource"));
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore);  // nothing leaked

    // A button on a missing bitmap is not made, and the list stays as it was.
    ButtonRecord* list = AddBitmapButton(nullptr, nullptr, 1, kVcrBitmapName, 0, 0, 5, 5);
    boxes->shown.clear();
    ButtonRecord* same = AddBitmapButton(list, nullptr, 2, "NO-SUCH", 0, 0, 5, 5);
    EXPECT_EQ(same, list);
    EXPECT_EQ(boxes->texts(),
              std::vector<std::string>({"Couldn't find resource", "Couldn't add image for button"}));
    EXPECT_EQ(FindButtonRecord(list, 2), nullptr);
    FreeButtonList(list);
}
