// Renders of clips made by ffmpeg, read back by ffprobe and ffmpeg: Motion JPEG with 8-bit sound,
// uncompressed rows stored top-down with 16-bit stereo, and Microsoft Video 1 with delta frames,
// each with an inactive range, a drop range, a title and an underlay.
#include <gtest/gtest.h>

#include <cstdlib>

#include "render_support.h"

using namespace render_test;
using media_test::Probe;
using media_test::ProbeStream;
using media_test::Quote;
using media_test::Shell;
using media_test::TestData;

namespace {

// Decoded pictures, top row first, as ffmpeg gives them (one per non-empty video chunk).
struct Pictures {
    int32_t width = 0, height = 0;
    std::vector<std::string> frames;

    Bgr at(size_t frame, int32_t x, int32_t top) const {
        const char* p = frames[frame].data() + (static_cast<size_t>(top) * width + x) * 3;
        return {static_cast<uint8_t>(p[0]), static_cast<uint8_t>(p[1]), static_cast<uint8_t>(p[2])};
    }
};

Pictures Decode(const std::string& file, int32_t width, int32_t height) {
    Pictures p{width, height, {}};
    const std::string raw = Shell("ffmpeg -nostdin -v error -i " + Quote(file) +
                                  " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -");
    const size_t size = static_cast<size_t>(width) * height * 3;
    for (size_t at = 0; at + size <= raw.size(); at += size) p.frames.push_back(raw.substr(at, size));
    return p;
}

int Diff(const Bgr& a, const Bgr& b) {
    return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
}
bool Near(const Bgr& a, const Bgr& b, int tolerance) {
    for (int i = 0; i < 3; i++)
        if (std::abs(a[i] - b[i]) > tolerance) return false;
    return true;
}
// Pixels the render keys for certain, and pixels near enough to the key that another decoder of
// the same stream may put them either side of it.
bool Keyed(const Bgr& p) {
    return p[0] > 215 && p[1] < 35 && p[2] < 35;
}
bool NearKey(const Bgr& p) {
    return p[0] > 185 && p[1] < 65 && p[2] < 65;
}

// Where a title's text lies (top row first), from the placement rules and the measured extents.
struct Box {
    int32_t left, top, right, bottom;  // right and bottom exclusive
    bool contains(int32_t x, int32_t y, int32_t margin) const {
        return x >= left - margin && x < right + margin && y >= top - margin && y < bottom + margin;
    }
};

Box TitleBox(const TitleRecord* t, int32_t width, int32_t height) {
    HDC screen = GetDC(nullptr);
    HDC dc = CreateCompatibleDC(screen);
    LOGFONTA lf{};
    lf.lfHeight = t->height;
    lf.lfWeight = t->weight;
    std::memcpy(lf.lfFaceName, t->faceName, sizeof lf.lfFaceName - 1);
    HFONT font = CreateFontIndirectA(&lf);
    HGDIOBJ old = SelectObject(dc, font);
    const std::string text = t->text;
    const int32_t lineHeight =
        static_cast<int32_t>(MyGetTextExtent(dc, text.c_str(), static_cast<int>(text.size())) >> 16);
    int32_t widest = 0, lines = 0;
    for (size_t start = 0; start <= text.size(); lines++) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        widest = std::max<int32_t>(
            widest, MyGetTextExtent(dc, text.c_str() + start, static_cast<int>(end - start)) & 0xFFFF);
        start = end + 1;
    }
    SelectObject(dc, old);
    DeleteObject(font);
    DeleteDC(dc);
    ReleaseDC(nullptr, screen);

    const int32_t textHeight = lineHeight * lines;
    const int32_t x = t->horizontal == 1 ? width / 20 : t->horizontal == 2 ? width - width / 20 : width / 2;
    const int32_t y = t->vertical == 1   ? height / 20
                      : t->vertical == 2 ? height - textHeight - height / 20
                                         : (height - textHeight) / 2;
    const int32_t left = t->horizontal == 1 ? x : t->horizontal == 2 ? x - widest : x - widest / 2;
    return {left, y, left + widest, y + textHeight};
}

