// The RIFF walker over one file: the headers into AVIinfo, the idx1 loader, and the WAVE header
// reader that shares the walker's file layer.
#include <cstdint>

#include "media/fileio.h"
#include "media/riff.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string path = FuzzWrite("input.avi", data, size);
    MonitorBalance balance;

    AVIinfo.fileLength = 0;  // set only by a RIFF header
    if (ReadAVIInfo(path.c_str())) {
        FUZZ_CHECK(AVIinfo.height >= 0);
        FUZZ_CHECK(AVIinfo.width != 0);
    }
    // A stated RIFF size never makes the file longer than it is.
    FUZZ_CHECK(AVIinfo.fileLength >= 0 && static_cast<size_t>(AVIinfo.fileLength) <= size);

    const int32_t handle = MyOpenRead(path.c_str());
    FUZZ_CHECK(handle > 0);
    LoadAVIIndex(handle, 0, 0, 0);
    // Entries come from bytes really in the file.
    FUZZ_CHECK(AVIinfo.indexCount >= 0 && static_cast<size_t>(AVIinfo.indexCount) * 16 <= size);
    FUZZ_CHECK(AVIinfo.indexCount == 0 || AVIinfo.index);
    MyFree(AVIinfo.index);
    AVIinfo.index = nullptr;
    AVIinfo.indexCount = 0;
    MyClose(handle);

    if (ReadWaveInfo(path.c_str())) {
        FUZZ_CHECK(AVIinfo.audioLength >= 0 && static_cast<size_t>(AVIinfo.audioLength) <= size);
    }
    FuzzTakeMessageCount();
    return 0;
}
