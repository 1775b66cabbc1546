#include "platform/mapi/loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/diag.h"

#ifndef QUILLORY_MAPI_FROM_BIN
#define QUILLORY_MAPI_FROM_BIN "../lib/quillory"
#endif

namespace {

std::string ProgramFolder() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool Readable(const std::string& path) {
    return !path.empty() && access(path.c_str(), R_OK) == 0;
}

bool SameNameIgnoringCase(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

// RFC 3986 percent-encoding of everything but the unreserved characters.
std::string PercentEncoded(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

}  // namespace

std::string MailProviderPath() {
    if (const char* p = std::getenv("QUILLORY_MAPI"); p && *p) return p;
    const std::string folder = ProgramFolder();
    if (folder.empty()) return {};
    for (const std::string& candidate :
         {folder + "/" + kMailProviderFile, folder + "/" QUILLORY_MAPI_FROM_BIN "/" + kMailProviderFile})
        if (Readable(candidate)) return candidate;
    return {};
}

bool MailProviderPresent() {
    return Readable(MailProviderPath());
}

HMODULE LoadLibraryA(const char* name) {
    if (!name || !*name) return nullptr;
    const std::string path = SameNameIgnoringCase(name, kMapiLibraryName) ? MailProviderPath() : name;
    if (path.empty()) {
        DebugLog("LoadLibrary: no file stands for %s", name);
        return nullptr;
    }
    HMODULE module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) DebugLog("LoadLibrary: %s", dlerror());
    return module;
}

void* GetProcAddress(HMODULE module, const char* name) {
    if (!module || !name) return nullptr;
    dlerror();
    return dlsym(module, name);
}

bool FreeLibrary(HMODULE module) {
    if (!module) return false;
    if (dlclose(module) == 0) return true;
    DebugLog("FreeLibrary: %s", dlerror());
    return false;
}

std::string SmtpProfileName(const std::string& url, const std::string& user, const std::string& caFile) {
    std::string profile = url;
    if (!user.empty()) {
        const size_t scheme = profile.find("://");
        const size_t at = scheme == std::string::npos ? 0 : scheme + 3;
        profile.insert(at, PercentEncoded(user) + "@");
    }
    if (!caFile.empty()) {
        if (profile.empty() || profile.back() != '/') profile += '/';
        profile += "?cacert=" + PercentEncoded(caFile);
    }
    return profile;
}
