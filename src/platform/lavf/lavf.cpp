// Demuxing and decoding through one libavformat context: video packets to the picture decoder
// (libavcodec's own threads), sound packets to the sound decoder on the way, so the file is read
// once from start to end.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/diag.h"
#include "platform/codec/codec.h"
#include "platform/lavf/lavf.h"

namespace {

constexpr int kMinSoundRate = 1000;
constexpr int kMaxSoundRate = 384000;
// A jump in the sound's time stamps larger than this starts a new stretch.
constexpr double kSoundGapSeconds = 0.05;
// Rates outside these (pictures a second) are damage.
constexpr double kMinRate = 0.1;
constexpr double kMaxRate = 1000;

std::string AvError(int e) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(e, text, sizeof text);
    return text;
}

double Seconds(int64_t ts, AVRational tb) {
    return static_cast<double>(ts) * av_q2d(tb);
}

// Clockwise degrees from the stream's display matrix, one of 0, 90, 180, 270.
int RotationOf(const AVStream* st) {
    size_t size = 0;
    const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, &size);
    if (!m || size < 9 * sizeof(int32_t)) return 0;
    const double angle = av_display_rotation_get(reinterpret_cast<const int32_t*>(m));
    if (std::isnan(angle)) return 0;
    int turn = static_cast<int>(std::lround(-angle / 90.0)) % 4;
    if (turn < 0) turn += 4;
    return turn * 90;
}

AVCodecContext* OpenDecoder(const AVStream* st, bool threaded) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!c) return nullptr;
    c->pkt_timebase = st->time_base;
    if (threaded) {
        c->thread_count = 0;
        c->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
    }
    if (avcodec_parameters_to_context(c, st->codecpar) < 0 || avcodec_open2(c, codec, nullptr) < 0)
        avcodec_free_context(&c);
    return c;
}

AVFormatContext* OpenInput(const char* path, std::string* why) {
    AVFormatContext* ctx = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = std::string("file:") + path;
    int r = avformat_open_input(&ctx, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (r < 0) {
        if (why) *why = r == AVERROR_INVALIDDATA ? "it is not a video file libavformat knows" : AvError(r);
        return nullptr;
    }
    r = avformat_find_stream_info(ctx, nullptr);
    if (r < 0) {
        if (why) *why = AvError(r);
        avformat_close_input(&ctx);
    }
    return ctx;
}

int BestVideo(AVFormatContext* ctx) {
    int best = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        // Products in 64 bits: a hostile header's sides multiply past an int.
        const auto area = [](const AVStream* s) { return int64_t{s->codecpar->width} * s->codecpar->height; };
        if (best < 0 || area(st) > area(ctx->streams[best])) best = static_cast<int>(i);
    }
    return best;
}

void FillInfo(AVFormatContext* ctx, int video, int sound, LavfInfo* info) {
    *info = LavfInfo{};
    info->container = ctx->iformat ? ctx->iformat->name : "";
    if (ctx->start_time != AV_NOPTS_VALUE)
        info->startSeconds = static_cast<double>(ctx->start_time) / AV_TIME_BASE;
    if (video >= 0) {
        const AVStream* st = ctx->streams[video];
        const AVCodecParameters* p = st->codecpar;
        info->videoCodec = avcodec_get_name(p->codec_id);
        info->codedWidth = p->width;
        info->codedHeight = p->height;
        info->rotation = RotationOf(st);
        AVRational sar = st->sample_aspect_ratio.num > 0 ? st->sample_aspect_ratio : p->sample_aspect_ratio;
        double aspect = sar.num > 0 && sar.den > 0 ? av_q2d(sar) : 1.0;
        if (aspect < 0.1 || aspect > 10) aspect = 1.0;
        int32_t w = static_cast<int32_t>(std::lround(p->width * aspect)), h = p->height;
        if (info->rotation % 180) std::swap(w, h);
        info->displayWidth = w;
        info->displayHeight = h;
        double rate =
            st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? av_q2d(st->avg_frame_rate) : 0;
        if (!(rate >= kMinRate && rate <= kMaxRate))
            rate = st->r_frame_rate.num > 0 && st->r_frame_rate.den > 0 ? av_q2d(st->r_frame_rate) : 0;
        info->averageRate = rate >= kMinRate && rate <= kMaxRate ? rate : 0;
        if (st->duration > 0 && st->duration != AV_NOPTS_VALUE)
            info->durationSeconds = Seconds(st->duration, st->time_base);
        else if (ctx->duration > 0)
            info->durationSeconds = static_cast<double>(ctx->duration) / AV_TIME_BASE;
        info->frames = st->nb_frames > 0 ? st->nb_frames : 0;
    }
    if (sound >= 0) {
        const AVCodecParameters* p = ctx->streams[sound]->codecpar;
        info->soundCodec = avcodec_get_name(p->codec_id);
        if (p->sample_rate >= kMinSoundRate && p->sample_rate <= kMaxSoundRate &&
            p->ch_layout.nb_channels > 0) {
            info->samplesPerSec = p->sample_rate;
            info->channels = p->ch_layout.nb_channels;
            if (p->codec_id == AV_CODEC_ID_PCM_U8 || p->codec_id == AV_CODEC_ID_PCM_S16LE)
                info->sampleBits = p->bits_per_coded_sample;
        }
    }
}

}  // namespace

