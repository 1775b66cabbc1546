// An MP4 file's pictures and sound decoded on demand, over libavformat, libavcodec, libswscale and
// libswresample. Pictures and sound read the file through contexts of their own, so that one seeks
// without disturbing the other.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <string>

#include "core/diag.h"
#include "core/wintypes.h"
#include "platform/codec/codec.h"
#include "platform/mp4/mp4.h"
#include "platform/mp4/mp4decoder.h"

namespace {

// A picture whose 24-bit rows would take more than this is not played.
constexpr int64_t kMaxPictureBytes = int64_t{256} << 20;
// Pictures beyond this many (a day and a half at 30 a second) are left out.
constexpr size_t kMaxPictures = size_t{1} << 22;
constexpr int kMaxSoundRate = 384000;
// Rates outside these (pictures a second) are damage: the file plays at the default.
constexpr double kMinPictureRate = 0.1;
constexpr double kMaxPictureRate = 1000;
constexpr AVRational kDefaultPictureRate{15, 1};
// A seek that lands after the picture asked for is tried again this many key frames earlier.
constexpr int kMaxSeekRetries = 2;
// Samples decoded before the first one wanted after a seek (two AAC frames).
constexpr int64_t kSoundPreRoll = 2048;

AVFormatContext* OpenFile(const char* path, AVMediaType keep, int* index) {
    AVFormatContext* ctx = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = std::string("file:") + path;
    const int r = avformat_open_input(&ctx, url.c_str(), av_find_input_format("mp4"), &options);
    av_dict_free(&options);
    if (r < 0) return nullptr;
    *index = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        if (*index < 0 && st->codecpar->codec_type == keep &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            *index = static_cast<int>(i);
    }
    // The demuxer steps over the other streams' samples without reading them.
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        if (static_cast<int>(i) != *index) ctx->streams[i]->discard = AVDISCARD_ALL;
    if (*index < 0) avformat_close_input(&ctx);
    return ctx;
}

AVCodecContext* OpenDecoder(const AVStream* st) {
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
    if (!c) return nullptr;
    c->pkt_timebase = st->time_base;
    if (avcodec_parameters_to_context(c, st->codecpar) < 0 || avcodec_open2(c, codec, nullptr) < 0)
        avcodec_free_context(&c);
    return c;
}

}  // namespace

struct Mp4Decoder::State {
    struct Key {
        int64_t pts;  // when it is shown
        int64_t dts;  // where the demuxer seeks to it
    };

    ~State() {
        sws_freeContext(sws);
        swr_free(&swr);
        av_channel_layout_uninit(&swrLayout);
        av_frame_free(&frame);
        av_frame_free(&last);
        av_frame_free(&soundFrame);
        av_packet_free(&packet);
        avcodec_free_context(&videoCodec);
        avcodec_free_context(&soundCodec);
        avformat_close_input(&video);
        avformat_close_input(&sound);
    }

    bool OpenPictures(const char* path);
    bool OpenSound(const char* path);
    int32_t IndexOf(int64_t ts) const;
    size_t KeyFor(int32_t index) const;
    void SeekBefore(int32_t index, int keysEarlier);
    bool NextPicture();
    bool Convert(const AVFrame* f);
    bool NextSoundFrame();
    bool AppendSound(std::vector<uint8_t>& out);

    AVPacket* packet = nullptr;

    // Pictures.
    AVFormatContext* video = nullptr;
    int videoIndex = -1;
    AVCodecContext* videoCodec = nullptr;
    SwsContext* sws = nullptr;
    AVFrame* frame = nullptr;
    AVFrame* last = nullptr;   // the picture the decoder gave last
    std::vector<int64_t> pts;  // each picture's time stamp, in showing order
    std::vector<Key> keys;     // the key packets, in showing order
    std::vector<uint8_t> picture;
    int32_t width = 0, height = 0;
    uint32_t rate = 0, scale = 0, tag = 0;
    int32_t shown = -1;    // the picture held in `picture`
    int32_t decoded = -1;  // the picture in `last`; -1 after a seek
    bool draining = false;
    int64_t decodedCount = 0;

    // Sound.
    AVFormatContext* sound = nullptr;
    int soundIndex = -1;
    AVCodecContext* soundCodec = nullptr;
    SwrContext* swr = nullptr;
    AVChannelLayout swrLayout{};  // what swr converts from
    int swrFormat = -1;
    AVFrame* soundFrame = nullptr;
    int32_t samplesPerSec = 0, channels = 0;
    int64_t soundFirst = 0;  // the first sample ReadSound hands on
    int64_t soundAt = -1;    // the sample the next decoded frame starts at; -1 until a frame says
    bool soundDraining = false, soundEnded = false;
};

