// The capture session over scripted driver tables and the test-pattern driver: which driver is
// connected, a streaming capture with its running and final lines, and the figures of the
// statistics, the level meter, the estimate and the capture file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <regex>
#include <thread>

#include "capture/capfile.h"
#include "capture/capsettings.h"
#include "capture/panel.h"
#include "capture/session.h"
#include "capture_support.h"
#include "core/diskio.h"
#include "core/format.h"
#include "core/memory.h"
#include "media/avilist.h"
#include "platform/capwin/capavi.h"
#include "settings/settings.h"
#include "support/scripted.h"

namespace {

class CaptureSessionTest : public ScriptedTest {
  protected:
    void SetUp() override {
        ResetSettings();
        ResetCaptureSession();
        ScriptedTest::SetUp();
        SetCaptureUi(ui);
    }
    void TearDown() override {
        ResetCaptureSession();
        SetCaptureUi(nullptr);
        SetCaptureDriverTable(nullptr);
        ScriptedTest::TearDown();
    }
    std::shared_ptr<RecordingUi> ui = std::make_shared<RecordingUi>();
};

void SetFileSize(const std::string& name, uint32_t bytes, const std::string& head = "") {
    std::string content = head;
    content.resize(bytes, '\0');
    WriteWholeFile(name, content);
}

std::string RiffHead(uint32_t size) {
    std::string h = "RIFF    AVI ";
    WriteLE32(&h[4], size);
    return h;
}

}  // namespace

TEST_F(CaptureSessionTest, ConnectsTheFirstInstalledOrTheChosenDriverWithOneRetry) {
    auto table = std::make_shared<ScriptedDriverTable>();
    SetCaptureDriverTable(table);
    std::vector<std::pair<int32_t, std::string>> items;
    // Nothing installed: no items, no choice, nothing opens.
    ASSERT_EQ(EnumCaptureDrivers(nullptr, items), 1);
    EXPECT_EQ(std::pair(items.empty(), gwIndex), std::pair(true, kNoDriver));
    EXPECT_EQ(OpenCaptureStuff(nullptr, 0, 0, 0, 0), 0);
    EXPECT_EQ(ghWndCap, nullptr);

    // Drivers 1 and 3: the first becomes the choice; when it fails, 3 is not tried.
    table->installed = {1, 3};
    table->failures[1] = -1;
    ASSERT_EQ(EnumCaptureDrivers(nullptr, items), 1);
    EXPECT_EQ(items,
              (std::vector<std::pair<int32_t, std::string>>{{1, "&1 Scripted 1"}, {3, "&3 Scripted 3"}}));
    EXPECT_EQ(gwIndex, 1);
    gwIndex = kNoDriver;
    EXPECT_EQ(OpenCaptureStuff(nullptr, 0, 0, 0, 0), 0);
    EXPECT_EQ(std::pair(table->tried, boxes->shown.empty()), std::pair(std::vector<int32_t>{1}, true));

    // A chosen driver that fails once connects half a second later; without a capture file the
    // question is asked and No leaves the window open without one.
    table->tried.clear();
    table->failures[3] = 1;
    gwIndex = 3;
    boxes->answers = {IDNO};
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(OpenCaptureStuff(nullptr, 0, 0, 0, 0), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(std::pair(table->tried, int32_t{gConnectedIndex}), std::pair(std::vector<int32_t>{3, 3}, 3));
    EXPECT_TRUE(gCapDriverCaps.fHasDlgVideoFormat && gCapDriverCaps.fHasDlgVideoSource);
    EXPECT_EQ(boxes->texts(),
              std::vector<std::string>{"No Cap File Found\nWould You Like To Choose A Capture File Now?"});
    EXPECT_FALSE(CaptureFileNamed());
    EXPECT_EQ(boxes->texts().back(), "No capture file specified\nOne must be specified before capturing");
    gSettings.CapFile[0] = ' ';
    EXPECT_FALSE(CaptureFileNamed());
}

TEST_F(CaptureSessionTest, TheCaptureFileIsMeasuredAndAllocated) {
    const std::string file = dir.file("cap.avi");
    SetFileSize(file, 100, RiffHead(101));
    CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, file);
    EXPECT_EQ(ReadCapFileContent(), 109u);
    SetFileSize(file, 100, RiffHead(100));
    EXPECT_EQ(ReadCapFileContent(), 0u);
    ASSERT_EQ(OpenCaptureStuff(nullptr, 0, 0, 320, 240), 1);
    EXPECT_EQ(gCapFileCapacity, 100u);

    // Ten megabytes of 1,048,575 bytes are set aside, and the file holds no capture.
    SetFileSize(file, 300, RiffHead(5000));
    CapFileDialogState state = OpenCapFileDialog(file.c_str());
    EXPECT_EQ(CapFileDialogOk(state, "10"), CapFileOutcome::kAllocated);
    EXPECT_EQ(std::pair(MyGetFileSize(file.c_str()), ReadCapFileContent()), std::pair(10485750u, 0u));
    EXPECT_EQ(CapFileDialogOk(state, "99999"), CapFileOutcome::kTooLarge);
    EXPECT_EQ(boxes->texts().back(), "Sorry, Not enough disk space for requested size");
    EXPECT_EQ(MyGetFileSize(file.c_str()), 10485750u);

    // The panel's file lines: 100,000,000 bytes of uncompressed frames at 15 fps with 11025 Hz 8-bit
    // stereo sound.
    gSettings.CapCompress = 0, gSettings.msPerFrame = 66667;
    gSettings.Arate = 11025, gSettings.Abits = 8, gSettings.Amode = 2;
    SetFileSize(file, 100000000);
    ShowPanelCapFileLines(nullptr);
    EXPECT_EQ(std::pair(ui->last(6), ui->last(7)),
              std::pair(std::string("MAX STREAMING CAPTURE 28secs"), std::string("(203,630 KB/MINUTE)")));
    // The dialog's maximum: a file that holds less than a minute says its seconds.
    ShowCapFileLines(nullptr);
    EXPECT_EQ(ui->item(kSetMaxLine), "Max: 28secs");
    ASSERT_EQ(truncate(file.c_str(), 1000000000), 0);
    ShowCapFileLines(nullptr);
    EXPECT_EQ(ui->item(kSetMaxLine), "Max: 4minutes");
    gSettings.Amode = 1;
    EXPECT_EQ((std::pair{EstimateCaptureRate(nullptr, 0), ui->item(kSetRateLine)}),
              std::pair(207855828u, std::string("202,984 KB/min")));
}

