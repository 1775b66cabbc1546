#include "media/avilist.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstring>
#include <list>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "core/diag.h"
#include "core/memory.h"
#include "media/fileio.h"
#include "media/moviscan.h"

int32_t gSkippedFrames = 0;
int32_t gLastFrameRead = -1;
int32_t lastFrameSize = 0;
AudioSpan gAudioSpan = {nullptr, 0, 0};

namespace {

constexpr uint32_t kType41 = TwoCC('4', '1');
// Frame tables kept at once (one per list head in use; a project has one list).
constexpr size_t kMaxFrameTables = 4;

bool IsAudio(const AVIINDEXENTRY& e) {
    return ChunkType(e.ckid) == kTypeWB;
}

uint32_t TimeMs() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// round(x) as the list computes it (add 0.5, truncate), kept inside 64 bits.
int64_t RoundHalfUp(double x) {
    double r = x + 0.5;
    if (!(r > -4e18)) return static_cast<int64_t>(-4e18);
    if (r > 4e18) return static_cast<int64_t>(4e18);
    return static_cast<int64_t>(r);
}

// samples x bytes per sample / 8, saturated rather than overflowing.
int64_t SampleBytes(int64_t samples, int64_t sampleBits) {
    int64_t product;
    if (__builtin_mul_overflow(samples, sampleBits, &product))
        return (samples < 0) != (sampleBits < 0) ? INT64_MIN / 8 : INT64_MAX / 8;
    return product / 8;
}

// The scale and rate the audio arithmetic uses: a scale of 0 counts as 1000000 and a rate of 0 as
// scale / 10 (at least 1).
void AudioClock(const AVIlist* rec, double* scale, double* rate) {
    *scale = rec->scale ? rec->scale : 1000000.0;
    *rate = rec->rate ? rec->rate : std::max(std::floor(*scale / 10), 1.0);
}

// Where a list frame's bytes are: the entry numbered n, and the entry getFrameData reads for it (the
// latest non-empty one at or before it; srcRec -1 when there is none).
struct FrameRef {
    int32_t rec;
    int32_t entry;
    int32_t srcRec;
    int32_t srcEntry;
    int32_t sinceKey;
};

}  // namespace

// The frames of one chain in order, so a frame is found without walking the list. The table
// remembers the records, index arrays and entry counts it was built from; any change of the chain
// seen there (a record linked or unlinked, an index replaced) rebuilds it at getFrameData's next
// use (a ChainFrames keeps its table as it was built).
struct ChainFrames::Table {
    const AVIlist* head = nullptr;
    std::vector<AVIlist*> recs;
    std::vector<const AVIINDEXENTRY*> idxs;
    std::vector<int32_t> counts;
    std::vector<FrameRef> frames;

    bool Matches(const AVIlist* h) const {
        size_t i = 0;
        for (const AVIlist* r = h; r; r = r->next, i++) {
            if (i >= recs.size() || recs[i] != r || idxs[i] != r->idx || counts[i] != r->nidx) return false;
        }
        return i == recs.size();
    }

    void Build(AVIlist* h) {
        head = h;
        recs.clear();
        idxs.clear();
        counts.clear();
        frames.clear();
        int32_t lastRec = -1;
        int32_t lastEntry = 0;
        int32_t sinceKey = 0;
        int32_t r = 0;
        for (AVIlist* rec = h; rec; rec = rec->next, r++) {
            recs.push_back(rec);
            idxs.push_back(rec->idx);
            counts.push_back(rec->nidx);
            for (int32_t i = 0; i < rec->nidx && rec->idx; i++) {
                const AVIINDEXENTRY& e = rec->idx[i];
                if (IsAudio(e)) continue;
                if (e.dwChunkLength != 0) {
                    lastRec = r;
                    lastEntry = i;
                }
                sinceKey = (e.dwFlags & AVIIF_KEYFRAME) ? 0 : sinceKey + 1;
                FrameRef f{r, i, lastRec, lastEntry, sinceKey};
                frames.push_back(f);
            }
        }
    }
};

