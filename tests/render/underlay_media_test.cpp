// An underlay picture written by ffmpeg (33 pixels wide, so its rows carry one byte of padding)
// matches ffmpeg's own raw rows once scaled to its size and to twice its size.
#include <gtest/gtest.h>

#include <cstdlib>

#include "overlay_support.h"
#include "support/scripted.h"

TEST(UnderlayFromFfmpeg, PaddedRowsAreReadByTheirStride) {
    const char* data = std::getenv("QUILLORY_TEST_DATA");
    ASSERT_NE(data, nullptr);
    const std::string bmp = std::string(data) + "/underlay_33x17.bmp";
    const std::string raw = ReadWholeFile(std::string(data) + "/underlay_33x17.bgr");
    const int32_t w = 33, h = 17;
    ASSERT_EQ(raw.size(), static_cast<size_t>(w * h * 3));
    ScopedBoxes boxes;
    const int32_t blocks = MemoryMonitorStatus().liveBlocks;
    UnderlayRecord* u = NewUnderlayRecord();
    std::strncpy(u->fileName, bmp.c_str(), sizeof u->fileName - 1);
    for (int32_t scale : {1, 2}) {
        SCOPED_TRACE(scale);
        PrepareUnderlay(u, w * scale, h * scale);
        ASSERT_NE(u->image, nullptr);
        for (int32_t r = 0; r < h * scale; r++)
            for (int32_t c = 0; c < w * scale; c++) {
                // image rows run bottom-up, raw rows top-down
                const char* want = raw.data() + ((h - 1 - r / scale) * w + c / scale) * 3;
                ASSERT_EQ(std::memcmp(u->image + (static_cast<size_t>(r) * w * scale + c) * 3, want, 3), 0)
                    << r << "," << c;
            }
    }
    EXPECT_TRUE(boxes->shown.empty());
    MyFree(u->image);
    MyFree(u);
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, blocks);
}
