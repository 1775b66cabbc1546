// An MP4 file through the decoder that plays it, as the player and its loops ask: every picture in
// order, jumps back and forth, the sound from its start and from a sample on.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/mp4/mp4decoder.h"
#include "support.h"

namespace {

// Enough of a long input to reach every path without spending the run on one input.
constexpr int32_t kMaxPictures = 64;
constexpr int kMaxSoundBlocks = 64;

void ReadSoundBlocks(Mp4Decoder& d, std::vector<uint8_t>& sound) {
    for (int blocks = 0; blocks < kMaxSoundBlocks && d.ReadSound(sound); blocks++) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    const std::string path = FuzzWrite("input.mp4", data, size);
    std::unique_ptr<Mp4Decoder> d = Mp4Decoder::Open(path.c_str());
    if (!d) return 0;
    FUZZ_CHECK(d->frames() > 0 && d->width() > 0 && d->height() > 0 && d->rate() > 0 && d->scale() > 0);
    const int32_t n = std::min(d->frames(), kMaxPictures);
    for (int32_t i = 0; i < n; i++) d->Picture(i);
    for (int32_t i : {n / 2, 0, n - 1, d->frames() - 1, d->frames()}) d->Picture(i);

    std::vector<uint8_t> sound;
    ReadSoundBlocks(*d, sound);
    d->SeekSound(d->samplesPerSec());
    ReadSoundBlocks(*d, sound);
    FUZZ_CHECK(d->samplesPerSec() == 0 ? sound.empty() : sound.size() % (2u * d->channels()) == 0);
    return 0;
}
