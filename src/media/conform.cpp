#include "media/conform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "core/diag.h"
#include "core/format.h"
#include "core/outputfile.h"
#include "core/wintypes.h"
#include "media/aviwriter.h"
#include "media/riff.h"
#include "platform/codec/codec.h"
#include "platform/lavf/lavf.h"

namespace {

constexpr FOURCC kMJPG = FourCC("MJPG");
constexpr FOURCC kVideoId = FourCC("00dc");
constexpr FOURCC kSoundId = FourCC("01wb");
// Quantiser 3: what `ffmpeg -q:v 3` gives, near transparent.
constexpr DWORD kClipQuality = 9500;
constexpr int32_t kFirstClipMaxWidth = 1920;
constexpr int32_t kFirstClipMaxHeight = 1080;
constexpr double kFirstClipMaxRate = 60;
constexpr double kDefaultRate = 25;
constexpr int32_t kFirstClipMinSoundRate = 11025;
constexpr int32_t kFirstClipMaxSoundRate = 48000;
constexpr int32_t kFirstClipDefaultSoundRate = 48000;
// The AVI writer's positions are 32-bit.
constexpr int64_t kMaxClipBytes = INT32_MAX;
// Time stamps that go back more than this, or leave a gap of more than this, were damaged (files
// joined end to end, a clock that was reset): the stream goes on right after what came before.
constexpr double kJumpBackSeconds = 0.1;
constexpr double kJumpAheadSeconds = 60;
// A picture compressed as JPEG at quantiser 3 takes at least this many bytes a pixel.
constexpr double kLeastBytesPerPixel = 0.05;
// Clips longer than this (a day at 60 frames a second) are refused before anything is read.
constexpr int64_t kMaxClipFrames = int64_t{60} * 60 * 60 * 24;
// Names tried in the clips folder before giving up ("holiday (999).avi").
constexpr int kMaxNameTries = 999;
constexpr const char* kSourceNoteSuffix = ".source";

std::string Base(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Failure(const std::string& source, const std::string& reason) {
    return FormatMessageText("Couldn't convert <%s>: %s", source.c_str(), reason.c_str());
}

// The format the clip gets, the zeros of the request worked out from the source.
ConformFormat Resolve(const ConformFormat& asked, const LavfInfo& in) {
    ConformFormat f = asked;
    if (f.width <= 0 || f.height <= 0) {
        const double dw = std::max(in.displayWidth, 2), dh = std::max(in.displayHeight, 2);
        const double scale = std::min({1.0, kFirstClipMaxWidth / dw, kFirstClipMaxHeight / dh});
        f.width = std::max(2, static_cast<int32_t>(std::lround(dw * scale)) & ~1);
        f.height = std::max(2, static_cast<int32_t>(std::lround(dh * scale)) & ~1);
    }
    if (f.usPerFrame <= 0) {
        const double rate = in.averageRate > 0 ? std::min(in.averageRate, kFirstClipMaxRate) : kDefaultRate;
        f.usPerFrame = static_cast<int32_t>(std::lround(1e6 / rate));
    }
    if (f.sound == ConformFormat::Sound::kAsSource) {
        if (in.samplesPerSec <= 0) {
            f.sound = ConformFormat::Sound::kNone;
        } else {
            f.sound = ConformFormat::Sound::kPcm;
            f.samplesPerSec =
                in.samplesPerSec >= kFirstClipMinSoundRate && in.samplesPerSec <= kFirstClipMaxSoundRate
                    ? in.samplesPerSec
                    : kFirstClipDefaultSoundRate;
            f.sampleBits = 16;
            f.channels = std::min(in.channels, 2);
        }
    }
    if (f.sound == ConformFormat::Sound::kNone) f.samplesPerSec = f.sampleBits = f.channels = 0;
    return f;
}

bool FormatUsable(const ConformFormat& f) {
    if (f.width < 2 || f.height < 2 || f.width % 2 || f.height % 2 || f.width > kMaxCodecDimension ||
        f.height > kMaxCodecDimension || f.usPerFrame < 1000 || f.usPerFrame > 10000000)
        return false;
    if (f.sound != ConformFormat::Sound::kPcm) return true;
    return f.samplesPerSec >= 1000 && f.samplesPerSec <= 384000 &&
           (f.sampleBits == 8 || f.sampleBits == 16) && (f.channels == 1 || f.channels == 2);
}

// The sound of the clip by sample number, placed by the source's time stamps: gaps are silence,
// overlaps and sound before the clip's start are left out; once sound is laid, a piece whose time
// stamp jumps (kJumpBackSeconds, kJumpAheadSeconds) goes on where the sound reached.
class SoundLine {
  public:
    SoundLine(int32_t rate, int32_t bits, int32_t channels)
        : rate_(rate), frameBytes_(bits / 8 * channels), silence_(bits == 8 ? 0x80 : 0) {}

    void Add(const LavfSound& piece, double origin, int64_t limit) {
        if (!rate_ || piece.pcm.empty()) return;
        int64_t at = std::llround((piece.seconds - origin) * rate_) + shift_;
        const int64_t count = static_cast<int64_t>(piece.pcm.size()) / frameBytes_;
        int64_t skip = 0;
        const int64_t end = start_ + static_cast<int64_t>(buffer_.size()) / frameBytes_;
        if (laid_ && (at < end - std::llround(kJumpBackSeconds * rate_) ||
                      at > end + std::llround(kJumpAheadSeconds * rate_))) {
            shift_ += end - at;
            at = end;
        }
        if (at < end) skip = end - at;
        if (skip >= count || at > limit) return;
        laid_ = true;
        if (at > end) buffer_.insert(buffer_.end(), static_cast<size_t>((at - end) * frameBytes_), silence_);
        buffer_.insert(buffer_.end(), piece.pcm.begin() + skip * frameBytes_,
                       piece.pcm.begin() + count * frameBytes_);
    }
    // The sound from the last take up to sample `until`: what there is, or (final) cut or padded
    // with silence to exactly that.
    std::vector<uint8_t> Take(int64_t until, bool final) {
        std::vector<uint8_t> out;
        const int64_t have = start_ + static_cast<int64_t>(buffer_.size()) / frameBytes_;
        const int64_t upto = final ? until : std::min(until, have);
        if (!rate_ || upto <= start_) return out;
        const size_t bytes = static_cast<size_t>((upto - start_) * frameBytes_);
        const size_t taken = std::min(bytes, buffer_.size());
        out.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(taken));
        out.resize(bytes, silence_);
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(taken));
        start_ = upto;
        return out;
    }

