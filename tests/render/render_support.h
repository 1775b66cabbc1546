// Shared helpers of the render tests: crafted clips whose every pixel and audio byte is known, a
// reader for the files the render writes, and a fixture with scripted dialogs, pump, boxes and
// compressor choice that proves no monitor block is left behind.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/dialogs.h"
#include "core/memory.h"
#include "core/settings.h"
#include "support/crafted.h"
#include "support/ffprobe.h"
#include "platform/codec/codec.h"
#include "platform/gdi/gdi.h"
#include "project/project.h"
#include "render/compressor.h"
#include "render/render.h"
#include "support/scripted.h"

namespace render_test {

using Bgr = std::array<uint8_t, 3>;

// A clip made byte by byte: pixel (x, y from the bottom) of frame k (from 1) is Pixel(x, y, k) in
// the clip's depth; with audio, byte j of the sound is AudioByte(j), in chunks of 1000 bytes laid
// before the frames they run up to.
struct ClipLayout {
    int32_t width = 5;
    int32_t height = 3;
    uint16_t bits = 24;  // 8 (through Palette()), 16 (5-5-5), 24 or 32
    int32_t frames = 6;
    bool topDown = false;
    uint32_t compression = BI_RGB;
    bool audio = false;      // 11025 Hz, 8 bits, mono
    std::vector<int> empty;  // frames stored as empty chunks
};

constexpr int32_t kAudioRate = 11025;
constexpr int32_t kAudioChunk = 1000;
constexpr int32_t kAudioPerFrame = 800;  // sound stored per frame: more than the 735 a frame plays

inline Bgr Pixel(int32_t x, int32_t y, int32_t k) {
    return {static_cast<uint8_t>(40 * x + k), static_cast<uint8_t>(60 * y + 2 * k),
            static_cast<uint8_t>(250 - 3 * k)};
}
inline RGBQUAD PaletteEntry(int i) {
    return RGBQUAD{static_cast<uint8_t>(10 + 50 * i), static_cast<uint8_t>(20 + 40 * i),
                   static_cast<uint8_t>(30 + 30 * i), 0};
}
inline uint8_t AudioByte(int64_t j) {
    return static_cast<uint8_t>(j % 251);
}

// What the render makes of pixel (x, y) of frame k of a clip of that depth.
inline Bgr Expected(const ClipLayout& s, int32_t x, int32_t y, int32_t k) {
    Bgr p = Pixel(x, y, k);
    if (s.bits == 16)
        return {static_cast<uint8_t>(p[0] & 0xF8), static_cast<uint8_t>(p[1] & 0xF8),
                static_cast<uint8_t>(p[2] & 0xF8)};
    if (s.bits == 8) {
        RGBQUAD q = PaletteEntry((x + y + k) % 4);
        return {q.rgbBlue, q.rgbGreen, q.rgbRed};
    }
    return p;
}

inline std::string StoredFrame(const ClipLayout& s, int32_t k) {
    const int64_t stride = DibRowBytes(s.width, s.bits);
    std::string data(static_cast<size_t>(stride * s.height), '\0');
    for (int32_t r = 0; r < s.height; r++) {
        const int32_t y = s.topDown ? s.height - 1 - r : r;
        auto* row = reinterpret_cast<uint8_t*>(data.data()) + r * stride;
        for (int32_t x = 0; x < s.width; x++) {
            const Bgr p = Pixel(x, y, k);
            switch (s.bits) {
                case 8:
                    row[x] = static_cast<uint8_t>((x + y + k) % 4);
                    break;
                case 16:
                    WriteLE16(row + 2 * x,
                              static_cast<uint16_t>(((p[2] >> 3) << 10) | ((p[1] >> 3) << 5) | (p[0] >> 3)));
                    break;
                case 32:
                    std::memcpy(row + 4 * x, p.data(), 3);
                    row[4 * x + 3] = 0x77;
                    break;
                default:
                    std::memcpy(row + 3 * x, p.data(), 3);
            }
        }
    }
    return data;
}

inline void WriteClip(const std::string& path, const ClipLayout& s) {
    crafted::CraftedAvi avi;
    avi.width = s.width;
    avi.height = s.topDown ? -s.height : s.height;
    avi.bits = s.bits;
    avi.compression = s.compression;
    avi.handler = s.compression;
    avi.usPerFrame = 66666;
    avi.rate = 15;
    avi.scale = 1;
    if (s.bits == 8)
        for (int i = 0; i < 4; i++) {
            RGBQUAD q = PaletteEntry(i);
            avi.videoFormatTail.append(reinterpret_cast<const char*>(&q), 4);
        }
    if (s.audio) {
        avi.channels = 1;
        avi.samplesPerSec = kAudioRate;
        avi.sampleBits = 8;
    }
    int64_t audioWritten = 0;
    for (int32_t k = 1; k <= s.frames; k++) {
        while (s.audio && audioWritten < int64_t{k} * kAudioPerFrame) {
            std::string chunk(kAudioChunk, '\0');
            for (int32_t j = 0; j < kAudioChunk; j++)
                chunk[j] = static_cast<char>(AudioByte(audioWritten + j));
            avi.chunks.push_back({"01wb", 0, chunk});
            audioWritten += kAudioChunk;
        }
        const bool empty = std::find(s.empty.begin(), s.empty.end(), k) != s.empty.end();
        avi.chunks.push_back(
            {s.compression ? "00dc" : "00db", 0x10, empty ? std::string() : StoredFrame(s, k)});
    }
    WriteWholeFile(path, avi.Build());
}

// One chunk of a written file, in writing order, with its index flags and exact length.
struct OutChunk {
    std::string id;
    uint32_t flags;
    std::string data;
};

// The chunks of a file as its idx1 lists them (absolute offsets, as the writer records them).
inline std::vector<OutChunk> ReadChunks(const std::string& path) {
    std::vector<OutChunk> chunks;
    const std::string f = ReadWholeFile(path);
    const size_t movi = f.find("movi");
    if (movi == std::string::npos || movi < 8) return chunks;
    const size_t idx1 = movi + ReadLE32(f.data() + movi - 4);
    if (idx1 + 8 > f.size() || f.compare(idx1, 4, "idx1") != 0) return chunks;
    const size_t count = ReadLE32(f.data() + idx1 + 4) / 16;
    for (size_t i = 0; i < count && idx1 + 8 + 16 * (i + 1) <= f.size(); i++) {
        const char* e = f.data() + idx1 + 8 + 16 * i;
        const size_t offset = ReadLE32(e + 8), length = ReadLE32(e + 12);
        if (offset + 8 + length > f.size()) break;
        chunks.push_back({std::string(e, 4), ReadLE32(e + 4), f.substr(offset + 8, length)});
    }
    return chunks;
}

inline std::vector<OutChunk> Only(const std::vector<OutChunk>& chunks, const std::string& id) {
    std::vector<OutChunk> out;
    for (const auto& c : chunks)
        if (c.id == id) out.push_back(c);
    return out;
}

// The sample that ends frame i (from 1) at 15 frames a second: trunc(66666 us x rate x i) - 1.
inline int64_t FrameEnd(int64_t i, int32_t rate = kAudioRate) {
    return i == 0 ? 0 : static_cast<int64_t>(66666.0 * rate * static_cast<double>(i) / 1000000) - 1;
}

// The sound bytes frame n (from 1) of a crafted clip plays.
inline std::string FrameAudio(int32_t n) {
    std::string s;
    for (int64_t j = FrameEnd(n - 1); j < FrameEnd(n); j++) s += static_cast<char>(AudioByte(j));
    return s;
}

class RenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureGuiApplication());
        previousExtent_ = InstallGdiTextExtentProvider();
        ResetProjectForTests();
        ResetSettings();
        ResetCompressorState();
        ICResetDrivers();
        dialogs = std::make_shared<QueuedFileDialogProvider>();
        previousDialogs_ = SetFileDialogProvider(dialogs);
        pump = std::make_shared<ScriptedPump>();
        previousPump_ = SetPumpProvider(pump);
        Choose("none");
        SetRenderCallbacks({[this](const char* c) { captions.push_back(c); },
                            [this](int32_t f, int32_t t) {
                                progress.push_back({f, t});
                            },
                            [this](bool busy) { cursor.push_back(busy); },
                            [this](const char* name) { viewed.push_back(name); }});
        blocks_ = MemoryMonitorStatus().liveBlocks;
    }
    void TearDown() override {
        ResetProjectForTests();
        ResetCompressorState();
        ICResetDrivers();
        SetRenderCallbacks({});
        SetCompressorDialogProvider(previousChoice_);
        SetPumpProvider(previousPump_);
        SetFileDialogProvider(previousDialogs_);
        SetTextExtentProvider(previousExtent_);
        EXPECT_EQ(MemoryMonitorStatus().liveBlocks, blocks_) << "monitor blocks left behind";
    }

    void Choose(const std::string& code, int quality = -1) {
        auto previous =
            SetCompressorDialogProvider(std::make_shared<ScriptedCompressorChoice>(code, quality));
        if (!previousChoice_) previousChoice_ = previous;
    }
    // A project of one crafted clip.
    void Project(const ClipLayout& s, const std::string& name = "clip.avi") {
        WriteClip(dir.file(name), s);
        ASSERT_TRUE(AppendAVIToProject(nullptr, dir.file(name).c_str()));
    }
    int32_t Render(const std::string& out) {
        dialogs->answers.push_back(out);
        return RenderProjectToAVI(nullptr);
    }
    // Forgets what the last render reported.
    void Forget() {
        boxes->shown.clear();
        captions.clear();
        progress.clear();
        cursor.clear();
        viewed.clear();
        dialogs->requests.clear();
    }

    ScopedBoxes boxes;
    TempDir dir;
    std::shared_ptr<QueuedFileDialogProvider> dialogs;
    std::shared_ptr<ScriptedPump> pump;
    std::vector<std::string> captions;
    std::vector<std::pair<int32_t, int32_t>> progress;
    std::vector<bool> cursor;
    std::vector<std::string> viewed;

  private:
    std::shared_ptr<TextExtentProvider> previousExtent_;
    std::shared_ptr<FileDialogProvider> previousDialogs_;
    std::shared_ptr<PumpProvider> previousPump_;
    std::shared_ptr<CompressorDialogProvider> previousChoice_;
    int32_t blocks_ = 0;
};

}  // namespace render_test
