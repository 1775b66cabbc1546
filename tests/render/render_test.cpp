// The render on crafted clips: every pixel and audio byte of the written file is checked against
// what the clip stores and what the revisions ask for.
#include "render/render.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "media/riff.h"
#include "render/compose.h"
#include "render_support.h"

using namespace render_test;

namespace {

const std::string kComplete = "Record to AVI file complete - size = ";
const std::string kViewQuestion = " bytes\nWould you like to view the file?";

int64_t FileSize(const std::string& path) {
    return static_cast<int64_t>(ReadWholeFile(path).size());
}

// The file reads back with this many frames of the clip's size, 24 bits a pixel.
void ExpectHeaders(const std::string& path, const ClipLayout& s, int32_t frames) {
    ASSERT_EQ(ReadAVIInfo(path.c_str()), 1);
    EXPECT_EQ(AVIinfo.totalFrames, frames);
    EXPECT_EQ(AVIinfo.width, s.width);
    EXPECT_EQ(AVIinfo.height, s.height);
    EXPECT_EQ(AVIinfo.bitCount, 24);
    EXPECT_FALSE(AVIinfo.topDown);
}

// Checks an uncompressed chunk pixel by pixel against frame k of the clip, padding included.
void ExpectFrame(const OutChunk& c, const ClipLayout& s, int32_t k) {
    const int64_t stride = DibRowBytes(s.width, 24);
    ASSERT_EQ(c.id, "00db");
    ASSERT_EQ(static_cast<int64_t>(c.data.size()), stride * s.height);
    EXPECT_EQ(c.flags, 0x10u);
    for (int32_t y = 0; y < s.height; y++) {
        for (int32_t x = 0; x < s.width; x++) {
            const Bgr want = Expected(s, x, y, k);
            EXPECT_EQ(std::memcmp(c.data.data() + y * stride + 3 * x, want.data(), 3), 0)
                << "frame " << k << " pixel " << x << "," << y;
        }
        for (int64_t b = s.width * 3; b < stride; b++) EXPECT_EQ(c.data[y * stride + b], 0) << "padding";
    }
}

}  // namespace

TEST_F(RenderTest, UncompressedFramesKeepEveryPixelInRowsPaddedToFourBytes) {
    ClipLayout bottomUp;
    ClipLayout topDown;
    topDown.topDown = true;
    ClipLayout bgrx;
    bgrx.bits = 32;
    ClipLayout words;
    words.bits = 16;
    ClipLayout palette;
    palette.bits = 8;
    int run = 0;
    for (const ClipLayout& s : {bottomUp, topDown, bgrx, words, palette}) {
        SCOPED_TRACE("bits " + std::to_string(s.bits) + (s.topDown ? " top-down" : ""));
        ResetProjectForTests();
        Forget();
        const std::string out = dir.file("out" + std::to_string(run++) + ".avi");
        Project(s, "clip" + std::to_string(run) + ".avi");
        boxes->answers.push_back(IDNO);
        ASSERT_EQ(Render(out), 1);

        const auto chunks = ReadChunks(out);
        ASSERT_EQ(chunks.size(), static_cast<size_t>(s.frames));
        for (int32_t k = 1; k <= s.frames; k++) ExpectFrame(chunks[static_cast<size_t>(k) - 1], s, k);
        ExpectHeaders(out, s, s.frames);
        EXPECT_EQ(AVIinfo.compression, BI_RGB);
        EXPECT_EQ(AVIinfo.samplesPerSec, 0) << "a clip without sound gives a one-stream file";
        EXPECT_EQ(boxes->texts(),
                  std::vector<std::string>{kComplete + std::to_string(FileSize(out)) + kViewQuestion});

        // What the main window was shown, in order.
        std::vector<std::string> want{"Saving frame..."};
        for (int32_t i = 0; i < s.frames; i++)
            want.push_back("Saving frame " + std::to_string(i) + "/" + std::to_string(s.frames) + " to " +
                           out + " " + std::to_string(i + 1));
        want.push_back("Quillory");
        EXPECT_EQ(captions, want);
        ASSERT_EQ(progress.size(), static_cast<size_t>(s.frames));
        for (int32_t i = 0; i < s.frames; i++)
            EXPECT_EQ(progress[static_cast<size_t>(i)], std::make_pair(i, s.frames));
        EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
        EXPECT_TRUE(viewed.empty()) << "the offer to view the file was declined";
    }
}

