#include "media/moviscan.h"

#include <algorithm>
#include <cstring>

#include "core/diag.h"
#include "core/memory.h"
#include "media/fileio.h"

namespace {

constexpr FOURCC kLIST = FourCC("LIST");
constexpr FOURCC kMovi = FourCC("movi");
constexpr FOURCC kRec = FourCC("rec ");
constexpr FOURCC kJunk = FourCC("JUNK");

bool IsDigit(uint8_t c) {
    return c >= '0' && c <= '9';
}
bool IsAlnum(uint8_t c) {
    return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// "##xx": a chunk of stream ## (two digits) of type xx.
bool IsStreamChunk(FOURCC id) {
    const auto b = [id](int i) { return static_cast<uint8_t>(id >> (8 * i)); };
    return IsDigit(b(0)) && IsDigit(b(1)) && IsAlnum(b(2)) && IsAlnum(b(3));
}

// "ix##" (an OpenDML index) and JUNK carry no stream data.
bool IsSkippable(FOURCC id) {
    const auto b = [id](int i) { return static_cast<uint8_t>(id >> (8 * i)); };
    return id == kJunk || (b(0) == 'i' && b(1) == 'x' && IsDigit(b(2)) && IsDigit(b(3)));
}

// Whether a stream chunk's header starts at pos.
bool StreamChunkAt(const ScanRead& read, int64_t pos) {
    uint8_t head[4];
    return read(pos, head, 4) == 4 && IsStreamChunk(ReadLE32(head));
}

}  // namespace

std::vector<AVIINDEXENTRY> ScanMoviChunks(const ScanRead& read, int64_t moviPosition, int64_t fileLength) {
    std::vector<AVIINDEXENTRY> entries;
    if (moviPosition < 8 || moviPosition + 4 > fileLength) return entries;
    uint8_t head[12];
    if (read(moviPosition - 8, head, 12) != 12 || ReadLE32(head) != kLIST || ReadLE32(head + 8) != kMovi)
        return entries;
    int64_t end = std::min<int64_t>(moviPosition + ReadLE32(head + 4), fileLength);
    bool extended = false;
    int64_t pos = moviPosition + 4;
    while (static_cast<int32_t>(entries.size()) < kMaxScannedChunks) {
        if (pos + 8 > end) {
            // Stream chunks right after the list's stated end: its size was never brought up to date
            // (a writer that died), and its chunks go on as far as the file holds them.
            if (extended || pos != end || pos + 8 > fileLength || !StreamChunkAt(read, pos)) break;
            end = fileLength;
            extended = true;
        }
        if (read(pos, head, 8) != 8) break;
        const FOURCC id = ReadLE32(head);
        const uint32_t size = ReadLE32(head + 4);
        const int64_t next = pos + 8 + size + (size & 1);
        if (id == kLIST) {
            if (size < 4 || pos + 12 > end || read(pos + 8, head + 8, 4) != 4) break;
            // A "rec " list groups chunks: its chunks are walked; any other list is stepped over.
            pos = ReadLE32(head + 8) == kRec ? pos + 12 : next;
            continue;
        }
        if (pos + 8 + static_cast<int64_t>(size) > end) break;  // cut by the list's end
        if (IsStreamChunk(id)) {
            entries.push_back({id, AVIIF_KEYFRAME, static_cast<uint32_t>(pos - moviPosition), size});
        } else if (!IsSkippable(id)) {
            break;  // not a chunk header: the data ends here
        }
        pos = next;
    }
    return entries;
}

std::vector<AVIINDEXENTRY> ScanMoviBuffer(const uint8_t* data, size_t size, int64_t moviPosition) {
    const ScanRead read = [data, size](int64_t at, void* buffer, int32_t count) -> int32_t {
        if (at < 0 || count < 0 || static_cast<uint64_t>(at) >= size) return 0;
        const size_t n = std::min<size_t>(static_cast<size_t>(count), size - static_cast<size_t>(at));
        std::memcpy(buffer, data + at, n);
        return static_cast<int32_t>(n);
    };
    return ScanMoviChunks(read, moviPosition, static_cast<int64_t>(size));
}

int32_t RebuildIndexFromMovi(int32_t handle, uint32_t moviPosition, AVIINDEXENTRY** index, int32_t* count) {
    if (handle <= 0 || !index || !count || moviPosition < 8) return 0;
    const int64_t fileLength = std::max(MyFileLength(handle), 0);
    const ScanRead read = [handle](int64_t at, void* buffer, int32_t n) -> int32_t {
        if (at < 0 || at > INT32_MAX) return -1;
        MySeek(handle, static_cast<int32_t>(at));
        return MyRead(handle, buffer, n);
    };
    uint8_t head[8];
    if (read(static_cast<int64_t>(moviPosition) - 8, head, 8) != 8 || ReadLE32(head) != kLIST) return 0;
    const int64_t moviEnd =
        std::min<int64_t>(static_cast<int64_t>(moviPosition) + ReadLE32(head + 4), fileLength);
    // Where the loaded index stops: the end of the furthest chunk it names.
    int64_t covered = 0;
    if (*index && *count > 0) {
        const bool relative = (*index)[0].dwChunkOffset < moviPosition;
        for (int32_t i = 0; i < *count; i++) {
            const AVIINDEXENTRY& e = (*index)[i];
            const int64_t at = static_cast<int64_t>(e.dwChunkOffset) + (relative ? moviPosition : 0);
            covered = std::max(covered, at + 8 + e.dwChunkLength + (e.dwChunkLength & 1));
        }
    }
    // No room left in the list for a chunk the index does not name, and no chunk after it (a list
    // whose size was never brought up to date).
    if (covered + 8 > moviEnd && (covered != moviEnd || !StreamChunkAt(read, covered))) return 0;
    std::vector<AVIINDEXENTRY> found = ScanMoviChunks(read, moviPosition, fileLength);
    if (static_cast<int32_t>(found.size()) <= *count) return 0;
    auto* rebuilt =
        static_cast<AVIINDEXENTRY*>(MyCalloc(static_cast<uint32_t>(found.size()), sizeof(AVIINDEXENTRY)));
    if (!rebuilt) return 0;
    std::memcpy(rebuilt, found.data(), found.size() * sizeof(AVIINDEXENTRY));
    DebugLog("index rebuilt from the movi list: %ld entries instead of %ld", static_cast<long>(found.size()),
             static_cast<long>(*count));
    MyFree(*index);
    *index = rebuilt;
    *count = static_cast<int32_t>(found.size());
    return 1;
}
