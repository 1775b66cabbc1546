#include "platform/registry/registry.h"

#include "core/savefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

struct RegKeyHandle {
    std::string path;  // below HKEY_LOCAL_MACHINE, backslash-separated; empty for the root
};

namespace {

constexpr const char* kRootName = "HKEY_LOCAL_MACHINE";
constexpr const char* kHeader = "Windows Registry Editor Version 5.00";
// A settings file is a few kilobytes; anything near this is not ours.
constexpr size_t kMaxFileBytes = 4 * 1024 * 1024;

RegKeyHandle gRootHandle{};

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct Value {
    std::string name;
    std::string data;
};

struct Key {
    std::string path;
    std::vector<Value> values;
    Value* find(const std::string& name) {
        std::string l = Lower(name);
        for (auto& v : values)
            if (Lower(v.name) == l) return &v;
        return nullptr;
    }
};

struct Store {
    std::string filePath;
    bool loaded = false;
    bool dirty = false;
    bool damaged = false;
    int writeError = 0;  // errno of the last write that failed, 0 after one that worked
    int openHandles = 0;
    std::map<std::string, Key> keys;  // by lower-case path
};

Store gStore;

std::string DefaultPath() {
    if (const char* p = std::getenv("QUILLORY_REGISTRY"); p && *p) return p;
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        base = x;
    else if (const char* h = std::getenv("HOME"); h && *h)
        base = std::string(h) + "/.config";
    else
        base = ".";
    return base + "/Brellmont/Quillory/registry.reg";
}

// Parses a quoted .reg string starting at s[i] == '"'; i ends past the closing quote.
bool ParseQuoted(const std::string& s, size_t& i, std::string& out) {
    if (i >= s.size() || s[i] != '"') return false;
    out.clear();
    for (++i; i < s.size(); ++i) {
        char c = s[i];
        if (c == '"') {
            ++i;
            return true;
        }
        if (c == '\\') {
            if (++i >= s.size()) return false;
            c = s[i];
            if (c != '\\' && c != '"') return false;
        }
        out += c;
    }
    return false;  // cut before the closing quote
}

bool ParseHexBytes(const std::string& s, std::string& out) {
    out.clear();
    size_t i = 0;
    while (i < s.size()) {
        if (i + 2 > s.size() || !std::isxdigit(static_cast<unsigned char>(s[i])) ||
            !std::isxdigit(static_cast<unsigned char>(s[i + 1])))
            return false;
        out += static_cast<char>(std::stoi(s.substr(i, 2), nullptr, 16));
        i += 2;
        if (i < s.size()) {
            if (s[i] != ',') return false;
            ++i;
            if (i == s.size()) return false;
        }
    }
    return true;
}

// Reads what can be read; anything that does not parse marks the file damaged.
void Load() {
    if (gStore.loaded) return;
    gStore.loaded = true;
    gStore.keys.clear();
    gStore.damaged = false;
    if (gStore.filePath.empty()) gStore.filePath = DefaultPath();

    std::ifstream in(gStore.filePath, std::ios::binary);
    if (!in) {
        struct stat st;
        if (stat(gStore.filePath.c_str(), &st) == 0) gStore.damaged = true;  // there but unreadable
        return;
    }
    // Read in pieces, so the memory taken follows the file, not the cap.
    std::string content;
    char piece[16384];
    while (content.size() <= kMaxFileBytes && in.read(piece, sizeof piece).gcount() > 0)
        content.append(piece, static_cast<size_t>(in.gcount()));
    if (content.size() > kMaxFileBytes) {
        gStore.damaged = true;
        return;
    }

    std::istringstream lines(content);
    std::string line;
    bool sawHeader = false;
    Key* current = nullptr;
    const std::string rootPrefix = std::string(kRootName) + "\\";
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find('\0') != std::string::npos) {
            gStore.damaged = true;
            continue;
        }
        if (line.empty() || line[0] == ';') continue;
        if (!sawHeader) {
            sawHeader = true;
            if (line == kHeader) continue;
            gStore.damaged = true;
        }
        if (line[0] == '[') {
            current = nullptr;
            if (line.size() < rootPrefix.size() + 3 || line.back() != ']' ||
                line.compare(1, rootPrefix.size(), rootPrefix) != 0) {
                gStore.damaged = true;
                continue;
            }
            std::string path = line.substr(1 + rootPrefix.size(), line.size() - rootPrefix.size() - 2);
            if (path.front() == '\\' || path.back() == '\\' || path.find("\\\\") != std::string::npos) {
                gStore.damaged = true;
                continue;
            }
            // Ancestors are keys of their own even when the file names only the child.
            for (size_t i = 1; i <= path.size(); ++i) {
                if (i != path.size() && path[i] != '\\') continue;
                Key& k = gStore.keys[Lower(path.substr(0, i))];
                if (k.path.empty()) k.path = path.substr(0, i);
                current = &k;
            }
            continue;
        }
        size_t i = 0;
        std::string name, data;
        bool ok = ParseQuoted(line, i, name) && i < line.size() && line[i] == '=';
        if (ok) {
            ++i;
            if (i < line.size() && line[i] == '"') {
                ok = ParseQuoted(line, i, data) && i == line.size();
            } else if (line.compare(i, 7, "hex(1):") == 0) {
                ok = ParseHexBytes(line.substr(i + 7), data);
            } else {
                ok = false;
            }
        }
        if (!ok || !current) {
            gStore.damaged = true;
            continue;
        }
        if (Value* v = current->find(name))
            v->data = data;
        else
            current->values.push_back({name, data});
    }
}

