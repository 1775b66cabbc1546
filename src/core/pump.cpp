#include "core/pump.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace {

std::shared_ptr<PumpProvider> gPump;
// The thread whose messages the pump dispatches: the one that installed it.
std::thread::id gPumpThread;

}  // namespace

std::shared_ptr<PumpProvider> SetPumpProvider(std::shared_ptr<PumpProvider> provider) {
    auto old = gPump;
    gPump = std::move(provider);
    gPumpThread = std::this_thread::get_id();
    return old;
}

bool PumpPendingMessages() {
    return gPump ? gPump->PumpUntilEscape() : false;
}

bool PumpProvider::PumpWait(int32_t ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return PumpUntilEscape();
}

bool PumpWaitMessages(int32_t ms) {
    if (gPump) return gPump->PumpWait(ms);
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return false;
}

int32_t CaptureYieldPump(int32_t) {
    // Called on the capture thread while a capture runs: that thread has no messages of its own.
    if (std::this_thread::get_id() != gPumpThread) return 1;
    if (gPump) gPump->PumpAll();
    return 1;
}

void AddDefaultExtension(char* path, size_t capacity, const char* ext) {
    if (!path || !ext) return;
    const char* slash = std::strrchr(path, '/');
    if (std::strchr(slash ? slash + 1 : path, '.')) return;
    size_t len = std::strlen(path);
    size_t extLen = std::strlen(ext);
    if (len + 1 + extLen + 1 > capacity) return;
    path[len] = '.';
    std::memcpy(path + len + 1, ext, extLen + 1);
}

void AddDefaultExtension(std::string& path, const char* ext) {
    const size_t slash = path.rfind('/');
    if (path.find('.', slash == std::string::npos ? 0 : slash + 1) != std::string::npos) return;
    path += '.';
    path += ext;
}
