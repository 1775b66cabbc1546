// The single-instance lock that stands in for the named mutex "Quillory Main Process": an
// exclusive flock on a lock file in $XDG_RUNTIME_DIR (or the temporary folder). The kernel
// releases it when the process ends, however it ends.
#pragma once

#include <string>

enum class InstanceLockResult {
    Acquired,       // this process holds the lock now
    HeldElsewhere,  // another process (or another lock of this one) holds it
    Unavailable,    // no lock file could be opened; nothing is known about other copies
};

struct InstanceLock;

// Takes the lock named name without waiting; *lock is set only when Acquired.
InstanceLockResult AcquireInstanceLock(const char* name, InstanceLock** lock);
// Releases and closes; null is ignored. The lock file stays (removing it would let two
// processes lock different files).
void ReleaseInstanceLock(InstanceLock* lock);
// The lock file for name: letters and digits kept, anything else turned into '_'.
std::string InstanceLockPath(const char* name);
