// An underlay picture: the BMP reader, the picture scaled to a fixed frame size, and one frame keyed
// through it both ways (the render's fixed blue key and the preview's colour ranges).
#include <cstdint>
#include <cstring>
#include <vector>

#include "core/memory.h"
#include "render/titles.h"
#include "render/underlay.h"
#include "support.h"

namespace {

constexpr int32_t kWidth = 16;
constexpr int32_t kHeight = 12;

// A frame whose left half is the render's key blue and right half a grey the range below matches.
std::vector<uint8_t> KeyedFrame(int32_t bits, int64_t stride) {
    std::vector<uint8_t> pixels(static_cast<size_t>(stride * kHeight), 0);
    for (int32_t r = 0; r < kHeight; r++)
        for (int32_t c = 0; c < kWidth; c++) {
            uint8_t* p = pixels.data() + r * stride + c * (bits / 8);
            if (bits == 24) {
                p[0] = c < kWidth / 2 ? 250 : 128;
                p[1] = c < kWidth / 2 ? 10 : 128;
                p[2] = c < kWidth / 2 ? 10 : 128;
            } else {
                WriteLE16(p, c < kWidth / 2 ? 0x001F : 0x4210);
            }
        }
    return pixels;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string path = FuzzWrite("input.bmp", data, size);
    MonitorBalance balance;

    UnderlayRecord underlay{};
    std::strncpy(underlay.fileName, path.c_str(), sizeof underlay.fileName - 1);
    uint8_t* pixels = nullptr;
    int32_t pixelBytes = 0;
    if (BITMAPINFOHEADER* header = LoadBMP(&underlay, &pixels, &pixelBytes)) {
        FUZZ_CHECK(pixels && pixelBytes > 0 && static_cast<size_t>(pixelBytes) <= size);
        FUZZ_CHECK(header->biSize >= 40);
        MyFree(header);
        MyFree(pixels);
    } else {
        FUZZ_CHECK(!pixels);
    }

    PrepareUnderlay(&underlay, kWidth, kHeight);
    FUZZ_CHECK(underlay.image && underlay.imageWidth == kWidth && underlay.imageHeight == kHeight);

    ColourRange grey{nullptr, 40, 60, -10, 10, -10, 10};
    for (int32_t bits : {24, 16}) {
        const int64_t stride = (static_cast<int64_t>(kWidth) * bits / 8 + 3) & ~int64_t{3};
        std::vector<uint8_t> frame = KeyedFrame(bits, stride);
        const FrameView view{frame.data(), kWidth, kHeight, bits, stride};
        underlay.ranges = nullptr;
        ApplyUnderlayRenderKey(view, &underlay);
        underlay.ranges = &grey;
        for (int32_t smooth : {0, 1, 2}) ApplyUnderlayPlaybackKey(view, &underlay, smooth);
    }
    MyFree(underlay.image);
    FuzzTakeMessageCount();
    return 0;
}
