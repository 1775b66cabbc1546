// Where the program's artwork keeps its pictures: the storyboard toolbar strip and the panel
// bitmap "VCR00". Every button picture has four state images stacked downwards, one image height
// apart: normal, focused, pressed, disabled. Coordinates count from the bitmap's top-left corner;
// StretchDIBits counts source rows from the bottom instead (StretchSourceY converts).
#pragma once

#include <cstdint>

struct ArtworkRect {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

struct ArtworkButton {
    int32_t controlId;
    ArtworkRect face;  // the normal image; the other three follow below it
};

constexpr int32_t kButtonStateRows = 4;

// The storyboard toolbar strip: resource "TOOLBAR", one face per toolbar button side by side.
constexpr const char* kToolbarBitmapName = "TOOLBAR";
constexpr int32_t kToolbarFaceWidth = 28;
constexpr int32_t kToolbarFaceHeight = 26;
constexpr int32_t kToolbarControlIds[] = {1997, 1861, 1595, 2076, 1264, 1152, 1588, 1043, 2099, 1732,
                                          1596, 2084, 2085, 2086, 2081, 1946, 2091, 2090, 9};
constexpr int32_t kToolbarFaceCount = sizeof kToolbarControlIds / sizeof kToolbarControlIds[0];
constexpr int32_t kToolbarStripWidth = kToolbarFaceCount * kToolbarFaceWidth;
constexpr int32_t kToolbarStripHeight = kButtonStateRows * kToolbarFaceHeight;

// The toolbar face of a control id; false when the toolbar has no such button.
constexpr bool ToolbarFace(int32_t controlId, ArtworkRect& face) {
    for (int32_t i = 0; i < kToolbarFaceCount; i++) {
        if (kToolbarControlIds[i] == controlId) {
            face = {i * kToolbarFaceWidth, 0, kToolbarFaceWidth, kToolbarFaceHeight};
            return true;
        }
    }
    return false;
}

// The panel bitmap "VCR00": 499 x 255 pixels, 8 bits per pixel.
constexpr const char* kVcrBitmapName = "VCR00";
constexpr int32_t kVcrBitmapWidth = 499;
constexpr int32_t kVcrBitmapHeight = 255;

// The VCR panel's front (drawn whole as its background; StretchDIBits source (0, 100)).
constexpr ArtworkRect kVcrFront = {0, 0, 286, 155};
// The well behind a row of VCR buttons (StretchDIBits source (280, 0)) and the one behind the
// information button (source (280, 19)).
constexpr ArtworkRect kVcrRowWell = {280, 236, 126, 19};
constexpr ArtworkRect kVcrInfoWell = {280, 217, 36, 19};
// The jog dial and the shuttle ring around it, centred at (215, 77) of the front. Marker moves
// repaint the marker's old place flat, so these parts of the front are one flat colour each.
constexpr int32_t kJogCentreX = 215;
constexpr int32_t kJogCentreY = 77;
constexpr int32_t kJogRadius = 33;
constexpr int32_t kShuttleRadius = 50;
constexpr uint32_t kJogFaceRgb = 0xC0C0C0;
constexpr uint32_t kShuttleFaceRgb = 0x646464;

constexpr ArtworkButton kVcrPanelButtons[] = {
    {1435, {2, 157, 39, 12}},    // first frame of file
    {1152, {41, 157, 41, 12}},   // play
    {1154, {31, 205, 39, 12}},   // last frame of file
    {1595, {70, 205, 39, 12}},   // play in reverse
    {1155, {109, 205, 41, 12}},  // pause
    {1710, {150, 205, 39, 12}},  // ping-pong
    {1854, {189, 205, 29, 12}},  // file information
    {1436, {309, 157, 25, 12}},  // set range start
    {1861, {284, 157, 25, 12}},  // first frame of range
    {1597, {384, 157, 19, 12}},  // play range
    {1596, {359, 157, 25, 12}},  // last frame of range
    {1530, {334, 157, 25, 12}},  // set range end
    {2, {434, 217, 16, 6}},      // power
    {9, {455, 217, 16, 6}},      // help
};

// The capture panel's buttons; 1436 shows kCaptureStopFace while a capture runs.
constexpr ArtworkButton kCapturePanelButtons[] = {
    {1436, {286, 0, 40, 12}},   // start capture
    {1595, {286, 48, 40, 12}},  // details
    {1862, {326, 48, 40, 12}},  // palette
    {1435, {366, 96, 40, 12}},  // information
    {1705, {286, 96, 40, 12}},  // capture file
    {9, {269, 157, 15, 12}},    // help
    {1881, {434, 217, 16, 6}},  // power
};
constexpr ArtworkRect kCaptureStopFace = {406, 96, 40, 12};

// StretchDIBits's source row (counted from the bottom) of a picture whose top is at top.
constexpr int32_t StretchSourceY(int32_t bitmapHeight, int32_t top, int32_t height) {
    return bitmapHeight - top - height;
}
