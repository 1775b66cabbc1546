// Video4Linux2 cameras: streaming I/O with mapped buffers, a poll with a deadline for each frame.
// Everything a device reports is checked before it is used: sizes, buffer indices, byte counts.
#include "platform/capwin/v4l2camera.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <mutex>
#include <tuple>

#include "platform/codec/codec.h"

namespace {

using Clock = std::chrono::steady_clock;

// What a device's lists may hold (one that never says "no more" is cut off there).
constexpr uint32_t kMaxEnumFormats = 64;
constexpr uint32_t kMaxEnumSizes = 256;
constexpr uint32_t kMaxEnumIntervals = 64;
constexpr uint32_t kStreamBuffers = 4;
constexpr uint32_t kMaxStreamBuffers = 32;
// A buffer the device says is larger than this is not mapped.
constexpr uint32_t kMaxBufferBytes = 64u << 20;
// The first live picture after streaming starts is waited for this long.
constexpr int kPreviewWaitMs = 500;
// The sizes and rates taken from a device that offers a range of them.
constexpr int32_t kRangeSizes[][2] = {{160, 120},  {320, 240},  {352, 288},  {640, 360},
                                      {640, 480},  {800, 600},  {960, 540},  {1024, 768},
                                      {1280, 720}, {1280, 960}, {1600, 900}, {1920, 1080}};
constexpr uint32_t kRangeRates[] = {60, 50, 30, 25, 24, 20, 15, 10, 5};
// The pixel formats taken, the most wanted first.
constexpr uint32_t kPixelFormats[] = {V4L2_PIX_FMT_MJPEG, V4L2_PIX_FMT_YUYV, V4L2_PIX_FMT_NV12};

// Seconds per frame as the fraction the device gives.
struct Interval {
    uint32_t num = 0;
    uint32_t den = 0;
    uint64_t Micros() const { return den ? uint64_t{num} * 1000000 / den : 0; }
};

struct Mode {
    uint32_t fourcc;
    int32_t width;
    int32_t height;
    std::vector<Interval> intervals;  // fastest first
};

// One line of the format dialog: how the device captures at that size and rate.
struct Choice {
    int32_t width;
    int32_t height;
    Interval interval;
    uint32_t fourcc;
};

int Rank(uint32_t fourcc) {
    return static_cast<int>(std::find(std::begin(kPixelFormats), std::end(kPixelFormats), fourcc) -
                            std::begin(kPixelFormats));
}

std::string FixedText(const uint8_t* text, size_t size) {
    const char* s = reinterpret_cast<const char*>(text);
    return std::string(s, strnlen(s, size));
}

std::string FourccText(uint32_t fourcc) {
    std::string s;
    for (int i = 0; i < 4; i++) s += static_cast<char>(fourcc >> (8 * i) & 0xFF);
    return s;
}

// "30" or "7.5".
std::string FpsText(const Interval& i) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(i.den) / i.num);
    std::string s = text;
    while (s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

std::vector<Interval> Intervals(V4l2System& sys, int fd, uint32_t fourcc, uint32_t width, uint32_t height) {
    std::vector<Interval> out;
    auto add = [&out](Interval i) {
        const uint64_t us = i.Micros();
        if (i.num == 0 || us < kMinMicroSecPerFrame || us > kMaxMicroSecPerFrame) return;
        if (std::none_of(out.begin(), out.end(), [us](const Interval& o) { return o.Micros() == us; }))
            out.push_back(i);
    };
    for (uint32_t index = 0; index < kMaxEnumIntervals; index++) {
        v4l2_frmivalenum e{};
        e.index = index;
        e.pixel_format = fourcc;
        e.width = width;
        e.height = height;
        if (sys.Ioctl(fd, VIDIOC_ENUM_FRAMEINTERVALS, &e) < 0) break;
        if (e.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            add({e.discrete.numerator, e.discrete.denominator});
            continue;
        }
        // A range: both its ends and the usual rates between them.
        const Interval low{e.stepwise.min.numerator, e.stepwise.min.denominator};
        const Interval high{e.stepwise.max.numerator, e.stepwise.max.denominator};
        add(low);
        for (uint32_t rate : kRangeRates)
            if (low.den && high.den && 1000000 / rate >= low.Micros() && 1000000 / rate <= high.Micros())
                add({1, rate});
        add(high);
        break;
    }
    std::sort(out.begin(), out.end(),
              [](const Interval& a, const Interval& b) { return a.Micros() < b.Micros(); });
    return out;
}

std::vector<Mode> Modes(V4l2System& sys, int fd) {
    std::vector<Mode> modes;
    auto add = [&](uint32_t fourcc, uint32_t w, uint32_t h) {
        if (w == 0 || h == 0 || w > kMaxCaptureWidth || h > kMaxCaptureHeight) return;
        const auto width = static_cast<int32_t>(w), height = static_cast<int32_t>(h);
        for (const Mode& m : modes)
            if (m.fourcc == fourcc && m.width == width && m.height == height) return;
        std::vector<Interval> intervals = Intervals(sys, fd, fourcc, w, h);
        if (!intervals.empty()) modes.push_back({fourcc, width, height, std::move(intervals)});
    };
    for (uint32_t index = 0; index < kMaxEnumFormats; index++) {
        v4l2_fmtdesc d{};
        d.index = index;
        d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (sys.Ioctl(fd, VIDIOC_ENUM_FMT, &d) < 0) break;
        if (Rank(d.pixelformat) == static_cast<int>(std::size(kPixelFormats))) continue;
        for (uint32_t i = 0; i < kMaxEnumSizes; i++) {
            v4l2_frmsizeenum s{};
            s.index = i;
            s.pixel_format = d.pixelformat;
            if (sys.Ioctl(fd, VIDIOC_ENUM_FRAMESIZES, &s) < 0) break;
            if (s.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
                add(d.pixelformat, s.discrete.width, s.discrete.height);
                continue;
            }
            const v4l2_frmsize_stepwise& r = s.stepwise;
            for (const auto& z : kRangeSizes) {
                const auto w = static_cast<uint32_t>(z[0]), h = static_cast<uint32_t>(z[1]);
                if (w >= r.min_width && w <= r.max_width && h >= r.min_height && h <= r.max_height &&
                    (r.step_width == 0 || (w - r.min_width) % r.step_width == 0) &&
                    (r.step_height == 0 || (h - r.min_height) % r.step_height == 0))
                    add(d.pixelformat, w, h);
            }
            break;
        }
    }
    return modes;
}

// Every size and rate once, smallest and fastest first, as Motion JPEG where the device offers it.
std::vector<Choice> Choices(const std::vector<Mode>& modes) {
    std::vector<Choice> out;
    for (const Mode& m : modes)
        for (const Interval& i : m.intervals) {
            auto same = std::find_if(out.begin(), out.end(), [&](const Choice& c) {
                return c.width == m.width && c.height == m.height && c.interval.Micros() == i.Micros();
            });
            if (same == out.end())
                out.push_back({m.width, m.height, i, m.fourcc});
            else if (Rank(m.fourcc) < Rank(same->fourcc))
                *same = {m.width, m.height, i, m.fourcc};
        }
    std::sort(out.begin(), out.end(), [](const Choice& a, const Choice& b) {
        return std::tuple(int64_t{a.width} * a.height, a.width, a.interval.Micros()) <
               std::tuple(int64_t{b.width} * b.height, b.width, b.interval.Micros());
    });
    return out;
}

bool CaptureCaps(V4l2System& sys, int fd, v4l2_capability& cap) {
    cap = {};
    if (sys.Ioctl(fd, VIDIOC_QUERYCAP, &cap) < 0) return false;
    const uint32_t caps = cap.capabilities & V4L2_CAP_DEVICE_CAPS ? cap.device_caps : cap.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) && (caps & V4L2_CAP_STREAMING);
}

