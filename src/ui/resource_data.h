// The table that the build generates from the files of resources/ (resource_data.cpp).
#pragma once

#include <cstddef>
#include <cstdint>

struct BuiltInResource {
    const char* name;
    const char* type;
    const uint8_t* data;
    size_t size;
};

extern const BuiltInResource kBuiltInResources[];
extern const size_t kBuiltInResourceCount;
