// The GIF structure dump of one file into a text file beside it.
#include <cstdint>
#include <string>

#include "diag/gifdump.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string gif = FuzzWrite("input.gif", data, size);
    const std::string out = GifDumpOutputName(gif);
    FUZZ_CHECK(out != gif);
    FUZZ_CHECK(GifDump(gif.c_str(), out.c_str()) == 0);
    const std::string dump = FuzzRead(out);
    FUZZ_CHECK(dump.rfind("dump gif <" + gif + ">\n", 0) == 0);
    // Each byte read adds at most a line of its own: the dump never runs away from its input.
    FUZZ_CHECK(dump.size() <= 4096 + 100 * size);
    FuzzTakeMessageCount();
    return 0;
}