struct LavfSource::State {
    ~State() {
        swr_free(&swr);
        av_channel_layout_uninit(&swrIn);
        av_frame_free(&frame);
        av_frame_free(&soundFrame);
        av_packet_free(&packet);
        avcodec_free_context(&video);
        avcodec_free_context(&sound);
        avformat_close_input(&ctx);
    }

    bool DecodeSound(const AVPacket* p);
    void Resample(const AVFrame* f);

    AVFormatContext* ctx = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* soundFrame = nullptr;
    int videoIndex = -1, soundIndex = -1;
    AVCodecContext* video = nullptr;
    AVCodecContext* sound = nullptr;
    LavfInfo info;
    bool draining = false;
    int64_t damaged = 0, packets = 0;
    double lastSeconds = -1e9;

    std::unique_ptr<LavfConverter> converter;  // for the NextPicture that converts

    // Sound.
    int32_t outRate = 0, outBits = 0, outChannels = 0;
    SwrContext* swr = nullptr;
    AVChannelLayout swrIn{};
    int swrFormat = -1, swrRate = 0;
    double expected = -1e9;  // where the next decoded sound should start, in seconds
    std::vector<LavfSound> pending;
};

struct LavfPicture::Frame {
    ~Frame() { av_frame_free(&frame); }
    AVFrame* frame = nullptr;
};

LavfPicture::LavfPicture(std::unique_ptr<Frame> frame, double seconds)
    : frame_(std::move(frame)), seconds_(seconds) {}
LavfPicture::~LavfPicture() = default;

struct LavfConverter::State {
    ~State() { sws_freeContext(sws); }
    bool Convert(const AVFrame* f, std::vector<uint8_t>& out);

    LavfInfo info;
    int32_t outWidth = 0, outHeight = 0;
    SwsContext* sws = nullptr;
    std::vector<uint8_t> turned;  // the scaled picture before it is turned
};

LavfConverter::LavfConverter(const LavfInfo& info, int32_t width, int32_t height)
    : s_(std::make_unique<State>()) {
    s_->info = info;
    if (width >= 2 && height >= 2 && width % 2 == 0 && height % 2 == 0 && J420Bytes(width, height)) {
        s_->outWidth = width;
        s_->outHeight = height;
    }
}
LavfConverter::~LavfConverter() = default;

bool LavfConverter::Convert(const LavfPicture& picture, std::vector<uint8_t>& frame) {
    return picture.frame_ && picture.frame_->frame && s_->Convert(picture.frame_->frame, frame);
}

