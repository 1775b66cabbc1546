// Drivers 1-9: the cameras Video4Linux2 opens (src/platform/capwin/v4l2camera.h), then those only
// Qt Multimedia lists, their frames scaled to the chosen size as 24-bit bottom-up rows. Sound comes
// from the default input through Qt Multimedia. Qt's cameras need a Qt application whose event loop
// runs (frames and sound arrive through it); without an application only V4L2 cameras are listed.
#pragma once

#include <memory>

#include "platform/capwin/capdriver.h"

// The cameras by position (0 is the first camera); for StandardCaptureDriverTable.
std::shared_ptr<CaptureDriverTable> CameraDriverTable();
