// Renders of crafted clips: every pixel and sound byte of the written file is checked against what
// the clip stores and what the revisions ask for.
#include "render/render.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <filesystem>
#include <numeric>
#include <set>

#include "core/diskio.h"
#include "media/riff.h"
#include "render/compose.h"
#include "render_support.h"

using namespace render_test;

namespace {

std::string Complete(const std::string& path) {
    return "Record to AVI file complete - size = " + std::to_string(ReadWholeFile(path).size()) +
           " bytes\nWould you like to view the file?";
}

// The file reads back with this many 24-bit bottom-up frames of the clip's size; its headers go to
// *headers when given.
void ExpectHeaders(const std::string& path, const ClipLayout& s, int32_t frames,
                   AVIinfoRecord* headers = nullptr) {
    AVIinfoRecord info{};
    ASSERT_EQ(ReadAVIInfo(path.c_str(), info), 1);
    EXPECT_EQ((std::vector<int32_t>{info.totalFrames, info.width, info.height, info.bitCount, info.topDown}),
              (std::vector<int32_t>{frames, s.width, s.height, 24, 0}));
    if (headers) *headers = info;
}

// The chunks hold these frames of the clip, in order, as "00db" key frames with zero row padding.
void ExpectFrames(const std::vector<OutChunk>& chunks, const ClipLayout& s,
                  const std::vector<int32_t>& frames) {
    ASSERT_EQ(chunks.size(), frames.size());
    const int64_t stride = DibRowBytes(s.width, 24);
    for (size_t i = 0; i < frames.size(); i++) {
        std::string want(static_cast<size_t>(stride * s.height), '\0');
        for (int32_t p = 0; p < s.width * s.height; p++)
            std::memcpy(&want[p / s.width * stride + p % s.width * 3],
                        Expected(s, p % s.width, p / s.width, frames[i]).data(), 3);
        EXPECT_EQ(chunks[i].id + ":" + std::to_string(chunks[i].flags) + ":" + chunks[i].data,
                  "00db:16:" + want)
            << "chunk " << i << " holding frame " << frames[i];
    }
}

// The soft open-file limit lowered to this many descriptors beyond those open now, for a scope.
class FewDescriptors {
  public:
    explicit FewDescriptors(rlim_t more) {
        getrlimit(RLIMIT_NOFILE, &saved_);
        rlimit low = saved_;
        low.rlim_cur = static_cast<rlim_t>(std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                                         std::filesystem::directory_iterator{})) +
                       more;
        setrlimit(RLIMIT_NOFILE, &low);
    }
    ~FewDescriptors() { setrlimit(RLIMIT_NOFILE, &saved_); }

  private:
    rlimit saved_{};
};

std::string Sound(const std::string& path) {
    std::string sound;
    for (const auto& c : ReadChunks(path, "01wb")) sound += c.data;
    return sound;
}

}  // namespace

TEST_F(RenderTest, UncompressedFramesKeepEveryPixelOfEachFileInRowsPaddedToFourBytes) {
    ClipLayout plain, topDown, bgrx, words, palette, sounding;
    topDown.topDown = true, bgrx.bits = 32, words.bits = 16, palette.bits = 8, sounding.audio = true;
    ClipLayout second = sounding;
    second.bits = 16, second.topDown = true;
    // A later file is read in its own format and plays its own sound from its first frame.
    for (const auto& files : std::vector<std::vector<ClipLayout>>{
             {plain}, {topDown}, {bgrx}, {words}, {palette}, {sounding, second}}) {
        SCOPED_TRACE(std::to_string(files.size()) + " files, " + std::to_string(files.back().bits) + " bits");
        Project(files);
        const std::string out = dir.file("out.avi");
        boxes->answers.push_back(IDNO);
        ASSERT_EQ(Render(out), 1);
        const auto video = ReadChunks(out, "00db");
        const int32_t total = 6 * static_cast<int32_t>(files.size());
        ASSERT_EQ(video.size(), static_cast<size_t>(total));
        std::string sound;
        for (size_t f = 0; f < files.size(); f++) {
            ExpectFrames({video.begin() + 6 * f, video.begin() + 6 * (f + 1)}, files[f], {1, 2, 3, 4, 5, 6});
            sound += files[f].audio ? FrameAudio(1, 6) : "";
        }
        EXPECT_EQ(Sound(out), sound);
        AVIinfoRecord info{};
        ExpectHeaders(out, files[0], total, &info);
        EXPECT_EQ(std::pair(info.samplesPerSec, boxes->texts()),
                  std::pair(files[0].audio ? kAudioRate : 0, std::vector<std::string>{Complete(out)}));
        // What the main window was shown, in order; the offer to view the file was declined.
        std::vector<std::string> want{"Saving frame..."};
        if (files[0].audio) want.insert(want.begin(), "Preparing Audio");
        std::vector<std::pair<int32_t, int32_t>> steps;
        for (int32_t i = 0; i < total; i++) {
            want.push_back("Saving frame " + std::to_string(i) + "/" + std::to_string(total) + " to " + out +
                           " " + std::to_string(i + 1));
            steps.push_back({i, total});
        }
        want.push_back("Quillory");
        EXPECT_EQ(std::tuple(captions, progress, cursor, viewed.empty()),
                  std::tuple(want, steps, std::vector<bool>{true, false}, true));
    }
}

