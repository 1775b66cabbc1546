#include "media/fileio.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "core/diag.h"
#include "core/diskio.h"
#include "core/outputfile.h"

namespace {

// Handle 0 means "no file", so a descriptor 0 (possible when standard input is closed) is moved up.
int32_t Handle(int fd) {
    if (fd < 0) return 0;
    if (fd == 0) {
        int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        close(fd);
        return moved < 0 ? 0 : moved;
    }
    return fd;
}

int32_t Open(const char* name, int flags) {
    if (!name || !*name) return 0;
    int fd;
    do {
        fd = open(name, flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    return Handle(fd);
}

// Media written in place goes to regular files only: a pipe or a device would block the writer, and
// its header rewrites need to seek. A file the user protected is never written over, not even by
// root.
int32_t OpenForWriting(const char* name) {
    int32_t h = Open(name, O_WRONLY | O_CREAT | O_NONBLOCK);
    if (!h) return 0;
    struct stat st;
    int error = 0;
    if (fstat(h, &st) != 0)
        error = errno;
    else if (!S_ISREG(st.st_mode))
        error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    else if (!MayReplaceFile(name, st))
        error = EACCES;
    if (error) {
        DebugLog("not written: %s (%s)", name, std::strerror(error));
        close(h);
        errno = error;
        return 0;
    }
    int flags = fcntl(h, F_GETFL);
    if (flags >= 0) fcntl(h, F_SETFL, flags & ~O_NONBLOCK);
    return h;
}

}  // namespace

int32_t FileExists(const char* name) {
    struct stat st;
    return name && *name && stat(name, &st) == 0 ? 1 : 0;
}

int32_t MyOpenRead(const char* name) {
    // Only regular files are media: opening a named pipe or a device could block for ever, in the
    // open or in the first read. The open itself does not wait; blocking reads come back after the
    // check.
    int32_t h = Open(name, O_RDONLY | O_NONBLOCK);
    if (!h) return 0;
    struct stat st;
    const int error = fstat(h, &st) != 0     ? errno
                      : !S_ISREG(st.st_mode) ? (S_ISDIR(st.st_mode) ? EISDIR : EINVAL)
                                             : 0;
    if (error) {
        DebugLog("not a regular file: %s", name);
        close(h);
        errno = error;
        return 0;
    }
    int flags = fcntl(h, F_GETFL);
    if (flags >= 0) fcntl(h, F_SETFL, flags & ~O_NONBLOCK);
    return h;
}

void RaiseOpenFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur >= files.rlim_max) return;
    files.rlim_cur = files.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &files) != 0)
        DebugLog("open-file limit not raised: %s", std::strerror(errno));
}
int32_t MyOpenWrite(const char* name) {
    return OpenForWriting(name);
}

int32_t MyRead(int32_t handle, void* buffer, int32_t count) {
    auto* p = static_cast<char*>(buffer);
    int32_t done = 0;
    while (done < count) {
        int32_t piece = std::min(count - done, kMaxTransfer);
        ssize_t n = read(handle, p + done, static_cast<size_t>(piece));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            DebugLog("MyRead failed 2");
            return -1;
        }
        if (n == 0) break;  // end of file
        done += static_cast<int32_t>(n);
    }
    return done;
}

int32_t MyWrite(int32_t handle, const void* buffer, int32_t count) {
    const auto* p = static_cast<const char*>(buffer);
    int32_t done = 0;
    while (done < count) {
        int32_t piece = std::min(count - done, kMaxTransfer);
        errno = 0;
        ssize_t n = DiskWrite(handle, p + done, static_cast<size_t>(piece));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (errno == 0) errno = EIO;
            break;
        }
        done += static_cast<int32_t>(n);
    }
    return done;
}

int32_t MySync(int32_t handle) {
    return handle > 0 && DiskSync(handle) == 0 ? 1 : 0;
}

int32_t MyClose(int32_t handle) {
    if (handle > 0) close(handle);
    return 0;
}

int32_t MyTell(int32_t handle) {
    off_t pos = lseek(handle, 0, SEEK_CUR);
    return pos < 0 || pos > INT32_MAX ? -1 : static_cast<int32_t>(pos);
}

int32_t MySeek(int32_t handle, int32_t position) {
    lseek(handle, position < 0 ? 0 : position, SEEK_SET);
    return 0;
}

int32_t MySkip(int32_t handle, int32_t count) {
    lseek(handle, count, SEEK_CUR);
    return 0;
}

int32_t MyFileLength(int32_t handle) {
    struct stat st;
    if (handle <= 0 || fstat(handle, &st) != 0) return -1;
    return st.st_size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(st.st_size);
}
