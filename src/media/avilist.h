// The AVI list: each opened clip is one AVIlist record with a reduced index over a chosen frame
// range; the records, linked in playing order, give frame and audio access to the whole list as
// one sequence. Nothing here decompresses.
//
// A record does not keep its file open: reads open it on demand through one process-wide cache of
// at most kMaxOpenClips descriptors (the least recently used is closed first), so a list of any
// length holds a few dozen.
//
// Threads: the descriptor cache is guarded, so opening, reading and closing records is safe from
// any thread. Everything else here (a list's buffers, the frame tables getFrameData keeps,
// lastFrameSize, gAudioSpan, the skip counters) is for one thread at a time: the thread that reads
// the project's list (the GUI thread, or quillory-cli's main thread). The render reads on that
// thread only and hands copies of the bytes to its worker threads, which never call in here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "media/riff.h"

// What tells one state of a file from another.
struct ClipStamp {
    uint64_t device;
    uint64_t inode;
    int64_t size;
    int64_t modified;  // nanoseconds
};

struct AVIlist {
    AVIlist* next;
    AVIlist* last;  // on a head: a record of its chain at or before the last one (where appends look)
    char name[128];
    AVIINDEXENTRY* idx;  // the reduced index: absolute data offsets, type characters only
    int32_t nidx;
    // Why the file could not be opened for the latest read that needed it (an errno, or
    // kClipChanged); 0 once an open worked. Written by the reads.
    int32_t openError;
    ClipStamp stamp;  // the file the index was read from, so that a changed file is noticed
    int32_t ndb;
    int32_t ndc;
    int32_t nwb;
    int32_t width;
    int32_t height;  // positive; see topDown
    int32_t bits;
    int32_t frames;
    int32_t rateFigure;
    int32_t samplesPerSec;
    int32_t channels;
    int32_t sampleBits;
    int32_t audioLength;
    uint32_t rate;
    uint32_t scale;
    uint32_t quality;
    FOURCC compression;
    FOURCC handler;
    char sourceTag[20];
    char sourceName[60];
    int32_t sourceValue;
    uint8_t format[68];  // BITMAPINFOHEADER and up to 28 bytes after it, biHeight positive
    uint32_t asize;
    uint32_t vsize;
    uint8_t* aptr;
    uint8_t* vptr;
    bool topDown;  // stored rows run top to bottom
};

// Descriptors the list's files keep open at most, together (fewer when a quarter of the process's
// open-file limit is less).
constexpr int32_t kMaxOpenClips = 32;
// openError of a record whose path names another file, or the file changed, since it was read.
constexpr int32_t kClipChanged = -1;

// What FindAudioData found.
struct AudioSpan {
    uint8_t* data;
    int32_t bytes;
    int32_t ordinal;
};

// Frames skipped by playback reads; store -1 to have the next read restart the tally.
extern int32_t gSkippedFrames;
extern int32_t gLastFrameRead;
// Bytes delivered by the latest getFrameData.
extern int32_t lastFrameSize;
extern AudioSpan gAudioSpan;

// Null when the file cannot be read as an AVI file; why (optional) then says why, in words.
AVIlist* OpenAVIforList(const char* name, int32_t first, int32_t last, std::string* why = nullptr);
// In words, why the record's file could not be opened for its latest read (empty when it could).
std::string ClipOpenFailure(const AVIlist* rec);
// Descriptors the list's files hold open now (at most kMaxOpenClips).
int32_t OpenClipCount();
// Sizes the read buffers of rec for the largest chunks of the chain from rec on. Call it on the
// head after linking a record, so the head's buffers hold every chunk of the list.
void getMaxChunkSizes(AVIlist* rec);
// Links rec (a record of its own) after the last record of head's chain and grows head's read
// buffers for rec's chunks, as getMaxChunkSizes(head) would size them, without walking the records
// before it.
void AppendAVIrecord(AVIlist* head, AVIlist* rec);
void CloseAVIlist(AVIlist* head);
void FreeAVIrecord(AVIlist* rec);
// Frames are found through a table kept per head, rebuilt on the next call whenever the chain's
// records, index arrays or entry counts change; index entries edited in place are not noticed.
// A chunk larger than the head's vptr (a record linked without getMaxChunkSizes) is cut to vsize.
// An empty entry shows the latest non-empty one before it; with none, the frame has no data (null,
// lastFrameSize 0).
uint8_t* getFrameData(int32_t n, AVIlist* head);
int32_t FramesSinceKeyFrame(int32_t n, AVIlist* head);
// The frames of a chain as it is when this is made, for a reader of many frames of a chain that
// stays as it is meanwhile: getFrameData and FramesSinceKeyFrame without looking at the chain again.
class ChainFrames {
  public:
    explicit ChainFrames(AVIlist* head);
    ~ChainFrames();
    ChainFrames(const ChainFrames&) = delete;
    ChainFrames& operator=(const ChainFrames&) = delete;
    uint8_t* FrameData(int32_t n);
    int32_t SinceKeyFrame(int32_t n) const;

    struct Table;

  private:
    AVIlist* head_;
    std::unique_ptr<Table> table_;
};
uint8_t* GetAudioData(AVIlist* rec, int32_t offset, int32_t count);
AudioSpan* FindAudioData(int32_t k, AVIlist* rec, int32_t b);
int32_t ReadChunkAt(int32_t frame, AVIlist* rec, int32_t offset, void* buffer, int32_t count);
void PlayAVIlist01(AVIlist* head);
