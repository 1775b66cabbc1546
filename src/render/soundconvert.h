// PCM sound of one format turned into another (8 or 16 bits, mono or stereo, 4000-192000 samples a
// second) in integer arithmetic alone: output sample k depends only on the source samples around
// k x from.rate / to.rate, so any stretch converts to the same bytes however the stream is cut up,
// and the render and the preview sound alike.
#pragma once

#include <cstdint>

struct PcmFormat {
    int32_t rate;
    int32_t channels;
    int32_t bits;
};

// Whether a format is one the converter takes, as source or as target.
bool ConvertiblePcm(const PcmFormat& f);

// Bytes of one sample of a format (all channels).
int32_t PcmSampleBytes(const PcmFormat& f);

// The source samples [*lo, *hi) that output samples [first, first + count) are made from; *lo may
// be negative (before the stream: silence).
void PcmConversionWindow(const PcmFormat& from, const PcmFormat& to, int64_t first, int64_t count,
                         int64_t* lo, int64_t* hi);

// Writes output samples [first, first + count) into out (count x PcmSampleBytes(to) bytes) from
// source samples [lo, hi) in src, as PcmConversionWindow gives them (silence where the stream has
// none). Upsampling interpolates between the two source samples around each output sample;
// downsampling averages the source samples under its span; channels are repeated or averaged.
void ConvertPcm(const PcmFormat& from, const PcmFormat& to, int64_t first, int64_t count, const uint8_t* src,
                int64_t lo, uint8_t* out);
