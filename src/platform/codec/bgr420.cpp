#include "platform/codec/bgr420.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QUILLORY_BGR420_SSSE3 1
#endif

namespace codec_internal {
namespace {

// 16.16 fixed point: luma 0.299, 0.587, 0.114; blue difference -0.168736, -0.331264, 0.5; red
// difference 0.5, -0.418688, -0.081312.
constexpr int kYR = 19595, kYG = 38470, kYB = 7471;
constexpr int kUR = -11059, kUG = -21709, kUB = 32768;
constexpr int kVR = 32768, kVG = -27439, kVB = -5329;
constexpr int kChromaBias = (128 << 18) + (1 << 17);  // sums of four pixels: 2 more bits

uint8_t Clamp8(int v) {
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

uint8_t Luma(const uint8_t* p) {
    return static_cast<uint8_t>((kYR * p[2] + kYG * p[1] + kYB * p[0] + 32768) >> 16);
}

// One chroma pair from the sums of a 2 x 2 block's blue, green and red.
void Chroma(int sb, int sg, int sr, uint8_t* u, uint8_t* v) {
    *u = Clamp8((kUR * sr + kUG * sg + kUB * sb + kChromaBias) >> 18);
    *v = Clamp8((kVR * sr + kVG * sg + kVB * sb + kChromaBias) >> 18);
}

#ifdef QUILLORY_BGR420_SSSE3

// Two 16-bit factors for _mm_madd_epi16: lo multiplies the even lane, hi the odd one.
constexpr int32_t Factors(int lo, int hi) {
    return static_cast<int32_t>((static_cast<uint32_t>(hi) << 16) | (static_cast<uint32_t>(lo) & 0xFFFF));
}

// 16 pixels as 16-bit blue, green and red; [0] holds pixels 0-7, [1] pixels 8-15.
struct Planes {
    __m128i b[2], g[2], r[2];
};

// The shuffle that takes channel c of 16 pixels from the k-th 16 bytes of their 48.
__attribute__((target("ssse3"))) __m128i ChannelMask(int c, int k) {
    alignas(16) int8_t m[16];
    for (int j = 0; j < 16; j++) {
        const int at = 3 * j + c;
        m[j] = at / 16 == k ? static_cast<int8_t>(at % 16) : static_cast<int8_t>(-128);
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(m));
}

#define QUILLORY_SSSE3_INLINE __attribute__((target("ssse3"), always_inline)) inline

// One channel of 16 pixels, widened to 16 bits.
QUILLORY_SSSE3_INLINE void Channel(__m128i v0, __m128i v1, __m128i v2, const __m128i (&masks)[3],
                                   __m128i (&out)[2]) {
    const __m128i x =
        _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(v0, masks[0]), _mm_shuffle_epi8(v1, masks[1])),
                     _mm_shuffle_epi8(v2, masks[2]));
    out[0] = _mm_unpacklo_epi8(x, _mm_setzero_si128());
    out[1] = _mm_unpackhi_epi8(x, _mm_setzero_si128());
}

QUILLORY_SSSE3_INLINE void Split(const uint8_t* p, const __m128i (&masks)[3][3], Planes& out) {
    const __m128i v0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i v1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i v2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    Channel(v0, v1, v2, masks[0], out.b);
    Channel(v0, v1, v2, masks[1], out.g);
    Channel(v0, v1, v2, masks[2], out.r);
}

// Luma of 8 pixels as 16-bit values; green's factor is split in two to stay within 16 bits.
QUILLORY_SSSE3_INLINE __m128i Luma8(__m128i b, __m128i g, __m128i r) {
    const __m128i rb = _mm_set1_epi32(Factors(kYR, kYB));
    const __m128i gg = _mm_set1_epi32(Factors(kYG / 2, kYG / 2));
    const __m128i half = _mm_set1_epi32(32768);
    const __m128i lo = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(r, b), rb),
                                                   _mm_madd_epi16(_mm_unpacklo_epi16(g, g), gg)),
                                     half);
    const __m128i hi = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(r, b), rb),
                                                   _mm_madd_epi16(_mm_unpackhi_epi16(g, g), gg)),
                                     half);
    return _mm_packs_epi32(_mm_srli_epi32(lo, 16), _mm_srli_epi32(hi, 16));
}

// The sums over 2 x 2 blocks of one channel of two rows: 8 blocks as 16-bit values.
QUILLORY_SSSE3_INLINE __m128i BlockSums(const __m128i (&a)[2], const __m128i (&b)[2]) {
    const __m128i one = _mm_set1_epi16(1);
    const __m128i lo = _mm_add_epi32(_mm_madd_epi16(a[0], one), _mm_madd_epi16(b[0], one));
    const __m128i hi = _mm_add_epi32(_mm_madd_epi16(a[1], one), _mm_madd_epi16(b[1], one));
    return _mm_packs_epi32(lo, hi);
}