TEST_F(RenderTest, FrameStatesDecideWhichFramesAndWhichSoundAreWritten) {
    ClipLayout s;
    s.frames = 10;
    s.audio = true;
    Project(s);
    // Leading drops have no frame to repeat; 4-5 are left out; 7 repeats 6.
    AddRevision(kRevDrop, 1, 2, nullptr);
    AddRevision(kRevInactivate, 4, 5, nullptr);
    AddRevision(kRevDrop, 7, 7, nullptr);
    boxes->answers.push_back(IDYES);
    const std::string out = dir.file("states.avi");
    ASSERT_EQ(Render(out), 1);

    const std::vector<int32_t> written{3, 6, 7, 8, 9, 10};
    const auto chunks = ReadChunks(out);
    // Each written frame: one chunk of exactly its sound, then its picture.
    size_t at = 0;
    std::string sound, want;
    for (int32_t n : written) {
        SCOPED_TRACE("frame " + std::to_string(n));
        ASSERT_LT(at + 1, chunks.size());
        ASSERT_EQ(chunks[at].id, "01wb");
        EXPECT_EQ(chunks[at].flags, 0u);
        EXPECT_EQ(chunks[at].data, FrameAudio(n));
        sound += chunks[at++].data;
        want += FrameAudio(n);
        if (n == 7) {
            EXPECT_EQ(chunks[at].id, "00db");
            EXPECT_TRUE(chunks[at].data.empty());
            EXPECT_EQ(chunks[at].flags, 0u);
        } else {
            ExpectFrame(chunks[at], s, n);
        }
        at++;
    }
    EXPECT_EQ(sound, want) << "every written frame keeps its own sound, no pad byte among it";
    EXPECT_EQ(at, chunks.size());
    ExpectHeaders(out, s, static_cast<int32_t>(written.size()));
    EXPECT_EQ(AVIinfo.samplesPerSec, kAudioRate);
    EXPECT_EQ(AVIinfo.audioLength, static_cast<int32_t>(sound.size()));
    EXPECT_EQ(viewed, std::vector<std::string>{out});
    EXPECT_TRUE(boxes->saw(kComplete + std::to_string(FileSize(out)) + kViewQuestion));
}

TEST_F(RenderTest, EscapeEndsTheFileEarlyAndLeavesItWhole) {
    ClipLayout s;
    s.frames = 14;
    s.audio = true;
    Project(s);
    // The first pump follows the file dialog; the 12th comes before the 11th frame.
    pump->beforeEachPump = [](ScriptedPump& p) {
        if (p.pumps == 12) p.escape();
    };
    const std::string out = dir.file("escape.avi");
    ASSERT_EQ(Render(out), 1);
    const auto video = Only(ReadChunks(out), "00db");
    ASSERT_EQ(video.size(), 10u);
    for (int32_t k = 1; k <= 10; k++) ExpectFrame(video[static_cast<size_t>(k) - 1], s, k);
    std::string sound;
    for (const auto& c : Only(ReadChunks(out), "01wb")) sound += c.data;
    std::string want;
    for (int32_t n = 1; n <= 10; n++) want += FrameAudio(n);
    EXPECT_EQ(sound, want);
    ExpectHeaders(out, s, 10);
    EXPECT_EQ(progress.size(), 11u);
    EXPECT_EQ(captions.back(), "Quillory");
    EXPECT_EQ(cursor, (std::vector<bool>{true, false}));
}

TEST_F(RenderTest, RefusalsBeforeTheFileLeaveNothingBehind) {
    ClipLayout s;
    Project(s);
    std::strcpy(gSettings.LastSaveAVIfileName, "/kept/as/it/was.avi");
    const std::string out = dir.file("refused.avi");

    // Cancelling the file dialog.
    EXPECT_EQ(RenderProjectToAVI(nullptr), 0);
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_TRUE(captions.empty());
    EXPECT_STREQ(gSettings.LastSaveAVIfileName, "/kept/as/it/was.avi");

    // Cancelling the compressor dialog: no message, no file.
    Choose("QQQQ");
    EXPECT_EQ(Render(out), 0);
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(CurrentCompressor(), nullptr);

    // An output folder that does not exist: the writer's message, then the render's; the chosen
    // compressor is ended and the caption restored.
    Choose("MJPG");
    Forget();
    const std::string nowhere = dir.file("no/such/folder.avi");
    EXPECT_EQ(Render(nowhere), 0);
    ASSERT_EQ(boxes->shown.size(), 2u);
    EXPECT_EQ(boxes->texts()[1], "failed to open file for output: " + nowhere);
    EXPECT_EQ(captions, std::vector<std::string>{"Quillory"});
    EXPECT_EQ(CurrentCompressor(), nullptr);

    // Frames no decoder can read: stopped before any file exists.
    ResetProjectForTests();
    Forget();
    ClipLayout unknown;
    unknown.compression = FourCC("ZZZZ");
    Project(unknown, "unknown.avi");
    EXPECT_EQ(Render(out), 0);
    EXPECT_EQ(boxes->texts(), std::vector<std::string>{"ICLocate failed"});
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_TRUE(captions.empty());
    EXPECT_TRUE(cursor.empty());
}

