// The codecs over libavcodec: the compressor list and what each tells of itself, round trips of
// every compressor through our decoder and ffmpeg's, the quality reaching the encoder, refused and
// hostile input, decoding ffmpeg's samples, DrawDib decoding without drawing. Installed function
// drivers are exercised by the fake compressors of the render tests.
#include "platform/codec/codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/codec/drawdib.h"
#include "support/crafted.h"
#include "support/ffprobe.h"
#include "support/scripted.h"

using media_test::Quote;
using media_test::Shell;
using media_test::TestData;

namespace {

std::string Text(FOURCC code) {
    return std::string(reinterpret_cast<const char*>(&code), 4);
}

// A DIB with rows padded to 4 bytes; px is pixel x of row y counted from the top.
struct Dib {
    BITMAPINFOHEADER h{};
    std::vector<uint8_t> bits;
    Dib(int32_t w, int32_t height, uint16_t bpp = 24) {
        const uint32_t size = DibRowBytes(w, bpp) * static_cast<uint32_t>(std::abs(height));
        h = BITMAPINFOHEADER{40, w, height, 1, bpp, BI_RGB, size, 0, 0, 0, 0};
        bits.assign(h.biSizeImage, 0);
    }
    uint8_t* px(int x, int y) {
        const int32_t row = h.biHeight > 0 ? h.biHeight - 1 - y : y;
        return &bits[static_cast<size_t>(row) * DibRowBytes(h.biWidth, h.biBitCount) + x * h.biBitCount / 8];
    }
};

// Smooth colour ramps with a bright square that moves with t.
Dib Synthetic(int32_t w, int32_t h, int t) {
    Dib d(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = d.px(x, y);
            const bool square = x >= 10 + 3 * t && x < 40 + 3 * t && y >= 20 && y < 50;
            p[0] = square ? 230 : static_cast<uint8_t>(x * 255 / w);
            p[1] = square ? 230 : static_cast<uint8_t>(y * 255 / h);
            p[2] = square ? 230 : static_cast<uint8_t>((x + y + 8 * t) & 255);
        }
    return d;
}

// The mean absolute difference of two 24-bit pictures, and their largest difference in *largest.
double Diff(Dib& a, Dib& b, int* largest = nullptr) {
    long sum = 0;
    int most = 0;
    for (int y = 0; y < std::abs(a.h.biHeight); ++y)
        for (int x = 0; x < a.h.biWidth * 3; ++x) {
            const int d = std::abs(a.px(0, y)[x] - b.px(0, y)[x]);
            sum += d, most = std::max(most, d);
        }
    if (largest) *largest = most;
    return static_cast<double>(sum) / (3.0 * a.h.biWidth * std::abs(a.h.biHeight));
}

// Top-down bgr24 frames, as ffmpeg writes them, as DIBs.
std::vector<Dib> FromRaw(const std::string& raw, int32_t w, int32_t h) {
    std::vector<Dib> frames;
    for (size_t at = 0; at + static_cast<size_t>(w * h * 3) <= raw.size();
         at += static_cast<size_t>(w * h * 3)) {
        frames.emplace_back(w, h);
        for (int y = 0; y < h; ++y)
            std::memcpy(frames.back().px(0, y), &raw[at + static_cast<size_t>(y * w * 3)],
                        static_cast<size_t>(w) * 3);
    }
    return frames;
}

std::vector<FOURCC> CompressorHandlers() {
    std::vector<FOURCC> list;
    ICINFO info;
    for (DWORD i = 0; ICInfo(ICTYPE_VIDEO, i, &info); ++i) list.push_back(info.fccHandler);
    return list;
}

struct Encoded {
    BITMAPINFOHEADER format{};
    std::vector<std::string> frames;
};

// Compresses the frames with handler at the quality: each a key frame in a "00dc" chunk that fits
// the capacity the format promises.
Encoded Encode(FOURCC handler, std::vector<Dib>& input, DWORD quality) {
    Encoded e;
    HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_COMPRESS);
    EXPECT_EQ(ICCompressGetFormatSize(hic, &input[0].h), static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)));
    EXPECT_EQ(ICCompressGetFormat(hic, &input[0].h, &e.format), ICERR_OK);
    EXPECT_EQ(ICCompressBegin(hic, &input[0].h, &e.format), ICERR_OK);
    const uint32_t capacity = input[0].h.biSizeImage;
    std::vector<char> out(capacity + 68);
    for (size_t i = 0; i < input.size(); ++i) {
        BITMAPINFOHEADER fmt = e.format;
        DWORD ckid = 0, flags = 0;
        EXPECT_EQ(ICCompress(hic, ICCOMPRESS_KEYFRAME, &fmt, out.data(), &input[i].h, input[i].bits.data(),
                             &ckid, &flags, static_cast<LONG>(i), 0, quality, nullptr, nullptr),
                  static_cast<DWORD>(ICERR_OK));
        EXPECT_TRUE(ckid == FourCC("00dc") && flags == AVIIF_KEYFRAME && fmt.biSizeImage <= capacity);
        e.frames.emplace_back(out.data(), std::min(fmt.biSizeImage, capacity));
    }
    EXPECT_EQ(ICCompressEnd(hic), ICERR_OK);
    EXPECT_EQ(ICClose(hic), ICERR_OK);
    return e;
}

