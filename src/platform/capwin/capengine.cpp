#include "platform/capwin/capengine.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

int64_t MicrosBetween(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration_cast<std::chrono::microseconds>(b - a).count();
}

}  // namespace

CaptureEngine::CaptureEngine(HWND window, CaptureDriver* driver, CaptureCallbacks* callbacks,
                             CaptureCounts* counts)
    : window_(window), driver_(driver), callbacks_(callbacks), counts_(counts) {}

CaptureEngine::~CaptureEngine() {
    Stop();
}

bool CaptureEngine::StartCompressors(const CAPCOMPRESSION& compression) {
    stored_ = format_;
    store_ = Store::AsDelivered;
    if (IsMjpegFormat(format_)) {
        store_ = Store::AddTables;
        compressors_.assign(1, nullptr);
        return true;
    }
    if (compression.fccHandler != FourCC("MJPG")) return true;
    store_ = Store::Compress;
    stored_ = MjpegCaptureFormat(format_.biWidth, format_.biHeight);
    const unsigned count = std::clamp(std::thread::hardware_concurrency(), 1u, kMaxCompressors);
    for (unsigned i = 0; i < count; i++) {
        HIC hic = ICOpen(ICTYPE_VIDEO, FourCC("MJPG"), ICMODE_COMPRESS);
        if (!hic) break;
        compressors_.push_back(hic);
        BITMAPINFOHEADER out = stored_;
        if (ICCompressBegin(hic, &format_, &out) != ICERR_OK) break;
    }
    if (compressors_.size() == count && compressors_.back()) {
        // The quality goes with every frame (0-100 as the codec's 0-10000).
        quality_ = std::min<uint32_t>(compression.dwQuality, 100) * 100;
        return true;
    }
    EndCompressors();
    return false;
}

void CaptureEngine::EndCompressors() {
    for (HIC hic : compressors_)
        if (hic) ICClose(hic);
    compressors_.clear();
}

bool CaptureEngine::Start(const std::string& file, uint32_t microSecPerFrame, const WAVEFORMATEX* audio,
                          const CAPCOMPRESSION& compression, int64_t limitUs) {
    format_ = driver_->Format();
    if (!IsCaptureFormat(format_)) return false;
    period_ = std::clamp(microSecPerFrame, kMinMicroSecPerFrame, kMaxMicroSecPerFrame);
    // The frames of the limit, rounded: two seconds at 33333 microseconds a frame are 60 frames.
    frameLimit_ = limitUs > 0 ? std::max<int64_t>((limitUs + period_ / 2) / period_, 1) : 0;
    hasAudio_ = audio != nullptr && driver_->HasAudio();
    if (hasAudio_) audio_ = *audio;
    file_ = file;
    if (!StartCompressors(compression)) {
        Fail(IDS_CAP_WRITEERROR, "Cannot start the Motion JPEG compressor");
        return false;
    }
    if (!avi_.Open(file, stored_, period_, hasAudio_ ? &audio_ : nullptr)) {
        FailFile(IDS_CAP_FILE_OPEN_ERROR, "Cannot open the capture file");
        EndCompressors();
        return false;
    }
    if (!driver_->Begin(period_, hasAudio_ ? &audio_ : nullptr)) {
        avi_.Close();
        EndCompressors();
        return false;
    }
    // A buffer holds the frame as delivered and then as stored (a camera's JPEG frame grows by its
    // tables); the pool is as deep as its share of memory allows, so that a busy machine delays
    // frames rather than drops them.
    frameBytes_ =
        std::max<size_t>(format_.biSizeImage, 1) + (store_ == Store::AsDelivered ? 0 : kJpegTablesRoom);
    const auto memory = static_cast<size_t>(std::max<long>(sysconf(_SC_PHYS_PAGES), 0)) *
                        static_cast<size_t>(std::max<long>(sysconf(_SC_PAGESIZE), 0));
    const size_t poolBytes =
        std::clamp(memory / kCapturePoolShare, kMinCapturePoolBytes, kMaxCapturePoolBytes);
    const size_t frames = std::clamp(poolBytes / frameBytes_, kMinPoolFrames, kMaxPoolFrames);
    try {
        pool_.clear();
        for (size_t i = 0; i < frames; i++) pool_.emplace_back(new uint8_t[frameBytes_]);
        scratch_.assign(store_ == Store::Compress ? compressors_.size() : 0,
                        std::vector<uint8_t>(frameBytes_));
    } catch (const std::bad_alloc&) {
        driver_->End();
        avi_.Close();
        EndCompressors();
        return false;
    }
    free_.clear();
    for (size_t i = 0; i < frames; i++) free_.push_back(static_cast<int32_t>(i));
    counts_->frames = 0;
    counts_->dropped = 0;
    counts_->waveSamples = 0;
    counts_->elapsedMs = 0;
    counts_->videoBytes = 0;
    counts_->storedFrames = 0;
    counts_->running = true;
    stop_ = false;
    grabbingDone_ = false;
    raw_ = 0;
    failed_ = false;
    if (auto status = callbacks_->status.load()) status(window_, IDS_CAP_BEGIN, "Capture Start");
    // Whatever goes wrong on the threads ends the capture with an error, never the program.
    try {
        writer_ = std::thread([this] {
            try {
                Write();
            } catch (...) {
                Fail(IDS_CAP_FILE_WRITE_ERROR, "Error writing the capture file");
            }
            // The frames taken but never written (a full disk) are no part of the capture.
            counts_->frames = avi_.frames();
            counts_->dropped = avi_.droppedFrames();
            counts_->running = false;
        });
        for (size_t i = 0; i < compressors_.size(); i++) workers_.emplace_back([this, i] { Compress(i); });
        grabber_ = std::thread([this] {
            try {
                Grab();
            } catch (...) {
                Fail(IDS_CAP_WRITEERROR, "Capture stopped: out of memory");
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                grabbingDone_ = true;
            }
            wake_.notify_all();
            work_.notify_all();
        });
    } catch (const std::system_error&) {
        Stop();
        return false;
    }
    return true;
}