TEST_F(RenderTest, TheClosingMessageOffersTheFolderAndTheEndIsToldWithTheFileAndItsSize) {
    Project({ClipLayout{}});
    const std::string out = dir.file("shown.avi");
    boxes->answers = {kIdBoxButton};
    ASSERT_EQ(Render(out), 1);
    using Texts = std::vector<std::string>;
    EXPECT_EQ(std::tuple(boxes->buttonsShown, shownInFolder, viewed, ended),
              std::tuple(Texts{"Show in Folder"}, Texts{out}, Texts{},
                         Texts{"Render finished: shown.avi, 0.0 MB"}));
}

TEST_F(RenderTest, StoredGapsRepeatTheFrameBefore) {
    // A frame stored empty repeats the picture before it, with its own sound; a first frame stored
    // empty has none to repeat: it is reported and left out with its sound.
    ClipLayout s;
    s.audio = true, s.empty = {1, 4};
    Project({s});
    const std::string out = dir.file("gaps.avi");
    ASSERT_EQ(Render(out), 1);
    ASSERT_EQ(boxes->shown.size(), 2u);
    EXPECT_EQ(boxes->texts()[0].rfind("failed to get data for frame 0 (", 0), 0u) << boxes->texts()[0];
    EXPECT_EQ(std::pair(boxes->texts()[1], viewed), std::pair(Complete(out), std::vector<std::string>{out}));
    const auto chunks = ReadChunks(out);
    std::vector<OutChunk> sound, video;
    for (size_t i = 0; i < chunks.size(); i++) (i % 2 ? video : sound).push_back(chunks[i]);
    ExpectFrames(video, s, {2, 3, 3, 5, 6});
    for (size_t i = 0; i < sound.size(); i++) {
        const int32_t n = static_cast<int32_t>(i) + 2;
        EXPECT_EQ(sound[i].id + ":" + std::to_string(sound[i].flags) + ":" + sound[i].data,
                  "01wb:0:" + FrameAudio(n, n));
    }
    AVIinfoRecord info{};
    ExpectHeaders(out, s, 5, &info);
    EXPECT_EQ(info.audioLength, static_cast<int32_t>(FrameAudio(2, 6).size()));
}

TEST_F(RenderTest, AProjectWithNothingToRenderMakesNoFile) {
    // Every frame inactive or dropped: nothing is asked, nothing is written.
    ClipLayout s;
    Project({s});
    const std::string out = dir.file("gaps.avi"), kept(100000, 'x');
    WriteWholeFile(out, kept);
    for (uint32_t type : {kRevInactivate, kRevDrop}) {
        boxes->shown.clear();
        AddRevision(type, 1, 6, nullptr);
        EXPECT_EQ(Render(out), 0);
        dialogs->answers.clear();
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"There is nothing to render: every frame of the "
                                                           "project is dropped or inactive"});
        EXPECT_EQ(ReadWholeFile(out), kept);
        UndoLastRevision();
    }
    EXPECT_TRUE(dialogs->requests.empty() && cursor.empty());
    // Every frame stored empty: nothing could be rendered, so no file is made.
    s.empty = {1, 2, 3, 4, 5, 6};
    Project({s});
    const std::string none = dir.file("none.avi");
    EXPECT_EQ(
        (std::tuple{Render(none), boxes->texts().back(), std::filesystem::exists(none)}),
        std::tuple(0, std::string("No frame of the project could be rendered\nNo file was made"), false));
}

