// The built-in codecs: libavcodec encoders and decoders behind the ICM_* messages, with libswscale
// converting between the caller's DIB rows and the codec's pixel format.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <mutex>
#include <string>

#include "core/diag.h"
#include "platform/codec/bgr420.h"
#include "platform/codec/driver.h"

namespace codec_internal {
namespace {

// A compressed frame larger than this is refused without being read.
constexpr uint32_t kMaxCompressedFrameBytes = 128u << 20;
// Colour-table entries read after an 8-bit (or smaller) input header.
constexpr uint32_t kMaxPaletteEntries = 256;
// Format bytes after the 40-byte header handed to a decoder as its extra data.
constexpr uint32_t kMaxExtraDataBytes = 4096;

constexpr FOURCC kChunkId00dc = FourCC("00dc");
constexpr int kSwsFlags = SWS_BICUBIC;
// How many times the format's picture area a decoder may ask for (codecs pad their coded size, and
// MPEG-4 part 2 keeps scratch pictures twice as wide and high), and the least allowed whatever the
// format says.
constexpr int64_t kMaxPixelsOverFormat = 16;
constexpr int64_t kMinMaxPixels = 256 * 256;

enum class QualityScale { None, Quantiser, Crf, Lambda };

struct CompressorDef {
    FOURCC handler;
    const char* encoder;
    const char* name;
    const char* description;
    QualityScale scale;
    DWORD defaultQuality;
    AVPixelFormat pixFmt;
    uint16_t bitCount;  // in the output header; decoders of MSVC read the depth from it
    bool multipleOf4;
    // Frames come out the same whatever came before them (VIDCF_INDEPENDENT). Not so for MPEG-4
    // (each header counts seconds since the frame before), H.264 (rate control), Microsoft Video 1
    // and Cinepak (their vector quantisers draw from a random generator that runs on).
    bool independent;
};

const CompressorDef kCompressors[] = {
    {FourCC("MJPG"), "mjpeg", "MJPEG", "Motion JPEG", QualityScale::Quantiser, 9000, AV_PIX_FMT_YUVJ420P, 24,
     false, true},
    {FourCC("FFV1"), "ffv1", "FFV1", "FFV1 lossless", QualityScale::None, 0, AV_PIX_FMT_BGR0, 24, false,
     true},
    {FourCC("FMP4"), "mpeg4", "MPEG-4", "MPEG-4 Visual (intra)", QualityScale::Quantiser, 9000,
     AV_PIX_FMT_YUV420P, 24, false, false},
    {FourCC("H264"), "libx264", "H.264", "H.264 (x264, intra)", QualityScale::Crf, kH264DefaultQuality * 100,
     AV_PIX_FMT_YUV420P, 24, false, false},
    {FourCC("MSVC"), "msvideo1", "MSVC", "Microsoft Video 1", QualityScale::None, 0, AV_PIX_FMT_RGB555LE, 16,
     true, false},
    {FourCC("cvid"), "cinepak", "Cinepak", "Cinepak", QualityScale::Lambda, 5000, AV_PIX_FMT_RGB24, 24, true,
     false},
};

const AVCodecTag* const* RiffTags() {
    static const AVCodecTag* const tags[] = {avformat_get_riff_video_tags(), nullptr};
    return tags;
}

const CompressorDef* FindDef(FOURCC handler) {
    for (const auto& def : kCompressors)
        if (LowerFourCC(def.handler) == LowerFourCC(handler)) return &def;
    return nullptr;
}

bool DefAvailable(const CompressorDef& def) {
    InitLibav();
    return avcodec_find_encoder_by_name(def.encoder) != nullptr;
}

// The decoder for a stored compression code; raw and bit-field frames are not for codecs.
AVCodecID DecoderIdFor(FOURCC compression) {
    if (compression == BI_RGB || compression == 3 /* BI_BITFIELDS */) return AV_CODEC_ID_NONE;
    InitLibav();
    AVCodecID id = av_codec_get_id(RiffTags(), compression);
    if (id == AV_CODEC_ID_NONE || !avcodec_find_decoder(id)) return AV_CODEC_ID_NONE;
    return id;
}

void SetText(WCHAR* dst, int capacity, const char* text) {
    int i = 0;
    for (; text && text[i] && i < capacity - 1; ++i) dst[i] = static_cast<unsigned char>(text[i]);
    dst[i] = 0;
}

void FillInfo(ICINFO* info, FOURCC handler, DWORD flags, const char* name, const char* description) {
    std::memset(info, 0, sizeof *info);
    info->dwSize = sizeof *info;
    info->fccType = ICTYPE_VIDEO;
    info->fccHandler = handler;
    info->dwFlags = flags;
    info->dwVersion = LIBAVCODEC_VERSION_INT;
    info->dwVersionICM = ICVERSION;
    SetText(info->szName, 16, name);
    SetText(info->szDescription, 128, description);
    SetText(info->szDriver, 128, "libavcodec");
}

void FillDefInfo(ICINFO* info, const CompressorDef& def) {
    const DWORD flags =
        (def.scale != QualityScale::None ? VIDCF_QUALITY : 0) | (def.independent ? VIDCF_INDEPENDENT : 0);
    FillInfo(info, def.handler, flags, def.name, def.description);
}

// Compressors whose own picture format is 4:2:0 take J420 frames.
bool TakesJ420(const CompressorDef& def) {
    return def.pixFmt == AV_PIX_FMT_YUVJ420P || def.pixFmt == AV_PIX_FMT_YUV420P;
}

bool IsJ420(const BITMAPINFOHEADER& bi) {
    return bi.biCompression == kFormatJ420 && bi.biBitCount == 12 && bi.biHeight > 0;
}

// The three planes of a J420 frame at bits.
void J420Planes(const void* bits, int32_t w, int32_t h, uint8_t* planes[4], int strides[4]) {
    auto* p = static_cast<uint8_t*>(const_cast<void*>(bits));
    const int32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    planes[0] = p;
    planes[1] = p + static_cast<size_t>(w) * h;
    planes[2] = planes[1] + static_cast<size_t>(cw) * ch;
    planes[3] = nullptr;
    strides[0] = w;
    strides[1] = strides[2] = cw;
    strides[3] = 0;
}

int32_t AbsHeight(const BITMAPINFOHEADER& bi) {
    return bi.biHeight == INT32_MIN ? 0 : (bi.biHeight < 0 ? -bi.biHeight : bi.biHeight);
}

bool DimensionsOk(const BITMAPINFOHEADER& bi) {
    int32_t h = AbsHeight(bi);
    return bi.biWidth > 0 && bi.biWidth <= kMaxCodecDimension && h > 0 && h <= kMaxCodecDimension;
}

AVPixelFormat DibPixelFormat(uint16_t bitCount) {
    switch (bitCount) {
        case 16:
            return AV_PIX_FMT_RGB555LE;
        case 24:
            return AV_PIX_FMT_BGR24;
        case 32:
            return AV_PIX_FMT_BGR0;
        default:
            return AV_PIX_FMT_NONE;
    }
}

// Deprecated full-range formats are passed to swscale as their plain twins plus a range flag.
AVPixelFormat PlainFormat(AVPixelFormat f, bool* fullRange) {
    switch (f) {
        case AV_PIX_FMT_YUVJ420P:
            *fullRange = true;
            return AV_PIX_FMT_YUV420P;
        case AV_PIX_FMT_YUVJ422P:
            *fullRange = true;
            return AV_PIX_FMT_YUV422P;
        case AV_PIX_FMT_YUVJ444P:
            *fullRange = true;
            return AV_PIX_FMT_YUV444P;
        case AV_PIX_FMT_YUVJ440P:
            *fullRange = true;
            return AV_PIX_FMT_YUV440P;
        case AV_PIX_FMT_YUVJ411P:
            *fullRange = true;
            return AV_PIX_FMT_YUV411P;
        default:
            return f;
    }
}

// One swscale context kept while the conversion's shape stays the same.
class Converter {
  public:
    ~Converter() { sws_freeContext(ctx_); }
    // Converts src (w x h, format f) to dst (dw x dh, format df); false when swscale cannot.
    bool Run(const uint8_t* const src[], const int srcStride[], int w, int h, AVPixelFormat f, bool fullRange,
             int colorspace, uint8_t* const dst[], const int dstStride[], int dw, int dh, AVPixelFormat df,
             bool dstFullRange) {
        bool range = fullRange;
        AVPixelFormat plain = PlainFormat(f, &range);
        // A full-range destination keeps its deprecated name: swscale's fast BGR-to-4:2:0 path
        // ignores a range set afterwards and would write studio-range samples.
        bool dstRange = dstFullRange;
        PlainFormat(df, &dstRange);
        AVPixelFormat dstPlain = df;
        if (!ctx_ || w != w_ || h != h_ || plain != f_ || range != range_ || colorspace != cs_ || dw != dw_ ||
            dh != dh_ || dstPlain != df_ || dstRange != dstRange_) {
            sws_freeContext(ctx_);
            ctx_ = nullptr;
            if (!sws_isSupportedInput(plain) || !sws_isSupportedOutput(dstPlain)) return false;
            ctx_ = sws_getContext(w, h, plain, dw, dh, dstPlain, kSwsFlags, nullptr, nullptr, nullptr);
            if (!ctx_) return false;
            const int* coeffs = sws_getCoefficients(colorspace);
            sws_setColorspaceDetails(ctx_, coeffs, range ? 1 : 0, coeffs, dstRange ? 1 : 0, 0, 1 << 16,
                                     1 << 16);
            w_ = w, h_ = h, f_ = plain, range_ = range, cs_ = colorspace, dw_ = dw, dh_ = dh, df_ = dstPlain;
            dstRange_ = dstRange;
        }
        return sws_scale(ctx_, src, srcStride, 0, h, dst, dstStride) > 0;
    }

