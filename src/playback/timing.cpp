#include "playback/timing.h"

#include <algorithm>
#include <cmath>

#include "core/diag.h"
#include "core/format.h"

namespace {

constexpr ShuttleSpeed kShuttle[2 * kShuttleMaxIndex + 1] = {
    {"-X60", -1.0 / 60}, {"-X30", -1.0 / 30}, {"-X20", -1.0 / 20}, {"REW", -1.0 / 15},  {"REVx10", -1.0 / 10},
    {"REVx6", -1.0 / 6}, {"REVx4", -1.0 / 4}, {"REVx3", -1.0 / 3}, {"REVx2", -1.0 / 2}, {"REV", -1},
    {"REV/2", -2},       {"REV/4", -4},       {"REV/6", -6},       {"REV/8", -8},       {"REV/10", -10},
    {"PAUSE", 0},        {"/10", 10},         {"/8", 8},           {"/6", 6},           {"/4", 4},
    {"/2", 2},           {"PLAY", 1},         {"X2", 1.0 / 2},     {"X3", 1.0 / 3},     {"X4", 1.0 / 4},
    {"X6", 1.0 / 6},     {"X10", 1.0 / 10},   {"FF", 1.0 / 15},    {"FFF", 1.0 / 20},   {"FFFF", 1.0 / 30},
    {"FFFFF", 1.0 / 60},
};

constexpr double kPi = 3.14159265;
constexpr double kTwoPi = 6.2831853;
constexpr double kDegreesPerRadian = 57.29577957855229;
constexpr double kJogStepsPerRadian = 5;
constexpr double kShuttleLimit = 1.5;
constexpr uint32_t kFallbackRate = 15;

}  // namespace

int64_t RoundHalf(double x) {
    double r = x + 0.5;
    if (!(r > -9e18)) return static_cast<int64_t>(-9e18);
    if (r > 9e18) return static_cast<int64_t>(9e18);
    return static_cast<int64_t>(r);
}

PlayTiming ComputeTiming(uint32_t rate, uint32_t scale) {
    if (rate == 0 || scale == 0) rate = kFallbackRate, scale = 1;
    PlayTiming t;
    t.period = static_cast<double>(scale) * 1000000.0 / rate;
    t.frameTime = static_cast<int32_t>(std::clamp<int64_t>(RoundHalf(1000.0 * scale / rate), 1, INT32_MAX));
    t.fps = static_cast<int32_t>(std::min<uint32_t>(rate / scale, INT32_MAX));
    return t;
}

const ShuttleSpeed& ShuttleEntry(int32_t index) {
    return kShuttle[std::clamp(index, -kShuttleMaxIndex, kShuttleMaxIndex) + kShuttleMaxIndex];
}

RECT DestinationRect(const RECT& picture) {
    int32_t h = picture.bottom - picture.top;
    int32_t w = 4 * h / 3;
    int32_t x = (picture.right - picture.left - w) / 2;
    int32_t y = 0;
    if (w > picture.right - picture.left) {
        w = picture.right - picture.left;
        x = 0;
        h = 3 * w / 4;
        y = (picture.bottom - picture.top - h) / 2;
    }
    return RECT{x, y, x + w, y + h};
}

int32_t SliderPosition(int32_t x, int32_t n) {
    if (n < 1) return 1;
    int64_t p = static_cast<int64_t>(x - kSliderLeft) * n / (kSliderRight - kSliderLeft) + 1;
    return static_cast<int32_t>(std::clamp<int64_t>(p, 1, n));
}

int32_t ProgressX(int32_t p, int32_t n) {
    if (n < 2) return kSliderLeft;
    int64_t k = p - 1;
    if (k >= n) k %= n;
    if (k < 0) k = 0;
    return static_cast<int32_t>(kSliderLeft + k * (kSliderRight - kSliderLeft + 1) / (n - 1));
}