V4l2Camera Describe(const std::string& path, const v4l2_capability& cap) {
    V4l2Camera c{path, FixedText(cap.card, sizeof cap.card), {}};
    if (c.name.empty()) c.name = path;
    c.version = "V4L2 " + FixedText(cap.driver, sizeof cap.driver) + " " + std::to_string(cap.version >> 16) +
                "." + std::to_string(cap.version >> 8 & 0xFF) + "." + std::to_string(cap.version & 0xFF);
    return c;
}

uint8_t Clamp8(int v) {
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

// One pixel from studio-range BT.601 Y, U, V into blue, green, red.
void YuvToBgr(int y, int u, int v, uint8_t* bgr) {
    const int c = 298 * (y - 16) + 128, d = u - 128, e = v - 128;
    bgr[0] = Clamp8((c + 516 * d) >> 8);
    bgr[1] = Clamp8((c - 100 * d - 208 * e) >> 8);
    bgr[2] = Clamp8((c + 409 * e) >> 8);
}

class V4l2Driver : public CaptureDriver {
  public:
    V4l2Driver(std::shared_ptr<V4l2System> sys, int fd, V4l2Camera info, std::vector<Mode> modes,
               std::unique_ptr<CaptureSound> sound)
        : sys_(std::move(sys)),
          fd_(fd),
          info_(std::move(info)),
          modes_(std::move(modes)),
          choices_(Choices(modes_)),
          sound_(std::move(sound)) {
        // 640x480 where the device offers it, else its smallest size.
        if (!SetFormat(CaptureFormat(640, 480))) Apply(choices_.front());
    }
    ~V4l2Driver() override {
        End();
        StopStream();
        if (decoder_) ICClose(decoder_);
        sys_->Close(fd_);
    }
    std::string Name() const override { return info_.name; }
    std::string Version() const override { return info_.version; }
    BITMAPINFOHEADER Format() const override {
        return now_.fourcc == V4L2_PIX_FMT_MJPEG ? MjpegCaptureFormat(now_.width, now_.height)
                                                 : CaptureFormat(now_.width, now_.height);
    }
    // The size decides; the device's Motion JPEG is taken where it offers that size.
    bool SetFormat(const BITMAPINFOHEADER& f) override {
        if (!IsCaptureFormat(f)) return false;
        const Mode* best = nullptr;
        for (const Mode& m : modes_)
            if (m.width == f.biWidth && m.height == f.biHeight &&
                (!best || Rank(m.fourcc) < Rank(best->fourcc)))
                best = &m;
        if (!best) return false;
        Interval interval = best->intervals.front();
        for (const Interval& i : best->intervals)
            if (i.Micros() == now_.interval.Micros()) interval = i;
        Apply({best->width, best->height, interval, best->fourcc});
        return true;
    }
    bool HasFormatDialog() const override { return true; }
    bool FormatDialog(HWND parent) override {
        std::vector<std::string> labels;
        int32_t current = 0;
        for (size_t i = 0; i < choices_.size(); i++) {
            const Choice& c = choices_[i];
            labels.push_back(std::to_string(c.width) + " x " + std::to_string(c.height) + ", " +
                             FpsText(c.interval) + " fps, " + FourccText(c.fourcc));
            if (c.width == now_.width && c.height == now_.height && c.fourcc == now_.fourcc &&
                c.interval.Micros() == now_.interval.Micros())
                current = static_cast<int32_t>(i);
        }
        const int32_t pick =
            ShowCaptureChoice(parent, "Video Format", "Image size and rate:", labels, current);
        if (pick < 0 || pick >= static_cast<int32_t>(choices_.size())) return false;
        Apply(choices_[static_cast<size_t>(pick)]);
        return true;
    }
    bool HasAudio() const override { return sound_ && sound_->Available(); }
    bool Begin(uint32_t microSecPerFrame, const WAVEFORMATEX* audio) override {
        // The device runs at the slowest of its rates that still keeps up with the capture.
        const Mode* mode = CurrentMode();
        Interval interval = mode->intervals.front();
        for (const Interval& i : mode->intervals)
            if (i.Micros() <= microSecPerFrame) interval = i;
        if (streaming_ && streamInterval_.Micros() != interval.Micros()) StopStream();
        lost_.clear();
        if (!StartStream(interval)) return false;
        period_ = std::chrono::microseconds(microSecPerFrame);
        lastDelivery_ = Clock::now();
        capturing_ = true;
        if (audio && sound_) sound_->Begin(*audio);
        return true;
    }
    void End() override {
        if (!capturing_) return;
        capturing_ = false;
        wantLatest_ = false;
        if (sound_) sound_->End();
        StopStream();
    }
    uint32_t Grab(int64_t, int64_t, uint8_t* frame) override {
        if (!lost_.empty() || !streaming_) return 0;
        const int index = Newest(Clock::now() + period_);
        uint32_t bytes = 0;
        if (index >= 0) {
            lastDelivery_ = Clock::now();
            bytes = Take(static_cast<uint32_t>(index), frame);
            if (bytes > 0 && wantLatest_ && now_.fourcc == V4L2_PIX_FMT_MJPEG) {
                std::lock_guard<std::mutex> lock(latestMutex_);
                latestJpeg_.assign(frame, frame + bytes);
            }
            Requeue(static_cast<uint32_t>(index));
        } else if (lost_.empty() &&
                   Clock::now() - lastDelivery_ >= std::chrono::milliseconds(kCameraStallMs)) {
            lost_ = "Capture stopped: the camera <" + info_.name + "> stopped delivering frames";
        }
        return bytes;
    }
    void ReadAudio(int64_t, std::vector<uint8_t>& out, size_t maxBytes) override {
        if (sound_) sound_->Read(out, maxBytes);
    }
    bool Preview(uint8_t* rows) override {
        const BITMAPINFOHEADER f = Format();
        std::vector<uint8_t> frame;
        if (capturing_) {
            // The grabbing thread owns the device: the last JPEG frame it took (raw frames come from
            // the capture itself).
            wantLatest_ = true;
            std::lock_guard<std::mutex> lock(latestMutex_);
            frame = latestJpeg_;
        } else if (StartStream(now_.interval)) {
            const int index =
                Newest(Clock::now() + std::chrono::milliseconds(picture_.empty() ? kPreviewWaitMs : 0));
            if (index >= 0) {
                frame.resize(f.biSizeImage);
                frame.resize(Take(static_cast<uint32_t>(index), frame.data()));
                Requeue(static_cast<uint32_t>(index));
            }
        }
        if (!frame.empty()) {
            std::vector<uint8_t> picture(CaptureFormat(f.biWidth, f.biHeight).biSizeImage);
            if (!IsMjpegFormat(f))
                picture = std::move(frame);
            else if (!Decode(frame, picture.data()))
                picture.clear();
            if (!picture.empty()) picture_ = std::move(picture);
        }
        if (picture_.empty()) return false;
        std::memcpy(rows, picture_.data(), picture_.size());
        return true;
    }
    std::string Lost() override { return lost_; }

  private:
    struct Mapped {
        void* data;
        size_t length;
    };
    struct Current {
        int32_t width = 0;
        int32_t height = 0;
        Interval interval;
        uint32_t fourcc = 0;
    };

    const Mode* CurrentMode() const {
        for (const Mode& m : modes_)
            if (m.fourcc == now_.fourcc && m.width == now_.width && m.height == now_.height) return &m;
        return &modes_.front();
    }
    void Apply(const Choice& c) {
        StopStream();
        now_ = {c.width, c.height, c.interval, c.fourcc};
        picture_.clear();
    }
    void Lose(int error) {
        if (lost_.empty())
            lost_ = "Capture stopped: the camera <" + info_.name + "> is gone\n" + std::strerror(error);
    }

    bool StartStream(Interval interval) {
        if (streaming_) return true;
        if (!lost_.empty() && !capturing_) lost_.clear();  // the live picture tries again
        v4l2_format f{};
        f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        f.fmt.pix.width = static_cast<uint32_t>(now_.width);
        f.fmt.pix.height = static_cast<uint32_t>(now_.height);
        f.fmt.pix.pixelformat = now_.fourcc;
        f.fmt.pix.field = V4L2_FIELD_NONE;
        if (sys_->Ioctl(fd_, VIDIOC_S_FMT, &f) < 0 || f.fmt.pix.width != static_cast<uint32_t>(now_.width) ||
            f.fmt.pix.height != static_cast<uint32_t>(now_.height) || f.fmt.pix.pixelformat != now_.fourcc)
            return false;
        // Raw rows are at least as wide as their pixels; a larger pitch is checked against each frame.
        const uint32_t least = static_cast<uint32_t>(now_.width) * (now_.fourcc == V4L2_PIX_FMT_YUYV ? 2 : 1);
        bytesPerLine_ = std::max(f.fmt.pix.bytesperline, least);
        v4l2_streamparm parm{};
        parm.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        parm.parm.capture.timeperframe = {interval.num, interval.den};
        sys_->Ioctl(fd_, VIDIOC_S_PARM, &parm);  // a device with one rate may refuse it
        v4l2_requestbuffers request{};
        request.count = kStreamBuffers;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        if (sys_->Ioctl(fd_, VIDIOC_REQBUFS, &request) < 0) return false;
        requested_ = true;
        bool ok = request.count > 0;
        for (uint32_t i = 0; ok && i < std::min(request.count, kMaxStreamBuffers); i++) {
            v4l2_buffer b{};
            b.index = i;
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            ok = sys_->Ioctl(fd_, VIDIOC_QUERYBUF, &b) == 0 && b.length > 0 && b.length <= kMaxBufferBytes;
            void* data = ok ? sys_->Map(fd_, b.length, b.m.offset) : nullptr;
            ok = data != nullptr;
            if (ok) buffers_.push_back({data, b.length});
        }
        for (uint32_t i = 0; ok && i < buffers_.size(); i++) ok = Queue(i);
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (ok && sys_->Ioctl(fd_, VIDIOC_STREAMON, &type) == 0) {
            streaming_ = true;
            streamInterval_ = interval;
            return true;
        }
        StopStream();
        return false;
    }
    void StopStream() {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (streaming_) sys_->Ioctl(fd_, VIDIOC_STREAMOFF, &type);
        streaming_ = false;
        for (const Mapped& m : buffers_) sys_->Unmap(m.data, m.length);
        buffers_.clear();
        if (requested_) {
            v4l2_requestbuffers none{};
            none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            none.memory = V4L2_MEMORY_MMAP;
            sys_->Ioctl(fd_, VIDIOC_REQBUFS, &none);
            requested_ = false;
        }
    }
    bool Queue(uint32_t index) {
        v4l2_buffer b{};
        b.index = index;
        b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        b.memory = V4L2_MEMORY_MMAP;
        return sys_->Ioctl(fd_, VIDIOC_QBUF, &b) == 0;
    }
    void Requeue(uint32_t index) {
        if (!Queue(index) && errno != EINTR) Lose(errno);
    }

    // The newest frame the device has ready, waiting for one until the deadline: its buffer (its
    // bytes and flags in held_), or -1 when none came (lost_ says why when the device is gone).
    int Newest(Clock::time_point deadline) {
        int newest = -1;
        // Each buffer can be taken once before it is given back: more is a device gone wrong.
        for (size_t taken = 0; taken <= buffers_.size() && lost_.empty();) {
            v4l2_buffer b{};
            b.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            b.memory = V4L2_MEMORY_MMAP;
            if (sys_->Ioctl(fd_, VIDIOC_DQBUF, &b) == 0) {
                taken++;
                if (b.index >= buffers_.size()) continue;
                if (newest >= 0) Requeue(static_cast<uint32_t>(newest));
                newest = static_cast<int>(b.index);
                held_ = b;
                continue;
            }
            const int error = errno;
            if (error == EINTR) continue;
            if (error == EIO) break;  // a frame the device could not fill: try again at the next
            if (error != EAGAIN) {
                Lose(error);
                break;
            }
            if (newest >= 0) break;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0) break;
            short events = 0;
            const int ready = sys_->Poll(fd_, static_cast<int>(left), events);
            if (ready == 0) break;
            if (ready < 0 && errno != EINTR) Lose(errno);
            if (ready > 0 && (events & (POLLERR | POLLHUP | POLLNVAL))) Lose(ENODEV);
        }
        return newest;
    }

    // The frame of buffer index into frame (Format().biSizeImage bytes): the bytes it took, 0 when
    // it is refused.
    uint32_t Take(uint32_t index, uint8_t* frame) {
        const Mapped& m = buffers_[index];
        const auto* data = static_cast<const uint8_t*>(m.data);
        const size_t used = held_.bytesused;
        const BITMAPINFOHEADER f = Format();
        if ((held_.flags & V4L2_BUF_FLAG_ERROR) || used == 0 || used > m.length) return 0;
        if (now_.fourcc == V4L2_PIX_FMT_MJPEG) {
            if (used > f.biSizeImage || used < 4 || data[0] != 0xFF || data[1] != 0xD8) return 0;
            std::memcpy(frame, data, used);
            return static_cast<uint32_t>(used);
        }
        return ToRows(data, used, frame) ? f.biSizeImage : 0;
    }

    // A YUYV or NV12 frame as 24-bit bottom-up rows; false when it holds too few bytes.
    bool ToRows(const uint8_t* src, size_t used, uint8_t* rows) const {
        const size_t w = static_cast<size_t>(now_.width), h = static_cast<size_t>(now_.height);
        const size_t pitch = bytesPerLine_, stride = DibRowBytes(now_.width, 24);
        const bool nv12 = now_.fourcc == V4L2_PIX_FMT_NV12;
        if (used < pitch * h + (nv12 ? pitch * ((h + 1) / 2) : 0)) return false;
        for (size_t y = 0; y < h; y++) {
            const uint8_t* line = src + y * pitch;
            const uint8_t* chroma = src + pitch * h + y / 2 * pitch;
            uint8_t* out = rows + (h - 1 - y) * stride;
            for (size_t x = 0; x < w; x++, out += 3) {
                if (nv12)
                    YuvToBgr(line[x], chroma[x / 2 * 2], chroma[x / 2 * 2 + 1], out);
                else
                    YuvToBgr(line[x * 2], line[x / 2 * 4 + 1], line[x / 2 * 4 + 3], out);
            }
        }
        return true;
    }

    bool Decode(const std::vector<uint8_t>& jpeg, uint8_t* rows) {
        if (!decoder_) decoder_ = ICOpen(ICTYPE_VIDEO, FourCC("MJPG"), ICMODE_DECOMPRESS);
        if (!decoder_) return false;
        BITMAPINFOHEADER in = MjpegCaptureFormat(now_.width, now_.height);
        in.biSizeImage = static_cast<uint32_t>(jpeg.size());
        BITMAPINFOHEADER out = CaptureFormat(now_.width, now_.height);
        return ICDecompressBegin(decoder_, &in, &out) == ICERR_OK &&
               ICDecompress(decoder_, 0, &in, jpeg.data(), &out, rows) == ICERR_OK;
    }

    std::shared_ptr<V4l2System> sys_;
    int fd_;
    V4l2Camera info_;
    std::vector<Mode> modes_;
    std::vector<Choice> choices_;
    std::unique_ptr<CaptureSound> sound_;
    Current now_;
    // The device: the window's thread uses it, except from Begin to End, when only Grab does.
    bool streaming_ = false;
    bool requested_ = false;
    Interval streamInterval_;
    uint32_t bytesPerLine_ = 0;
    std::vector<Mapped> buffers_;
    v4l2_buffer held_{};
    std::string lost_;
    bool capturing_ = false;
    std::chrono::microseconds period_{0};
    Clock::time_point lastDelivery_;
    // The live picture: decoded or converted on the window's thread.
    std::vector<uint8_t> picture_;
    HIC decoder_ = nullptr;
    std::atomic<bool> wantLatest_{false};
    std::mutex latestMutex_;
    std::vector<uint8_t> latestJpeg_;
};

