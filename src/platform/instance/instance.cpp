#include "platform/instance/instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

struct InstanceLock {
    int fd;
};

namespace {

constexpr size_t kMaxLockNameLength = 100;

std::string LockFolder(bool& shared) {
    shared = false;
    if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && run[0] == '/') {
        struct stat st {};
        if (stat(run, &st) == 0 && S_ISDIR(st.st_mode)) return run;
    }
    shared = true;  // the temporary folder is shared by every user
    std::error_code ec;
    std::filesystem::path tmp = std::filesystem::temp_directory_path(ec);
    return ec ? std::string("/tmp") : tmp.string();
}

}  // namespace

std::string InstanceLockPath(const char* name) {
    std::string clean;
    for (const char* p = name ? name : ""; *p && clean.size() < kMaxLockNameLength; ++p) {
        char c = *p;
        bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        clean += keep ? c : '_';
    }
    if (clean.empty()) clean = "lock";
    bool shared = false;
    std::string folder = LockFolder(shared);
    if (shared) clean += "-" + std::to_string(static_cast<long>(getuid()));
    return folder + "/" + clean + ".lock";
}

InstanceLockResult AcquireInstanceLock(const char* name, InstanceLock** lock) {
    if (!lock) return InstanceLockResult::Unavailable;
    *lock = nullptr;
    std::string path = InstanceLockPath(name);
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return InstanceLockResult::Unavailable;
    if (fd == 0) {  // descriptor 0 means "no file" to the rest of the system: keep it free
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        if (moved < 0) return InstanceLockResult::Unavailable;
        fd = moved;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int err = errno;
        close(fd);
        return err == EWOULDBLOCK ? InstanceLockResult::HeldElsewhere : InstanceLockResult::Unavailable;
    }
    // The holder's process id, for a person wondering who holds it.
    if (ftruncate(fd, 0) == 0) {
        char text[32];
        int n = std::snprintf(text, sizeof text, "%ld\n", static_cast<long>(getpid()));
        if (n > 0 && write(fd, text, static_cast<size_t>(n)) < 0) {
            // the content is informative only
        }
    }
    *lock = new InstanceLock{fd};
    return InstanceLockResult::Acquired;
}

void ReleaseInstanceLock(InstanceLock* lock) {
    if (!lock) return;
    flock(lock->fd, LOCK_UN);
    close(lock->fd);
    delete lock;
}
