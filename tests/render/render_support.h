// Shared helpers of the render tests: crafted clips whose every pixel and sound byte is known, the
// chunks of a written file, frames with guard bytes, title records, fake compressors that record
// what they are sent, and one fixture over the project's with a scripted pump that proves no GDI
// object or driver is left behind either.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/dialogs.h"
#include "core/memory.h"
#include "platform/gdi/gdi.h"
#include "project/project_support.h"
#include "render/compressor.h"
#include "render/render.h"
#include "render/underlay.h"
#include "settings/settings.h"
#include "support/crafted.h"
#include "support/scripted.h"

namespace render_test {

using Bgr = std::array<uint8_t, 3>;
constexpr int32_t kAudioRate = 11025;

// A clip made byte by byte: pixel (x, y from the bottom) of frame k (from 1) is Pixel(x, y, k), or
// entry (x + y + k) % 4 of PaletteEntry at 8 bits. With sound (11025 Hz, 8 bits, mono), byte j is
// j % 251, in chunks of 1000 bytes laid before the frames they run up to (800 bytes a frame).
struct ClipLayout {
    int32_t width = 5, height = 3, frames = 6;
    uint16_t bits = 24;  // 8, 16 (5-5-5), 24 or 32
    bool topDown = false, audio = false;
    uint32_t compression = BI_RGB;
    std::vector<int> empty;  // frames stored as empty chunks
};

inline Bgr Pixel(int32_t x, int32_t y, int32_t k) {
    return {static_cast<uint8_t>(40 * x + k), static_cast<uint8_t>(60 * y + 2 * k),
            static_cast<uint8_t>(250 - 3 * k)};
}
inline Bgr PaletteEntry(int i) {
    return {static_cast<uint8_t>(10 + 50 * i), static_cast<uint8_t>(20 + 40 * i),
            static_cast<uint8_t>(30 + 30 * i)};
}
// What the render makes of pixel (x, y) of frame k.
inline Bgr Expected(const ClipLayout& s, int32_t x, int32_t y, int32_t k) {
    if (s.bits == 8) return PaletteEntry((x + y + k) % 4);
    const uint8_t mask = s.bits == 16 ? 0xF8 : 0xFF;
    const Bgr p = Pixel(x, y, k);
    return {static_cast<uint8_t>(p[0] & mask), static_cast<uint8_t>(p[1] & mask),
            static_cast<uint8_t>(p[2] & mask)};
}

inline void WriteClip(const std::string& path, const ClipLayout& s) {
    crafted::CraftedAvi avi;
    avi.width = s.width, avi.height = s.topDown ? -s.height : s.height, avi.bits = s.bits;
    avi.compression = avi.handler = s.compression;
    for (int i = 0; s.bits == 8 && i < 4; i++) {
        const Bgr q = PaletteEntry(i);
        avi.videoFormatTail.append(q.begin(), q.end()).push_back('\0');
    }
    if (s.audio) avi.channels = 1, avi.samplesPerSec = kAudioRate, avi.sampleBits = 8;
    const int64_t stride = DibRowBytes(s.width, s.bits);
    int64_t sound = 0;
    for (int32_t k = 1; k <= s.frames; k++) {
        while (s.audio && sound < int64_t{k} * 800) {
            std::string chunk;
            for (int j = 0; j < 1000; j++, sound++) chunk += static_cast<char>(sound % 251);
            avi.chunks.push_back({"01wb", 0, chunk});
        }
        std::string data(static_cast<size_t>(stride * s.height), '\0');
        for (int32_t p = 0; p < s.width * s.height; p++) {
            const int32_t x = p % s.width, r = p / s.width, y = s.topDown ? s.height - 1 - r : r;
            const Bgr c = Pixel(x, y, k);
            char* at = data.data() + r * stride + x * s.bits / 8;
            if (s.bits == 8) *at = static_cast<char>((x + y + k) % 4);
            if (s.bits == 16)
                WriteLE16(at, static_cast<uint16_t>((c[2] >> 3) << 10 | (c[1] >> 3) << 5 | c[0] >> 3));
            if (s.bits >= 24) std::memcpy(at, c.data(), 3);
            if (s.bits == 32) at[3] = 0x77;
        }
        if (std::count(s.empty.begin(), s.empty.end(), k)) data.clear();
        avi.chunks.push_back({s.compression ? "00dc" : "00db", 0x10, data});
    }
    WriteWholeFile(path, avi.Build());
}

// The sample that ends frame i (from 1) at 15 frames a second: trunc(66666 us x rate x i) - 1.
inline int64_t FrameEnd(int64_t i, int32_t rate = kAudioRate) {
    return i == 0 ? 0 : static_cast<int64_t>(66666.0 * rate * static_cast<double>(i) / 1000000) - 1;
}
// The sound bytes frames first to last (from 1) of a crafted clip play.
inline std::string FrameAudio(int32_t first, int32_t last) {
    std::string s;
    for (int64_t j = FrameEnd(first - 1); j < FrameEnd(last); j++) s += static_cast<char>(j % 251);
    return s;
}

struct OutChunk {
    std::string id;
    uint32_t flags;
    std::string data;
};
// The chunks (of one id, or all) of a file in the order its idx1 lists them (absolute offsets).
inline std::vector<OutChunk> ReadChunks(const std::string& path, const std::string& only = "") {
    std::vector<OutChunk> chunks;
    const std::string f = ReadWholeFile(path);
    const size_t movi = f.find("movi");
    if (movi == std::string::npos || movi < 8) return chunks;
    const size_t idx1 = movi + ReadLE32(&f[movi - 4]);
    if (idx1 + 8 > f.size() || f.compare(idx1, 4, "idx1")) return chunks;
    for (size_t e = idx1 + 8; e + 16 <= std::min<size_t>(f.size(), idx1 + 8 + ReadLE32(&f[idx1 + 4]));
         e += 16) {
        const size_t offset = ReadLE32(&f[e + 8]), length = ReadLE32(&f[e + 12]);
        if (offset + 8 + length > f.size()) break;
        if (only.empty() || !f.compare(e, 4, only))
            chunks.push_back({f.substr(e, 4), ReadLE32(&f[e + 4]), f.substr(offset + 8, length)});
    }
    return chunks;
}

// A bottom-up DIB frame, rows padded to 4 bytes, followed by guard bytes no applier may touch.
struct TestFrame {
    static constexpr size_t kGuard = 64;
    BITMAPINFOHEADER header{40, 0, 0, 1, 0, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint8_t> bytes;
    int64_t stride;

    TestFrame(int32_t width, int32_t height, int bits, uint8_t fill = 0x40)
        : stride(DibRowBytes(width, bits)) {
        header.biWidth = width, header.biHeight = height, header.biBitCount = static_cast<uint16_t>(bits);
        bytes.assign(static_cast<size_t>(stride * height) + kGuard, fill);
        std::fill(bytes.end() - kGuard, bytes.end(), 0xEE);
    }
    uint8_t* data() { return bytes.data(); }
    uint8_t* at(int32_t row, int32_t col) { return &bytes[row * stride + col * header.biBitCount / 8]; }
    Bgr bgr(int32_t row, int32_t col) { return {at(row, col)[0], at(row, col)[1], at(row, col)[2]}; }
    uint16_t word(int32_t row, int32_t col) { return ReadLE16(at(row, col)); }
    void set(int32_t row, int32_t col, Bgr v) { std::memcpy(at(row, col), v.data(), 3); }
    bool guardIntact() const {
        return std::all_of(bytes.end() - kGuard, bytes.end(), [](uint8_t b) { return b == 0xEE; });
    }
};

inline TitleRecord* MakeTitle(const std::string& text, uint32_t colour, int32_t vertical = 0,
                              int32_t horizontal = 0, int32_t height = 20, int32_t weight = FW_NORMAL) {
    TitleRecord* t = NewTitleRecord();
    t->text = static_cast<char*>(MyCalloc(static_cast<uint32_t>(text.size() + 1), 1));
    std::memcpy(t->text, text.data(), text.size());
    t->colour = colour, t->vertical = vertical, t->horizontal = horizontal;
    t->height = height, t->weight = weight;
    std::strcpy(t->faceName, "Arial");
    return t;
}
// A stencil laid out by hand: pixel p of `pixels` is stencil pixel p.
inline void HandStencil(TitleRecord* t, int32_t width, int32_t height, const std::vector<Bgr>& pixels) {
    MyFree(t->stencil);
    t->stencilWidth = width, t->stencilHeight = height;
    t->stencil = static_cast<uint8_t*>(MyCalloc(static_cast<uint32_t>(width * height), 3));
    std::memcpy(t->stencil, pixels.data(), pixels.size() * 3);
}
// Stencil pixel p, counted along its bottom-up rows.
inline Bgr StencilAt(const TitleRecord* t, int32_t p) {
    return {t->stencil[p * 3], t->stencil[p * 3 + 1], t->stencil[p * 3 + 2]};
}

// A memory device context with a title's font selected, released with it.
struct TitleFont {
    HDC dc = CreateCompatibleDC(nullptr);
    HFONT font;
    HGDIOBJ old;
    explicit TitleFont(const TitleRecord* t) {
        LOGFONTA lf{};
        lf.lfHeight = t->height, lf.lfWeight = t->weight;
        std::strcpy(lf.lfFaceName, t->faceName);
        font = CreateFontIndirectA(&lf);
        old = SelectObject(dc, font);
    }
    ~TitleFont() {
        SelectObject(dc, old);
        DeleteObject(font);
        DeleteDC(dc);
    }
    // Width in the low word, height in the high word, as MyGetTextExtent gives them.
    uint32_t Extent(const std::string& line) {
        return MyGetTextExtent(dc, line.data(), static_cast<int>(line.size()));
    }
};

// A compressor installed ahead of the built-in ones that counts the messages it is sent. It gives
// the answers listed for a message, fails `failCompressions` compressions and every one of a frame
// in failFrames, and otherwise writes 10 bytes a frame.
struct FakeDriver {
    FOURCC handler = 0;
    DWORD flags = VIDCF_QUALITY, defaultQuality = 6500;
    std::string description = "Fake codec";
    uint32_t formatSize = 40;  // biSize written by ICM_COMPRESS_GET_FORMAT
    int failCompressions = 0;
    std::set<int32_t> failFrames;
    std::map<UINT, LRESULT> answers;
    std::map<UINT, int> calls;
    std::vector<DWORD> qualities;
};
inline FakeDriver gFakes[4];

template <int N>
LRESULT FakeProc(DWORD_PTR, HDRVR, UINT msg, LPARAM l1, LPARAM l2) {
    FakeDriver& f = gFakes[N];
    f.calls[msg]++;
    if (f.answers.count(msg)) return f.answers[msg];
    auto* info = reinterpret_cast<ICINFO*>(l1);
    auto* c = reinterpret_cast<ICCOMPRESS*>(l1);
    auto* out = reinterpret_cast<BITMAPINFOHEADER*>(l2);
    switch (msg) {
        case DRV_OPEN:
        case DRV_CLOSE:
            return 1;
        case ICM_GETINFO:
            *info = ICINFO{};
            info->dwSize = sizeof *info, info->fccType = ICTYPE_VIDEO;
            info->fccHandler = f.handler, info->dwFlags = f.flags;
            for (size_t i = 0; i < f.description.size() && i < 127; ++i)  // wide, with a high byte
                info->szDescription[i] = static_cast<WCHAR>(0x4100 | static_cast<uint8_t>(f.description[i]));
            return sizeof *info;
        case ICM_COMPRESS_GET_FORMAT:
            if (out) *out = *reinterpret_cast<const BITMAPINFOHEADER*>(l1);
            if (out) out->biSize = f.formatSize, out->biCompression = f.handler;
            return ICERR_OK;
        case ICM_COMPRESS:
            f.qualities.push_back(c->dwQuality);
            if (f.failFrames.count(c->lFrameNum) || f.failCompressions-- > 0) return ICERR_INTERNAL;
            std::memset(c->lpOutput, static_cast<int>(c->lFrameNum), 10);
            c->lpbiOutput->biSizeImage = 10, *c->lpckid = FourCC("00dc"), *c->lpdwFlags = AVIIF_KEYFRAME;
            return ICERR_OK;
        case ICM_GETDEFAULTQUALITY:
            return *reinterpret_cast<DWORD*>(l1) = f.defaultQuality, ICERR_OK;
        case ICM_COMPRESS_QUERY:
        case ICM_COMPRESS_BEGIN:
        case ICM_COMPRESS_END:
            return ICERR_OK;
    }
    return ICERR_UNSUPPORTED;
}

inline FakeDriver& InstallFake(int n, const char (&code)[5]) {
    static const DRIVERPROC procs[] = {&FakeProc<0>, &FakeProc<1>, &FakeProc<2>, &FakeProc<3>};
    gFakes[n].handler = FourCC(code);
    EXPECT_TRUE(ICInstall(ICTYPE_VIDEO, FourCC(code), reinterpret_cast<LPARAM>(procs[n]), nullptr,
                          ICINSTALL_FUNCTION));
    return gFakes[n];
}

// Every test starts from an empty project, default settings and the built-in codecs; providers go
// back to their defaults after it.
class RenderTest : public ProjectTest {
  protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureGuiApplication());
        InstallGdiTextExtentProvider();
        ResetCompressorState(), ICResetDrivers();
        for (auto& f : gFakes) f = FakeDriver{};
        ProjectTest::SetUp();
        SetPumpProvider(pump), Choose("none");
        SetRenderCallbacks({[this](const char* c) { captions.push_back(c); },
                            [this](int32_t f, int32_t t) {
                                progress.push_back({f, t});
                            },
                            [this](bool busy) { cursor.push_back(busy); },
                            [this](const char* name) { viewed.push_back(name); },
                            [this](const char* name) { shownInFolder.push_back(name); },
                            [this](int64_t, const std::string& summary, const std::string& detail) {
                                ended.push_back(summary + (detail.empty() ? "" : " / " + detail));
                            }});
        gdiObjects_ = GdiLiveObjectCount();
    }
    void TearDown() override {
        ResetCompressorState(), ICResetDrivers();
        SetRenderCallbacks({}), SetCompressorDialogProvider(nullptr), SetPumpProvider(nullptr);
        SetTextExtentProvider(nullptr);
        for (auto& f : gFakes) EXPECT_EQ(f.calls[DRV_OPEN], f.calls[DRV_CLOSE]) << "a driver left open";
        EXPECT_EQ(GdiLiveObjectCount(), gdiObjects_) << "GDI objects left behind";
        ProjectTest::TearDown();
    }