namespace {

using FrameTable = ChainFrames::Table;

std::vector<std::unique_ptr<FrameTable>>& Tables() {
    static std::vector<std::unique_ptr<FrameTable>> tables;
    return tables;
}

const FrameTable& TableFor(AVIlist* head) {
    auto& tables = Tables();
    for (size_t i = 0; i < tables.size(); i++) {
        if (tables[i]->head != head) continue;
        if (!tables[i]->Matches(head)) tables[i]->Build(head);
        return *tables[i];
    }
    if (tables.size() >= kMaxFrameTables) tables.erase(tables.begin());
    tables.push_back(std::make_unique<FrameTable>());
    tables.back()->Build(head);
    return *tables.back();
}

// Forgets every table that holds rec (its memory may soon belong to another record).
void ForgetTables(const AVIlist* rec) {
    auto& tables = Tables();
    std::erase_if(tables, [rec](const std::unique_ptr<FrameTable>& t) {
        return t->head == rec || std::find(t->recs.begin(), t->recs.end(), rec) != t->recs.end();
    });
}

ClipStamp StampOf(int32_t fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0) return ClipStamp{};
    return ClipStamp{st.st_dev, st.st_ino, st.st_size, st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec};
}

// The descriptors of the records' files, most recently used first. Every member takes the lock;
// a read holds it from finding the descriptor to the end of the transfer, so no other thread moves
// the file position or closes the descriptor in between.
class ClipHandles {
  public:
    // Opens a file for reading; when the process is out of descriptors, the cached ones are closed
    // and the open tried once more. The handle, or 0 with errno set.
    int32_t Open(const char* name) {
        std::lock_guard<std::mutex> guard(lock_);
        return OpenLocked(name);
    }

    // Takes over rec's open descriptor.
    void Keep(const AVIlist* rec, int32_t fd) {
        std::lock_guard<std::mutex> guard(lock_);
        KeepLocked(rec, fd);
    }

    void Forget(const AVIlist* rec) {
        std::lock_guard<std::mutex> guard(lock_);
        auto it = index_.find(rec);
        if (it == index_.end()) return;
        MyClose(it->second->fd);
        lru_.erase(it->second);
        index_.erase(it);
    }

    // Reads count bytes at offset of rec's file: the bytes delivered, or -1 (rec->openError says
    // why when the file could not be opened).
    int32_t Read(AVIlist* rec, uint32_t offset, void* buffer, int32_t count) {
        std::lock_guard<std::mutex> guard(lock_);
        const int32_t fd = HandleLocked(rec);
        if (!fd) return -1;
        MySeek(fd, static_cast<int32_t>(std::min<uint32_t>(offset, INT32_MAX)));
        return MyRead(fd, buffer, count);
    }

    // Closes every cached descriptor.
    void CloseAll() {
        std::lock_guard<std::mutex> guard(lock_);
        CloseAllLocked();
    }

    int32_t Count() {
        std::lock_guard<std::mutex> guard(lock_);
        return static_cast<int32_t>(lru_.size());
    }

  private:
    struct Entry {
        const AVIlist* rec;
        int32_t fd;
    };

    int32_t OpenLocked(const char* name) {
        errno = 0;
        int32_t fd = MyOpenRead(name);
        if (!fd && (errno == EMFILE || errno == ENFILE) && !lru_.empty()) {
            DebugLog("out of file descriptors: closing %ld clips", static_cast<long>(lru_.size()));
            CloseAllLocked();
            errno = 0;
            fd = MyOpenRead(name);
        }
        if (!fd && errno == 0) errno = EIO;
        return fd;
    }

    // A quarter of the open-file limit at most, so the rest of the program keeps descriptors too.
    static size_t Capacity() {
        rlimit files{};
        if (getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == RLIM_INFINITY) return kMaxOpenClips;
        return std::clamp<size_t>(files.rlim_cur / 4, 1, kMaxOpenClips);
    }

    void CloseAllLocked() {
        for (const Entry& e : lru_) MyClose(e.fd);
        lru_.clear();
        index_.clear();
    }

    void KeepLocked(const AVIlist* rec, int32_t fd) {
        lru_.push_front(Entry{rec, fd});
        index_[rec] = lru_.begin();
        while (lru_.size() > Capacity()) {
            MyClose(lru_.back().fd);
            index_.erase(lru_.back().rec);
            lru_.pop_back();
        }
    }

