// Any file through the importer's demuxing and decoding, as conforming reads it: every container
// libavformat probes, pictures fitted into a small frame, sound resampled to 8-bit mono.
#include <cstdint>
#include <vector>

#include "platform/codec/codec.h"
#include "platform/lavf/lavf.h"
#include "support.h"

namespace {

// Enough of a long input to reach every path without spending the run on one input.
constexpr int kMaxPictures = 48;
constexpr int32_t kWidth = 64, kHeight = 48;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string path = FuzzWrite("input.video", data, size);
    LavfInfo info;
    ReadLavfInfo(path.c_str(), &info, nullptr);
    std::string why;
    std::unique_ptr<LavfSource> s = LavfSource::Open(path.c_str(), &why);
    if (!s) {
        FUZZ_CHECK(!why.empty());
        return 0;
    }
    FUZZ_CHECK(s->SetPicture(kWidth, kHeight));
    FUZZ_CHECK(s->SetSound(11025, 8, 1));
    std::vector<uint8_t> frame;
    std::vector<LavfSound> sound;
    double at = 0;
    for (int i = 0; i < kMaxPictures; ++i) {
        const int r = s->NextPicture(frame, &at, &why);
        if (r <= 0) break;
        FUZZ_CHECK(frame.size() == J420Bytes(kWidth, kHeight) + kJ420Slack);
        s->TakeSound(sound);
        if (i == kMaxPictures / 2) s->Seek(0.5);
    }
    return 0;
}