  private:
    SwsContext* ctx_ = nullptr;
    int w_ = 0, h_ = 0, cs_ = 0, dw_ = 0, dh_ = 0;
    AVPixelFormat f_ = AV_PIX_FMT_NONE, df_ = AV_PIX_FMT_NONE;
    bool range_ = false, dstRange_ = false;
};

// The DIB side of a conversion. swscale's vector code works on whole groups of 8 or 16 pixels and
// leaves (or overruns) the last pixels of rows whose stride has no room for a full group, so
// frames whose width is not a multiple of 16 go through an aligned scratch frame instead of the
// caller's rows. Rows are always handed to swscale top row first.
class DibSide {
  public:
    ~DibSide() { av_free(scratch_); }
    // Points planes at the caller's frame, or at the scratch frame (filled from the caller's rows
    // when copyIn). False when no scratch memory could be had.
    bool Map(void* bits, const BITMAPINFOHEADER& bi, bool copyIn) {
        bits_ = static_cast<uint8_t*>(bits);
        bi_ = bi;
        int32_t h = AbsHeight(bi);
        rowBytes_ = static_cast<size_t>(bi.biWidth) * (bi.biBitCount / 8);
        dibStride_ = DibRowBytes(bi.biWidth, bi.biBitCount);
        direct_ = bi.biWidth % 16 == 0;
        planes[1] = planes[2] = planes[3] = nullptr;
        strides[1] = strides[2] = strides[3] = 0;
        if (direct_) {
            if (bi.biHeight > 0) {
                planes[0] = bits_ + dibStride_ * static_cast<size_t>(h - 1);
                strides[0] = -static_cast<int>(dibStride_);
            } else {
                planes[0] = bits_;
                strides[0] = static_cast<int>(dibStride_);
            }
            return true;
        }
        size_t stride = (rowBytes_ + 64 + 63) & ~static_cast<size_t>(63);
        size_t need = stride * static_cast<size_t>(h + 1);
        if (need > scratchSize_) {
            av_free(scratch_);
            scratch_ = static_cast<uint8_t*>(av_malloc(need));
            scratchSize_ = scratch_ ? need : 0;
            if (!scratch_) return false;
        }
        planes[0] = scratch_;
        strides[0] = static_cast<int>(stride);
        if (copyIn)
            for (int32_t y = 0; y < h; ++y) std::memcpy(scratch_ + stride * y, Row(y), rowBytes_);
        return true;
    }
    // Copies the scratch frame into the caller's rows (nothing to do when converted in place).
    void CopyOut() {
        if (direct_) return;
        for (int32_t y = 0; y < AbsHeight(bi_); ++y)
            std::memcpy(Row(y), scratch_ + static_cast<size_t>(strides[0]) * y, rowBytes_);
    }