// (kx x + ky y + 32768 s + bias) >> 18 for 8 blocks; 32768 s is taken as 16384 (s + s).
QUILLORY_SSSE3_INLINE __m128i Chroma8(__m128i x, __m128i y, int32_t kxy, __m128i s) {
    const __m128i bias = _mm_set1_epi32(kChromaBias);
    const __m128i fxy = _mm_set1_epi32(kxy);
    const __m128i fs = _mm_set1_epi32(Factors(16384, 16384));
    const __m128i lo = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(x, y), fxy),
                                                   _mm_madd_epi16(_mm_unpacklo_epi16(s, s), fs)),
                                     bias);
    const __m128i hi = _mm_add_epi32(_mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(x, y), fxy),
                                                   _mm_madd_epi16(_mm_unpackhi_epi16(s, s), fs)),
                                     bias);
    return _mm_packs_epi32(_mm_srai_epi32(lo, 18), _mm_srai_epi32(hi, 18));
}

// Converts the whole 16-pixel groups of rows a and b; returns the pixel pairs done.
__attribute__((target("ssse3"))) int Rows16(const uint8_t* a, const uint8_t* b, int w, uint8_t* ya,
                                            uint8_t* yb, uint8_t* u, uint8_t* v) {
    static_assert(kUB == 32768 && kVR == 32768, "the blue and red weights of U and V are 0.5");
    __m128i masks[3][3];
    for (int c = 0; c < 3; c++)
        for (int k = 0; k < 3; k++) masks[c][k] = ChannelMask(c, k);
    int x = 0;
    for (; x + 16 <= w; x += 16) {
        Planes pa, pb;
        Split(a + 3 * x, masks, pa);
        Split(b + 3 * x, masks, pb);
        // Row b may be row a (the last of an odd height): it is then written twice alike.
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(ya + x),
            _mm_packus_epi16(Luma8(pa.b[0], pa.g[0], pa.r[0]), Luma8(pa.b[1], pa.g[1], pa.r[1])));
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(yb + x),
            _mm_packus_epi16(Luma8(pb.b[0], pb.g[0], pb.r[0]), Luma8(pb.b[1], pb.g[1], pb.r[1])));
        const __m128i sb = BlockSums(pa.b, pb.b), sg = BlockSums(pa.g, pb.g), sr = BlockSums(pa.r, pb.r);
        const __m128i cu = Chroma8(sr, sg, Factors(kUR, kUG), sb);
        const __m128i cv = Chroma8(sg, sb, Factors(kVG, kVB), sr);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u + x / 2), _mm_packus_epi16(cu, cu));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v + x / 2), _mm_packus_epi16(cv, cv));
    }
    return x / 2;
}

bool HaveSsse3() {
    static const bool have = __builtin_cpu_supports("ssse3");
    return have;
}

#endif

}  // namespace

void BgrToJpeg420(const uint8_t* src, ptrdiff_t stride, int w, int h, uint8_t* const dst[],
                  const int dstStride[]) {
    for (int y = 0; y < h; y += 2) {
        const uint8_t* a = src + stride * y;
        const uint8_t* b = y + 1 < h ? a + stride : a;
        uint8_t* ya = dst[0] + static_cast<ptrdiff_t>(dstStride[0]) * y;
        uint8_t* yb = y + 1 < h ? ya + dstStride[0] : ya;
        uint8_t* u = dst[1] + static_cast<ptrdiff_t>(dstStride[1]) * (y / 2);
        uint8_t* v = dst[2] + static_cast<ptrdiff_t>(dstStride[2]) * (y / 2);
        const int pairs = w / 2;
        int i = 0;
#ifdef QUILLORY_BGR420_SSSE3
        if (HaveSsse3()) i = Rows16(a, b, w, ya, yb, u, v);
#endif
        for (; i < pairs; ++i) {
            const uint8_t* p = a + 6 * i;
            const uint8_t* q = b + 6 * i;
            ya[2 * i] = Luma(p);
            ya[2 * i + 1] = Luma(p + 3);
            yb[2 * i] = Luma(q);
            yb[2 * i + 1] = Luma(q + 3);
            Chroma(p[0] + p[3] + q[0] + q[3], p[1] + p[4] + q[1] + q[4], p[2] + p[5] + q[2] + q[5], u + i,
                   v + i);
        }
        if (w & 1) {  // the last column pairs with itself
            const uint8_t* p = a + 3 * (w - 1);
            const uint8_t* q = b + 3 * (w - 1);
            ya[w - 1] = Luma(p);
            yb[w - 1] = Luma(q);
            Chroma(2 * (p[0] + q[0]), 2 * (p[1] + q[1]), 2 * (p[2] + q[2]), u + pairs, v + pairs);
        }
    }
}

}  // namespace codec_internal
