// The capture window stand-in through its messages: drivers, formats, the capture file's space,
// and a capture that ends by its time limit, read back byte by byte.
#include "platform/capwin/capwin.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/capwin/capavi.h"
#include "platform/capwin/capdriver.h"
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
    BITMAPINFOHEADER odd = CaptureFormat(100, 100);
    EXPECT_EQ(Send(w, WM_CAP_SET_VIDEOFORMAT, &odd), 0);
    BITMAPINFOHEADER large = CaptureFormat(640, 480);
    EXPECT_EQ(Send(w, WM_CAP_SET_VIDEOFORMAT, &large), 1);

    // Sound formats: PCM that adds up is taken, anything else refused and the old one kept.
    WAVEFORMATEX pcm{WAVE_FORMAT_PCM, 2, 44100, 176400, 4, 16, 0};
    EXPECT_EQ(Send(w, WM_CAP_SET_AUDIOFORMAT, &pcm), 1);
    WAVEFORMATEX bad = pcm;
    bad.nBlockAlign = 3;
    EXPECT_EQ(Send(w, WM_CAP_SET_AUDIOFORMAT, &bad), 0);
    bad = pcm;
    bad.wFormatTag = 2;
    EXPECT_EQ(Send(w, WM_CAP_SET_AUDIOFORMAT, &bad), 0);
    WAVEFORMATEX back{};
    EXPECT_EQ(Send(w, WM_CAP_GET_AUDIOFORMAT, &back), 18);
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
    EXPECT_EQ(after.size(), 10485750u);
    EXPECT_EQ(after.substr(0, 12), std::string(12, '\0'));
    EXPECT_EQ(after.substr(12, 4), "LIST");
    EXPECT_EQ(capSendMessage(w, WM_CAP_FILE_ALLOCATE, 0, static_cast<LPARAM>(0x90000000u)), 0);
    EXPECT_EQ(ReadWholeFile(file).size(), 10485750u);

    // A file that cannot be opened, or one the user protected (no write bit, even for root), is
    // neither allocated nor written: the capture does not start and the error callback hears why.
    capSendMessage(w, WM_CAP_SET_CALLBACK_ERRORA, 0, reinterpret_cast<LPARAM>(&OnError));
    WriteWholeFile(file, "mine");
    ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    EXPECT_EQ(capSendMessage(w, WM_CAP_FILE_ALLOCATE, 0, 10485750), 0);
    EXPECT_EQ(capSendMessage(w, WM_CAP_SEQUENCE, 0, 0), 0);
    EXPECT_EQ(gLastError, IDS_CAP_FILE_OPEN_ERROR);
    EXPECT_TRUE(ReadWholeFile(file) == "mine");
    gLastError = 0;
    const std::string nowhere = dir.file("missing/c.avi");
    capSendMessage(w, WM_CAP_FILE_SET_CAPTURE_FILEA, 0, reinterpret_cast<LPARAM>(nowhere.c_str()));
    EXPECT_EQ(capSendMessage(w, WM_CAP_SEQUENCE, 0, 0), 0);
    EXPECT_EQ(gLastError, IDS_CAP_FILE_OPEN_ERROR);
    EXPECT_EQ(capDestroyWindow(w), 1);
    EXPECT_FALSE(capIsWindow(w));
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
    EXPECT_EQ(gVideoCalls, 10);
    EXPECT_EQ(gWaveBytes, 32000u);
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
    EXPECT_EQ(b.substr(riffEnd, 4), "JUNK");
    EXPECT_EQ(ReadLE32(&b[riffEnd + 4]), b.size() - riffEnd - 8);
    EXPECT_EQ(b.substr(riffEnd + 8, 16), std::string(16, '\0'));
    uint32_t frames = 0, sound = 0;
    for (uint32_t i = 0; i < entries; i++) {
        const char* e = &b[moviEnd + 8 + i * 16];
        const uint32_t at = static_cast<uint32_t>(kCaptureMoviListAt) + 8 + ReadLE32(e + 8);
        ASSERT_EQ(b.substr(at, 4), std::string(e, 4));
        (std::string(e, 4) == "00db" ? frames : sound) += ReadLE32(e + 12);
    }
    EXPECT_EQ(frames, 10u * 230400);
    EXPECT_EQ(sound, 32000u);
}