// Decodes the frames in order with a decoder found for format, into bpp-bit bottom-up DIBs.
std::vector<Dib> Decode(const BITMAPINFOHEADER* format, const std::vector<std::string>& frames,
                        uint16_t bpp = 24) {
    std::vector<Dib> out;
    HIC hic = ICLocate(ICTYPE_VIDEO, 0, const_cast<BITMAPINFOHEADER*>(format), nullptr, ICMODE_DECOMPRESS);
    EXPECT_NE(hic, nullptr);
    Dib target(format->biWidth, std::abs(format->biHeight), bpp);
    BITMAPINFOHEADER def{}, in = *format;
    EXPECT_EQ(ICDecompressGetFormat(hic, &in, &def), ICERR_OK);
    EXPECT_TRUE(def.biBitCount == 24 && def.biCompression == BI_RGB &&
                def.biSizeImage == Dib(def.biWidth, def.biHeight).h.biSizeImage);
    EXPECT_EQ(ICDecompressBegin(hic, &in, &target.h), ICERR_OK);
    for (const auto& f : frames) {
        in.biSizeImage = static_cast<uint32_t>(f.size());
        EXPECT_EQ(ICDecompress(hic, 0, &in, f.data(), &target.h, target.bits.data()),
                  static_cast<DWORD>(ICERR_OK));
        out.push_back(target);
    }
    ICClose(hic);
    return out;
}

// The first video stream of an AVI made by ffmpeg: its strf bytes, and each "00dc" chunk with the
// key-frame flag idx1 gives it (idx1 offsets count from the "movi" tag). False when it is missing.
struct Sample {
    std::string format;
    std::vector<std::string> frames;
    std::vector<bool> keys;
    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(format.data()); }
};
bool ReadSample(const std::string& name, Sample& s) {
    const std::string f = ReadWholeFile(TestData(name));
    const size_t strf = f.find("strf"), movi = f.find("movi"), idx1 = f.rfind("idx1");
    if (strf == std::string::npos || movi == std::string::npos || idx1 == std::string::npos) return false;
    s.format = f.substr(strf + 8, ReadLE32(&f[strf + 4]));
    for (size_t e = idx1 + 8; e + 16 <= f.size(); e += 16) {
        const size_t at = movi + ReadLE32(&f[e + 8]) + 8;
        if (f.compare(e, 4, "00dc") || at + ReadLE32(&f[e + 12]) > f.size()) continue;
        s.frames.push_back(f.substr(at, ReadLE32(&f[e + 12])));
        s.keys.push_back(ReadLE32(&f[e + 4]) & AVIIF_KEYFRAME);
    }
    return !s.frames.empty();
}

// ffmpeg's decode of compressed frames written into an AVI file.
std::vector<Dib> FfmpegDecode(const std::string& path, const Encoded& e, FOURCC handler) {
    crafted::CraftedAvi avi;
    avi.width = e.format.biWidth, avi.height = e.format.biHeight, avi.bits = e.format.biBitCount;
    avi.compression = e.format.biCompression, avi.handler = handler;
    for (const auto& f : e.frames) avi.chunks.push_back({"00dc", AVIIF_KEYFRAME, f});
    WriteWholeFile(path, avi.Build());
    return FromRaw(Shell("ffmpeg -nostdin -v error -i " + Quote(path) + " -f rawvideo -pix_fmt bgr24 -"),
                   e.format.biWidth, e.format.biHeight);
}

}  // namespace

