#include "platform/capwin/capengine.h"

#include <pthread.h>
#include <sched.h>

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

bool CaptureEngine::Start(const std::string& file, uint32_t microSecPerFrame, const WAVEFORMATEX* audio,
                          int64_t limitUs) {
    format_ = driver_->Format();
    if (!IsCaptureFormat(format_)) return false;
    period_ = std::clamp(microSecPerFrame, kMinMicroSecPerFrame, kMaxMicroSecPerFrame);
    // The frames of the limit, rounded: two seconds at 33333 microseconds a frame are 60 frames.
    frameLimit_ = limitUs > 0 ? std::max<int64_t>((limitUs + period_ / 2) / period_, 1) : 0;
    hasAudio_ = audio != nullptr && driver_->HasAudio();
    if (hasAudio_) audio_ = *audio;
    file_ = file;
    if (!avi_.Open(file, format_, period_, hasAudio_ ? &audio_ : nullptr)) {
        FailFile(IDS_CAP_FILE_OPEN_ERROR, "Cannot open the capture file");
        return false;
    }
    if (!driver_->Begin(period_, hasAudio_ ? &audio_ : nullptr)) {
        avi_.Close();
        return false;
    }
    const size_t frameBytes = std::max<size_t>(format_.biSizeImage, 1);
    const size_t frames = std::clamp(kCapturePoolBytes / frameBytes, kMinPoolFrames, kMaxPoolFrames);
    try {
        pool_.assign(frames, std::vector<uint8_t>(format_.biSizeImage));
    } catch (const std::bad_alloc&) {
        driver_->End();
        avi_.Close();
        return false;
    }
    free_.clear();
    for (size_t i = 0; i < frames; i++) free_.push_back(static_cast<int32_t>(i));
    counts_->frames = 0;
    counts_->dropped = 0;
    counts_->waveSamples = 0;
    counts_->elapsedMs = 0;
    counts_->running = true;
    stop_ = false;
    grabbingDone_ = false;
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
        });
    } catch (const std::system_error&) {
        Stop();
        return false;
    }
    return true;
}

void CaptureEngine::Stop() {
    if (!grabber_.joinable() && !writer_.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (grabber_.joinable()) grabber_.join();
    if (writer_.joinable()) writer_.join();
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
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(item));
    }
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
        // A frame whose whole period has passed before it could be taken is dropped, so that the
        // frame numbers keep to the clock.
        int32_t buffer = -1;
        if (now - due < period) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                buffer = free_.back();
                free_.pop_back();
            }
        }
        const int64_t dueUs = n * static_cast<int64_t>(period_);
        if (buffer >= 0 && !driver_->Grab(n, dueUs, pool_[static_cast<size_t>(buffer)].data())) {
            std::lock_guard<std::mutex> lock(mutex_);
            free_.push_back(buffer);
            buffer = -1;
        }
        counts_->frames = static_cast<uint32_t>(n + 1);
        counts_->elapsedMs = static_cast<uint32_t>(MicrosBetween(start, now) / 1000);
        if (buffer >= 0) {
            uint8_t* rows = pool_[static_cast<size_t>(buffer)].data();
            if (wantLatest_) {
                std::lock_guard<std::mutex> lock(latestMutex_);
                latest_.assign(rows, rows + format_.biSizeImage);
            }
            if (auto video = callbacks_->video.load()) {
                VIDEOHDR h{};
                h.lpData = rows;
                h.dwBufferLength = format_.biSizeImage;
                h.dwBytesUsed = format_.biSizeImage;
                h.dwTimeCaptured = static_cast<uint32_t>(dueUs / 1000);
                h.dwFlags = VHDR_KEYFRAME;
                video(window_, &h);
            }
        } else {
            counts_->dropped++;
        }
        Push({buffer, {}, false});
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

void CaptureEngine::Write() {
    Clock::time_point checkpoint = Clock::now() + std::chrono::milliseconds(kCheckpointMs);
    for (;;) {
        Item item{-1, {}, false};
        bool have = false;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait_until(lock, checkpoint, [this] { return !queue_.empty() || grabbingDone_; });
            if (queue_.empty() && grabbingDone_) break;
            if (!queue_.empty()) {
                item = std::move(queue_.front());
                queue_.pop_front();
                have = true;
            }
        }
        if (have) {
            bool ok = true;
            if (!failed_) {
                if (item.isAudio)
                    ok = avi_.WriteAudio(item.audio.data(), static_cast<uint32_t>(item.audio.size()));
                else if (item.buffer >= 0)
                    ok = avi_.WriteVideo(pool_[static_cast<size_t>(item.buffer)].data(), format_.biSizeImage);
                else
                    ok = avi_.WriteVideo(nullptr, 0);
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
