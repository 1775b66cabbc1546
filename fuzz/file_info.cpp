// The Information report and the mailing summary over one file that may be an AVI, a WAVE or a BMP
// file, or none of them.
#include <cstdint>
#include <cstring>

#include "core/memory.h"
#include "media/fileinfo.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string path = FuzzWrite("input.bin", data, size);
    MonitorBalance balance;

    const std::string plain = FileInfoText(path.c_str(), nullptr, nullptr);
    FUZZ_CHECK(!plain.empty() && plain.size() < 4000);

    // As the capture panel asks: with the display format and the picture's time stamp.
    BITMAPINFOHEADER display{};
    display.biSize = sizeof display;
    display.biWidth = 320;
    display.biHeight = 240;
    display.biPlanes = 1;
    display.biBitCount = 24;
    char stamp[sizeof gImageTimeStamp];
    std::memcpy(stamp, gImageTimeStamp, sizeof stamp);
    stamp[sizeof stamp - 1] = 0;
    const std::string full = FileInfoText(path.c_str(), &display, stamp);
    FUZZ_CHECK(!full.empty() && full.size() < 4000);

    if (char* summary = DescribeAVI(path.c_str())) {
        FUZZ_CHECK(strnlen(summary, 4000) < 4000);
        MyMallocFree(summary);
    }
    FuzzTakeMessageCount();
    return 0;
}
