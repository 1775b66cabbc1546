#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "avi_sample.h"
#include "platform/codec/codec.h"
#include "platform/codec/drawdib.h"
#include "support/scripted.h"

namespace {

struct Dib {
    BITMAPINFOHEADER h{};
    std::vector<uint8_t> bits;
    Dib(int32_t w, int32_t height, uint16_t bpp = 24) {
        h.biSize = sizeof h;
        h.biWidth = w;
        h.biHeight = height;
        h.biPlanes = 1;
        h.biBitCount = bpp;
        h.biSizeImage = DibRowBytes(w, bpp) * static_cast<uint32_t>(std::abs(height));
        bits.assign(h.biSizeImage, 0);
    }
    uint8_t* px(int x, int yFromTop) {
        int32_t rows = std::abs(h.biHeight);
        int32_t row = h.biHeight > 0 ? rows - 1 - yFromTop : yFromTop;
        return bits.data() + static_cast<size_t>(row) * DibRowBytes(h.biWidth, h.biBitCount) +
               static_cast<size_t>(x) * h.biBitCount / 8;
    }
};

// Smooth colour ramps with a bright square that moves with t.
Dib Synthetic(int32_t w, int32_t h, int t) {
    Dib d(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = d.px(x, y);
            p[0] = static_cast<uint8_t>(x * 255 / w);
            p[1] = static_cast<uint8_t>(y * 255 / h);
            p[2] = static_cast<uint8_t>((x + y + 8 * t) & 255);
            if (x >= 10 + 3 * t && x < 40 + 3 * t && y >= 20 && y < 50) p[0] = p[1] = p[2] = 230;
        }
    return d;
}

double Psnr(Dib& a, Dib& b) {
    double se = 0;
    int32_t w = a.h.biWidth, h = std::abs(a.h.biHeight);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                double d = a.px(x, y)[c] - b.px(x, y)[c];
                se += d * d;
            }
    double mse = se / (3.0 * w * h);
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Largest and mean absolute difference between a bottom-up 24-bit frame and top-down bgr24 rows.
void CompareTopDown(Dib& ours, const uint8_t* ref, int* maxDiff, double* meanDiff) {
    int32_t w = ours.h.biWidth, h = std::abs(ours.h.biHeight);
    long sum = 0;
    *maxDiff = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w * 3; ++x) {
            int d = std::abs(ours.px(0, y)[x] - ref[static_cast<size_t>(y) * w * 3 + x]);
            sum += d;
            *maxDiff = std::max(*maxDiff, d);
        }
    *meanDiff = static_cast<double>(sum) / (3.0 * w * h);
}

std::string Media(const std::string& name) {
    const char* dir = std::getenv("QUILLORY_TEST_DATA");
    return std::string(dir ? dir : "build/testdata") + "/" + name;
}

std::vector<FOURCC> CompressorHandlers() {
    std::vector<FOURCC> list;
    ICINFO info;
    for (DWORD i = 0; ICInfo(ICTYPE_VIDEO, i, &info); ++i) list.push_back(info.fccHandler);
    return list;
}

struct Encoded {
    BITMAPINFOHEADER format{};
    std::vector<std::vector<uint8_t>> frames;
    std::vector<uint32_t> flags;
};

// Compresses the frames with handler at the quality; fails the test on any refusal.
Encoded Encode(FOURCC handler, std::vector<Dib>& input, DWORD quality) {
    Encoded e;
    HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_COMPRESS);
    EXPECT_NE(hic, nullptr);
    EXPECT_EQ(ICCompressGetFormatSize(hic, &input[0].h), static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)));
    EXPECT_EQ(ICCompressGetFormat(hic, &input[0].h, &e.format), ICERR_OK);
    EXPECT_EQ(ICCompressBegin(hic, &input[0].h, &e.format), ICERR_OK);
    uint32_t capacity = DibRowBytes(input[0].h.biWidth, 24) * static_cast<uint32_t>(input[0].h.biHeight);
    std::vector<uint8_t> out(capacity + 68);
    for (size_t i = 0; i < input.size(); ++i) {
        BITMAPINFOHEADER fmt = e.format;
        fmt.biSizeImage = capacity;
        DWORD ckid = 0, flags = 0;
        EXPECT_EQ(ICCompress(hic, ICCOMPRESS_KEYFRAME, &fmt, out.data(), &input[i].h, input[i].bits.data(),
                             &ckid, &flags, static_cast<LONG>(i), 0, quality, nullptr, nullptr),
                  static_cast<DWORD>(ICERR_OK));
        EXPECT_EQ(ckid, FourCC("00dc"));
        EXPECT_EQ(flags, AVIIF_KEYFRAME);
        EXPECT_GT(fmt.biSizeImage, 0u);
        EXPECT_LE(fmt.biSizeImage, capacity);
        e.frames.emplace_back(out.begin(), out.begin() + fmt.biSizeImage);
        e.flags.push_back(flags);
    }
    EXPECT_EQ(ICCompressEnd(hic), ICERR_OK);
    EXPECT_EQ(ICClose(hic), ICERR_OK);
    return e;
}