TEST_F(RenderTest, EscapeAfterTenFramesLeavesAWholeTenFrameFileOnlyWhereNoneWas) {
    ClipLayout s;
    s.frames = 14, s.audio = true;
    Project({s});
    // The first pump follows the file dialog; the 12th comes before the 11th frame.
    pump->beforeEachPump = [](ScriptedPump& p) {
        if (p.pumps == 12) p.escape();
    };
    const std::string out = dir.file("escape.avi");
    EXPECT_EQ(Render(out), 0);
    ExpectFrames(ReadChunks(out, "00db"), s, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(Sound(out), FrameAudio(1, 10));
    ExpectHeaders(out, s, 10);
    EXPECT_EQ(boxes->texts(),
              std::vector<std::string>{"The render was cancelled\nThe file holds the 10 frames "
                                       "written before that"});
    // Nothing told the desktop: the user was there to cancel it.
    EXPECT_EQ(std::tuple(progress.size(), ended.empty(), captions.back(), cursor),
              std::tuple(size_t{11}, true, std::string("Quillory"), std::vector<bool>{true, false}));
    // Stopped again over that file: it stays as it was.
    const std::string before = ReadWholeFile(out);
    boxes->shown.clear();
    pump->pumps = 0;
    EXPECT_EQ((std::pair{Render(out), ReadWholeFile(out)}), std::pair(0, before));
    EXPECT_EQ(boxes->texts(),
              std::vector<std::string>{"The render was cancelled\nThe render stopped after frame "
                                       "10\n" +
                                       out + " was left as it was"});
}

TEST_F(RenderTest, RefusalsBeforeTheFileLeaveNothingBehind) {
    Project({ClipLayout{}});
    std::strcpy(gSettings.LastSaveAVIfileName, "/videos/old/last.avi");
    const std::string out = dir.file("refused.avi");
    // Cancelling the file dialog, which starts from the last name.
    EXPECT_EQ(RenderProjectToAVI(nullptr), 0);
    ASSERT_EQ(dialogs->requests.size(), 1u);
    EXPECT_EQ(dialogs->requests[0].initialDir + " " + dialogs->requests[0].initialName,
              "/videos/old /videos/old/last.avi");
    EXPECT_STREQ(gSettings.LastSaveAVIfileName, "/videos/old/last.avi");
    // Cancelling the compressor dialog: no message, no file.
    Choose("QQQQ");
    EXPECT_EQ(Render(out), 0);
    EXPECT_TRUE(boxes->shown.empty() && captions.empty() && !std::filesystem::exists(out));
    // An output folder that does not exist: the writer's message, then the render's; the chosen
    // compressor is ended and the caption restored.
    Choose("MJPG");
    const std::string nowhere = dir.file("no/such/folder.avi");
    EXPECT_EQ(Render(nowhere), 0);
    ASSERT_EQ(boxes->shown.size(), 2u);
    EXPECT_EQ(boxes->texts()[1],
              "failed to open file for output: " + nowhere + "\nNo such file or directory");
    EXPECT_EQ(std::pair(captions, CurrentCompressor() == nullptr),
              std::pair(std::vector<std::string>{"Quillory"}, true));
    // Frames no decoder can read: stopped before any file exists.
    ClipLayout unknown;
    unknown.compression = FourCC("ZZZZ");
    Project({unknown});
    EXPECT_EQ((std::tuple{Render(out), boxes->texts(), captions.size() + cursor.size(),
                          std::filesystem::exists(out)}),
              std::tuple(0, std::vector<std::string>{"ICLocate failed"}, size_t{0}, false));
    // A name without an extension gets ".AVI", and is remembered so.
    Project({ClipLayout{}});
    Choose("none");
    ASSERT_EQ(Render(dir.file("plain")), 1);
    EXPECT_EQ(gSettings.LastSaveAVIfileName, dir.file("plain.AVI"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("plain.AVI")) &&
                !std::filesystem::exists(dir.file("plain")));
}

TEST_F(RenderTest, AFailingDiskNeverCostsTheOldFileAndLeavesWhatPlaysWhereNoneWas) {
    ClipLayout s;
    s.frames = 14, s.audio = true;
    Project({s});
    const std::string out = dir.file("disk.avi"), old = dir.file("old.avi");
    const std::string oldBytes(5000, 'o');
    WriteWholeFile(old, oldBytes);
    const std::string reason = "Couldn't write " + out + "\n";
    auto entries = [this] {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            names.insert(e.path().filename());
        return names;
    };
    const std::set<std::string> before = entries();
    // The headers and five frames with their sound fit before the write fails.
    const int64_t fiveFrames = static_cast<int64_t>(ReadWholeFile(dir.file("clip0.avi")).size()) / 3;
    auto expectKept = [&](const std::string& message) {
        AVIinfoRecord info{};
        ASSERT_EQ(ReadAVIInfo(out.c_str(), info), 1);
        const int32_t kept = info.totalFrames;
        EXPECT_GT(kept, 0);
        EXPECT_LT(kept, 14);
        std::vector<int32_t> frames(static_cast<size_t>(kept));
        std::iota(frames.begin(), frames.end(), 1);
        ExpectFrames(ReadChunks(out, "00db"), s, frames);
        EXPECT_EQ(boxes->texts(),
                  std::vector<std::string>{message + "\nThe file holds the " + std::to_string(kept) +
                                           " frames written before that"});
        boxes->shown.clear();
        std::filesystem::remove(out);
    };
    {
        SCOPED_TRACE("a write that fails once: the frames before it stay, as a whole file");
        SetDiskFault({.writeError = ENOSPC, .failAfterBytes = fiveFrames, .once = true});
        EXPECT_EQ(Render(out), 0);
        ClearDiskFault();
        expectKept(reason + "No space left on device");
        EXPECT_EQ(ended, std::vector<std::string>{"Render failed: disk.avi / No space left on device"});
    }
    {
        SCOPED_TRACE("the frames fit but their index does not: the frames that fit with theirs stay");
        ASSERT_EQ(Render(out), 1);
        const int64_t whole = static_cast<int64_t>(ReadWholeFile(out).size());
        std::filesystem::remove(out);
        boxes->shown.clear();
        SetDiskFault({.writeError = ENOSPC, .failAfterBytes = whole - 40});
        EXPECT_EQ(Render(out), 0);
        ClearDiskFault();
        expectKept(reason + "No space left on device");
    }
    {
        SCOPED_TRACE("an existing file stays byte for byte, whatever stopped the render");
        for (const DiskFault& fault : {DiskFault{ENOSPC, fiveFrames, true}, DiskFault{.syncError = EIO},
                                       DiskFault{.renameError = EROFS}}) {
            SetDiskFault(fault);
            EXPECT_EQ(Render(old), 0);
            ClearDiskFault();
            EXPECT_EQ(ReadWholeFile(old), oldBytes);
            ASSERT_EQ(boxes->shown.size(), 1u);
            const std::string text = boxes->texts()[0];
            EXPECT_EQ(text.rfind("Couldn't write " + old + "\n", 0), 0u) << text;
            EXPECT_EQ(text.substr(text.rfind('\n') + 1), old + " was left as it was");
            boxes->shown.clear();
        }
    }
    for (const auto& [fault, why] :
         {std::pair<DiskFault, std::string>{{EIO, fiveFrames}, "Input/output error"},
          {{.syncError = EIO}, "Input/output error"}}) {
        SCOPED_TRACE("a disk that keeps failing, or a flush that fails: no file is made");
        SetDiskFault(fault);
        EXPECT_EQ(Render(out), 0);
        ClearDiskFault();
        EXPECT_FALSE(std::filesystem::exists(out));
        ASSERT_EQ(boxes->shown.size(), 1u);
        const std::string text = boxes->texts()[0];
        EXPECT_EQ(std::pair(text.rfind(reason + why + "\nThe render stopped after frame ", 0),
                            text.substr(text.rfind('\n'))),
                  std::pair(size_t{0}, std::string("\nNo file was made")));
        boxes->shown.clear();
    }
    {
        SCOPED_TRACE("not even the headers: nothing is left");
        SetDiskFault({.writeError = ENOSPC, .failAfterBytes = 100});
        EXPECT_EQ(Render(out), 0);
        ClearDiskFault();
        EXPECT_FALSE(std::filesystem::exists(out));
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"failed to open file for output: " + out +
                                                           "\nNo space left on device"});
        boxes->shown.clear();
    }
    EXPECT_EQ(entries(), before);  // nothing left beside the files
    ASSERT_EQ(Render(old), 1);     // the next render works
    ExpectHeaders(old, s, 14);
}

