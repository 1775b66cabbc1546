// The Motion JPEG colour conversion, whichever path the processor takes, gives exactly the
// fixed-point results written out plainly here, for every width and height parity.
#include "platform/codec/bgr420.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

TEST(MotionJpegColours, EveryPathGivesTheFixedPointResults) {
    std::mt19937 rng(7);
    for (int w : {1, 2, 15, 16, 17, 33, 640})
        for (int h : {1, 2, 3, 48}) {
            SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
            // Saturated runs among random bytes reach the clamps on both sides.
            const int stride = (3 * w + 3) & ~3, cw = (w + 1) / 2, ch = (h + 1) / 2;
            std::vector<uint8_t> src(static_cast<size_t>(stride * h));
            for (uint8_t& b : src) {
                const unsigned r = rng();
                b = (r & 0x300) == 0x300 ? 255 : (r & 0x300) == 0x200 ? 0 : static_cast<uint8_t>(r);
            }
            std::vector<uint8_t> y(static_cast<size_t>(w * h)), u(static_cast<size_t>(cw * ch)), v(u.size());
            uint8_t* planes[3] = {y.data(), u.data(), v.data()};
            const int strides[3] = {w, cw, cw};
            codec_internal::BgrToJpeg420(src.data(), stride, w, h, planes, strides);
            // Y of every pixel; U and V of each 2 x 2 block, a last odd row or column counted twice.
            auto at = [&](int r, int c) {
                return &src[static_cast<size_t>(std::min(r, h - 1) * stride + 3 * std::min(c, w - 1))];
            };
            auto clamp = [](int x) { return static_cast<uint8_t>(std::clamp(x, 0, 255)); };
            std::vector<uint8_t> wy(y.size()), wu(u.size()), wv(u.size());
            for (int p = 0; p < w * h; p++) {
                const uint8_t* s = at(p / w, p % w);
                wy[static_cast<size_t>(p)] =
                    static_cast<uint8_t>((19595 * s[2] + 38470 * s[1] + 7471 * s[0] + 32768) >> 16);
            }
            for (int p = 0; p < cw * ch; p++) {
                int sb = 0, sg = 0, sr = 0;
                for (int d = 0; d < 4; d++) {
                    const uint8_t* s = at(p / cw * 2 + d / 2, p % cw * 2 + d % 2);
                    sb += s[0], sg += s[1], sr += s[2];
                }
                const int bias = (128 << 18) + (1 << 17);
                wu[static_cast<size_t>(p)] = clamp((-11059 * sr - 21709 * sg + 32768 * sb + bias) >> 18);
                wv[static_cast<size_t>(p)] = clamp((32768 * sr - 27439 * sg - 5329 * sb + bias) >> 18);
            }
            EXPECT_EQ(y, wy);
            EXPECT_EQ(u, wu);
            EXPECT_EQ(v, wv);
        }
}