// Decodes every frame with a decoder found for format; each result is appended.
std::vector<Dib> Decode(BITMAPINFOHEADER* format, const std::vector<std::vector<uint8_t>>& frames,
                        uint16_t bpp = 24) {
    std::vector<Dib> out;
    HIC hic = ICLocate(ICTYPE_VIDEO, 0, format, nullptr, ICMODE_DECOMPRESS);
    EXPECT_NE(hic, nullptr);
    if (!hic) return out;
    Dib target(format->biWidth, std::abs(format->biHeight), bpp);
    BITMAPINFOHEADER def{};
    EXPECT_EQ(ICDecompressGetFormat(hic, format, &def), ICERR_OK);
    EXPECT_EQ(def.biBitCount, 24);
    EXPECT_EQ(def.biCompression, BI_RGB);
    EXPECT_EQ(def.biSizeImage,
              DibRowBytes(format->biWidth, 24) * static_cast<uint32_t>(std::abs(format->biHeight)));
    EXPECT_EQ(ICDecompressBegin(hic, format, &target.h), ICERR_OK);
    for (const auto& f : frames) {
        BITMAPINFOHEADER in = *format;
        in.biSizeImage = static_cast<uint32_t>(f.size());
        EXPECT_EQ(ICDecompress(hic, 0, &in, f.data(), &target.h, target.bits.data()),
                  static_cast<DWORD>(ICERR_OK));
        out.push_back(target);
    }
    ICDecompressEnd(hic);
    ICClose(hic);
    return out;
}

}  // namespace

TEST(CodecList, CompressorsDescribeThemselves) {
    ICResetDrivers();
    std::vector<FOURCC> handlers = CompressorHandlers();
    for (const char* must : {"MJPG", "FFV1", "FMP4", "MSVC", "cvid"})
        EXPECT_NE(
            std::find(handlers.begin(), handlers.end(), FourCC(*reinterpret_cast<const char(*)[5]>(must))),
            handlers.end())
            << must;
    EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, static_cast<DWORD>(handlers.size()), nullptr));

    for (FOURCC handler : handlers) {
        SCOPED_TRACE(std::string(reinterpret_cast<const char*>(&handler), 4));
        HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_QUERY);
        ASSERT_NE(hic, nullptr);
        ICINFO info{};
        EXPECT_EQ(ICGetInfo(hic, &info, sizeof info), static_cast<LRESULT>(sizeof info));
        EXPECT_EQ(info.fccHandler, handler);
        EXPECT_EQ(info.fccType, ICTYPE_VIDEO);
        std::string description = ICInfoText(info.szDescription, 128, 99);
        EXPECT_FALSE(description.empty());
        bool quality = info.dwFlags & VIDCF_QUALITY;
        DWORD def = ICGetDefaultQuality(hic);
        if (quality)
            EXPECT_LE(def, 10000u);
        else
            EXPECT_EQ(def, ICQUALITY_DEFAULT);
        EXPECT_FALSE(ICQueryConfigure(hic));
        EXPECT_TRUE(ICQueryAbout(hic));
        ScopedBoxes boxes;
        EXPECT_EQ(ICAbout(hic, nullptr), ICERR_OK);
        ASSERT_EQ(boxes->shown.size(), 1u);
        EXPECT_EQ(boxes->shown[0].text, description);
        EXPECT_EQ(boxes->shown[0].style, MB_OK | MB_ICONINFORMATION);
        // A short buffer gets only what fits.
        ICINFO part{};
        EXPECT_EQ(ICGetInfo(hic, &part, 12), 12);
        EXPECT_EQ(part.fccHandler, handler);
        EXPECT_EQ(part.dwFlags, 0u);
        EXPECT_EQ(ICClose(hic), ICERR_OK);
        EXPECT_EQ(ICClose(hic), ICERR_BADHANDLE);
    }
    // The scales the header promises.
    for (const char* q : {"MJPG", "FMP4", "cvid"}) {
        ICINFO info{};
        ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, FourCC(*reinterpret_cast<const char(*)[5]>(q)), &info));
        EXPECT_TRUE(info.dwFlags & VIDCF_QUALITY) << q;
    }
    ICINFO lossless{};
    ASSERT_TRUE(ICInfo(ICTYPE_VIDEO, FourCC("FFV1"), &lossless));
    EXPECT_FALSE(lossless.dwFlags & VIDCF_QUALITY);
    // Handler codes are found whatever their case; unknown ones are not.
    EXPECT_TRUE(ICInfo(ICTYPE_VIDEO, FourCC("mjpg"), nullptr));
    EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, FourCC("ZZZZ"), nullptr));
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, FourCC("ZZZZ"), ICMODE_QUERY), nullptr);
    // A decoder-only code opens for decompression, never for compression.
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, FourCC("IV32"), ICMODE_COMPRESS), nullptr);
    HIC indeo = ICOpen(ICTYPE_VIDEO, FourCC("IV32"), ICMODE_DECOMPRESS);
    EXPECT_NE(indeo, nullptr);
    ICClose(indeo);
}

