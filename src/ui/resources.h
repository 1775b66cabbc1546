// The program's built-in resources: the artwork files of resources/, compiled into the program
// so that it finds them wherever it runs, looked up by name and type as Windows resources were.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ResourceData {
    const uint8_t* data = nullptr;
    size_t size = 0;
};

// Exact, case-sensitive name and type ("VCR00", "MYBITMAP"); false when there is none.
bool FindResourceData(const char* name, const char* type, ResourceData& out);

// Adds a resource for the life of the process (tests); the bytes are copied. A name and type
// already taken are refused (false), since loaded bitmaps keep pointing into the old bytes.
bool RegisterResource(const std::string& name, const std::string& type, const std::string& bytes);