bool Printable(const std::string& s) {
    return std::none_of(s.begin(), s.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u < 0x20 || u == 0x7F;
    });
}

std::string Quote(const std::string& s) {
    std::string q = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') q += '\\';
        q += c;
    }
    return q + "\"";
}

std::string Serialise() {
    std::string out = std::string(kHeader) + "\n";
    for (const auto& [lower, key] : gStore.keys) {
        out += "\n[" + std::string(kRootName) + "\\" + key.path + "]\n";
        for (const auto& v : key.values) {
            out += Quote(v.name) + "=";
            if (Printable(v.data)) {
                out += Quote(v.data);
            } else {
                out += "hex(1):";
                char hex[4];
                for (size_t i = 0; i < v.data.size(); ++i) {
                    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(v.data[i]));
                    if (i) out += ',';
                    out += hex;
                }
            }
            out += "\n";
        }
    }
    return out;
}

// Keeps a damaged file under a name of its own before it is replaced. It stays in place too (a
// second link), so a save that then fails still leaves it where it was.
void SetAsideDamaged() {
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", std::localtime(&now));
    std::string aside = gStore.filePath + ".damaged-" + stamp;
    for (int n = 1; access(aside.c_str(), F_OK) == 0 && n < 100; ++n)
        aside = gStore.filePath + ".damaged-" + stamp + "-" + std::to_string(n);
    if (link(gStore.filePath.c_str(), aside.c_str()) != 0)
        std::rename(gStore.filePath.c_str(), aside.c_str());
}

LONG Flush() {
    if (!gStore.dirty) return ERROR_SUCCESS;
    SaveFileOptions options;
    options.createFolders = true;
    options.beforeReplace = [] {
        if (gStore.damaged && access(gStore.filePath.c_str(), F_OK) == 0) SetAsideDamaged();
    };
    if (const SaveOutcome saved = SaveFileReplacing(gStore.filePath, Serialise(), options); !saved) {
        gStore.writeError = saved.error;
        return ERROR_WRITE_FAULT;
    }
    gStore.writeError = 0;
    gStore.dirty = false;
    gStore.damaged = false;
    return ERROR_SUCCESS;
}

