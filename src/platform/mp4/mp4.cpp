// The MP4 writer and reader over libavformat, libavcodec, libswscale and libswresample.
extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/diag.h"
#include "core/diskio.h"
#include "core/outputfile.h"
#include "platform/codec/codec.h"
#include "platform/mp4/mp4.h"

namespace {

// The x264 speed preset: at the same rate factor "veryfast" makes files no larger than "medium"
// (and smaller than "faster" or "fast") in about half its time.
constexpr const char* kX264Preset = "veryfast";
// Main profile cannot carry x264's lossless mode (rate factor 0).
constexpr int kMinMainProfileRateFactor = 1;
constexpr int kMaxMpeg4TimeParts = 65535;
// AAC bits a second per channel by the rate of the sound handed in: sound recorded at a low rate
// holds no high notes to spend bits on.
struct SoundBitRate {
    int32_t upToRate;
    int64_t bitsPerChannel;
};
constexpr SoundBitRate kSoundBitRates[] = {{16000, 32000}, {24000, 48000}, {INT32_MAX, 64000}};
constexpr int kMaxSoundChannels = 8;
constexpr int32_t kMaxSoundRate = 384000;
constexpr int kIoBufferBytes = 1 << 16;
// Room kept on the disk for finishing a file: the index (video and sound entries of every frame),
// the frames an encoder holds back, and a margin.
constexpr int64_t kFinishMarginBytes = 4 << 20;
constexpr int64_t kIndexBytesPerFrame = 64;
constexpr int64_t kHeldBackFrames = 48;  // x264's "veryfast" look-ahead, B-frames and threads, 3 times over
// How much of a file is read to find a picture size its headers leave out.
constexpr int64_t kMaxProbeBytes = 4 << 20;
constexpr int64_t kMaxProbeMicroseconds = 2000000;
// What the first box of an MP4 or QuickTime file may be.
constexpr const char* kLeadingBoxes[] = {"ftyp", "moov", "mdat", "free", "skip", "wide", "pnot"};

std::atomic<bool> gH264Allowed{true};
std::atomic<int64_t> gTestFreeSpace{-1};

const AVCodec* VideoEncoder() {
    InitLibav();
    const AVCodec* codec = gH264Allowed ? avcodec_find_encoder_by_name("libx264") : nullptr;
    return codec ? codec : avcodec_find_encoder(AV_CODEC_ID_MPEG4);
}

std::string ErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

// The file the muxer writes through: a descriptor, or nothing at all when only counting.
struct Sink {
    int fd = -1;
    int64_t position = 0;
    int64_t size = 0;
    int error = 0;  // errno of the first write that failed
};

#if LIBAVFORMAT_VERSION_MAJOR >= 61
int WriteToSink(void* opaque, const uint8_t* data, int length) {
#else
int WriteToSink(void* opaque, uint8_t* data, int length) {
#endif
    auto* sink = static_cast<Sink*>(opaque);
    for (int done = 0; sink->fd >= 0 && done < length;) {
        errno = 0;
        ssize_t n = DiskWrite(sink->fd, data + done, static_cast<size_t>(length - done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!sink->error) sink->error = errno ? errno : EIO;
            return AVERROR(sink->error);
        }
        done += static_cast<int>(n);
    }
    sink->position += length;
    sink->size = std::max(sink->size, sink->position);
    return length;
}

int64_t SeekInSink(void* opaque, int64_t offset, int whence) {
    auto* sink = static_cast<Sink*>(opaque);
    if (whence & AVSEEK_SIZE) return sink->size;
    whence &= ~AVSEEK_FORCE;
    int64_t target = whence == SEEK_SET   ? offset
                     : whence == SEEK_CUR ? sink->position + offset
                     : whence == SEEK_END ? sink->size + offset
                                          : -1;
    if (target < 0) return AVERROR(EINVAL);
    if (sink->fd >= 0 && lseek(sink->fd, target, SEEK_SET) < 0) return AVERROR(errno);
    sink->position = target;
    return target;
}

int Even(int32_t side) {
    return side + (side & 1);
}

}  // namespace

struct Mp4Writer::State {
    Mp4Format format;
    std::string path;  // the file to write (empty: counting only)
    std::string url;   // "file:NAME" of the unnamed file: a colon in the name never picks another protocol
    OutputFile out;
    Sink sink;
    int64_t roomNeeded = 0, roomFree = -1;  // the last HasRoom's figures
    AVIOContext* io = nullptr;
    AVFormatContext* mux = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* sound = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* soundStream = nullptr;
    AVFrame* picture = nullptr;  // the last picture sent, kept for repeats
    AVFrame* soundFrame = nullptr;
    AVPacket* packet = nullptr;
    SwsContext* scaler = nullptr;
    SwrContext* resampler = nullptr;
    AVAudioFifo* fifo = nullptr;
    std::vector<uint8_t> rows;     // the picture with even sides, top row first
    std::vector<uint8_t> pending;  // sound bytes not yet a whole sample
    std::vector<uint8_t> widened;  // 24-bit samples as 32-bit
    int encodedWidth = 0, encodedHeight = 0;
    int inputSampleBytes = 0;
    int64_t soundPts = 0;
    int32_t frames = 0;
    bool headerWritten = false, finished = false, failed = false;