void CaptureEngine::Stop() {
    if (!grabber_.joinable() && !writer_.joinable() && workers_.empty()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
        // A start that failed part way has no grabber to say it is done.
        if (!grabber_.joinable()) grabbingDone_ = true;
    }
    wake_.notify_all();
    work_.notify_all();
    if (grabber_.joinable()) grabber_.join();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
    if (writer_.joinable()) writer_.join();
    EndCompressors();
    driver_->End();
    counts_->running = false;
    if (auto status = callbacks_->status.load()) status(window_, IDS_CAP_END, "Capture End");
}

bool CaptureEngine::LatestFrame(std::vector<uint8_t>& rows) {
    wantLatest_ = true;
    std::lock_guard<std::mutex> lock(latestMutex_);
    if (latest_.empty()) return false;
    rows = latest_;
    return true;
}

void CaptureEngine::Fail(int id, const char* text) {
    failed_ = true;
    if (auto error = callbacks_->error.load()) error(window_, id, text);
}

void CaptureEngine::FailFile(int id, const char* what) {
    const int error = avi_.error() ? avi_.error() : EIO;
    Fail(id, (std::string(what) + " <" + file_ + ">\n" + std::strerror(error)).c_str());
}

void CaptureEngine::Push(Item item) {
    const bool raw = item.stage == Stage::Raw;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(item));
        if (raw) raw_++;
    }
    if (raw)
        work_.notify_one();
    else
        wake_.notify_all();
}

void CaptureEngine::SendAudio(std::vector<uint8_t>& pending) {
    const size_t block = std::max<uint16_t>(audio_.nBlockAlign, 1);
    const size_t bytes = pending.size() / block * block;
    if (bytes == 0) return;
    std::vector<uint8_t> chunk(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(bytes));
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(bytes));
    if (auto wave = callbacks_->wave.load()) {
        WAVEHDR h{};
        h.lpData = reinterpret_cast<char*>(chunk.data());
        h.dwBufferLength = static_cast<uint32_t>(bytes);
        h.dwBytesRecorded = static_cast<uint32_t>(bytes);
        wave(window_, &h);
    }
    counts_->waveSamples += static_cast<uint32_t>(bytes / block);
    Push({-1, std::move(chunk), true});
}

