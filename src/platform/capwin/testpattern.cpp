// Driver 0: colour bars with a box that sweeps across them, the frame number and the time drawn
// in, and a 1 kHz tone. Every picture and sample is made from the frame number and the clock, so
// the driver never runs late and a capture of it is exactly reproducible.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/capwin/capdriver.h"

namespace {

constexpr auto& kSizes = kTestPatternSizes;
constexpr int32_t kSizeCount = static_cast<int32_t>(std::size(kTestPatternSizes));
constexpr double kToneHz = 1000.0;
constexpr double kToneLevel = 0.5;  // of full scale
constexpr uint32_t kPreviewMicroSecPerFrame = 66667;

// 5 x 7 glyphs, one byte per row, bit 4 the leftmost column.
struct Glyph {
    char c;
    uint8_t rows[7];
};
constexpr Glyph kGlyphs[] = {
    {'0', {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E}}, {'1', {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E}},
    {'2', {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F}}, {'3', {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E}},
    {'4', {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02}}, {'5', {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E}},
    {'6', {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E}}, {'7', {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08}},
    {'8', {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E}}, {'9', {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C}},
    {':', {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00}}, {'.', {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C}},
    {'F', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x10}}, {'R', {0x1E, 0x11, 0x11, 0x1E, 0x14, 0x12, 0x11}},
    {'A', {0x0E, 0x11, 0x11, 0x1F, 0x11, 0x11, 0x11}}, {'M', {0x11, 0x1B, 0x15, 0x15, 0x11, 0x11, 0x11}},
    {'E', {0x1F, 0x10, 0x10, 0x1E, 0x10, 0x10, 0x1F}},
};

// White, yellow, cyan, green, magenta, red, blue, black as blue, green, red.
constexpr uint8_t kBars[8][3] = {{235, 235, 235}, {16, 235, 235}, {235, 235, 16}, {16, 235, 16},
                                 {235, 16, 235},  {16, 16, 235},  {235, 16, 16},  {16, 16, 16}};

class Picture {
  public:
    Picture(uint8_t* rows, int32_t width, int32_t height)
        : rows_(rows), width_(width), height_(height), stride_(DibRowBytes(width, 24)) {}
    // (x, y) counted from the top-left; the rows are stored bottom-up.
    void Fill(int32_t x, int32_t y, int32_t w, int32_t h, const uint8_t bgr[3]) {
        for (int32_t yy = std::max(y, 0); yy < std::min(y + h, height_); yy++) {
            uint8_t* p = rows_ + static_cast<size_t>(height_ - 1 - yy) * stride_;
            for (int32_t xx = std::max(x, 0); xx < std::min(x + w, width_); xx++)
                std::memcpy(p + xx * 3, bgr, 3);
        }
    }
    void Text(int32_t x, int32_t y, int32_t scale, const char* text, const uint8_t bgr[3]) {
        for (; *text; text++, x += 6 * scale) {
            for (const Glyph& g : kGlyphs) {
                if (g.c != *text) continue;
                for (int32_t r = 0; r < 7; r++)
                    for (int32_t c = 0; c < 5; c++)
                        if (g.rows[r] & (0x10 >> c)) Fill(x + c * scale, y + r * scale, scale, scale, bgr);
            }
        }
    }

  private:
    uint8_t* rows_;
    int32_t width_;
    int32_t height_;
    uint32_t stride_;
};

