// The capture window stand-in through its messages: drivers, formats, the capture file's space,
// and a capture that ends by its time limit, read back byte by byte.
#include "platform/capwin/capwin.h"

#include <gtest/gtest.h>
#include <linux/videodev2.h>
#include <poll.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <sstream>
#include <thread>

#include <cstring>
#include <memory>
#include <mutex>

#include "media/avilist.h"
#include "platform/capwin/capavi.h"
#include "platform/capwin/capdriver.h"
#include "platform/capwin/v4l2camera.h"
#include "support/ffprobe.h"
#include "support/scripted.h"

namespace {

std::atomic<int> gVideoCalls{0};
std::atomic<uint32_t> gWaveBytes{0};
std::atomic<int> gLastError{0};
std::mutex gErrorMutex;
std::string gErrorText;

LRESULT OnVideo(HWND, VIDEOHDR* h) {
    gVideoCalls++;
    return h->dwBytesUsed == 230400 ? 1 : 0;
}
LRESULT OnWave(HWND, WAVEHDR* h) {
    gWaveBytes += h->dwBufferLength;
    return 1;
}
LRESULT OnError(HWND, int id, const char* text) {
    gLastError = id;
    std::lock_guard<std::mutex> lock(gErrorMutex);
    gErrorText = text ? text : "";
    return 1;
}

template <typename T>
LRESULT Send(HWND w, uint32_t message, T* data) {
    return capSendMessage(w, message, sizeof(T), reinterpret_cast<LPARAM>(data));
}

}  // namespace

using CaptureWindow = ScriptedTest;

TEST_F(CaptureWindow, DriversFormatsAndTheFilesSpace) {
    char name[80], version[100];
    ASSERT_EQ(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version), 1);
    EXPECT_EQ(std::string(name) + " " + version, "Quillory Test Pattern 1.0");
    EXPECT_EQ(capGetDriverDescriptionA(1, name, sizeof name, version, sizeof version), 0);  // no cameras
    EXPECT_EQ(capSendMessage(&gVideoCalls, WM_CAP_DRIVER_CONNECT, 0, 0), 0);

    HWND w = capCreateCaptureWindowA("Capture Window", WS_CHILD, 0, 0, 160, 120, nullptr, 0);
    ASSERT_TRUE(capIsWindow(w));
    EXPECT_EQ(capSendMessage(w, WM_CAP_GET_VIDEOFORMAT, 0, 0), 0);  // nothing connected
    ASSERT_EQ(capSendMessage(w, WM_CAP_DRIVER_CONNECT, 0, 0), 1);
    BITMAPINFOHEADER f{};
    EXPECT_EQ(capSendMessage(w, WM_CAP_GET_VIDEOFORMAT, 0, 0), 40);
    ASSERT_EQ(Send(w, WM_CAP_GET_VIDEOFORMAT, &f), 40);
    EXPECT_TRUE(f.biWidth == 320 && f.biHeight == 240 && f.biBitCount == 24 && f.biSizeImage == 230400u);
    BITMAPINFOHEADER odd = CaptureFormat(100, 100), large = CaptureFormat(640, 480);
    EXPECT_EQ((std::vector{Send(w, WM_CAP_SET_VIDEOFORMAT, &odd), Send(w, WM_CAP_SET_VIDEOFORMAT, &large)}),
              (std::vector<LRESULT>{0, 1}));

    // Sound formats: PCM that adds up is taken, anything else refused and the old one kept.
    WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0}, misaligned = pcm, other = pcm, back{};
    misaligned.nBlockAlign = 3, other.wFormatTag = 2;
    EXPECT_EQ(
        (std::vector{Send(w, WM_CAP_SET_AUDIOFORMAT, &pcm), Send(w, WM_CAP_SET_AUDIOFORMAT, &misaligned),
                     Send(w, WM_CAP_SET_AUDIOFORMAT, &other), Send(w, WM_CAP_GET_AUDIOFORMAT, &back)}),
        (std::vector<LRESULT>{1, 0, 0, 18}));
    EXPECT_EQ(back.nSamplesPerSec, 44100u);

    // Names: a folder or an over-long name is refused, and nothing is captured without a name.
    EXPECT_EQ(capSendMessage(w, WM_CAP_SEQUENCE, 0, 0), 0);
    EXPECT_EQ(
        capSendMessage(w, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(dir.path().c_str())), 0);
    const std::string longName(200, 'x');
    EXPECT_EQ(capSendMessage(w, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(longName.c_str())),
              0);
    const std::string file = dir.file("c.avi");
    ASSERT_EQ(capSendMessage(w, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(file.c_str())), 1);
    char got[8];
    capSendMessage(w, WM_CAP_FILE_GET_CAPTURE_FILEA, sizeof got, reinterpret_cast<LPARAM>(got));
    EXPECT_EQ(std::string(got), file.substr(0, 7));

    // Allocating over an old capture leaves exactly that many bytes holding none; a size past
    // the file limit is refused and the file stays.
    WriteWholeFile(file, std::string("RIFF\x10\x27\0\0AVI LIST", 16) + std::string(30000, 'v'));
    ASSERT_EQ(capSendMessage(w, WM_CAP_FILE_ALLOCATE, 0, 10485750), 1);
    std::string after = ReadWholeFile(file);
    EXPECT_EQ(std::tuple(after.size(), after.substr(0, 12), after.substr(12, 4)),
              std::tuple(size_t{10485750}, std::string(12, '\0'), std::string("LIST")));
    EXPECT_EQ(capSendMessage(w, WM_CAP_FILE_ALLOCATE, 0, static_cast<LPARAM>(0x90000000u)), 0);
    EXPECT_EQ(ReadWholeFile(file).size(), 10485750u);

    // A file that cannot be opened, or one the user protected (no write bit, even for root), is
    // neither allocated nor written: the capture does not start and the error callback hears why.
    capSendMessage(w, WM_CAP_SET_CALLBACK_ERRORA, 0, reinterpret_cast<LPARAM>(&OnError));
    WriteWholeFile(file, "mine");
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    EXPECT_EQ((std::tuple{capSendMessage(w, WM_CAP_FILE_ALLOCATE, 0, 10485750),
                          capSendMessage(w, WM_CAP_SEQUENCE, 0, 0), gLastError.load(), ReadWholeFile(file)}),
              std::tuple(LRESULT{0}, LRESULT{0}, IDS_CAP_FILE_OPEN_ERROR, std::string("mine")));
    gLastError = 0;
    const std::string nowhere = dir.file("missing/c.avi");
    capSendMessage(w, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(nowhere.c_str()));
    EXPECT_EQ((std::tuple{capSendMessage(w, WM_CAP_SEQUENCE, 0, 0), gLastError.load(), capDestroyWindow(w),
                          capIsWindow(w)}),
              std::tuple(LRESULT{0}, IDS_CAP_FILE_OPEN_ERROR, 1, false));
}