    uint8_t* planes[4] = {};
    int strides[4] = {};

  private:
    // The caller's row that shows picture row y (counted from the top).
    uint8_t* Row(int32_t y) {
        int32_t h = AbsHeight(bi_);
        return bits_ + dibStride_ * static_cast<size_t>(bi_.biHeight > 0 ? h - 1 - y : y);
    }

    uint8_t* bits_ = nullptr;
    BITMAPINFOHEADER bi_{};
    size_t rowBytes_ = 0, dibStride_ = 0;
    bool direct_ = true;
    uint8_t* scratch_ = nullptr;
    size_t scratchSize_ = 0;
};

class LavCodec : public CodecInstance {
  public:
    LavCodec(FOURCC handler, UINT mode, const CompressorDef* def, AVCodecID decodeId)
        : handler_(handler), mode_(mode), def_(def), decodeId_(decodeId) {}
    ~LavCodec() override {
        EndCompress();
        EndDecompress();
        avcodec_free_context(&dec_);
        av_frame_free(&decFrame_);
        av_frame_free(&recvFrame_);
        av_packet_free(&decPacket_);
        av_buffer_unref(&inputBuffer_);
    }

    LRESULT Message(UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) override;

  private:
    void FillOwnInfo(ICINFO* info) const;
    LRESULT About(HWND owner);
    // Compression.
    LRESULT CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const;
    LRESULT CompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const;
    LRESULT CompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out);
    LRESULT Compress(ICCOMPRESS* c);
    void EndCompress();
    bool OpenEncoder(int quality100);
    void ApplyQuality(AVFrame* frame, int quality100) const;
    // Decompression.
    LRESULT DecompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const;
    LRESULT DecompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const;
    LRESULT DecompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out);
    LRESULT Decompress(ICDECOMPRESS* d);
    LRESULT WritePicture(const BITMAPINFOHEADER& out, void* bits);
    void EndDecompress() { decBegun_ = false; }

    FOURCC handler_;
    UINT mode_;
    const CompressorDef* def_;  // null for a decoder-only handler
    AVCodecID decodeId_;

    // Compression state, kept from ICM_COMPRESS_BEGIN to ICM_COMPRESS_END.
    AVCodecContext* enc_ = nullptr;
    AVFrame* encFrame_ = nullptr;
    AVPacket* encPacket_ = nullptr;
    Converter encConvert_;
    DibSide encSide_;
    BITMAPINFOHEADER encIn_{};
    int encOpenQuality_ = -1;
    int64_t encPts_ = 0;

    // Decompression state; the libav context outlives ICM_DECOMPRESS_END so a new begin on the same
    // format reuses it.
    AVCodecContext* dec_ = nullptr;
    AVFrame* decFrame_ = nullptr;   // the last decoded picture
    AVFrame* recvFrame_ = nullptr;  // where the next picture is received
    AVPacket* decPacket_ = nullptr;
    AVBufferRef* inputBuffer_ = nullptr;
    Converter decConvert_;
    DibSide decSide_;
    BITMAPINFOHEADER decIn_{};
    uint32_t decExtraHash_ = 0;
    int decLowres_ = 0;
    uint8_t palette_[kMaxPaletteEntries * 4] = {};
    bool hasPalette_ = false;
    bool paletteSent_ = false;
    bool decBegun_ = false;
    bool havePicture_ = false;
};

void LavCodec::FillOwnInfo(ICINFO* info) const {
    if (def_) {
        FillDefInfo(info, *def_);
        return;
    }
    const AVCodecDescriptor* d = avcodec_descriptor_get(decodeId_);
    FillInfo(info, handler_, 0, d ? d->name : "decoder",
             d && d->long_name ? d->long_name : "libavcodec decoder");
}

LRESULT LavCodec::About(HWND owner) {
    ICINFO info;
    FillOwnInfo(&info);
    MessageBoxA(owner, ICInfoText(info.szDescription, 128, 127), "About", MB_OK | MB_ICONINFORMATION);
    return ICERR_OK;
}