class TestPatternDriver : public CaptureDriver {
  public:
    TestPatternDriver() : format_(CaptureFormat(320, 240)), start_(std::chrono::steady_clock::now()) {
        Background();
    }
    std::string Name() const override { return kTestPatternName; }
    std::string Version() const override { return kTestPatternVersion; }
    BITMAPINFOHEADER Format() const override { return format_; }
    bool SetFormat(const BITMAPINFOHEADER& format) override {
        if (!IsCaptureFormat(format) || SizeIndex(format.biWidth, format.biHeight) < 0) return false;
        format_ = CaptureFormat(format.biWidth, format.biHeight);
        Background();
        return true;
    }
    bool HasFormatDialog() const override { return true; }
    bool HasSourceDialog() const override { return true; }
    bool FormatDialog(HWND parent) override {
        std::vector<std::string> choices;
        for (const auto& s : kSizes) choices.push_back(std::to_string(s[0]) + " x " + std::to_string(s[1]));
        int32_t pick = ShowCaptureChoice(parent, "Video Format", "Image size (24-bit RGB):", choices,
                                         SizeIndex(format_.biWidth, format_.biHeight));
        if (pick < 0 || pick >= kSizeCount) return false;
        return SetFormat(CaptureFormat(kSizes[pick][0], kSizes[pick][1]));
    }
    bool SourceDialog(HWND parent) override {
        int32_t pick =
            ShowCaptureChoice(parent, "Video Source", "Sound:", {"1 kHz tone", "Silence"}, silent_ ? 1 : 0);
        if (pick < 0) return false;
        silent_ = pick == 1;
        return true;
    }
    bool HasAudio() const override { return true; }
    bool Begin(uint32_t, const WAVEFORMATEX* audio) override {
        audio_ = audio ? *audio : WAVEFORMATEX{};
        samples_ = 0;
        return true;
    }
    void End() override {}
    uint32_t Grab(int64_t n, int64_t dueUs, uint8_t* rows) override {
        Draw(n, dueUs, rows);
        return format_.biSizeImage;
    }
    void ReadAudio(int64_t untilUs, std::vector<uint8_t>& out, size_t maxBytes) override {
        if (audio_.nSamplesPerSec == 0 || audio_.nBlockAlign == 0) return;
        const int64_t due = untilUs * audio_.nSamplesPerSec / 1000000;
        const int64_t room = static_cast<int64_t>(maxBytes / audio_.nBlockAlign);
        const int64_t count = std::min(due - samples_, room);
        const bool wide = audio_.wBitsPerSample == 16;
        for (int64_t i = 0; i < count; i++, samples_++) {
            const double v =
                silent_ ? 0.0
                        : kToneLevel * std::sin(2.0 * M_PI * kToneHz * static_cast<double>(samples_) /
                                                audio_.nSamplesPerSec);
            for (int ch = 0; ch < audio_.nChannels; ch++) {
                if (wide) {
                    const auto s = static_cast<int16_t>(std::lround(v * 32767));
                    out.push_back(static_cast<uint8_t>(s & 0xFF));
                    out.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
                } else {
                    out.push_back(static_cast<uint8_t>(128 + std::lround(v * 127)));
                }
            }
        }
    }
    bool Preview(uint8_t* rows) override {
        const int64_t us =
            std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start_)
                .count();
        Draw(us / kPreviewMicroSecPerFrame, us, rows);
        return true;
    }

  private:
    static int32_t SizeIndex(int32_t w, int32_t h) {
        for (int32_t i = 0; i < kSizeCount; i++)
            if (kSizes[i][0] == w && kSizes[i][1] == h) return i;
        return -1;
    }

    // The still part: bars over the top two thirds, a dark band for the counters below.
    void Background() {
        const int32_t w = format_.biWidth;
        const int32_t h = format_.biHeight;
        background_.assign(format_.biSizeImage, 0);
        Picture p(background_.data(), w, h);
        for (int32_t i = 0; i < 8; i++)
            p.Fill(i * w / 8, 0, (i + 1) * w / 8 - i * w / 8, h * 2 / 3, kBars[i]);
        const uint8_t band[3] = {48, 32, 32};
        p.Fill(0, h * 2 / 3, w, h - h * 2 / 3, band);
    }

    void Draw(int64_t n, int64_t us, uint8_t* rows) const {
        const int32_t w = format_.biWidth;
        const int32_t h = format_.biHeight;
        std::memcpy(rows, background_.data(), background_.size());
        Picture p(rows, w, h);
        // A box that crosses the bars once every four seconds at 15 frames per second.
        const int32_t box = h / 8;
        const int32_t span = std::max(w - box, 1);
        const int32_t x = static_cast<int32_t>((n * span / 60) % span);
        const uint8_t white[3] = {255, 255, 255};
        const uint8_t black[3] = {0, 0, 0};
        p.Fill(x, h / 3 - box / 2, box, box, black);
        p.Fill(x + 2, h / 3 - box / 2 + 2, box - 4, box - 4, white);
        const int32_t scale = std::max(1, w / 160);
        char text[32];
        std::snprintf(text, sizeof text, "FRAME %06lld", static_cast<long long>(n % 1000000));
        p.Text(4 * scale, h * 2 / 3 + 4 * scale, scale, text, white);
        const int64_t cs = us / 10000;
        std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld.%02lld",
                      static_cast<long long>(cs / 360000 % 100), static_cast<long long>(cs / 6000 % 60),
                      static_cast<long long>(cs / 100 % 60), static_cast<long long>(cs % 100));
        p.Text(4 * scale, h * 2 / 3 + 14 * scale, scale, text, white);
    }

    BITMAPINFOHEADER format_;
    std::vector<uint8_t> background_;
    WAVEFORMATEX audio_{};
    int64_t samples_ = 0;
    bool silent_ = false;
    std::chrono::steady_clock::time_point start_;
};

}  // namespace

std::unique_ptr<CaptureDriver> MakeTestPatternDriver() {
    return std::make_unique<TestPatternDriver>();
}
