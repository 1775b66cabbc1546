// Bitmap buttons: lists sharing one bitmap per resource, the state rows, and bitmap resources that
// are refused with a message, leaving nothing allocated and a button list as it was.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/memory.h"
#include "support/crafted.h"
#include "support/scripted.h"
#include "ui/artwork.h"
#include "ui/bitmaps.h"
#include "ui/resources.h"

TEST(BitmapButtons, ListsShareOneBitmapPerResource) {
    ScopedBoxes boxes;
    const int32_t liveBefore = MemoryMonitorStatus().liveBlocks;
    const bool firstLoad = FindLoadedBitmap(kVcrBitmapName) == nullptr;
    ButtonRecord* vcr = AddBitmapButton(nullptr, nullptr, 1152, kVcrBitmapName, 41, 157, 41, 12);
    vcr = AddBitmapButton(vcr, nullptr, 1435, kVcrBitmapName, 2, 157, 39, 12);
    ButtonRecord* capture = AddBitmapButton(nullptr, nullptr, 1436, kVcrBitmapName, 286, 0, 40, 12);
    ASSERT_TRUE(vcr && capture);
    EXPECT_TRUE(vcr->controlId == 1435 && vcr->next->controlId == 1152);  // newest first
    EXPECT_EQ(vcr->bitmap, capture->bitmap);                              // loaded once
    EXPECT_EQ(FindLoadedBitmap(kVcrBitmapName), vcr->bitmap);
    EXPECT_EQ(FindLoadedBitmap("vcr00"), nullptr);  // names are case-sensitive
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore + 3 + (firstLoad ? 1 : 0));
    // (The state rows are drawn and compared in the widget tests.)
    SetButtonImage(capture, 1436, kCaptureStopFace.x, kCaptureStopFace.y);
    SetButtonImage(capture, 4242, 1, 1);  // not in the list: nothing changes
    EXPECT_TRUE(capture->sourceX == kCaptureStopFace.x && capture->sourceY == kCaptureStopFace.y);
    ButtonRecord* captioned =
        AddButtonImage(nullptr, nullptr, 5, kVcrBitmapName, 0, 0, 10, 10, 20, "A caption too long");
    EXPECT_STREQ(captioned->caption, "A caption t");  // 12 bytes with the terminator
    for (ButtonRecord* list : {vcr, capture, captioned, static_cast<ButtonRecord*>(nullptr)})
        FreeButtonList(list);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, liveBefore + (firstLoad ? 1 : 0));  // the bitmap stays
}

TEST(BitmapButtons, UnsoundBitmapsAreRefusedWithAMessage) {
    using crafted::Bmp;
    ScopedBoxes boxes;
    const crafted::BmpLayout plain{.width = 4, .height = 3, .bits = 8, .palette = 256};
    ASSERT_TRUE(RegisterResource("GOOD", "MYBITMAP", Bmp(plain)));
    EXPECT_FALSE(RegisterResource("GOOD", "MYBITMAP", "other"));  // never replaced under a loaded bitmap
    RegisterResource("FEW", "MYBITMAP", Bmp({.width = 4, .height = 3, .bits = 8, .palette = 3}));
    const int32_t liveBefore = MemoryMonitorStatus().liveBlocks;
    for (auto [name, stride, colours] : {std::tuple{"GOOD", 4, 256}, {"FEW", 4, 3}}) {
        BitmapRecord* r = LoadBitmapResource(nullptr, name);
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(r->stride == stride && r->colours == colours) << name;
        MyFree(r);
    }
    auto spoiled = [&](crafted::BmpLayout s, const std::function<void(std::string&)>& change = nullptr) {
        std::string b = Bmp(s);
        if (change) change(b);
        return b;
    };
    crafted::BmpLayout wide = plain, topDown = plain, sixteen = plain, rle = plain;
    wide.width = kMaxBitmapDimension + 1, topDown.height = -3, sixteen.bits = 16, sixteen.palette = 0;
    rle.compression = 1;
    const std::pair<const char*, std::string> bad[] = {
        {"BAD-MAGIC", spoiled(plain, [](std::string& b) { b[0] = 'X'; })},
        {"BAD-WIDTH", spoiled(plain, [](std::string& b) { WriteLE32(&b[18], 0); })},
        {"BAD-HUGE", spoiled(wide)},
        {"BAD-TOPDOWN", spoiled(topDown)},
        {"BAD-BITS", spoiled(sixteen)},
        {"BAD-RLE", spoiled(rle)},
        {"BAD-INFO", spoiled(plain, [](std::string& b) { WriteLE32(&b[14], 5000); })},
        {"BAD-SHORT", spoiled(plain, [](std::string& b) { b.pop_back(); })},
        {"BAD-STUB", spoiled(plain, [](std::string& b) { b.resize(40); })},
    };
    for (const auto& [name, bytes] : bad) {
        ASSERT_TRUE(RegisterResource(name, "MYBITMAP", bytes)) << name;
        boxes->shown.clear();
        EXPECT_EQ(LoadBitmapResource(nullptr, name), nullptr) << name;
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Couldn't load resource"}) << name;
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
    EXPECT_EQ(AddBitmapButton(list, nullptr, 2, "NO-SUCH", 0, 0, 5, 5), list);
    EXPECT_EQ(boxes->texts(),
              std::vector<std::string>({"Couldn't find resource", "Couldn't add image for button"}));
    EXPECT_EQ(FindButtonRecord(list, 2), nullptr);
    FreeButtonList(list);
}