LRESULT LavCodec::Message(UINT msg, DWORD_PTR dw1, DWORD_PTR dw2) {
    switch (msg) {
        case ICM_GETINFO: {
            auto* info = reinterpret_cast<ICINFO*>(dw1);
            if (!info || dw2 < sizeof(ICINFO)) return 0;
            FillOwnInfo(info);
            return sizeof(ICINFO);
        }
        case ICM_ABOUT:
            if (dw1 == static_cast<DWORD_PTR>(-1)) return ICERR_OK;
            return About(reinterpret_cast<HWND>(dw1));
        case ICM_CONFIGURE:
            return ICERR_UNSUPPORTED;  // nothing to configure
        case ICM_GETDEFAULTQUALITY: {
            if (!def_ || def_->scale == QualityScale::None) return ICERR_UNSUPPORTED;
            auto* value = reinterpret_cast<DWORD*>(dw1);
            if (!value) return ICERR_BADPARAM;
            *value = def_->defaultQuality;
            return ICERR_OK;
        }
        case ICM_GETSTATE:
            return 0;  // no state to save
        case ICM_COMPRESS_QUERY:
            return CompressQuery(reinterpret_cast<const BITMAPINFOHEADER*>(dw1),
                                 reinterpret_cast<const BITMAPINFOHEADER*>(dw2));
        case ICM_COMPRESS_GET_FORMAT:
            return CompressGetFormat(reinterpret_cast<const BITMAPINFOHEADER*>(dw1),
                                     reinterpret_cast<BITMAPINFOHEADER*>(dw2));
        case ICM_COMPRESS_GET_SIZE: {
            const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(dw1);
            if (CompressQuery(in, nullptr) != ICERR_OK) return 0;
            return static_cast<LRESULT>(DibRowBytes(in->biWidth, 24)) * AbsHeight(*in);
        }
        case ICM_COMPRESS_BEGIN:
            return CompressBegin(reinterpret_cast<const BITMAPINFOHEADER*>(dw1),
                                 reinterpret_cast<const BITMAPINFOHEADER*>(dw2));
        case ICM_COMPRESS:
            if (!dw1 || dw2 < sizeof(ICCOMPRESS)) return ICERR_BADPARAM;
            return Compress(reinterpret_cast<ICCOMPRESS*>(dw1));
        case ICM_COMPRESS_END:
            EndCompress();
            return ICERR_OK;
        case ICM_DECOMPRESS_QUERY:
            return DecompressQuery(reinterpret_cast<const BITMAPINFOHEADER*>(dw1),
                                   reinterpret_cast<const BITMAPINFOHEADER*>(dw2));
        case ICM_DECOMPRESS_GET_FORMAT:
            return DecompressGetFormat(reinterpret_cast<const BITMAPINFOHEADER*>(dw1),
                                       reinterpret_cast<BITMAPINFOHEADER*>(dw2));
        case ICM_DECOMPRESS_BEGIN:
            return DecompressBegin(reinterpret_cast<const BITMAPINFOHEADER*>(dw1),
                                   reinterpret_cast<const BITMAPINFOHEADER*>(dw2));
        case ICM_DECOMPRESS:
            if (!dw1 || dw2 < sizeof(ICDECOMPRESS)) return ICERR_BADPARAM;
            return Decompress(reinterpret_cast<ICDECOMPRESS*>(dw1));
        case ICM_DECOMPRESS_END:
            EndDecompress();
            return ICERR_OK;
        default:
            return ICERR_UNSUPPORTED;  // every draw message included: no codec here draws
    }
}

// ---- compression ----

LRESULT LavCodec::CompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const {
    if (!def_ || mode_ == ICMODE_DECOMPRESS || mode_ == ICMODE_FASTDECOMPRESS || mode_ == ICMODE_DRAW)
        return ICERR_UNSUPPORTED;
    if (!in || in->biSize < sizeof(BITMAPINFOHEADER) || in->biPlanes > 1 || !DimensionsOk(*in))
        return ICERR_BADFORMAT;
    const bool bgr = in->biCompression == BI_RGB && in->biBitCount == 24;
    if (!bgr && !(IsJ420(*in) && TakesJ420(*def_))) return ICERR_BADFORMAT;
    if (def_->multipleOf4 && ((in->biWidth & 3) || (AbsHeight(*in) & 3))) return ICERR_BADFORMAT;
    if (out && (LowerFourCC(out->biCompression) != LowerFourCC(def_->handler) ||
                out->biWidth != in->biWidth || AbsHeight(*out) != AbsHeight(*in)))
        return ICERR_BADFORMAT;
    return ICERR_OK;
}

LRESULT LavCodec::CompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const {
    if (!out)
        return CompressQuery(in, nullptr) == ICERR_OK ? static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)) : 0;
    if (LRESULT r = CompressQuery(in, nullptr); r != ICERR_OK) return r;
    std::memset(out, 0, sizeof *out);
    out->biSize = sizeof(BITMAPINFOHEADER);
    out->biWidth = in->biWidth;
    out->biHeight = AbsHeight(*in);
    out->biPlanes = 1;
    out->biBitCount = def_->bitCount;
    out->biCompression = def_->handler;
    out->biSizeImage = DibRowBytes(in->biWidth, 24) * static_cast<uint32_t>(out->biHeight);
    return ICERR_OK;
}

int QualityPercent(DWORD quality, const CompressorDef& def) {
    if (quality == ICQUALITY_DEFAULT) quality = def.defaultQuality;
    return static_cast<int>(std::min<DWORD>(quality, ICQUALITY_HIGH) / 100);
}

bool LavCodec::OpenEncoder(int quality100) {
    avcodec_free_context(&enc_);
    const AVCodec* codec = avcodec_find_encoder_by_name(def_->encoder);
    if (!codec) return false;
    enc_ = avcodec_alloc_context3(codec);
    if (!enc_) return false;
    enc_->width = encIn_.biWidth;
    enc_->height = AbsHeight(encIn_);
    enc_->pix_fmt = def_->pixFmt;
    enc_->time_base = AVRational{1, 25};
    enc_->thread_count = 1;  // one frame in, one packet out
    enc_->gop_size = 1;
    enc_->keyint_min = def_->handler == FourCC("MSVC") ? 0 : 1;
    enc_->max_b_frames = 0;
    enc_->codec_tag = def_->handler;
    if (def_->pixFmt == AV_PIX_FMT_YUVJ420P) enc_->color_range = AVCOL_RANGE_JPEG;
    AVDictionary* opts = nullptr;
    switch (def_->scale) {
        case QualityScale::Quantiser:
            enc_->flags |= AV_CODEC_FLAG_QSCALE;
            enc_->global_quality = FF_QP2LAMBDA * QualityToQuantiser(quality100);
            break;
        case QualityScale::Crf:
            av_dict_set(&opts, "preset", "veryfast", 0);
            av_dict_set(&opts, "tune", "zerolatency", 0);
            av_dict_set_int(&opts, "crf", QualityToRateFactor(quality100), 0);
            break;
        default:
            break;
    }
    int r = avcodec_open2(enc_, codec, &opts);
    av_dict_free(&opts);
    if (r < 0) {
        avcodec_free_context(&enc_);
        return false;
    }
    encOpenQuality_ = quality100;
    return true;
}

void LavCodec::ApplyQuality(AVFrame* frame, int quality100) const {
    switch (def_->scale) {
        case QualityScale::Quantiser:
            frame->quality = FF_QP2LAMBDA * QualityToQuantiser(quality100);
            break;
        case QualityScale::Lambda:
            frame->quality = 1 + (100 - quality100) * 512 / 100;
            break;
        default:
            frame->quality = 0;
            break;
    }
}

