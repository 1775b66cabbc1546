// The RIFF chunk walkers: headers of one AVI or WAVE file into a record the caller owns, and the
// idx1 index loader.
#pragma once

#include <cstdint>

#include "core/wintypes.h"

// One idx1 entry as stored in the file.
struct AVIINDEXENTRY {
    uint32_t ckid;
    uint32_t dwFlags;  // 0x10: key frame
    uint32_t dwChunkOffset;
    uint32_t dwChunkLength;
};
static_assert(sizeof(AVIINDEXENTRY) == 16);

constexpr int kVideoFormatBytes = 1092;

// The two type characters of a chunk id (its upper 16 bits): "db", "dc", "iv", "wb".
constexpr uint32_t ChunkType(uint32_t ckid) {
    return ckid >> 16;
}
constexpr uint32_t TwoCC(char a, char b) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8);
}
constexpr uint32_t kTypeDB = TwoCC('d', 'b');
constexpr uint32_t kTypeDC = TwoCC('d', 'c');
constexpr uint32_t kTypeIV = TwoCC('i', 'v');
constexpr uint32_t kTypeWB = TwoCC('w', 'b');

// The headers of one media file. The readers set what the file holds and zero only some fields
// first: read into a fresh record (`AVIinfoRecord info{};`).
struct AVIinfoRecord {
    int32_t fileLength;
    int32_t frameTimeOrRate;
    int32_t totalFrames;
    int32_t width;
    int32_t height;  // always positive; see topDown
    int32_t bitCount;
    FOURCC compression;
    uint8_t videoFormat[kVideoFormatBytes];  // the video strf as read, biHeight made positive
    RGBQUAD palette[256];
    uint32_t videoRate;
    uint32_t videoScale;
    uint32_t videoQuality;
    FOURCC videoHandler;
    PCMWAVEFORMAT audioFormat;
    int32_t samplesPerSec;
    int32_t channels;
    int32_t bitsPerSample;
    int32_t audioLength;
    int32_t droppedFrames;
    int32_t compressionFigure;
    char sourceName[41];
    char sourceTag[17];
    int32_t sourceValue;
    char sourceComment[101];
    AVIINDEXENTRY* index;  // loaded by LoadAVIIndex; the caller takes ownership (MyFree)
    int32_t indexCount;
    uint32_t moviPosition;
    // The stored rows run top to bottom (the file's biHeight was negative). Frames handed on are
    // described with a positive height; whoever draws or decodes them flips the rows.
    bool topDown;
};

int32_t ReadAVIInfo(const char* name, AVIinfoRecord& info);   // 1 when a video format was read
int32_t ReadWaveInfo(const char* name, AVIinfoRecord& info);  // 1 on a canonical PCM WAVE file
int32_t ParseAVIChunks(int32_t handle, int32_t offset, int32_t limit, int32_t depth, AVIinfoRecord& info);
// The data-rate and compression figures of info for stored frames of averageBytes (0: none).
void SetFrameFigures(AVIinfoRecord& info, int64_t averageBytes);
// Loads the idx1 chunk into info.index and info.indexCount (the rest of info is left alone).
int32_t LoadAVIIndex(int32_t handle, int32_t offset, int32_t limit, int32_t depth, AVIinfoRecord& info);
int32_t ReadWaveHeader(int32_t handle, AVIinfoRecord& info);