    ~State() { Close(); }

    bool OpenVideo(std::string& problem);
    bool OpenSound(std::string& problem);
    bool OpenMuxer(bool toFile, std::string& problem);
    bool Send(AVCodecContext* encoder, AVStream* stream, AVFrame* frame);
    bool Convert(const uint8_t* pixels);
    bool DrainSound(bool last);
    bool Finish();
    void Close();
};

bool Mp4Writer::State::OpenVideo(std::string& problem) {
    const AVCodec* codec = VideoEncoder();
    if (!codec || !(video = avcodec_alloc_context3(codec))) {
        problem = "no MP4 video encoder";
        return false;
    }
    const bool h264 = codec->id == AV_CODEC_ID_H264;
    encodedWidth = Even(format.width);
    encodedHeight = Even(format.height);
    video->width = encodedWidth;
    video->height = encodedHeight;
    video->pix_fmt = AV_PIX_FMT_YUV420P;
    // MPEG-4 part 2 counts time in at most 65535 parts of a second: its rate is the nearest it has.
    av_reduce(&video->time_base.num, &video->time_base.den, format.scale, format.rate,
              h264 ? INT32_MAX : kMaxMpeg4TimeParts);
    video->framerate = AVRational{video->time_base.den, video->time_base.num};
    video->sample_aspect_ratio = AVRational{1, 1};
    video->color_range = AVCOL_RANGE_MPEG;
    video->colorspace = AVCOL_SPC_SMPTE170M;
    video->color_primaries = AVCOL_PRI_SMPTE170M;
    video->color_trc = AVCOL_TRC_SMPTE170M;
    video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;  // the sample entry carries the parameter sets
    video->thread_count = 0;
    AVDictionary* options = nullptr;
    if (h264) {
        av_dict_set(&options, "preset", kX264Preset, 0);
        av_dict_set(&options, "profile", "main", 0);
        av_dict_set_int(&options, "crf",
                        std::max(QualityToRateFactor(format.quality), kMinMainProfileRateFactor), 0);
    } else {
        video->flags |= AV_CODEC_FLAG_QSCALE;
        video->global_quality = FF_QP2LAMBDA * QualityToQuantiser(format.quality);
    }
    int r = avcodec_open2(video, codec, &options);
    av_dict_free(&options);
    if (r < 0) {
        problem = std::string(codec->name) + " would not open: " + ErrorText(r);
        return false;
    }
    picture = av_frame_alloc();
    if (!picture) return false;
    picture->format = video->pix_fmt;
    picture->width = encodedWidth;
    picture->height = encodedHeight;
    if (av_frame_get_buffer(picture, 0) < 0) return false;
    scaler = sws_getContext(encodedWidth, encodedHeight, AV_PIX_FMT_BGR24, encodedWidth, encodedHeight,
                            AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
    return scaler != nullptr;
}

// The sample format of the PCM handed in, or none for a layout the writer does not take.
static AVSampleFormat InputSampleFormat(const Mp4Format& format) {
    if (format.channels < 1 || format.channels > kMaxSoundChannels || format.samplesPerSec > kMaxSoundRate)
        return AV_SAMPLE_FMT_NONE;
    switch (format.sampleBits) {
        case 8:
            return AV_SAMPLE_FMT_U8;
        case 16:
            return AV_SAMPLE_FMT_S16;
        case 24:  // widened as it comes
        case 32:
            return AV_SAMPLE_FMT_S32;
        default:
            return AV_SAMPLE_FMT_NONE;
    }
}

int64_t Mp4SoundBitRate(const Mp4Format& format) {
    if (format.samplesPerSec <= 0 || InputSampleFormat(format) == AV_SAMPLE_FMT_NONE) return 0;
    for (const SoundBitRate& b : kSoundBitRates)
        if (format.samplesPerSec <= b.upToRate) return b.bitsPerChannel * std::min(format.channels, 2);
    return 0;
}

bool Mp4Writer::State::OpenSound(std::string& problem) {
    const AVSampleFormat in = InputSampleFormat(format);
    inputSampleBytes = format.sampleBits / 8 * format.channels;
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!codec || !(sound = avcodec_alloc_context3(codec))) {
        problem = "no AAC encoder";
        return false;
    }
    // The CD family (11025, 22050, 44100 Hz, ...) goes to 44.1 kHz, every other rate to 48 kHz.
    sound->sample_rate = format.samplesPerSec % 11025 == 0 ? 44100 : 48000;
    sound->sample_fmt = AV_SAMPLE_FMT_FLTP;
    const int channels = std::min(format.channels, 2);
    av_channel_layout_default(&sound->ch_layout, channels);
    sound->bit_rate = Mp4SoundBitRate(format);
    sound->cutoff = std::min(format.samplesPerSec / 2, sound->sample_rate / 2);  // nothing above the source
    sound->profile = FF_PROFILE_AAC_LOW;
    sound->time_base = AVRational{1, sound->sample_rate};
    sound->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int r = avcodec_open2(sound, codec, nullptr);
    if (r < 0) {
        problem = "AAC would not open: " + ErrorText(r);
        return false;
    }
    AVChannelLayout inLayout;
    av_channel_layout_default(&inLayout, format.channels);
    r = swr_alloc_set_opts2(&resampler, &sound->ch_layout, sound->sample_fmt, sound->sample_rate, &inLayout,
                            in, format.samplesPerSec, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    if (r < 0 || swr_init(resampler) < 0) {
        problem = "no resampler from " + std::to_string(format.samplesPerSec) + " Hz";
        return false;
    }
    fifo = av_audio_fifo_alloc(sound->sample_fmt, channels, sound->frame_size * 4);
    soundFrame = av_frame_alloc();
    if (!fifo || !soundFrame) return false;
    soundFrame->format = sound->sample_fmt;
    soundFrame->nb_samples = sound->frame_size;
    soundFrame->sample_rate = sound->sample_rate;
    if (av_channel_layout_copy(&soundFrame->ch_layout, &sound->ch_layout) < 0) return false;
    return av_frame_get_buffer(soundFrame, 0) >= 0;
}

bool Mp4Writer::State::OpenMuxer(bool toFile, std::string& problem) {
    packet = av_packet_alloc();
    if (!packet) return false;
    if (avformat_alloc_output_context2(&mux, nullptr, "mp4", nullptr) < 0 || !mux) {
        problem = "no MP4 muxer";
        return false;
    }
    videoStream = avformat_new_stream(mux, nullptr);
    if (!videoStream || avcodec_parameters_from_context(videoStream->codecpar, video) < 0) return false;
    videoStream->time_base = video->time_base;
    videoStream->avg_frame_rate = video->framerate;
    if (sound) {
        soundStream = avformat_new_stream(mux, nullptr);
        if (!soundStream || avcodec_parameters_from_context(soundStream->codecpar, sound) < 0) return false;
        soundStream->time_base = sound->time_base;
    }
    if (toFile) {
        // Refused without opening: something other than a regular file (a named pipe would block)
        // and a file the user protected, even from root.
        if (!out.Open(path)) {
            problem = std::strerror(out.error());
            return false;
        }
        sink.fd = out.fd();
        url = "file:" + out.readPath();  // the index moves to the front through this name
    }
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
    io = buffer ? avio_alloc_context(buffer, kIoBufferBytes, 1, &sink, nullptr, WriteToSink, SeekInSink)
                : nullptr;
    if (!io) {
        av_free(buffer);
        return false;
    }
    mux->pb = io;
    mux->flags |= AVFMT_FLAG_CUSTOM_IO;
    // The index goes to the front when the file is finished (read back through its name).
    AVDictionary* options = nullptr;
    if (toFile) {
        mux->url = av_strdup(url.c_str());
        av_dict_set(&options, "movflags", "+faststart", 0);
    }
    int r = avformat_write_header(mux, &options);
    av_dict_free(&options);
    if (r < 0) {
        problem = "MP4 header: " + ErrorText(r);
        return false;
    }
    headerWritten = true;
    return true;
}

// Sends a frame (null: the end) and writes every packet the encoder has ready.
bool Mp4Writer::State::Send(AVCodecContext* encoder, AVStream* stream, AVFrame* frame) {
    if (failed) return false;
    int r = avcodec_send_frame(encoder, frame);
    while (r >= 0) {
        r = avcodec_receive_packet(encoder, packet);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) break;
        if (encoder == video) packet->duration = 1;  // every picture lasts one frame
        av_packet_rescale_ts(packet, encoder->time_base, stream->time_base);
        packet->stream_index = stream->index;
        r = av_interleaved_write_frame(mux, packet);
    }
    DebugLog("MP4 %s: %s", encoder == video ? "video" : "sound", ErrorText(r).c_str());
    failed = true;
    return false;
}

// The bottom-up BGR frame into the picture.
bool Mp4Writer::State::Convert(const uint8_t* pixels) {
    if (av_frame_make_writable(picture) < 0) return false;
    const int32_t w = format.width, h = format.height;
    const size_t stride = DibRowBytes(w, 24);
    const uint8_t* top = nullptr;
    int topStride = 0;
    if (w == encodedWidth && h == encodedHeight && w % 16 == 0) {
        top = pixels + stride * static_cast<size_t>(h - 1);
        topStride = -static_cast<int>(stride);
    } else {
        // swscale's vector code reads whole groups of pixels: rows with room to spare, edges repeated
        // out to the even sides.
        const size_t rowBytes = (static_cast<size_t>(encodedWidth) * 3 + 64 + 63) & ~size_t{63};
        rows.resize(rowBytes * static_cast<size_t>(encodedHeight));
        for (int32_t y = 0; y < encodedHeight; ++y) {
            const uint8_t* from = pixels + stride * static_cast<size_t>(h - 1 - std::min(y, h - 1));
            uint8_t* to = rows.data() + rowBytes * static_cast<size_t>(y);
            std::memcpy(to, from, static_cast<size_t>(w) * 3);
            if (encodedWidth > w) std::memcpy(to + w * 3, from + (w - 1) * 3, 3);
        }
        top = rows.data();
        topStride = static_cast<int>(rowBytes);
    }
    return sws_scale(scaler, &top, &topStride, 0, encodedHeight, picture->data, picture->linesize) > 0;
}

// Encodes the sound waiting in the FIFO a whole AAC frame at a time; last: the rest too.
bool Mp4Writer::State::DrainSound(bool last) {
    const int frameSize = sound->frame_size;
    for (int have; (have = av_audio_fifo_size(fifo)) >= frameSize || (last && have > 0);) {
        if (av_frame_make_writable(soundFrame) < 0) return false;
        soundFrame->nb_samples = std::min(have, frameSize);
        if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(soundFrame->data), soundFrame->nb_samples) < 0)
            return false;
        soundFrame->pts = soundPts;
        soundPts += soundFrame->nb_samples;
        if (!Send(sound, soundStream, soundFrame)) return false;
    }
    return true;
}