TEST_F(CaptureWindow, LimitedCaptureWritesRiffMoviAndIdx1FromTheStart) {
    const std::string file = dir.file("c.avi");
    ASSERT_TRUE(AllocateCaptureFile(file, 4 << 20));
    HWND w = capCreateCaptureWindowA("Capture Window", WS_CHILD, 0, 0, 160, 120, nullptr, 0);
    ASSERT_EQ(capSendMessage(w, WM_CAP_DRIVER_CONNECT, 0, 0), 1);
    capSendMessage(w, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(file.c_str()));
    capSendMessage(w, WM_CAP_SET_CALLBACK_VIDEOSTREAM, 0, reinterpret_cast<LPARAM>(&OnVideo));
    capSendMessage(w, WM_CAP_SET_CALLBACK_WAVESTREAM, 0, reinterpret_cast<LPARAM>(&OnWave));
    WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, 8000, 32000, 4, 16, 0};
    Send(w, WM_CAP_SET_AUDIOFORMAT, &pcm);
    CAPCOMPRESSION none{BI_RGB, 0};
    Send(w, WM_CAP_SET_COMPRESSION, &none);
    CAPTUREPARMS p{};
    Send(w, WM_CAP_GET_SEQUENCE_SETUP, &p);
    p.dwRequestMicroSecPerFrame = 100000;
    p.fCaptureAudio = 1;
    p.fYield = 1;
    p.fLimitEnabled = 1;
    p.wTimeLimit = 1;
    Send(w, WM_CAP_SET_SEQUENCE_SETUP, &p);
    ASSERT_EQ(capSendMessage(w, WM_CAP_SEQUENCE, 0, 0), 1);  // returns at once
    CAPSTATUS s{};
    for (int i = 0; i < 100 && (Send(w, WM_CAP_GET_STATUS, &s), s.fCapturingNow || i == 0); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(capSendMessage(w, WM_CAP_STOP, 0, 0), 1);
    Send(w, WM_CAP_GET_STATUS, &s);
    EXPECT_TRUE(s.dwCurrentVideoFrame == 10 && s.dwCurrentVideoFramesDropped == 0 &&
                s.dwCurrentWaveSamples == 8000);
    EXPECT_GE(s.dwCurrentTimeElapsedMS, 1000u);
    EXPECT_EQ(std::pair(gVideoCalls.load(), gWaveBytes.load()), std::pair(10, 32000u));
    capDestroyWindow(w);

    // RIFF, hdrl, movi from 2036 with ten frames and the sound, idx1 right after it; the RIFF size
    // ends with idx1 and the allocated rest is one JUNK chunk, its contents untouched.
    const std::string b = ReadWholeFile(file);
    ASSERT_EQ(b.size(), 4u << 20);
    const uint32_t riffEnd = ReadLE32(&b[4]) + 8;
    const uint32_t moviEnd =
        static_cast<uint32_t>(kCaptureMoviListAt) + 8 + ReadLE32(&b[kCaptureMoviListAt + 4]);
    EXPECT_EQ(b.substr(0, 4) + b.substr(8, 8) + b.substr(kCaptureMoviListAt, 4) +
                  b.substr(kCaptureMoviListAt + 8, 4),
              "RIFFAVI LISTLISTmovi");
    EXPECT_EQ(ReadLE32(&b[48]), 10u);  // avih frames
    ASSERT_EQ(b.substr(moviEnd, 4), "idx1");
    const uint32_t entries = ReadLE32(&b[moviEnd + 4]) / 16;
    EXPECT_EQ(riffEnd, moviEnd + 8 + entries * 16);
    EXPECT_EQ(std::tuple(b.substr(riffEnd, 4), size_t{ReadLE32(&b[riffEnd + 4])}, b.substr(riffEnd + 8, 16)),
              std::tuple(std::string("JUNK"), b.size() - riffEnd - 8, std::string(16, '\0')));
    uint32_t frames = 0, sound = 0;
    for (uint32_t i = 0; i < entries; i++) {
        const char* e = &b[moviEnd + 8 + i * 16];
        const uint32_t at = static_cast<uint32_t>(kCaptureMoviListAt) + 8 + ReadLE32(e + 8);
        ASSERT_EQ(b.substr(at, 4), std::string(e, 4));
        (std::string(e, 4) == "00db" ? frames : sound) += ReadLE32(e + 12);
    }
    EXPECT_EQ(std::pair(frames, sound), std::pair(10u * 230400, 32000u));
}

