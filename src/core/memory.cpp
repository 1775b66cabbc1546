#include "core/memory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/diag.h"

namespace {

struct AllocationRecord {
    int32_t serial;
    uint32_t size;
    int32_t kind;  // 0 MyCalloc, 1 MyMalloc
};

struct MonitorState {
    int32_t allocationCount = 0;
    int32_t freeCount = 0;
    int32_t errorCount = 0;
    int64_t liveBytes = 0;
    // Found by address, so that a release costs the same however many blocks are alive.
    std::unordered_map<void*, AllocationRecord> live;
};

MonitorState gMonitor;
// Blocks are taken and released on worker threads too (the render's): every entry point holds it.
std::mutex gMonitorLock;

void Track(void* block, uint32_t size, int32_t kind) {
    std::lock_guard<std::mutex> guard(gMonitorLock);
    const int32_t serial = gMonitor.allocationCount++;
    if (!block) return;
    try {
        gMonitor.live[block] = AllocationRecord{serial, size, kind};
        gMonitor.liveBytes += size;
    } catch (const std::bad_alloc&) {
        // the block stays untracked
    }
}

void Release(void* block) {
    if (!block) return;
    std::unique_lock<std::mutex> guard(gMonitorLock);
    auto it = gMonitor.live.find(block);
    if (it != gMonitor.live.end()) {
        gMonitor.liveBytes -= it->second.size;
        gMonitor.live.erase(it);
        gMonitor.freeCount++;
        std::free(block);
        return;
    }
    gMonitor.errorCount++;
    guard.unlock();
    DebugLog("$$$ No entry for free(%08lx)", static_cast<unsigned long>(reinterpret_cast<uintptr_t>(block)));
}

}  // namespace

void* MyCalloc(uint32_t count, uint32_t size) {
    uint64_t total = static_cast<uint64_t>(count) * size;
    void* block = nullptr;
    if (total <= UINT32_MAX) {
        // Never hand out a null pointer for a zero-byte request: callers take null as failure.
        block = std::calloc(total ? total : 1, 1);
    }
    Track(block, static_cast<uint32_t>(total <= UINT32_MAX ? total : 0), 0);
    return block;
}

void* MyMalloc(uint32_t size) {
    void* block = std::malloc(size ? size : 1);
    Track(block, size, 1);
    return block;
}

void MyFree(void* block) {
    Release(block);
}
void MyMallocFree(void* block) {
    Release(block);
}

void WrapupMemoryMonitor() {
    std::vector<std::pair<void*, AllocationRecord>> blocks;
    int32_t allocations, frees, errors;
    {
        std::lock_guard<std::mutex> guard(gMonitorLock);
        allocations = gMonitor.allocationCount, frees = gMonitor.freeCount, errors = gMonitor.errorCount;
        blocks.assign(gMonitor.live.begin(), gMonitor.live.end());
        gMonitor.live.clear();
        gMonitor.liveBytes = 0;
    }
    DebugLog("$$$ WrapupMemoryMonitor - count = %ld (%ld), errorcount = %ld", static_cast<long>(allocations),
             static_cast<long>(frees), static_cast<long>(errors));
    if (blocks.empty()) {
        DebugLog("Empty List");
        return;
    }
    // Newest first.
    std::sort(blocks.begin(), blocks.end(),
              [](const auto& a, const auto& b) { return a.second.serial > b.second.serial; });
    long bytes = 0;
    for (const auto& [block, r] : blocks) {
        DebugLog("%ld %08lx %ld %ld", static_cast<long>(r.serial),
                 static_cast<unsigned long>(reinterpret_cast<uintptr_t>(block)), static_cast<long>(r.size),
                 static_cast<long>(r.kind));
        bytes += r.size;
    }
    DebugLog("$$$ WrapupMemoryMonitor - %ld unreleased blocks for total of %ld bytes",
             static_cast<long>(blocks.size()), bytes);
}

MemoryMonitorCounts MemoryMonitorStatus() {
    std::lock_guard<std::mutex> guard(gMonitorLock);
    return MemoryMonitorCounts{gMonitor.allocationCount, gMonitor.freeCount, gMonitor.errorCount,
                               static_cast<int32_t>(gMonitor.live.size()), gMonitor.liveBytes};
}

void ResetMemoryMonitor() {
    std::lock_guard<std::mutex> guard(gMonitorLock);
    gMonitor = MonitorState{};
}