TEST_F(RenderTest, TheSaveDialogStartsFromTheLastNameAndTheNameGetsAnExtension) {
    ClipLayout s;
    Project(s);
    std::strcpy(gSettings.LastSaveAVIfileName, "/videos/old/last.avi");
    const std::string plain = dir.file("plain");
    ASSERT_EQ(Render(plain), 1);
    ASSERT_EQ(dialogs->requests.size(), 1u);
    const FileDialogRequest& r = dialogs->requests[0];
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.title, "Select Filename for AVI Save");
    EXPECT_EQ(r.filters, (std::vector<std::pair<std::string, std::string>>{{"AVI Files", "*.avi"},
                                                                           {"All Files", "*.*"}}));
    EXPECT_EQ(r.filterIndex, 1);
    EXPECT_EQ(r.initialDir, "/videos/old");
    EXPECT_EQ(r.initialName, "/videos/old/last.avi");
    EXPECT_EQ(r.flags, OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_LONGNAMES);
    EXPECT_EQ(r.maxLength, 200u);
    EXPECT_STREQ(gSettings.LastSaveAVIfileName, (plain + ".AVI").c_str());
    EXPECT_TRUE(std::filesystem::exists(plain + ".AVI"));
    EXPECT_FALSE(std::filesystem::exists(plain));
}

namespace {

// A compressor that fails every frame whose number is listed, on both attempts.
std::set<int32_t> gFailFrames;
int gCompressCalls = 0;

LRESULT FailingProc(DWORD_PTR, HDRVR, UINT msg, LPARAM l1, LPARAM l2) {
    switch (msg) {
        case DRV_OPEN:
        case DRV_CLOSE:
            return 1;
        case ICM_GETINFO: {
            auto* info = reinterpret_cast<ICINFO*>(l1);
            std::memset(info, 0, sizeof *info);
            info->dwSize = sizeof *info;
            info->fccType = ICTYPE_VIDEO;
            info->fccHandler = FourCC("FAIL");
            info->szDescription[0] = u'F';
            return sizeof *info;
        }
        case ICM_COMPRESS_QUERY:
        case ICM_COMPRESS_BEGIN:
        case ICM_COMPRESS_END:
            return ICERR_OK;
        case ICM_COMPRESS_GET_FORMAT: {
            auto* out = reinterpret_cast<BITMAPINFOHEADER*>(l2);
            if (!out) return sizeof(BITMAPINFOHEADER);
            *out = *reinterpret_cast<const BITMAPINFOHEADER*>(l1);
            out->biCompression = FourCC("FAIL");
            return ICERR_OK;
        }
        case ICM_COMPRESS: {
            auto* c = reinterpret_cast<ICCOMPRESS*>(l1);
            gCompressCalls++;
            if (gFailFrames.count(c->lFrameNum)) return ICERR_INTERNAL;
            std::memset(c->lpOutput, static_cast<int>(c->lFrameNum), 10);
            c->lpbiOutput->biSizeImage = 10;
            *c->lpckid = FourCC("00dc");
            *c->lpdwFlags = AVIIF_KEYFRAME;
            return ICERR_OK;
        }
        default:
            return ICERR_UNSUPPORTED;
    }
}

}  // namespace

