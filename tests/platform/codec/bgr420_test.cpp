// The Motion JPEG colour conversion, whichever path the processor takes, gives exactly the
// fixed-point results written out plainly here, for every width and height parity.
#include "platform/codec/bgr420.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

uint8_t Clamp(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
}

// Y of every pixel; U and V of each 2 x 2 block (a last odd row or column counted twice).
void Reference(const uint8_t* src, int stride, int w, int h, std::vector<uint8_t>& y, std::vector<uint8_t>& u,
               std::vector<uint8_t>& v) {
    const int cw = (w + 1) / 2;
    for (int r = 0; r < h; r++)
        for (int c = 0; c < w; c++) {
            const uint8_t* p = src + r * stride + 3 * c;
            y[static_cast<size_t>(r * w + c)] =
                static_cast<uint8_t>((19595 * p[2] + 38470 * p[1] + 7471 * p[0] + 32768) >> 16);
        }
    for (int r = 0; r < h; r += 2)
        for (int c = 0; c < w; c += 2) {
            int sb = 0, sg = 0, sr = 0;
            for (int dr = 0; dr < 2; dr++)
                for (int dc = 0; dc < 2; dc++) {
                    const uint8_t* p = src + std::min(r + dr, h - 1) * stride + 3 * std::min(c + dc, w - 1);
                    sb += p[0], sg += p[1], sr += p[2];
                }
            const int bias = (128 << 18) + (1 << 17);
            u[static_cast<size_t>(r / 2 * cw + c / 2)] =
                Clamp((-11059 * sr - 21709 * sg + 32768 * sb + bias) >> 18);
            v[static_cast<size_t>(r / 2 * cw + c / 2)] =
                Clamp((32768 * sr - 27439 * sg - 5329 * sb + bias) >> 18);
        }
}

}  // namespace

TEST(MotionJpegColours, EveryPathGivesTheFixedPointResults) {
    std::mt19937 rng(7);
    for (int w : {1, 2, 15, 16, 17, 33, 640})
        for (int h : {1, 2, 3, 48}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
            const int stride = (3 * w + 3) & ~3;
            std::vector<uint8_t> src(static_cast<size_t>(stride * h));
            for (size_t i = 0; i < src.size(); i++) {
                // Saturated runs among random bytes reach the clamps on both sides.
                const unsigned r = rng();
                src[i] = (r & 0x300) == 0x300 ? 255 : (r & 0x300) == 0x200 ? 0 : static_cast<uint8_t>(r);
            }
            const int cw = (w + 1) / 2, ch = (h + 1) / 2;
            std::vector<uint8_t> y(static_cast<size_t>(w * h)), u(static_cast<size_t>(cw * ch)), v(u.size());
            std::vector<uint8_t> wy(y.size()), wu(u.size()), wv(u.size());
            uint8_t* planes[3] = {y.data(), u.data(), v.data()};
            const int strides[3] = {w, cw, cw};
            codec_internal::BgrToJpeg420(src.data(), stride, w, h, planes, strides);
            Reference(src.data(), stride, w, h, wy, wu, wv);
            EXPECT_EQ(y, wy);
            EXPECT_EQ(u, wu);
            EXPECT_EQ(v, wv);
        }
}
