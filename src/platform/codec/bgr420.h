// The colour conversion every Motion JPEG frame takes: BGR rows to full-range BT.601 4:2:0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace codec_internal {

// Full-range BT.601 4:2:0 (what JPEG stores) from BGR rows given top row first, each chroma sample
// the mean of its 2 x 2 pixels; a last odd row or column pairs with itself. dst and dstStride are
// the Y, U and V planes. Processors with SSSE3 take 16 pixels at a time, with the same results.
void BgrToJpeg420(const uint8_t* src, ptrdiff_t stride, int w, int h, uint8_t* const dst[],
                  const int dstStride[]);

}  // namespace codec_internal