bool Mp4Decoder::State::OpenPictures(const char* path) {
    video = OpenFile(path, AVMEDIA_TYPE_VIDEO, &videoIndex);
    if (!video) return false;
    AVStream* st = video->streams[videoIndex];
    videoCodec = OpenDecoder(st);
    if (!videoCodec) return false;
    width = st->codecpar->width > 0 ? st->codecpar->width : videoCodec->width;
    height = st->codecpar->height > 0 ? st->codecpar->height : videoCodec->height;
    if (width <= 0 || height <= 0 || width > kMaxCodecDimension || height > kMaxCodecDimension ||
        int64_t{DibRowBytes(width, 24)} * height > kMaxPictureBytes)
        return false;
    tag = st->codecpar->codec_tag;

    // Every picture the file holds: the time stamps its packets carry.
    while (av_read_frame(video, packet) >= 0 && pts.size() < kMaxPictures) {
        if (packet->stream_index == videoIndex && !(packet->flags & AV_PKT_FLAG_DISCARD)) {
            int64_t t = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (t == AV_NOPTS_VALUE) t = pts.empty() ? 0 : pts.back() + 1;
            const int64_t d = packet->dts != AV_NOPTS_VALUE ? packet->dts : t;
            if ((packet->flags & AV_PKT_FLAG_KEY) || keys.empty()) keys.push_back({t, d});
            pts.push_back(t);
        }
        av_packet_unref(packet);
    }
    av_packet_unref(packet);
    if (pts.empty()) return false;
    std::sort(pts.begin(), pts.end());
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.pts < b.pts; });

    AVRational fps =
        st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate : st->r_frame_rate;
    const double perSecond = fps.den > 0 ? av_q2d(fps) : 0;
    if (!(perSecond >= kMinPictureRate && perSecond <= kMaxPictureRate)) fps = kDefaultPictureRate;
    rate = static_cast<uint32_t>(fps.num);
    scale = static_cast<uint32_t>(fps.den);
    picture.assign(static_cast<size_t>(DibRowBytes(width, 24)) * static_cast<size_t>(height), 0);
    return true;
}

bool Mp4Decoder::State::OpenSound(const char* path) {
    sound = OpenFile(path, AVMEDIA_TYPE_AUDIO, &soundIndex);
    if (!sound) return false;
    const AVCodecParameters* p = sound->streams[soundIndex]->codecpar;
    if (p->sample_rate <= 0 || p->sample_rate > kMaxSoundRate || p->ch_layout.nb_channels <= 0) return false;
    soundCodec = OpenDecoder(sound->streams[soundIndex]);
    if (!soundCodec) return false;
    samplesPerSec = p->sample_rate;
    channels = std::min(p->ch_layout.nb_channels, 2);
    return true;
}

// The picture shown at time stamp ts: the last one that starts at or before it.
int32_t Mp4Decoder::State::IndexOf(int64_t ts) const {
    const auto it = std::upper_bound(pts.begin(), pts.end(), ts);
    return it == pts.begin() ? 0 : static_cast<int32_t>(it - pts.begin() - 1);
}

// The last key packet shown at or before picture index (the first when none is).
size_t Mp4Decoder::State::KeyFor(int32_t index) const {
    const int64_t t = pts[static_cast<size_t>(index)];
    const auto it =
        std::upper_bound(keys.begin(), keys.end(), t, [](int64_t v, const Key& k) { return v < k.pts; });
    return it == keys.begin() ? 0 : static_cast<size_t>(it - keys.begin() - 1);
}

void Mp4Decoder::State::SeekBefore(int32_t index, int keysEarlier) {
    const size_t k = KeyFor(index);
    const size_t key = k > static_cast<size_t>(keysEarlier) ? k - static_cast<size_t>(keysEarlier) : 0;
    if (av_seek_frame(video, videoIndex, keys[key].pts, AVSEEK_FLAG_BACKWARD) < 0)
        DebugLog("Mp4Decoder: seek to picture %ld failed", static_cast<long>(index));
    avcodec_flush_buffers(videoCodec);
    draining = false;
    decoded = -1;
}

