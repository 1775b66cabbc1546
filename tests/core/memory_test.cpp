#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

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
    EXPECT_EQ(std::vector<unsigned char>(p, p + 15), std::vector<unsigned char>(15, 0));
    auto s = MemoryMonitorStatus();
    EXPECT_TRUE(s.allocations == 1 && s.liveBytes == 15);
    MyFree(nullptr);  // nothing counted
    EXPECT_TRUE(MemoryMonitorStatus().frees == 0 && MemoryMonitorStatus().errors == 0);
    void* m = MyMalloc(7);
    MyFree(m);  // a MyMalloc block found through MyFree
    MyMallocFree(p);
    s = MemoryMonitorStatus();
    EXPECT_TRUE(s.frees == 2 && s.liveBlocks == 0);
    // A second release of a block is counted, not handed to the heap again; a product past 32 bits
    // is refused.
    MyFree(m);
    EXPECT_TRUE(MemoryMonitorStatus().errors == 1 && MemoryMonitorStatus().frees == 2);
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

TEST_F(MemoryMonitor, StatusIsConsistentWhileOtherThreadsAllocate) {
    // Every block is 16 bytes: each status must count 16 bytes per live block, and as many live
    // blocks as allocations not yet freed, however the threads' calls interleave. The statuses are
    // read until the other threads have taken and released many blocks meanwhile.
    constexpr int kThreads = 2;
    constexpr int kStatuses = 20000;
    constexpr int kRounds = 100000;
    std::atomic<bool> read{false};
    std::atomic<int> rounds{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&] {
            for (int i = 0; !read; i++, rounds++) MyFree(i % 2 ? MyMalloc(16) : MyCalloc(4, 4));
        });
    int inconsistent = 0;
    const int from = rounds;
    for (int i = 0; i < kStatuses || rounds - from < kRounds; i++) {
        const MemoryMonitorCounts s = MemoryMonitorStatus();
        if (s.liveBytes != 16 * s.liveBlocks || s.allocations - s.frees != s.liveBlocks) inconsistent++;
    }
    read = true;
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(inconsistent, 0);
    const MemoryMonitorCounts s = MemoryMonitorStatus();
    EXPECT_EQ(s.allocations, s.frees);
    EXPECT_EQ(s.liveBlocks, 0);
    EXPECT_EQ(s.errors, 0);
}
