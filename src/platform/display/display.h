// The display metrics that the information context of "DISPLAY" gave: the primary screen's size
// in the pixels windows are placed in, and its bits per pixel.
#pragma once

#include <cstdint>

struct DisplayMetrics {
    int32_t width = 0;
    int32_t height = 0;
    int32_t depth = 0;  // bits per pixel x colour planes
};

// False (and zeros) when there is no screen, as in a program without a QGuiApplication.
bool GetDisplayMetrics(DisplayMetrics& metrics);