TEST(CodecCompress, EveryCompressorRoundTrips) {
    ICResetDrivers();
    TempDir dir;
    for (FOURCC handler : CompressorHandlers()) {
        std::string name(reinterpret_cast<const char*>(&handler), 4);
        SCOPED_TRACE(name);
        // 162 x 122 has padded rows; the block codecs need multiples of 4.
        bool blocks = handler == FourCC("MSVC") || handler == FourCC("cvid");
        int32_t w = blocks ? 160 : 162, h = blocks ? 120 : 122;
        std::vector<Dib> input;
        for (int t = 0; t < 4; ++t) input.push_back(Synthetic(w, h, t));
        std::vector<Dib> kept = input;

        Encoded e = Encode(handler, input, 9000);
        ASSERT_EQ(e.frames.size(), input.size());
        EXPECT_EQ(e.format.biSize, 40u);
        EXPECT_EQ(e.format.biCompression, handler);
        EXPECT_EQ(e.format.biWidth, w);
        EXPECT_EQ(e.format.biHeight, h);
        for (size_t i = 0; i < input.size(); ++i) EXPECT_EQ(input[i].bits, kept[i].bits);  // input untouched

        // Our own decoder reads every frame back on its own (each is a key frame).
        std::vector<std::vector<uint8_t>> last = {e.frames.back()};
        std::vector<Dib> single = Decode(&e.format, last);
        ASSERT_EQ(single.size(), 1u);
        double psnr = Psnr(single[0], input.back());
        if (handler == FourCC("FFV1"))
            EXPECT_EQ(single[0].bits, input.back().bits);
        else
            EXPECT_GT(psnr, 24.0);

        // ffmpeg reads the frames from an AVI file and agrees with our decode.
        std::vector<Dib> ours = Decode(&e.format, e.frames);
        std::string path = dir.file(name + ".avi");
        ASSERT_TRUE(WriteAviSample(path, e.format, handler, e.frames, e.flags));
        std::vector<uint8_t> ref = FfmpegDecodeBgr(path);
        ASSERT_EQ(ref.size(), static_cast<size_t>(w) * h * 3 * input.size());
        for (size_t i = 0; i < ours.size(); ++i) {
            int maxDiff;
            double mean;
            CompareTopDown(ours[i], ref.data() + i * w * h * 3, &maxDiff, &mean);
            EXPECT_LT(mean, 1.0) << "frame " << i;
        }
    }
}

