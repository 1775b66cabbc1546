#include "ui/resources.h"

#include <cstring>
#include <map>
#include <utility>

#include "ui/resource_data.h"

namespace {

std::map<std::pair<std::string, std::string>, std::string>& Registered() {
    static std::map<std::pair<std::string, std::string>, std::string> registered;
    return registered;
}

}  // namespace

bool FindResourceData(const char* name, const char* type, ResourceData& out) {
    out = ResourceData{};
    if (!name || !type) return false;
    auto it = Registered().find({name, type});
    if (it != Registered().end()) {
        out.data = reinterpret_cast<const uint8_t*>(it->second.data());
        out.size = it->second.size();
        return true;
    }
    for (size_t i = 0; i < kBuiltInResourceCount; i++) {
        const BuiltInResource& r = kBuiltInResources[i];
        if (std::strcmp(r.name, name) == 0 && std::strcmp(r.type, type) == 0) {
            out.data = r.data;
            out.size = r.size;
            return true;
        }
    }
    return false;
}

bool RegisterResource(const std::string& name, const std::string& type, const std::string& bytes) {
    ResourceData existing;
    if (FindResourceData(name.c_str(), type.c_str(), existing)) return false;
    Registered()[{name, type}] = bytes;
    return true;
}
