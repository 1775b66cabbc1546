#include "core/format.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char kOnes[] = "012345678901234567890123456789012345678901234567890123456789";
const char kTens[] =
    "0000000000111111111122222222223333333333444444444455555555556666666666"
    "777777777788888888889999999999";

// Two digits of v, clamped to 0..99: the ones table covers 0..59, digits above that come from
// the tens table and the last decimal digit.
char* PutTwo(char* p, int32_t v) {
    if (v < 0) v = 0;
    if (v > 99) v = 99;
    *p++ = kTens[v];
    *p++ = v < 60 ? kOnes[v] : static_cast<char>('0' + v % 10);
    return p;
}

}  // namespace

const char* FormatThousands(int32_t n) {
    thread_local char buffer[32];
    int64_t a = n;
    const char* sign = "";
    if (a < 0) {
        sign = "-";
        a = -a;
    }
    long g0 = static_cast<long>(a % 1000);
    long g1 = static_cast<long>((a / 1000) % 1000);
    long g2 = static_cast<long>((a / 1000000) % 1000);
    long g3 = static_cast<long>(a / 1000000000);
    if (g3 != 0)
        std::snprintf(buffer, sizeof buffer, "%s%ld,%03ld,%03ld,%03ld", sign, g3, g2, g1, g0);
    else if (g2 != 0)
        std::snprintf(buffer, sizeof buffer, "%s%ld,%03ld,%03ld", sign, g2, g1, g0);
    else if (g1 == 0)
        std::snprintf(buffer, sizeof buffer, "%s%ld", sign, static_cast<long>(a));
    else
        std::snprintf(buffer, sizeof buffer, "%s%ld,%03ld", sign, g1, g0);
    return buffer;
}

void FormatHMSF(int32_t h, int32_t m, int32_t s, int32_t f, char* buffer) {
    char* p = buffer;
    if (h > 9999) {
        std::snprintf(buffer, 16, "*");
        return;
    }
    if (h < -9) {
        std::snprintf(buffer, 16, "-*");
        return;
    }
    if (h >= 1000) {
        *p++ = static_cast<char>('0' + h / 1000);
        *p++ = static_cast<char>('0' + h / 100 % 10);
        p = PutTwo(p, h % 100);
    } else if (h >= 100) {
        *p++ = static_cast<char>('0' + h / 100);
        p = PutTwo(p, h % 100);
    } else if (h >= 0) {
        p = PutTwo(p, h);
    } else {
        *p++ = '-';
        *p++ = static_cast<char>('0' + (-h - 1));
    }
    *p++ = 'h';
    p = PutTwo(p, m);
    *p++ = 'm';
    p = PutTwo(p, s);
    *p++ = 's';
    p = PutTwo(p, f);
    *p = '\0';
}

void FormatTimecode(char* buffer, int32_t v, int32_t rate) {
    if (rate < 1) rate = 1;
    int64_t a = std::llabs(static_cast<int64_t>(v));
    int64_t seconds;
    int64_t base;
    if (rate < 1000) {
        seconds = a / rate;
        base = seconds * rate;
    } else {
        seconds = static_cast<int64_t>(static_cast<double>(a) * rate * 0.000001);
        base = static_cast<int64_t>(static_cast<double>(seconds) * 1000000.0 / rate + 0.5);
    }
    int64_t frames = a - base;
    int64_t hours = seconds / 3600;
    int64_t minutes = (seconds / 60) % 60;
    int64_t secs = seconds % 60;
    if (v < 0) hours = -1 - hours;
    if (hours > 9999) hours = 10000;
    if (hours < -10) hours = -10;
    FormatHMSF(static_cast<int32_t>(hours), static_cast<int32_t>(minutes), static_cast<int32_t>(secs),
               static_cast<int32_t>(frames), buffer);
}

char* FormatMinutes(char* buffer, int32_t t) {
    long h = t / 60;
    long m = t % 60;
    if (h >= 24)
        std::sprintf(buffer, "%ldd%02ldh%02ldm", h / 24, h % 24, m);
    else if (h == 0)
        std::sprintf(buffer, "%ldminutes", m);
    else
        std::sprintf(buffer, "%ldh%02ldm", h, m);
    return buffer;
}

char* FormatSeconds(char* buffer, int32_t t) {
    long s = t % 60;
    long total = t / 60;
    long h = total / 60;
    long m = total % 60;
    if (h >= 24)
        std::sprintf(buffer, "%ldd%02ldh%02ldm", h / 24, h % 24, m);
    else if (h != 0)
        std::sprintf(buffer, "%ldh%02ldm", h, m);
    else if (m == 0)
        std::sprintf(buffer, "%ldsecs", s);
    else
        std::sprintf(buffer, "%ldm%lds", m, s);
    return buffer;
}

void CopyCut(char* dest, size_t capacity, std::string_view src) {
    if (!dest || capacity == 0) return;
    size_t n = src.size() < capacity ? src.size() : capacity - 1;
    if (n < src.size())
        while (n > 0 && (static_cast<unsigned char>(src[n]) & 0xC0) == 0x80) n--;
    std::memcpy(dest, src.data(), n);
    dest[n] = '\0';
}