std::string Join(HKEY parent, const char* subKey) {
    std::string path = parent ? parent->path : std::string();
    std::string sub = subKey ? subKey : "";
    while (!sub.empty() && sub.front() == '\\') sub.erase(0, 1);
    while (!sub.empty() && sub.back() == '\\') sub.pop_back();
    if (sub.empty()) return path;
    return path.empty() ? sub : path + "\\" + sub;
}

HKEY NewHandle(const std::string& path) {
    gStore.openHandles++;
    return new RegKeyHandle{path};
}

Key* FindKey(HKEY key) {
    if (!key) return nullptr;
    auto it = gStore.keys.find(Lower(key->path));
    return it == gStore.keys.end() ? nullptr : &it->second;
}

}  // namespace

HKEY const HKEY_LOCAL_MACHINE = &gRootHandle;

LONG RegOpenKeyExA(HKEY parent, const char* subKey, HKEY* result) {
    if (!parent || !result) return ERROR_INVALID_HANDLE;
    Load();
    std::string path = Join(parent, subKey);
    if (path.empty() || !gStore.keys.count(Lower(path))) return ERROR_FILE_NOT_FOUND;
    *result = NewHandle(gStore.keys[Lower(path)].path);
    return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY parent, const char* subKey, HKEY* result, uint32_t* disposition) {
    if (!parent || !result) return ERROR_INVALID_HANDLE;
    Load();
    std::string path = Join(parent, subKey);
    if (path.empty()) return ERROR_INVALID_PARAMETER;
    bool created = false;
    // Every ancestor is a key of its own, as in the registry.
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '\\') continue;
        std::string part = path.substr(0, i);
        Key& k = gStore.keys[Lower(part)];
        if (k.path.empty()) {
            k.path = part;
            created = true;
            gStore.dirty = true;
        }
    }
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    *result = NewHandle(gStore.keys[Lower(path)].path);
    return ERROR_SUCCESS;
}

LONG RegQueryValueExA(HKEY key, const char* name, uint32_t* type, uint8_t* data, uint32_t* size) {
    Key* k = FindKey(key);
    if (!k) return ERROR_INVALID_HANDLE;
    Value* v = k->find(name ? name : "");
    if (!v) return ERROR_FILE_NOT_FOUND;
    if (type) *type = REG_SZ;
    uint32_t need = static_cast<uint32_t>(v->data.size());
    if (!size) return data ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
    if (!data) {
        *size = need;
        return ERROR_SUCCESS;
    }
    if (*size < need) {
        *size = need;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, v->data.data(), need);
    *size = need;
    return ERROR_SUCCESS;
}

LONG RegSetValueExA(HKEY key, const char* name, uint32_t type, const uint8_t* data, uint32_t size) {
    Key* k = FindKey(key);
    if (!k) return ERROR_INVALID_HANDLE;
    if (type != REG_SZ || (!data && size)) return ERROR_INVALID_PARAMETER;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string n = name ? name : "";
    if (Value* v = k->find(n))
        v->data = bytes;
    else
        k->values.push_back({n, bytes});
    gStore.dirty = true;
    return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
    if (!key || key == HKEY_LOCAL_MACHINE) return ERROR_INVALID_HANDLE;
    delete key;
    if (--gStore.openHandles <= 0) {
        gStore.openHandles = 0;
        return Flush();
    }
    return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY key) {
    if (!key) return ERROR_INVALID_HANDLE;
    Load();
    return Flush();
}

std::string RegistryFilePath() {
    if (gStore.filePath.empty()) gStore.filePath = DefaultPath();
    return gStore.filePath;
}

void RegistryUseFile(const std::string& path) {
    gStore = Store{};
    gStore.filePath = path;
}

bool RegistryFileWasDamaged() {
    Load();
    return gStore.damaged;
}

int RegistryWriteError() {
    return gStore.writeError;
}

std::string RegistryText() {
    Load();
    return Serialise();
}