bool Mp4Writer::State::Finish() {
    if (finished) return !failed;
    finished = true;
    if (!headerWritten) return false;
    bool ok = !failed;
    if (sound) {
        // What the resampler still holds, then the short last frame.
        const int rest = swr_get_out_samples(resampler, 0);
        if (rest > 0) {
            uint8_t** planes = nullptr;
            if (av_samples_alloc_array_and_samples(&planes, nullptr, sound->ch_layout.nb_channels, rest,
                                                   sound->sample_fmt, 0) >= 0) {
                const int got = swr_convert(resampler, planes, rest, nullptr, 0);
                if (got > 0) av_audio_fifo_write(fifo, reinterpret_cast<void**>(planes), got);
                av_freep(&planes[0]);
                av_freep(&planes);
            }
        }
        ok = DrainSound(true) && ok;
        ok = Send(sound, soundStream, nullptr) && ok;
    }
    ok = Send(video, videoStream, nullptr) && ok;
    int r = av_write_trailer(mux);
    if (r < 0) DebugLog("MP4 trailer: %s", ErrorText(r).c_str());
    avio_flush(io);
    ok = ok && r >= 0 && io->error == 0;
    if (ok && out.isOpen() && !out.Sync()) {
        if (!sink.error) sink.error = out.error();
        ok = false;
    }
    return ok;
}