TEST_F(CaptureSessionTest, StreamingCaptureFillsTheFileAndShowsItsLines) {
    const std::string file = dir.file("cap.avi");
    CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, file);
    ASSERT_TRUE(AllocateCaptureFile(file, 10 * 1048575));
    ASSERT_EQ(OpenCaptureStuff(nullptr, 0, 0, 320, 240), 1);

    gSettings.msPerFrame = 66667, gSettings.Arate = 11025;
    gSettings.Abits = 8, gSettings.Amode = 1, gSettings.CapCompress = 0;
    static int token;
    HWND panel = &token;  // the display the lines go to
    PanelSetUp(panel);
    EXPECT_EQ(ui->last(0), "CAPTURE 320x240x24 RGB  15.00fps - Audio: 11025 8-bit Mono");
    PanelStartCapture(panel, nullptr);
    auto other = std::make_shared<RecordingUi>();
    {
        SCOPED_TRACE("the capture thread keeps the interface it started with until the capture ends");
        EXPECT_FALSE(SetCaptureUi(other));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    PanelStopCapture(panel, nullptr);
    EXPECT_TRUE(other->lines().empty() && other->levels().empty());
    std::shared_ptr<CaptureUi> previous;
    ASSERT_TRUE(SetCaptureUi(other, &previous));
    EXPECT_EQ(previous, ui);
    ASSERT_TRUE(SetCaptureUi(ui));

    RefreshCaptureStatus();
    const uint32_t frames = gCapStatus.dwCurrentVideoFrame;
    EXPECT_GE(frames, 9u);
    EXPECT_EQ(std::pair(gFrameTally.load(), gByteTally.load()), std::pair(frames, frames * 230400u));
    std::string running;
    for (const RecordingUi::Shown& shown : ui->lines())
        if (shown.line == 1 && shown.text != " " && running.empty()) running = shown.text;
    EXPECT_TRUE(std::regex_match(running, std::regex(R"(\d+ FRAMES, 0 DROPS, [\d,]+ BYTES  \(\d+%\))")))
        << running;
    EXPECT_TRUE(
        std::regex_match(ui->last(2), std::regex(R"(FINAL: [\d,]+ BYTES, \d+ FRAMES, 0 DROPS - 0\.\d SECS)")))
        << ui->last(2);
    EXPECT_EQ(std::pair(ui->last(1), ui->levels().back()), std::pair(std::string(" "), std::pair(0, 0)));
    EXPECT_GT(ui->levels().front().first, 20);  // the tone, at half of full scale
    EXPECT_EQ(std::string(gLastCapturedFile), file);
    EXPECT_GT(ReadCapFileContent(), frames * 230400u);
    AVIlist* rec = OpenAVIforList(file.c_str(), 0, -1);
    ASSERT_TRUE(rec);
    EXPECT_EQ(std::pair(static_cast<uint32_t>(rec->frames), rec->samplesPerSec), std::pair(frames, 11025));
    CloseAVIlist(rec);

    {
        SCOPED_TRACE("a disk that fails stops the capture: the file holds the frames before the failure");
        boxes->shown.clear();
        SetDiskFault({.writeError = ENOSPC, .failAfterBytes = 1000000, .once = true});
        PanelStartCapture(panel, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
        PanelStopCapture(panel, nullptr);
        ClearDiskFault();
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Error writing the capture file <" + file +
                                                           ">\nNo space left on device"});
        EXPECT_EQ(MyGetFileSize(file.c_str()), 10485750u);
        AVIlist* cut = OpenAVIforList(file.c_str(), 0, -1);
        ASSERT_TRUE(cut);
        EXPECT_GT(cut->frames, 0);
        EXPECT_LT(cut->frames, 5);  // a million bytes hold four frames and their sound
        for (int32_t n = 1; n <= cut->frames; n++) {
            getFrameData(n, cut);
            EXPECT_EQ(lastFrameSize, 230400);
        }
        CloseAVIlist(cut);
    }
}

