#include "capture/capsettings.h"

#include <algorithm>

#include "capture/capfile.h"
#include "capture/panel.h"
#include "capture/session.h"
#include "core/diag.h"
#include "core/format.h"
#include "settings/settings.h"

const CaptureChoice kFrameRateChoices[11] = {{"30 fps", 33333}, {"24 fps", 41667},  {"15 fps", 66667},
                                             {"12 fps", 83333}, {"10 fps", 100000}, {"8 fps", 125000},
                                             {"6 fps", 166667}, {"5 fps", 200000},  {"4 fps", 250000},
                                             {"2 fps", 500000}, {"1 fps", 1000000}};
const CaptureChoice kAudioRateChoices[kAudioRateCount] = {{"No Audio", 0},
                                                          {"8000 Samples/Sec", 8000},
                                                          {"11025 Samples/Sec", 11025},
                                                          {"22050 Samples/Sec", 22050},
                                                          {"44100 Samples/Sec", 44100},
                                                          {"48000 Samples/Sec", 48000}};
const CaptureChoice kCompressionChoices[2] = {{"Motion JPEG", 1}, {"Uncompressed 24-bit", 0}};
const CaptureChoice kQualityChoices[kQualityCount] = {
    {"Quality 100", 100}, {"Quality 90", 90}, {"Quality 75", 75}, {"Quality 50", 50}};
const CaptureChoice kBitsChoices[2] = {{"8-bit", 8}, {"16-bit", 16}};
const CaptureChoice kModeChoices[2] = {{"Mono", 1}, {"Stereo", 2}};
const CaptureChoice kDisplayChoices[2] = {{"Overlay", 0}, {"Preview", 1}};

namespace {

constexpr FOURCC kAura = FourCC("AURA");

uint32_t AddAudioPerMinute(uint64_t video, int32_t arate, int32_t abits, int32_t amode);

std::string FourCCOf(const BITMAPINFOHEADER& f) {
    return f.biCompression == BI_RGB ? "RGB " : FourCCText(f.biCompression);
}

}  // namespace

int32_t ChoicePosition(const CaptureChoice* choices, int32_t count, int32_t value) {
    for (int32_t i = 0; i < count; i++)
        if (choices[i].value == value) return i;
    return -1;
}

uint32_t CaptureBytesPerMinute(int32_t msPerFrame, const BITMAPINFOHEADER& f, int32_t arate, int32_t abits,
                               int32_t amode) {
    if (msPerFrame == 0) return 0;
    const uint64_t framesPerMinute = 60000000u / static_cast<uint32_t>(msPerFrame);
    const auto pixels =
        static_cast<uint64_t>(static_cast<uint32_t>(f.biWidth)) * static_cast<uint32_t>(f.biHeight);
    uint64_t video;
    if (f.biCompression == kAura)
        video = (pixels * 3 / 4 + 72) * framesPerMinute;
    else if (f.biCompression == BI_RGB)
        video = (pixels + 24) * framesPerMinute * 3;
    else
        return 0;
    return AddAudioPerMinute(video, arate, abits, amode);
}

uint32_t CompressedBytesPerMinute(int32_t msPerFrame, uint32_t frameBytes, int32_t arate, int32_t abits,
                                  int32_t amode) {
    if (msPerFrame <= 0 || frameBytes == 0) return 0;
    const uint64_t framesPerMinute = 60000000u / static_cast<uint32_t>(msPerFrame);
    // Each frame also takes its chunk header and its index entry.
    return AddAudioPerMinute((static_cast<uint64_t>(frameBytes) + 24) * framesPerMinute, arate, abits, amode);
}

void SetCompressionFromSettings() {
    if (!ghWndCap) return;
    CAPCOMPRESSION c{gSettings.CapCompress ? FourCC("MJPG") : static_cast<uint32_t>(BI_RGB),
                     static_cast<uint32_t>(std::clamp(gSettings.CapQuality, 0, 100))};
    SendCap(WM_CAP_SET_COMPRESSION, sizeof c, reinterpret_cast<LPARAM>(&c));
}

uint32_t DefaultCapFileMegabytes() {
    BITMAPINFOHEADER f{};
    uint32_t rate = 0;
    if (ghWndCap && ReadVideoFormat(f)) rate = CaptureRateForSettings(f);
    const uint64_t bytes = static_cast<uint64_t>(rate) * kDefaultCapFileMinutes;
    return static_cast<uint32_t>(
        std::min<uint64_t>((bytes + kCapMegabyte - 1) / kCapMegabyte, kMaxCapBytes / kCapMegabyte));
}