    int32_t HandleLocked(AVIlist* rec) {
        auto it = index_.find(rec);
        if (it != index_.end()) {
            lru_.splice(lru_.begin(), lru_, it->second);
            return it->second->fd;
        }
        const int32_t fd = OpenLocked(rec->name);
        if (!fd) {
            rec->openError = errno;
            DebugLog("couldn't open clip <%s>: %s", rec->name, std::strerror(rec->openError));
            return 0;
        }
        const ClipStamp now = StampOf(fd);
        if (std::memcmp(&now, &rec->stamp, sizeof now) != 0) {
            DebugLog("clip <%s> has changed", rec->name);
            MyClose(fd);
            rec->openError = kClipChanged;
            return 0;
        }
        rec->openError = 0;
        KeepLocked(rec, fd);
        return fd;
    }

    std::mutex lock_;
    std::list<Entry> lru_;
    std::unordered_map<const AVIlist*, std::list<Entry>::iterator> index_;
};

ClipHandles& Handles() {
    static ClipHandles handles;
    return handles;
}

// The words for an errno of a failed open.
std::string OpenErrorText(const char* name, int error) {
    struct stat st {};
    if (error == EINVAL && name && stat(name, &st) == 0 && !S_ISREG(st.st_mode)) return "not a regular file";
    return std::strerror(error);
}

void CopyText(char* dst, size_t capacity, const char* src) {
    size_t n = strnlen(src, capacity - 1);
    std::memcpy(dst, src, n);
    dst[n] = 0;
}

// Reads one chunk into a buffer of capacity bytes; never more than the buffer holds.
int32_t ReadInto(AVIlist* rec, uint32_t offset, uint32_t size, uint8_t* buffer, uint32_t capacity) {
    uint32_t count = std::min(size, buffer ? capacity : 0u);
    if (count == 0) return 0;
    return Handles().Read(rec, offset, buffer, static_cast<int32_t>(count));
}

// A position in the chain: the next entry to look at.
struct Cursor {
    AVIlist* rec;
    int32_t i;

    // The next entry of the wanted kind, or null when the chain is done.
    const AVIINDEXENTRY* Next(bool audio, AVIlist** owner) {
        while (rec) {
            while (i < rec->nidx && rec->idx) {
                const AVIINDEXENTRY* e = &rec->idx[i++];
                if (IsAudio(*e) == audio) {
                    *owner = rec;
                    return e;
                }
            }
            rec = rec->next;
            i = 0;
        }
        return nullptr;
    }
};

}  // namespace

