// Shared helpers of the title and underlay tests: frames with padded rows and guard bytes, title
// records, and a fixture that checks nothing leaks.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "core/memory.h"
#include "core/settings.h"
#include "platform/gdi/gdi.h"
#include "project/project.h"
#include "render/titles.h"
#include "render/underlay.h"

using Bgr = std::array<uint8_t, 3>;

// A bottom-up DIB frame, rows padded to 4 bytes, followed by guard bytes no applier may touch.
struct TestFrame {
    static constexpr size_t kGuard = 64;
    BITMAPINFOHEADER header{40, 0, 0, 1, 0, BI_RGB, 0, 0, 0, 0, 0};
    std::vector<uint8_t> bytes;
    int64_t stride;

    TestFrame(int32_t width, int32_t height, int bits, uint8_t fill = 0x40) : stride(DibRowBytes(width, bits)) {
        header.biWidth = width, header.biHeight = height, header.biBitCount = static_cast<uint16_t>(bits);
        bytes.assign(static_cast<size_t>(stride * height) + kGuard, fill);
        std::memset(bytes.data() + stride * height, 0xEE, kGuard);
    }
    uint8_t* data() { return bytes.data(); }
    uint8_t* at(int32_t row, int32_t col) {
        return bytes.data() + row * stride + col * header.biBitCount / 8;
    }
    Bgr bgr(int32_t row, int32_t col) { return {at(row, col)[0], at(row, col)[1], at(row, col)[2]}; }
    uint16_t word(int32_t row, int32_t col) { return ReadLE16(at(row, col)); }
    void set(int32_t row, int32_t col, Bgr v) { std::memcpy(at(row, col), v.data(), 3); }
    bool guardIntact() const {
        return std::all_of(bytes.end() - kGuard, bytes.end(), [](uint8_t b) { return b == 0xEE; });
    }
};

inline TitleRecord* MakeTitle(const std::string& text, uint32_t colour, int32_t vertical = 0,
                              int32_t horizontal = 0, int32_t height = 20) {
    TitleRecord* t = NewTitleRecord();
    t->text = static_cast<char*>(MyCalloc(static_cast<uint32_t>(text.size() + 1), 1));
    std::memcpy(t->text, text.data(), text.size());
    t->colour = colour, t->vertical = vertical, t->horizontal = horizontal, t->height = height;
    t->weight = FW_NORMAL;
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

inline void FreeTitle(TitleRecord* t) {
    MyFree(t->text);
    MyFree(t->stencil);
    MyFree(t);
}

inline Bgr StencilAt(const TitleRecord* t, int32_t row, int32_t col) {
    const uint8_t* p = t->stencil + (static_cast<size_t>(row) * t->stencilWidth + col) * 3;
    return {p[0], p[1], p[2]};
}

// Every title and underlay test starts from an empty revision list and the real text measure, and
// proves at the end that no monitor block and no GDI object was left behind.
class OverlayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(EnsureGuiApplication());
        previousExtent_ = InstallGdiTextExtentProvider();
        ClearRevisions();
        smooth_ = gSettings.smooth;
        blocks_ = MemoryMonitorStatus().liveBlocks;
        gdiObjects_ = GdiLiveObjectCount();
    }
    void TearDown() override {
        ClearRevisions();
        gProject.frameWidth = gProject.frameHeight = 0;
        gSettings.smooth = smooth_;
        SetTextExtentProvider(previousExtent_);
        EXPECT_EQ(GdiLiveObjectCount(), gdiObjects_) << "GDI objects leaked";
        EXPECT_EQ(MemoryMonitorStatus().liveBlocks, blocks_) << "monitor blocks leaked";
    }

  private:
    std::shared_ptr<TextExtentProvider> previousExtent_;
    int32_t smooth_ = 0, blocks_ = 0, gdiObjects_ = 0;
};
