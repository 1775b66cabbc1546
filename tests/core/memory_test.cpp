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

TEST_F(MemoryMonitor, DoubleReleaseIsCountedAndLogged) {
    LogCapture log;
    void* p = MyCalloc(1, 8);
    MyFree(p);
    MyFree(p);  // unknown now: counted, logged, not handed to the heap again
    EXPECT_EQ(MemoryMonitorStatus().errors, 1);
    EXPECT_EQ(MemoryMonitorStatus().frees, 1);
    EXPECT_TRUE(log.contains("$$$ No entry for free("));
}

TEST_F(MemoryMonitor, OverflowingProductIsRefused) {
    EXPECT_EQ(MyCalloc(0x10000, 0x10001), nullptr);
}

TEST_F(MemoryMonitor, WrapupReportsLiveBlocks) {
    {
        LogCapture log;
        WrapupMemoryMonitor();
        ASSERT_EQ(log.lines().size(), 2u);
        EXPECT_EQ(log.lines()[0], "$$$ WrapupMemoryMonitor - count = 0 (0), errorcount = 0");
        EXPECT_EQ(log.lines()[1], "Empty List");
    }
    void* a = MyCalloc(1, 10);
    void* b = MyMalloc(20);
    LogCapture log;
    WrapupMemoryMonitor();
    ASSERT_EQ(log.lines().size(), 4u);
    EXPECT_EQ(log.lines()[0], "$$$ WrapupMemoryMonitor - count = 2 (0), errorcount = 0");
    EXPECT_EQ(log.lines()[1].substr(0, 2), "1 ");  // newest first, serial 1
    EXPECT_EQ(log.lines()[1].substr(log.lines()[1].size() - 5), " 20 1");
    EXPECT_EQ(log.lines()[3], "$$$ WrapupMemoryMonitor - 2 unreleased blocks for total of 30 bytes");
    EXPECT_EQ(MemoryMonitorStatus().liveBlocks, 0);
    std::free(a);  // the wrap-up leaves the blocks themselves alone
    std::free(b);
}