AVIlist* OpenAVIforList(const char* name, int32_t first, int32_t last, std::string* why) {
    std::string ignored;
    if (!why) why = &ignored;
    if (!name || !*name) {
        *why = "no file name";
        return nullptr;
    }
    auto* rec = static_cast<AVIlist*>(MyMalloc(sizeof(AVIlist)));
    if (!rec) {
        NotifyBox("Failed to open avi structure for file <%s>", name);
        *why = std::strerror(ENOMEM);
        return nullptr;
    }
    std::memset(rec, 0, sizeof(AVIlist));
    const int32_t fd = Handles().Open(name);
    if (!fd) {
        *why = OpenErrorText(name, errno);
        DebugLog("   couldn't open file g <%s>", name);
        MyMallocFree(rec);
        return nullptr;
    }
    rec->stamp = StampOf(fd);
    // The header walk opens the file once more: a process short of descriptors closes the cached
    // ones and walks again.
    AVIinfoRecord info{};
    errno = 0;
    int32_t read = ReadAVIInfo(name, info);
    if (!read && (errno == EMFILE || errno == ENFILE)) {
        Handles().CloseAll();
        errno = 0;
        read = ReadAVIInfo(name, info);
    }
    if (!read) {
        *why = errno == EMFILE || errno == ENFILE ? std::strerror(errno) : "not a valid AVI file";
        MyClose(fd);
        MyMallocFree(rec);
        return nullptr;
    }
    std::memcpy(rec->format, info.videoFormat, sizeof(rec->format));
    // The stored header never claims more than the record holds.
    if (ReadLE32(rec->format) > sizeof(rec->format)) WriteLE32(rec->format, sizeof(rec->format));
    rec->width = info.width;
    rec->height = info.height;
    rec->topDown = info.topDown;
    rec->bits = info.bitCount;
    rec->frames = info.totalFrames;
    rec->rateFigure = info.frameTimeOrRate;
    rec->samplesPerSec = info.samplesPerSec;
    rec->channels = info.channels;
    rec->sampleBits = info.bitsPerSample;
    rec->audioLength = info.audioLength;
    rec->rate = info.videoRate;
    rec->scale = info.videoScale;
    rec->quality = info.videoQuality;
    rec->compression = info.compression;
    rec->handler = info.videoHandler;
    CopyText(rec->sourceTag, sizeof(rec->sourceTag), info.sourceTag);
    CopyText(rec->sourceName, sizeof(rec->sourceName), info.sourceName);
    rec->sourceValue = info.sourceValue;
    CopyText(rec->name, sizeof(rec->name), name);
    const uint32_t moviPosition = info.moviPosition;

    // A negative last frame is the file's last; the stated frame count may be anything.
    int64_t lastFrame = last < 0 ? static_cast<int64_t>(rec->frames) - 1 : last;

    LoadAVIIndex(fd, 0, 0, 0, info);
    rec->idx = info.index;  // the record owns it now
    rec->nidx = info.indexCount;
    // A missing or cut idx1 is rebuilt from the movi list; the frame count then follows it.
    if (RebuildIndexFromMovi(fd, moviPosition, &rec->idx, &rec->nidx)) {
        rec->frames = 0;
        for (int32_t i = 0; i < rec->nidx; i++) {
            const uint32_t type = ChunkType(rec->idx[i].ckid);
            if (type == kTypeDB || type == kTypeDC || type == kTypeIV || type == kType41) rec->frames++;
        }
        if (last < 0) lastFrame = static_cast<int64_t>(rec->frames) - 1;
    }
    const int64_t fileLength = std::max(MyFileLength(fd), 0);

    if (rec->idx) {
        int64_t audioStart = 0;
        int64_t audioEnd = 0;
        const int64_t sampleBytes = static_cast<int64_t>(rec->sampleBits) * rec->channels;
        const int64_t bytesPerSec = SampleBytes(sampleBytes, rec->samplesPerSec);
        if (bytesPerSec > 0) {
            double scale, rate;
            AudioClock(rec, &scale, &rate);
            audioStart = SampleBytes(RoundHalfUp(first * scale / rate * rec->samplesPerSec), sampleBytes);
            audioEnd = SampleBytes(
                RoundHalfUp((static_cast<double>(lastFrame) + 1) * scale / rate * rec->samplesPerSec),
                sampleBytes);
        }
        const bool relative = rec->nidx > 0 && rec->idx[0].dwChunkOffset < moviPosition;
        int64_t v = 0;
        int64_t p = 0;
        int32_t kept = 0;
        for (int32_t i = 0; i < rec->nidx; i++) {
            AVIINDEXENTRY e = rec->idx[i];
            e.ckid &= 0xFFFF0000u;
            if (ChunkType(e.ckid) == kType41) e.ckid = kTypeIV << 16;
            int64_t data = static_cast<int64_t>(e.dwChunkOffset) + (relative ? moviPosition : 0) + 8;
            // An entry whose chunk does not lie wholly inside the file is kept empty: it is counted
            // where it stands, and no buffer is sized by it.
            if (data + e.dwChunkLength > fileLength) {
                DebugLog("index entry %ld (%08lx %lu) lies outside the file", static_cast<long>(i),
                         static_cast<unsigned long>(e.dwChunkOffset),
                         static_cast<unsigned long>(e.dwChunkLength));
                e.dwChunkLength = 0;
                data = std::min(data, fileLength);
            }
            e.dwChunkOffset = static_cast<uint32_t>(data);
            const uint32_t type = ChunkType(e.ckid);
            bool keep = false;
            if (type == kTypeIV || type == kTypeDC || type == kTypeDB) {
                keep = first <= v && v <= lastFrame;
                v++;
                if (type == kTypeDB) {
                    rec->ndb++;
                } else {
                    rec->ndc++;
                }
            } else if (type == kTypeWB) {
                int64_t end = p + e.dwChunkLength;
                if (end >= audioStart && p <= audioEnd) {
                    keep = true;
                    if (p < audioStart) {
                        e.dwChunkOffset += static_cast<uint32_t>(audioStart - p);
                        e.dwChunkLength -= static_cast<uint32_t>(audioStart - p);
                    } else if (end > audioEnd) {
                        e.dwChunkLength -= static_cast<uint32_t>(end - audioEnd);
                    }
                }
                rec->nwb++;
                p = end;
            }
            if (keep) rec->idx[kept++] = e;
        }
        if (kept < rec->nidx) {
            auto* exact =
                static_cast<AVIINDEXENTRY*>(MyCalloc(static_cast<uint32_t>(kept), sizeof(AVIINDEXENTRY)));
            if (exact) {
                std::memcpy(exact, rec->idx, static_cast<size_t>(kept) * sizeof(AVIINDEXENTRY));
                MyFree(rec->idx);
                rec->idx = exact;
            } else {
                DebugLog("Couldn't alloc reduced index array");
            }
            rec->nidx = kept;
        }
    }
    Handles().Keep(rec, fd);
    getMaxChunkSizes(rec);
    DebugLog("OpenAVIforList: aptr=%08lx vptr=%08lx",
             static_cast<unsigned long>(reinterpret_cast<uintptr_t>(rec->aptr)),
             static_cast<unsigned long>(reinterpret_cast<uintptr_t>(rec->vptr)));
    return rec;
}