LRESULT LavCodec::CompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    if (LRESULT r = CompressQuery(in, out); r != ICERR_OK) return r;
    EndCompress();
    encIn_ = *in;
    encIn_.biSize = sizeof(BITMAPINFOHEADER);
    if (!OpenEncoder(QualityPercent(ICQUALITY_DEFAULT, *def_))) {
        DebugLog("codec %.4s: encoder would not open", reinterpret_cast<const char*>(&def_->handler));
        return ICERR_BADFORMAT;
    }
    encFrame_ = av_frame_alloc();
    encPacket_ = av_packet_alloc();
    if (!encFrame_ || !encPacket_) {
        EndCompress();
        return ICERR_MEMORY;
    }
    encFrame_->format = def_->pixFmt;
    encFrame_->width = enc_->width;
    encFrame_->height = enc_->height;
    if (av_frame_get_buffer(encFrame_, 0) < 0) {
        EndCompress();
        return ICERR_MEMORY;
    }
    encPts_ = 0;
    return ICERR_OK;
}

void LavCodec::EndCompress() {
    avcodec_free_context(&enc_);
    av_frame_free(&encFrame_);
    av_packet_free(&encPacket_);
    encOpenQuality_ = -1;
}

LRESULT LavCodec::Compress(ICCOMPRESS* c) {
    if (!enc_) return ICERR_BADFORMAT;  // not begun
    const BITMAPINFOHEADER* in = c->lpbiInput;
    BITMAPINFOHEADER* out = c->lpbiOutput;
    if (!in || !out || !c->lpInput || !c->lpOutput) return ICERR_BADPARAM;
    const bool j420 = IsJ420(*in) && TakesJ420(*def_);
    if (!(j420 || (in->biBitCount == 24 && in->biCompression == BI_RGB)) || in->biWidth != encIn_.biWidth ||
        AbsHeight(*in) != AbsHeight(encIn_))
        return ICERR_BADFORMAT;
    uint32_t capacity = out->biSizeImage ? out->biSizeImage : DibRowBytes(in->biWidth, 24) * AbsHeight(*in);

    int quality = QualityPercent(c->dwQuality, *def_);
    if (def_->scale == QualityScale::Crf && quality != encOpenQuality_ && !OpenEncoder(quality))
        return ICERR_INTERNAL;
    if (av_frame_make_writable(encFrame_) < 0) return ICERR_MEMORY;

    if (j420) {
        uint8_t* planes[4];
        int strides[4];
        J420Planes(c->lpInput, in->biWidth, in->biHeight, planes, strides);
        if (def_->pixFmt == AV_PIX_FMT_YUVJ420P) {
            av_image_copy(encFrame_->data, encFrame_->linesize, const_cast<const uint8_t**>(planes), strides,
                          AV_PIX_FMT_YUVJ420P, in->biWidth, in->biHeight);
        } else if (!encConvert_.Run(planes, strides, in->biWidth, in->biHeight, AV_PIX_FMT_YUVJ420P, true,
                                    SWS_CS_DEFAULT, encFrame_->data, encFrame_->linesize, enc_->width,
                                    enc_->height, def_->pixFmt, false)) {
            return ICERR_INTERNAL;
        }
    } else if (def_->pixFmt == AV_PIX_FMT_YUVJ420P) {
        int32_t h = AbsHeight(*in);
        auto stride = static_cast<ptrdiff_t>(DibRowBytes(in->biWidth, 24));
        const auto* top = static_cast<const uint8_t*>(c->lpInput);
        if (in->biHeight > 0) top += stride * (h - 1), stride = -stride;
        BgrToJpeg420(top, stride, in->biWidth, h, encFrame_->data, encFrame_->linesize);
    } else {
        if (!encSide_.Map(const_cast<void*>(c->lpInput), *in, true)) return ICERR_MEMORY;
        if (!encConvert_.Run(encSide_.planes, encSide_.strides, in->biWidth, AbsHeight(*in), AV_PIX_FMT_BGR24,
                             true, SWS_CS_DEFAULT, encFrame_->data, encFrame_->linesize, enc_->width,
                             enc_->height, def_->pixFmt, false))
            return ICERR_INTERNAL;
    }
    encFrame_->pts = encPts_++;
    encFrame_->pict_type = AV_PICTURE_TYPE_I;
    encFrame_->key_frame = 1;
    ApplyQuality(encFrame_, quality);

    if (avcodec_send_frame(enc_, encFrame_) < 0) return ICERR_INTERNAL;
    int r = avcodec_receive_packet(enc_, encPacket_);
    if (r < 0) return ICERR_INTERNAL;
    LRESULT result = ICERR_OK;
    if (static_cast<uint32_t>(encPacket_->size) > capacity) {
        DebugLog("codec %.4s: frame of %d bytes does not fit %lu",
                 reinterpret_cast<const char*>(&def_->handler), encPacket_->size,
                 static_cast<unsigned long>(capacity));
        result = ICERR_BADSIZE;
    } else {
        std::memcpy(c->lpOutput, encPacket_->data, static_cast<size_t>(encPacket_->size));
        out->biSizeImage = static_cast<uint32_t>(encPacket_->size);
        if (c->lpckid) *c->lpckid = kChunkId00dc;
        if (c->lpdwFlags) *c->lpdwFlags = (encPacket_->flags & AV_PKT_FLAG_KEY) ? AVIIF_KEYFRAME : 0;
    }
    av_packet_unref(encPacket_);
    return result;
}

// ---- decompression ----

// An output the decoder writes: uncompressed 16, 24 or 32 bits, or J420; the input's size or
// smaller (the picture is scaled down).
bool OutputOk(const BITMAPINFOHEADER& in, const BITMAPINFOHEADER& out) {
    const bool form =
        IsJ420(out) || (out.biCompression == BI_RGB && DibPixelFormat(out.biBitCount) != AV_PIX_FMT_NONE);
    return form && out.biWidth > 0 && out.biWidth <= in.biWidth && AbsHeight(out) > 0 &&
           AbsHeight(out) <= AbsHeight(in);
}