void Mp4Writer::State::Close() {
    out.Abandon();  // a file never committed
    sink.fd = -1;
    if (mux) {
        mux->pb = nullptr;
        avformat_free_context(mux);
        mux = nullptr;
    }
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
    avcodec_free_context(&video);
    avcodec_free_context(&sound);
    av_frame_free(&picture);
    av_frame_free(&soundFrame);
    av_packet_free(&packet);
    sws_freeContext(scaler);
    scaler = nullptr;
    swr_free(&resampler);
    if (fifo) av_audio_fifo_free(fifo);
    fifo = nullptr;
}

std::unique_ptr<Mp4Writer::State> Mp4Writer::OpenState(const std::string* path, const Mp4Format& format,
                                                       std::string& problem) {
    InitLibav();
    if (format.width <= 0 || format.height <= 0 || format.width > kMaxCodecDimension ||
        format.height > kMaxCodecDimension || format.rate == 0 || format.scale == 0 ||
        format.rate > INT32_MAX || format.scale > INT32_MAX) {
        problem = "no MP4 for a " + std::to_string(format.width) + "x" + std::to_string(format.height) +
                  " picture at " + std::to_string(format.rate) + "/" + std::to_string(format.scale);
        return nullptr;
    }
    auto s = std::make_unique<Mp4Writer::State>();
    s->format = format;
    s->format.quality = std::clamp(format.quality, 0, 100);
    if (path) s->path = *path;
    if (!s->OpenVideo(problem)) return nullptr;
    if (format.samplesPerSec > 0 && InputSampleFormat(format) == AV_SAMPLE_FMT_NONE)
        DebugLog("MP4: %ld-bit sound in %ld channels at %ld Hz is left out",
                 static_cast<long>(format.sampleBits), static_cast<long>(format.channels),
                 static_cast<long>(format.samplesPerSec));
    else if (format.samplesPerSec > 0 && !s->OpenSound(problem))
        return nullptr;
    if (!s->OpenMuxer(path != nullptr, problem)) return nullptr;
    return s;
}

