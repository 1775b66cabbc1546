// The GIF structure dump of one file into a text file beside it.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "diag/gifdump.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string gif = FuzzWrite("input.gif", data, size);
    const std::string out = GifDumpOutputName(gif);
    FUZZ_CHECK(out != gif);
    std::remove(out.c_str());
    const int32_t result = GifDump(gif.c_str(), out.c_str());
    // Input that is no GIF file writes nothing.
    FUZZ_CHECK(result == 0 || (result == -2 && access(out.c_str(), F_OK) != 0));
    if (result != 0) {
        FuzzTakeMessageCount();
        return 0;
    }
    const std::string dump = FuzzRead(out);
    FUZZ_CHECK(dump.rfind("dump gif <" + gif + ">\n", 0) == 0);
    // Each byte read adds at most a line of its own: the dump never runs away from its input.
    FUZZ_CHECK(dump.size() <= 4096 + 100 * size);
    FuzzTakeMessageCount();
    return 0;
}
