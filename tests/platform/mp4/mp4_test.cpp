// The MP4 writer and reader on their own: a size trial counts the bytes the file takes, formats and
// places it cannot write make no file, and files that are not MP4 files are refused without hanging.
#include "platform/mp4/mp4.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <vector>

#include "core/wintypes.h"
#include "support/scripted.h"

TEST(Mp4Writer, SizeTrialsCountTheFileAndRefusedFormatsMakeNone) {
    TempDir dir;
    Mp4Format f;
    f.width = 64, f.height = 48, f.rate = 15, f.scale = 1;
    f.samplesPerSec = 22050, f.channels = 2, f.sampleBits = 16, f.quality = 70;
    const std::string path = dir.file("a.mp4");
    auto file = Mp4Writer::Create(path, f, nullptr);
    auto trial = Mp4Writer::CreateSizeTrial(f, nullptr);
    ASSERT_TRUE(file && trial);
    std::vector<uint8_t> frame(DibRowBytes(f.width, 24) * f.height), sound(22050 / 15 * 4);
    for (int k = 0; k < 30; k++) {
        for (size_t i = 0; i < frame.size(); i++) frame[i] = static_cast<uint8_t>(i * 7 + k * 3);
        for (size_t i = 0; i < sound.size(); i++) sound[i] = static_cast<uint8_t>(i + k);
        for (Mp4Writer* w : {file.get(), trial.get()}) {
            ASSERT_TRUE(w->HasRoom() && w->WriteSound(sound.data(), sound.size()));
            ASSERT_TRUE(k % 5 == 4 ? w->RepeatFrame() : w->WriteFrame(frame.data()));
        }
    }
    ASSERT_TRUE(file->Finish() && trial->Finish());
    EXPECT_FALSE(std::filesystem::exists(path));  // named only when committed
    ASSERT_EQ(file->Commit(), 0);
    EXPECT_EQ(trial->bytes(), static_cast<int64_t>(std::filesystem::file_size(path)));
    Mp4Info info;
    ASSERT_TRUE(ReadMp4Info(path.c_str(), &info));
    EXPECT_EQ(info.frames, 30);
    EXPECT_EQ(info.samplesPerSec * 10 + info.channels, 441002);

    // No picture, no rate, or no folder: nothing is made, and the reason is given.
    for (auto change : {+[](Mp4Format& g) { g.width = 0; }, +[](Mp4Format& g) { g.rate = 0; }}) {
        Mp4Format g = f;
        change(g);
        std::string problem;
        EXPECT_EQ(Mp4Writer::Create(dir.file("b.mp4"), g, &problem), nullptr);
        EXPECT_FALSE(problem.empty());
    }
    std::string problem;
    EXPECT_EQ(Mp4Writer::Create(dir.file("no/such.mp4"), f, &problem), nullptr);
    EXPECT_EQ(problem, "No such file or directory");
    const std::string fifo = dir.file("pipe.mp4");  // refused at once, not waited on
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Mp4Writer::Create(fifo, f, &problem), nullptr);
    EXPECT_FALSE(std::filesystem::exists(dir.file("b.mp4")));
    const std::string kept = dir.file("kept.mp4");  // protected: never emptied, whoever runs it
    WriteWholeFile(kept, "precious");
    ASSERT_EQ(chmod(kept.c_str(), 0444), 0);
    EXPECT_EQ(Mp4Writer::Create(kept, f, &problem), nullptr);
    EXPECT_EQ(ReadWholeFile(kept), "precious");
}

TEST(Mp4Reader, RefusesWhatIsNotAnMp4File) {
    TempDir dir;
    const std::string fifo = dir.file("pipe.mp4"), junk = dir.file("junk.mp4");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);  // a reader would wait on it for ever
    std::string bytes(
        "\0\0\0\x10"
        "ftypisom\0\0\0\0",
        16);
    for (int i = 0; i < 5000; i++) bytes += static_cast<char>(i * 131 % 251);
    WriteWholeFile(junk, bytes);
    Mp4Info info;
    for (const std::string& name : {fifo, junk, dir.path(), dir.file("missing.mp4")})
        EXPECT_FALSE(ReadMp4Info(name.c_str(), &info)) << name;
}