void CaptureEngine::Grab() {
    // Frames are due by the clock: the thread asks for the lowest real-time priority, which only a
    // user allowed to have it gets; everyone else captures at the normal priority.
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_RR);
    pthread_setschedparam(pthread_self(), SCHED_RR, &priority);
    if (auto control = callbacks_->control.load()) control(window_, CONTROLCALLBACK_PREROLL);
    const Clock::time_point start = Clock::now();
    const auto period = std::chrono::microseconds(period_);
    const Clock::duration lateLimit = std::max<Clock::duration>(period, std::chrono::milliseconds(250));
    // Sound goes out in chunks of about a tenth of a second, whole sample frames; at most a
    // second of it is asked for at a time.
    const size_t block = hasAudio_ ? std::max<uint16_t>(audio_.nBlockAlign, 1) : 1;
    const size_t chunkBytes =
        std::max<size_t>(block, audio_.nAvgBytesPerSec * kAudioChunkMs / 1000 / block * block);
    const size_t askBytes = std::max<size_t>(audio_.nAvgBytesPerSec, block);
    std::vector<uint8_t> pending;
    int64_t n = 0;
    for (;; n++) {
        const Clock::time_point due = start + n * period;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (wake_.wait_until(lock, due, [this] { return stop_; })) break;
        }
        // A limited capture ends when its last frame's time is over.
        if (failed_ || (frameLimit_ > 0 && n >= frameLimit_)) break;
        const Clock::time_point now = Clock::now();
        // A frame is dropped when it could not be taken within a quarter of a second of its time
        // (or its period, when longer), so that the frame numbers keep to the clock; a shorter
        // stall of this thread (the machine taking the processor away) is caught up at once.
        int32_t buffer = -1;
        if (now - due < lateLimit) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                buffer = free_.back();
                free_.pop_back();
            }
        }
        const int64_t dueUs = n * static_cast<int64_t>(period_);
        uint32_t bytes = 0;
        if (buffer >= 0) {
            bytes = std::min<uint32_t>(driver_->Grab(n, dueUs, pool_[static_cast<size_t>(buffer)].get()),
                                       static_cast<uint32_t>(frameBytes_));
            if (bytes == 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                free_.push_back(buffer);
                buffer = -1;
            }
            // A source that is gone ends the capture; what it delivered until then is kept.
            if (const std::string why = bytes == 0 ? driver_->Lost() : std::string(); !why.empty()) {
                if (auto error = callbacks_->error.load()) error(window_, IDS_CAP_DRIVER_ERROR, why.c_str());
                break;
            }
        }
        counts_->frames = static_cast<uint32_t>(n + 1);
        counts_->elapsedMs = static_cast<uint32_t>(MicrosBetween(start, now) / 1000);
        if (buffer >= 0) {
            uint8_t* rows = pool_[static_cast<size_t>(buffer)].get();
            if (wantLatest_ && store_ != Store::AddTables) {
                std::lock_guard<std::mutex> lock(latestMutex_);
                latest_.assign(rows, rows + format_.biSizeImage);
            }
        } else {
            counts_->dropped++;
        }
        Push({buffer,
              {},
              false,
              bytes,
              buffer >= 0 && store_ != Store::AsDelivered ? Stage::Raw : Stage::Ready,
              dueUs});
        if (hasAudio_) {
            driver_->ReadAudio((n + 1) * static_cast<int64_t>(period_), pending, askBytes);
            if (pending.size() >= chunkBytes) SendAudio(pending);
        }
        if (auto yield = callbacks_->yield.load()) yield(window_);
        if (auto control = callbacks_->control.load();
            control && !control(window_, CONTROLCALLBACK_CAPTURING)) {
            n++;
            break;
        }
    }
    // The sound up to the end of the last frame.
    if (hasAudio_) {
        driver_->ReadAudio(n * static_cast<int64_t>(period_), pending, askBytes);
        SendAudio(pending);
    }
    counts_->elapsedMs = static_cast<uint32_t>(MicrosBetween(start, Clock::now()) / 1000);
}

