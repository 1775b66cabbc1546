// The AVI list: each opened clip is one AVIlist record with a reduced index over a chosen frame
// range; the records, linked in playing order, give frame and audio access to the whole list as
// one sequence. Nothing here decompresses.
#pragma once

#include <cstdint>

#include "media/riff.h"

struct AVIlist {
    AVIlist* next;
    AVIlist* last;  // on a head: a record of its chain at or before the last one (where appends look)
    char name[128];
    AVIINDEXENTRY* idx;  // the reduced index: absolute data offsets, type characters only
    int32_t nidx;
    int32_t fd;
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

AVIlist* OpenAVIforList(const char* name, int32_t first, int32_t last);
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
uint8_t* GetAudioData(AVIlist* rec, int32_t offset, int32_t count);
AudioSpan* FindAudioData(int32_t k, AVIlist* rec, int32_t b);
int32_t ReadChunkAt(int32_t frame, AVIlist* rec, int32_t offset, void* buffer, int32_t count);
void PlayAVIlist01(AVIlist* head);