inline TitleRecord* Title(const std::string& text, uint32_t colour, int32_t vertical, int32_t horizontal,
                          int32_t height) {
    TitleRecord* t = NewTitleRecord();
    t->text = static_cast<char*>(MyCalloc(static_cast<uint32_t>(text.size() + 1), 1));
    std::memcpy(t->text, text.data(), text.size());
    t->colour = colour;
    t->vertical = vertical;
    t->horizontal = horizontal;
    t->height = height;
    t->weight = FW_BOLD;
    std::strncpy(t->faceName, "Arial", sizeof t->faceName - 1);
    return t;
}

inline UnderlayRecord* Underlay(const std::string& file) {
    UnderlayRecord* u = NewUnderlayRecord();
    std::strncpy(u->fileName, file.c_str(), sizeof u->fileName - 1);
    return u;
}

// One render of an ffmpeg clip and what it must come to.
struct Case {
    std::string clip;
    std::string codec;
    std::string tag;  // codec_tag_string as ffprobe reports it
    int32_t width, height, frames;
    int32_t sampleRate, sampleBytes;  // 0: no sound
    std::pair<int32_t, int32_t> inactive, drop, title, underlay;
    TitleRecord* record;
    int changedBy;  // a decoded pixel differs from the source by more than this sum when it changed
    int margin;     // how far changes may bleed past the title's text (compression blocks)
};

}  // namespace

class RenderFromFfmpeg : public RenderTest {
  protected:
    void Run(const Case& c) {
        SCOPED_TRACE(c.clip);
        ResetProjectForTests();
        Forget();
        const std::string source = TestData(c.clip);
        ASSERT_TRUE(AppendAVIToProject(nullptr, source.c_str())) << source;
        ASSERT_EQ(gProject.totalFrames, c.frames);
        AddRevision(kRevInactivate, c.inactive.first, c.inactive.second, nullptr);
        AddRevision(kRevDrop, c.drop.first, c.drop.second, nullptr);
        AddRevision(kRevTitle, c.title.first, c.title.second, c.record);
        AddRevision(kRevUnderlay, c.underlay.first, c.underlay.second,
                    Underlay(TestData("render_under.bmp")));
        Choose(c.codec, 100);
        const std::string out = dir.file(c.clip);
        ASSERT_EQ(Render(out), 1);
        const Box box = TitleBox(c.record, c.width, c.height);

        // The frames written: the active ones, a drop only after a real frame.
        auto in = [](int32_t n, std::pair<int32_t, int32_t> r) { return n >= r.first && n <= r.second; };
        std::vector<int32_t> written, shown;
        int64_t soundBytes = 0;
        for (int32_t n = 1; n <= c.frames; n++) {
            if (in(n, c.inactive) || (in(n, c.drop) && written.empty())) continue;
            written.push_back(n);
            if (!in(n, c.drop)) shown.push_back(n);
            soundBytes += (FrameEnd(n, c.sampleRate) - FrameEnd(n - 1, c.sampleRate)) * c.sampleBytes;
        }

        // ffprobe's view: tag, size, frame count; the sound of exactly the written frames.
        auto video = ProbeStream(out, "v:0");
        EXPECT_EQ(video["codec_tag_string"], c.tag);
        EXPECT_EQ(video["width"], std::to_string(c.width));
        EXPECT_EQ(video["height"], std::to_string(c.height));
        EXPECT_EQ(video["nb_frames"], std::to_string(written.size()));
        int64_t probed = 0;
        int streams = 0;
        for (auto& [k, v] : Probe(out, "-select_streams a:0 -show_entries packet=size"))
            if (k == "size") probed += std::stoll(v);
        for (auto& [k, v] : Probe(out, "-show_entries stream=index"))
            if (k == "index") streams++;
        EXPECT_EQ(probed, soundBytes);
        EXPECT_EQ(streams, c.sampleRate ? 2 : 1);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + Quote(out) + " -f null - 2>&1"), "");

        // Our own view of the chunks: drops are empty "00db" chunks.
        const auto chunks = ReadChunks(out);
        std::vector<size_t> sizes;
        for (const auto& ch : chunks)
            if (ch.id != "01wb") sizes.push_back(ch.data.size());
        ASSERT_EQ(sizes.size(), written.size());
        for (size_t i = 0; i < written.size(); i++)
            EXPECT_EQ(sizes[i] == 0, in(written[i], c.drop)) << written[i];

        // The pictures, beside ffmpeg's own decode of the source.
        const Pictures got = Decode(out, c.width, c.height);
        const Pictures src = Decode(source, c.width, c.height);
        ASSERT_EQ(got.frames.size(), shown.size());
        ASSERT_EQ(src.frames.size(), static_cast<size_t>(c.frames));
        int titlePixels = 0, underlayPixels = 0;
        const Bgr titleColour{static_cast<uint8_t>(c.record->colour >> 16),
                              static_cast<uint8_t>(c.record->colour >> 8),
                              static_cast<uint8_t>(c.record->colour)};
        for (size_t f = 0; f < shown.size(); f++) {
            const int32_t n = shown[f];
            const size_t k = static_cast<size_t>(n) - 1;
            SCOPED_TRACE("frame " + std::to_string(n));
            const bool titled = in(n, c.title), underlaid = in(n, c.underlay);
            // Where the overlays may reach: the title's place, and pixels near the key colour
            // (decoders differ a little near its thresholds), each widened by the margin.
            std::vector<char> reach(static_cast<size_t>(c.width) * c.height, 0);
            for (int32_t y = 0; y < c.height; y++)
                for (int32_t x = 0; x < c.width; x++) {
                    const bool nearKey = underlaid && NearKey(src.at(k, x, y));
                    if (!nearKey && !(titled && box.contains(x, y, 0))) continue;
                    for (int32_t v = std::max(0, y - c.margin); v <= std::min(c.height - 1, y + c.margin);
                         v++)
                        for (int32_t u = std::max(0, x - c.margin); u <= std::min(c.width - 1, x + c.margin);
                             u++)
                            reach[static_cast<size_t>(v) * c.width + u] = 1;
                }
            int wrong = 0;
            for (int32_t y = 0; y < c.height && wrong < 5; y++)
                for (int32_t x = 0; x < c.width && wrong < 5; x++) {
                    const Bgr was = src.at(k, x, y), now = got.at(f, x, y);
                    if (titled && box.contains(x, y, c.margin)) {
                        titlePixels += Near(now, titleColour, 40);
                    } else if (underlaid && Keyed(was)) {
                        underlayPixels++;
                        if (!Near(now, Bgr{0x20, 0x40, 0x80}, 48) && ++wrong)
                            ADD_FAILURE() << "no underlay at " << x << "," << y;
                    } else if (!reach[static_cast<size_t>(y) * c.width + x] && Diff(now, was) > c.changedBy &&
                               ++wrong) {
                        ADD_FAILURE() << "changed at " << x << "," << y << " (" << Diff(now, was) << ")";
                    }
                }
        }
        EXPECT_GT(titlePixels, 100) << "the title's colour shows where its text belongs";
        EXPECT_GT(underlayPixels, 100) << "keyed pixels of the underlaid frames";
    }
};

