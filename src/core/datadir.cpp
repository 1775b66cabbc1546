#include "core/datadir.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#ifndef QUILLORY_DATA_FROM_BIN
#define QUILLORY_DATA_FROM_BIN "../share/quillory"
#endif

std::string InstalledDataFile(const char* name) {
    if (!name || !*name || std::strchr(name, '/')) return {};
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    std::string path(exe, static_cast<size_t>(n));
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path.resize(slash + 1);
    path += QUILLORY_DATA_FROM_BIN;
    path += '/';
    path += name;
    // Resolved, so the settings keep a plain path rather than one through "..".
    char real[PATH_MAX];
    if (!realpath(path.c_str(), real)) return {};
    struct stat st {};
    if (stat(real, &st) != 0 || !S_ISREG(st.st_mode)) return {};
    return real;
}