  private:
    int32_t rate_;
    int32_t frameBytes_;
    uint8_t silence_;
    int64_t start_ = 0;  // the sample buffer_ begins with
    int64_t shift_ = 0;  // samples added to the time stamps since they jumped
    bool laid_ = false;
    std::deque<uint8_t> buffer_;
};

// Motion JPEG compressing on worker threads, each with its own compressor; frames come back in the
// order they were handed in.
class Compressors {
  public:
    struct Done {
        std::vector<uint8_t> jpeg;
        int32_t repeats = 0;
        bool ok = false;
    };

    Compressors(const LavfInfo& source, int32_t width, int32_t height, int threads)
        : input_(J420Format(width, height)), source_(source), width_(width), height_(height) {
        const int n =
            std::clamp(threads > 0 ? threads : static_cast<int>(std::thread::hardware_concurrency()), 1, 64);
        for (int i = 0; i < n; ++i) {
            HIC hic = ICOpen(ICTYPE_VIDEO, kMJPG, ICMODE_COMPRESS);
            if (!hic) break;
            std::memset(format_, 0, sizeof format_);
            auto* out = reinterpret_cast<BITMAPINFOHEADER*>(format_);
            if (ICCompressGetFormatSize(hic, &input_) > static_cast<LRESULT>(sizeof format_) ||
                ICCompressGetFormat(hic, &input_, out) != ICERR_OK ||
                ICCompressBegin(hic, &input_, out) != ICERR_OK) {
                ICClose(hic);
                break;
            }
            hics_.push_back(hic);
        }
        outBytes_ = DibRowBytes(width, 24) * static_cast<uint32_t>(height);
        for (HIC hic : hics_) threads_.emplace_back([this, hic] { Work(hic); });
    }
    ~Compressors() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        for (auto& t : threads_) t.join();
        for (HIC hic : hics_) {
            ICCompressEnd(hic);
            ICClose(hic);
        }
    }
    bool ready() const { return !hics_.empty(); }
    const BITMAPINFOHEADER* format() const { return reinterpret_cast<const BITMAPINFOHEADER*>(format_); }
    size_t workers() const { return hics_.size(); }

    // Hands a picture in; the caller keeps at most Room() in flight by taking results.
    void Put(std::unique_ptr<LavfPicture> picture, int32_t repeats) {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(Job{next_++, std::move(picture), repeats});
        wake_.notify_one();
    }
    // Whether another picture may be handed in: twice as many as there are workers are in flight.
    bool Room() {
        std::lock_guard<std::mutex> lock(mutex_);
        return next_ - written_ < static_cast<int64_t>(2 * hics_.size());
    }
    // The next frame in order when it is done (wait: until it is); false when none is.
    bool Take(Done* done, bool wait) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (written_ == next_) return false;
        if (wait) ready_.wait(lock, [this] { return done_.count(written_) != 0; });
        auto it = done_.find(written_);
        if (it == done_.end()) return false;
        *done = std::move(it->second);
        done_.erase(it);
        ++written_;
        return true;
    }

  private:
    struct Job {
        int64_t seq;
        std::unique_ptr<LavfPicture> picture;
        int32_t repeats;
    };

    void Work(HIC hic) {
        BITMAPINFOHEADER out{};
        std::memcpy(&out, format_, sizeof out);
        BITMAPINFOHEADER input = input_;
        std::vector<uint8_t> buffer(outBytes_);
        LavfConverter converter(source_, width_, height_);
        std::vector<uint8_t> picture;
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
                if (stop_) return;
                job = std::move(jobs_.front());
                jobs_.pop_front();
            }
            Done d;
            d.repeats = job.repeats;
            out.biSizeImage = outBytes_;
            DWORD ckid = 0, flags = 0;
            d.ok = job.picture && converter.Convert(*job.picture, picture) &&
                   ICCompress(hic, ICCOMPRESS_KEYFRAME, &out, buffer.data(), &input, picture.data(), &ckid,
                              &flags, static_cast<LONG>(job.seq), 0, kClipQuality, nullptr,
                              nullptr) == static_cast<DWORD>(ICERR_OK);
            job.picture.reset();
            if (d.ok) d.jpeg.assign(buffer.begin(), buffer.begin() + out.biSizeImage);
            std::lock_guard<std::mutex> lock(mutex_);
            done_[job.seq] = std::move(d);
            ready_.notify_all();
        }
    }

    BITMAPINFOHEADER input_;
    LavfInfo source_;
    int32_t width_, height_;
    uint8_t format_[68] = {};
    uint32_t outBytes_ = 0;
    std::vector<HIC> hics_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, ready_;
    std::deque<Job> jobs_;
    std::map<int64_t, Done> done_;
    int64_t next_ = 0, written_ = 0;
    bool stop_ = false;
};