// The reduced-size decoding (1 / 2^k) that still covers out, as far as the decoder offers it.
int LowresFor(const AVCodec* codec, const BITMAPINFOHEADER& in, const BITMAPINFOHEADER* out) {
    int k = 0;
    if (!out || !codec) return 0;
    while (k < codec->max_lowres && (in.biWidth >> (k + 1)) >= out->biWidth &&
           (AbsHeight(in) >> (k + 1)) >= AbsHeight(*out))
        k++;
    return k;
}

// Pictures J420 carries as they are: 8-bit planar YUV in the BT.601 matrix (or none stated).
// Others (RGB pictures, other matrices) go through 24-bit pixels, which convert them properly.
bool J420Carries(const AVFrame* f) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(f->format));
    if (!d || (d->flags & AV_PIX_FMT_FLAG_RGB) || !(d->flags & AV_PIX_FMT_FLAG_PLANAR) ||
        d->nb_components != 3 || d->comp[0].depth != 8)
        return false;
    return f->colorspace == AVCOL_SPC_UNSPECIFIED || f->colorspace == AVCOL_SPC_BT470BG ||
           f->colorspace == AVCOL_SPC_SMPTE170M;
}

LRESULT LavCodec::DecompressQuery(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) const {
    if (mode_ == ICMODE_COMPRESS || mode_ == ICMODE_FASTCOMPRESS) return ICERR_UNSUPPORTED;
    if (!in || in->biSize < sizeof(BITMAPINFOHEADER) || !DimensionsOk(*in)) return ICERR_BADFORMAT;
    if (decodeId_ == AV_CODEC_ID_NONE || DecoderIdFor(in->biCompression) != decodeId_) return ICERR_BADFORMAT;
    if (out && !OutputOk(*in, *out)) return ICERR_BADFORMAT;
    return ICERR_OK;
}

LRESULT LavCodec::DecompressGetFormat(const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) const {
    if (!out)
        return DecompressQuery(in, nullptr) == ICERR_OK ? static_cast<LRESULT>(sizeof(BITMAPINFOHEADER)) : 0;
    if (LRESULT r = DecompressQuery(in, nullptr); r != ICERR_OK) return r;
    *out = Dib24Format(in->biWidth, AbsHeight(*in));
    return ICERR_OK;
}

uint32_t HashBytes(const uint8_t* p, uint32_t n) {
    uint32_t h = 2166136261u;
    for (uint32_t i = 0; i < n; ++i) h = (h ^ p[i]) * 16777619u;
    return h ^ n;
}

LRESULT LavCodec::DecompressBegin(const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    if (LRESULT r = DecompressQuery(in, out); r != ICERR_OK) return r;
    const auto* tail = reinterpret_cast<const uint8_t*>(in) + sizeof(BITMAPINFOHEADER);
    uint32_t extra =
        std::min(in->biSize - static_cast<uint32_t>(sizeof(BITMAPINFOHEADER)), kMaxExtraDataBytes);
    uint32_t extraHash = HashBytes(tail, extra);

    // Formats of 8 bits or fewer carry their colour table after the header.
    hasPalette_ = false;
    if (in->biBitCount > 0 && in->biBitCount <= 8) {
        uint32_t entries =
            in->biClrUsed ? std::min(in->biClrUsed, kMaxPaletteEntries) : (1u << in->biBitCount);
        const uint8_t* table = tail + extra;
        std::memset(palette_, 0, sizeof palette_);
        for (uint32_t i = 0; i < entries; ++i) {
            uint32_t bgr = ReadLE32(table + 4 * i) & 0x00FFFFFFu;
            WriteLE32(palette_ + 4 * i, bgr | 0xFF000000u);  // libav wants opaque ARGB words
        }
        hasPalette_ = true;
    }

    const AVCodec* codec = avcodec_find_decoder(decodeId_);
    const int lowres = LowresFor(codec, *in, out);
    bool same = dec_ && decIn_.biCompression == in->biCompression && decIn_.biWidth == in->biWidth &&
                decIn_.biHeight == in->biHeight && decIn_.biBitCount == in->biBitCount &&
                decExtraHash_ == extraHash && decLowres_ == lowres;
    if (same) {
        avcodec_flush_buffers(dec_);
    } else {
        avcodec_free_context(&dec_);
        dec_ = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!dec_) return ICERR_MEMORY;
        dec_->codec_tag = in->biCompression;
        dec_->width = in->biWidth;
        dec_->height = AbsHeight(*in);
        dec_->bits_per_coded_sample = in->biBitCount;
        dec_->thread_count = 1;  // no frame delay: each chunk gives its picture at once
        dec_->lowres = lowres;
        // The stored frames describe their own size, and some decoders size their buffers by it
        // (a progressive JPEG's coefficients, for one): a frame claiming far more than the format
        // says is refused before anything is allocated for it.
        dec_->max_pixels =
            std::clamp<int64_t>(kMaxPixelsOverFormat * dec_->width * dec_->height, kMinMaxPixels, INT_MAX);
        if (extra > 0) {
            dec_->extradata = static_cast<uint8_t*>(av_mallocz(extra + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!dec_->extradata) return ICERR_MEMORY;
            std::memcpy(dec_->extradata, tail, extra);
            dec_->extradata_size = static_cast<int>(extra);
        }
        if (avcodec_open2(dec_, codec, nullptr) < 0) {
            avcodec_free_context(&dec_);
            return ICERR_BADFORMAT;
        }
        decIn_ = *in;
        decExtraHash_ = extraHash;
        decLowres_ = lowres;
    }
    if (!decFrame_) decFrame_ = av_frame_alloc();
    if (!recvFrame_) recvFrame_ = av_frame_alloc();
    if (!decPacket_) decPacket_ = av_packet_alloc();
    if (!decFrame_ || !recvFrame_ || !decPacket_) return ICERR_MEMORY;
    av_frame_unref(decFrame_);
    havePicture_ = false;
    paletteSent_ = false;
    decBegun_ = true;
    return ICERR_OK;
}