TEST(Codecs, CompressorsDescribeThemselvesAndOpenByCode) {
    ICResetDrivers();
    const std::vector<FOURCC> handlers = CompressorHandlers();
    for (FOURCC must : {FourCC("MJPG"), FourCC("FFV1"), FourCC("FMP4"), FourCC("MSVC"), FourCC("cvid")})
        EXPECT_NE(std::find(handlers.begin(), handlers.end(), must), handlers.end()) << Text(must);
    for (FOURCC handler : handlers) {
        SCOPED_TRACE(Text(handler));
        HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_QUERY);
        ASSERT_NE(hic, nullptr);
        ICINFO info{}, part{};
        EXPECT_EQ(ICGetInfo(hic, &info, sizeof info), static_cast<LRESULT>(sizeof info));
        EXPECT_TRUE(info.fccHandler == handler && info.fccType == ICTYPE_VIDEO);
        EXPECT_TRUE(ICGetInfo(hic, &part, 12) == 12 && part.fccHandler == handler && part.dwFlags == 0);
        // A quality scale where the encoder has one; no configuration; the about box shows the
        // description.
        const bool quality = handler != FourCC("FFV1") && handler != FourCC("MSVC");
        EXPECT_EQ((info.dwFlags & VIDCF_QUALITY) != 0, quality);
        EXPECT_EQ(ICGetDefaultQuality(hic) <= 10000, quality);
        EXPECT_FALSE(ICQueryConfigure(hic));
        const std::string description = ICInfoText(info.szDescription, 128, 99);
        ScopedBoxes boxes;
        EXPECT_TRUE(ICQueryAbout(hic) && ICAbout(hic, nullptr) == ICERR_OK && !description.empty());
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{description});
        EXPECT_EQ(ICClose(hic), ICERR_OK);
        EXPECT_EQ(ICClose(hic), ICERR_BADHANDLE);
    }
    // Codes are found whatever their case; a decoder-only code opens for decompression only.
    EXPECT_TRUE(ICInfo(ICTYPE_VIDEO, FourCC("mjpg"), nullptr));
    EXPECT_FALSE(ICInfo(ICTYPE_VIDEO, FourCC("ZZZZ"), nullptr) ||
                 ICOpen(ICTYPE_VIDEO, FourCC("ZZZZ"), ICMODE_QUERY));
    EXPECT_EQ(ICOpen(ICTYPE_VIDEO, FourCC("IV32"), ICMODE_COMPRESS), nullptr);
    HIC indeo = ICOpen(ICTYPE_VIDEO, FourCC("IV32"), ICMODE_DECOMPRESS);
    EXPECT_NE(indeo, nullptr);
    ICClose(indeo);
}

TEST(Codecs, EveryCompressorRoundTripsThroughOurDecoderAndFfmpegs) {
    ICResetDrivers();
    TempDir dir;
    for (FOURCC handler : CompressorHandlers()) {
        SCOPED_TRACE(Text(handler));
        // 162 x 122 has padded rows; the block codecs need multiples of 4.
        const bool blocks = handler == FourCC("MSVC") || handler == FourCC("cvid");
        const int32_t w = blocks ? 160 : 162, h = blocks ? 120 : 122;
        std::vector<Dib> input;
        for (int t = 0; t < 4; ++t) input.push_back(Synthetic(w, h, t));
        const std::vector<Dib> kept = input;
        const Encoded e = Encode(handler, input, 9000);
        ASSERT_EQ(e.frames.size(), input.size());
        EXPECT_TRUE(e.format.biSize == 40 && e.format.biCompression == handler && e.format.biWidth == w &&
                    e.format.biHeight == h);
        for (size_t i = 0; i < input.size(); ++i) EXPECT_EQ(input[i].bits, kept[i].bits) << "input untouched";
        // Every frame decodes on its own and close to its input (FFV1 exactly); ffmpeg's decode of
        // the frames in an AVI file agrees with ours.
        std::vector<Dib> alone = Decode(&e.format, {e.frames.back()}), ours = Decode(&e.format, e.frames);
        ASSERT_EQ(alone.size(), 1u);
        EXPECT_LT(Diff(alone[0], input.back()), handler == FourCC("FFV1") ? 1e-9 : 8.0);
        std::vector<Dib> ref = FfmpegDecode(dir.file(Text(handler) + ".avi"), e, handler);
        ASSERT_EQ(ref.size(), ours.size());
        for (size_t i = 0; i < ours.size(); ++i) EXPECT_LT(Diff(ours[i], ref[i]), 1.0) << "frame " << i;
    }
}