void getMaxChunkSizes(AVIlist* rec) {
    if (!rec) return;
    rec->asize = 0;
    rec->vsize = 0;
    for (const AVIlist* r = rec; r; r = r->next) {
        for (int32_t i = 0; i < r->nidx && r->idx; i++) {
            const AVIINDEXENTRY& e = r->idx[i];
            uint32_t& size = IsAudio(e) ? rec->asize : rec->vsize;
            size = std::max(size, e.dwChunkLength);
        }
    }
    MyFree(rec->vptr);
    MyFree(rec->aptr);
    rec->vptr = rec->vsize ? static_cast<uint8_t*>(MyCalloc(rec->vsize, 1)) : nullptr;
    rec->aptr = rec->asize ? static_cast<uint8_t*>(MyCalloc(rec->asize, 1)) : nullptr;
    if (!rec->vptr) rec->vsize = 0;
    if (!rec->aptr) rec->asize = 0;
}

void AppendAVIrecord(AVIlist* head, AVIlist* rec) {
    if (!head || !rec || rec == head) return;
    AVIlist* last = head->last ? head->last : head;
    while (last->next) last = last->next;
    last->next = rec;
    rec->next = nullptr;
    head->last = rec;
    uint32_t asize = 0, vsize = 0;
    for (int32_t i = 0; i < rec->nidx && rec->idx; i++) {
        const AVIINDEXENTRY& e = rec->idx[i];
        uint32_t& size = IsAudio(e) ? asize : vsize;
        size = std::max(size, e.dwChunkLength);
    }
    // A buffer that does not exist yet is sized for the whole chain (the earlier records may have
    // chunks of that kind that found no buffer).
    auto grow = [head](uint8_t*& buffer, uint32_t& capacity, uint32_t wanted, bool audio) {
        if (wanted == 0 || (buffer && wanted <= capacity)) return;
        if (!buffer)
            for (const AVIlist* r = head; r != nullptr; r = r->next)
                for (int32_t i = 0; i < r->nidx && r->idx; i++)
                    if (IsAudio(r->idx[i]) == audio) wanted = std::max(wanted, r->idx[i].dwChunkLength);
        MyFree(buffer);
        buffer = static_cast<uint8_t*>(MyCalloc(wanted, 1));
        capacity = buffer ? wanted : 0;
    };
    grow(head->vptr, head->vsize, vsize, false);
    grow(head->aptr, head->asize, asize, true);
}

void CloseAVIlist(AVIlist* head) {
    while (head) {
        AVIlist* next = head->next;
        MyFree(head->vptr);
        MyFree(head->aptr);
        FreeAVIrecord(head);
        head = next;
    }
}

