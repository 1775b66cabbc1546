#include "core/memory.h"

#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/diag.h"

namespace {

struct AllocationRecord {
    AllocationRecord* next;
    int32_t serial;
    void* block;
    uint32_t size;
    int32_t kind;  // 0 MyCalloc, 1 MyMalloc
};

struct MonitorState {
    int32_t allocationCount = 0;
    int32_t freeCount = 0;
    int32_t errorCount = 0;
    AllocationRecord* head = nullptr;
};

MonitorState gMonitor;
// Blocks are taken and released on worker threads too (the render's).
std::mutex gMonitorLock;

void Track(void* block, uint32_t size, int32_t kind) {
    std::lock_guard<std::mutex> guard(gMonitorLock);
    auto* rec = static_cast<AllocationRecord*>(std::malloc(sizeof(AllocationRecord)));
    if (!rec) return;  // the block stays untracked
    rec->serial = gMonitor.allocationCount;
    rec->block = block;
    rec->size = size;
    rec->kind = kind;
    rec->next = gMonitor.head;
    gMonitor.head = rec;
    gMonitor.allocationCount++;
}

void Release(void* block) {
    if (!block) return;
    std::unique_lock<std::mutex> guard(gMonitorLock);
    AllocationRecord* prev = nullptr;
    for (AllocationRecord* r = gMonitor.head; r; prev = r, r = r->next) {
        if (r->block != block) continue;
        (prev ? prev->next : gMonitor.head) = r->next;
        std::free(r);
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
    DebugLog("$$$ WrapupMemoryMonitor - count = %ld (%ld), errorcount = %ld",
             static_cast<long>(gMonitor.allocationCount), static_cast<long>(gMonitor.freeCount),
             static_cast<long>(gMonitor.errorCount));
    if (!gMonitor.head) {
        DebugLog("Empty List");
        return;
    }
    long blocks = 0;
    long bytes = 0;
    for (AllocationRecord* r = gMonitor.head; r;) {
        DebugLog("%ld %08lx %ld %ld", static_cast<long>(r->serial),
                 static_cast<unsigned long>(reinterpret_cast<uintptr_t>(r->block)),
                 static_cast<long>(r->size), static_cast<long>(r->kind));
        blocks++;
        bytes += r->size;
        AllocationRecord* next = r->next;
        std::free(r);
        r = next;
    }
    gMonitor.head = nullptr;
    DebugLog("$$$ WrapupMemoryMonitor - %ld unreleased blocks for total of %ld bytes", blocks, bytes);
}

MemoryMonitorCounts MemoryMonitorStatus() {
    MemoryMonitorCounts c{gMonitor.allocationCount, gMonitor.freeCount, gMonitor.errorCount, 0, 0};
    for (AllocationRecord* r = gMonitor.head; r; r = r->next) {
        c.liveBlocks++;
        c.liveBytes += r->size;
    }
    return c;
}

void ResetMemoryMonitor() {
    for (AllocationRecord* r = gMonitor.head; r;) {
        AllocationRecord* next = r->next;
        std::free(r);
        r = next;
    }
    gMonitor = MonitorState{};
}