TEST(Codecs, QualityReachesTheEncoder) {
    ICResetDrivers();
    for (FOURCC handler : {FourCC("MJPG"), FourCC("FMP4"), FourCC("cvid"), FourCC("H264")}) {
        if (!ICInfo(ICTYPE_VIDEO, handler, nullptr)) continue;  // H.264 needs libx264
        SCOPED_TRACE(Text(handler));
        std::vector<Dib> input = {Synthetic(160, 120, 1)};
        const Encoded high = Encode(handler, input, 10000), low = Encode(handler, input, 0),
                      def = Encode(handler, input, ICQUALITY_DEFAULT);
        EXPECT_GT(high.frames[0].size(), low.frames[0].size());
        EXPECT_TRUE(high.frames[0].size() >= def.frames[0].size() &&
                    def.frames[0].size() >= low.frames[0].size());
        EXPECT_LT(Diff(Decode(&high.format, high.frames)[0], input[0]),
                  Diff(Decode(&low.format, low.frames)[0], input[0]));
        // 100 is the encoder's visually transparent setting, not a lossless stream of FFV1's size.
        if (handler != FourCC("cvid")) {
            EXPECT_LT(high.frames[0].size() * 3, Encode(FourCC("FFV1"), input, 10000).frames[0].size());
        }
    }
}

TEST(Codecs, RefusedCompressionChangesNothing) {
    ICResetDrivers();
    HIC mjpg = ICOpen(ICTYPE_VIDEO, FourCC("MJPG"), ICMODE_COMPRESS);
    ASSERT_NE(mjpg, nullptr);
    Dib frame = Synthetic(64, 48, 0), sixteen(64, 48, 16), odd = Synthetic(62, 46, 0);
    BITMAPINFOHEADER out{}, huge = frame.h, negative = frame.h;
    huge.biWidth = kMaxCodecDimension + 1, negative.biWidth = -64;
    for (BITMAPINFOHEADER* bad : {&sixteen.h, &huge, &negative, static_cast<BITMAPINFOHEADER*>(nullptr)})
        EXPECT_EQ(ICCompressQuery(mjpg, bad, nullptr), ICERR_BADFORMAT);
    EXPECT_EQ(ICCompressGetFormat(mjpg, &sixteen.h, &out), ICERR_BADFORMAT);
    EXPECT_EQ(out.biSize, 0u);
    // The block codecs take only multiples of 4.
    for (FOURCC block : {FourCC("MSVC"), FourCC("cvid")}) {
        HIC hic = ICOpen(ICTYPE_VIDEO, block, ICMODE_QUERY);
        EXPECT_TRUE(ICCompressQuery(hic, &frame.h, nullptr) == ICERR_OK &&
                    ICCompressQuery(hic, &odd.h, nullptr) == ICERR_BADFORMAT)
            << Text(block);
        ICClose(hic);
    }
    // Before the begin, a frame of another size, an output buffer too small: refused, the buffer,
    // header, chunk id and flags untouched; the encoder goes on working after.
    ASSERT_EQ(ICCompressGetFormat(mjpg, &frame.h, &out), ICERR_OK);
    std::vector<uint8_t> buffer(frame.h.biSizeImage + 68, 0xAB);
    DWORD ckid = 7, flags = 7;
    auto compress = [&](Dib& in, uint32_t room) {
        BITMAPINFOHEADER fmt = out;
        fmt.biSizeImage = room;
        const auto r = static_cast<LRESULT>(
            static_cast<int32_t>(ICCompress(mjpg, 0, &fmt, buffer.data(), &in.h, in.bits.data(), &ckid,
                                            &flags, 0, 0, 10000, nullptr, nullptr)));
        EXPECT_TRUE(r == ICERR_OK ||
                    (fmt.biSizeImage == room && ckid == 7 && flags == 7 &&
                     std::count(buffer.begin(), buffer.end(), 0xAB) == static_cast<long>(buffer.size())));
        return r;
    };
    EXPECT_EQ(compress(frame, frame.h.biSizeImage), ICERR_BADFORMAT);
    ASSERT_EQ(ICCompressBegin(mjpg, &frame.h, &out), ICERR_OK);
    EXPECT_EQ(compress(odd, frame.h.biSizeImage), ICERR_BADFORMAT);
    EXPECT_EQ(compress(frame, 16), ICERR_BADSIZE);
    EXPECT_EQ(compress(frame, frame.h.biSizeImage), ICERR_OK);
    ICClose(mjpg);  // closes an open compression too
    // A decoder-only handle never compresses; a handle that is no codec is refused.
    HIC dec = ICOpen(ICTYPE_VIDEO, FourCC("MJPG"), ICMODE_DECOMPRESS);
    EXPECT_EQ(ICCompressQuery(dec, &frame.h, nullptr), ICERR_UNSUPPORTED);
    ICClose(dec);
    EXPECT_EQ(ICSendMessage(reinterpret_cast<HIC>(&buffer), ICM_COMPRESS_QUERY, 0, 0), ICERR_BADHANDLE);
}