// The next picture out of the decoder into `last`; false at the end of the file.
bool Mp4Decoder::State::NextPicture() {
    for (;;) {
        const int r = avcodec_receive_frame(videoCodec, frame);
        if (r == 0) {
            av_frame_unref(last);
            av_frame_move_ref(last, frame);
            decodedCount++;
            return true;
        }
        if (r == AVERROR_EOF || draining) return false;
        if (av_read_frame(video, packet) < 0) {
            draining = true;
            avcodec_send_packet(videoCodec, nullptr);
            continue;
        }
        // A damaged packet is passed over: the decoder says so and the next one follows.
        if (packet->stream_index == videoIndex) avcodec_send_packet(videoCodec, packet);
        av_packet_unref(packet);
    }
}

// The decoded picture into `picture`: scaled to the file's size if it is not, bottom-up BGR rows.
bool Mp4Decoder::State::Convert(const AVFrame* f) {
    if (!f || f->width <= 0 || f->height <= 0 || !f->data[0]) return false;
    sws = sws_getCachedContext(sws, f->width, f->height, static_cast<AVPixelFormat>(f->format), width, height,
                               AV_PIX_FMT_BGR24, SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws) return false;
    if (f->color_range == AVCOL_RANGE_JPEG) {
        const int* table = sws_getCoefficients(SWS_CS_DEFAULT);
        sws_setColorspaceDetails(sws, table, 1, table, 1, 0, 1 << 16, 1 << 16);
    }
    const size_t stride = DibRowBytes(width, 24);
    uint8_t* rows[4] = {picture.data()};
    int strides[4] = {static_cast<int>(stride)};
    if (sws_scale(sws, f->data, f->linesize, 0, f->height, rows, strides) != height) return false;
    // Top-down as decoded: the rows are turned over in place.
    std::vector<uint8_t> row(stride);
    for (size_t top = 0, bottom = static_cast<size_t>(height) - 1; top < bottom; top++, bottom--) {
        std::memcpy(row.data(), &picture[top * stride], stride);
        std::memcpy(&picture[top * stride], &picture[bottom * stride], stride);
        std::memcpy(&picture[bottom * stride], row.data(), stride);
    }
    return true;
}

std::unique_ptr<Mp4Decoder> Mp4Decoder::Open(const char* path) {
    Mp4Info info;
    if (!ReadMp4Info(path, &info) || info.width <= 0) return nullptr;  // the file's first box decides
    InitLibav();
    auto s = std::make_unique<State>();
    s->packet = av_packet_alloc();
    s->frame = av_frame_alloc();
    s->last = av_frame_alloc();
    s->soundFrame = av_frame_alloc();
    if (!s->packet || !s->frame || !s->last || !s->soundFrame || !s->OpenPictures(path)) return nullptr;
    if (!s->OpenSound(path)) {
        avcodec_free_context(&s->soundCodec);
        avformat_close_input(&s->sound);
        s->samplesPerSec = s->channels = 0;
    }
    return std::unique_ptr<Mp4Decoder>(new Mp4Decoder(std::move(s)));
}

Mp4Decoder::Mp4Decoder(std::unique_ptr<State> state) : s_(std::move(state)) {}
Mp4Decoder::~Mp4Decoder() = default;

int32_t Mp4Decoder::width() const {
    return s_->width;
}
int32_t Mp4Decoder::height() const {
    return s_->height;
}
int32_t Mp4Decoder::frames() const {
    return static_cast<int32_t>(s_->pts.size());
}
uint32_t Mp4Decoder::rate() const {
    return s_->rate;
}
uint32_t Mp4Decoder::scale() const {
    return s_->scale;
}
uint32_t Mp4Decoder::codecTag() const {
    return s_->tag;
}
int32_t Mp4Decoder::samplesPerSec() const {
    return s_->samplesPerSec;
}
int32_t Mp4Decoder::channels() const {
    return s_->channels;
}
int64_t Mp4Decoder::picturesDecoded() const {
    return s_->decodedCount;
}

const uint8_t* Mp4Decoder::Picture(int32_t index) {
    State& s = *s_;
    index = std::clamp(index, 0, frames() - 1);
    if (index == s.shown) return s.picture.data();
    // On from the picture decoded last unless the key frame before the one asked for is nearer.
    const int32_t key = s.IndexOf(s.keys[s.KeyFor(index)].pts);
    bool onward = s.decoded >= 0 && index > s.decoded && index - s.decoded <= index - key + 1;
    for (int attempt = 0; attempt <= kMaxSeekRetries; attempt++) {
        if (!onward) s.SeekBefore(index, attempt);
        onward = false;
        bool late = false;
        while (s.NextPicture()) {
            const int64_t ts = s.last->best_effort_timestamp;
            const int32_t at = ts != AV_NOPTS_VALUE ? s.IndexOf(ts) : s.decoded + 1;
            // A seek that lands past the picture asked for starts again from an earlier key frame.
            if (s.decoded < 0 && at > index && attempt < kMaxSeekRetries) {
                late = true;
                break;
            }
            s.decoded = at;
            if (at >= index) break;
        }
        if (late) continue;
        // The picture asked for, or the last one there is when the file ends before it.
        if (s.decoded < 0 || !s.Convert(s.last)) return s.shown >= 0 ? s.picture.data() : nullptr;
        s.shown = index;
        return s.picture.data();
    }
    return s.shown >= 0 ? s.picture.data() : nullptr;
}

