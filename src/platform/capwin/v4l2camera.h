// Cameras through Video4Linux2: every capture device by its card name, every size and rate it
// offers up to 1920x1080. At a size the device offers as Motion JPEG its frames are handed over as
// the camera made them; otherwise YUYV or NV12 frames come as 24-bit bottom-up rows. Devices are
// reached only through a V4l2System, so that a test can stand in for one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/capwin/capdriver.h"

// The calls made on a device, each answering as its system call does (-1 with errno set).
class V4l2System {
  public:
    virtual ~V4l2System() = default;
    // The device nodes to try, in order.
    virtual std::vector<std::string> Devices() = 0;
    // Opened non-blocking.
    virtual int Open(const std::string& path) = 0;
    virtual void Close(int fd) = 0;
    virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
    // Null when the buffer cannot be mapped.
    virtual void* Map(int fd, size_t length, int64_t offset) = 0;
    virtual void Unmap(void* address, size_t length) = 0;
    // Blocks until the device has a frame or an error, or timeoutMs pass (0); the events in revents.
    virtual int Poll(int fd, int timeoutMs, short& revents) = 0;
};

// /dev/video0, /dev/video1, ... through open, ioctl, mmap and poll.
std::shared_ptr<V4l2System> RealV4l2System();

struct V4l2Camera {
    std::string path;
    std::string name;     // the card's name
    std::string version;  // "V4L2 " and the kernel driver's name and version
};
// The devices that capture by streaming in a format this driver takes, in the system's order.
std::vector<V4l2Camera> ListV4l2Cameras(V4l2System& system);
// The driver of one device (null when it does not open); sound may be null (pictures only).
std::unique_ptr<CaptureDriver> ConnectV4l2Camera(std::shared_ptr<V4l2System> system, const std::string& path,
                                                 std::unique_ptr<CaptureSound> sound);
// The devices of ListV4l2Cameras by position, for StandardCaptureDriverTable.
std::shared_ptr<CaptureDriverTable> V4l2CameraDriverTable(std::shared_ptr<V4l2System> system,
                                                          CaptureSoundFactory sound);

// How long a capture waits for a camera that has stopped delivering before it ends.
constexpr int32_t kCameraStallMs = 2000;