TEST(Codecs, FfmpegSamplesDecodeAsFfmpegDecodesThem) {
    ICResetDrivers();
    for (const char* clip : {"codec_mjpeg", "codec_msvideo1", "codec_cinepak", "codec_mpeg4", "codec_h264"}) {
        SCOPED_TRACE(clip);
        Sample sample;
        if (!ReadSample(clip + std::string(".avi"), sample)) {
            EXPECT_STREQ(clip, "codec_h264") << "sample missing";  // only H.264 may be absent
            continue;
        }
        const int32_t w = sample.header()->biWidth, h = sample.header()->biHeight;
        const std::vector<Dib> ref = FromRaw(ReadWholeFile(TestData(clip + std::string(".bgr"))), w, h);
        std::vector<Dib> ours = Decode(sample.header(), sample.frames),
                         sixteen = Decode(sample.header(), sample.frames, 16);
        ASSERT_TRUE(ref.size() == sample.frames.size() && ours.size() == ref.size());
        for (size_t i = 0; i < ours.size(); ++i) {
            int largest = 0;
            EXPECT_LT(Diff(ours[i], const_cast<Dib&>(ref[i]), &largest), 0.5) << "frame " << i;
            EXPECT_LE(largest, 8) << "frame " << i;
            for (uint32_t pad = static_cast<uint32_t>(w) * 3; pad < DibRowBytes(w, 24); ++pad)
                EXPECT_EQ(ours[i].bits[pad], 0) << "row padding stays zero";
        }
        // 16-bit 5-5-5 output carries the top five bits of each component.
        int off = 0;
        for (int y = 0; y < h; y += 7)
            for (int x = 0; x < w; x += 5) {
                const uint16_t v = ReadLE16(sixteen.back().px(x, y));
                const uint8_t* p = ours.back().px(x, y);
                off += std::abs((v & 31) - (p[0] >> 3)) > 1 || std::abs(((v >> 10) & 31) - (p[2] >> 3)) > 1;
            }
        EXPECT_EQ(off, 0);
        // A second decoder fed from the last key frame on gives the same pictures.
        size_t key = 0;
        for (size_t i = 1; i < sample.keys.size(); ++i) key = sample.keys[i] ? i : key;
        std::vector<Dib> again =
            Decode(sample.header(), {sample.frames.begin() + static_cast<long>(key), sample.frames.end()});
        for (size_t i = 0; i < again.size(); ++i)
            EXPECT_EQ(again[i].bits, ours[key + i].bits) << "frame " << key + i;
    }
}