void FreeAVIrecord(AVIlist* rec) {
    if (!rec) return;
    ForgetTables(rec);
    MyFree(rec->idx);
    Handles().Forget(rec);
    MyMallocFree(rec);
}

namespace {

// getFrameData through a table of head's chain.
uint8_t* FrameThrough(const FrameTable& table, AVIlist* head, int32_t n) {
    if (n < 1 || static_cast<size_t>(n) > table.frames.size()) {
        lastFrameSize = 0;
        return nullptr;
    }
    const FrameRef& f = table.frames[static_cast<size_t>(n) - 1];
    // Nothing stored at or before the frame: it has no picture (the record's first entry is often
    // a sound chunk, which must never reach a decoder).
    if (f.srcRec < 0) {
        lastFrameSize = 0;
        return nullptr;
    }
    AVIlist* src = table.recs[static_cast<size_t>(f.srcRec)];
    const AVIINDEXENTRY& e = src->idx[f.srcEntry];
    int32_t got = ReadInto(src, e.dwChunkOffset, e.dwChunkLength, head->vptr, head->vsize);
    if (got < 0 || static_cast<uint32_t>(got) != e.dwChunkLength) {
        DebugLog("%ld: video read error got:%ld, want:%ld", static_cast<long>(n), static_cast<long>(got),
                 static_cast<long>(e.dwChunkLength));
    }
    lastFrameSize = std::max(got, 0);
    return head->vptr;
}

int32_t SinceKeyThrough(const FrameTable& table, int32_t n) {
    if (n < 1 || static_cast<size_t>(n) > table.frames.size()) return 0;
    return table.frames[static_cast<size_t>(n) - 1].sinceKey;
}

}  // namespace

uint8_t* getFrameData(int32_t n, AVIlist* head) {
    if (!head) return nullptr;
    if (!head->vptr) {
        NotifyBox("getFrameData: no video buffer available");
        return nullptr;
    }
    return FrameThrough(TableFor(head), head, n);
}

int32_t FramesSinceKeyFrame(int32_t n, AVIlist* head) {
    if (!head) return 0;
    return SinceKeyThrough(TableFor(head), n);
}

ChainFrames::ChainFrames(AVIlist* head) : head_(head), table_(std::make_unique<Table>()) {
    if (head) table_->Build(head);
}

ChainFrames::~ChainFrames() = default;

uint8_t* ChainFrames::FrameData(int32_t n) {
    if (!head_) return nullptr;
    if (!head_->vptr) {
        NotifyBox("getFrameData: no video buffer available");
        return nullptr;
    }
    return FrameThrough(*table_, head_, n);
}

int32_t ChainFrames::SinceKeyFrame(int32_t n) const {
    return head_ ? SinceKeyThrough(*table_, n) : 0;
}

uint8_t* GetAudioData(AVIlist* rec, int32_t offset, int32_t count) {
    if (!rec || rec->samplesPerSec == 0 || !rec->aptr) return nullptr;
    if (count < 0 || static_cast<uint32_t>(count) > rec->asize) {
        DebugLog("%ld: audio request larger than the buffer (%lu)", static_cast<long>(count),
                 static_cast<unsigned long>(rec->asize));
        return nullptr;
    }
    int32_t got = ReadChunkAt(0, rec, offset, rec->aptr, count);
    if (got == count) return rec->aptr;
    DebugLog("%ld: audio read error got:%ld, want:%ld", static_cast<long>(offset), static_cast<long>(got),
             static_cast<long>(count));
    return nullptr;
}

AudioSpan* FindAudioData(int32_t k, AVIlist* rec, int32_t b) {
    if (!rec || rec->samplesPerSec == 0 || !rec->aptr) return nullptr;
    int64_t r = std::max(b, 0);
    int32_t ordinal = 0;
    for (int32_t i = 0; i < rec->nidx && rec->idx; i++) {
        const AVIINDEXENTRY& e = rec->idx[i];
        if (!IsAudio(e)) continue;
        if (ordinal >= k && r < e.dwChunkLength) {
            if (e.dwChunkLength > rec->asize) return nullptr;
            int32_t got = ReadInto(rec, e.dwChunkOffset, e.dwChunkLength, rec->aptr, rec->asize);
            if (got < 0 || static_cast<uint32_t>(got) != e.dwChunkLength) return nullptr;
            gAudioSpan.data = rec->aptr + r;
            gAudioSpan.bytes = static_cast<int32_t>(e.dwChunkLength - r);
            gAudioSpan.ordinal = ordinal;
            return &gAudioSpan;
        }
        r = std::max<int64_t>(r - e.dwChunkLength, 0);
        ordinal++;
    }
    return nullptr;
}