class RealSystem : public V4l2System {
  public:
    std::vector<std::string> Devices() override {
        std::vector<std::pair<long, std::string>> found;
        DIR* dir = opendir("/dev");
        if (!dir) return {};
        while (const dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name.size() > 5 && name.size() < 12 && name.compare(0, 5, "video") == 0 &&
                name.find_first_not_of("0123456789", 5) == std::string::npos)
                found.emplace_back(std::stol(name.substr(5)), "/dev/" + name);
        }
        closedir(dir);
        std::sort(found.begin(), found.end());
        std::vector<std::string> paths;
        for (auto& f : found) paths.push_back(std::move(f.second));
        return paths;
    }
    int Open(const std::string& path) override {
        return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    }
    void Close(int fd) override { ::close(fd); }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        int rc;
        do rc = ::ioctl(fd, request, arg);
        while (rc < 0 && errno == EINTR);
        return rc;
    }
    void* Map(int fd, size_t length, int64_t offset) override {
        void* p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, offset);
        return p == MAP_FAILED ? nullptr : p;
    }
    void Unmap(void* address, size_t length) override { ::munmap(address, length); }
    int Poll(int fd, int timeoutMs, short& revents) override {
        pollfd p{fd, POLLIN, 0};
        const int rc = ::poll(&p, 1, timeoutMs);
        revents = p.revents;
        return rc;
    }
};

