// The capture window stand-in through its messages: drivers, formats, the capture file's space,
// and a capture that ends by its time limit, read back byte by byte.
#include "platform/capwin/capwin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <cstring>
#include <memory>

#include "media/avilist.h"
#include "platform/capwin/capavi.h"
#include "platform/capwin/capdriver.h"
#include "support/ffprobe.h"
#include "support/scripted.h"

namespace {

std::atomic<int> gVideoCalls{0};
std::atomic<uint32_t> gWaveBytes{0};
std::atomic<int> gLastError{0};

LRESULT OnVideo(HWND, VIDEOHDR* h) {
    gVideoCalls++;
    return h->dwBytesUsed == 230400 ? 1 : 0;
}
LRESULT OnWave(HWND, WAVEHDR* h) {
    gWaveBytes += h->dwBufferLength;
    return 1;
}
LRESULT OnError(HWND, int id, const char*) {
    gLastError = id;
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
    explicit JpegCamera(std::vector<std::string> frames) : frames_(std::move(frames)) {}
    std::string Name() const override { return "JPEG camera"; }
    std::string Version() const override { return "1"; }
    BITMAPINFOHEADER Format() const override { return MjpegCaptureFormat(320, 240); }
    bool SetFormat(const BITMAPINFOHEADER&) override { return false; }
    bool HasAudio() const override { return false; }
    bool Begin(uint32_t, const WAVEFORMATEX*) override { return true; }
    void End() override {}
    uint32_t Grab(int64_t n, int64_t, uint8_t* frame) override {
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
        return index == 0 ? std::make_unique<JpegCamera>(frames_) : nullptr;
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
    // were left out; every frame decodes.
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
    EXPECT_EQ(s.dwCurrentVideoFrame, 10u);
    const auto packets = media_test::ProbePackets(camera);
    ASSERT_EQ(packets.size(), 10u - s.dwCurrentVideoFramesDropped);
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
