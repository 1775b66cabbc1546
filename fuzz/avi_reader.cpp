// The RIFF walker over one file: the headers into a record, the idx1 loader, the movi scan that
// rebuilds a missing or short index, and the WAVE header reader that shares the file layer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "media/fileio.h"
#include "media/moviscan.h"
#include "media/riff.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string path = FuzzWrite("input.avi", data, size);
    MonitorBalance balance;

    AVIinfoRecord info{};  // fileLength is set only by a RIFF header
    if (ReadAVIInfo(path.c_str(), info)) {
        FUZZ_CHECK(info.height >= 0);
        FUZZ_CHECK(info.width != 0);
    }
    // A stated RIFF size never makes the file longer than it is.
    FUZZ_CHECK(info.fileLength >= 0 && static_cast<size_t>(info.fileLength) <= size);

    const uint32_t moviPosition = info.moviPosition;
    const int32_t handle = MyOpenRead(path.c_str());
    FUZZ_CHECK(handle > 0);
    LoadAVIIndex(handle, 0, 0, 0, info);
    // Entries come from bytes really in the file.
    FUZZ_CHECK(info.indexCount >= 0 && static_cast<size_t>(info.indexCount) * 16 <= size);
    FUZZ_CHECK(info.indexCount == 0 || info.index);
    AVIINDEXENTRY* index = info.index;
    int32_t count = info.indexCount;

    // The movi scan that stands in for a missing or short index: the scan through the file layer
    // and the one over the bytes in memory find the same chunks, each wholly inside the file.
    const std::vector<AVIINDEXENTRY> scanned = ScanMoviBuffer(data, size, moviPosition);
    if (RebuildIndexFromMovi(handle, moviPosition, &index, &count)) {
        FUZZ_CHECK(count == static_cast<int32_t>(scanned.size()));
        for (int32_t i = 0; i < count; i++) {
            const AVIINDEXENTRY& e = index[i];
            FUZZ_CHECK(std::memcmp(&e, &scanned[static_cast<size_t>(i)], sizeof e) == 0);
            FUZZ_CHECK(static_cast<uint64_t>(moviPosition) + e.dwChunkOffset + 8 + e.dwChunkLength <= size);
        }
    }
    MyFree(index);
    MyClose(handle);

    if (AVIinfoRecord wave{}; ReadWaveInfo(path.c_str(), wave)) {
        FUZZ_CHECK(wave.audioLength >= 0 && static_cast<size_t>(wave.audioLength) <= size);
    }
    FuzzTakeMessageCount();
    return 0;
}
