// One streaming capture: a grabbing thread that takes frames and sound by the steady clock and
// calls the wave stream callback, compressing threads that turn frames into Motion JPEG (or give a
// camera's JPEG frames the tables they lack), and a writing thread that puts them into the capture
// file in order, calls the video stream callback with each as stored, and checkpoints the file
// every second. They share a bounded pool of frame buffers, each
// held from the grab until its frame is written: when the disk or the compressors fall behind and
// no buffer is free, the frame is dropped rather than the clock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/capwin/capavi.h"
#include "platform/capwin/capdriver.h"
#include "platform/codec/codec.h"

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
    std::atomic<uint64_t> videoBytes{0};  // of the frames stored, dropped ones not counted
    std::atomic<uint32_t> storedFrames{0};
    std::atomic<bool> running{false};
};

// The memory the frame pool may take: a share of the machine's, within these bounds. A buffer's
// pages are touched only once the capture falls that far behind.
constexpr size_t kCapturePoolShare = 32;
constexpr size_t kMinCapturePoolBytes = 96u << 20;
constexpr size_t kMaxCapturePoolBytes = 512u << 20;
// Compressing threads at most (one per processor up to this).
constexpr unsigned kMaxCompressors = 4;
// The pool's bounds in frames (at 30 frames a second, three seconds at most).
constexpr size_t kMinPoolFrames = 4;
constexpr size_t kMaxPoolFrames = 90;
// Sound is written once this much of it has gathered (and at the end).
constexpr uint32_t kAudioChunkMs = 100;
constexpr int32_t kCheckpointMs = 1000;
// What a camera's JPEG frame may grow by when it is given the standard Huffman tables.
constexpr size_t kJpegTablesRoom = 1024;

class CaptureEngine {
  public:
    CaptureEngine(HWND window, CaptureDriver* driver, CaptureCallbacks* callbacks, CaptureCounts* counts);
    ~CaptureEngine();
    // Opens the file, starts the driver and both threads; false (nothing running) when it cannot.
    // With a limit the capture ends by itself after the frames due in that many microseconds.
    // compression says how frames from a driver of 24-bit rows are stored.
    bool Start(const std::string& file, uint32_t microSecPerFrame, const WAVEFORMATEX* audio,
               const CAPCOMPRESSION& compression, int64_t limitUs = 0);
    // Ends the capture and waits until the file is complete.
    void Stop();
    // The last frame taken, for the live display.
    bool LatestFrame(std::vector<uint8_t>& rows);

  private:
    enum class Stage { Raw, Working, Ready };
    struct Item {
        int32_t buffer;              // a pool buffer, or -1 for an empty (dropped) frame
        std::vector<uint8_t> audio;  // a sound chunk when not a frame
        bool isAudio;
        uint32_t bytes = 0;  // of the frame as grabbed, then as stored
        Stage stage = Stage::Ready;
        int64_t dueUs = 0;
    };
    // The frame as the driver delivered it, then as it is stored (a compressor copies its result
    // back), frameBytes_ long.
    using Buffer = std::unique_ptr<uint8_t[]>;
    enum class Store { AsDelivered, Compress, AddTables };
    bool StartCompressors(const CAPCOMPRESSION& compression);
    void EndCompressors();
    void Grab();
    void Compress(size_t worker);
    // The frame of b as stored, in place: its bytes, 0 when it cannot be had.
    uint32_t Transform(size_t worker, Buffer& b, uint32_t delivered);
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
    BITMAPINFOHEADER format_{};  // as the driver delivers frames
    BITMAPINFOHEADER stored_{};  // as the file holds them
    Store store_ = Store::AsDelivered;
    DWORD quality_ = ICQUALITY_DEFAULT;
    std::vector<HIC> compressors_;               // one open codec per compressing thread
    std::vector<std::vector<uint8_t>> scratch_;  // what each of them compresses into
    WAVEFORMATEX audio_{};
    bool hasAudio_ = false;
    uint32_t period_ = 0;
    int64_t frameLimit_ = 0;  // 0: none
    CaptureAviWriter avi_;    // the writing thread's once started

    std::mutex mutex_;
    std::condition_variable wake_;  // the writer: items queued; the grabber: stop asked
    std::deque<Item> queue_;
    std::condition_variable work_;  // the compressors: a raw frame queued, or grabbing done
    size_t raw_ = 0;                // items still Raw
    std::vector<Buffer> pool_;
    size_t frameBytes_ = 0;
    std::vector<int32_t> free_;
    bool stop_ = false;
    bool grabbingDone_ = false;
    std::atomic<bool> failed_{false};

    std::mutex latestMutex_;
    std::vector<uint8_t> latest_;  // kept only once someone asked for it (a live view)
    std::atomic<bool> wantLatest_{false};

    std::thread grabber_;
    std::vector<std::thread> workers_;
    std::thread writer_;
};
