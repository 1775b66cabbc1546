// The player and its loops on clips made by ffmpeg, over a clock the tests move.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <deque>
#include <numeric>

#include "core/memory.h"
#include "platform/gdi/gdi.h"
#include "platform/wave/wave.h"
#include "playback/host.h"
#include "playback/loops.h"
#include "playback/pick.h"
#include "playback/player.h"
#include "playback/transport.h"
#include "project/playmap.h"
#include "render/titles.h"
#include "support/ffprobe.h"
#include "support/scripted.h"

using media_test::Quote;
using media_test::Shell;

namespace {

uint32_t gNow = 1000;

// A clip of `frames` 64x48 pictures at 15 fps made by ffmpeg with the given video options.
std::string MakeClip(const TempDir& dir, const std::string& name, int frames, const std::string& codec) {
    const std::string path = dir.file(name);
    Shell("ffmpeg -nostdin -v error -f lavfi -i testsrc=size=64x48:rate=15 -frames:v " +
          std::to_string(frames) + " " + codec + " " + Quote(path));
    return path;
}

// A host over the test clock: waits move the clock, and the pump ends the loop after `draws` frames.
struct ClockedPlay {
    std::vector<int32_t> shown;
    PlayPicture picture;
    uint32_t jump = 0;  // the clock moves this much at every draw
    size_t draws = 0;

    ClockedPlay() {
        SetTimeSource([] { return gNow; });
        SetWaveOutTarget("none");
        picture.changed = [this] {
            shown.push_back(gPlayer.position);
            gNow += jump;
        };
        PlaybackHost host;
        host.pumpForKey = [this] { return shown.size() > draws ? VK_ESCAPE : 0; };
        host.waitUntil = [](uint32_t until, const std::function<bool()>&) {
            if (static_cast<int32_t>(until - gNow) > 0) gNow = until;
            return false;
        };
        SetPlaybackHost(host);
        ResetPlayer();
        ResetLoops();
    }
    ~ClockedPlay() {
        ClosePlayer();
        SetPlaybackHost(PlaybackHost{});
        SetTimeSource(nullptr);
        SetWaveOutTarget("");
    }
    bool Open(const std::string& file, int32_t start = 1) {
        std::snprintf(gPlayer.fileName, sizeof gPlayer.fileName, "%s", file.c_str());
        gPlayer.startPosition = start;
        bool ok = OpenPlayer(&picture, RECT{0, 0, 64, 48});
        shown.clear();
        return ok;
    }
};

using PlaybackLoops = ScriptedTest;
using PlaybackTransport = ScriptedTest;
using PlaybackPlayer = ScriptedTest;

}  // namespace

TEST(PlaybackArithmetic, PictureBoxTimingAndInfoLine) {
    auto rect = [](RECT r) {
        return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
               std::to_string(r.bottom);
    };
    EXPECT_EQ(rect(DestinationRect({0, 0, 320, 240})) + " " + rect(DestinationRect({0, 0, 400, 240})) + " " +
                  rect(DestinationRect({0, 0, 320, 300})),
              "0,0,320,240 40,0,360,240 0,30,320,270");
    EXPECT_EQ((std::vector{ComputeTiming(15, 1).frameTime, ComputeTiming(1000000, 66667).frameTime,
                           ComputeTiming(1000000, 66667).fps}),
              (std::vector{67, 67, 14}));
    EXPECT_EQ(InfoLine(FourCC("MJPG"), 320, 240, 24, 1000000, 66667), "(MJPG) 320x240x24 15.00FPS");
    EXPECT_EQ(InfoLine(0, 8, 8, 8, 15, 1).substr(0, 6), "(    )");
}