TEST_F(RenderFromFfmpeg, RendersReadBackInFfmpegWithTheirFramesSoundAndOverlays) {
    // Motion JPEG with 8-bit sound, re-encoded: a title top left, a leading run of real frames.
    Run(Case{"render_mjpeg_u8.avi",
             "MJPG",
             "MJPG",
             160,
             120,
             30,
             11025,
             1,
             {5, 8},
             {12, 14},
             {3, 20},
             {16, 25},
             Title("HELLO", RGB(255, 0, 0), 1, 1, -20),
             90,
             16});
    // Rows stored top-down, 90 pixels wide, kept uncompressed: exact pixels. The drop range starts
    // the project, so its frame is not written at all.
    Run(Case{"render_bgr24_s16.avi",
             "none",
             "[0][0][0][0]",
             90,
             60,
             21,
             22050,
             4,
             {2, 3},
             {1, 1},
             {5, 15},
             {12, 18},
             Title("Hi\nthere", RGB(0, 255, 0), 2, 2, -14),
             0,
             1});
    // Delta frames after an inactive stretch must be decoded from their key frame; lossless output.
    Run(Case{"render_msvideo1.avi",
             "FFV1",
             "FFV1",
             160,
             120,
             30,
             0,
             0,
             {4, 13},
             {20, 21},
             {22, 25},
             {26, 28},
             Title("Quill", RGB(255, 255, 0), 0, 0, -24),
             24,
             1});
}