TEST(CodecCompress, QualityReachesTheEncoder) {
    ICResetDrivers();
    for (const char* name : {"MJPG", "FMP4", "cvid", "H264"}) {
        FOURCC handler = FourCC(*reinterpret_cast<const char(*)[5]>(name));
        if (!ICInfo(ICTYPE_VIDEO, handler, nullptr)) continue;  // H.264 needs libx264
        SCOPED_TRACE(name);
        std::vector<Dib> input = {Synthetic(160, 120, 1)};
        Encoded high = Encode(handler, input, 10000);
        Encoded low = Encode(handler, input, 0);
        Encoded def = Encode(handler, input, ICQUALITY_DEFAULT);
        EXPECT_GT(high.frames[0].size(), low.frames[0].size());
        EXPECT_GE(high.frames[0].size(), def.frames[0].size());
        EXPECT_LE(low.frames[0].size(), def.frames[0].size());
        Dib h = Decode(&high.format, high.frames)[0];
        Dib l = Decode(&low.format, low.frames)[0];
        EXPECT_GT(Psnr(h, input[0]), Psnr(l, input[0]));
        if (handler != FourCC("cvid")) {
            EXPECT_GT(Psnr(h, input[0]), 30.0);
        }
    }
}

TEST(CodecCompress, RefusedInputChangesNothing) {
    ICResetDrivers();
    HIC mjpg = ICOpen(ICTYPE_VIDEO, FourCC("MJPG"), ICMODE_COMPRESS);
    ASSERT_NE(mjpg, nullptr);
    Dib frame = Synthetic(64, 48, 0);
    Dib sixteen(64, 48, 16);
    Dib odd = Synthetic(62, 46, 0);
    BITMAPINFOHEADER out{};
    EXPECT_EQ(ICCompressQuery(mjpg, &frame.h, nullptr), ICERR_OK);
    EXPECT_EQ(ICCompressQuery(mjpg, &sixteen.h, nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(ICCompressGetFormat(mjpg, &sixteen.h, &out), ICERR_BADFORMAT);
    EXPECT_EQ(out.biSize, 0u);
    BITMAPINFOHEADER huge = frame.h;
    huge.biWidth = kMaxCodecDimension + 1;
    EXPECT_EQ(ICCompressQuery(mjpg, &huge, nullptr), ICERR_BADFORMAT);
    huge.biWidth = -64;
    EXPECT_EQ(ICCompressQuery(mjpg, &huge, nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(ICCompressQuery(mjpg, nullptr, nullptr), ICERR_BADFORMAT);

    // The block codecs take only multiples of 4.
    for (const char* name : {"MSVC", "cvid"}) {
        HIC hic = ICOpen(ICTYPE_VIDEO, FourCC(*reinterpret_cast<const char(*)[5]>(name)), ICMODE_QUERY);
        EXPECT_EQ(ICCompressQuery(hic, &frame.h, nullptr), ICERR_OK) << name;
        EXPECT_EQ(ICCompressQuery(hic, &odd.h, nullptr), ICERR_BADFORMAT) << name;
        ICClose(hic);
    }

    // Compressing before the begin, or a frame of another size, fails and writes nothing.
    ASSERT_EQ(ICCompressGetFormat(mjpg, &frame.h, &out), ICERR_OK);
    std::vector<uint8_t> buffer(frame.h.biSizeImage + 68, 0xAB);
    DWORD ckid = 7, flags = 7;
    BITMAPINFOHEADER fmt = out;
    EXPECT_EQ(static_cast<LRESULT>(
                  static_cast<int32_t>(ICCompress(mjpg, 0, &fmt, buffer.data(), &frame.h, frame.bits.data(),
                                                  &ckid, &flags, 0, 0, 9000, nullptr, nullptr))),
              ICERR_BADFORMAT);
    ASSERT_EQ(ICCompressBegin(mjpg, &frame.h, &out), ICERR_OK);
    EXPECT_EQ(static_cast<LRESULT>(
                  static_cast<int32_t>(ICCompress(mjpg, 0, &fmt, buffer.data(), &odd.h, odd.bits.data(),
                                                  &ckid, &flags, 0, 0, 9000, nullptr, nullptr))),
              ICERR_BADFORMAT);
    // An output buffer too small for the frame: refused, buffer and header untouched.
    fmt.biSizeImage = 16;
    EXPECT_EQ(static_cast<LRESULT>(
                  static_cast<int32_t>(ICCompress(mjpg, 0, &fmt, buffer.data(), &frame.h, frame.bits.data(),
                                                  &ckid, &flags, 0, 0, 10000, nullptr, nullptr))),
              ICERR_BADSIZE);
    EXPECT_EQ(fmt.biSizeImage, 16u);
    EXPECT_EQ(ckid, 7u);
    EXPECT_EQ(flags, 7u);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xAB), static_cast<long>(buffer.size()));
    // The encoder goes on working after refusals.
    fmt.biSizeImage = frame.h.biSizeImage;
    EXPECT_EQ(ICCompress(mjpg, 0, &fmt, buffer.data(), &frame.h, frame.bits.data(), &ckid, &flags, 0, 0, 9000,
                         nullptr, nullptr),
              static_cast<DWORD>(ICERR_OK));
    EXPECT_EQ(ckid, FourCC("00dc"));
    ICClose(mjpg);  // closes an open compression too

    // A compressor never decodes, and a decoder-only handle never compresses.
    HIC dec = ICOpen(ICTYPE_VIDEO, FourCC("MJPG"), ICMODE_DECOMPRESS);
    EXPECT_EQ(ICCompressQuery(dec, &frame.h, nullptr), ICERR_UNSUPPORTED);
    ICClose(dec);
    EXPECT_EQ(ICSendMessage(reinterpret_cast<HIC>(&buffer), ICM_COMPRESS_QUERY, 0, 0), ICERR_BADHANDLE);
    EXPECT_EQ(ICSendMessage(nullptr, ICM_COMPRESS_END, 0, 0), ICERR_BADHANDLE);
}

TEST(CodecDecompress, FfmpegSamplesMatchFfmpegsOwnDecode) {
    ICResetDrivers();
    for (const char* clip : {"codec_mjpeg", "codec_msvideo1", "codec_cinepak", "codec_mpeg4", "codec_h264"}) {
        SCOPED_TRACE(clip);
        AviSample sample;
        if (!ReadAviSample(Media(std::string(clip) + ".avi"), sample)) {
            EXPECT_STREQ(clip, "codec_h264") << "sample missing";  // only H.264 may be absent
            continue;
        }
        std::string ref = ReadWholeFile(Media(std::string(clip) + ".bgr"));
        BITMAPINFOHEADER* format = reinterpret_cast<BITMAPINFOHEADER*>(sample.format.data());
        int32_t w = format->biWidth, h = format->biHeight;
        size_t frameBytes = static_cast<size_t>(w) * h * 3;
        ASSERT_EQ(ref.size(), frameBytes * sample.frames.size());

        std::vector<Dib> ours = Decode(format, sample.frames);
        ASSERT_EQ(ours.size(), sample.frames.size());
        for (size_t i = 0; i < ours.size(); ++i) {
            int maxDiff;
            double mean;
            CompareTopDown(ours[i], reinterpret_cast<const uint8_t*>(ref.data()) + i * frameBytes, &maxDiff,
                           &mean);
            EXPECT_LT(mean, 0.5) << "frame " << i;
            EXPECT_LE(maxDiff, 8) << "frame " << i;
            // Row padding stays zero.
            uint32_t stride = DibRowBytes(w, 24);
            for (uint32_t pad = static_cast<uint32_t>(w) * 3; pad < stride; ++pad)
                EXPECT_EQ(ours[i].bits[pad], 0);
        }

        // 16-bit 5-5-5 output carries the top five bits of each component.
        std::vector<Dib> sixteen = Decode(format, sample.frames, 16);
        Dib& a = sixteen.back();
        Dib& b = ours.back();
        int off = 0;
        for (int y = 0; y < h; y += 7)
            for (int x = 0; x < w; x += 5) {
                uint16_t v = ReadLE16(a.px(x, y));
                uint8_t* p = b.px(x, y);
                off += std::abs(static_cast<int>(v & 31) - (p[0] >> 3)) > 1;
                off += std::abs(static_cast<int>((v >> 10) & 31) - (p[2] >> 3)) > 1;
            }
        EXPECT_EQ(off, 0);

        // A second decoder fed from a later key frame on gives the same pictures.
        size_t key = 0;
        for (size_t i = 1; i < sample.keyFrames.size(); ++i)
            if (sample.keyFrames[i]) key = i;
        std::vector<std::vector<uint8_t>> tail(sample.frames.begin() + static_cast<long>(key),
                                               sample.frames.end());
        std::vector<Dib> again = Decode(format, tail);
        for (size_t i = 0; i < again.size(); ++i)
            EXPECT_EQ(again[i].bits, ours[key + i].bits) << "frame " << key + i;
    }
}

TEST(CodecDecompress, HostileInputNeverCrashes) {
    ICResetDrivers();
    AviSample sample;
    ASSERT_TRUE(ReadAviSample(Media("codec_mpeg4.avi"), sample));
    BITMAPINFOHEADER format = sample.header();
    format.biSize = 40;

    // Formats no codec decodes.
    BITMAPINFOHEADER raw = format;
    raw.biCompression = BI_RGB;
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, &raw, nullptr, ICMODE_DECOMPRESS), nullptr);
    BITMAPINFOHEADER unknown = format;
    unknown.biCompression = FourCC("ZZZZ");
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, &unknown, nullptr, ICMODE_DECOMPRESS), nullptr);
    BITMAPINFOHEADER huge = format;
    huge.biHeight = kMaxCodecDimension * 2;
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, &huge, nullptr, ICMODE_DECOMPRESS), nullptr);
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, nullptr, nullptr, ICMODE_DECOMPRESS), nullptr);

    HIC hic = ICLocate(ICTYPE_VIDEO, 0, &format, nullptr, ICMODE_DECOMPRESS);
    ASSERT_NE(hic, nullptr);
    Dib out(format.biWidth, format.biHeight);
    Dib wrongSize(format.biWidth + 4, format.biHeight);
    Dib eightBit(format.biWidth, format.biHeight, 8);
    EXPECT_EQ(ICDecompressQuery(hic, &format, &wrongSize.h), ICERR_BADFORMAT);
    EXPECT_EQ(ICDecompressQuery(hic, &format, &eightBit.h), ICERR_BADFORMAT);
    ASSERT_EQ(ICDecompressBegin(hic, &format, &out.h), ICERR_OK);

    auto decode = [&](const std::vector<uint8_t>& data, BITMAPINFOHEADER* target, Dib& into) {
        BITMAPINFOHEADER in = format;
        in.biSizeImage = static_cast<uint32_t>(data.size());
        return static_cast<LRESULT>(
            static_cast<int32_t>(ICDecompress(hic, 0, &in, data.data(), target, into.bits.data())));
    };
    EXPECT_EQ(decode(sample.frames[0], &out.h, out), ICERR_OK);
    Dib good = out;

    // A zero-length chunk repeats the picture; a wrong output size is refused; both leave it alone.
    EXPECT_EQ(decode({}, &out.h, out), ICERR_OK);
    EXPECT_EQ(out.bits, good.bits);
    EXPECT_EQ(decode(sample.frames[1], &wrongSize.h, out), ICERR_BADFORMAT);
    EXPECT_EQ(out.bits, good.bits);

    // Garbage, cut frames and flipped bits: any result, no crash, the decoder still works after.
    srand(7);
    for (int round = 0; round < 40; ++round) {
        std::vector<uint8_t> bad = sample.frames[static_cast<size_t>(round) % sample.frames.size()];
        if (round % 3 == 0) bad.resize(bad.size() / 2);
        for (int k = 0; k < 8; ++k)
            bad[static_cast<size_t>(rand()) % bad.size()] ^= static_cast<uint8_t>(rand());
        if (round % 5 == 0) bad.assign(500, static_cast<uint8_t>(round));
        decode(bad, &out.h, out);
    }
    BITMAPINFOHEADER tooBig = format;
    tooBig.biSizeImage = 0x7FFFFFFF;
    EXPECT_EQ(static_cast<LRESULT>(static_cast<int32_t>(
                  ICDecompress(hic, 0, &tooBig, sample.frames[0].data(), &out.h, out.bits.data()))),
              ICERR_BADSIZE);
    std::vector<Dib> fresh = Decode(&format, {sample.frames[0]});
    EXPECT_EQ(decode(sample.frames[0], &out.h, out), ICERR_OK);
    EXPECT_EQ(out.bits, fresh[0].bits);

    // Top-down output is the same picture with the rows the other way round.
    Dib topDown(format.biWidth, -format.biHeight);
    EXPECT_EQ(decode(sample.frames[0], &topDown.h, topDown), ICERR_OK);
    for (int y = 0; y < format.biHeight; y += 9)
        EXPECT_EQ(std::memcmp(topDown.px(0, y), out.px(0, y), static_cast<size_t>(format.biWidth) * 3), 0);
    ICClose(hic);
    EXPECT_EQ(ICDecompressEnd(hic), ICERR_BADHANDLE);
}