Mp4Writer::Mp4Writer(std::unique_ptr<State> state) : s_(std::move(state)) {}
Mp4Writer::~Mp4Writer() = default;

std::unique_ptr<Mp4Writer> Mp4Writer::Create(const std::string& path, const Mp4Format& format,
                                             std::string* problem) {
    std::string why;
    auto state = OpenState(&path, format, why);
    if (!state) {
        if (why.empty()) why = "out of memory";
        DebugLog("MP4 %s: %s", path.c_str(), why.c_str());
        if (problem) *problem = why;
        return nullptr;
    }
    return std::unique_ptr<Mp4Writer>(new Mp4Writer(std::move(state)));
}

std::unique_ptr<Mp4Writer> Mp4Writer::CreateSizeTrial(const Mp4Format& format, std::string* problem) {
    std::string why;
    auto state = OpenState(nullptr, format, why);
    if (!state) {
        if (problem) *problem = why.empty() ? "out of memory" : why;
        return nullptr;
    }
    return std::unique_ptr<Mp4Writer>(new Mp4Writer(std::move(state)));
}

bool Mp4Writer::HasRoom() {
    State& s = *s_;
    if (s.sink.fd < 0) return true;
    // A frame's bytes: what they came to so far, and never less than a first guess (the encoder
    // holds the first frames back, so the file grows late).
    const int64_t perFrame =
        std::max(s.frames > 0 ? s.sink.size / s.frames : 0, int64_t{s.encodedWidth} * s.encodedHeight / 8);
    if (const int64_t room = gTestFreeSpace.load(); room >= 0) {
        s.roomNeeded = perFrame;
        s.roomFree = room - s.sink.size;
    } else {
        struct statvfs disk;
        s.roomNeeded =
            perFrame * (kHeldBackFrames + 1) + kFinishMarginBytes + kIndexBytesPerFrame * (s.frames + 1);
        s.roomFree = fstatvfs(s.sink.fd, &disk) == 0
                         ? static_cast<int64_t>(disk.f_bavail) * static_cast<int64_t>(disk.f_frsize)
                         : -1;  // nothing known: the writes will tell
    }
    return s.roomFree < 0 || s.roomFree >= s.roomNeeded;
}

