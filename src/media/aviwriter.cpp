#include "media/aviwriter.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/diag.h"
#include "core/diskio.h"
#include "core/memory.h"
#include "core/outputfile.h"
#include "media/fileio.h"
#include "media/riff.h"

namespace {

constexpr int32_t kVideoHeaderBytes = 220;  // through the 40-byte BITMAPINFOHEADER
constexpr int32_t kMaxHeaderBytes = 1244;   // with a 256-entry palette
constexpr int32_t kAudioListBytes = 108;
constexpr int32_t kMoviHeaderBytes = 12;
constexpr int32_t kEntriesPerFrame = 3;
// The file layer's positions are 32-bit: a chunk that would take the file past this is refused.
constexpr int64_t kMaxFileBytes = INT32_MAX;
// Chunks are gathered up to this many bytes before they go to the file, in a few large writes
// rather than three small ones a chunk.
constexpr size_t kWriteBehindBytes = 1 << 20;

constexpr FOURCC kMJPG = FourCC("MJPG");
constexpr FOURCC kAudioId = FourCC("01wb");

// The one file being written.
struct WriterState {
    int32_t handle = 0;
    uint8_t header[kMaxHeaderBytes];
    int32_t headerBytes = 0;
    uint8_t audioList[kAudioListBytes];
    bool hasAudio = false;
    uint8_t movi[kMoviHeaderBytes];
    int64_t position = 0;
    AVIINDEXENTRY* index = nullptr;
    int32_t count = 0;
    int32_t capacity = 0;
    uint32_t blockAlign = 0;
    std::string name;
    // A new file: written unnamed, it takes its name when finished and committed.
    OutputFile out;
    int error = 0;  // errno of the first write that failed; nothing more is written then
    // Chunks not yet written: they start at pendingStart, where the index held pendingCount entries.
    std::vector<uint8_t> pending;
    int64_t pendingStart = 0;
    int32_t pendingCount = 0;
    int32_t framesClosed = 0;  // frames the last finished file's headers count
};

WriterState gWriter;

void Put4(uint8_t* block, int32_t at, const char (&s)[5]) {
    std::memcpy(block + at, s, 4);
}
void Put32(uint8_t* block, int32_t at, uint32_t v) {
    WriteLE32(block + at, v);
}
void Add32(uint8_t* block, int32_t at, int64_t delta) {
    WriteLE32(block + at, static_cast<uint32_t>(ReadLE32(block + at) + delta));
}

void ReleaseIndex() {
    MyFree(gWriter.index);
    gWriter.index = nullptr;
    gWriter.count = 0;
    gWriter.capacity = 0;
}

// Room for one more index entry: the array doubles when the 3 entries per frame run out. False
// when it cannot grow (the chunk is then refused, so nothing lands past the index).
bool IndexRoom() {
    if (gWriter.count < gWriter.capacity) return true;
    int64_t grown = std::max<int64_t>(static_cast<int64_t>(gWriter.capacity) * 2, 64);
    grown = std::min<int64_t>(grown, kMaxFileBytes / 16);
    if (grown <= gWriter.count) return false;
    auto* bigger = static_cast<AVIINDEXENTRY*>(MyCalloc(static_cast<uint32_t>(grown), sizeof(AVIINDEXENTRY)));
    if (!bigger) return false;
    std::memcpy(bigger, gWriter.index, static_cast<size_t>(gWriter.count) * sizeof(AVIINDEXENTRY));
    MyFree(gWriter.index);
    gWriter.index = bigger;
    gWriter.capacity = static_cast<int32_t>(grown);
    return true;
}

// How the video format is written, by the first case that applies: a grey palette for 8 bits; a
// supplied 68-byte format copied whole with the JPEG extension filled in; "MJPG" with a zero
// extension; the plain header with the handler as compression.
enum class Form { kGrey, kCopy68, kMjpg, kPlain };

Form FormFor(int32_t bitCount, const BITMAPINFOHEADER* format, FOURCC handler) {
    if (bitCount == 8) return Form::kGrey;
    if (format && format->biSize == 68) return Form::kCopy68;
    if (handler == kMJPG || (format && format->biCompression == kMJPG)) return Form::kMjpg;
    return Form::kPlain;
}

int32_t StrfBytes(Form form) {
    return form == Form::kGrey ? 1064 : form == Form::kPlain ? 40 : 68;
}

// Writes the bytes; a short write is remembered as the writer's error.
bool WriteCounted(const void* data, int32_t length) {
    int32_t n = MyWrite(gWriter.handle, data, length);
    if (n == length) return true;
    DebugLog("AVI write short: %ld of %ld", static_cast<long>(n), static_cast<long>(length));
    if (!gWriter.error) gWriter.error = errno ? errno : EIO;
    return false;
}

// Ends the file being written: a new one never takes its name, one written over in place is left
// as it stands.
void Abandon() {
    WriterState& w = gWriter;
    if (w.out.isOpen())
        w.out.Abandon();
    else
        MyClose(w.handle);
    w.handle = 0;
    w.hasAudio = false;
    ReleaseIndex();
    std::vector<uint8_t>().swap(w.pending);
}

bool SpaceShortage(int error) {
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

// Where the chunk of index entry i ends in the file.
int64_t EntryEnd(int32_t i) {
    const AVIINDEXENTRY& e = gWriter.index[i];
    return e.dwChunkOffset + 8 + static_cast<int64_t>(e.dwChunkLength) + (e.dwChunkLength & 1);
}

// Cuts the file back to its first `kept` chunks (a sound chunk goes with the frame after it).
void KeepChunks(int32_t kept) {
    WriterState& w = gWriter;
    while (kept > 0 && w.index[kept - 1].ckid == kAudioId) kept--;
    const int64_t keptEnd =
        kept > 0 ? EntryEnd(kept - 1) : w.headerBytes + (w.hasAudio ? kAudioListBytes : 0) + kMoviHeaderBytes;
    if (DiskTruncate(w.handle, keptEnd) != 0) DebugLog("AVI writer: could not cut the file back");
    MySeek(w.handle, static_cast<int32_t>(keptEnd));
    Add32(w.header, 4, keptEnd - w.position);
    Add32(w.movi, 4, keptEnd - w.position);
    w.position = keptEnd;
    w.count = kept;
}

int32_t VideoChunks() {
    int32_t video = 0;
    for (int32_t i = 0; i < gWriter.count; i++)
        if (gWriter.index[i].ckid != kAudioId) video++;
    return video;
}

// Writes the idx1 index after the chunks. When the disk has no room for it, chunks are taken off
// the end until the index (and the headers, written again after it) fits in the space the chunks
// held, and it is written once more. False when it could not be written.
bool WriteIndex() {
    WriterState& w = gWriter;
    for (int attempt = 0;; attempt++) {
        std::vector<uint8_t> block(8 + 16 * static_cast<size_t>(w.count));
        std::memcpy(block.data(), "idx1", 4);
        WriteLE32(block.data() + 4, static_cast<uint32_t>(16 * w.count));
        if (w.count > 0) std::memcpy(block.data() + 8, w.index, 16 * static_cast<size_t>(w.count));
        const int32_t size = static_cast<int32_t>(block.size());
        const int32_t landed = MyWrite(w.handle, block.data(), size);
        if (landed == size) return true;
        const int error = errno ? errno : EIO;
        if (!w.error) w.error = error;
        if (attempt > 0 || !SpaceShortage(error)) return false;
        const int64_t room = w.position + std::max(landed, 0) - w.headerBytes -
                             (w.hasAudio ? kAudioListBytes : 0) - kMoviHeaderBytes;
        int32_t kept = w.count;
        while (kept > 0 && EntryEnd(kept - 1) + 8 + 16 * static_cast<int64_t>(kept) > room) kept--;
        KeepChunks(kept);
        DebugLog("AVI writer: no room for the index; %ld chunks kept", static_cast<long>(kept));
    }
}

// Writes the gathered chunks. When the disk fails part way, the chunks that landed whole stay and
// the rest is cut off again, with their index entries and header counts: the file then holds whole
// chunks only, and the index and headers written at close describe exactly those. Every later
// chunk is refused.
bool FlushPending() {
    WriterState& w = gWriter;
    if (w.pending.empty()) return !w.error;
    const int32_t size = static_cast<int32_t>(w.pending.size());
    const int32_t landed = MyWrite(w.handle, w.pending.data(), size);
    w.pending.clear();
    if (landed == size) return true;
    DebugLog("AVI write short: %ld of %ld", static_cast<long>(landed), static_cast<long>(size));
    if (!w.error) w.error = errno ? errno : EIO;
    const int64_t end = w.pendingStart + std::max(landed, 0);
    int32_t kept = w.pendingCount;
    int64_t keptEnd = w.pendingStart;
    while (kept < w.count) {
        const AVIINDEXENTRY& e = w.index[kept];
        const int64_t next =
            e.dwChunkOffset + 8 + static_cast<int64_t>(e.dwChunkLength) + (e.dwChunkLength & 1);
        if (next > end) break;
        keptEnd = next;
        kept++;
    }
    if (DiskTruncate(w.handle, keptEnd) != 0) DebugLog("AVI writer: could not cut the failed chunk off");
    MySeek(w.handle, static_cast<int32_t>(keptEnd));
    Add32(w.header, 4, keptEnd - w.position);
    Add32(w.movi, 4, keptEnd - w.position);
    w.position = keptEnd;
    w.count = kept;
    return false;
}

// One file at a time: a writer left open is closed as it stands (a new file is dropped), and a
// finished file never committed is dropped.
void CloseLeftOpen() {
    WriterState& w = gWriter;
    if (w.handle) {
        DebugLog("MyOpenWAVI: closing the file left open");
        FlushPending();
        if (!w.out.isOpen()) MyClose(w.handle);
        w.handle = 0;
        ReleaseIndex();
    }
    w.out.Abandon();
    w.error = 0;
}

void OpenFailed(const char* name, const WAVIStreams& s) {
    if (s.quiet) return;
    NotifyBox("MyOpenWAVI failed: <%s> %ldx%ldx%ld %08lx %ld %ld %ld %ld", name ? name : "",
              static_cast<long>(s.width), static_cast<long>(s.height), static_cast<long>(s.bitCount),
              static_cast<unsigned long>(s.handler), static_cast<long>(s.usPerFrame),
              static_cast<long>(s.samplesPerSec), static_cast<long>(s.channels),
              static_cast<long>(s.bitsPerSample));
}

// Writes the headers of the file just opened as h. The handle, or 0 with nothing left open.
int32_t BeginFile(int32_t h, const char* name, int64_t frames, const WAVIStreams& s) {
    WriterState& w = gWriter;
    w.position = 0;
    w.count = 0;
    w.hasAudio = false;
    w.name = name;
    w.error = 0;
    int64_t entries = std::min<int64_t>(std::llabs(frames) * kEntriesPerFrame, kMaxFileBytes / 16);
    w.index = static_cast<AVIINDEXENTRY*>(MyCalloc(static_cast<uint32_t>(entries), sizeof(AVIINDEXENTRY)));
    if (!w.index) {
        if (!s.quiet) NotifyBox("couldn't allocate index, no file saved");
        w.error = ENOMEM;
        if (w.out.isOpen())
            w.out.Abandon();
        else
            MyClose(h);
        return 0;
    }
    w.capacity = static_cast<int32_t>(entries);
    w.handle = h;

    uint8_t* b = w.header;
    std::memset(b, 0, sizeof(w.header));
    const Form form = FormFor(s.bitCount, s.format, s.handler);
    const int32_t strfBytes = StrfBytes(form);
    w.headerBytes = kVideoHeaderBytes + (strfBytes - 40);

    Put4(b, 0, "RIFF");
    Put4(b, 8, "AVI ");
    Put4(b, 12, "LIST");
    Put4(b, 20, "hdrl");
    Put4(b, 24, "avih");
    Put32(b, 28, 56);
    Put32(b, 32, static_cast<uint32_t>(s.usPerFrame));
    Put32(b, 44, 0x10);
    Put32(b, 52, static_cast<uint32_t>(s.initialFrames));
    Put32(b, 56, 1);
    Put32(b, 64, static_cast<uint32_t>(s.width));
    Put32(b, 68, static_cast<uint32_t>(s.height));
    Put4(b, 88, "LIST");
    Put4(b, 96, "strl");
    Put4(b, 100, "strh");
    Put32(b, 104, 64);
    Put4(b, 108, "vids");
    Put32(b, 112, s.handler);
    Put32(b, 128, static_cast<uint32_t>(s.usPerFrame));
    Put32(b, 132, 1000000);
    Put4(b, 172, "strf");
    Put32(b, 176, static_cast<uint32_t>(strfBytes));
    uint8_t* bi = b + 180;
    if (form == Form::kCopy68) {
        std::memcpy(bi, s.format, 68);
        // offset 44, size 24, process 0, colour space 2 (YCbCr), 8 bits, subsampling 2 x 1
        const uint32_t jpeg[7] = {44, 24, 0, 2, 8, 2, 1};
        for (int i = 0; i < 7; i++) Put32(bi, 40 + 4 * i, jpeg[i]);
    } else {
        Put32(bi, 0, form == Form::kMjpg ? 68 : 40);
        Put32(bi, 4, static_cast<uint32_t>(s.width));
        Put32(bi, 8, static_cast<uint32_t>(s.height));
        WriteLE16(bi + 12, 1);
        WriteLE16(bi + 14, static_cast<uint16_t>(s.bitCount));
        Put32(bi, 16, form == Form::kMjpg ? kMJPG : s.handler);
    }
    if (form == Form::kGrey) {
        Put32(bi, 32, 256);
        Put32(bi, 36, 256);
        for (int i = 0; i < 256; i++) {
            bi[40 + 4 * i] = static_cast<uint8_t>(i);
            bi[41 + 4 * i] = static_cast<uint8_t>(i);
            bi[42 + 4 * i] = static_cast<uint8_t>(i);
        }
    }
    // The image size always follows the header's own bit count and frame size.
    const int64_t imageBytes = static_cast<int64_t>(ReadLE16(bi + 14) / 8) *
                               static_cast<int32_t>(ReadLE32(bi + 4)) *
                               std::llabs(static_cast<int32_t>(ReadLE32(bi + 8)));
    Put32(bi, 20, static_cast<uint32_t>(std::min<int64_t>(imageBytes, UINT32_MAX)));  // a 32-bit field

    uint32_t strl = 64 + 20 + static_cast<uint32_t>(strfBytes);
    uint32_t hdrl = strl + 20 + 56;
    uint32_t riff = hdrl + 12;
    if (s.samplesPerSec != 0) {
        uint8_t* a = w.audioList;
        std::memset(a, 0, sizeof(w.audioList));
        w.blockAlign = static_cast<uint32_t>(s.channels * s.bitsPerSample / 8);
        Put4(a, 0, "LIST");
        Put32(a, 4, 100);
        Put4(a, 8, "strl");
        Put4(a, 12, "strh");
        Put32(a, 16, 64);
        Put4(a, 20, "auds");
        Put32(a, 40, w.blockAlign);
        Put32(a, 44, static_cast<uint32_t>(s.samplesPerSec) * w.blockAlign);
        Put32(a, 64, w.blockAlign);
        Put4(a, 84, "strf");
        Put32(a, 88, 16);
        WriteLE16(a + 92, 1);
        WriteLE16(a + 94, static_cast<uint16_t>(s.channels));
        Put32(a, 96, static_cast<uint32_t>(s.samplesPerSec));
        Put32(a, 100, static_cast<uint32_t>(s.samplesPerSec) * w.blockAlign);
        WriteLE16(a + 104, static_cast<uint16_t>(w.blockAlign));
        WriteLE16(a + 106, static_cast<uint16_t>(s.bitsPerSample));
        hdrl += kAudioListBytes;
        riff += kAudioListBytes;
        Put32(b, 56, 2);
        w.hasAudio = true;
    }
    riff += 12;
    Put32(b, 4, riff);
    Put32(b, 16, hdrl);
    Put32(b, 92, strl);
    Put4(w.movi, 0, "LIST");
    Put32(w.movi, 4, 4);
    Put4(w.movi, 8, "movi");

    const bool written = WriteCounted(b, w.headerBytes) &&
                         (!w.hasAudio || WriteCounted(w.audioList, kAudioListBytes)) &&
                         WriteCounted(w.movi, kMoviHeaderBytes);
    if (!written) {
        const int error = w.error;
        Abandon();
        w.error = error;
        return 0;
    }
    w.position = w.headerBytes + (w.hasAudio ? kAudioListBytes : 0) + kMoviHeaderBytes;
    return h;
}

}  // namespace

int32_t MyCreateWAVI(const char* name, int64_t frames, const WAVIStreams& streams) {
    WriterState& w = gWriter;
    CloseLeftOpen();
    if (!name || !w.out.Open(name)) {
        w.error = !name ? ENOENT : w.out.error() ? w.out.error() : EIO;
        OpenFailed(name, streams);
        return 0;
    }
    return BeginFile(w.out.fd(), name, frames, streams);
}

int32_t MyOverwriteWAVI(const char* name, int64_t frames, const WAVIStreams& streams) {
    CloseLeftOpen();
    const int32_t h = MyOpenWrite(name);
    if (!h) {
        gWriter.error = errno ? errno : EIO;  // why MyOpenWrite failed
        OpenFailed(name, streams);
        return 0;
    }
    return BeginFile(h, name, frames, streams);
}

int32_t MyOpenWAVI(const char* name, int32_t width, int32_t height, int32_t bitCount, int32_t frames,
                   const BITMAPINFOHEADER* format, FOURCC handler, int32_t usPerFrame, int32_t samplesPerSec,
                   int32_t channels, int32_t bitsPerSample, int32_t initialFrames) {
    const WAVIStreams streams{width,      height,        bitCount, format,        handler,
                              usPerFrame, samplesPerSec, channels, bitsPerSample, initialFrames, false};
    if (frames < 0) return MyCreateWAVI(name, -static_cast<int64_t>(frames), streams);
    return MyOverwriteWAVI(name, frames, streams);
}

int32_t MyWriteChunk(int32_t handle, const void* data, int32_t length, FOURCC id, uint32_t flags) {
    WriterState& w = gWriter;
    if (!w.handle || handle != w.handle || length < 0 || (length > 0 && !data) || w.error) {
        DebugLog("MyWriteChunk refused: handle %ld length %ld", static_cast<long>(handle),
                 static_cast<long>(length));
        return 0;
    }
    const int64_t padded = static_cast<int64_t>(length) + (length & 1);
    // What close adds: the index header and one more entry per chunk.
    const int64_t after = w.position + 8 + padded + 8 + 16 * (static_cast<int64_t>(w.count) + 1);
    if (after > kMaxFileBytes || !IndexRoom()) {
        DebugLog("MyWriteChunk refused: no room for %ld bytes", static_cast<long>(length));
        return 0;
    }
    // The header gives the exact length, as RIFF readers expect; the pad byte follows the data.
    // Chunks gather in memory and go to the file in large writes.
    if (w.pending.empty()) {
        w.pendingStart = w.position;
        w.pendingCount = w.count;
    }
    uint8_t header[8];
    WriteLE32(header, id);
    WriteLE32(header + 4, static_cast<uint32_t>(length));
    w.pending.insert(w.pending.end(), header, header + 8);
    if (length > 0) {
        const auto* bytes = static_cast<const uint8_t*>(data);
        w.pending.insert(w.pending.end(), bytes, bytes + length);
    }
    if (length & 1) w.pending.push_back(0);
    AVIINDEXENTRY& e = w.index[w.count++];
    e.ckid = id;
    e.dwFlags = flags;
    e.dwChunkOffset = static_cast<uint32_t>(w.position);
    e.dwChunkLength = static_cast<uint32_t>(length);
    const int64_t step = 8 + padded;
    w.position += step;
    Add32(w.header, 4, step);
    Add32(w.movi, 4, step);
    if (w.pending.size() >= kWriteBehindBytes && !FlushPending()) return 0;
    return static_cast<int32_t>(step);
}

int64_t AVIOverheadBytes(int32_t bitCount, const BITMAPINFOHEADER* format, FOURCC handler, bool audio) {
    const int32_t header = kVideoHeaderBytes + StrfBytes(FormFor(bitCount, format, handler)) - 40;
    return header + (audio ? kAudioListBytes : 0) + kMoviHeaderBytes + 8;
}

int32_t MyFinishAVI(int32_t handle, int32_t frames) {
    WriterState& w = gWriter;
    if (!w.handle || handle != w.handle) {
        DebugLog("MyFinishAVI: no such file open (%ld)", static_cast<long>(handle));
        return 0;
    }
    const int32_t entries = w.count;
    FlushPending();
    // A chunk that failed leaves the file as it was before it: the index and headers are still
    // written for what is there. When the close itself fails the file would claim what it lacks.
    const int chunkError = w.error;
    w.error = 0;
    bool closed = WriteIndex();
    // Chunks cut off: the headers count only the frames whose chunks are in the file.
    if (w.count < entries) frames = std::min(frames, VideoChunks());
    int64_t audioBytes = 0;
    for (int32_t i = 0; w.hasAudio && i < w.count; i++)
        if (w.index[i].ckid == kAudioId) audioBytes += w.index[i].dwChunkLength;
    Add32(w.header, 4, 16 * static_cast<int64_t>(w.count) + 8);
    ReleaseIndex();

    Put32(w.header, 48, static_cast<uint32_t>(frames));
    Put32(w.header, 140, static_cast<uint32_t>(frames));
    MySeek(w.handle, 0);
    if (w.hasAudio)
        Put32(w.audioList, 52, w.blockAlign ? static_cast<uint32_t>(audioBytes / w.blockAlign) : 0);
    closed = closed && WriteCounted(w.header, w.headerBytes) &&
             (!w.hasAudio || WriteCounted(w.audioList, kAudioListBytes)) &&
             WriteCounted(w.movi, kMoviHeaderBytes);
    if (closed && !(w.out.isOpen() ? w.out.Sync() : MySync(w.handle) != 0)) {
        w.error = w.out.isOpen() ? w.out.error() : errno ? errno : EIO;
        closed = false;
    }
    const int error = chunkError ? chunkError : w.error;
    if (!closed) {
        DebugLog("MyFinishAVI: %s could not be finished", w.name.c_str());
        Abandon();
        w.error = error;
        return 0;
    }
    if (!w.out.isOpen()) MyClose(w.handle);
    w.handle = 0;
    w.hasAudio = false;
    std::vector<uint8_t>().swap(w.pending);
    w.framesClosed = frames;
    w.error = error;
    return 1;
}

std::string AVIFinishedFile() {
    return gWriter.out.isOpen() && !gWriter.handle ? gWriter.out.readPath() : gWriter.name;
}

int32_t MyCommitAVI(bool replace) {
    WriterState& w = gWriter;
    if (w.handle || !w.out.isOpen()) return 0;
    if (w.out.Commit(replace ? OutputFile::Naming::kReplace : OutputFile::Naming::kIfNameFree)) return 1;
    w.error = w.out.error();
    return 0;
}

void MyAbandonAVI() {
    if (gWriter.handle || gWriter.out.isOpen()) Abandon();
}

int32_t MyCloseAVI(int32_t handle, int32_t frames) {
    const bool created = gWriter.out.isOpen() && handle == gWriter.handle;
    if (!MyFinishAVI(handle, frames)) return 0;
    return created ? MyCommitAVI(true) : 1;
}

int32_t AVIWriteError() {
    return gWriter.error;
}

int32_t AVIFramesClosed() {
    return gWriter.framesClosed;
}