namespace {

// A camera that hands over the JPEG frames it was given, in turn, as it made them.
class JpegCamera : public CaptureDriver {
  public:
    JpegCamera(std::vector<std::string> frames, int64_t stallAt)
        : frames_(std::move(frames)), stallAt_(stallAt) {}
    std::string Name() const override { return "JPEG camera"; }
    std::string Version() const override { return "1"; }
    BITMAPINFOHEADER Format() const override { return MjpegCaptureFormat(320, 240); }
    bool SetFormat(const BITMAPINFOHEADER&) override { return false; }
    bool HasAudio() const override { return false; }
    bool Begin(uint32_t, const WAVEFORMATEX*) override { return true; }
    void End() override {}
    uint32_t Grab(int64_t n, int64_t, uint8_t* frame) override {
        // The grabbing thread held up past the next frame's time, as a busy machine does.
        if (n == stallAt_) std::this_thread::sleep_for(std::chrono::milliseconds(230));
        const std::string& f = frames_[static_cast<size_t>(n) % frames_.size()];
        std::memcpy(frame, f.data(), f.size());
        return static_cast<uint32_t>(f.size());
    }
    void ReadAudio(int64_t, std::vector<uint8_t>&, size_t) override {}
    bool Preview(uint8_t* rows) override {
        std::memset(rows, 128, CaptureFormat(320, 240).biSizeImage);
        return true;
    }

  private:
    std::vector<std::string> frames_;
    int64_t stallAt_;
};

class JpegCameraTable : public CaptureDriverTable {
  public:
    explicit JpegCameraTable(std::vector<std::string> frames) : frames_(std::move(frames)) {}
    bool Describe(int32_t index, std::string& name, std::string& version) override {
        name = "JPEG camera";
        version = "1";
        return index == 0;
    }
    std::unique_ptr<CaptureDriver> Connect(int32_t index) override {
        return index == 0 ? std::make_unique<JpegCamera>(frames_, 3) : nullptr;
    }