TEST_F(RenderTest, AFrameThatCannotBeCompressedRepeatsTheFrameBefore) {
    ASSERT_TRUE(ICInstall(ICTYPE_VIDEO, FourCC("FAIL"), reinterpret_cast<LPARAM>(&FailingProc), nullptr,
                          ICINSTALL_FUNCTION));
    gFailFrames = {1, 3};
    gCompressCalls = 0;
    ClipLayout s;
    s.audio = true;
    Project(s);
    Choose("FAIL");
    LogCapture log;
    const std::string out = dir.file("fail.avi");
    ASSERT_EQ(Render(out), 1);
    EXPECT_EQ(gCompressCalls, 2 * 2 + 4) << "each failed frame is tried twice";
    EXPECT_TRUE(log.contains("CompOneFrame - frame failed again - error="));

    // Frame 1 has nothing to repeat: left out with its sound. Frame 3 repeats frame 2.
    const auto chunks = ReadChunks(out);
    std::vector<std::string> layout;
    std::string sound;
    for (const auto& c : chunks) {
        layout.push_back(c.id + ":" + std::to_string(c.data.size()) + ":" + std::to_string(c.flags));
        if (c.id == "01wb") sound += c.data;
    }
    std::vector<std::string> video;
    for (const auto& l : layout)
        if (l.rfind("01wb", 0) != 0) video.push_back(l);
    EXPECT_EQ(video,
              (std::vector<std::string>{"00dc:10:16", "00db:0:0", "00dc:10:16", "00dc:10:16", "00dc:10:16"}));
    std::string want;
    for (int32_t n = 2; n <= 6; n++) want += FrameAudio(n);
    EXPECT_EQ(sound, want);
    ASSERT_EQ(ReadAVIInfo(out.c_str()), 1);
    EXPECT_EQ(AVIinfo.totalFrames, 5);
    EXPECT_EQ(AVIinfo.compression, FourCC("FAIL"));
    gFailFrames.clear();
}

TEST_F(RenderTest, FramesWithoutStoredBytesAreReportedOrRepeated) {
    ClipLayout s;
    s.audio = true;
    s.empty = {1, 4};  // 1 has nothing before it; 4 is the file's own drop of 3
    Project(s);
    const std::string out = dir.file("empty.avi");
    ASSERT_EQ(Render(out), 1);
    const auto texts = boxes->texts();
    ASSERT_EQ(texts.size(), 2u) << ::testing::PrintToString(texts);
    EXPECT_EQ(texts[0].rfind("failed to get data for frame 0 (", 0), 0u) << texts[0];
    EXPECT_EQ(texts[0].substr(texts[0].size() - 3), " 0)");
    const auto video = Only(ReadChunks(out), "00db");
    ASSERT_EQ(video.size(), 5u);
    ExpectFrame(video[0], s, 2);
    ExpectFrame(video[1], s, 3);
    ExpectFrame(video[2], s, 3);
    ExpectFrame(video[3], s, 5);
    ExpectFrame(video[4], s, 6);
}

TEST_F(RenderTest, AProjectWithEveryFrameInactiveStillReplacesTheOldFile) {
    ClipLayout s;
    Project(s);
    AddRevision(kRevInactivate, 1, s.frames, nullptr);
    const std::string out = dir.file("old.avi");
    WriteWholeFile(out, std::string(100000, 'x'));
    ASSERT_EQ(Render(out), 1);
    EXPECT_LT(FileSize(out), 1000);
    ExpectHeaders(out, s, 0);
    EXPECT_TRUE(ReadChunks(out).empty());
}

TEST_F(RenderTest, EachFileOfTheProjectIsReadInItsOwnFormatWithItsOwnSound) {
    ClipLayout first;
    first.audio = true;
    ClipLayout second = first;
    second.bits = 16;
    second.topDown = true;
    Project(first, "first.avi");
    Project(second, "second.avi");
    ASSERT_EQ(gProject.fileCount, 2);
    const std::string out = dir.file("two.avi");
    ASSERT_EQ(Render(out), 1);
    const auto chunks = ReadChunks(out);
    const auto video = Only(chunks, "00db");
    ASSERT_EQ(video.size(), 12u);
    for (int32_t k = 1; k <= 6; k++) {
        ExpectFrame(video[static_cast<size_t>(k) - 1], first, k);
        ExpectFrame(video[static_cast<size_t>(k) + 5], second, k);
    }
    // The second file's sound starts with its own first frame.
    std::string sound, want;
    for (const auto& c : Only(chunks, "01wb")) sound += c.data;
    for (int32_t file = 0; file < 2; file++)
        for (int32_t k = 1; k <= 6; k++) want += FrameAudio(k);
    EXPECT_EQ(sound, want);
}
