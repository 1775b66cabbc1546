#include "core/diskio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <sstream>

namespace {

struct ErrorName {
    const char* name;
    int value;
};
constexpr ErrorName kErrors[] = {
    {"ENOSPC", ENOSPC}, {"EIO", EIO},       {"EDQUOT", EDQUOT}, {"EFBIG", EFBIG},
    {"EROFS", EROFS},   {"EINVAL", EINVAL}, {"EISDIR", EISDIR}, {"EOPNOTSUPP", EOPNOTSUPP},
};

// The fault in force; the capture thread writes too, so the counts are atomic.
struct State {
    std::atomic<bool> active{false};
    DiskFault fault;
    std::atomic<int64_t> written{0};
    std::atomic<bool> failed{false};
};

State& Current() {
    static State state;
    static std::once_flag fromEnvironment;
    std::call_once(fromEnvironment, [] {
        DiskFault fault;
        if (const char* text = std::getenv("QUILLORY_DISK_FAULT"); text && *text) {
            if (ParseDiskFault(text, &fault)) {
                state.fault = fault;
                state.active = true;
            } else {
                std::fprintf(stderr, "QUILLORY_DISK_FAULT not understood: %s\n", text);
            }
        }
    });
    return state;
}

bool ErrorByName(const std::string& name, int* value) {
    for (const ErrorName& e : kErrors)
        if (name == e.name) {
            *value = e.value;
            return true;
        }
    return false;
}

}  // namespace

void SetDiskFault(const DiskFault& fault) {
    State& s = Current();
    s.active = false;
    s.fault = fault;
    s.written = 0;
    s.failed = false;
    s.active =
        fault.writeError || fault.syncError || fault.renameError || fault.linkError || fault.unnamedError;
}

void ClearDiskFault() {
    SetDiskFault(DiskFault{});
}

bool ParseDiskFault(const std::string& text, DiskFault* fault) {
    DiskFault parsed;
    std::stringstream parts(text);
    std::string part;
    while (std::getline(parts, part, ',')) {
        std::stringstream fields(part);
        std::string kind, error, bytes, once;
        std::getline(fields, kind, ':');
        std::getline(fields, error, ':');
        int value = 0;
        if (!ErrorByName(error, &value)) return false;
        if (kind == "write") {
            if (!std::getline(fields, bytes, ':') || bytes.empty() ||
                bytes.find_first_not_of("0123456789") != std::string::npos || bytes.size() > 15)
                return false;
            parsed.writeError = value;
            parsed.failAfterBytes = std::stoll(bytes);
            if (std::getline(fields, once, ':')) {
                if (once != "once") return false;
                parsed.once = true;
            }
        } else if (kind == "sync") {
            parsed.syncError = value;
        } else if (kind == "rename") {
            parsed.renameError = value;
        } else if (kind == "link") {
            parsed.linkError = value;
        } else if (kind == "unnamed") {
            parsed.unnamedError = value;
        } else {
            return false;
        }
        if (std::getline(fields, once)) return false;  // anything left over
    }
    *fault = parsed;
    return true;
}

namespace {

bool WritesFail(const State& s) {
    return s.active && s.fault.writeError && !(s.fault.once && s.failed);
}

// Under a write fault: how much of count may land now; -1 (errno set) when nothing may.
ssize_t Allowance(State& s, size_t count) {
    const int64_t room = s.fault.failAfterBytes - s.written;
    if (room <= 0) {
        s.failed = true;
        errno = s.fault.writeError;
        return -1;
    }
    return static_cast<ssize_t>(count < static_cast<uint64_t>(room) ? count : static_cast<size_t>(room));
}

}  // namespace

ssize_t DiskWrite(int fd, const void* data, size_t count) {
    State& s = Current();
    if (!WritesFail(s)) return write(fd, data, count);
    const ssize_t allowed = Allowance(s, count);
    if (allowed < 0) return -1;
    const ssize_t n = write(fd, data, static_cast<size_t>(allowed));
    if (n > 0) s.written += n;
    return n;
}

ssize_t DiskWriteAt(int fd, const void* data, size_t count, int64_t offset) {
    State& s = Current();
    if (!WritesFail(s)) return pwrite(fd, data, count, offset);
    const ssize_t allowed = Allowance(s, count);
    if (allowed < 0) return -1;
    const ssize_t n = pwrite(fd, data, static_cast<size_t>(allowed), offset);
    if (n > 0) s.written += n;
    return n;
}

ssize_t DiskWriteVectorAt(int fd, const struct iovec* parts, int count, int64_t offset) {
    State& s = Current();
    if (!WritesFail(s)) return pwritev(fd, parts, count, offset);
    ssize_t total = 0;
    for (int i = 0; i < count; i++) {
        const ssize_t n = DiskWriteAt(fd, parts[i].iov_base, parts[i].iov_len, offset + total);
        if (n < 0) return total > 0 ? total : -1;
        total += n;
        if (static_cast<size_t>(n) < parts[i].iov_len) break;
    }
    return total;
}

int DiskSync(int fd, bool dataOnly) {
    State& s = Current();
    if (s.active && s.fault.syncError) {
        errno = s.fault.syncError;
        return -1;
    }
    return dataOnly ? fdatasync(fd) : fsync(fd);
}

int DiskRename(const char* from, const char* to) {
    State& s = Current();
    if (s.active && s.fault.renameError) {
        errno = s.fault.renameError;
        return -1;
    }
    return std::rename(from, to);
}

int DiskTruncate(int fd, int64_t length) {
    State& s = Current();
    struct stat st;
    const int64_t before = fstat(fd, &st) == 0 ? static_cast<int64_t>(st.st_size) : length;
    if (ftruncate(fd, static_cast<off_t>(length)) != 0) return -1;
    const int error = s.fault.writeError;
    if (s.active && (error == ENOSPC || error == EDQUOT || error == EFBIG) && before > length)
        s.written = std::max<int64_t>(0, s.written - (before - length));
    return 0;
}

int DiskOpenUnnamed(const char* folder, mode_t mode) {
    State& s = Current();
    if (s.active && s.fault.unnamedError) {
        errno = s.fault.unnamedError;
        return -1;
    }
    int fd;
    do {
        fd = open(folder, O_TMPFILE | O_RDWR | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

int DiskLink(int fd, const char* to) {
    State& s = Current();
    if (s.active && s.fault.linkError) {
        errno = s.fault.linkError;
        return -1;
    }
    char self[40];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    if (linkat(AT_FDCWD, self, AT_FDCWD, to, AT_SYMLINK_FOLLOW) == 0) return 0;
    const int error = errno;
    // Without /proc the descriptor itself is linked (a privilege the kernel may refuse).
    if (error == ENOENT && access("/proc/self/fd", F_OK) != 0)
        return linkat(fd, "", AT_FDCWD, to, AT_EMPTY_PATH);
    errno = error;
    return -1;
}
