// Drivers 1-9: the cameras Qt Multimedia lists, their frames scaled to the chosen size as 24-bit
// bottom-up rows, with sound from the default input. Needs a Qt application whose event loop runs
// (frames and sound arrive through it); without an application no camera is listed.
#pragma once

#include <memory>

#include "platform/capwin/capdriver.h"

// The cameras by position (0 is the first camera); for StandardCaptureDriverTable.
std::shared_ptr<CaptureDriverTable> QtCameraDriverTable();
