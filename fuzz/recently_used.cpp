// The desktop's recently-used list as the studio updates it: a list that does not read whole is left
// exactly as it was; one that does takes the use, reads whole again and takes a second use.
#include <cstdint>
#include <string>

#include "platform/recent/recent.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string input(reinterpret_cast<const char*>(data), size);
    const RecentUse use{"/home/ann/trip.cgp", "application/x-quillory-project", "Quillory", "quillory %u"};
    std::string text = input;
    if (!NoteRecentUse(text, use, "2024-05-01T10:00:00.000Z")) {
        FUZZ_CHECK(text == input);
        return 0;
    }
    // The entry may be one already there under another spelling of the file's address.
    FUZZ_CHECK(text.find("trip.cgp") != std::string::npos);
    FUZZ_CHECK(NoteRecentUse(text, use, "2024-05-02T10:00:00.000Z"));
    return 0;
}