  private:
    std::vector<std::string> frames_;
};

// The bytes of a JPEG frame without its Huffman tables segment.
std::string WithoutTables(const std::string& jpeg) {
    for (size_t i = 2; i + 4 <= jpeg.size();) {
        const auto len =
            static_cast<size_t>(static_cast<uint8_t>(jpeg[i + 2]) << 8 | static_cast<uint8_t>(jpeg[i + 3]));
        if (static_cast<uint8_t>(jpeg[i + 1]) == 0xC4) return jpeg.substr(0, i) + jpeg.substr(i + 2 + len);
        i += 2 + len;
    }
    return jpeg;
}

// Captures `seconds` at 10 frames a second into file with the window's driver 0.
CAPSTATUS CaptureFor(const std::string& file, uint32_t seconds, const WAVEFORMATEX* audio,
                     const CAPCOMPRESSION* compression, const BITMAPINFOHEADER* format) {
    HWND w = capCreateCaptureWindowA("Capture Window", WS_CHILD, 0, 0, 160, 120, nullptr, 0);
    CAPSTATUS s{};
    if (capSendMessage(w, WM_CAP_DRIVER_CONNECT, 0, 0) != 1) return s;
    capSendMessage(w, WM_CAP_SET_CALLBACK_ERRORA, 0, reinterpret_cast<LPARAM>(&OnError));
    capSendMessage(w, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(file.c_str()));
    if (format && Send(w, WM_CAP_SET_VIDEOFORMAT, format) != 1) ADD_FAILURE() << "format refused";
    if (compression && Send(w, WM_CAP_SET_COMPRESSION, compression) != 1)
        ADD_FAILURE() << "compression refused";
    if (audio) Send(w, WM_CAP_SET_AUDIOFORMAT, audio);
    CAPTUREPARMS p{};
    Send(w, WM_CAP_GET_SEQUENCE_SETUP, &p);
    p.dwRequestMicroSecPerFrame = 100000;
    p.fCaptureAudio = audio != nullptr;
    p.fLimitEnabled = 1;
    p.wTimeLimit = seconds;
    Send(w, WM_CAP_SET_SEQUENCE_SETUP, &p);
    EXPECT_EQ(capSendMessage(w, WM_CAP_SEQUENCE, 0, 0), 1);
    for (int i = 0; i < 400 && (Send(w, WM_CAP_GET_STATUS, &s), s.fCapturingNow || i == 0); i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    capSendMessage(w, WM_CAP_STOP, 0, 0);
    Send(w, WM_CAP_GET_STATUS, &s);
    capDestroyWindow(w);
    return s;
}

}  // namespace

TEST_F(CaptureWindow, MotionJpegCapturesReadBackByFfprobeAndOurReader) {
    // Compressed on the writing side: Motion JPEG chunks of a 1280x720 picture with 48 kHz stereo.
    const std::string file = dir.file("hd.avi");
    const BITMAPINFOHEADER hd = CaptureFormat(1280, 720);
    const CAPCOMPRESSION mjpg{FourCC("MJPG"), 90};
    WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, 48000, 192000, 4, 16, 0};
    CAPSTATUS s = CaptureFor(file, 2, &pcm, &mjpg, &hd);
    EXPECT_EQ(std::pair(s.dwCurrentVideoFrame, s.dwCurrentWaveSamples), std::pair(20u, 96000u));
    auto v = media_test::ProbeStream(file, "v:0");
    EXPECT_EQ(v["codec_name"] + " " + v["width"] + "x" + v["height"], "mjpeg 1280x720");
    EXPECT_EQ(media_test::ProbePackets(file).size(), 20u - s.dwCurrentVideoFramesDropped);
    auto a = media_test::ProbeStream(file, "a:0");
    EXPECT_EQ(a["sample_rate"] + " " + a["channels"], "48000 2");
    EXPECT_EQ(media_test::Shell("ffmpeg -nostdin -v error -i " + media_test::Quote(file) +
                                " -map 0:a -f s16le - 2>/dev/null | wc -c"),
              "384000\n");  // two seconds
    int status = 0;
    EXPECT_EQ(media_test::Shell("ffmpeg -nostdin -v error -i " + media_test::Quote(file) + " -f null - 2>&1",
                                &status),
              "");
    AVIlist* rec = OpenAVIforList(file.c_str(), 0, -1);
    ASSERT_TRUE(rec);
    EXPECT_EQ(std::pair(rec->frames, rec->samplesPerSec), std::pair(20, 48000));
    CloseAVIlist(rec);
    // The figure the estimate starts from: a trial compression of the current picture, not the 24-bit size.
    HWND w = capCreateCaptureWindowA("Capture Window", WS_CHILD, 0, 0, 160, 120, nullptr, 0);
    ASSERT_EQ(capSendMessage(w, WM_CAP_DRIVER_CONNECT, 0, 0), 1);
    Send(w, WM_CAP_SET_VIDEOFORMAT, &hd);
    const LRESULT trial = capSendMessage(w, WM_CAP_GET_FRAME_BYTES, 0, 0);
    EXPECT_TRUE(trial > 1000 && trial < hd.biSizeImage / 4) << trial;
    capDestroyWindow(w);