uint32_t CaptureEngine::Transform(size_t worker, Buffer& b, uint32_t delivered) {
    if (store_ == Store::AddTables) {
        std::vector<uint8_t> whole;
        if (!JpegWithHuffmanTables(b.get(), delivered, whole) || whole.size() > frameBytes_) return 0;
        std::memcpy(b.get(), whole.data(), whole.size());
        return static_cast<uint32_t>(whole.size());
    }
    BITMAPINFOHEADER in = format_;
    BITMAPINFOHEADER out = stored_;
    std::vector<uint8_t>& jpeg = scratch_[worker];
    out.biSizeImage = static_cast<uint32_t>(jpeg.size());
    DWORD ckid = 0, flags = 0;
    if (ICCompress(compressors_[worker], ICCOMPRESS_KEYFRAME, &out, jpeg.data(), &in, b.get(), &ckid, &flags,
                   0, 0, quality_, nullptr, nullptr) != ICERR_OK ||
        out.biSizeImage > frameBytes_)
        return 0;
    std::memcpy(b.get(), jpeg.data(), out.biSizeImage);
    return out.biSizeImage;
}

void CaptureEngine::Compress(size_t worker) {
    for (;;) {
        Item* item = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            work_.wait(lock, [this] { return raw_ > 0 || grabbingDone_; });
            if (raw_ == 0) return;
            for (Item& i : queue_)
                if (i.stage == Stage::Raw) {
                    item = &i;
                    break;
                }
            item->stage = Stage::Working;
            raw_--;
        }
        // The queue only loses its front once that is Ready, so this item stays where it is.
        Buffer& b = pool_[static_cast<size_t>(item->buffer)];
        uint32_t bytes = 0;
        try {
            bytes = failed_ ? 0 : Transform(worker, b, item->bytes);
        } catch (...) {
            bytes = 0;  // out of memory: the frame is dropped, the capture goes on
        }
        if (bytes == 0 && !failed_) counts_->dropped++;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            item->bytes = bytes;
            item->stage = Stage::Ready;
        }
        wake_.notify_all();
    }
}

void CaptureEngine::Write() {
    Clock::time_point checkpoint = Clock::now() + std::chrono::milliseconds(kCheckpointMs);
    for (;;) {
        Item item{-1, {}, false};
        bool have = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_until(lock, checkpoint, [this] {
                return (!queue_.empty() && queue_.front().stage == Stage::Ready) ||
                       (queue_.empty() && grabbingDone_);
            });
            if (queue_.empty() && grabbingDone_) break;
            if (!queue_.empty() && queue_.front().stage == Stage::Ready) {
                item = std::move(queue_.front());
                queue_.pop_front();
                have = true;
            }
        }
        if (have) {
            bool ok = true;
            if (!failed_) {
                if (item.isAudio) {
                    ok = avi_.WriteAudio(item.audio.data(), static_cast<uint32_t>(item.audio.size()));
                } else if (item.buffer >= 0 && item.bytes > 0) {
                    Buffer& b = pool_[static_cast<size_t>(item.buffer)];
                    uint8_t* data = b.get();
                    ok = avi_.WriteVideo(data, item.bytes);
                    if (ok) {
                        counts_->videoBytes += item.bytes;
                        counts_->storedFrames++;
                        // The frame as the file holds it.
                        if (auto video = callbacks_->video.load()) {
                            VIDEOHDR h{};
                            h.lpData = data;
                            h.dwBufferLength = item.bytes;
                            h.dwBytesUsed = item.bytes;
                            h.dwTimeCaptured = static_cast<uint32_t>(item.dueUs / 1000);
                            h.dwFlags = VHDR_KEYFRAME;
                            video(window_, &h);
                        }
                    }
                } else {
                    ok = avi_.WriteVideo(nullptr, 0);
                }
            }
            if (!item.isAudio && item.buffer >= 0) {
                std::lock_guard<std::mutex> lock(mutex_);
                free_.push_back(item.buffer);
            }
            if (!ok) FailFile(IDS_CAP_FILE_WRITE_ERROR, "Error writing the capture file");
        }
        if (Clock::now() >= checkpoint) {
            if (!failed_ && !avi_.Checkpoint())
                FailFile(IDS_CAP_FILE_WRITE_ERROR, "Error writing the capture file");
            checkpoint = Clock::now() + std::chrono::milliseconds(kCheckpointMs);
        }
    }
    if (!avi_.Close() && !failed_) FailFile(IDS_CAP_FILE_WRITE_ERROR, "Error writing the capture file");
}
