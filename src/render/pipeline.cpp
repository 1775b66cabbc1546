#include "render/pipeline.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "core/diag.h"
#include "media/riff.h"
#include "render/compressor.h"

namespace {

constexpr FOURCC kCompressedId = FourCC("00dc");
constexpr FOURCC kUncompressedId = FourCC("00db");
constexpr FOURCC kMjpg = FourCC("MJPG");

bool SameCode(uint32_t a, uint32_t b) {
    for (int i = 0; i < 4; ++i) {
        auto x = static_cast<uint8_t>(a >> (8 * i)), y = static_cast<uint8_t>(b >> (8 * i));
        if (x >= 'A' && x <= 'Z') x = static_cast<uint8_t>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<uint8_t>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// What one thread needs to turn packets into chunks or pictures.
struct Worker {
    FrameComposer own;                  // the worker's decoders (the reader's when working inline)
    FrameComposer* composer = nullptr;  // the one it uses
    CompressorClone clone;              // open when the compressor is independent
    std::vector<uint8_t> j420;
    BITMAPINFOHEADER j420Format{};
    bool takesJ420 = false;
    std::map<int32_t, int32_t> lastFed;  // per source: the frame last handed to this worker
    std::deque<RenderFrame*> queue;
    int32_t load = 0;  // frames queued or in work
    std::thread thread;
};

// Decodes, lays the overlays on and compresses: with the worker's own compressor, with the one
// compressor when working in order on the calling thread, or later (the picture is kept for the
// in-order compressor).
void Work(RenderFrame& f, Worker& w, const PipelineSetup& setup, bool inOrder) {
    const int64_t fourcc = setup.fourcc;
    const bool planar = w.takesJ420 && f.overlays.empty();
    const FrameComposer::Picture picture = w.composer->Decode(f.packet, planar ? w.j420.data() : nullptr);
    f.ok = false;
    if (picture == FrameComposer::Picture::kNone) return;
    BITMAPINFOHEADER input = *w.composer->format();
    const uint8_t* pixels = w.composer->pixels();
    uint32_t bytes = w.composer->bytes();
    if (picture == FrameComposer::Picture::kJ420) {
        input = w.j420Format;
        pixels = w.j420.data();
        bytes = w.j420Format.biSizeImage;
    } else if (!f.overlays.empty()) {
        ApplyOverlays(w.composer->pixels(), &input, f.overlays);
    }
    if (setup.sinkCompresses) {
        f.picture.assign(pixels, pixels + bytes);
        f.pictureBytes = bytes;
        f.pictureFormat = input;
        f.ok = true;
    } else if (fourcc == kCompressorUncompressed) {
        f.chunk.assign(pixels, pixels + bytes);
        f.id = kUncompressedId;
        f.flags = AVIIF_KEYFRAME;
        f.ok = true;
    } else if (w.clone.open() || inOrder) {
        uint32_t size = 0, flags = AVIIF_KEYFRAME, chunkId = 0;
        const auto* data =
            static_cast<const uint8_t*>(inOrder ? CompOneFrame(f.n, &input, pixels, &size, AVIIF_KEYFRAME,
                                                               nullptr, nullptr, &flags, &chunkId)
                                                : w.clone.Compress(f.n, &input, pixels, &size, &flags));
        if (!data) return;
        f.chunk.assign(data, data + size);
        f.id = kCompressedId;
        f.flags = flags;
        f.ok = true;
    } else {
        // The picture waits for the in-order compressor; planar pictures keep their slack.
        f.picture.assign(pixels,
                         pixels + bytes + (picture == FrameComposer::Picture::kJ420 ? kJ420Slack : 0));
        f.pictureBytes = bytes;
        f.pictureFormat = input;
        f.ok = true;
    }
}

class Pipeline {
  public:
    Pipeline(const PipelineSetup& setup, FrameSink& sink) : setup_(setup), sink_(sink) {}
    ~Pipeline() { Stop(); }

    bool Start();
    int32_t Run(int32_t total, const std::function<bool(int32_t)>& step);

  private:
    RenderFrame* NewFrame();
    void Recycle(RenderFrame* f);
    bool Read(int32_t n, uint32_t state, RenderFrame& f);
    void Dispatch(RenderFrame* f);
    bool WriteDone(bool wait);
    void WorkerLoop(Worker* w);
    void Stop();

    const PipelineSetup& setup_;
    FrameSink& sink_;
    std::vector<std::unique_ptr<Worker>> workers_;
    bool threaded_ = false;
    std::vector<bool> copyable_;  // per source
    // Per source with delta frames: the run being decoded and its worker.
    std::map<int32_t, std::pair<int32_t, Worker*>> runs_;

    std::mutex lock_;
    std::condition_variable work_;  // a queue got a frame, or the pipeline stops
    std::condition_variable done_;  // a frame is finished
    bool stopping_ = false;
    std::deque<RenderFrame*> inFlight_;            // project order
    std::map<const RenderFrame*, bool> finished_;  // guarded by lock_
    std::vector<std::unique_ptr<RenderFrame>> frames_;
    std::vector<RenderFrame*> free_;
    int32_t handed_ = 0;
    bool sinkStopped_ = false;
};

bool Pipeline::Start() {
    const int32_t threads = RenderThreadCount(setup_.threads);
    BITMAPINFOHEADER input = *setup_.reader->format();
    const BITMAPINFOHEADER planar = J420Format(setup_.width, setup_.height);
    // Compressing here, on the workers or in order (not when the sink compresses).
    const bool compressing = !setup_.sinkCompresses && setup_.fourcc != kCompressorUncompressed;
    const bool independent = compressing && CompressorIsIndependent();
    for (int32_t i = 0; threads > 1 && i < threads; i++) {
        auto w = std::make_unique<Worker>();
        // Short of memory for another worker: the ones there are do the work.
        if (!w->own.Open(setup_.head, setup_.width, setup_.height)) break;
        w->composer = &w->own;
        if (independent) w->clone.Open(CompressorHandler(), &input, CompressorQuality());
        workers_.push_back(std::move(w));
    }
    threaded_ = workers_.size() > 1;
    if (!threaded_) {
        // One thread: the reader decodes, and the one compressor compresses.
        workers_.clear();
        workers_.push_back(std::make_unique<Worker>());
        workers_.front()->composer = setup_.reader;
    }
    // A compressor that will not open for every worker compresses in order instead.
    const bool cloned =
        std::all_of(workers_.begin(), workers_.end(), [](auto& w) { return w->clone.open(); });
    for (auto& w : workers_) {
        if (!cloned) w->clone.Close();
        w->takesJ420 = compressing && (cloned ? w->clone.Takes(&planar) : CompressorTakes(&planar));
        if (w->takesJ420) {
            w->j420.assign(planar.biSizeImage + kJ420Slack, 0);
            w->j420Format = planar;
        }
    }
    for (int32_t s = 0; setup_.reader->SourceRecord(s); s++)
        copyable_.push_back(setup_.copy && setup_.output && !setup_.sinkCompresses &&
                            CopyAllowed(*setup_.reader, s, setup_.fourcc, *setup_.output));
    if (threaded_) {
        try {
            for (auto& w : workers_) w->thread = std::thread(&Pipeline::WorkerLoop, this, w.get());
        } catch (const std::exception& e) {
            // No more threads to be had: the render goes on without workers.
            DebugLog("render: no worker threads (%s)", e.what());
            Stop();
            stopping_ = false;
            workers_.clear();
            threaded_ = false;
            workers_.push_back(std::make_unique<Worker>());
            workers_.front()->composer = setup_.reader;
            workers_.front()->takesJ420 = compressing && CompressorTakes(&planar);
            if (workers_.front()->takesJ420) {
                workers_.front()->j420.assign(planar.biSizeImage + kJ420Slack, 0);
                workers_.front()->j420Format = planar;
            }
        }
    }
    return true;
}

void Pipeline::Stop() {
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    work_.notify_all();
    for (auto& w : workers_)
        if (w->thread.joinable()) w->thread.join();
}

void Pipeline::WorkerLoop(Worker* w) {
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        work_.wait(guard, [&] { return stopping_ || !w->queue.empty(); });
        if (w->queue.empty()) return;  // stopping, nothing left
        RenderFrame* f = w->queue.front();
        w->queue.pop_front();
        guard.unlock();
        try {
            Work(*f, *w, setup_, false);
        } catch (const std::exception& e) {
            DebugLog("render: frame %ld not made (%s)", static_cast<long>(f->n), e.what());
            f->ok = false;
        }
        guard.lock();
        w->load--;
        finished_[f] = true;
        done_.notify_all();
    }
}

RenderFrame* Pipeline::NewFrame() {
    if (free_.empty()) {
        frames_.push_back(std::make_unique<RenderFrame>());
        free_.push_back(frames_.back().get());
    }
    RenderFrame* f = free_.back();
    free_.pop_back();
    f->packet.Clear();
    f->overlays.clear();
    f->ok = false;
    f->chunk.clear();
    f->picture.clear();
    f->pictureBytes = 0;
    f->flags = 0;
    f->id = 0;
    f->unopened = false;
    return f;
}

void Pipeline::Recycle(RenderFrame* f) {
    free_.push_back(f);
}

// Reads frame n into f; for a frame that is composed, picks its worker. False when the frame has
// nothing to decode (it is then finished as a failure).
bool Pipeline::Read(int32_t n, uint32_t state, RenderFrame& f) {
    FrameComposer& reader = *setup_.reader;
    const int32_t source = reader.SourceOf(n);
    const bool overlaid = (state & (kStateTitled | kStateUnderlaid)) != 0;
    if (!overlaid && source >= 0 && copyable_[static_cast<size_t>(source)]) {
        if (!reader.Read(n, n - 1, f.packet)) return false;
        // Uncompressed frames are copied only when the chunk holds exactly one padded frame.
        const bool whole =
            setup_.fourcc != kCompressorUncompressed || f.packet.data.size() == reader.format()->biSizeImage;
        if (whole) {
            f.kind = RenderFrame::Kind::kCopy;
            f.chunk.swap(f.packet.data);
            f.id = setup_.fourcc == kCompressorUncompressed ? kUncompressedId : kCompressedId;
            f.flags = AVIIF_KEYFRAME;
            f.ok = true;
            return true;
        }
        f.kind = RenderFrame::Kind::kCompose;
        return true;
    }
    f.kind = RenderFrame::Kind::kCompose;
    if (overlaid) f.overlays = OverlaysAt(n);
    return true;
}

// Picks the worker of a composed frame and reads its bytes: a run of delta frames stays with one
// worker, other frames go to the least busy one.
void Pipeline::Dispatch(RenderFrame* f) {
    FrameComposer& reader = *setup_.reader;
    const int32_t source = reader.SourceOf(f->n);
    Worker* w = nullptr;
    if (source >= 0 && reader.HasDeltaFrames(source)) {
        const int32_t key = reader.KeyFrameOf(f->n);
        auto it = runs_.find(source);
        if (it != runs_.end() && it->second.first == key) w = it->second.second;
    }
    if (!w) {
        std::lock_guard<std::mutex> guard(lock_);
        w = workers_.front().get();
        for (auto& c : workers_)
            if (c->load < w->load) w = c.get();
    }
    if (source >= 0 && reader.HasDeltaFrames(source)) runs_[source] = {reader.KeyFrameOf(f->n), w};
    const auto fed = w->lastFed.find(source);
    if (f->packet.pieces.empty() &&
        !reader.Read(f->n, fed == w->lastFed.end() ? 0 : fed->second, f->packet)) {
        f->ok = false;
        std::lock_guard<std::mutex> guard(lock_);
        finished_[f] = true;
        return;
    }
    w->lastFed[source] = f->n;
    if (!threaded_) {
        Work(*f, *w, setup_, true);
        std::lock_guard<std::mutex> guard(lock_);
        finished_[f] = true;
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        w->queue.push_back(f);
        w->load++;
    }
    work_.notify_all();
}

// Hands the finished frames at the front to the sink, in order; with wait, first waits for the
// front one. False once the sink refused a frame.
bool Pipeline::WriteDone(bool wait) {
    for (;;) {
        if (inFlight_.empty()) return !sinkStopped_;
        RenderFrame* f = inFlight_.front();
        {
            std::unique_lock<std::mutex> guard(lock_);
            if (wait) done_.wait(guard, [&] { return finished_[f]; });
            if (!finished_[f]) return !sinkStopped_;
            finished_.erase(f);
        }
        inFlight_.pop_front();
        wait = false;
        if (!sinkStopped_ && !f->unopened) {
            handed_++;
            if (!sink_.Write(*f)) sinkStopped_ = true;
        }
        Recycle(f);
    }
}

int32_t Pipeline::Run(int32_t total, const std::function<bool(int32_t)>& step) {
    const size_t cap = static_cast<size_t>(kFramesInFlightPerWorker) * workers_.size();
    const int32_t unopened = setup_.reader->UnopenedReads();
    for (int32_t i = 0; i < total && !sinkStopped_; i++) {
        const int32_t n = i + 1;
        if (step && step(i)) break;
        const uint32_t state = FrameState(n);
        if (state & kStateInactive) continue;
        RenderFrame* f = NewFrame();
        f->n = n;
        bool dispatch = false;
        if (state & kStateDropped) {
            f->kind = RenderFrame::Kind::kRepeat;
        } else if (Read(n, state, *f) && f->kind == RenderFrame::Kind::kCompose) {
            dispatch = true;
        }
        inFlight_.push_back(f);
        if (dispatch) {
            Dispatch(f);
        } else {
            std::lock_guard<std::mutex> guard(lock_);
            finished_[f] = true;
        }
        if (setup_.reader->UnopenedReads() != unopened) {
            f->unopened = true;
            break;
        }
        if (!WriteDone(false)) break;
        while (inFlight_.size() >= cap && WriteDone(true)) {
        }
    }
    // The frames read are written (after Escape too); after the sink refused one, they are dropped.
    while (!inFlight_.empty()) WriteDone(true);
    return handed_;
}

}  // namespace

int32_t RenderThreadCount(int32_t n) {
    if (n <= 0) n = static_cast<int32_t>(std::thread::hardware_concurrency());
    return std::clamp(n, 1, kMaxRenderThreads);
}

void ParallelFor(int32_t count, int32_t threads, const std::function<void(int32_t, int32_t)>& work) {
    std::atomic<int32_t> next{0};
    auto run = [&](int32_t thread) {
        for (int32_t i = next++; i < count; i = next++) work(i, thread);
    };
    std::vector<std::thread> helpers;
    try {
        for (int32_t t = 1; t < std::min(threads, count); t++) helpers.emplace_back(run, t);
    } catch (const std::exception& e) {
        DebugLog("render: fewer threads (%s)", e.what());  // the ones there are share the work
    }
    run(0);
    for (auto& h : helpers) h.join();
}

bool CopyAllowed(const FrameComposer& reader, int32_t source, int64_t fourcc,
                 const BITMAPINFOHEADER& output) {
    const AVIlist* r = reader.SourceRecord(source);
    const BITMAPINFOHEADER* frame = const_cast<FrameComposer&>(reader).format();
    if (!r || r->width != frame->biWidth || r->height != frame->biHeight) return false;
    if (fourcc == kCompressorUncompressed) return r->compression == BI_RGB && r->bits == 24 && !r->topDown;
    if (r->compression == BI_RGB || !SameCode(r->compression, static_cast<uint32_t>(fourcc)) ||
        r->bits != output.biBitCount || reader.HasDeltaFrames(source))
        return false;
    // Bytes after the header are decoder set-up the output's header would lack; Motion JPEG's are
    // only a description of the stream.
    return SameCode(r->compression, kMjpg) || ReadLE32(r->format) == sizeof(BITMAPINFOHEADER);
}

int32_t RunFramePipeline(const PipelineSetup& setup, int32_t total, FrameSink& sink,
                         const std::function<bool(int32_t)>& step) {
    Pipeline pipeline(setup, sink);
    try {
        if (!pipeline.Start()) return 0;
        return pipeline.Run(total, step);
    } catch (const std::exception& e) {
        // Out of memory: the file keeps the frames written so far and is finished as after Escape.
        DebugLog("render: stopped (%s)", e.what());
        return 0;
    }
}