TEST_F(RenderTest, AnOutputThatIsOneOfTheProjectsOwnFilesIsRefusedBeforeAnythingIsTouched) {
    ClipLayout s;
    Project({s, s});
    const std::string clip = dir.file("clip1.avi"), picture = dir.file("under.bmp"),
                      project = dir.file("p.cgp");
    WriteWholeFile(picture, crafted::Bmp({.width = 5, .height = 3}));
    WriteWholeFile(project, "Corvane Project 00\n");
    std::strncpy(gSettings.ProjectFileName, project.c_str(), sizeof gSettings.ProjectFileName - 1);
    UnderlayRecord* u = NewUnderlayRecord();
    std::strncpy(u->fileName, picture.c_str(), sizeof u->fileName - 1);
    AddRevision(kRevUnderlay, 2, 3, u);
    ASSERT_EQ(symlink(clip.c_str(), dir.file("link.avi").c_str()), 0);
    ASSERT_EQ(link(picture.c_str(), dir.file("hard.avi").c_str()), 0);
    const std::string clipBytes = ReadWholeFile(clip), pictureBytes = ReadWholeFile(picture);
    auto scripted = Choose("none");
    for (const auto& [output, why] : std::vector<std::pair<std::string, std::string>>{
             {clip, "it is a clip of this project"},
             {dir.file("link.avi"), "it is " + clip + ", a clip of this project"},
             {dir.file("hard.avi"), "it is " + picture + ", an underlay picture of this project"},
             {project, "it is the project file"}}) {
        SCOPED_TRACE(output);
        boxes->shown.clear();
        std::string reason;
        EXPECT_EQ(
            (std::tuple{Render(output), boxes->texts(), WriteProjectFrame(1, output, &reason), reason}),
            std::tuple(0, std::vector<std::string>{"Can't render to " + output + ": " + why}, false, why));
    }
    EXPECT_TRUE(scripted->offered.empty()) << "the compressor was asked for";
    EXPECT_EQ(std::tuple(ReadWholeFile(clip), ReadWholeFile(picture), ReadWholeFile(project)),
              std::tuple(clipBytes, pictureBytes, std::string("Corvane Project 00\n")));
    // Any other name is written.
    std::string reason;
    EXPECT_TRUE(WriteProjectFrame(1, dir.file("frame.bmp"), &reason)) << reason;
    EXPECT_EQ(ReadWholeFile(dir.file("frame.bmp")).size(), 54u + 16 * 3);
    ASSERT_EQ(Render(dir.file("other.avi")), 1);
}