int32_t ReadChunkAt(int32_t frame, AVIlist* rec, int32_t offset, void* buffer, int32_t count) {
    if (gSkippedFrames == -1) {
        gSkippedFrames = 0;
        gLastFrameRead = -1;
    }
    if (frame != 0) {
        if (gLastFrameRead >= 0 && frame > gLastFrameRead + 1) gSkippedFrames += frame - gLastFrameRead - 1;
        gLastFrameRead = frame;
    }
    if (!rec) return -1;
    return Handles().Read(rec, static_cast<uint32_t>(std::max(offset, 0)), buffer, count);
}

std::string ClipOpenFailure(const AVIlist* rec) {
    if (!rec || rec->openError == 0) return std::string();
    if (rec->openError == kClipChanged) return "the file has changed since it was opened";
    return OpenErrorText(rec->name, rec->openError);
}

int32_t OpenClipCount() {
    return Handles().Count();
}

void PlayAVIlist01(AVIlist* head) {
    if (!head) return;
    const int64_t bytesPerSec =
        SampleBytes(static_cast<int64_t>(head->sampleBits) * head->channels, head->samplesPerSec);
    double scale, rate;
    AudioClock(head, &scale, &rate);
    Cursor audio{bytesPerSec != 0 ? head : nullptr, 0};
    Cursor video{head, 0};
    const uint32_t start = TimeMs();
    int64_t audioBytes = 0;
    int64_t videoBytes = 0;
    for (int64_t k = 1;; k++) {
        // Audio is kept 10 frames ahead of the video.
        const double ahead =
            static_cast<double>(RoundHalfUp((k + 10) * scale / rate * static_cast<double>(bytesPerSec)));
        while (audio.rec && audioBytes < ahead) {
            AVIlist* owner = nullptr;
            const AVIINDEXENTRY* e = audio.Next(true, &owner);
            if (!e) break;
            int32_t got = ReadInto(owner, e->dwChunkOffset, e->dwChunkLength, head->aptr, head->asize);
            if (got < 0 || static_cast<uint32_t>(got) != e->dwChunkLength) {
                DebugLog("%ld: audio read error got:%ld, want:%ld", static_cast<long>(k),
                         static_cast<long>(got), static_cast<long>(e->dwChunkLength));
            }
            audioBytes += std::max(got, 0);
        }
        AVIlist* owner = nullptr;
        const AVIINDEXENTRY* e = video.Next(false, &owner);
        if (!e) break;
        int32_t got = ReadInto(owner, e->dwChunkOffset, e->dwChunkLength, head->vptr, head->vsize);
        if (got < 0 || static_cast<uint32_t>(got) != e->dwChunkLength) {
            DebugLog("%ld: video read error got:%ld, want:%ld", static_cast<long>(k), static_cast<long>(got),
                     static_cast<long>(e->dwChunkLength));
        }
        videoBytes += std::max(got, 0);
    }
    const int64_t elapsed = static_cast<uint32_t>(TimeMs() - start);
    const int64_t total = audioBytes + videoBytes;
    // A read too quick for the millisecond clock is rated as if it took 1 ms: the speed shown is then
    // the least the file layer achieved, and the time is shown as the 0 it measured.
    const int64_t s = (total / std::max<int64_t>(elapsed, 1) + 5) / 10;
    NotifyBox(
        "total bytes read = %ld audio, %ld video, %ld total, time=%ld\nfile read speed = %ld.%ld Mb/sec",
        static_cast<long>(audioBytes), static_cast<long>(videoBytes), static_cast<long>(total),
        static_cast<long>(elapsed), static_cast<long>(s / 100), static_cast<long>(s % 100));
}