uint32_t CaptureRateForSettings(const BITMAPINFOHEADER& f) {
    if (IsStoredCompressed(f)) {
        SetCompressionFromSettings();
        const LRESULT frame = SendCap(WM_CAP_GET_FRAME_BYTES);
        return CompressedBytesPerMinute(gSettings.msPerFrame,
                                        static_cast<uint32_t>(std::max<LRESULT>(frame, 0)), gSettings.Arate,
                                        gSettings.Abits, gSettings.Amode);
    }
    return CaptureBytesPerMinute(gSettings.msPerFrame, f, gSettings.Arate, gSettings.Abits, gSettings.Amode);
}

bool IsStoredCompressed(const BITMAPINFOHEADER& f) {
    return f.biCompression == FourCC("MJPG") || (f.biCompression == BI_RGB && gSettings.CapCompress);
}

namespace {

uint32_t AddAudioPerMinute(uint64_t video, int32_t arate, int32_t abits, int32_t amode) {
    const uint64_t audio = arate ? static_cast<uint64_t>(std::max(abits / 8, 0)) *
                                       static_cast<uint32_t>(amode) * static_cast<uint32_t>(arate) * 60
                                 : 0;
    // Large camera formats pass 4 GB a minute: the estimate stops there.
    return static_cast<uint32_t>(std::min<uint64_t>(video + audio, UINT32_MAX));
}

}  // namespace

uint32_t EstimateCaptureRate(HWND window, int32_t target) {
    std::string text = "***";
    uint32_t rate = 0;
    BITMAPINFOHEADER f{};
    if (gSettings.msPerFrame != 0 && ghWndCap && ReadVideoFormat(f)) {
        rate = CaptureRateForSettings(f);
        if (rate == 0 && !IsStoredCompressed(f))
            text.clear();
        else if (rate == 0)
            text = "***";
        else
            text = FormatMessageText(target == 0 ? "%s KB/min" : "(%s KB/MINUTE)",
                                     FormatThousands(static_cast<int32_t>(rate / 1024)));
    }
    if (target == 0)
        CurrentCaptureUi().SetItemText(window, kSetRateLine, text);
    else
        CurrentCaptureUi().ShowLine(window, 7, text, kLcdGreen);
    return rate;
}

std::string VideoFormatText(const BITMAPINFOHEADER& f) {
    return FormatMessageText("%ldx%ldx%d %4.4s", static_cast<long>(f.biWidth), static_cast<long>(f.biHeight),
                             f.biBitCount, FourCCOf(f).c_str());
}

std::string PanelSettingsText(bool open, const BITMAPINFOHEADER& f, int32_t msPerFrame, int32_t arate,
                              int32_t abits, int32_t amode) {
    if (!open) return "CAPTURE DEVICE NOT OPEN";
    std::string text = "CAPTURE " + VideoFormatText(f);
    if (msPerFrame != 0) {
        const double fps = 1000000.0 / msPerFrame + 0.005;
        const auto whole = static_cast<long>(fps);
        text += FormatMessageText(" %ld.%02ldfps", whole, static_cast<long>(fps * 100) - 100 * whole);
    }
    if (arate == 0)
        text += " - Audio: None";
    else
        text += FormatMessageText(" - Audio: %ld %d-bit ", static_cast<long>(arate), abits) +
                (amode == 1 ? "Mono" : "Stereo");
    return text;
}

std::string MaxCaptureText(uint32_t capacity, uint32_t bytesPerMinute) {
    if (bytesPerMinute < 1) return "***";
    char buffer[64];
    const uint32_t minutes = capacity / bytesPerMinute;
    const uint32_t perSecond = bytesPerMinute / 60;
    // Less than a minute is said in seconds: "0minutes" would say the file holds nothing.
    if (minutes == 0 && perSecond >= 1)
        return FormatMessageText("Max: %s",
                                 FormatSeconds(buffer, static_cast<int32_t>(capacity / perSecond)));
    return FormatMessageText(
        "Max: %s", FormatMinutes(buffer, static_cast<int32_t>(std::min<uint32_t>(minutes, INT32_MAX))));
}

