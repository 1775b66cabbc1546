// One stored frame through the codec stand-in's decompress path under a fuzzed format header: the
// header's checks, the decoder's set-up from the header and its extra bytes and colour table, and
// the output in each form the program asks for. The frame is one of our own compressors' (picked
// by the header's FOURCC) unless the input carries bytes of its own after the header.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/codec/codec.h"
#include "support.h"

namespace {

// The header block as the program keeps a clip's format: a BITMAPINFOHEADER and 28 bytes after it.
constexpr size_t kHeaderBlock = 68;
constexpr int32_t kPictureWidth = 32;
constexpr int32_t kPictureHeight = 24;
// Outputs beyond this are decoded without being written (the program never shows such a frame at
// once: its frame buffers are sized by the clip, which the reader already bounded). Writing a large
// output costs scaling time only (a 32x24 frame under a header of 1038x2304 took seconds under the
// sanitizers), not more of our code.
constexpr uint64_t kMaxOutputBytes = 2u << 20;

struct StoredFrame {
    FOURCC handler;
    std::string bytes;
};

BITMAPINFOHEADER PictureFormat() {
    return Dib24Format(kPictureWidth, kPictureHeight);
}

// A frame of a colour ramp from each compressor present.
std::vector<StoredFrame> MakeStoredFrames() {
    std::vector<StoredFrame> frames;
    BITMAPINFOHEADER in = PictureFormat();
    std::vector<uint8_t> picture(in.biSizeImage);
    for (size_t i = 0; i < picture.size(); i++) picture[i] = static_cast<uint8_t>(i * 7 + i / 96 * 13);
    ICINFO info{};
    for (DWORD i = 0; ICInfo(ICTYPE_VIDEO, i, &info); ++i) {
        HIC hic = ICOpen(ICTYPE_VIDEO, info.fccHandler, ICMODE_COMPRESS);
        if (!hic) continue;
        BITMAPINFOHEADER out{};
        std::vector<uint8_t> bytes;
        if (ICCompressGetFormat(hic, &in, &out) == ICERR_OK && ICCompressBegin(hic, &in, &out) == ICERR_OK) {
            out.biSizeImage = static_cast<DWORD>(std::max<LRESULT>(ICCompressGetSize(hic, &in, &out), 0));
            bytes.resize(out.biSizeImage);
            DWORD ckid = 0, flags = 0;
            if (ICCompress(hic, ICCOMPRESS_KEYFRAME, &out, bytes.data(), &in, picture.data(), &ckid, &flags,
                           0, 0, ICQUALITY_DEFAULT, nullptr, nullptr) == static_cast<DWORD>(ICERR_OK))
                frames.push_back(
                    {info.fccHandler, std::string(bytes.begin(), bytes.begin() + out.biSizeImage)});
            ICCompressEnd(hic);
        }
        ICClose(hic);
    }
    if (frames.empty()) FuzzFail("no compressor made a frame", __FILE__, __LINE__);
    return frames;
}

const StoredFrame& FrameFor(FOURCC compression, uint8_t pick) {
    static const std::vector<StoredFrame> frames = MakeStoredFrames();
    auto lower = [](FOURCC c) { return c | 0x20202020u; };
    for (const StoredFrame& f : frames)
        if (lower(f.handler) == lower(compression)) return f;
    return frames[pick % frames.size()];
}

// Decodes into outputs of the decoder's own format and of the other depths the drawing paths ask
// for, top-down as well; then shows the last picture again.
void DecodeInto(HIC hic, BITMAPINFOHEADER* in, const std::string& frame, const BITMAPINFOHEADER& decoded) {
    for (int form = 0; form < 4; form++) {
        BITMAPINFOHEADER out = decoded;
        if (form == 1) out.biBitCount = 16;
        if (form == 2) out.biBitCount = 32;
        if (form == 3) out.biHeight = -out.biHeight;
        const int32_t rows = out.biHeight < 0 ? -out.biHeight : out.biHeight;
        const uint64_t bytes = static_cast<uint64_t>(DibRowBytes(out.biWidth, out.biBitCount)) * rows;
        out.biSizeImage = static_cast<DWORD>(bytes);
        if (bytes == 0 || bytes > kMaxOutputBytes) {
            ICDecompress(hic, ICDECOMPRESS_HURRYUP, in, frame.data(), nullptr, nullptr);
            continue;
        }
        std::vector<uint8_t> pixels(bytes);
        ICDecompress(hic, 0, in, frame.data(), &out, pixels.data());
        ICDecompress(hic, ICDECOMPRESS_UPDATE, in, nullptr, &out, pixels.data());
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    uint8_t block[kHeaderBlock] = {};
    std::memcpy(block, data, std::min(size, kHeaderBlock));
    const uint32_t headerSize = ReadLE32(block);
    const uint32_t extra = headerSize >= 40 ? std::min<uint32_t>(headerSize - 40, 4096) : 0;
    // What the codec may read: the header, its extra bytes and a colour table after them.
    std::vector<uint8_t> format(40 + extra + 1024, 0);
    std::memcpy(format.data(), block, std::min(format.size(), kHeaderBlock));
    auto* in = reinterpret_cast<BITMAPINFOHEADER*>(format.data());
    if (in->biBitCount <= 8)
        for (int i = 0; i < 256; i++) std::memset(format.data() + 40 + extra + 4 * i, i, 3);

    const std::string frame =
        size > kHeaderBlock
            ? std::string(reinterpret_cast<const char*>(data) + kHeaderBlock, size - kHeaderBlock)
            : FrameFor(in->biCompression, block[0]).bytes;
    in->biSizeImage = static_cast<DWORD>(frame.size());

    HIC hic = ICLocate(ICTYPE_VIDEO, 0, in, nullptr, ICMODE_DECOMPRESS);
    if (!hic) return 0;
    BITMAPINFOHEADER decoded{};
    if (ICDecompressGetFormat(hic, in, &decoded) == ICERR_OK) {
        FUZZ_CHECK(decoded.biWidth == in->biWidth && decoded.biBitCount == 24);
        if (ICDecompressBegin(hic, in, &decoded) == ICERR_OK) DecodeInto(hic, in, frame, decoded);
        ICDecompressEnd(hic);
    }
    ICClose(hic);
    FuzzTakeMessageCount();
    return 0;
}