class V4l2Table : public CaptureDriverTable {
  public:
    V4l2Table(std::shared_ptr<V4l2System> sys, CaptureSoundFactory sound)
        : sys_(std::move(sys)), sound_(std::move(sound)) {}
    bool Describe(int32_t index, std::string& name, std::string& version) override {
        const std::vector<V4l2Camera> cameras = ListV4l2Cameras(*sys_);
        if (index < 0 || index >= static_cast<int32_t>(cameras.size())) return false;
        name = cameras[static_cast<size_t>(index)].name;
        version = cameras[static_cast<size_t>(index)].version;
        return true;
    }
    std::unique_ptr<CaptureDriver> Connect(int32_t index) override {
        const std::vector<V4l2Camera> cameras = ListV4l2Cameras(*sys_);
        if (index < 0 || index >= static_cast<int32_t>(cameras.size())) return nullptr;
        return ConnectV4l2Camera(sys_, cameras[static_cast<size_t>(index)].path, sound_ ? sound_() : nullptr);
    }

  private:
    std::shared_ptr<V4l2System> sys_;
    CaptureSoundFactory sound_;
};

}  // namespace

std::shared_ptr<V4l2System> RealV4l2System() {
    return std::make_shared<RealSystem>();
}

std::vector<V4l2Camera> ListV4l2Cameras(V4l2System& sys) {
    std::vector<V4l2Camera> cameras;
    for (const std::string& path : sys.Devices()) {
        const int fd = sys.Open(path);
        if (fd < 0) continue;
        v4l2_capability cap{};
        if (CaptureCaps(sys, fd, cap) && !Modes(sys, fd).empty()) cameras.push_back(Describe(path, cap));
        sys.Close(fd);
    }
    return cameras;
}

std::unique_ptr<CaptureDriver> ConnectV4l2Camera(std::shared_ptr<V4l2System> sys, const std::string& path,
                                                 std::unique_ptr<CaptureSound> sound) {
    const int fd = sys->Open(path);
    if (fd < 0) return nullptr;
    v4l2_capability cap{};
    std::vector<Mode> modes;
    if (CaptureCaps(*sys, fd, cap)) modes = Modes(*sys, fd);
    if (modes.empty()) {
        sys->Close(fd);
        return nullptr;
    }
    return std::make_unique<V4l2Driver>(sys, fd, Describe(path, cap), std::move(modes), std::move(sound));
}

std::shared_ptr<CaptureDriverTable> V4l2CameraDriverTable(std::shared_ptr<V4l2System> sys,
                                                          CaptureSoundFactory sound) {
    return std::make_shared<V4l2Table>(std::move(sys), std::move(sound));
}