    // A camera's own JPEG frames are stored as they came, the standard tables put back where they
    // were left out; every frame decodes. The grabbing thread held up for more than two periods
    // catches up without dropping a frame.
    ASSERT_EQ(media_test::Shell(
                  "cd " + media_test::Quote(dir.path()) +
                  " && ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=320x240:rate=10 -frames:v 4 "
                  "-c:v mjpeg -huffman default -q:v 4 -f image2 f%d.jpg 2>&1"),
              "");
    std::vector<std::string> made, delivered;
    for (int i = 1; i <= 4; i++) {
        made.push_back(ReadWholeFile(dir.file("f" + std::to_string(i) + ".jpg")));
        delivered.push_back(i % 2 ? made.back() : WithoutTables(made.back()));
    }
    ASSERT_LT(delivered[1].size(), made[1].size());
    auto old = SetCaptureDriverTable(std::make_shared<JpegCameraTable>(delivered));
    const std::string camera = dir.file("camera.avi");
    s = CaptureFor(camera, 1, nullptr, nullptr, nullptr);
    SetCaptureDriverTable(old);
    EXPECT_EQ(std::pair(s.dwCurrentVideoFrame, s.dwCurrentVideoFramesDropped), std::pair(10u, 0u));
    const auto packets = media_test::ProbePackets(camera);
    ASSERT_EQ(packets.size(), 10u);
    for (size_t i = 0; i < packets.size(); i++) {
        const std::string& want = made[i % 4];
        EXPECT_EQ(packets[i].size, want.size()) << i;
        EXPECT_EQ(packets[i].crc,
                  media_test::Crc32(reinterpret_cast<const uint8_t*>(want.data()), want.size()))
            << i;
    }
    EXPECT_EQ(
        media_test::Shell("ffmpeg -nostdin -v error -i " + media_test::Quote(camera) + " -f null - 2>&1"),
        "");
}

namespace {

// A V4L2 device as a script: the formats, sizes and rates it offers, and frames it delivers one per
// period of its rate once streaming starts; after the last it stops (polls time out) or is gone.
class ScriptedV4l2 : public V4l2System {
  public:
    struct Offer {
        uint32_t fourcc, width, height;
        std::vector<uint32_t> rates;
    };
    struct Frame {
        std::string bytes;
        uint32_t bytesused;  // of the buffer, as the device reports it
    };
    std::vector<Offer> offers;
    std::vector<Frame> frames;
    bool goneAtEnd = false;