LRESULT LavCodec::WritePicture(const BITMAPINFOHEADER& out, void* bits) {
    const AVFrame* f = decFrame_;
    int cs = f->colorspace == AVCOL_SPC_UNSPECIFIED || f->colorspace > AVCOL_SPC_BT2020_NCL ? SWS_CS_DEFAULT
                                                                                            : f->colorspace;
    if (IsJ420(out)) {
        if (!J420Carries(f)) return ICERR_BADFORMAT;  // the picture stays for an ICDECOMPRESS_UPDATE
        uint8_t* planes[4];
        int strides[4];
        J420Planes(bits, out.biWidth, out.biHeight, planes, strides);
        const auto format = static_cast<AVPixelFormat>(f->format);
        const bool full = f->color_range == AVCOL_RANGE_JPEG;
        if ((format == AV_PIX_FMT_YUVJ420P || (format == AV_PIX_FMT_YUV420P && full)) &&
            f->width == out.biWidth && f->height == out.biHeight) {
            av_image_copy(planes, strides, const_cast<const uint8_t**>(f->data), f->linesize,
                          AV_PIX_FMT_YUV420P, f->width, f->height);
            return ICERR_OK;
        }
        return decConvert_.Run(f->data, f->linesize, f->width, f->height, format, full, cs, planes, strides,
                               out.biWidth, out.biHeight, AV_PIX_FMT_YUVJ420P, true)
                   ? ICERR_OK
                   : ICERR_INTERNAL;
    }
    if (!decSide_.Map(bits, out, false)) return ICERR_MEMORY;
    if (!decConvert_.Run(f->data, f->linesize, f->width, f->height, static_cast<AVPixelFormat>(f->format),
                         f->color_range == AVCOL_RANGE_JPEG, cs, decSide_.planes, decSide_.strides,
                         out.biWidth, AbsHeight(out), DibPixelFormat(out.biBitCount), true))
        return ICERR_INTERNAL;
    decSide_.CopyOut();
    return ICERR_OK;
}

LRESULT LavCodec::Decompress(ICDECOMPRESS* d) {
    BITMAPINFOHEADER* in = d->lpbiInput;
    BITMAPINFOHEADER* out = d->lpbiOutput;
    bool writeOutput = !(d->dwFlags & ICDECOMPRESS_HURRYUP);
    if (!in || (writeOutput && (!out || !d->lpOutput))) return ICERR_BADPARAM;
    if (!decBegun_ || in->biCompression != decIn_.biCompression || in->biWidth != decIn_.biWidth ||
        in->biHeight != decIn_.biHeight) {
        if (LRESULT r = DecompressBegin(in, writeOutput ? out : nullptr); r != ICERR_OK) return r;
    }
    if (writeOutput && !OutputOk(*in, *out)) return ICERR_BADFORMAT;

    if (d->dwFlags & ICDECOMPRESS_UPDATE) {  // show the last picture again
        if (!havePicture_) return ICERR_CANTUPDATE;
        return WritePicture(*out, d->lpOutput);
    }

    uint32_t size = in->biSizeImage;
    if (size == 0 || (d->dwFlags & ICDECOMPRESS_NULLFRAME)) return ICERR_OK;  // repeat: output unchanged
    if (!d->lpInput) return ICERR_BADPARAM;
    if (size > kMaxCompressedFrameBytes) return ICERR_BADSIZE;

    // Decoders read a little past the end of their input: copy into a padded buffer, reused while
    // no decoder holds on to it.
    size_t need = static_cast<size_t>(size) + AV_INPUT_BUFFER_PADDING_SIZE;
    if (!inputBuffer_ || static_cast<size_t>(inputBuffer_->size) < need ||
        !av_buffer_is_writable(inputBuffer_)) {
        av_buffer_unref(&inputBuffer_);
        inputBuffer_ = av_buffer_alloc(std::max<size_t>(need, 64 * 1024));
        if (!inputBuffer_) return ICERR_MEMORY;
    }
    std::memcpy(inputBuffer_->data, d->lpInput, size);
    std::memset(inputBuffer_->data + size, 0, AV_INPUT_BUFFER_PADDING_SIZE);
    decPacket_->buf = av_buffer_ref(inputBuffer_);
    if (!decPacket_->buf) return ICERR_MEMORY;
    decPacket_->data = inputBuffer_->data;
    decPacket_->size = static_cast<int>(size);
    if (hasPalette_ && !paletteSent_) {
        uint8_t* side = av_packet_new_side_data(decPacket_, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
        if (side) std::memcpy(side, palette_, AVPALETTE_SIZE);
        paletteSent_ = true;
    }
    int r = avcodec_send_packet(dec_, decPacket_);
    av_packet_unref(decPacket_);
    if (r < 0) return ICERR_ERROR;
    bool got = false;
    while (avcodec_receive_frame(dec_, recvFrame_) >= 0) {
        av_frame_unref(decFrame_);
        av_frame_move_ref(decFrame_, recvFrame_);
        got = true;
    }
    if (!got) return ICERR_OK;  // nothing new to show (a frame the decoder holds back)
    havePicture_ = true;
    if (!writeOutput) return ICERR_OK;
    return WritePicture(*out, d->lpOutput);
}

}  // namespace

int BuiltinCompressorCount() {
    int n = 0;
    for (const auto& def : kCompressors)
        if (DefAvailable(def)) ++n;
    return n;
}

bool BuiltinCompressorInfo(int index, ICINFO* info) {
    int n = 0;
    for (const auto& def : kCompressors) {
        if (!DefAvailable(def)) continue;
        if (n++ == index) {
            FillDefInfo(info, def);
            return true;
        }
    }
    return false;
}

bool BuiltinInfo(FOURCC handler, ICINFO* info) {
    if (const CompressorDef* def = FindDef(handler); def && DefAvailable(*def)) {
        FillDefInfo(info, *def);
        return true;
    }
    AVCodecID id = DecoderIdFor(handler);
    if (id == AV_CODEC_ID_NONE) return false;
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    FillInfo(info, handler, 0, d ? d->name : "decoder",
             d && d->long_name ? d->long_name : "libavcodec decoder");
    return true;
}

}  // namespace codec_internal

