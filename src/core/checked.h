// Arithmetic on values read from files: products and sums that stop at the 64-bit limits instead of
// overflowing, and the narrowing to 32 bits that keeps the nearest value.
#pragma once

#include <algorithm>
#include <climits>
#include <cstdint>

inline int64_t SaturatedMul(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_mul_overflow(a, b, &r)) return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
    return r;
}

inline int64_t SaturatedAdd(int64_t a, int64_t b) {
    int64_t r;
    if (__builtin_add_overflow(a, b, &r)) return b < 0 ? INT64_MIN : INT64_MAX;
    return r;
}

inline int32_t ClampToInt32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}
