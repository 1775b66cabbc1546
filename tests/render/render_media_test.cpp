// Renders of clips made by ffmpeg, read back by ffprobe and ffmpeg: Motion JPEG with 8-bit sound,
// uncompressed rows stored top-down with 16-bit stereo, and Microsoft Video 1 with delta frames,
// each with an inactive range, a drop range, a title and an underlay.
#include <gtest/gtest.h>

#include "render_support.h"
#include "support/ffprobe.h"

using namespace render_test;
using namespace media_test;

namespace {

// ffmpeg's decode of each non-empty video chunk as top-down bgr24 frames, and pixel (x, y from the
// top) of one of them.
std::vector<std::string> Decode(const std::string& file, int32_t width, int32_t height) {
    const std::string raw = Shell("ffmpeg -nostdin -v error -i " + Quote(file) +
                                  " -fps_mode passthrough -f rawvideo -pix_fmt bgr24 -");
    std::vector<std::string> frames;
    const size_t size = static_cast<size_t>(width) * height * 3;
    for (size_t at = 0; at + size <= raw.size(); at += size) frames.push_back(raw.substr(at, size));
    return frames;
}
Bgr At(const std::string& frame, int32_t width, int32_t x, int32_t y) {
    const auto* p = reinterpret_cast<const uint8_t*>(frame.data()) + (static_cast<size_t>(y) * width + x) * 3;
    return {p[0], p[1], p[2]};
}

// The largest difference of a channel. Keyed: pixels the render keys for certain; NearKey: pixels
// near enough to the key that another decoder of the same stream may put them either side of it.
int Diff(const Bgr& a, const Bgr& b) {
    return std::max({std::abs(a[0] - b[0]), std::abs(a[1] - b[1]), std::abs(a[2] - b[2])});
}
bool Keyed(const Bgr& p) {
    return p[0] > 215 && p[1] < 35 && p[2] < 35;
}
bool NearKey(const Bgr& p) {
    return p[0] > 185 && p[1] < 65 && p[2] < 65;
}

// Where a title's text lies, top row first (left, top, right, bottom; the last two exclusive), from
// the placement rules and the measured extents of its lines.
std::array<int32_t, 4> TitleBox(const TitleRecord* t, int32_t width, int32_t height) {
    TitleFont font(t);
    const std::string text = t->text;
    int32_t widest = 0, tall = 0;
    for (size_t start = 0, end = 0; start <= text.size(); start = end + 1) {
        end = std::min(text.find('\n', start), text.size());
        const uint32_t extent = font.Extent(text.substr(start, end - start));
        widest = std::max<int32_t>(widest, extent & 0xFFFF), tall += static_cast<int32_t>(extent >> 16);
    }
    const int32_t y = t->vertical == 1   ? height / 20
                      : t->vertical == 2 ? height - tall - height / 20
                                         : (height - tall) / 2;
    const int32_t x = t->horizontal == 1   ? width / 20
                      : t->horizontal == 2 ? width - width / 20 - widest
                                           : width / 2 - widest / 2;
    return {x, y, x + widest, y + tall};
}

// One render of an ffmpeg clip and what it must come to.
struct Case {
    const char *clip, *codec, *tag;  // tag: codec_tag_string as ffprobe reports it
    int32_t width, height, frames;
    int32_t sampleRate, sampleBytes;  // 0: no sound
    int32_t ranges[4][2];             // first and last frame inactive, dropped, titled, underlaid
    TitleRecord* title;
    int changedBy;  // a decoded pixel differs from the source by more than this when it changed
    int margin;     // how far changes may bleed past the title's text and the key (compression blocks)
};

}  // namespace