TEST_F(RenderTest, AFrameThatCannotBeCompressedRepeatsTheFrameBefore) {
    FakeDriver& fail = InstallFake(0, "FAIL");
    fail.failFrames = {1, 3};
    ClipLayout s;
    s.audio = true;
    Project({s});
    Choose("FAIL");
    const std::string out = dir.file("fail.avi");
    ASSERT_EQ(Render(out), 1);
    EXPECT_EQ(fail.calls[ICM_COMPRESS], 2 * 2 + 4) << "each failed frame is tried twice";
    // Frame 1 has nothing to repeat: left out with its sound. Frame 3 is an empty repeat of frame 2,
    // so the index and the data agree.
    std::vector<std::string> video;
    for (const auto& c : ReadChunks(out))
        if (c.id != "01wb")
            video.push_back(c.id + ":" + std::to_string(c.data.size()) + ":" + std::to_string(c.flags));
    EXPECT_EQ(video,
              (std::vector<std::string>{"00dc:10:16", "00db:0:0", "00dc:10:16", "00dc:10:16", "00dc:10:16"}));
    EXPECT_EQ(Sound(out), FrameAudio(2, 6));
    AVIinfoRecord info{};
    ASSERT_EQ(ReadAVIInfo(out.c_str(), info), 1);
    EXPECT_EQ(std::pair(info.totalFrames, info.compression), std::pair(5, FourCC("FAIL")));
}

