#include "render/thumbs.h"

#include <algorithm>
#include <cstring>

#include "core/diag.h"
#include "render/pipeline.h"

namespace {

// One frame to picture, read on the calling thread.
struct Item {
    size_t slot;  // where its picture goes
    int32_t n;
    OverlayList overlays;
    FramePacket packet;
};

// Frames one thread pictures in order: a single frame, or frames of one run of delta frames, which
// its decoder then reads once.
struct Task {
    int32_t source = -1;
    int32_t key = 0;
    bool full = false;  // decoded at full size (overlays, or frames no decoder shrinks)
    std::vector<Item> items;
};

std::vector<const void*> ListSignature(AVIlist* head) {
    std::vector<const void*> list;
    for (const AVIlist* r = head; r; r = r->next) {
        list.push_back(r);
        list.push_back(r->idx);
        list.push_back(reinterpret_cast<const void*>(static_cast<intptr_t>(r->nidx)));
    }
    return list;
}

}  // namespace

struct FrameThumbnailer::Thread {
    FrameComposer full;   // the project's size
    FrameComposer small;  // the cell's size
};

FrameThumbnailer::FrameThumbnailer() = default;
FrameThumbnailer::~FrameThumbnailer() = default;

void FrameThumbnailer::Close() {
    threads_.clear();
    list_.clear();
    width_ = height_ = 0;
}

bool FrameThumbnailer::OpenFor(int32_t width, int32_t height) {
    AVIlist* head = gProject.head;
    if (!head) return false;
    const std::vector<const void*> list = ListSignature(head);
    if (!threads_.empty() && list == list_ && width == width_ && height == height_) return true;
    Close();
    const int32_t count = RenderThreadCount(0);
    for (int32_t t = 0; t < count; t++) {
        auto thread = std::make_unique<Thread>();
        if (!thread->full.Open(head, head->width, head->height) ||
            !thread->small.Open(head, head->width, head->height, width, height)) {
            if (t == 0) return false;
            break;
        }
        threads_.push_back(std::move(thread));
    }
    list_ = list;
    width_ = width;
    height_ = height;
    return true;
}

bool FrameThumbnailer::Make(const std::vector<int32_t>& frames, int32_t width, int32_t height, bool edits,
                            std::vector<std::vector<uint8_t>>& pictures) {
    pictures.assign(frames.size(), {});
    if (frames.empty() || width <= 0 || height <= 0) return true;
    if (!OpenFor(width, height)) return false;
    FrameComposer& reader = threads_.front()->full;

    // The tasks: consecutive frames of one run of delta frames together, every other frame alone.
    std::vector<Task> tasks;
    for (size_t k = 0; k < frames.size(); k++) {
        const int32_t n = frames[k];
        const uint32_t state = FrameState(n);
        const int32_t source = reader.SourceOf(n);
        if (source < 0) continue;
        Item item{k, n, {}, {}};
        if (edits && (state & (kStateTitled | kStateUnderlaid))) item.overlays = OverlaysAt(n);
        const bool delta = reader.HasDeltaFrames(source);
        const int32_t key = delta ? reader.KeyFrameOf(n) : n;
        const bool shrinkable = reader.SourceRecord(source)->compression != BI_RGB;
        if (delta && !tasks.empty() && tasks.back().source == source && tasks.back().key == key &&
            tasks.back().items.back().n < n) {
            tasks.back().full = tasks.back().full || !item.overlays.empty();
        } else {
            tasks.push_back(Task{source, key, !shrinkable || !item.overlays.empty(), {}});
        }
        tasks.back().items.push_back(std::move(item));
    }
    // Read in order; within a task each frame continues from the one before.
    for (Task& task : tasks) {
        int32_t fed = 0;
        for (Item& item : task.items) {
            reader.Read(item.n, fed, item.packet);
            framesRead_ += static_cast<int64_t>(item.packet.pieces.size());
            fed = item.n;
        }
    }

    const size_t row = static_cast<size_t>(width) * 3;
    ParallelFor(
        static_cast<int32_t>(tasks.size()), static_cast<int32_t>(threads_.size()), [&](int32_t i, int32_t t) {
            Task& task = tasks[static_cast<size_t>(i)];
            Thread& thread = *threads_[static_cast<size_t>(t)];
            FrameComposer& c = task.full ? thread.full : thread.small;
            for (Item& item : task.items) {
                if (c.Decode(item.packet) == FrameComposer::Picture::kNone) continue;
                std::vector<uint8_t>& picture = pictures[item.slot];
                picture.resize(row * static_cast<size_t>(height));
                const BITMAPINFOHEADER& f = *c.format();
                // A decoder that shrinks while it decodes cannot grow a clip smaller than the cell:
                // what it gives is scaled like a full picture.
                const bool cellSized = f.biWidth == width && f.biHeight == height;
                if (task.full || !cellSized) {
                    if (!item.overlays.empty()) ApplyOverlays(c.pixels(), c.format(), item.overlays);
                    ShrinkFrame(c.pixels(), f.biWidth, f.biHeight, DibRowBytes(f.biWidth, 24), picture.data(),
                                width, height);
                } else {
                    for (int32_t y = 0; y < height; y++)
                        std::memcpy(
                            picture.data() + row * static_cast<size_t>(y),
                            c.pixels() + static_cast<size_t>(DibRowBytes(width, 24)) * static_cast<size_t>(y),
                            row);
                }
            }
        });
    return true;
}

void ShrinkFrame(const uint8_t* src, int32_t srcWidth, int32_t srcHeight, int64_t stride, uint8_t* dst,
                 int32_t width, int32_t height) {
    if (!src || !dst || srcWidth <= 0 || srcHeight <= 0 || width <= 0 || height <= 0) return;
    for (int32_t y = 0; y < height; y++) {
        const int64_t y0 = int64_t{y} * srcHeight / height;
        const int64_t y1 = std::max(y0 + 1, int64_t{y + 1} * srcHeight / height);
        for (int32_t x = 0; x < width; x++) {
            const int64_t x0 = int64_t{x} * srcWidth / width;
            const int64_t x1 = std::max(x0 + 1, int64_t{x + 1} * srcWidth / width);
            uint32_t sum[3] = {0, 0, 0};
            for (int64_t sy = y0; sy < y1; sy++) {
                const uint8_t* p = src + sy * stride + x0 * 3;
                for (int64_t sx = x0; sx < x1; sx++, p += 3) sum[0] += p[0], sum[1] += p[1], sum[2] += p[2];
            }
            const auto count = static_cast<uint32_t>((y1 - y0) * (x1 - x0));
            uint8_t* d =
                dst + (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
            for (int c = 0; c < 3; c++) d[c] = static_cast<uint8_t>((sum[c] + count / 2) / count);
        }
    }
}