class RenderFromFfmpeg : public RenderTest {
  protected:
    void Run(const Case& c) {
        SCOPED_TRACE(c.clip);
        ResetProjectForTests();
        const std::string source = TestData(c.clip), out = dir.file(c.clip);
        ASSERT_TRUE(AppendAVIToProject(nullptr, source.c_str())) << source;
        ASSERT_EQ(gProject.totalFrames, c.frames);
        UnderlayRecord* u = NewUnderlayRecord();
        std::strncpy(u->fileName, TestData("render_under.bmp").c_str(), sizeof u->fileName - 1);
        const std::pair<uint32_t, void*> revisions[] = {
            {kRevInactivate, nullptr}, {kRevDrop, nullptr}, {kRevTitle, c.title}, {kRevUnderlay, u}};
        for (int r = 0; r < 4; r++)
            AddRevision(revisions[r].first, c.ranges[r][0], c.ranges[r][1], revisions[r].second);
        Choose(c.codec, 100);
        ASSERT_EQ(Render(out), 1);

        // The frames written: the active ones, a drop only after a real frame; the pictures shown.
        auto in = [&](int32_t n, int r) { return n >= c.ranges[r][0] && n <= c.ranges[r][1]; };
        std::vector<int32_t> shown;
        int32_t written = 0;
        int64_t soundBytes = 0;
        for (int32_t n = 1; n <= c.frames; n++) {
            if (in(n, 0) || (in(n, 1) && written == 0)) continue;
            written++;
            if (!in(n, 1)) shown.push_back(n);
            soundBytes += (FrameEnd(n, c.sampleRate) - FrameEnd(n - 1, c.sampleRate)) * c.sampleBytes;
        }
        // ffprobe's view: tag, size, frame count, the sound of exactly the written frames; a clean decode.
        auto video = ProbeStream(out, "v:0");
        EXPECT_EQ(video["codec_tag_string"] + " " + video["width"] + "x" + video["height"] + " " +
                      video["nb_frames"],
                  std::string(c.tag) + " " + std::to_string(c.width) + "x" + std::to_string(c.height) + " " +
                      std::to_string(written));
        int64_t probed = 0;
        for (auto& [k, v] : Probe(out, "-select_streams a:0 -show_entries packet=size"))
            probed += std::stoll(v);
        EXPECT_EQ(probed, soundBytes);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + Quote(out) + " -f null - 2>&1"), "");

        // The pictures beside ffmpeg's own decode of the source: the title's colour where its text
        // belongs, the underlay where the key was, and elsewhere the source.
        const auto got = Decode(out, c.width, c.height), src = Decode(source, c.width, c.height);
        ASSERT_EQ(got.size(), shown.size());
        ASSERT_EQ(src.size(), static_cast<size_t>(c.frames));
        const auto [left, top, right, bottom] = TitleBox(c.title, c.width, c.height);
        const uint32_t rgb = c.title->colour;
        const Bgr ink{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                      static_cast<uint8_t>(rgb)};
        int titlePixels = 0, underlayPixels = 0, wrong = 0;
        for (size_t f = 0; f < shown.size(); f++) {
            const std::string &now = got[f], &was = src[static_cast<size_t>(shown[f]) - 1];
            const bool titled = in(shown[f], 2), underlaid = in(shown[f], 3);
            auto nearKeyWithin = [&](int32_t x, int32_t y) {
                for (int32_t v = std::max(0, y - c.margin);
                     underlaid && v <= std::min(c.height - 1, y + c.margin); v++)
                    for (int32_t u = std::max(0, x - c.margin); u <= std::min(c.width - 1, x + c.margin); u++)
                        if (NearKey(At(was, c.width, u, v))) return true;
                return false;
            };
            for (int32_t p = 0; p < c.width * c.height; p++) {
                const int32_t x = p % c.width, y = p / c.width, m = c.margin;
                const Bgr before = At(was, c.width, x, y), after = At(now, c.width, x, y);
                if (titled && x >= left - m && x < right + m && y >= top - m && y < bottom + m) {
                    titlePixels += Diff(after, ink) <= 40;
                } else if (underlaid && Keyed(before)) {
                    underlayPixels++;
                    if (Diff(after, Bgr{0x20, 0x40, 0x80}) > 48 && ++wrong <= 5)
                        ADD_FAILURE() << "no underlay at " << x << "," << y << " of frame " << shown[f];
                } else if (Diff(after, before) > c.changedBy && !nearKeyWithin(x, y) && ++wrong <= 5) {
                    ADD_FAILURE() << "changed at " << x << "," << y << " of frame " << shown[f];
                }
            }
        }
        EXPECT_GT(titlePixels, 100) << "the title's colour shows where its text belongs";
        EXPECT_GT(underlayPixels, 100) << "keyed pixels of the underlaid frames";
    }
};

TEST_F(RenderFromFfmpeg, RendersReadBackInFfmpegWithTheirFramesSoundAndOverlays) {
    // Motion JPEG with 8-bit sound, re-encoded: a title top left, a leading run of real frames.
    Run({"render_mjpeg_u8.avi", "MJPG", "MJPG", 160, 120, 30, 11025, 1, 5, 8, 12, 14, 3, 20, 16, 25,
         MakeTitle("HELLO", RGB(255, 0, 0), 1, 1, -20, FW_BOLD), 40, 16});
    // Rows stored top-down, 90 pixels wide, kept uncompressed: exact pixels. The drop range starts
    // the project, so its frame is not written at all.
    Run({"render_bgr24_s16.avi", "none", "[0][0][0][0]", 90, 60, 21, 22050, 4, 2, 3, 1, 1, 5, 15, 12, 18,
         MakeTitle("Hi\nthere", RGB(0, 255, 0), 2, 2, -14, FW_BOLD), 0, 1});
    // Delta frames after an inactive stretch must be decoded from their key frame; lossless output.
    Run({"render_msvideo1.avi", "FFV1", "FFV1", 160, 120, 30, 0, 0, 4, 13, 20, 21, 22, 25, 26, 28,
         MakeTitle("Quill", RGB(255, 255, 0), 0, 0, -24, FW_BOLD), 12, 1});
}