int32_t RangeMarkX(int32_t frame, int32_t n) {
    if (n < 2) return kSliderLeft;
    int64_t x = kSliderLeft + static_cast<int64_t>(frame) * (kSliderRight - kSliderLeft + 1) / (n - 1);
    return static_cast<int32_t>(std::clamp<int64_t>(x, kSliderLeft, kSliderRight));
}

DialPart DialHit(int32_t x, int32_t y) {
    if (x <= 160) return DialPart::None;
    double r = std::hypot(x - kDialX, y - kDialY);
    if (r <= kJogRadius) return DialPart::Jog;
    if (r <= kShuttleRadius) return DialPart::Shuttle;
    return DialPart::None;
}

int32_t JogTracker::Begin(int32_t x, int32_t y) {
    accumulated = 0;
    lastSteps = 0;
    reference = std::atan2(y - kDialY, x - kDialX);
    return static_cast<int32_t>(reference * kDegreesPerRadian);
}

int32_t JogTracker::Move(int32_t x, int32_t y, bool shift, bool ctrl, int32_t* markerDegrees) {
    double a = std::atan2(y - kDialY, x - kDialX);
    double d = a - reference;
    if (d > kPi) d -= kTwoPi;
    if (d < -kPi) d += kTwoPi;
    accumulated += d;
    reference = a;
    if (markerDegrees) *markerDegrees = static_cast<int32_t>(a * kDegreesPerRadian);
    int32_t steps = static_cast<int32_t>(accumulated * kJogStepsPerRadian);
    if (steps == lastSteps) return 0;
    int32_t m = steps - lastSteps;
    if (shift) m *= 10;
    if (ctrl) m *= 10;
    lastSteps = steps;
    return m;
}

int32_t ShuttleIndexAt(int32_t x, int32_t y, int32_t* markerDegrees) {
    double a = std::clamp(std::atan2(x - kDialX, kDialY - y), -kShuttleLimit, kShuttleLimit);
    if (markerDegrees) *markerDegrees = static_cast<int32_t>(a * kDegreesPerRadian);
    return static_cast<int32_t>(10 * a);
}

POINT JogMarkerCentre(int32_t degrees) {
    double a = degrees / kDegreesPerRadian;
    return POINT{214 + static_cast<int32_t>(RoundHalf(19 * std::cos(a))),
                 76 + static_cast<int32_t>(RoundHalf(19 * std::sin(a)))};
}

POINT ShuttleMarkerCentre(int32_t degrees) {
    double a = degrees / kDegreesPerRadian;
    return POINT{215 + static_cast<int32_t>(RoundHalf(42 * std::sin(a))),
                 76 + static_cast<int32_t>(RoundHalf(-42 * std::cos(a)))};
}

std::string InfoLine(FOURCC compression, int32_t width, int32_t height, int32_t bits, uint32_t rate,
                     uint32_t scale) {
    int64_t h = scale ? (static_cast<int64_t>(rate) * 1000 / scale + 5) / 10 : 0;
    const std::string code = FourCCText(compression);
    return FormatMessageText("(%4.4s) %ldx%ldx%ld %ld.%02ldFPS", code.c_str(), static_cast<long>(width),
                             static_cast<long>(height), static_cast<long>(bits), static_cast<long>(h / 100),
                             static_cast<long>(h % 100));
}

std::string CountersLine(int32_t shown, int32_t skipped) {
    return FormatMessageText("%ld FRAMES - %ld SKIPPED", static_cast<long>(shown),
                             static_cast<long>(skipped));
}

std::string TimeCodeText(int32_t frame, uint32_t rate, uint32_t scale) {
    int64_t f = scale ? RoundHalf(static_cast<double>(rate) / scale) : 0;
    int32_t r;
    if (f >= 1) {
        r = static_cast<int32_t>(std::min<int64_t>(f, 999));
    } else {
        double us = rate == 1000000 ? scale : 1000000.0 / std::max<uint32_t>(rate, 1) * scale;
        r = static_cast<int32_t>(std::clamp<double>(us, 1000, INT32_MAX));
    }
    char buffer[64] = {};
    FormatTimecode(buffer, frame, r);
    return buffer;
}
