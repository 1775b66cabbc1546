// A project file read into the project (its F0 lines opening a few fixed clips), the preview's play
// maps built from it, the project written back, and that file read again: the second read must
// give the same project, so writing it once more gives the same text.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/memory.h"
#include "crafted.h"
#include "project/playmap.h"
#include "project/project.h"
#include "project/projectfile.h"
#include "settings/settings.h"
#include "support.h"

namespace {

// Two clips that fit together and one of another size, which the project refuses.
std::string Clip(int32_t width, int32_t frames, bool sound) {
    crafted::CraftedAvi avi;
    avi.width = width;
    avi.height = 24;
    avi.usPerFrame = 66666;
    avi.rate = 15;
    if (sound) {
        avi.channels = 1;
        avi.samplesPerSec = 8000;
        avi.sampleBits = 8;
    }
    const uint32_t frameBytes = static_cast<uint32_t>((width * 3 + 3) / 4 * 4 * 24);
    for (int32_t i = 0; i < frames; i++) {
        if (sound) avi.chunks.push_back({"01wb", 0, crafted::Payload(533, i)});
        avi.chunks.push_back({"00db", AVIIF_KEYFRAME, crafted::Payload(i == 2 ? 0 : frameBytes, i)});
    }
    return avi.Build();
}

const std::string& ClipPath(size_t which) {
    static const std::string paths[3] = {
        [] {
            std::string c = Clip(32, 6, true);
            return FuzzWrite("a.avi", reinterpret_cast<const uint8_t*>(c.data()), c.size());
        }(),
        [] {
            std::string c = Clip(32, 4, false);
            return FuzzWrite("b.avi", reinterpret_cast<const uint8_t*>(c.data()), c.size());
        }(),
        [] {
            std::string c = Clip(16, 3, true);
            return FuzzWrite("c.avi", reinterpret_cast<const uint8_t*>(c.data()), c.size());
        }(),
    };
    return paths[which % 3];
}

// Every F0 line names one of the clips, picked by the name the input gave.
std::string PointFilesAtClips(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);
    std::string out;
    size_t start = 0;
    while (start < in.size()) {
        size_t end = in.find('\n', start);
        const bool last = end == std::string::npos;
        std::string line = in.substr(start, last ? std::string::npos : end - start);
        if (line.compare(0, 3, "F0:") == 0) {
            size_t pick = 0;
            for (char c : line.substr(3)) pick += static_cast<unsigned char>(c);
            line = "F0: " + ClipPath(pick);
        }
        out += line;
        if (!last) out += '\n';
        start = last ? in.size() : end + 1;
    }
    return out;
}

void UseProjectFile(const std::string& path) {
    std::memset(gSettings.ProjectFileName, 0, sizeof gSettings.ProjectFileName);
    std::strncpy(gSettings.ProjectFileName, path.c_str(), sizeof gSettings.ProjectFileName - 1);
}

// Reads the file into an empty project and writes it to out; the text written, empty when the
// project has no files (nothing is written then).
std::string ReadAndWrite(const std::string& in, const std::string& out, bool firstRead) {
    ResetProjectForTests();
    UseProjectFile(in);
    const int32_t read = ReadProject(nullptr);
    FUZZ_CHECK(firstRead || read == 1);  // what the program wrote always reads
    if (firstRead) {
        int32_t positions = 0;
        if (uint32_t* map = BuildPlayMap(&positions)) {
            FUZZ_CHECK(positions >= 0 && positions <= gProject.totalFrames);
            for (int32_t p = 1; p <= positions; p++) {
                const int32_t frame = PlayMapFrame(map, p);
                FUZZ_CHECK(frame >= 1 && frame <= gProject.totalFrames);
            }
            MyFree(map);
        }
        MyFree(BuildPlayAudioMap());
        for (int32_t n = 1; n <= gProject.totalFrames; n++) FrameState(n);
    }
    std::remove(out.c_str());
    UseProjectFile(out);
    if (!gProject.head) return std::string();
    FUZZ_CHECK(WriteProject() == 1);
    return FuzzRead(out);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzSetUp();
    ClipPath(0);
    const std::string text = PointFilesAtClips(data, size);
    const std::string input =
        FuzzWrite("input.cgp", reinterpret_cast<const uint8_t*>(text.data()), text.size());
    {
        MonitorBalance balance;
        const std::string first = ReadAndWrite(input, FuzzPath("first.cgp"), true);
        if (!first.empty()) {
            const std::string second = ReadAndWrite(FuzzPath("first.cgp"), FuzzPath("second.cgp"), false);
            FUZZ_CHECK(second == first);
        }
        ResetProjectForTests();
    }
    FuzzTakeMessageCount();
    return 0;
}