int64_t Mp4Writer::roomNeeded() const {
    return s_->roomNeeded;
}

int64_t Mp4Writer::roomFree() const {
    return s_->roomFree;
}

bool Mp4Writer::WriteFrame(const uint8_t* pixels) {
    if (s_->finished || !pixels || !s_->Convert(pixels)) return false;
    s_->picture->pts = s_->frames;
    if (!s_->Send(s_->video, s_->videoStream, s_->picture)) return false;
    s_->frames++;
    return true;
}

bool Mp4Writer::RepeatFrame() {
    if (s_->finished || s_->frames == 0) return false;
    s_->picture->pts = s_->frames;
    if (!s_->Send(s_->video, s_->videoStream, s_->picture)) return false;
    s_->frames++;
    return true;
}

bool Mp4Writer::WriteSound(const uint8_t* pcm, size_t bytes) {
    State& s = *s_;
    if (!s.sound) return true;  // a file without sound
    if (s.finished || s.failed) return false;
    s.pending.insert(s.pending.end(), pcm, pcm + bytes);
    const int count = static_cast<int>(s.pending.size() / static_cast<size_t>(s.inputSampleBytes));
    if (count == 0) return true;
    const uint8_t* in = s.pending.data();
    if (s.format.sampleBits == 24) {  // widened to 32 bits, the low byte zero
        const size_t values = static_cast<size_t>(count) * static_cast<size_t>(s.format.channels);
        s.widened.resize(values * 4);
        for (size_t i = 0; i < values; ++i) {
            s.widened[4 * i] = 0;
            std::memcpy(&s.widened[4 * i + 1], in + 3 * i, 3);
        }
        in = s.widened.data();
    }
    const int room = std::max(swr_get_out_samples(s.resampler, count), 1);
    uint8_t** planes = nullptr;
    if (av_samples_alloc_array_and_samples(&planes, nullptr, s.sound->ch_layout.nb_channels, room,
                                           s.sound->sample_fmt, 0) < 0)
        return false;
    const int got = swr_convert(s.resampler, planes, room, &in, count);
    const bool stored = got >= 0 && av_audio_fifo_write(s.fifo, reinterpret_cast<void**>(planes), got) >= got;
    av_freep(&planes[0]);
    av_freep(&planes);
    s.pending.erase(s.pending.begin(), s.pending.begin() + count * s.inputSampleBytes);
    return stored && s.DrainSound(false);
}

bool Mp4Writer::Finish() {
    return s_->Finish();
}

std::string Mp4Writer::finishedFile() const {
    return s_->out.isOpen() ? s_->out.readPath() : s_->path;
}

int Mp4Writer::Commit(bool replace) {
    State& s = *s_;
    if (!s.finished || s.failed || !s.out.isOpen()) return s.sink.error ? s.sink.error : EBADF;
    if (s.out.Commit(replace ? OutputFile::Naming::kReplace : OutputFile::Naming::kIfNameFree)) return 0;
    return s.out.error();
}

int Mp4Writer::WriteError() const {
    return s_->sink.error;
}

int32_t Mp4Writer::frames() const {
    return s_->frames;
}

int64_t Mp4Writer::bytes() const {
    return s_->sink.size;
}

const char* Mp4Writer::videoEncoder() const {
    return s_->video->codec->name;
}

bool Mp4Available() {
    InitLibav();
    return av_guess_format("mp4", nullptr, nullptr) && VideoEncoder() &&
           avcodec_find_encoder(AV_CODEC_ID_AAC);
}

std::string Mp4VideoDescription() {
    const AVCodec* codec = VideoEncoder();
    return codec && codec->id == AV_CODEC_ID_H264 ? "H.264 (x264)" : "MPEG-4 part 2";
}

void SetMp4H264Allowed(bool allowed) {
    gH264Allowed = allowed;
}

void SetMp4FreeSpaceForTests(int64_t bytes) {
    gTestFreeSpace = bytes;
}

// ---- reading ----