void ShowCapFileLines(HWND dialog) {
    CaptureUi& ui = CurrentCaptureUi();
    ui.SetItemText(dialog, kSetFileLine, FormatMessageText("CapFile: %s", gSettings.CapFile));
    const uint32_t rate = EstimateCaptureRate(dialog, 0);
    const uint32_t capacity = MyGetFileSize(gSettings.CapFile);
    gCapFileCapacity = capacity;
    ui.SetItemText(dialog, kSetSizeLine,
                   FormatMessageText("   Size: %s bytes", FormatThousands(static_cast<int32_t>(capacity))));
    ui.SetItemText(dialog, kSetMaxLine, MaxCaptureText(capacity, rate));
}

void MySetCapSettings(HWND window, bool panel) {
    RefreshCaptureStatus();
    BITMAPINFOHEADER f{};
    const bool have = ReadVideoFormat(f);
    CaptureUi& ui = CurrentCaptureUi();
    if (panel) {
        ui.EnableItem(window, kPanelPalette, have && f.biBitCount <= 8);
        return;
    }
    if (have) ui.SetItemText(window, kSetVideoLine, VideoFormatText(f));
    ShowCapFileLines(window);
    // The maximum in seconds; the next repaint shows it in minutes again.
    const uint32_t perSecond = EstimateCaptureRate(window, 0) / 60;
    char buffer[64];
    ui.SetItemText(
        window, kSetMaxLine,
        perSecond < 1
            ? std::string("***")
            : FormatMessageText("Max: %s",
                                FormatSeconds(buffer, static_cast<int32_t>(gCapFileCapacity / perSecond))));
    ui.EnableItem(window, kPanelPalette, have && f.biBitCount <= 8);
}

void ShowPanelCapFileLines(HWND panel) {
    CaptureUi& ui = CurrentCaptureUi();
    const uint32_t perSecond = EstimateCaptureRate(panel, 1) / 60;
    const uint32_t capacity = MyGetFileSize(gSettings.CapFile);
    gCapFileCapacity = capacity;
    ui.ShowLine(panel, 4,
                FormatMessageText("CAPFILE %s (%s BYTES)", gSettings.CapFile,
                                  FormatThousands(static_cast<int32_t>(capacity))),
                kLcdGreen);
    char buffer[64];
    // Without an estimate the line stays empty: there is no maximum to show.
    ui.ShowLine(panel, 6,
                perSecond < 1
                    ? std::string(" ")
                    : FormatMessageText("MAX STREAMING CAPTURE %s",
                                        FormatSeconds(buffer, static_cast<int32_t>(capacity / perSecond))),
                kLcdGreen);
}

void ShowPanelSettingsLine(HWND panel) {
    BITMAPINFOHEADER f{};
    const bool open = ghWndCap != nullptr;
    if (open) {
        RefreshCaptureStatus();
        ReadVideoFormat(f);
    }
    // The line names the format frames are stored in.
    BITMAPINFOHEADER stored = f;
    if (open && IsStoredCompressed(f)) stored.biCompression = FourCC("MJPG");
    CurrentCaptureUi().ShowLine(panel, 0,
                                PanelSettingsText(open, stored, gSettings.msPerFrame, gSettings.Arate,
                                                  gSettings.Abits, gSettings.Amode),
                                kLcdGreen);
    CurrentCaptureUi().EnableItem(panel, kPanelPalette, open && f.biBitCount != 0 && f.biBitCount <= 8);
}

void SetAudioFormatFromSettings() {
    if (!ghWndCap) return;
    const auto size = static_cast<size_t>(std::max<LRESULT>(SendCap(WM_CAP_GET_AUDIOFORMAT), 0));
    const size_t used = std::min(size, sizeof(WAVEFORMATEX));
    WAVEFORMATEX f{};
    if (used == 0 || !SendCap(WM_CAP_GET_AUDIOFORMAT, used, reinterpret_cast<LPARAM>(&f))) return;
    f.nSamplesPerSec = static_cast<uint32_t>(gSettings.Arate);
    f.wBitsPerSample = static_cast<uint16_t>(gSettings.Abits);
    f.nChannels = static_cast<uint16_t>(gSettings.Amode);
    f.nBlockAlign = static_cast<uint16_t>(gSettings.Abits / 8 * gSettings.Amode);
    f.nAvgBytesPerSec = f.nBlockAlign * static_cast<uint32_t>(gSettings.Arate);
    SendCap(WM_CAP_SET_AUDIOFORMAT, used, reinterpret_cast<LPARAM>(&f));
}

void NormaliseCaptureSettings() {
    if (ChoicePosition(kFrameRateChoices, 11, gSettings.msPerFrame) < 0)
        gSettings.msPerFrame = kDefaultMsPerFrame;
}
