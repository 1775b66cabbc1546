// The arithmetic of playback that needs no window: frame timing, the shuttle table, the 4:3
// destination box, and the geometry of the VCR panel's slider, jog dial, shuttle ring and display.
#pragma once

#include <cstdint>
#include <string>

#include "core/wintypes.h"
#include "ui/artwork.h"  // kJogRadius, kShuttleRadius

// round(x) as playback computes it: x + 0.5 truncated toward zero.
int64_t RoundHalf(double x);

// Fixed while the panel is open.
struct PlayTiming {
    double period = 0;      // microseconds a frame: scale x 1000000 / rate
    int32_t frameTime = 0;  // round(1000 x scale / rate) milliseconds
    int32_t fps = 0;        // rate / scale
};
// A rate or scale of 0 is taken as 15 frames a second.
PlayTiming ComputeTiming(uint32_t rate, uint32_t scale);

// The shuttle's 31 speeds, indexed -15..15: the display's word and the multiplier of the period
// (negative plays backwards, 0 holds the picture).
struct ShuttleSpeed {
    const char* word;
    double multiplier;
};
constexpr int32_t kShuttleMaxIndex = 15;
// The row for index, clamped to -15..15.
const ShuttleSpeed& ShuttleEntry(int32_t index);

// A 4:3 box centred in the picture rectangle (whatever the video's own aspect).
RECT DestinationRect(const RECT& picture);

// Panel geometry (client pixels).
constexpr int32_t kPanelWidth = 286;
constexpr int32_t kPanelHeight = 155;
constexpr int32_t kSliderLeft = 9;
constexpr int32_t kSliderRight = 140;
constexpr int32_t kSliderTop = 20;
constexpr int32_t kSliderBottom = 25;
constexpr int32_t kDialX = 215;
constexpr int32_t kDialY = 77;

// The position (1..n) a slider click or drag at x gives.
int32_t SliderPosition(int32_t x, int32_t n);
// The right end of the progress bar's bright part for position p.
int32_t ProgressX(int32_t p, int32_t n);
// The range marks' x for a frame index (clamped to 9..140); valid for n > 1.
int32_t RangeMarkX(int32_t frame, int32_t n);

// What a press on the dial area hits.
enum class DialPart { None, Jog, Shuttle };
DialPart DialHit(int32_t x, int32_t y);

// The jog dial while dragged: turns are summed, five steps a radian.
struct JogTracker {
    double reference = 0;
    double accumulated = 0;
    int32_t lastSteps = 0;
    // Starts a drag at (x, y); returns the marker angle in whole degrees.
    int32_t Begin(int32_t x, int32_t y);
    // The move in positions for the pointer now at (x, y) (x10 with Shift, x10 more with Ctrl);
    // markerDegrees gets the marker's new angle.
    int32_t Move(int32_t x, int32_t y, bool shift, bool ctrl, int32_t* markerDegrees);
};

// The shuttle index (-15..15) for the pointer at (x, y); markerDegrees gets the marker's angle.
int32_t ShuttleIndexAt(int32_t x, int32_t y, int32_t* markerDegrees);

// Marker places: the jog marker's centre for its angle in degrees (clockwise from the right), the
// shuttle marker's for its angle (clockwise from the top).
POINT JogMarkerCentre(int32_t degrees);
POINT ShuttleMarkerCentre(int32_t degrees);

// The display's information line outside PLAY: "(%4.4s) %ldx%ldx%ld %ld.%02ldFPS".
std::string InfoLine(FOURCC compression, int32_t width, int32_t height, int32_t bits, uint32_t rate,
                     uint32_t scale);
// "%ld FRAMES - %ld SKIPPED".
std::string CountersLine(int32_t shown, int32_t skipped);
// The display's time code of frame index `frame` for a clip of rate / scale.
std::string TimeCodeText(int32_t frame, uint32_t rate, uint32_t scale);