    std::vector<std::string> Devices() override { return {"/nodev/video0", "/nodev/video1"}; }
    int Open(const std::string& path) override { return path == "/nodev/video0" ? 7 : (errno = ENOENT, -1); }
    void Close(int) override {}
    int Ioctl(int, unsigned long request, void* arg) override {
        std::lock_guard<std::mutex> lock(mutex_);
        switch (request) {
            case VIDIOC_QUERYCAP: {
                auto* c = static_cast<v4l2_capability*>(arg);
                std::memcpy(c->card, "Scripted Cam", 13);
                std::memcpy(c->driver, "scripted", 9);
                c->version = 0x060102;
                c->capabilities = V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
                return 0;
            }
            case VIDIOC_ENUM_FMT: {
                auto* d = static_cast<v4l2_fmtdesc*>(arg);
                std::vector<uint32_t> formats;
                for (const Offer& o : offers)
                    if (std::find(formats.begin(), formats.end(), o.fourcc) == formats.end())
                        formats.push_back(o.fourcc);
                return d->index < formats.size() ? (d->pixelformat = formats[d->index], 0) : Fail(EINVAL);
            }
            case VIDIOC_ENUM_FRAMESIZES: {
                auto* s = static_cast<v4l2_frmsizeenum*>(arg);
                std::vector<const Offer*> of;
                for (const Offer& o : offers)
                    if (o.fourcc == s->pixel_format) of.push_back(&o);
                if (s->index >= of.size()) return Fail(EINVAL);
                s->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                s->discrete = {of[s->index]->width, of[s->index]->height};
                return 0;
            }
            case VIDIOC_ENUM_FRAMEINTERVALS: {
                auto* e = static_cast<v4l2_frmivalenum*>(arg);
                const Offer* o = Find(e->pixel_format, e->width, e->height);
                if (!o || e->index >= o->rates.size()) return Fail(EINVAL);
                e->type = V4L2_FRMIVAL_TYPE_DISCRETE;
                e->discrete = {1, o->rates[e->index]};
                return 0;
            }
            case VIDIOC_S_FMT: {
                v4l2_pix_format& f = static_cast<v4l2_format*>(arg)->fmt.pix;
                const Offer* o = Find(f.pixelformat, f.width, f.height);
                if (!o) return Fail(EINVAL);
                f.bytesperline = f.pixelformat == V4L2_PIX_FMT_YUYV ? f.width * 2 : 0;
                length_ = f.width * f.height * 2;
                rate_ = o->rates.front();
                return 0;
            }
            case VIDIOC_S_PARM:
                rate_ = static_cast<v4l2_streamparm*>(arg)->parm.capture.timeperframe.denominator;
                return 0;
            case VIDIOC_REQBUFS:
                static_cast<v4l2_requestbuffers*>(arg)->count = 4;
                memory_.assign(4, std::vector<uint8_t>(length_));
                queued_.clear();
                return 0;
            case VIDIOC_QUERYBUF: {
                auto* b = static_cast<v4l2_buffer*>(arg);
                b->length = length_;
                b->m.offset = b->index * length_;
                return 0;
            }
            case VIDIOC_QBUF:
                queued_.push_back(static_cast<v4l2_buffer*>(arg)->index);
                return 0;
            case VIDIOC_STREAMON:
                start_ = std::chrono::steady_clock::now();
                next_ = 0;
                return 0;
            case VIDIOC_STREAMOFF:
                return 0;
            case VIDIOC_DQBUF: {
                if (Gone()) return Fail(ENODEV);
                if (queued_.empty() || next_ >= frames.size() || Due() > std::chrono::steady_clock::now())
                    return Fail(EAGAIN);
                auto* b = static_cast<v4l2_buffer*>(arg);
                b->index = queued_.front();
                queued_.erase(queued_.begin());
                const Frame& f = frames[next_++];
                std::memcpy(memory_[b->index].data(), f.bytes.data(),
                            std::min<size_t>(f.bytes.size(), length_));
                b->bytesused = f.bytesused;
                return 0;
            }
            default:
                return Fail(ENOTTY);
        }
    }
    void* Map(int, size_t length, int64_t offset) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const size_t i = static_cast<size_t>(offset) / length_;
        return length == length_ && i < memory_.size() ? memory_[i].data() : nullptr;
    }
    void Unmap(void*, size_t) override {}
    int Poll(int, int timeoutMs, short& revents) override {
        std::unique_lock<std::mutex> lock(mutex_);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        revents = Gone() ? POLLERR : POLLIN;
        if (Gone()) return 1;
        const bool comes = next_ < frames.size() && Due() <= limit;
        const auto until = comes ? Due() : limit;
        lock.unlock();
        std::this_thread::sleep_until(until);
        return comes ? 1 : 0;
    }

  private:
    int Fail(int error) {
        errno = error;
        return -1;
    }
    const Offer* Find(uint32_t fourcc, uint32_t w, uint32_t h) const {
        for (const Offer& o : offers)
            if (o.fourcc == fourcc && o.width == w && o.height == h) return &o;
        return nullptr;
    }
    std::chrono::steady_clock::time_point Due() const {
        return start_ + std::chrono::microseconds(1000000 / rate_) * (next_ + 1);
    }
    bool Gone() const { return goneAtEnd && next_ >= frames.size(); }

    std::mutex mutex_;
    uint32_t length_ = 0;
    uint32_t rate_ = 1;
    std::vector<std::vector<uint8_t>> memory_;
    std::vector<uint32_t> queued_;
    std::chrono::steady_clock::time_point start_;
    size_t next_ = 0;
};

// JPEG frames of a moving picture, each different, made by ffmpeg.
std::vector<std::string> JpegFrames(const TempDir& dir, const char* size, int count) {
    const std::string made = media_test::Shell(
        "cd " + media_test::Quote(dir.path()) + " && ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=" +
        size + ":rate=10 -frames:v " + std::to_string(count) + " -c:v mjpeg -q:v 4 -f image2 v%d.jpg 2>&1");
    EXPECT_EQ(made, "");
    std::vector<std::string> frames;
    for (int i = 1; i <= count; i++)
        frames.push_back(ReadWholeFile(dir.file("v" + std::to_string(i) + ".jpg")));
    return frames;
}

}  // namespace