// What a clip in the clips folder was made from, kept beside it as ".NAME.avi.source".
std::string NotePath(const std::string& clip) {
    const size_t slash = clip.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : clip.substr(0, slash + 1);
    return folder + "." + Base(clip) + kSourceNoteSuffix;
}

std::string NoteText(const ConformRequest& r, const struct stat& st) {
    const ConformFormat& f = r.format;
    return FormatMessageText("%s\n%lld %lld.%09ld\n%d %d %d %d %d %d %d\n%.6f %.6f\n", r.source.c_str(),
                             static_cast<long long>(st.st_size), static_cast<long long>(st.st_mtim.tv_sec),
                             static_cast<long>(st.st_mtim.tv_nsec), f.width, f.height, f.usPerFrame,
                             static_cast<int>(f.sound), f.samplesPerSec, f.sampleBits, f.channels,
                             r.startSeconds, r.seconds);
}

std::string ReadSmallFile(const std::string& path) {
    std::string text;
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) return text;
    char buf[4096];
    const size_t n = std::fread(buf, 1, sizeof buf, fp);
    std::fclose(fp);
    text.assign(buf, n);
    return text;
}

// A clip of the folder whose note matches: its path, or empty.
std::string FindMade(const std::string& folder, const std::string& note) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        const size_t suffix = std::strlen(kSourceNoteSuffix);
        if (name.size() <= suffix + 1 || name[0] != '.' ||
            name.compare(name.size() - suffix, suffix, kSourceNoteSuffix))
            continue;
        if (ReadSmallFile(entry.path().string()) != note) continue;
        const std::string clip = folder + "/" + name.substr(1, name.size() - suffix - 1);
        AVIinfoRecord info{};
        if (ReadAVIInfo(clip.c_str(), info) && info.totalFrames > 0) return clip;
    }
    return {};
}