TEST(Codecs, HostileInputIsRefusedOrSurvived) {
    ICResetDrivers();
    Sample sample;
    ASSERT_TRUE(ReadSample("codec_mpeg4.avi", sample));
    BITMAPINFOHEADER format = *sample.header();
    format.biSize = 40;
    // Formats no codec decodes, or of no sensible size, find no decoder.
    BITMAPINFOHEADER raw = format, unknown = format, huge = format;
    raw.biCompression = BI_RGB, unknown.biCompression = FourCC("ZZZZ");
    huge.biHeight = kMaxCodecDimension * 2;
    for (BITMAPINFOHEADER* bad : {&raw, &unknown, &huge, static_cast<BITMAPINFOHEADER*>(nullptr)})
        EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, bad, nullptr, ICMODE_DECOMPRESS), nullptr);
    HIC hic = ICLocate(ICTYPE_VIDEO, 0, &format, nullptr, ICMODE_DECOMPRESS);
    ASSERT_NE(hic, nullptr);
    Dib out(format.biWidth, format.biHeight), wrongSize(format.biWidth + 4, format.biHeight),
        eightBit(format.biWidth, format.biHeight, 8), topDown(format.biWidth, -format.biHeight);
    EXPECT_EQ(ICDecompressQuery(hic, &format, &wrongSize.h), ICERR_BADFORMAT);
    EXPECT_EQ(ICDecompressQuery(hic, &format, &eightBit.h), ICERR_BADFORMAT);
    ASSERT_EQ(ICDecompressBegin(hic, &format, &out.h), ICERR_OK);
    auto decode = [&](const std::string& data, Dib& into, uint32_t size) {
        BITMAPINFOHEADER in = format;
        in.biSizeImage = size;
        return static_cast<LRESULT>(
            static_cast<int32_t>(ICDecompress(hic, 0, &in, data.data(), &into.h, into.bits.data())));
    };
    const std::string& first = sample.frames[0];
    EXPECT_EQ(decode(first, out, static_cast<uint32_t>(first.size())), ICERR_OK);
    const Dib good = out;
    // A zero-length chunk repeats the picture; a wrong output size and a size past the limit are
    // refused; all leave it alone.
    EXPECT_EQ(decode("", out, 0), ICERR_OK);
    EXPECT_EQ(decode(sample.frames[1], wrongSize, static_cast<uint32_t>(sample.frames[1].size())),
              ICERR_BADFORMAT);
    EXPECT_EQ(decode(first, out, 0x7FFFFFFF), ICERR_BADSIZE);
    EXPECT_EQ(out.bits, good.bits);
    // Garbage, cut frames and flipped bits: any result, no crash, and the decoder still works after.
    srand(7);
    for (int round = 0; round < 40; ++round) {
        std::string bad = sample.frames[static_cast<size_t>(round) % sample.frames.size()];
        if (round % 3 == 0) bad.resize(bad.size() / 2);
        for (int k = 0; k < 8; ++k)
            bad[static_cast<size_t>(rand()) % bad.size()] ^= static_cast<char>(rand());
        if (round % 5 == 0) bad.assign(500, static_cast<char>(round));
        decode(bad, out, static_cast<uint32_t>(bad.size()));
    }
    EXPECT_EQ(decode(first, out, static_cast<uint32_t>(first.size())), ICERR_OK);
    EXPECT_EQ(out.bits, Decode(&format, {first})[0].bits);
    // Top-down output is the same picture with the rows the other way round.
    EXPECT_EQ(decode(first, topDown, static_cast<uint32_t>(first.size())), ICERR_OK);
    for (int y = 0; y < format.biHeight; y += 9)
        EXPECT_EQ(std::memcmp(topDown.px(0, y), out.px(0, y), static_cast<size_t>(format.biWidth) * 3), 0);
    ICClose(hic);
    EXPECT_EQ(ICDecompressEnd(hic), ICERR_BADHANDLE);

    // A frame far larger than its format says (a progressive JPEG claiming 19744 x 11074 under a
    // 2272 x 232 header made its decoder take 1.7 GB) is refused before the decoder sizes anything.
    std::vector<Dib> picture{Synthetic(640, 480, 0)};
    const Encoded big = Encode(FourCC("MJPG"), picture, 9000);
    ASSERT_EQ(big.frames.size(), 1u);
    BITMAPINFOHEADER small = big.format;
    small.biWidth = 40, small.biHeight = 30;
    small.biSizeImage = static_cast<DWORD>(big.frames[0].size());
    Dib smallOut(small.biWidth, small.biHeight);
    hic = ICLocate(ICTYPE_VIDEO, 0, &small, nullptr, ICMODE_DECOMPRESS);
    ASSERT_NE(hic, nullptr);
    ASSERT_EQ(ICDecompressBegin(hic, &small, &smallOut.h), ICERR_OK);
    EXPECT_NE(static_cast<int32_t>(
                  ICDecompress(hic, 0, &small, big.frames[0].data(), &smallOut.h, smallOut.bits.data())),
              ICERR_OK);
    ICClose(hic);
}