TEST(PlaybackArithmetic, SliderJogAndShuttle) {
    // The slider, the progress bar and the range marks span the slider from end to end.
    EXPECT_EQ((std::vector{SliderPosition(kSliderLeft, 300), SliderPosition(kSliderRight, 300),
                           ProgressX(1, 1), ProgressX(300, 300), RangeMarkX(1000, 300)}),
              (std::vector{1, 300, kSliderLeft, kSliderRight + 1, kSliderRight}));

    SCOPED_TRACE("jog: one revolution with Shift moves about 31 steps of 10");
    JogTracker jog;
    jog.Begin(kDialX + 20, kDialY);
    int32_t moved = 0;
    for (int i = 1; i <= 360; i++) {
        const double a = i * M_PI / 180;
        moved += jog.Move(kDialX + static_cast<int>(std::lround(20 * std::cos(a))),
                          kDialY + static_cast<int>(std::lround(20 * std::sin(a))), true, false, nullptr);
    }
    EXPECT_NEAR(moved, 310, 10);

    SCOPED_TRACE("shuttle turned right by 0.75 radians");
    int32_t degrees = 0;
    const int32_t index =
        ShuttleIndexAt(kDialX + static_cast<int>(std::lround(45 * std::sin(0.75))),
                       kDialY - static_cast<int>(std::lround(45 * std::cos(0.75))), &degrees);
    EXPECT_EQ(std::to_string(index) + ShuttleEntry(index).word, "7X2");
    EXPECT_TRUE(DialHit(kDialX, kDialY) == DialPart::Jog &&
                DialHit(kDialX, kDialY - 45) == DialPart::Shuttle);
}

TEST_F(PlaybackLoops, ClockSkippingShuttleRangeAndPingPong) {
    const std::string clip = MakeClip(dir, "c.avi", 45, "-c:v mjpeg");
    const std::string tiny = MakeClip(dir, "t.avi", 4, "-c:v mjpeg");
    {
        SCOPED_TRACE("forward over a clock that jumps: late positions are counted, never read");
        ClockedPlay play;
        ASSERT_TRUE(play.Open(clip));
        gPlayer.trace = true;
        play.jump = 200;  // three frame periods a draw
        play.draws = 6;
        PlayForward();
        ASSERT_GE(play.shown.size(), 6u);
        int32_t gaps = 0;
        for (size_t i = 1; i < play.shown.size(); i++) gaps += play.shown[i] - play.shown[i - 1] - 1;
        EXPECT_GT(gLoop.skipped, 0);
        EXPECT_EQ(play.shown.front(), 1);  // shown when the player opened: drawn again, not read
        EXPECT_EQ(gLoop.skipped, gaps);
        for (const FetchRecord& f : gPlayer.fetches) EXPECT_TRUE(f.drawn);
        EXPECT_EQ(gPlayer.fetches.size(), play.shown.size() - 1);
        EXPECT_FALSE(gLoop.playing);
    }
    {
        SCOPED_TRACE("the shuttle held at PAUSE holds the picture; let go from a speed, the play restarts");
        ClockedPlay play;
        ASSERT_TRUE(play.Open(clip));
        play.draws = 100;
        std::vector<int32_t> posted;
        int32_t phase = 0, heldWaits = 0, waits = 0;
        size_t shownAtHold = 0, shownAfterHold = 0;
        PlaybackHost& host = CurrentPlaybackHost();
        host.postCommand = [&posted](int32_t id) { posted.push_back(id); };
        host.waitUntil = [&](uint32_t until, const std::function<bool()>&) {
            if (phase == 0 && play.shown.size() >= 3) {  // turned back to PAUSE and held there
                gLoop.shuttleHeld = true, gLoop.shuttleIndex = 0, phase = 1;
            } else if (phase == 1) {
                if (++heldWaits == 1) shownAtHold = play.shown.size();
                if (heldWaits == 4) {  // turned to X2 again
                    shownAfterHold = play.shown.size();
                    gLoop.shuttleIndex = 7, phase = 2;
                }
            } else if (phase == 2 && play.shown.size() >= shownAfterHold + 2) {  // let go
                gLoop.shuttleHeld = false, gLoop.shuttleIndex = 0, phase = 3;
            }
            if (++waits > 500) gLoop.playing = false;
            if (static_cast<int32_t>(until - gNow) > 0) gNow = until;
            return false;
        };
        gLoop.shuttleIndex = 7;
        PlayForward();
        EXPECT_EQ(phase, 3);
        EXPECT_EQ(shownAfterHold, shownAtHold);
        EXPECT_EQ(posted, std::vector<int32_t>{kCmdPlayForward});
        EXPECT_TRUE(gLoop.shuttleIndex == 0 && !gLoop.playing);
    }
    {
        SCOPED_TRACE("range play with range 9..19 draws 11, 12, ..., 20, 10, 11");
        ClockedPlay play;
        ASSERT_TRUE(play.Open(clip));
        gPlayer.rangeStart = 9, gPlayer.rangeEnd = 19;
        play.draws = 11;
        PlayRange();
        EXPECT_EQ(play.shown, (std::vector<int32_t>{11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 10, 11}));
    }
    {
        SCOPED_TRACE("ping-pong turns at N (drawn twice) and at 1");
        ClockedPlay play;
        ASSERT_TRUE(play.Open(tiny));
        play.draws = 8;
        IDC_PingPong(false, false);
        EXPECT_EQ(play.shown, (std::vector<int32_t>{2, 3, 4, 4, 3, 2, 1, 2, 3}));
    }
    {
        SCOPED_TRACE("reverse play before 1 goes on at N; positions out of range show the ends");
        ClockedPlay play;
        ASSERT_TRUE(play.Open(tiny, 2));
        play.draws = 3;
        IDC_PlayRev();
        EXPECT_EQ(play.shown, (std::vector<int32_t>{1, 4, 3, 2}));
        EXPECT_EQ(std::make_pair(SourceFrameOf(-5), SourceFrameOf(99)), std::make_pair(0, 3));
    }
    EXPECT_TRUE(boxes->shown.empty());
}

