// What every fuzz target shares: message boxes and pumps that answer without a display, a private
// temporary folder for the files the readers open, a check that stops the run when a promise of
// the code under test is broken, and the memory monitor's balance over one input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/memory.h"

// Installs the providers and makes the folder on the first call; later calls do nothing.
void FuzzSetUp();
// A path in the private folder.
std::string FuzzPath(const char* name);
// Writes bytes to the named file in the private folder, replacing it; the path.
std::string FuzzWrite(const char* name, const uint8_t* data, size_t size);
std::string FuzzRead(const std::string& path);
// Messages shown since the last call (the boxes answer Yes and OK).
int FuzzTakeMessageCount();

[[noreturn]] void FuzzFail(const char* what, const char* file, int line);
#define FUZZ_CHECK(condition)                                       \
    do {                                                            \
        if (!(condition)) FuzzFail(#condition, __FILE__, __LINE__); \
    } while (0)

// Every block the memory monitor hands out while one input is handled is released by the end,
// and nothing is released twice or unknown.
class MonitorBalance {
  public:
    MonitorBalance() : before_(MemoryMonitorStatus()) {}
    ~MonitorBalance() {
        const MemoryMonitorCounts after = MemoryMonitorStatus();
        FUZZ_CHECK(after.liveBlocks == before_.liveBlocks);
        FUZZ_CHECK(after.errors == before_.errors);
    }

  private:
    MemoryMonitorCounts before_;
};
