#include "core/appstate.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>

int32_t gMailAvailable = 0;
std::vector<std::string> gCommandLine;

int32_t ParseMailAvailable(const char* text) {
    if (!text) return 0;
    char* end = nullptr;
    errno = 0;
    long long value = std::strtoll(text, &end, 10);  // "%d": blanks, a sign, then digits
    if (end == text) return 0;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}