void Mp4Decoder::SeekSound(int64_t first) {
    State& s = *s_;
    if (!s.soundCodec) return;
    s.soundFirst = std::max<int64_t>(first, 0);
    s.soundAt = -1;
    s.soundDraining = s.soundEnded = false;
    const AVStream* st = s.sound->streams[s.soundIndex];
    const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    // From a little before: the frames there give the decoder what the first sample needs.
    const int64_t ts =
        start + av_rescale_q(s.soundFirst - kSoundPreRoll, AVRational{1, s.samplesPerSec}, st->time_base);
    if (av_seek_frame(s.sound, s.soundIndex, ts, AVSEEK_FLAG_BACKWARD) < 0)
        av_seek_frame(s.sound, s.soundIndex, start, AVSEEK_FLAG_BACKWARD);
    avcodec_flush_buffers(s.soundCodec);
}

// The next frame of sound into soundFrame; false at the end.
bool Mp4Decoder::State::NextSoundFrame() {
    while (!soundEnded) {
        const int r = avcodec_receive_frame(soundCodec, soundFrame);
        if (r == 0) return true;
        if (r == AVERROR_EOF || soundDraining) {
            soundEnded = true;
            break;
        }
        if (av_read_frame(sound, packet) < 0) {
            soundDraining = true;
            avcodec_send_packet(soundCodec, nullptr);
            continue;
        }
        if (packet->stream_index == soundIndex) avcodec_send_packet(soundCodec, packet);
        av_packet_unref(packet);
    }
    return false;
}

// soundFrame as 16-bit PCM, less what lies before soundFirst; false when nothing of it is left.
bool Mp4Decoder::State::AppendSound(std::vector<uint8_t>& out) {
    AVFrame* f = soundFrame;
    if (f->nb_samples <= 0) return false;
    if (soundAt < 0) {
        const AVStream* st = sound->streams[soundIndex];
        const int64_t start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
        soundAt = f->pts != AV_NOPTS_VALUE
                      ? av_rescale_q(f->pts - start, st->time_base, AVRational{1, samplesPerSec})
                      : soundFirst;
    }
    const int64_t at = soundAt;
    soundAt += f->nb_samples;
    const int64_t skip = std::clamp<int64_t>(soundFirst - at, 0, f->nb_samples);
    if (skip == f->nb_samples) return false;
    if (f->sample_rate != samplesPerSec) return false;  // a rate that changes midway is not played
    // The converter is set up again whenever a frame's layout or sample format differs from the last.
    if (!swr || f->format != swrFormat || av_channel_layout_compare(&f->ch_layout, &swrLayout) != 0) {
        swr_free(&swr);
        av_channel_layout_uninit(&swrLayout);
        swrFormat = -1;
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, channels);
        if (swr_alloc_set_opts2(&swr, &outLayout, AV_SAMPLE_FMT_S16, samplesPerSec, &f->ch_layout,
                                static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr) < 0 ||
            swr_init(swr) < 0) {
            swr_free(&swr);
            return false;
        }
        av_channel_layout_copy(&swrLayout, &f->ch_layout);
        swrFormat = f->format;
    }
    const size_t bytesPerSample = static_cast<size_t>(channels) * 2;
    std::vector<uint8_t> pcm(static_cast<size_t>(f->nb_samples) * bytesPerSample);
    uint8_t* into[1] = {pcm.data()};
    const int got =
        swr_convert(swr, into, f->nb_samples, const_cast<const uint8_t**>(f->extended_data), f->nb_samples);
    if (got <= skip) return false;
    out.insert(out.end(),
               pcm.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(skip) * bytesPerSample),
               pcm.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(got) * bytesPerSample));
    return true;
}

bool Mp4Decoder::ReadSound(std::vector<uint8_t>& out) {
    State& s = *s_;
    if (!s.soundCodec) return false;
    while (s.NextSoundFrame())
        if (s.AppendSound(out)) return true;
    return false;
}