// "holiday.avi", then "holiday (2).avi" and on, the first name no file has.
std::string FreeName(const std::string& folder, const std::string& source) {
    std::string stem = Base(source);
    const size_t dot = stem.find_last_of('.');
    if (dot != std::string::npos && dot > 0) stem.resize(dot);
    if (stem.empty()) stem = "clip";
    for (int i = 1; i <= kMaxNameTries; ++i) {
        const std::string name = i == 1 ? stem + ".avi" : FormatMessageText("%s (%d).avi", stem.c_str(), i);
        const std::string path = folder + "/" + name;
        struct stat st {};
        if (lstat(path.c_str(), &st) != 0 && errno == ENOENT && lstat(NotePath(path).c_str(), &st) != 0)
            return path;
    }
    return {};
}

bool WriteNote(const std::string& clip, const std::string& text) {
    OutputFile out;
    return out.Open(NotePath(clip)) && out.Write(text.data(), text.size()) && out.Commit();
}

bool SameFile(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

}  // namespace

ConformResult ConformVideo(const ConformRequest& request, const ConformProgress& progress,
                           const std::atomic<bool>* cancel) {
    ConformResult result;
    const std::string& source = request.source;
    auto fail = [&](const std::string& reason) {
        result.ok = false;
        result.message = Failure(source, reason);
        result.path.clear();
        return result;
    };
    struct stat st {};
    if (stat(source.c_str(), &st) != 0) return fail(std::strerror(errno));
    if (!S_ISREG(st.st_mode)) return fail("it is not a regular file");
    if (!(request.startSeconds >= 0) || !(request.seconds >= 0))
        return fail("the part asked for is not in the file");

    std::string why;
    auto src = LavfSource::Open(source.c_str(), &why);
    if (!src) return fail(why);
    const LavfInfo& in = src->info();
    const ConformFormat f = Resolve(request.format, in);
    if (!FormatUsable(f)) return fail("the clip's format cannot be made");

    // The clip's name: the one asked for, or a new one in the clips folder (or the clip made before).
    std::string output = request.output;
    std::string note;
    if (output.empty()) {
        std::string folder = request.clipsFolder;
        while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
        if (folder.empty()) return fail("no folder for converted clips");
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        if (ec)
            return fail(
                FormatMessageText("couldn't make the folder %s: %s", folder.c_str(), ec.message().c_str()));
        ConformRequest keyed = request;
        keyed.format = f;
        note = NoteText(keyed, st);
        const std::string made = FindMade(folder, note);
        if (!made.empty()) {
            AVIinfoRecord info{};
            ReadAVIInfo(made.c_str(), info);
            result.ok = result.reused = true;
            result.path = made;
            result.frames = info.totalFrames;
            result.width = info.width;
            result.height = info.height;
            result.usPerFrame = f.usPerFrame;
            result.samplesPerSec = info.samplesPerSec;
            result.sampleBits = info.bitsPerSample;
            result.channels = info.channels;
            return result;
        }
        output = FreeName(folder, source);
        if (output.empty()) return fail("no free name for the clip in " + folder);
    } else if (SameFile(output, source)) {
        return fail("the clip would replace the file itself");
    }

    // The part of the source: from startSeconds for `seconds`, as far as the file goes.
    const double dt = f.usPerFrame / 1e6;
    double length = in.durationSeconds - request.startSeconds;
    if (request.seconds > 0)
        length = in.durationSeconds > 0 ? std::min(length, request.seconds) : request.seconds;
    if (in.durationSeconds > 0 && length <= 0) return fail("the part asked for is not in the file");
    const int64_t estimate = length > 0 ? std::max<int64_t>(1, std::llround(length / dt)) : 0;
    if (estimate > kMaxClipFrames) return fail("it is too long to convert");
    const bool sound = f.sound == ConformFormat::Sound::kPcm;
    const int32_t frameBytes = sound ? f.sampleBits / 8 * f.channels : 0;
    const double soundBytes = sound ? length * f.samplesPerSec * frameBytes : 0;
    const double leastBytes = soundBytes + estimate * (16.0 + kLeastBytesPerPixel * f.width * f.height);
    const std::string tooLarge =
        "its clip would be larger than 2 GB, the most an AVI file holds (convert a shorter part of it)";
    if (leastBytes > static_cast<double>(kMaxClipBytes)) return fail(tooLarge);

    if (!src->SetSound(sound ? f.samplesPerSec : 0, f.sampleBits, f.channels))
        return fail("the clip's format cannot be made");
    // A source without sound still gets the sound format (silence), so the clip joins the others.
    if (request.startSeconds > 0) src->Seek(request.startSeconds);

    Compressors compressors(in, f.width, f.height, request.threads);
    if (!compressors.ready()) return fail("no Motion JPEG compressor");

    WAVIStreams streams;
    streams.width = f.width;
    streams.height = f.height;
    streams.bitCount = 24;
    streams.format = compressors.format();
    streams.handler = kMJPG;
    streams.usPerFrame = f.usPerFrame;
    streams.samplesPerSec = sound ? f.samplesPerSec : 0;
    streams.channels = f.channels;
    streams.bitsPerSample = f.sampleBits;
    streams.quiet = true;
    const int32_t handle = MyCreateWAVI(output.c_str(), std::max<int64_t>(estimate, 1), streams);
    if (!handle) {
        const int e = AVIWriteError();
        return fail(FormatMessageText("couldn't write %s: %s", output.c_str(), std::strerror(e ? e : EIO)));
    }
    // Whatever ends this without a commit leaves no file.
    struct Abandon {
        bool armed = true;
        ~Abandon() {
            if (armed) MyAbandonAVI();
        }
    } abandon;

    SoundLine line(sound ? f.samplesPerSec : 0, f.sampleBits, f.channels);
    std::vector<LavfSound> pieces;
    int64_t framesOut = 0;  // frames written
    int64_t framesPlanned = 0;
    std::string problem;
    auto soundUntil = [&](int64_t frame) {
        return static_cast<int64_t>(
            std::llround(static_cast<double>(frame) * f.usPerFrame * f.samplesPerSec / 1e6));
    };
    // Writes the frames the compressors have finished, with the sound before each; wait: every frame
    // handed in, otherwise waiting only until another picture may be handed in.
    auto drain = [&](bool wait) {
        Compressors::Done done;
        while (problem.empty() && compressors.Take(&done, wait || !compressors.Room())) {
            if (!done.ok) {
                problem = "a picture could not be compressed";
                return;
            }
            for (int32_t k = 0; k < done.repeats; ++k) {
                if (sound) {
                    const auto pcm = line.Take(soundUntil(framesOut + 1), false);
                    if (!pcm.empty() &&
                        !MyWriteChunk(handle, pcm.data(), static_cast<int32_t>(pcm.size()), kSoundId, 0)) {
                        problem = AVIWriteError() ? std::strerror(AVIWriteError()) : tooLarge;
                        return;
                    }
                }
                if (!MyWriteChunk(handle, done.jpeg.data(), static_cast<int32_t>(done.jpeg.size()), kVideoId,
                                  AVIIF_KEYFRAME)) {
                    problem = AVIWriteError() ? std::strerror(AVIWriteError()) : tooLarge;
                    return;
                }
                ++framesOut;
                if (progress) progress(framesOut, std::max(estimate, framesPlanned));
            }
        }
    };

    // Frames n of the clip that show a picture shown from t on: those with (n + 1/2) frames < t.
    auto framesBefore = [dt](double t) {
        const double n = std::ceil(t / dt - 0.5);
        return static_cast<int64_t>(std::clamp(n, 0.0, static_cast<double>(kMaxClipFrames + 1)));
    };
    // More frames than the header's length allows (and then some) come from damaged time stamps.
    const int64_t frameCap =
        estimate > 0 ? std::min(kMaxClipFrames, estimate + estimate / 2 + framesBefore(10)) : kMaxClipFrames;
    std::unique_ptr<LavfPicture> held, picture;
    double heldAt = 0, lastStep = 0, shift = 0;  // shift: seconds added since the time stamps jumped
    bool haveHeld = false, first = true;
    double origin = 0;
    const double limit = request.seconds > 0 ? request.seconds : 1e300;
    bool cancelled = false, readFailed = false, reachedLimit = false;
    for (;;) {
        if (cancel && cancel->load()) {
            cancelled = true;
            break;
        }
        const int r = src->NextPicture(&picture, &why);
        if (r < 0) {
            readFailed = true;
            break;
        }
        if (r == 0) break;
        const double at = picture->seconds();
        if (first) {
            origin = request.startSeconds > 0 ? in.startSeconds + request.startSeconds : at;
            first = false;
        }
        double rel = at - origin + shift;
        // A picture whose time stamp jumped comes one step after the one before it.
        if (haveHeld && (rel < heldAt - kJumpBackSeconds || rel > heldAt + kJumpAheadSeconds)) {
            const double step = lastStep > 0 ? lastStep : in.averageRate > 0 ? 1.0 / in.averageRate : dt;
            shift += heldAt + step - rel;
            rel = heldAt + step;
        }
        src->TakeSound(pieces);
        // Sound far beyond the pictures (damaged time stamps) is left out rather than padded up to.
        const int64_t soundLimit =
            soundUntil(std::max(estimate, framesPlanned) + 1) + int64_t{60} * f.samplesPerSec;
        for (const auto& piece : pieces) line.Add(piece, origin, soundLimit);
        pieces.clear();
        if (rel >= limit) {
            reachedLimit = true;
            break;
        }
        if (haveHeld) {
            const int64_t repeats = std::min(framesBefore(rel), framesBefore(limit + dt / 2)) - framesPlanned;
            if (rel > heldAt) lastStep = rel - heldAt;
            if (repeats > 0) {
                if (framesPlanned + repeats > frameCap) {
                    problem = "its pictures' time stamps run far past its length";
                    break;
                }
                drain(false);
                if (!problem.empty()) break;
                compressors.Put(std::move(held), static_cast<int32_t>(repeats));
                framesPlanned += repeats;
            }
        }
        held = std::move(picture);
        heldAt = rel;
        haveHeld = true;
    }
    if (!cancelled && !readFailed && problem.empty() && haveHeld) {
        // The last picture lasts as long as the one before it did (or one frame), up to the part's end.
        const double step = lastStep > 0 ? lastStep : in.averageRate > 0 ? 1.0 / in.averageRate : dt;
        const double end = reachedLimit ? limit : std::min(heldAt + step, limit);
        int64_t repeats = std::max<int64_t>(framesBefore(end) - framesPlanned, framesPlanned == 0 ? 1 : 0);
        if (framesPlanned + repeats > frameCap) {
            problem = "its pictures' time stamps run far past its length";
        } else if (repeats > 0) {
            compressors.Put(std::move(held), static_cast<int32_t>(repeats));
            framesPlanned += repeats;
        }
    }
    drain(true);
    if (cancel && cancel->load()) cancelled = true;
    if (cancelled) {
        result.cancelled = true;
        return fail("cancelled");
    }
    if (readFailed) return fail(why.empty() ? "it could not be read to the end" : why);
    if (!problem.empty()) return fail(problem);
    if (framesOut == 0) return fail("no picture in it could be decoded");
    // A file whose index lists more pictures than could be read was cut short.
    if (request.seconds <= 0 && request.startSeconds <= 0 && in.frames > 0 && src->videoPackets() < in.frames)
        return fail(FormatMessageText("it ends after %lld of its %lld pictures",
                                      static_cast<long long>(src->videoPackets()),
                                      static_cast<long long>(in.frames)));
    if (sound) {
        const auto pcm = line.Take(soundUntil(framesOut), true);
        if (!pcm.empty() && !MyWriteChunk(handle, pcm.data(), static_cast<int32_t>(pcm.size()), kSoundId, 0))
            return fail(AVIWriteError() ? std::strerror(AVIWriteError()) : tooLarge);
    }
    if (!MyFinishAVI(handle, static_cast<int32_t>(framesOut)) || AVIFramesClosed() != framesOut) {
        const int e = AVIWriteError();
        return fail(FormatMessageText("couldn't write %s: %s", output.c_str(),
                                      e ? std::strerror(e) : tooLarge.c_str()));
    }
    const bool clipsFolder = request.output.empty();
    if (!MyCommitAVI(!clipsFolder)) {
        const int e = AVIWriteError();
        return fail(FormatMessageText("couldn't write %s: %s", output.c_str(), std::strerror(e ? e : EIO)));
    }
    abandon.armed = false;
    if (clipsFolder && !WriteNote(output, note))
        DebugLog("ConformVideo: no note kept beside %s", output.c_str());
    result.ok = true;
    result.path = output;
    result.frames = static_cast<int32_t>(framesOut);
    result.width = f.width;
    result.height = f.height;
    result.usPerFrame = f.usPerFrame;
    result.samplesPerSec = sound ? f.samplesPerSec : 0;
    result.sampleBits = sound ? f.sampleBits : 0;
    result.channels = sound ? f.channels : 0;
    return result;
}

