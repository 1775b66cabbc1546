// The memory monitor: a tracking allocator that keeps a record of every live block and
// reports leaks and bad releases when the program ends.
#pragma once

#include <cstdint>

// count x size zero bytes, or null. A product that overflows 32 bits is refused (null).
void* MyCalloc(uint32_t count, uint32_t size);
// size uninitialised bytes, or null.
void* MyMalloc(uint32_t size);
// Releases a tracked block; a null pointer is ignored, an unknown one is counted and never freed.
void MyFree(void* block);
void MyMallocFree(void* block);
// Logs the counts and every live block, then forgets the records (not the blocks).
void WrapupMemoryMonitor();

struct MemoryMonitorCounts {
    int32_t allocations;
    int32_t frees;
    int32_t errors;
    int32_t liveBlocks;
    int64_t liveBytes;
};
MemoryMonitorCounts MemoryMonitorStatus();
// Forgets every record and zeroes the counts (tests only; live blocks are not freed).
void ResetMemoryMonitor();

// RAII owner of a monitor block.
template <typename T>
class MonitorPtr {
  public:
    MonitorPtr() = default;
    explicit MonitorPtr(T* p) : p_(p) {}
    MonitorPtr(const MonitorPtr&) = delete;
    MonitorPtr& operator=(const MonitorPtr&) = delete;
    MonitorPtr(MonitorPtr&& o) noexcept : p_(o.release()) {}
    MonitorPtr& operator=(MonitorPtr&& o) noexcept {
        reset(o.release());
        return *this;
    }
    ~MonitorPtr() { reset(); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    T* release() {
        T* p = p_;
        p_ = nullptr;
        return p;
    }
    void reset(T* p = nullptr) {
        if (p_) MyFree(p_);
        p_ = p;
    }

  private:
    T* p_ = nullptr;
};