TEST_F(CaptureWindow, V4l2CameraListsWhatTheDeviceOffersAndKeepsItsJpegFramesAsMade) {
    auto device = std::make_shared<ScriptedV4l2>();
    device->offers = {{V4L2_PIX_FMT_YUYV, 320, 240, {30, 15}},    {V4L2_PIX_FMT_MJPEG, 640, 480, {30, 10}},
                      {V4L2_PIX_FMT_YUYV, 640, 480, {30, 10, 5}}, {V4L2_PIX_FMT_MJPEG, 2560, 1440, {30}},
                      {V4L2_PIX_FMT_H264, 640, 480, {30}},        {V4L2_PIX_FMT_MJPEG, 1280, 720, {30}},
                      {V4L2_PIX_FMT_YUYV, 1280, 720, {10}}};
    const std::vector<std::string> jpeg = JpegFrames(dir, "640x480", 8);
    ASSERT_EQ(jpeg.size(), 8u);
    const uint32_t length = 640 * 480 * 2;
    for (size_t i = 0; i < jpeg.size(); i++)
        device->frames.push_back({jpeg[i], static_cast<uint32_t>(jpeg[i].size())});
    device->frames[2].bytesused = length + 1;            // past its buffer
    device->frames[5] = {std::string(4000, 'x'), 4000};  // not JPEG
    auto old = SetCaptureDriverTable(V4l2CameraDriverTable(device, nullptr));

    // The card's name; the device that does not open is not listed. The dialog lists every size and
    // rate within 1920x1080 once, as Motion JPEG where the device offers that.
    char name[80], version[100];
    ASSERT_EQ(capGetDriverDescriptionA(0, name, sizeof name, version, sizeof version), 1);
    EXPECT_EQ(std::string(name) + ", " + version, "Scripted Cam, V4L2 scripted 6.1.2");
    EXPECT_EQ(capGetDriverDescriptionA(1, name, sizeof name, version, sizeof version), 0);
    std::vector<std::string> listed;
    SetCaptureChoiceDialog([&listed](HWND, const std::string&, const std::string&,
                                     const std::vector<std::string>& choices, int32_t) {
        listed = choices;
        return 4;
    });
    HWND w = capCreateCaptureWindowA("Capture Window", WS_CHILD, 0, 0, 160, 120, nullptr, 0);
    ASSERT_EQ(capSendMessage(w, WM_CAP_DRIVER_CONNECT, 0, 0), 1);
    EXPECT_EQ(capSendMessage(w, WM_CAP_DLG_VIDEOFORMAT, 0, 0), 1);
    SetCaptureChoiceDialog(nullptr);
    EXPECT_EQ(listed, (std::vector<std::string>{"320 x 240, 30 fps, YUYV", "320 x 240, 15 fps, YUYV",
                                                "640 x 480, 30 fps, MJPG", "640 x 480, 10 fps, MJPG",
                                                "640 x 480, 5 fps, YUYV", "1280 x 720, 30 fps, MJPG",
                                                "1280 x 720, 10 fps, YUYV"}));
    BITMAPINFOHEADER f{}, small = CaptureFormat(320, 240), large = MjpegCaptureFormat(2560, 1440);
    Send(w, WM_CAP_GET_VIDEOFORMAT, &f);
    EXPECT_EQ(std::tuple(f.biWidth, f.biHeight, f.biCompression), std::tuple(640, 480, BI_RGB));  // 5 fps
    ASSERT_EQ(Send(w, WM_CAP_SET_VIDEOFORMAT, &small), 1);
    EXPECT_EQ(Send(w, WM_CAP_SET_VIDEOFORMAT, &large), 0);
    small = CaptureFormat(640, 480);
    ASSERT_EQ(Send(w, WM_CAP_SET_VIDEOFORMAT, &small), 1);
    Send(w, WM_CAP_GET_VIDEOFORMAT, &f);
    EXPECT_TRUE(IsMjpegFormat(f));
    // The live picture is the camera's JPEG decoded into bottom-up rows.
    std::vector<uint8_t> rows;
    ASSERT_TRUE(CaptureWindowPicture(w, rows, f));
    const std::string decoded =
        media_test::Shell("ffmpeg -nostdin -v error -i " + media_test::Quote(dir.file("v1.jpg")) +
                          " -vf vflip -f rawvideo -pix_fmt bgr24 -");
    ASSERT_EQ(std::tuple(rows.size(), decoded.size(), f.biCompression),
              std::tuple(size_t{921600}, size_t{921600}, BI_RGB));
    long difference = 0;
    for (size_t i = 0; i < rows.size(); i++)
        difference += std::abs(rows[i] - static_cast<uint8_t>(decoded[i]));
    EXPECT_LT(difference / static_cast<long>(rows.size()), 2);
    capDestroyWindow(w);

    // Captured at 10 frames a second: every frame stored is one the camera made, byte for byte and in
    // order; the one past its buffer and the one that is no JPEG are refused and counted as dropped.
    const std::string file = dir.file("v4l2.avi");
    const CAPSTATUS s = CaptureFor(file, 1, nullptr, nullptr, &small);
    SetCaptureDriverTable(old);
    const auto packets = media_test::ProbePackets(file);
    EXPECT_EQ(std::pair(s.dwCurrentVideoFrame, packets.size()),
              std::pair(10u, size_t{10u - s.dwCurrentVideoFramesDropped}));
    EXPECT_GE(s.dwCurrentVideoFramesDropped, 2u);
    size_t next = 0;
    for (const auto& p : packets) {
        while (next < jpeg.size() &&
               p.crc !=
                   media_test::Crc32(reinterpret_cast<const uint8_t*>(jpeg[next].data()), jpeg[next].size()))
            next++;
        ASSERT_LT(next, jpeg.size()) << "a stored frame the camera did not make";
        EXPECT_TRUE(next != 2 && next != 5 && p.size == jpeg[next].size());
        next++;
    }
}