TEST(Codecs, NoCodecDrawsSoDrawDibDecodes) {
    ICResetDrivers();
    Sample sample;
    ASSERT_TRUE(ReadSample("codec_msvideo1.avi", sample));
    BITMAPINFOHEADER format = *sample.header();
    format.biSize = 40;
    // ICDRAW_QUERY is refused by every codec, compressors and decoders alike; none is found to draw.
    std::vector<FOURCC> handlers = CompressorHandlers();
    handlers.push_back(FourCC("IV50"));
    for (FOURCC handler : handlers) {
        HIC hic = ICOpen(ICTYPE_VIDEO, handler, ICMODE_DRAW);
        EXPECT_NE(ICDrawBegin(hic, ICDRAW_QUERY | ICDRAW_HDC, nullptr, nullptr, nullptr, 0, 0, 160, 120,
                              &format, 0, 0, 160, 120, 1000000, 100000),
                  static_cast<DWORD>(ICERR_OK))
            << Text(handler);
        ICClose(hic);
    }
    EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, &format, nullptr, ICMODE_DRAW), nullptr);

    struct Recorder : DrawDibPainter {
        std::vector<std::vector<uint8_t>> frames;  // the picture of each paint
        int width = 0;                             // of the last paint's destination
        void Paint(const DrawDibPaint& p) override {
            width = p.dxDst;
            frames.emplace_back(static_cast<const uint8_t*>(p.bits),
                                static_cast<const uint8_t*>(p.bits) + p.format->biSizeImage);
        }
    };
    auto recorder = std::make_shared<Recorder>();
    auto previous = SetDrawDibPainter(recorder);
    const std::vector<Dib> reference = Decode(&format, sample.frames);
    HDRAWDIB hdd = DrawDibOpen();
    ASSERT_NE(hdd, nullptr);
    EXPECT_EQ(DrawDibGetBuffer(hdd, nullptr, 0, 0), nullptr);
    // Frames 0-5 decoded without drawing (Video 1 frames after the first are deltas), 6 drawn, then
    // drawn again.
    auto draw = [&](size_t i, HDC dc, int x, int w, UINT flags) {
        BITMAPINFOHEADER in = format;
        in.biSizeImage = static_cast<uint32_t>(sample.frames[i].size());
        return DrawDibDraw(hdd, dc, x, 6, w, 240, &in, sample.frames[i].data(), 0, 0, -1, -1, flags);
    };
    for (size_t i = 0; i < 6; ++i) EXPECT_TRUE(draw(i, nullptr, 0, -1, DDF_DONTDRAW));
    EXPECT_TRUE(recorder->frames.empty());
    BITMAPINFOHEADER got{};
    const auto* buffer = static_cast<const uint8_t*>(DrawDibGetBuffer(hdd, &got, sizeof got, 0));
    ASSERT_TRUE(buffer && got.biBitCount == 24);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + got.biSizeImage), reference[5].bits);
    EXPECT_TRUE(draw(6, reinterpret_cast<HDC>(0x1), 5, 320, 0));
    EXPECT_EQ(recorder->width, 320);
    EXPECT_TRUE(DrawDibDraw(hdd, nullptr, 0, 0, 0, 0, nullptr, nullptr, 0, 0, -1, -1, DDF_UPDATE));
    ASSERT_EQ(recorder->frames.size(), 2u);
    EXPECT_TRUE(recorder->frames[0] == reference[6].bits && recorder->frames[1] == reference[6].bits);
    // A format nobody decodes fails and keeps the last frame; a closed DrawDib refuses.
    BITMAPINFOHEADER unknown = format;
    unknown.biCompression = FourCC("ZZZZ");
    EXPECT_FALSE(DrawDibDraw(hdd, nullptr, 0, 0, -1, -1, &unknown, sample.frames[0].data(), 0, 0, -1, -1, 0));
    EXPECT_NE(DrawDibGetBuffer(hdd, nullptr, 0, 0), nullptr);
    EXPECT_TRUE(DrawDibClose(hdd));
    EXPECT_FALSE(DrawDibClose(hdd) || draw(0, nullptr, 0, -1, 0));
    SetDrawDibPainter(previous);
}