TEST(CodecDrawing, NoCodecDrawsSoDrawDibDecodes) {
    ICResetDrivers();
    AviSample sample;
    ASSERT_TRUE(ReadAviSample(Media("codec_msvideo1.avi"), sample));
    BITMAPINFOHEADER format = sample.header();
    format.biSize = 40;

    // ICDRAW_QUERY is refused by every codec, compressors and decoders alike; none is found to draw.
    std::vector<FOURCC> handlers = CompressorHandlers();
    handlers.push_back(FourCC("IV50"));
    for (FOURCC handler : handlers) {
        HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_DRAW);
        ASSERT_NE(hic, nullptr);
        EXPECT_NE(ICDrawBegin(hic, ICDRAW_QUERY | ICDRAW_HDC, nullptr, nullptr, nullptr, 0, 0, 160, 120,
                              &format, 0, 0, 160, 120, 1000000, 100000),
                  static_cast<DWORD>(ICERR_OK));
        EXPECT_NE(ICDrawBegin(hic, ICDRAW_HDC, nullptr, nullptr, nullptr, 0, 0, 160, 120, &format, 0, 0, 160,
                              120, 1000000, 100000),
                  static_cast<DWORD>(ICERR_OK));
        EXPECT_NE(ICSendMessage(hic, ICM_DRAW_QUERY, reinterpret_cast<DWORD_PTR>(&format), 0), ICERR_OK);
        ICClose(hic);
    }
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, &format, nullptr, ICMODE_DRAW), nullptr);

    struct Recorder : DrawDibPainter {
        std::vector<std::vector<uint8_t>> frames;
        DrawDibPaint last{};
        void Paint(const DrawDibPaint& p) override {
            last = p;
            auto* b = static_cast<const uint8_t*>(p.bits);
            frames.emplace_back(b, b + p.format->biSizeImage);
        }
    };
    auto recorder = std::make_shared<Recorder>();
    auto previous = SetDrawDibPainter(recorder);
    std::vector<Dib> reference = Decode(&format, sample.frames);

    HDRAWDIB hdd = DrawDibOpen();
    ASSERT_NE(hdd, nullptr);
    EXPECT_EQ(DrawDibGetBuffer(hdd, nullptr, 0, 0), nullptr);
    // Frames 0..5 decoded without drawing (msvideo1 frames after the first are deltas), 6 drawn.
    for (size_t i = 0; i < 6; ++i) {
        BITMAPINFOHEADER in = format;
        in.biSizeImage = static_cast<uint32_t>(sample.frames[i].size());
        EXPECT_TRUE(DrawDibDraw(hdd, nullptr, 0, 0, -1, -1, &in, sample.frames[i].data(), 0, 0, -1, -1,
                                DDF_DONTDRAW));
    }
    EXPECT_TRUE(recorder->frames.empty());
    BITMAPINFOHEADER got{};
    auto* buffer = static_cast<uint8_t*>(DrawDibGetBuffer(hdd, &got, sizeof got, 0));
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(got.biBitCount, 24);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + got.biSizeImage), reference[5].bits);
    BITMAPINFOHEADER in = format;
    in.biSizeImage = static_cast<uint32_t>(sample.frames[6].size());
    EXPECT_TRUE(DrawDibDraw(hdd, reinterpret_cast<HDC>(0x1), 5, 6, 320, 240, &in, sample.frames[6].data(), -1,
                            -1, -1, -1, 0));
    ASSERT_EQ(recorder->frames.size(), 1u);
    EXPECT_EQ(recorder->frames[0], reference[6].bits);
    EXPECT_EQ(recorder->last.xDst, 5);
    EXPECT_EQ(recorder->last.dxDst, 320);
    EXPECT_EQ(recorder->last.dxSrc, 160);
    EXPECT_EQ(recorder->last.dySrc, 120);
    EXPECT_TRUE(DrawDibDraw(hdd, nullptr, 0, 0, 0, 0, nullptr, nullptr, 0, 0, -1, -1, DDF_UPDATE));
    EXPECT_EQ(recorder->frames.size(), 2u);

    // Uncompressed frames of other depths are widened: an 8-bit frame through its colour table.
    struct {
        BITMAPINFOHEADER h;
        RGBQUAD colours[256];
    } pal{};
    pal.h = Dib(4, 2, 8).h;
    pal.h.biClrUsed = 2;
    pal.colours[1] = {10, 20, 30, 0};
    std::vector<uint8_t> indexes = {1, 0, 0, 1, 0, 0, 0, 0};
    EXPECT_TRUE(DrawDibDraw(hdd, nullptr, 0, 0, -1, -1, &pal.h, indexes.data(), 0, 0, -1, -1, 0));
    const std::vector<uint8_t>& wide = recorder->frames.back();
    EXPECT_EQ(std::vector<uint8_t>(wide.begin(), wide.begin() + 6),
              (std::vector<uint8_t>{10, 20, 30, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(wide.begin() + 9, wide.begin() + 12), (std::vector<uint8_t>{10, 20, 30}));

    // A format nobody decodes fails and keeps the last frame.
    BITMAPINFOHEADER unknown = format;
    unknown.biCompression = FourCC("ZZZZ");
    EXPECT_FALSE(DrawDibDraw(hdd, nullptr, 0, 0, -1, -1, &unknown, sample.frames[0].data(), 0, 0, -1, -1, 0));
    EXPECT_NE(DrawDibGetBuffer(hdd, nullptr, 0, 0), nullptr);
    EXPECT_TRUE(DrawDibClose(hdd));
    EXPECT_FALSE(DrawDibClose(hdd));
    EXPECT_FALSE(DrawDibDraw(hdd, nullptr, 0, 0, -1, -1, &format, sample.frames[0].data(), 0, 0, -1, -1, 0));
    SetDrawDibPainter(previous);
}

namespace {

struct TestDriverLog {
    std::vector<UINT> messages;
    ICOPEN lastOpen{};
} gDriverLog;

LRESULT TestDriver(DWORD_PTR id, HDRVR, UINT msg, LPARAM l1, LPARAM l2) {
    gDriverLog.messages.push_back(msg);
    switch (msg) {
        case DRV_OPEN:
            gDriverLog.lastOpen = *reinterpret_cast<ICOPEN*>(l2);
            return 42;
        case DRV_CLOSE:
            return id == 42;
        case ICM_GETINFO: {
            auto* info = reinterpret_cast<ICINFO*>(l1);
            info->fccHandler = FourCC("TEST");
            info->szDescription[0] = u'T';
            return sizeof(ICINFO);
        }
        default:
            return ICERR_UNSUPPORTED;
    }
}

}  // namespace

TEST(CodecDrivers, InstalledFunctionsComeFirstAndBuiltinsCanBeHidden) {
    ICResetDrivers();
    size_t builtins = CompressorHandlers().size();
    ASSERT_TRUE(ICInstall(ICTYPE_VIDEO, FourCC("TEST"), reinterpret_cast<LPARAM>(&TestDriver), nullptr,
                          ICINSTALL_FUNCTION));
    EXPECT_FALSE(ICInstall(ICTYPE_VIDEO, FourCC("NONE"), 0, nullptr, ICINSTALL_FUNCTION));
    std::vector<FOURCC> list = CompressorHandlers();
    ASSERT_EQ(list.size(), builtins + 1);
    EXPECT_EQ(list[0], FourCC("TEST"));

    gDriverLog = {};
    HIC hic = ICOpen(ICTYPE_VIDEO, FourCC("TEST"), ICMODE_QUERY);
    ASSERT_NE(hic, nullptr);
    EXPECT_EQ(gDriverLog.lastOpen.fccHandler, FourCC("TEST"));
    EXPECT_EQ(gDriverLog.lastOpen.dwFlags, ICMODE_QUERY);
    ICINFO info{};
    EXPECT_EQ(ICGetInfo(hic, &info, sizeof info), static_cast<LRESULT>(sizeof info));
    EXPECT_EQ(ICInfoText(info.szDescription, 128, 99), "T");
    EXPECT_EQ(ICSendMessage(hic, ICM_COMPRESS_QUERY, 0, 0), ICERR_UNSUPPORTED);
    EXPECT_EQ(ICClose(hic), ICERR_OK);
    EXPECT_EQ(gDriverLog.messages.back(), DRV_CLOSE);

    // Hiding a built-in removes it from the list and from ICOpen; a reset brings it back.
    EXPECT_TRUE(ICRemove(ICTYPE_VIDEO, FourCC("MJPG"), 0));
    EXPECT_FALSE(ICRemove(ICTYPE_VIDEO, FourCC("MJPG"), 0));
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, FourCC("MJPG"), ICMODE_COMPRESS), nullptr);
    EXPECT_EQ(CompressorHandlers().size(), builtins);
    EXPECT_TRUE(ICRemove(ICTYPE_VIDEO, FourCC("TEST"), 0));
    EXPECT_EQ(CompressorHandlers().size(), builtins - 1);
    ICResetDrivers();
    EXPECT_EQ(CompressorHandlers().size(), builtins);
}