bool LavfConverter::State::Convert(const AVFrame* f, std::vector<uint8_t>& out) {
    if (f->width <= 0 || f->height <= 0 || outWidth <= 0) return false;
    const uint32_t bytes = J420Bytes(outWidth, outHeight);
    out.resize(bytes + kJ420Slack);
    uint8_t* y = out.data();
    uint8_t* u = y + static_cast<size_t>(outWidth) * outHeight;
    uint8_t* v = u + static_cast<size_t>(outWidth / 2) * (outHeight / 2);
    std::memset(y, 0, static_cast<size_t>(u - y));
    std::memset(u, 128, static_cast<size_t>(bytes) - static_cast<size_t>(u - y));

    // The upright picture fitted inside the frame, sides even, centred on even offsets.
    const int32_t dw = std::max(info.displayWidth, 1), dh = std::max(info.displayHeight, 1);
    int32_t fw = outWidth, fh = static_cast<int32_t>(static_cast<int64_t>(outWidth) * dh / dw);
    if (fh > outHeight) {
        fh = outHeight;
        fw = static_cast<int32_t>(static_cast<int64_t>(outHeight) * dw / dh);
    }
    fw = std::max(2, fw & ~1);
    fh = std::max(2, fh & ~1);
    const int32_t x0 = ((outWidth - fw) / 2) & ~1, y0 = ((outHeight - fh) / 2) & ~1;
    const int turn = info.rotation;
    // The scaled picture before turning.
    const int32_t sw = turn % 180 ? fh : fw, sh = turn % 180 ? fw : fh;
    sws = sws_getCachedContext(
        sws, f->width, f->height, static_cast<AVPixelFormat>(f->format), sw, sh, AV_PIX_FMT_YUVJ420P,
        sw == f->width && sh == f->height ? SWS_POINT : SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (!sws) return false;
    if (turn == 0) {
        uint8_t* planes[4] = {y + static_cast<size_t>(y0) * outWidth + x0,
                              u + static_cast<size_t>(y0 / 2) * (outWidth / 2) + x0 / 2,
                              v + static_cast<size_t>(y0 / 2) * (outWidth / 2) + x0 / 2, nullptr};
        const int strides[4] = {outWidth, outWidth / 2, outWidth / 2, 0};
        return sws_scale(sws, f->data, f->linesize, 0, f->height, planes, strides) > 0;
    }
    turned.resize(J420Bytes(sw, sh));
    uint8_t* ty = turned.data();
    uint8_t* tu = ty + static_cast<size_t>(sw) * sh;
    uint8_t* tv = tu + static_cast<size_t>(sw / 2) * (sh / 2);
    uint8_t* tplanes[4] = {ty, tu, tv, nullptr};
    const int tstrides[4] = {sw, sw / 2, sw / 2, 0};
    if (sws_scale(sws, f->data, f->linesize, 0, f->height, tplanes, tstrides) <= 0) return false;
    // Turns one plane of w x h clockwise by turn degrees into dst (stride ds) at (dx, dy).
    auto rotate = [turn](const uint8_t* src, int32_t w, int32_t h, uint8_t* dst, int32_t ds, int32_t dx,
                         int32_t dy) {
        for (int32_t r = 0; r < h; ++r) {
            const uint8_t* row = src + static_cast<size_t>(r) * w;
            for (int32_t c = 0; c < w; ++c) {
                int32_t X, Y;
                if (turn == 90) {
                    X = h - 1 - r;
                    Y = c;
                } else if (turn == 180) {
                    X = w - 1 - c;
                    Y = h - 1 - r;
                } else {
                    X = r;
                    Y = w - 1 - c;
                }
                dst[static_cast<size_t>(dy + Y) * ds + dx + X] = row[c];
            }
        }
    };
    rotate(ty, sw, sh, y, outWidth, x0, y0);
    rotate(tu, sw / 2, sh / 2, u, outWidth / 2, x0 / 2, y0 / 2);
    rotate(tv, sw / 2, sh / 2, v, outWidth / 2, x0 / 2, y0 / 2);
    return true;
}

LavfSource::LavfSource(std::unique_ptr<State> state) : s_(std::move(state)) {}
LavfSource::~LavfSource() = default;

std::unique_ptr<LavfSource> LavfSource::Open(const char* path, std::string* why) {
    InitLibav();
    auto s = std::make_unique<State>();
    s->ctx = OpenInput(path, why);
    if (!s->ctx) return nullptr;
    s->videoIndex = BestVideo(s->ctx);
    if (s->videoIndex < 0) {
        if (why) *why = "it has no video stream";
        return nullptr;
    }
    const int sound = av_find_best_stream(s->ctx, AVMEDIA_TYPE_AUDIO, -1, s->videoIndex, nullptr, 0);
    s->soundIndex = sound >= 0 ? sound : -1;
    FillInfo(s->ctx, s->videoIndex, s->soundIndex, &s->info);
    const AVStream* vst = s->ctx->streams[s->videoIndex];
    if (vst->codecpar->width <= 0 || vst->codecpar->height <= 0 ||
        vst->codecpar->width > kMaxCodecDimension || vst->codecpar->height > kMaxCodecDimension) {
        if (why) *why = "its picture size is not one that can be converted";
        return nullptr;
    }
    s->video = OpenDecoder(vst, true);
    if (!s->video) {
        if (why) *why = "its video (" + s->info.videoCodec + ") cannot be decoded";
        return nullptr;
    }
    if (s->soundIndex >= 0 && s->info.samplesPerSec > 0)
        s->sound = OpenDecoder(s->ctx->streams[s->soundIndex], false);
    if (!s->sound) {
        s->soundIndex = -1;
        s->info.samplesPerSec = s->info.channels = s->info.sampleBits = 0;
    }
    for (unsigned i = 0; i < s->ctx->nb_streams; ++i)
        if (static_cast<int>(i) != s->videoIndex && static_cast<int>(i) != s->soundIndex)
            s->ctx->streams[i]->discard = AVDISCARD_ALL;
    s->packet = av_packet_alloc();
    s->frame = av_frame_alloc();
    s->soundFrame = av_frame_alloc();
    if (!s->packet || !s->frame || !s->soundFrame) {
        if (why) *why = "out of memory";
        return nullptr;
    }
    return std::unique_ptr<LavfSource>(new LavfSource(std::move(s)));
}

const LavfInfo& LavfSource::info() const {
    return s_->info;
}

bool LavfSource::SetPicture(int32_t width, int32_t height) {
    if (width < 2 || height < 2 || width % 2 || height % 2 || !J420Bytes(width, height)) return false;
    s_->converter = std::make_unique<LavfConverter>(s_->info, width, height);
    return true;
}

bool LavfSource::SetSound(int32_t samplesPerSec, int32_t bits, int32_t channels) {
    if (samplesPerSec == 0 || !s_->sound) {
        s_->outRate = 0;
        if (s_->soundIndex >= 0) s_->ctx->streams[s_->soundIndex]->discard = AVDISCARD_ALL;
        return true;
    }
    if (samplesPerSec < kMinSoundRate || samplesPerSec > kMaxSoundRate || (bits != 8 && bits != 16) ||
        channels < 1 || channels > 2)
        return false;
    s_->outRate = samplesPerSec;
    s_->outBits = bits;
    s_->outChannels = channels;
    return true;
}

void LavfSource::Seek(double seconds) {
    if (seconds <= 0) return;
    int64_t ts = static_cast<int64_t>(seconds * AV_TIME_BASE);
    if (s_->ctx->start_time != AV_NOPTS_VALUE) ts += s_->ctx->start_time;
    if (avformat_seek_file(s_->ctx, -1, INT64_MIN, ts, ts, 0) < 0) return;
    avcodec_flush_buffers(s_->video);
    if (s_->sound) avcodec_flush_buffers(s_->sound);
    s_->expected = -1e9;
}

void LavfSource::State::Resample(const AVFrame* f) {
    if (f->sample_rate < kMinSoundRate || f->sample_rate > kMaxSoundRate || f->ch_layout.nb_channels <= 0 ||
        f->nb_samples <= 0)
        return;
    if (!swr || f->format != swrFormat || f->sample_rate != swrRate ||
        av_channel_layout_compare(&f->ch_layout, &swrIn) != 0) {
        swr_free(&swr);
        av_channel_layout_uninit(&swrIn);
        av_channel_layout_copy(&swrIn, &f->ch_layout);
        // Channels of no known order are taken as the usual layout of their count.
        AVChannelLayout inLayout{};
        if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
            av_channel_layout_default(&inLayout, f->ch_layout.nb_channels);
        else
            av_channel_layout_copy(&inLayout, &f->ch_layout);
        AVChannelLayout outLayout{};
        av_channel_layout_default(&outLayout, outChannels);
        const AVSampleFormat fmt = outBits == 8 ? AV_SAMPLE_FMT_U8 : AV_SAMPLE_FMT_S16;
        const bool made =
            swr_alloc_set_opts2(&swr, &outLayout, fmt, outRate, &inLayout,
                                static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr) >= 0 &&
            swr_init(swr) >= 0;
        av_channel_layout_uninit(&outLayout);
        av_channel_layout_uninit(&inLayout);
        if (!made) {
            swr_free(&swr);
            av_channel_layout_uninit(&swrIn);
            return;
        }
        swrFormat = f->format;
        swrRate = f->sample_rate;
        expected = -1e9;
    }
    const AVRational tb = ctx->streams[soundIndex]->time_base;
    const int64_t ts = f->best_effort_timestamp;
    double at = ts == AV_NOPTS_VALUE ? expected : Seconds(ts, tb);
    if (at < -1e8) at = 0;
    const int room = swr_get_out_samples(swr, f->nb_samples);
    if (room <= 0) return;
    const int frameBytes = outChannels * outBits / 8;
    std::vector<uint8_t> out(static_cast<size_t>(room) * frameBytes);
    uint8_t* dst = out.data();
    const int got =
        swr_convert(swr, &dst, room, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    if (got <= 0) return;
    out.resize(static_cast<size_t>(got) * frameBytes);
    const double length = static_cast<double>(f->nb_samples) / f->sample_rate;
    if (pending.empty() || std::fabs(at - expected) > kSoundGapSeconds) {
        pending.push_back(LavfSound{at, std::move(out)});
    } else {
        auto& pcm = pending.back().pcm;
        pcm.insert(pcm.end(), out.begin(), out.end());
    }
    expected = (std::fabs(at - expected) > kSoundGapSeconds ? at : expected) + length;
}

bool LavfSource::State::DecodeSound(const AVPacket* p) {
    if (avcodec_send_packet(sound, p) < 0) {
        ++damaged;
        return false;
    }
    while (avcodec_receive_frame(sound, soundFrame) >= 0) {
        if (outRate > 0) Resample(soundFrame);
        av_frame_unref(soundFrame);
    }
    return true;
}

int LavfSource::NextPicture(std::unique_ptr<LavfPicture>* picture, std::string* why) {
    State& s = *s_;
    const AVRational tb = s.ctx->streams[s.videoIndex]->time_base;
    for (;;) {
        const int r = avcodec_receive_frame(s.video, s.frame);
        if (r >= 0) {
            const int64_t ts = s.frame->best_effort_timestamp;
            double at = ts == AV_NOPTS_VALUE ? s.lastSeconds + 1.0 / std::max(s.info.averageRate, 1.0)
                                             : Seconds(ts, tb);
            if (s.lastSeconds < -1e8 && ts == AV_NOPTS_VALUE) at = 0;
            if (s.frame->width <= 0 || s.frame->height <= 0) {
                av_frame_unref(s.frame);
                ++s.damaged;
                continue;
            }
            auto frame = std::make_unique<LavfPicture::Frame>();
            frame->frame = av_frame_alloc();
            if (!frame->frame) {
                av_frame_unref(s.frame);
                if (why) *why = "out of memory";
                return -1;
            }
            av_frame_move_ref(frame->frame, s.frame);
            s.lastSeconds = at;
            picture->reset(new LavfPicture(std::move(frame), at));
            return 1;
        }
        if (r == AVERROR_EOF) return 0;
        if (r != AVERROR(EAGAIN)) {
            if (why) *why = AvError(r);
            return -1;
        }
        if (s.draining) return 0;
        const int rr = av_read_frame(s.ctx, s.packet);
        if (rr == AVERROR_EOF || (rr < 0 && avio_feof(s.ctx->pb))) {
            s.draining = true;
            avcodec_send_packet(s.video, nullptr);
            if (s.sound && s.outRate > 0) s.DecodeSound(nullptr);
            continue;
        }
        if (rr < 0) {
            if (why) *why = AvError(rr);
            return -1;
        }
        if (s.packet->stream_index == s.videoIndex) {
            ++s.packets;
            if (avcodec_send_packet(s.video, s.packet) < 0) ++s.damaged;
        } else if (s.packet->stream_index == s.soundIndex && s.outRate > 0) {
            s.DecodeSound(s.packet);
        }
        av_packet_unref(s.packet);
    }
}

int LavfSource::NextPicture(std::vector<uint8_t>& out, double* seconds, std::string* why) {
    for (;;) {
        std::unique_ptr<LavfPicture> picture;
        const int r = NextPicture(&picture, why);
        if (r <= 0) return r;
        if (!s_->converter || !s_->converter->Convert(*picture, out)) {
            ++s_->damaged;
            continue;
        }
        *seconds = picture->seconds();
        return 1;
    }
}

void LavfSource::TakeSound(std::vector<LavfSound>& out) {
    for (auto& piece : s_->pending) out.push_back(std::move(piece));
    s_->pending.clear();
}

int64_t LavfSource::damagedPackets() const {
    return s_->damaged;
}

int64_t LavfSource::videoPackets() const {
    return s_->packets;
}

bool ReadLavfInfo(const char* path, LavfInfo* info, std::string* why) {
    InitLibav();
    AVFormatContext* ctx = OpenInput(path, why);
    if (!ctx) return false;
    const int video = BestVideo(ctx);
    const int sound = av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, video, nullptr, 0);
    FillInfo(ctx, video, sound >= 0 ? sound : -1, info);
    avformat_close_input(&ctx);
    return true;
}