TEST_F(RenderTest, AnUnderlayWithColourRangesIsKeyedByThem) {
    // Frames 2-3 underlaid with a picture of the clip's size. Ranges that take in every colour put
    // the picture in everywhere; without ranges only saturated blue is keyed, which the clip lacks.
    const std::string picture = crafted::Bmp({.width = 5, .height = 3});
    WriteWholeFile(dir.file("under.bmp"), picture);
    ClipLayout s;
    for (bool ranges : {true, false}) {
        SCOPED_TRACE(ranges ? "ranges" : "fixed key");
        Project({s});
        UnderlayRecord* u = NewUnderlayRecord();
        std::strncpy(u->fileName, dir.file("under.bmp").c_str(), sizeof u->fileName - 1);
        if (ranges) {
            u->ranges = NewColourRange();
            *u->ranges = ColourRange{nullptr, 0, 100, -100, 100, -100, 100};
        }
        AddRevision(kRevUnderlay, 2, 3, u);
        gSettings.smooth = 0;
        const std::string out = dir.file("keyed.avi");
        ASSERT_EQ(Render(out), 1);
        auto video = ReadChunks(out, "00db");
        ASSERT_EQ(video.size(), 6u);
        for (size_t i : {1, 2}) EXPECT_EQ(video[i].data == picture.substr(54), ranges);
        video.erase(video.begin() + 1, video.begin() + (ranges ? 3 : 1));
        ExpectFrames(video, s, ranges ? std::vector{1, 4, 5, 6} : std::vector{1, 2, 3, 4, 5, 6});
    }
}

TEST_F(RenderTest, ClipsAreOpenedOnDemandAndOneThatCannotBeStopsTheRenderNamingIt) {
    ClipLayout s;
    s.frames = 2;
    constexpr int32_t kClips = 150;
    const std::string out = dir.file("many.avi");
    auto clipFrames = [](int32_t clips) {
        std::vector<int32_t> frames;
        for (int32_t c = 0; c < clips; c++) frames.insert(frames.end(), {1, 2});
        return frames;
    };
    {
        SCOPED_TRACE("150 clips with room for 20 more descriptors: every clip loads, every frame renders");
        FewDescriptors limit(20);
        Project(std::vector<ClipLayout>(kClips, s));
        EXPECT_EQ(gProject.fileCount, kClips);
        EXPECT_LE(OpenClipCount(), kMaxOpenClips);
        ASSERT_EQ(Render(out), 1);
        ExpectFrames(ReadChunks(out, "00db"), s, clipFrames(kClips));
        EXPECT_LE(OpenClipCount(), kMaxOpenClips);
    }
    const std::string stopped = "\nThe render stopped there\nThe file holds the ";
    {
        SCOPED_TRACE("a clip removed since it was loaded: the frames before it, and its name and why");
        boxes->shown.clear();
        std::filesystem::remove(out);  // a stopped render takes only a free name
        std::filesystem::remove(dir.file("clip10.avi"));
        EXPECT_EQ(Render(out), 0);
        ExpectFrames(ReadChunks(out, "00db"), s, clipFrames(10));
        EXPECT_EQ(boxes->texts(), std::vector<std::string>{"Failed to open file <" + dir.file("clip10.avi") +
                                                           ">\nNo such file or directory" + stopped +
                                                           "20 frames written before that"});
    }
    {
        SCOPED_TRACE("a clip written anew is another file: it is not read with the index of the one loaded");
        boxes->shown.clear();
        std::filesystem::remove(out);
        WriteClip(dir.file("clip10.avi"), s);
        const std::string changed =
            "Failed to open file <" + dir.file("clip10.avi") + ">\nthe file has changed since it was opened";
        EXPECT_EQ(Render(out), 0);
        ExpectFrames(ReadChunks(out, "00db"), s, clipFrames(10));
        EXPECT_EQ(boxes->texts(),
                  std::vector<std::string>{changed + stopped + "20 frames written before that"});
        // A single frame says the same.
        boxes->shown.clear();
        FrameComposer composer;
        ASSERT_EQ(composer.Open(gProject.head, s.width, s.height), 1);
        EXPECT_EQ((std::pair{composer.Compose(21, {}), boxes->texts()}),
                  std::pair(false, std::vector<std::string>{changed}));
    }
}