uint32_t J420Bytes(int32_t width, int32_t height) {
    if (width <= 0 || height <= 0 || width > kMaxCodecDimension || height > kMaxCodecDimension) return 0;
    const auto w = static_cast<uint32_t>(width), h = static_cast<uint32_t>(height);
    return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
}

BITMAPINFOHEADER J420Format(int32_t width, int32_t height) {
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = width;
    bi.biHeight = height;
    bi.biPlanes = 1;
    bi.biBitCount = 12;
    bi.biCompression = kFormatJ420;
    bi.biSizeImage = J420Bytes(width, height);
    return bi;
}

namespace codec_internal {

std::unique_ptr<CodecInstance> OpenBuiltin(FOURCC handler, UINT mode) {
    const CompressorDef* def = FindDef(handler);
    if (def && !DefAvailable(*def)) def = nullptr;
    if ((mode == ICMODE_COMPRESS || mode == ICMODE_FASTCOMPRESS) && !def) return nullptr;
    AVCodecID id = DecoderIdFor(def ? def->handler : handler);
    if (!def && id == AV_CODEC_ID_NONE) return nullptr;
    return std::make_unique<LavCodec>(def ? def->handler : handler, mode, def, id);
}

}  // namespace codec_internal

// Quality 100 is each encoder's visually transparent setting, 0 its smallest stream.
int QualityToQuantiser(int quality100) {
    return 2 + static_cast<int>(std::lround((100 - quality100) * 29 / 100.0));
}

// x264's constant rate factor: 17 at 100 (no visible loss; 0 would be lossless and many times the
// size), 51 at 0.
int QualityToRateFactor(int quality100) {
    return 17 + static_cast<int>(std::lround((100 - quality100) * 34 / 100.0));
}

namespace {

// The DHT segment (marker included) of the four standard tables, as libavcodec's encoder writes
// them when asked for its default tables; empty when it cannot.
std::vector<uint8_t> MakeStandardHuffmanSegment() {
    std::vector<uint8_t> segment;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    AVCodecContext* enc = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    if (enc && frame && packet) {
        enc->width = 16;
        enc->height = 16;
        enc->pix_fmt = AV_PIX_FMT_YUVJ420P;
        enc->color_range = AVCOL_RANGE_JPEG;
        enc->time_base = AVRational{1, 25};
        enc->thread_count = 1;
        AVDictionary* opts = nullptr;
        av_dict_set(&opts, "huffman", "default", 0);
        frame->width = 16;
        frame->height = 16;
        frame->format = AV_PIX_FMT_YUVJ420P;
        if (avcodec_open2(enc, codec, &opts) >= 0 && av_frame_get_buffer(frame, 0) >= 0) {
            for (int p = 0; p < 3; p++)
                std::memset(frame->data[p], 128, static_cast<size_t>(frame->linesize[p]) * (p ? 8 : 16));
            if (avcodec_send_frame(enc, frame) >= 0 && avcodec_receive_packet(enc, packet) >= 0) {
                const uint8_t* d = packet->data;
                const auto n = static_cast<size_t>(packet->size);
                for (size_t i = 2; i + 4 <= n;) {
                    if (d[i] != 0xFF) break;
                    const size_t len = static_cast<size_t>(d[i + 2] << 8 | d[i + 3]);
                    if (d[i + 1] == 0xDA || i + 2 + len > n) break;
                    if (d[i + 1] == 0xC4) {
                        segment.assign(d + i, d + i + 2 + len);
                        break;
                    }
                    i += 2 + len;
                }
            }
        }
        av_dict_free(&opts);
    }
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&enc);
    return segment;
}

void LogFromLibav(void* avcl, int level, const char* fmt, va_list vl) {
    if (level > AV_LOG_WARNING) return;
    char line[512];
    int prefix = 1;
    av_log_format_line2(avcl, level, fmt, vl, line, sizeof line, &prefix);
    line[strcspn(line, "\n")] = '\0';
    DebugLog("libav: %s", line);
}

}  // namespace

bool JpegWithHuffmanTables(const uint8_t* data, size_t bytes, std::vector<uint8_t>& out) {
    out.clear();
    if (!data || bytes < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    // The segments up to the first scan, each bounded by the bytes there are.
    size_t scanAt = 0;
    size_t frameAt = 0;  // the first frame header: the tables go before it
    bool tables = false;
    for (size_t i = 2; i + 4 <= bytes;) {
        if (data[i] != 0xFF) return false;
        if (data[i + 1] == 0xFF) {  // fill byte
            i++;
            continue;
        }
        if (data[i + 1] == 0xDA) {
            scanAt = i;
            break;
        }
        const size_t len = static_cast<size_t>(data[i + 2] << 8 | data[i + 3]);
        if (len < 2 || i + 2 + len > bytes) return false;
        const uint8_t marker = data[i + 1];
        if (marker == 0xC4) tables = true;
        if (frameAt == 0 && marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 &&
            marker != 0xCC)
            frameAt = i;
        i += 2 + len;
    }
    if (scanAt == 0) return false;
    static const std::vector<uint8_t> standard = [] {
        InitLibav();
        return MakeStandardHuffmanSegment();
    }();
    if (!tables && standard.empty()) return false;
    const size_t at = frameAt ? frameAt : scanAt;
    out.reserve(bytes + (tables ? 0 : standard.size()));
    out.assign(data, data + at);
    if (!tables) out.insert(out.end(), standard.begin(), standard.end());
    out.insert(out.end(), data + at, data + bytes);
    return true;
}

void InitLibav() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_callback(LogFromLibav);
        // No single block of libav's past 128 MB (an 8K picture is a quarter of that): a hostile
        // header's sizes fail to allocate instead of taking the memory (a 100-byte WAVE file made
        // the stream probe take 1.6 GB).
        av_max_alloc(128u << 20);
    });
}