namespace {

// A regular file whose first box is one an MP4 or QuickTime file begins with; its length.
bool LooksLikeMp4(const char* path, int64_t* length) {
    struct stat st;
    if (!path || stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    *length = st.st_size;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    char head[8] = {};
    const bool read8 = read(fd, head, sizeof head) == static_cast<ssize_t>(sizeof head);
    close(fd);
    if (!read8) return false;
    for (const char* box : kLeadingBoxes)
        if (std::memcmp(head + 4, box, 4) == 0) return true;
    return false;
}

// The samples of a stream that the file really holds (the index of a fragmented file is gathered
// from its fragments; a cut file's names samples past its end), and the milliseconds they cover:
// up to the first sample that is missing, else the stream's own duration.
struct SamplesThere {
    int64_t count = 0;
    bool all = true;
    int64_t durationMs = 0;
};

SamplesThere SamplesInFile(const AVStream* st, int64_t fileLength) {
    SamplesThere there;
    const int entries = avformat_index_get_entries_count(st);
    int64_t first = AV_NOPTS_VALUE;
    int64_t missing = AV_NOPTS_VALUE;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry* e = avformat_index_get_entry(const_cast<AVStream*>(st), i);
        if (!e) break;
        if (first == AV_NOPTS_VALUE) first = e->timestamp;
        if (e->pos >= 0 && e->size >= 0 && e->pos + e->size <= fileLength) {
            there.count++;
        } else if (there.all) {
            there.all = false;
            missing = e->timestamp;
        }
    }
    int64_t span = 0;
    if (!there.all && first != AV_NOPTS_VALUE)
        span = missing - first;
    else if (st->duration != AV_NOPTS_VALUE)
        span = st->duration;
    if (span > 0) there.durationMs = av_rescale_q(span, st->time_base, AVRational{1, 1000});
    return there;
}

}  // namespace

bool ReadMp4Info(const char* path, Mp4Info* info) {
    Mp4Info found;
    if (!info || !LooksLikeMp4(path, &found.fileLength)) return false;
    InitLibav();
    const AVInputFormat* mov = av_find_input_format("mp4");
    AVFormatContext* ctx = nullptr;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    const std::string url = std::string("file:") + path;
    const int r = avformat_open_input(&ctx, url.c_str(), mov, &options);
    av_dict_free(&options);
    if (r < 0) return false;
    // Sample entries that leave the picture size to the stream itself (MPEG-4 part 2) need a look
    // at its first packets.
    bool sized = true;
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        if (ctx->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            ctx->streams[i]->codecpar->width <= 0)
            sized = false;
    if (!sized) {
        ctx->probesize = kMaxProbeBytes;
        ctx->max_analyze_duration = kMaxProbeMicroseconds;
        avformat_find_stream_info(ctx, nullptr);
    }
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        const AVCodecParameters* p = st->codecpar;
        if (p->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
            found.width == 0) {
            found.width = p->width;
            found.height = p->height;
            found.depth = p->bits_per_coded_sample;
            found.codecTag = p->codec_tag;
            found.videoCodec = avcodec_get_name(p->codec_id);
            const SamplesThere there = SamplesInFile(st, found.fileLength);
            found.frames =
                there.all && st->nb_frames > 0 ? std::min(st->nb_frames, there.count) : there.count;
            found.videoBitRate = p->bit_rate;
            AVRational fps = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate
                                                                                      : st->r_frame_rate;
            if (fps.num > 0 && fps.den > 0) found.rateNum = fps.num, found.rateDen = fps.den;
        } else if (p->codec_type == AVMEDIA_TYPE_AUDIO && found.samplesPerSec == 0) {
            found.samplesPerSec = p->sample_rate;
            found.channels = p->ch_layout.nb_channels;
            found.sampleBits = av_get_exact_bits_per_sample(p->codec_id);
            found.soundCodec = avcodec_get_name(p->codec_id);
        }
    }
    // The file's duration unless a stream is cut short or it states none (a fragmented file): then
    // the longest that its streams really cover.
    bool whole = true;
    int64_t coveredMs = 0;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const SamplesThere there = SamplesInFile(ctx->streams[i], found.fileLength);
        whole = whole && there.all;
        coveredMs = std::max(coveredMs, there.durationMs);
    }
    if (whole && ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
        found.durationMs = ctx->duration / 1000;
    else
        found.durationMs = coveredMs;
    avformat_close_input(&ctx);
    if (found.width == 0 && found.samplesPerSec == 0) return false;
    *info = found;
    return true;
}
