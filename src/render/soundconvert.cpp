#include "render/soundconvert.h"

#include <algorithm>

namespace {

constexpr int32_t kMinRate = 4000;
constexpr int32_t kMaxRate = 192000;

// Rounds towards minus infinity (den > 0), so that both signs round alike.
int64_t FloorDiv(int64_t num, int64_t den) {
    const int64_t q = num / den;
    return (num % den != 0 && num < 0) ? q - 1 : q;
}

// Source samples as values of the 16-bit scale, already in the target's channels.
class Source {
  public:
    Source(const PcmFormat& from, int32_t toChannels, const uint8_t* src, int64_t lo)
        : from_(from), toChannels_(toChannels), src_(src), lo_(lo), bytes_(PcmSampleBytes(from)) {}

    // Channel c (of the target's) of source sample j.
    int32_t At(int64_t j, int32_t c) const {
        const uint8_t* p = src_ + (j - lo_) * bytes_;
        if (from_.channels == toChannels_) return Channel(p, c);
        if (from_.channels == 1) return Channel(p, 0);
        return (Channel(p, 0) + Channel(p, 1)) >> 1;  // stereo into mono
    }

  private:
    int32_t Channel(const uint8_t* p, int32_t c) const {
        if (from_.bits == 8) return (static_cast<int32_t>(p[c]) - 128) * 256;
        return static_cast<int16_t>(static_cast<uint16_t>(p[2 * c] | p[2 * c + 1] << 8));
    }

    const PcmFormat& from_;
    int32_t toChannels_;
    const uint8_t* src_;
    int64_t lo_;
    int32_t bytes_;
};

void Store(const PcmFormat& to, int32_t v, uint8_t* out) {
    if (to.bits == 8) {
        *out = static_cast<uint8_t>(std::clamp<int32_t>(((v + 128) >> 8) + 128, 0, 255));
    } else {
        const auto s = static_cast<uint16_t>(std::clamp<int32_t>(v, -32768, 32767));
        out[0] = static_cast<uint8_t>(s), out[1] = static_cast<uint8_t>(s >> 8);
    }
}

}  // namespace

bool ConvertiblePcm(const PcmFormat& f) {
    return f.rate >= kMinRate && f.rate <= kMaxRate && (f.channels == 1 || f.channels == 2) &&
           (f.bits == 8 || f.bits == 16);
}

int32_t PcmSampleBytes(const PcmFormat& f) {
    return f.channels * (f.bits / 8);
}

void PcmConversionWindow(const PcmFormat& from, const PcmFormat& to, int64_t first, int64_t count,
                         int64_t* lo, int64_t* hi) {
    const int64_t rs = from.rate, rh = to.rate, last = first + count - 1;
    if (count <= 0) {
        *lo = *hi = FloorDiv(first * rs, rh);
    } else if (rs <= rh) {
        // Output sample k lies at source position k x rs / rh, between two source samples.
        *lo = FloorDiv(first * rs, rh);
        *hi = FloorDiv(last * rs, rh) + 2;
    } else {
        // Output sample k spans source positions (k - 1/2) x rs / rh to (k + 1/2) x rs / rh; source
        // sample j spans j - 1/2 to j + 1/2.
        *lo = FloorDiv((2 * first - 1) * rs - rh, 2 * rh) + 1;
        *hi = FloorDiv((2 * last + 1) * rs + rh + 2 * rh - 1, 2 * rh);
    }
}

void ConvertPcm(const PcmFormat& from, const PcmFormat& to, int64_t first, int64_t count, const uint8_t* src,
                int64_t lo, uint8_t* out) {
    const Source s(from, to.channels, src, lo);
    const int64_t rs = from.rate, rh = to.rate;
    const int32_t outBytes = PcmSampleBytes(to), channelBytes = to.bits / 8;
    for (int64_t k = first; k < first + count; k++) {
        for (int32_t c = 0; c < to.channels; c++) {
            int64_t v;
            if (rs == rh) {
                v = s.At(k, c);
            } else if (rs < rh) {
                const int64_t i = FloorDiv(k * rs, rh), f = k * rs - i * rh;
                v = FloorDiv(2 * (s.At(i, c) * (rh - f) + s.At(i + 1, c) * f) + rh, 2 * rh);
            } else {
                // Weights in units of 1 / (2 rh) source samples; they add up to 2 rs.
                const int64_t start = (2 * k - 1) * rs, end = (2 * k + 1) * rs;
                int64_t sum = 0;
                for (int64_t j = FloorDiv(start - rh, 2 * rh) + 1; (2 * j - 1) * rh < end; j++)
                    sum += s.At(j, c) * (std::min((2 * j + 1) * rh, end) - std::max((2 * j - 1) * rh, start));
                v = FloorDiv(sum + rs, 2 * rs);
            }
            Store(to, static_cast<int32_t>(v), out + (k - first) * outBytes + c * channelBytes);
        }
    }
}