TEST_F(CaptureWindow, V4l2CameraRawFramesAreCompressedAndADeviceThatStopsEndsTheCapture) {
    // Raw frames of one colour (YUYV studio range: Y 81, U 90, V 240 is red), compressed on the way.
    auto device = std::make_shared<ScriptedV4l2>();
    device->offers = {{V4L2_PIX_FMT_YUYV, 320, 240, {10}}};
    std::string red;
    for (int i = 0; i < 320 * 240 / 2; i++) red += std::string("\x51\x5a\x51\xf0", 4);
    device->frames.assign(6, {red, static_cast<uint32_t>(red.size())});
    device->frames[1].bytesused = 1000;  // too short for its picture
    auto old = SetCaptureDriverTable(V4l2CameraDriverTable(device, nullptr));
    const std::string file = dir.file("raw.avi");
    const CAPCOMPRESSION mjpg{FourCC("MJPG"), 90};

    // The device delivers six frames and then no more: the capture ends by itself after a wait,
    // with a message and the frames delivered kept.
    gLastError = 0;
    const auto began = std::chrono::steady_clock::now();
    CAPSTATUS s = CaptureFor(file, 10, nullptr, &mjpg, nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(8));
    EXPECT_EQ(gLastError.load(), IDS_CAP_DRIVER_ERROR);
    {
        std::lock_guard<std::mutex> lock(gErrorMutex);
        EXPECT_EQ(gErrorText, "Capture stopped: the camera <Scripted Cam> stopped delivering frames");
    }
    EXPECT_EQ(media_test::ProbePackets(file).size(), s.dwCurrentVideoFrame - s.dwCurrentVideoFramesDropped);
    EXPECT_EQ(media_test::ProbeStream(file, "v:0")["codec_name"], "mjpeg");
    // The first pixel of the first picture as red, green, blue.
    const auto firstPixel = [&file] {
        std::istringstream rgb(
            media_test::Shell("ffmpeg -nostdin -v error -i " + media_test::Quote(file) +
                              " -frames:v 1 -f rawvideo -pix_fmt rgb24 - 2>/dev/null | head -c 3 | "
                              "od -An -tu1"));
        int r = 0, g = 0, b = 0;
        rgb >> r >> g >> b;
        return std::tuple(r > 230  ? 255
                          : r < 25 ? 0
                                   : r,
                          g > 230  ? 255
                          : g < 25 ? 0
                                   : g,
                          b > 230  ? 255
                          : b < 25 ? 0
                                   : b);
    };
    EXPECT_EQ(firstPixel(), std::tuple(255, 0, 0));

    // Gone (unplugged): the capture ends at once with the reason, its frames kept and readable. NV12
    // this time: Y 41, U 240, V 110 is blue.
    device->offers = {{V4L2_PIX_FMT_NV12, 320, 240, {10}}};
    std::string blue(320 * 240, '\x29');
    for (int i = 0; i < 160 * 120; i++) blue += "\xf0\x6e";
    device->frames.assign(6, {blue, static_cast<uint32_t>(blue.size())});
    device->frames[1].bytesused = 320 * 240;  // the picture without its colour
    device->goneAtEnd = true;
    gLastError = 0;
    s = CaptureFor(file, 10, nullptr, &mjpg, nullptr);
    SetCaptureDriverTable(old);
    EXPECT_EQ(gLastError.load(), IDS_CAP_DRIVER_ERROR);
    {
        std::lock_guard<std::mutex> lock(gErrorMutex);
        EXPECT_EQ(gErrorText, "Capture stopped: the camera <Scripted Cam> is gone\nNo such device");
    }
    const size_t kept = media_test::ProbePackets(file).size();
    EXPECT_TRUE(kept == s.dwCurrentVideoFrame - s.dwCurrentVideoFramesDropped && kept >= 3 && kept <= 5)
        << kept;
    EXPECT_EQ(media_test::Shell("ffmpeg -nostdin -v error -i " + media_test::Quote(file) + " -f null - 2>&1"),
              "");
    EXPECT_EQ(firstPixel(), std::tuple(0, 0, 255));
}
