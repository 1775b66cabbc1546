#include "core/savefile.h"

#include "core/diskio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

// Renaming over a file needs only the folder's permission, so the file's own is checked here: the
// kernel's answer for the effective user, and a file without any write bit is protected even from
// root, whom the kernel would let write it.
bool MayReplaceFile(const std::string& path, const struct stat& st) {
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool SaveFileReplacing(const std::string& path, std::string_view data, const SaveFileOptions& options) {
    if (path.empty()) return false;
    if (options.createFolders) {
        std::error_code ec;
        std::filesystem::path p(path);
        if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
    }
    std::string target = path;
    struct stat st {};
    bool exists = lstat(path.c_str(), &st) == 0;
    if (exists && S_ISLNK(st.st_mode)) {  // replace the file the link names, not the link
        char* real = realpath(path.c_str(), nullptr);
        if (!real) return false;
        target = real;
        std::free(real);
        exists = stat(target.c_str(), &st) == 0;
    }
    if (exists && !S_ISREG(st.st_mode)) {
        errno = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        return false;
    }
    if (exists && !MayReplaceFile(target, st)) {
        errno = EACCES;
        return false;
    }

    std::string tmp = target + ".XXXXXX";
    int fd = mkstemp(tmp.data());
    if (fd < 0) return false;
    mode_t mode;
    if (exists) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    // The first failure's errno is what the caller reports; cleaning up must not replace it.
    int error = 0;
    auto fail = [&error] {
        if (!error) error = errno ? errno : EIO;
    };
    if (fchmod(fd, mode) != 0) fail();
    size_t done = 0;
    while (!error && done < data.size()) {
        errno = 0;
        ssize_t n = DiskWrite(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            fail();
        else
            done += static_cast<size_t>(n);
    }
    if (!error && DiskSync(fd) != 0) fail();
    if (close(fd) != 0) fail();
    if (!error && options.beforeReplace) options.beforeReplace();
    if (!error && DiskRename(tmp.c_str(), target.c_str()) != 0) fail();
    if (error) {
        unlink(tmp.c_str());
        errno = error;
        return false;
    }
    return true;
}
