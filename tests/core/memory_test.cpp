#include <gtest/gtest.h>

#include "core/memory.h"
#include "support/scripted.h"

class MemoryMonitor : public ::testing::Test {
  protected:
    void SetUp() override { ResetMemoryMonitor(); }
    void TearDown() override { ResetMemoryMonitor(); }
};

TEST_F(MemoryMonitor, TracksAndReleasesBlocks) {
    auto* p = static_cast<unsigned char*>(MyCalloc(3, 5));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 15; ++i) EXPECT_EQ(p[i], 0);
    auto s = MemoryMonitorStatus();
    EXPECT_EQ(s.allocations, 1);
    EXPECT_EQ(s.liveBytes, 15);

    MyFree(nullptr);  // nothing counted
    EXPECT_EQ(MemoryMonitorStatus().frees, 0);
    EXPECT_EQ(MemoryMonitorStatus().errors, 0);

    void* m = MyMalloc(7);
    MyFree(m);  // a MyMalloc block found through MyFree
    MyMallocFree(p);
    s = MemoryMonitorStatus();
    EXPECT_EQ(s.frees, 2);
    EXPECT_EQ(s.liveBlocks, 0);
}

TEST_F(MemoryMonitor, DoubleReleaseIsCounted) {
    void* p = MyCalloc(1, 8);
    MyFree(p);
    MyFree(p);  // unknown now: counted, not handed to the heap again
    EXPECT_EQ(MemoryMonitorStatus().errors, 1);
    EXPECT_EQ(MemoryMonitorStatus().frees, 1);
}

TEST_F(MemoryMonitor, OverflowingProductIsRefused) {
    EXPECT_EQ(MyCalloc(0x10000, 0x10001), nullptr);
}

TEST_F(MemoryMonitor, WrapupReportsLiveBlocks) {
    size_t empty = 0;
    {
        LogCapture log;
        WrapupMemoryMonitor();
        empty = log.lines().size();
    }
    void* a = MyCalloc(1, 10);
    void* b = MyMalloc(20);
    LogCapture log;
    WrapupMemoryMonitor();
    EXPECT_EQ(log.lines().size(), empty + 2) << "a line per live block";
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, 0);
    std::free(a);  // the wrap-up leaves the blocks themselves alone
    std::free(b);
}
