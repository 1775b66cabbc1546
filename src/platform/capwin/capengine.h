// One streaming capture: a grabbing thread that takes frames and sound by the steady clock and
// calls the stream callbacks, and a writing thread that puts them into the capture file and
// checkpoints it every second. The two share a bounded pool of frame buffers: when the disk falls
// behind and no buffer is free, the frame is dropped rather than the clock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/capwin/capavi.h"
#include "platform/capwin/capdriver.h"

// The callbacks of a capture window; read by the capture threads, changed only by the window's thread.
struct CaptureCallbacks {
    std::atomic<CAPYIELDCALLBACK> yield{nullptr};
    std::atomic<CAPCONTROLCALLBACK> control{nullptr};
    std::atomic<CAPERRORCALLBACKA> error{nullptr};
    std::atomic<CAPSTATUSCALLBACKA> status{nullptr};
    std::atomic<CAPVIDEOCALLBACK> video{nullptr};
    std::atomic<CAPWAVECALLBACK> wave{nullptr};
};

// The counts CAPSTATUS reports, kept by the grabbing thread while a capture runs; once it has
// ended, frames and dropped count what the file holds.
struct CaptureCounts {
    std::atomic<uint32_t> frames{0};
    std::atomic<uint32_t> dropped{0};
    std::atomic<uint32_t> waveSamples{0};
    std::atomic<uint32_t> elapsedMs{0};
    std::atomic<bool> running{false};
};

// The memory the frame pool may take, and its bounds in frames.
constexpr size_t kCapturePoolBytes = 64u << 20;
constexpr size_t kMinPoolFrames = 4;
constexpr size_t kMaxPoolFrames = 60;
// Sound is written once this much of it has gathered (and at the end).
constexpr uint32_t kAudioChunkMs = 100;
constexpr int32_t kCheckpointMs = 1000;

class CaptureEngine {
  public:
    CaptureEngine(HWND window, CaptureDriver* driver, CaptureCallbacks* callbacks, CaptureCounts* counts);
    ~CaptureEngine();
    // Opens the file, starts the driver and both threads; false (nothing running) when it cannot.
    // With a limit the capture ends by itself after the frames due in that many microseconds.
    bool Start(const std::string& file, uint32_t microSecPerFrame, const WAVEFORMATEX* audio,
               int64_t limitUs = 0);
    // Ends the capture and waits until the file is complete.
    void Stop();
    // The last frame taken, for the live display.
    bool LatestFrame(std::vector<uint8_t>& rows);

  private:
    struct Item {
        int32_t buffer;              // a pool buffer, or -1 for an empty (dropped) frame
        std::vector<uint8_t> audio;  // a sound chunk when not a frame
        bool isAudio;
    };
    void Grab();
    void Write();
    void Push(Item item);
    void SendAudio(std::vector<uint8_t>& pending);
    void Fail(int id, const char* text);
    // The capture file could not be opened or written: the text names the file and the reason.
    void FailFile(int id, const char* what);

    HWND window_;
    CaptureDriver* driver_;
    CaptureCallbacks* callbacks_;
    CaptureCounts* counts_;
    std::string file_;
    BITMAPINFOHEADER format_{};
    WAVEFORMATEX audio_{};
    bool hasAudio_ = false;
    uint32_t period_ = 0;
    int64_t frameLimit_ = 0;  // 0: none
    CaptureAviWriter avi_;    // the writing thread's once started

    std::mutex mutex_;
    std::condition_variable wake_;  // the writer: items queued; the grabber: stop asked
    std::deque<Item> queue_;
    std::vector<std::vector<uint8_t>> pool_;
    std::vector<int32_t> free_;
    bool stop_ = false;
    bool grabbingDone_ = false;
    std::atomic<bool> failed_{false};

    std::mutex latestMutex_;
    std::vector<uint8_t> latest_;  // kept only once someone asked for it (a live view)
    std::atomic<bool> wantLatest_{false};

    std::thread grabber_;
    std::thread writer_;
};