TEST_F(CaptureSessionTest, CompressedEstimateFollowsWhatIsRecorded) {
    const std::string file = dir.file("cap.avi");
    CopyCut(gSettings.CapFile, sizeof gSettings.CapFile, file);
    SetFileSize(file, 100);
    ASSERT_EQ(OpenCaptureStuff(nullptr, 0, 0, 640, 480), 1);
    const BITMAPINFOHEADER vga = CaptureFormat(640, 480);
    ASSERT_TRUE(SendCap(WM_CAP_SET_VIDEOFORMAT, sizeof vga, reinterpret_cast<LPARAM>(&vga)));
    gSettings.msPerFrame = 66667, gSettings.Arate = 0;
    gSettings.CapCompress = 1, gSettings.CapQuality = 90;
    static int token;
    HWND panel = &token;
    PanelSetUp(panel);
    EXPECT_EQ(ui->last(0), "CAPTURE 640x480x24 MJPG 15.00fps - Audio: None");

    // Before recording the estimate comes from a trial compression, well under the 24-bit rate; the
    // default capture file holds two minutes of it.
    const uint32_t before = EstimateCaptureRate(nullptr, 0);
    EXPECT_LT(before, CaptureBytesPerMinute(66667, vga, 0, 8, 1) / 4);
    EXPECT_GE(static_cast<uint64_t>(DefaultCapFileMegabytes()) * kCapMegabyte, 2ull * before);
    PanelStartCapture(panel, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    const uint32_t during = EstimateCaptureRate(nullptr, 0);
    PanelStopCapture(panel, nullptr);

    // The recorded rate: the file's frames (and their chunk headers and index entries) per minute.
    RefreshCaptureStatus();
    const uint32_t frames = gCapStatus.dwCurrentVideoFrame;
    ASSERT_GT(frames, 10u);
    AVIlist* rec = OpenAVIforList(file.c_str(), 0, -1);
    ASSERT_TRUE(rec);
    uint64_t bytes = 0;
    for (int32_t n = 1; n <= rec->frames; n++) {
        getFrameData(n, rec);
        bytes += static_cast<uint64_t>(lastFrameSize) + 24;
    }
    CloseAVIlist(rec);
    const double recorded = static_cast<double>(bytes) / frames * 900;  // 900 frames a minute
    EXPECT_NEAR(before / recorded, 1.0, 0.2) << before << " " << recorded;
    EXPECT_NEAR(during / recorded, 1.0, 0.05) << during << " " << recorded;
}

TEST(CaptureFigures, TheFinalAndRunningLines) {
    // The final line's seconds and tenths; a frame of 1001 bytes adds 1002; the share of a file of
    // 1000 bytes or less is 0.
    EXPECT_EQ(FinalCaptureLine(1234567, 680, 3, 45300),
              "FINAL: 1,234,567 BYTES, 680 FRAMES, 3 DROPS - 45.3 SECS");
    gByteTally = 10;
    gCapturing = 0;
    VIDEOHDR h{};
    h.dwBytesUsed = 1001;
    CapVideoStreamCallback(nullptr, &h);
    EXPECT_EQ(
        std::tuple(gByteTally.load(), CaptureFilePercent(999999, 1000), CaptureFilePercent(500000, 1000000)),
        std::tuple(1012u, 0, 50));
    EXPECT_EQ(RunningCaptureLine(12, 1, 1234567, 2000000), "12 FRAMES, 1 DROPS, 1,234,567 BYTES  (62%)");
}

TEST(CaptureFigures, TheLevelMeter) {
    // Levels: 8-bit mono from the first 256 bytes; 16-bit stereo split left and right.
    std::vector<uint8_t> quiet(1000, 128);
    quiet[0] = 0;
    int32_t left = -1, right = -1;
    WaveLevels(quiet.data(), 1000, 1, 8, &left, &right);
    EXPECT_EQ(std::make_pair(left, right), std::make_pair(0, 0));  // 128 / 256 rounds away
    std::vector<uint8_t> stereo;
    for (int i = 0; i < 256; i++) {
        const int16_t v = i % 2 ? -16384 : 32767;
        stereo.push_back(static_cast<uint8_t>(v & 0xFF));
        stereo.push_back(static_cast<uint8_t>(v >> 8));
    }
    WaveLevels(stereo.data(), static_cast<uint32_t>(stereo.size()), 2, 16, &left, &right);
    EXPECT_EQ(std::make_pair(left, right), std::make_pair(99, 50));
    WaveLevels(stereo.data(), 0, 2, 16, &left, &right);
    EXPECT_EQ(std::make_pair(left, right), std::make_pair(0, 0));
    // Segments: 0 lights none, 1-9 one, 10 two, 90 and above all ten, the last two red.
    EXPECT_EQ(
        (std::vector{LitSegments(0), LitSegments(9), LitSegments(10), LitSegments(90), LitSegments(250)}),
        (std::vector{0, 1, 2, 10, 10}));
    EXPECT_EQ((std::vector{SegmentColour(7, true), SegmentColour(8, true), SegmentColour(9, false)}),
              (std::vector{0x00FF00u, 0x0000FFu, 0x000088u}));
}

TEST(CaptureFigures, TheEstimateSettingsLineAndMegabytes) {
    // The estimate, the frame rates of the settings line, and a period outside the list.
    const BITMAPINFOHEADER rgb{40, 320, 240, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    BITMAPINFOHEADER other = rgb;
    other.biCompression = FourCC("MJPG");
    EXPECT_EQ((std::vector{CaptureBytesPerMinute(66667, rgb, 11025, 8, 1),
                           CaptureBytesPerMinute(66667, rgb, 11025, 8, 2),
                           CaptureBytesPerMinute(66667, other, 0, 8, 1)}),
              (std::vector{207855828u, 208517328u, 0u}));
    for (const CaptureChoice& c : kFrameRateChoices)
        EXPECT_NE(PanelSettingsText(true, rgb, c.value, 0, 8, 1)
                      .find(" " + std::to_string(std::stoi(c.text)) + ".00fps"),
                  std::string::npos)
            << c.text;
    EXPECT_EQ((std::vector{PanelSettingsText(true, rgb, 70000, 0, 8, 1),
                           PanelSettingsText(false, rgb, 70000, 0, 8, 1)}),
              (std::vector<std::string>{"CAPTURE 320x240x24 RGB  14.29fps - Audio: None",
                                        "CAPTURE DEVICE NOT OPEN"}));
    gSettings.msPerFrame = 50000;
    NormaliseCaptureSettings();
    EXPECT_EQ(gSettings.msPerFrame, 66667);

    // Megabytes of 1,048,575 bytes.
    EXPECT_EQ((std::vector{CapFileMegabytes(1048575), CapFileMegabytes(1048574)}),
              (std::vector<std::string>{"1", "0"}));
}