// Keys go in as the panel's event filter posts them, while a loop waits for its next frame, and come
// out of the default pumps; the clock moves to each deadline.
TEST_F(PlaybackTransport, SpaceJKLFromEveryState) {
    const std::string clip = MakeClip(dir, "k.avi", 45, "-c:v mjpeg");
    struct Row {
        const char* state;
        int32_t start;     // the position, stopped, before the first key
        std::string keys;  // the keys that reach the state, then the key tried (' ' is Space)
        const char* word;  // the display then
        int32_t speed;     // positions a second the picture then moves
        int32_t first;     // the first position shown after the key; 0: the next one along
    };
    const Row rows[] = {
        {"stopped", 20, " ", "PLAY", 15, 20},
        {"stopped", 20, "L", "PLAY", 15, 20},
        {"stopped", 20, "J", "RPLAY", -15, 19},
        {"stopped", 20, "K", "STOP", 0, 0},
        {"at the start", 1, " ", "PLAY", 15, 1},
        {"at the start", 1, "J", "RPLAY", -15, 45},
        {"at the start", 1, "K", "STOP", 0, 0},
        {"at the end", 45, " ", "PLAY", 15, 1},
        {"at the end", 45, "L", "PLAY", 15, 1},
        {"at the end", 45, "J", "RPLAY", -15, 44},
        {"at the end", 45, "K", "STOP", 0, 0},
        {"forward", 20, "  ", "STOP", 0, 0},
        {"forward", 20, " K", "STOP", 0, 0},
        {"forward", 20, " L", "X2", 30, 0},
        {"forward", 20, " J", "REV", -15, 0},
        {"forward x2", 20, "LL ", "STOP", 0, 0},
        {"forward x2", 20, "LLK", "STOP", 0, 0},
        {"forward x2", 20, "LLL", "X3", 45, 0},
        {"forward x2", 20, "LLJ", "REV", -15, 0},
        {"reverse", 30, "J ", "STOP", 0, 0},
        {"reverse", 30, "JK", "STOP", 0, 0},
        {"reverse", 30, "JL", "PLAY", 15, 0},
        {"reverse", 30, "JJ", "REVx2", -30, 0},
        {"reverse x2", 30, "JJ ", "STOP", 0, 0},
        {"reverse x2", 30, "JJK", "STOP", 0, 0},
        {"reverse x2", 30, "JJL", "PLAY", 15, 0},
        {"reverse x2", 30, "JJJ", "REVx3", -45, 0},
        {"paused", 20, " K ", "PLAY", 15, 0},
        {"paused", 20, " KL", "PLAY", 15, 0},
        {"paused", 20, " KJ", "RPLAY", -15, 0},
        {"paused", 20, " KK", "STOP", 0, 0},
        // Escape ends a loop and leaves its state for the pause button.
        {"reverse", 30, "J\x1b", "RPLAY", 0, 0},
        {"forward x2", 20, "LL\x1b", "PLAY", 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(
            std::string(row.state) + " + " +
            (row.keys.back() == VK_ESCAPE ? "Escape" : "'" + row.keys.substr(row.keys.size() - 1) + "'"));
        SetTimeSource([] { return gNow; });
        SetWaveOutTarget("none");
        ResetPlayer();
        ResetLoops();
        ClearLoopKeys();
        PlayPicture picture;
        size_t next = 0, handled = 0;
        int32_t sinceKey = 0, draws = 0, state = kStateStop, before = row.start, lastDrawn = 0;
        int32_t post = 0;                                 // the key to post at the next wait
        std::vector<std::pair<int32_t, uint32_t>> after;  // positions shown after the key, with the clock
        std::string word;
        std::deque<int32_t> posted;
        picture.changed = [&] {
            const int32_t p = gPlayer.position;
            lastDrawn = p;
            if (++draws > 400) gLoop.playing = false;  // a loop that no key stops
            if (handled < row.keys.size()) {
                before = p;
                if (gLoop.playing && next < row.keys.size() && ++sinceKey >= 3)
                    post = row.keys[next++], sinceKey = 0;
                return;
            }
            after.push_back({p, gNow});
            if (after.size() == 2) word = StateWord(state, gLoop.shuttleIndex, false);
            if (after.size() == 5) post = VK_ESCAPE;
        };
        PlaybackHost host;
        host.waitUntil = [&post](uint32_t until, const std::function<bool()>& wake) {
            if (post) PostLoopKey(post), post = 0;
            if (static_cast<int32_t>(until - gNow) > 0) gNow = until;
            return DefaultWaitUntil(until, wake);
        };
        host.setState = [&state](int32_t s) { state = s; };
        host.postCommand = [&posted](int32_t id) { posted.push_back(id); };
        host.keyDown = [&handled](int32_t key) {
            handled++;
            TransportKey(key, false);
        };
        SetPlaybackHost(host);
        std::snprintf(gPlayer.fileName, sizeof gPlayer.fileName, "%s", clip.c_str());
        gPlayer.startPosition = row.start;
        ASSERT_TRUE(OpenPlayer(&picture, RECT{0, 0, 64, 48}));
        // What the event loop does: keys pressed while nothing plays, then the commands posted.
        Deadline deadline(std::string("the keys from ") + row.state, 120);
        while (next < row.keys.size() || !posted.empty()) {
            if (!posted.empty()) {
                const int32_t id = posted.front();
                posted.pop_front();
                TransportCommand(id);
                continue;
            }
            handled++, sinceKey = 0;
            TransportKey(row.keys[next++], false);
        }
        if (row.keys.back() == VK_ESCAPE) handled++;  // the loop takes it, not the panel
        if (word.empty()) word = StateWord(state, gLoop.shuttleIndex, false);
        EXPECT_LE(draws, 400);
        EXPECT_EQ(word, row.word);
        EXPECT_EQ(handled, row.keys.size());
        if (row.speed == 0) {
            EXPECT_TRUE(after.empty());
            EXPECT_EQ(gPlayer.position, lastDrawn) << "the time code shows another frame than the picture";
            EXPECT_EQ(gPlayer.lastDrawn, SourceFrameOf(gPlayer.position));
        } else if (after.size() >= 5) {
            auto step = [](int32_t from, int32_t to) { return (to - from + 45 + 22) % 45 - 22; };
            int32_t moved = 0;
            for (size_t i = 1; i < after.size(); i++) moved += step(after[i - 1].first, after[i].first);
            const double seconds = (after.back().second - after.front().second) / 1000.0;
            EXPECT_NEAR(moved / seconds, row.speed, 2);
            if (row.first)
                EXPECT_EQ(after.front().first, row.first);
            else
                EXPECT_LE(std::abs(step(before, after.front().first)), 1);
        } else {
            ADD_FAILURE() << "only " << after.size() << " frames shown after the key";
        }
        ClosePlayer();
        SetPlaybackHost(PlaybackHost{});
        ClearLoopKeys();
        SetTimeSource(nullptr);
        SetWaveOutTarget("");
    }
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(PlaybackPlayer, DrawingPathsAndTitles) {
    {
        SCOPED_TRACE("key frames every 15: showing 20 after 3 decodes 15..19 first; 21 then decodes 21 only");
        const std::string gop = MakeClip(dir, "g.avi", 30, "-c:v mpeg4 -g 15 -bf 0");
        ClockedPlay play;
        ASSERT_TRUE(play.Open(gop, 4));
        gPlayer.trace = true;
        DrawFrame(21);
        DrawFrame(22);
        std::vector<std::pair<int32_t, bool>> got;
        for (const FetchRecord& f : gPlayer.fetches) got.emplace_back(f.frame, f.drawn);
        EXPECT_EQ(
            got,
            (std::vector<std::pair<int32_t, bool>>{
                {15, false}, {16, false}, {17, false}, {18, false}, {19, false}, {20, true}, {21, true}}));
        EXPECT_EQ(play.shown.size(), 2u);
    }
    ASSERT_TRUE(EnsureGuiApplication());
    const std::string clip = MakeClip(dir, "m.avi", 10, "-c:v mjpeg");
    ASSERT_TRUE(AppendAVIToProject(nullptr, clip.c_str()));
    {
        SCOPED_TRACE("activate and inactivate revisions only: no explicit decompression");
        AddRevision(kRevInactivate, 2, 3, nullptr);
        AddRevision(kRevActivate, 3, 3, nullptr);
        int32_t kept = 0;
        uint32_t* map = BuildPlayMap(&kept);
        ClockedPlay play;
        gPlayer.useProjectList = gPlayer.projectMode = true;
        gPlayer.playMap = map, gPlayer.playMapWords = gProject.totalFrames, gPlayer.playPositions = kept;
        ASSERT_TRUE(play.Open(clip));
        EXPECT_EQ(gPlayer.N, 9);
        EXPECT_EQ(gPlayer.decompressor, nullptr);
        EXPECT_TRUE(boxes->shown.empty());
        ClosePlayer();
        MyFree(map);
    }
    {
        SCOPED_TRACE("a title on a compressed source: the notice once, and the title drawn");
        TitleRecord* t = NewTitleRecord();
        t->text = static_cast<char*>(MyCalloc(4, 1));
        std::memcpy(t->text, "HI", 2);
        t->colour = 0x0000FF, t->height = -30, t->weight = 700;
        std::strcpy(t->faceName, "Arial");
        AddRevision(kRevTitle, 1, 10, t);
        PrepareOverlays(nullptr, 64, 48);
        int32_t kept = 0;
        uint32_t* map = BuildPlayMap(&kept);
        ClockedPlay play;
        gPlayer.useProjectList = gPlayer.projectMode = true;
        gPlayer.playMap = map, gPlayer.playMapWords = gProject.totalFrames, gPlayer.playPositions = kept;
        ASSERT_TRUE(play.Open(clip));
        ASSERT_EQ(boxes->shown.size(), 1u);
        EXPECT_EQ(boxes->shown[0].text,
                  "Showing titles on compressed source.\nThis will result in slower playback speeds.");
        EXPECT_NE(gPlayer.decompressor, nullptr);
        DrawFrame(5);
        int red = 0;
        for (size_t i = 0; i + 2 < play.picture.bits.size(); i += 3)
            red +=
                play.picture.bits[i] == 0 && play.picture.bits[i + 1] == 0 && play.picture.bits[i + 2] == 255;
        EXPECT_GT(red, 20);
        EXPECT_EQ(boxes->shown.size(), 1u);
        ClosePlayer();
        MyFree(map);
    }
    ResetProjectForTests();
}

TEST_F(PlaybackPlayer, Mp4FilesPlayTheirPicturesInOrderWithTheirSound) {
    // H.264 with B-frames (pictures stored out of showing order) and AAC sound.
    const std::string file = dir.file("m.mp4"), wave = dir.file("m.wav");
    Shell(
        "ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=15 -f lavfi -i "
        "sine=frequency=300:sample_rate=22050 -t 2 -c:v libx264 -bf 2 -g 12 -pix_fmt yuv420p -c:a aac " +
        Quote(file));
    const std::string pcm = Shell("ffmpeg -nostdin -v error -i " + Quote(file) + " -f s16le -");
    ClockedPlay play;
    SetWaveOutTarget("file:" + wave);
    ASSERT_TRUE(play.Open(file));
    ASSERT_EQ(std::to_string(gPlayer.N), media_test::ProbeStream(file, "v:0")["nb_frames"]);
    EXPECT_EQ(
        std::to_string(play.picture.format.biWidth) + "x" + std::to_string(play.picture.format.biBitCount),
        "64x24");
    play.draws = static_cast<size_t>(gPlayer.N - 1);
    PlayForward();
    EXPECT_EQ(gPlayer.movie->picturesDecoded(), 30);  // each once, in showing order
    ClosePlayer();
    std::vector<int32_t> expected(30);
    std::iota(expected.begin(), expected.end(), 1);
    EXPECT_EQ(play.shown, expected);
    // The sound queued from the first picture on is the file's, for at least the pictures shown.
    const std::string queued = Shell("ffmpeg -nostdin -v error -i " + Quote(wave) + " -f s16le -");
    EXPECT_GE(queued.size(), static_cast<size_t>(29 * 22050 / 15 * 2));
    const size_t common = std::min(queued.size(), pcm.size());
    EXPECT_EQ(queued.substr(0, common), pcm.substr(0, common));
    EXPECT_TRUE(boxes->shown.empty());
}

TEST(PlaybackPicker, ScanOfTheBand) {
    SCOPED_TRACE("a drag from (50, 40) to (10, 20) over a picture at (3, 3)");
    const RECT area = BandToFrame(RECT{50, 40, 10, 20}, RECT{3, 3, 323, 243}, RECT{0, 0, 320, 240}, 320, 240);
    EXPECT_EQ((std::vector{area.left, area.top, area.right, area.bottom}), (std::vector{7, 17, 47, 37}));

    SCOPED_TRACE("black pixels, none keyed yet: Y 0..0, U 0..0, V 0..0; keyed already: nothing new");
    std::vector<uint8_t> black(320 * 240 * 3, 0);
    PickScan scan = ScanColourKey(black.data(), 320, 240, 24, area, nullptr);
    EXPECT_EQ(scan.count, 41 * 21);
    EXPECT_EQ((std::vector{scan.low[0], scan.low[1], scan.low[2], scan.high[0], scan.high[1], scan.high[2]}),
              std::vector<int32_t>(6, 0));
    ColourRange keyed{nullptr, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ScanColourKey(black.data(), 320, 240, 24, area, &keyed).count, 0);
}
