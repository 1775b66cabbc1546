#include "core/outputfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "core/diskio.h"

namespace {

constexpr int kNameTries = 100;

// A name in the target's folder that no file has yet: TARGET.XXXXXX.
std::string FreshName(const std::string& target) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static thread_local std::mt19937 random{std::random_device{}()};
    std::string name = target + ".";
    for (int i = 0; i < 6; i++) name += kLetters[random() % (sizeof kLetters - 1)];
    return name;
}

// Handle 0 means "no file" to the file layer: a descriptor 0 is moved up.
int AboveZero(int fd) {
    if (fd != 0) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

// What an existing target allows: 0, or the errno of the refusal.
int Refusal(const std::string& path, const struct stat& st) {
    if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    return MayReplaceFile(path, st) ? 0 : EACCES;
}

}  // namespace

// Renaming over a file needs only the folder's permission, so the file's own is checked here: the
// kernel's answer for the effective user, and a file without any write bit is protected even from
// root, whom the kernel would let write it.
bool MayReplaceFile(const std::string& path, const struct stat& st) {
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return false;
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

OutputFile::~OutputFile() {
    Abandon();
}

bool OutputFile::SetError(int error) {
    if (!error_) error_ = error ? error : EIO;
    return false;
}

void OutputFile::Fail(int error) {
    SetError(error);
}

bool OutputFile::Open(const std::string& path, bool createFolders) {
    Abandon();
    error_ = 0;
    synced_ = false;
    tempName_.clear();
    if (path.empty()) return SetError(ENOENT);
    if (createFolders) {
        std::error_code ec;
        std::filesystem::path p(path);
        if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path(), ec);
    }
    target_ = path;
    struct stat st {};
    existed_ = lstat(path.c_str(), &st) == 0;
    if (existed_ && S_ISLNK(st.st_mode)) {  // the file the link names is replaced, not the link
        char* real = realpath(path.c_str(), nullptr);
        if (!real) return SetError(errno);
        target_ = real;
        std::free(real);
        existed_ = stat(target_.c_str(), &st) == 0;
    }
    if (existed_)
        if (const int refused = Refusal(target_, st)) return SetError(refused);

    const size_t slash = target_.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string(".")
                               : slash == 0               ? std::string("/")
                                                          : target_.substr(0, slash);
    int fd = DiskOpenUnnamed(folder.c_str(), 0666);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // No unnamed files here: a named temporary beside the target.
        for (int i = 0; i < kNameTries && fd < 0; i++) {
            tempName_ = FreshName(target_);
            fd = open(tempName_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
        if (fd < 0) tempName_.clear();
    }
    if (fd < 0) return SetError(errno);
    fd_ = AboveZero(fd);
    if (fd_ < 0) {
        const int error = errno;
        if (!tempName_.empty()) unlink(tempName_.c_str());
        tempName_.clear();
        return SetError(error);
    }
    if (existed_ && fchmod(fd_, st.st_mode & 07777) != 0) {
        SetError(errno);
        const int error = error_;
        Abandon();
        error_ = error;
        return false;
    }
    return true;
}

std::string OutputFile::readPath() const {
    if (!tempName_.empty()) return tempName_;
    return fd_ >= 0 ? "/proc/self/fd/" + std::to_string(fd_) : std::string();
}

bool OutputFile::Write(const void* data, size_t count) {
    const auto* p = static_cast<const char*>(data);
    for (size_t done = 0; done < count;) {
        if (fd_ < 0 || error_) return false;
        errno = 0;
        const ssize_t n = DiskWrite(fd_, p + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return SetError(errno);
        done += static_cast<size_t>(n);
    }
    return fd_ >= 0 && !error_;
}

bool OutputFile::WriteAt(const void* data, size_t count, int64_t offset) {
    const auto* p = static_cast<const char*>(data);
    for (size_t done = 0; done < count;) {
        if (fd_ < 0 || error_) return false;
        errno = 0;
        const ssize_t n = DiskWriteAt(fd_, p + done, count - done, offset + static_cast<int64_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return SetError(errno);
        done += static_cast<size_t>(n);
    }
    return fd_ >= 0 && !error_;
}

bool OutputFile::Sync() {
    if (fd_ < 0) return SetError(EBADF);
    if (error_) return false;
    if (!synced_ && DiskSync(fd_) != 0) return SetError(errno);
    synced_ = true;
    return true;
}

bool OutputFile::Commit(Naming naming) {
    auto fail = [this](int error) {
        SetError(error);
        const int first = error_;
        Abandon();
        error_ = first;
        return false;
    };
    if (fd_ < 0) return fail(EBADF);
    if (error_ || !Sync()) return fail(error_);
    // The target may have changed while the file was written: it is checked again.
    struct stat st {};
    const bool exists = stat(target_.c_str(), &st) == 0;
    if (exists) {
        if (naming == Naming::kIfNameFree) return fail(EEXIST);
        if (const int refused = Refusal(target_, st)) return fail(refused);
    }
    if (naming == Naming::kIfNameFree) {
        if (DiskLink(fd_, target_.c_str()) != 0) {
            // A named temporary on a file system without hard links takes the name by a rename.
            if (tempName_.empty() || (errno != EPERM && errno != EOPNOTSUPP)) return fail(errno);
            if (DiskRename(tempName_.c_str(), target_.c_str()) != 0) return fail(errno);
            tempName_.clear();
        }
    } else if (tempName_.empty()) {
        // Linked under a fresh name first, then renamed over the old file in one step.
        std::string linked;
        int linkedError = EEXIST;
        for (int i = 0; i < kNameTries && linkedError == EEXIST; i++) {
            linked = FreshName(target_);
            linkedError = DiskLink(fd_, linked.c_str()) == 0 ? 0 : errno;
        }
        if (linkedError) return fail(linkedError);
        if (DiskRename(linked.c_str(), target_.c_str()) != 0) {
            const int error = errno;
            unlink(linked.c_str());
            return fail(error);
        }
    } else if (DiskRename(tempName_.c_str(), target_.c_str()) != 0) {
        return fail(errno);
    } else {
        tempName_.clear();
    }
    if (!tempName_.empty()) unlink(tempName_.c_str());  // linked under the target's name as well
    tempName_.clear();
    close(fd_);
    fd_ = -1;
    return true;
}

void OutputFile::Abandon() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    if (!tempName_.empty()) unlink(tempName_.c_str());
    tempName_.clear();
    synced_ = false;
}
