// The message pumps that long operations call between units of work, and the file-name helper
// every file dialog applies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// Empties the user-interface thread's pending input. The desktop program installs a Qt pump;
// without one nothing is pending.
class PumpProvider {
  public:
    virtual ~PumpProvider() = default;
    // Dispatches pending messages until an Escape key press; that press and everything queued
    // after it are dropped. True when Escape was seen.
    virtual bool PumpUntilEscape() = 0;
    // Dispatches every pending message.
    virtual void PumpAll() = 0;
    // Dispatches messages as they arrive for up to ms milliseconds, blocking in between (never
    // spinning); stops at once on an Escape key press, dropped like the one above. True on Escape.
    virtual bool PumpWait(int32_t ms);
};

std::shared_ptr<PumpProvider> SetPumpProvider(std::shared_ptr<PumpProvider> provider);

bool PumpPendingMessages();
// Dispatches every pending message of the calling thread (none on a thread without a pump); 1.
int32_t CaptureYieldPump(int32_t unused);
// Waits up to ms milliseconds while dispatching messages; true when Escape cut the wait short.
bool PumpWaitMessages(int32_t ms);

// Appends "." and ext when the last component of path holds no "." (a dot in a folder's name does
// not count). The buffer form never writes past capacity
// (a name that would not fit is left as it is).
void AddDefaultExtension(char* path, size_t capacity, const char* ext);
void AddDefaultExtension(std::string& path, const char* ext);