ClipFit ProbeClip(const char* path, const ConformFormat& format, std::string* why) {
    ConformFormat clip;
    if (ConformFormatOfClip(path, &clip)) {
        const auto fps = [](int32_t us) { return static_cast<int32_t>(std::trunc(1e6 / us + 0.5)); };
        if ((format.width <= 0 || (clip.width == format.width && clip.height == format.height)) &&
            (format.usPerFrame <= 0 || fps(clip.usPerFrame) == fps(format.usPerFrame)))
            return ClipFit::kAsIs;
        return ClipFit::kNeedsConforming;
    }
    LavfInfo info;
    std::string reason;
    if (!ReadLavfInfo(path, &info, &reason)) {
        if (why) *why = reason;
        return ClipFit::kNotVideo;
    }
    if (info.videoCodec.empty()) {
        if (why) *why = "it has no video stream";
        return ClipFit::kNotVideo;
    }
    return ClipFit::kNeedsConforming;
}

bool ConformFormatOfClip(const char* path, ConformFormat* format) {
    AVIinfoRecord info{};
    if (!path || !ReadAVIInfo(path, info) || info.totalFrames <= 0 || info.width <= 0 || info.height <= 0 ||
        info.videoRate == 0 || info.videoScale == 0)
        return false;
    if (info.compression != BI_RGB) {
        BITMAPINFOHEADER in{};
        std::memcpy(&in, info.videoFormat, sizeof in);
        HIC hic = ICLocate(ICTYPE_VIDEO, 0, &in, nullptr, ICMODE_DECOMPRESS);
        if (!hic) return false;
        ICClose(hic);
    }
    const double us = std::trunc(1e6 / info.videoRate * info.videoScale);
    if (us < 1 || us > INT32_MAX) return false;
    ConformFormat f;
    f.width = info.width;
    f.height = info.height;
    f.usPerFrame = static_cast<int32_t>(us);
    const bool pcm = info.samplesPerSec > 0 && (info.bitsPerSample == 8 || info.bitsPerSample == 16) &&
                     (info.channels == 1 || info.channels == 2);
    f.sound = pcm ? ConformFormat::Sound::kPcm : ConformFormat::Sound::kNone;
    if (pcm) {
        f.samplesPerSec = info.samplesPerSec;
        f.sampleBits = info.bitsPerSample;
        f.channels = info.channels;
    }
    *format = f;
    return true;
}