    std::shared_ptr<ScriptedCompressorChoice> Choose(const std::string& code, int quality = -1) {
        auto p = std::make_shared<ScriptedCompressorChoice>(code, quality);
        SetCompressorDialogProvider(p);
        return p;
    }
    void Dialog(std::function<bool(ChooseCompressorModel&)> run) {
        SetCompressorDialogProvider(std::make_shared<FunctionCompressorDialog>(
            [run](HWND, ChooseCompressorModel& m) { return run(m); }));
    }
    // Starts a project of crafted clips (after forgetting what the last render reported).
    void Project(const std::vector<ClipLayout>& files) {
        ResetProjectForTests();
        boxes->shown.clear(), captions.clear(), progress.clear(), cursor.clear(), viewed.clear();
        shownInFolder.clear(), ended.clear();
        for (const ClipLayout& s : files) {
            const std::string name = dir.file("clip" + std::to_string(clips_++) + ".avi");
            WriteClip(name, s);
            ASSERT_TRUE(AppendAVIToProject(nullptr, name.c_str()));
        }
    }
    int32_t Render(const std::string& out) {
        dialogs->answers.push_back(out);
        return RenderProjectToAVI(nullptr);
    }

    std::shared_ptr<ScriptedPump> pump = std::make_shared<ScriptedPump>();
    std::vector<std::string> captions, viewed, shownInFolder, ended;
    std::vector<std::pair<int32_t, int32_t>> progress;
    std::vector<bool> cursor;

  private:
    int32_t gdiObjects_ = 0, clips_ = 0;
};

}  // namespace render_test
