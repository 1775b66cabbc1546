#include "playback/loops.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "core/diag.h"
#include "core/memory.h"
#include "media/avilist.h"
#include "playback/host.h"
#include "playback/player.h"
#include "render/audioplan.h"

LoopState gLoop;

namespace {

// A held picture (the shuttle at PAUSE) or a drag waits this long at most between looks at the flags.
constexpr uint32_t kIdleWaitMs = 100;
// Sound is queued this many positions ahead in project mode, and at least this many frames'
// worth for a single file.
constexpr int32_t kProjectLookAhead = 10;
constexpr int32_t kMinFramesAhead = 10;

struct WaveBlock {
    WAVEHDR header;
    uint8_t* data;  // MyMalloc
};

uint32_t Now() {
    return timeGetTime();
}

bool Dragging() {
    return gLoop.sliderDrag || gLoop.jogDrag;
}

int32_t Wrap(int32_t p) {
    const int32_t n = std::max(gPlayer.N, 1);
    if (p > n) return 1;
    if (p < 1) return n;
    return p;
}

// Waits for the drag to end; the loop then ends and is started again.
void SitOutDrag() {
    while (Dragging())
        if (HostWaitUntil(Now() + kIdleWaitMs, [] { return !Dragging(); })) break;
    gLoop.replayRequest = true;
}

// Between frames of the simple loops: a drag ends the loop (it starts again after the drag),
// as do a stop request, Escape, and a second press of a play button.
bool LoopInterrupted(bool drags) {
    if (drags && Dragging()) {
        SitOutDrag();
        return true;
    }
    if (gLoop.stopRequest) return true;
    if (HostPumpForEscape()) return true;
    return !gLoop.playing;
}

// Starts a loop; false when one runs (it is asked to stop instead).
bool Begin(int32_t command, int32_t state) {
    if (gLoop.playing) {
        gLoop.playing = false;
        return false;
    }
    gLoop.playing = true;
    gLoop.stopRequest = false;
    gLoop.running = command;
    gLoop.skipped = 0;
    HostSetState(state);
    return true;
}

void End(int32_t command) {
    gLoop.playing = false;
    gLoop.running = 0;
    // Positions stepped past but not drawn are given up: the position is the picture on screen.
    if (gPlayer.shown >= 1) gPlayer.position = gPlayer.shown;
    if (gLoop.stopRequest) HostPostCommand(kCmdPowerOff);
    gLoop.stopRequest = false;
    if (gLoop.replayRequest) {
        gLoop.replayRequest = false;
        HostPostCommand(command);
    }
}

void Callback(HWAVEOUT, uint32_t message, WAVEHDR* header) {
    if (message == WOM_DONE) WaveBlockDone(header);
}

// Opens the device for the played file's sound, paused; null when there is to be no sound.
HWAVEOUT OpenSound() {
    const PlayedSound h = PlayerSound();
    const int64_t perSecond = static_cast<int64_t>(h.samplesPerSec) * h.channels * h.sampleBits / 8;
    if (perSecond <= 0 || gPlayer.waveDevices == 0) return nullptr;
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<uint16_t>(h.channels);
    f.nSamplesPerSec = static_cast<uint32_t>(h.samplesPerSec);
    f.wBitsPerSample = static_cast<uint16_t>(h.sampleBits);
    f.nBlockAlign = static_cast<uint16_t>(h.channels * h.sampleBits / 8);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    if (waveOutOpen(nullptr, WAVE_MAPPER, &f, nullptr, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR) {
        NotifyBox("The waveform device cannot play this format");
        return nullptr;
    }
    HWAVEOUT device = nullptr;
    if (waveOutOpen(&device, WAVE_MAPPER, &f, Callback, CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        NotifyBox("The waveform device cannot be opened");
        return nullptr;
    }
    waveOutPause(device);
    return device;
}

void CloseSound() {
    if (!gLoop.wave) return;
    if (waveOutReset(gLoop.wave) != MMSYSERR_NOERROR) NotifyBox("waveOutReset Error");
    if (waveOutClose(gLoop.wave) != MMSYSERR_NOERROR) NotifyBox("Couldn't close wave device");
    gLoop.wave = nullptr;
}

// Whole frame periods since the clock base (0 before it).
int64_t ElapsedFrames(uint32_t clockBase, double period) {
    const uint32_t now = Now();
    return now > clockBase ? static_cast<int64_t>((now - clockBase) * 1000.0 / period) : 0;
}

// The clock of the reverse, range and ping-pong loops: a picture due every frame time from now.
struct FrameClock {
    uint32_t frameTime;
    uint32_t due;

    explicit FrameClock(int32_t ms) : frameTime(static_cast<uint32_t>(ms)), due(Now() + frameTime) {}
    // Passes over the positions whose time has gone, each by `step`, counting them as skipped.
    template <typename Step>
    void PassLate(Step step) {
        for (uint32_t d = due + frameTime; static_cast<int32_t>(Now() - d) > 0; d = due + frameTime) {
            due = d;
            step();
            gLoop.skipped++;
        }
    }
    // Draws position p when it is due and sets the next due time; false when Escape cut the wait.
    bool Show(int32_t p) {
        if (!DrawFrameAt(p, due)) return false;
        gLoop.framesShown++;
        due += frameTime;
        return true;
    }
};

// Range play's position after p: the range's first again after its last.
int32_t NextInRange(int32_t p) {
    return p >= gPlayer.rangeEnd + 1 ? gPlayer.rangeStart + 1 : p + 1;
}

// Ping-pong's position after p: the last position is shown twice as the play turns there, the
// first once.
int32_t PingPongNext(int32_t p, int32_t n, bool& forward) {
    if (forward) {
        if (p < n) return p + 1;
        forward = false;
        return n;
    }
    if (p > 1) return p - 1;
    forward = true;
    return std::min(2, n);
}

// What the forward loop does after the keys of a turn: go on with the turn, start the next one, or
// end the play.
enum class Turn { Go, Again, Stop };

// The forward loop's state from turn to turn. With sound, the picture shown is the one the clock
// has reached since the sound started; once a shuttle speed is taken the sound is closed and the
// picture steps at that speed, late positions passed over without being read.
struct ForwardPlay {
    // Fixed for the play.
    int32_t n = 0;
    AVIlist* head = nullptr;
    Mp4Decoder* movie = nullptr;  // an MP4 file's decoder: its sound is decoded, not read from chunks
    PlayedSound sound{};
    int32_t blockAlign = 0;
    int32_t startPosition = 0;
    double basePeriod = 0;
    uint32_t clockBase = 0;  // a frame time after the start picture: frame periods count from here
    int32_t framesAhead = 0;

    // The sound queue.
    bool audio = false;
    int32_t startOffset = 0;                             // bytes into the first sound chunk read
    int32_t ordinal = 0;                                 // the next sound chunk of the list
    bool soundFromBeginning = false, soundRead = false;  // an MP4 file's sound: from its start, any read
    std::vector<uint8_t> block;
    std::vector<uint8_t> converted;  // project mode: a piece's sound converted to the head's format
    int64_t queuedBytes = 0;
    int64_t soundPass = 0;   // the pass over the positions whose sound is being queued
    int32_t lastQueued = 0;  // project mode: the last play position (from 1) whose sound is queued

    // The clock and the speed.
    int32_t advanced = 0;  // positions moved on since the start
    bool restartPending = true;
    int32_t appliedShuttle = 0;
    double period = 0;
    double nextTime = 0;  // microseconds of the clock

    // Play goes on from the picture shown (from the start once the end is reached): the sound is
    // opened there, the picture drawn, and the clock started.
    void Start() {
        if (gPlayer.position < 1 || gPlayer.position >= gPlayer.N) gPlayer.position = 1;
        n = gPlayer.N;
        head = gPlayer.head;
        gLoop.wave = OpenSound();
        audio = gLoop.wave != nullptr;
        const PlayTiming& timing = gPlayer.timing;
        sound = PlayerSound();
        blockAlign = sound.channels * sound.sampleBits / 8;
        startPosition = gPlayer.position;
        const int64_t startSample =
            RoundHalf((startPosition - 1) * timing.period * 1e-6 * sound.samplesPerSec);
        startOffset = static_cast<int32_t>(std::clamp<int64_t>(startSample * blockAlign, 0, INT32_MAX));
        // An MP4 file's sound is decoded from the start sample on, and from its beginning once it ends.
        movie = gPlayer.movie.get();
        if (movie && audio) movie->SeekSound(startSample);
        soundFromBeginning = startSample == 0;
        DrawFrame(startPosition);
        gSkippedFrames = -1;
        gLoop.framesShown = 0;
        basePeriod = timing.period;
        period = basePeriod;
        clockBase = Now() + static_cast<uint32_t>(timing.frameTime);
        framesAhead = std::max(timing.fps, kMinFramesAhead);
    }

    // A new shuttle speed closes the sound and starts the clock again from now; false when the
    // shuttle was let go at PAUSE: the play ends and is started again.
    bool TakeShuttle() {
        if (gLoop.shuttleIndex == appliedShuttle) return true;
        if (audio) {
            CloseSound();
            audio = false;
        }
        appliedShuttle = gLoop.shuttleIndex;
        nextTime = Now() * 1000.0;
        if (appliedShuttle == 0 && !gLoop.shuttleHeld) {
            gLoop.replayRequest = true;
            return false;
        }
        period = ShuttleEntry(appliedShuttle).multiplier * basePeriod;
        return true;
    }

    // A key pressed since the last turn goes to the transport; Escape ends the play.
    Turn TakeKey() {
        const int32_t key = PumpMessagesForKey();
        if (key == VK_ESCAPE) return Turn::Stop;
        if (key) HostKeyDown(key);
        if (!gLoop.playing || gLoop.stopRequest) return Turn::Again;
        if (gLoop.shuttleIndex != appliedShuttle) return Turn::Again;
        return Turn::Go;
    }

    // With sound: queues it ahead, starts the device on the first turn, shows the position the
    // clock has reached and sleeps until the next is due. False when the play ends.
    bool SoundTurn() {
        if (gPlayer.position >= n) gPlayer.position = 0;
        if (!QueueSound()) return false;
        if (restartPending) {
            restartPending = false;
            nextTime = Now() * 1000.0 + period;
            waveOutRestart(gLoop.wave);
        }
        const int64_t elapsed = ShowByClock();
        const uint32_t due = clockBase + static_cast<uint32_t>(std::ceil((elapsed + 1) * period / 1000.0));
        return !HostWaitUntil(due, [] { return !gLoop.playing || gLoop.stopRequest || Dragging(); });
    }

    // Shows the position the clock has reached, counting those passed over; the frame periods
    // elapsed.
    int64_t ShowByClock() {
        const int64_t elapsed = ElapsedFrames(clockBase, period);
        int64_t t = elapsed + startPosition;
        while (t > n) t -= n;
        while (gPlayer.position >= n) gPlayer.position -= n;
        if (t > gPlayer.position) {
            gLoop.skipped += static_cast<int32_t>(t - gPlayer.position - 1);
            gPlayer.position = static_cast<int32_t>(t);
            advanced++;
            gLoop.framesShown = advanced;
            DrawFrame(static_cast<int32_t>(t));
        }
        return elapsed;
    }

    // Sound goes ahead of the picture only within the pass over the positions that the picture is
    // in by the clock: the next pass's sound (the opening again) is queued once the picture has
    // begun that pass, so a play stopped at the end holds none of it. False on Escape.
    bool QueueSound() {
        const int64_t picturePass = (startPosition - 1 + ElapsedFrames(clockBase, period)) / n;
        if (gPlayer.projectMode) {
            const int64_t nextPassStart = (picturePass + 1) * n - startPosition + 2;  // as counted from 1
            QueueProjectSound(
                static_cast<int32_t>(std::min<int64_t>(advanced + kProjectLookAhead, nextPassStart)));
            return true;
        }
        const int64_t target =
            std::min(RoundHalf((framesAhead + advanced) * period * 1e-6 * sound.samplesPerSec) * blockAlign,
                     PassEnd(picturePass));
        bool escaped = false;
        while (target > queuedBytes && gLoop.playing && !escaped) {
            if (queuedBytes >= PassEnd(soundPass)) StartSoundPass();
            if (movie)
                QueueMovieSound();
            else
                QueueChunkSound();
            escaped = HostPumpForEscape();
        }
        return !escaped;
    }

    // Bytes of sound from the start position to the end of pass p.
    int64_t PassEnd(int64_t p) const {
        return RoundHalf(static_cast<double>((p + 1) * n - (startPosition - 1)) * period * 1e-6 *
                         sound.samplesPerSec) *
               blockAlign;
    }

    // The end of a pass: the sound starts again from its beginning.
    void StartSoundPass() {
        soundPass++;
        ordinal = 0;
        startOffset = 0;
        if (movie) {
            movie->SeekSound(0);
            soundFromBeginning = true, soundRead = false;
        }
    }

    // One block of an MP4 file's decoded sound, cut at the end of the pass.
    void QueueMovieSound() {
        block.clear();
        if (movie->ReadSound(block)) {
            const auto bytes = static_cast<int32_t>(
                std::min<int64_t>(static_cast<int64_t>(block.size()), PassEnd(soundPass) - queuedBytes));
            queuedBytes += bytes;
            soundRead = true;
            WriteWaveBlock(gLoop.wave, block.data(), bytes);
        } else if (soundFromBeginning && !soundRead) {
            gLoop.playing = false;  // the file has no sound to play at all
        } else {
            queuedBytes = PassEnd(soundPass);  // sound shorter than the pictures: silence to the end
        }
    }

    // One sound chunk of the list, cut at the end of the pass.
    void QueueChunkSound() {
        AudioSpan* span = FindAudioData(ordinal, head, startOffset);
        startOffset = 0;
        if (span) {
            const auto bytes =
                static_cast<int32_t>(std::min<int64_t>(span->bytes, PassEnd(soundPass) - queuedBytes));
            queuedBytes += bytes;
            ordinal = span->ordinal + 1;
            WriteWaveBlock(gLoop.wave, span->data, bytes);
        } else if (ordinal == 0) {
            gLoop.playing = false;  // the file has no sound to play at all
        } else {
            queuedBytes = PassEnd(soundPass);  // sound shorter than the pictures: silence to the end
        }
    }

    // Project mode: the sound of play positions up to `until`, each kept frame's pieces as the
    // render writes them.
    void QueueProjectSound(int32_t until) {
        for (int32_t k = lastQueued + 1; k < until; k++) {
            const int32_t index = (startPosition - 1 + k - 1) % n;
            if (gPlayer.sound && index < static_cast<int32_t>(gPlayer.positionFrames.size())) {
                for (const AudioPiece& piece :
                     gPlayer.sound->Pieces(gPlayer.positionFrames[static_cast<size_t>(index)])) {
                    if (piece.count <= 0) continue;
                    const uint8_t* data = piece.source ? AudioPieceData(piece, converted) : nullptr;
                    if (piece.source && !data) continue;  // a failed read loses that piece only
                    if (gLoop.wave) WriteWaveBlock(gLoop.wave, data, piece.count);
                }
            }
            lastQueued = k;
        }
    }

    // Without sound: one step at the shuttle's speed (the picture held at PAUSE), late positions
    // passed over, the next drawn when due. False when the play ends.
    bool ClockTurn() {
        if (period == 0)
            return !HostWaitUntil(Now() + kIdleWaitMs,
                                  [this] { return gLoop.shuttleIndex != appliedShuttle || !gLoop.playing; });
        const int32_t dir = period > 0 ? 1 : -1;
        const double magnitude = std::fabs(period);
        Step(dir);
        if (restartPending) {
            restartPending = false;
            nextTime = Now() * 1000.0 + magnitude;
        }
        if (PassLate(dir, magnitude)) return false;
        if (HostWaitUntil(Deadline(), [this] {
                return gLoop.shuttleIndex != appliedShuttle || !gLoop.playing || gLoop.stopRequest ||
                       Dragging();
            }))
            return false;
        if (!gLoop.playing) return false;
        DrawFrame(gPlayer.position);
        gLoop.framesShown++;
        nextTime += magnitude;
        return true;
    }

    void Step(int32_t dir) {
        gPlayer.position = Wrap(gPlayer.position + dir);
        advanced++;
    }

    uint32_t Deadline() const { return static_cast<uint32_t>(static_cast<int64_t>((nextTime + 500) / 1000)); }

    // Positions already late are passed over without being read; true on Escape.
    bool PassLate(int32_t dir, double magnitude) {
        while (static_cast<int32_t>(Now() - Deadline()) > 0 && gLoop.shuttleIndex == appliedShuttle) {
            if (HostPumpForEscape()) return true;
            gLoop.skipped++;
            Step(dir);
            nextTime += magnitude;
        }
        return false;
    }

    void Finish() {
        gSkippedFrames = 0;
        CloseSound();
        if (gLoop.shuttleIndex != 0 && !gLoop.shuttleHeld) gLoop.shuttleIndex = 0;
        End(kCmdPlayForward);
    }
};

}  // namespace

void ResetLoops() {
    gLoop = LoopState{};
}

int32_t PumpMessagesForKey() {
    if (gLoop.keyGuard) return 0;
    gLoop.keyGuard = true;
    int32_t key = HostPumpForKey();
    gLoop.keyGuard = false;
    return key;
}

bool WriteWaveBlock(HWAVEOUT device, const uint8_t* data, int32_t count) {
    if (!device || count <= 0) return false;
    auto* block = static_cast<WaveBlock*>(MyCalloc(1, sizeof(WaveBlock)));
    if (!block) return false;
    block->data = static_cast<uint8_t*>(MyMalloc(static_cast<uint32_t>(count)));
    if (!block->data) {
        DebugLog("failed with wave stuff");
        MyFree(block);
        return false;
    }
    if (data)
        std::memcpy(block->data, data, static_cast<size_t>(count));
    else
        std::memset(block->data, PlayerSound().sampleBits == 8 ? 0x80 : 0, static_cast<size_t>(count));
    block->header.lpData = reinterpret_cast<char*>(block->data);
    block->header.dwBufferLength = static_cast<uint32_t>(count);
    block->header.dwUser = reinterpret_cast<uintptr_t>(block);
    if (waveOutPrepareHeader(device, &block->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        DebugLog("unable to prepare wave header");
    } else if (waveOutWrite(device, &block->header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        DebugLog("failed to write block to device");
        waveOutUnprepareHeader(device, &block->header, sizeof(WAVEHDR));
    } else {
        gLoop.blocksQueued++;
        return true;
    }
    MyMallocFree(block->data);
    MyFree(block);
    return false;
}

void WaveBlockDone(WAVEHDR* header) {
    if (!header || !header->dwUser) return;
    auto* block = reinterpret_cast<WaveBlock*>(header->dwUser);
    if (gLoop.wave) waveOutUnprepareHeader(gLoop.wave, header, sizeof(WAVEHDR));
    MyMallocFree(block->data);
    MyFree(block);
    gLoop.blocksDone++;
}

void PlayForward() {
    if (!gPlayer.open || gPlayer.N < 1) {
        gLoop.playing = false;
        return;
    }
    if (!Begin(kCmdPlayForward, kStatePlay)) return;
    ForwardPlay play;
    play.Start();
    while (gLoop.playing) {
        if (Dragging()) {
            SitOutDrag();
            break;
        }
        if (gLoop.stopRequest) break;
        if (!play.TakeShuttle()) break;
        const Turn turn = play.TakeKey();
        if (turn == Turn::Stop) break;
        if (turn == Turn::Again) continue;
        if (!(play.audio ? play.SoundTurn() : play.ClockTurn())) break;
    }
    play.Finish();
}

void IDC_PlayRev() {
    if (!gPlayer.open || gPlayer.N < 1) return;
    FrameClock clock(gPlayer.timing.frameTime);
    if (!Begin(kCmdPlayReverse, kStateReversePlay)) return;
    const auto back = [] { gPlayer.position = Wrap(gPlayer.position - 1); };
    while (gLoop.playing && !LoopInterrupted(true)) {
        clock.PassLate(back);
        back();
        if (!clock.Show(gPlayer.position)) break;
    }
    End(kCmdPlayReverse);
}

void PlayRange() {
    if (!gPlayer.open || gPlayer.N < 1) return;
    FrameClock clock(gPlayer.timing.frameTime);
    if (!Begin(kCmdPlayRange, kStatePingPong)) return;
    gPlayer.position = gPlayer.rangeStart + 1;
    while (gLoop.playing && !LoopInterrupted(false)) {
        gPlayer.position = NextInRange(gPlayer.position);
        if (!clock.Show(gPlayer.position)) break;
    }
    HostSetState(kStateStop);
    End(kCmdPlayRange);
}

void IDC_PingPong(bool shift, bool ctrl) {
    if (shift && !ctrl) {
        if (gPlayer.head) PlayAVIlist01(gPlayer.head);
        return;
    }
    if (!gPlayer.open || gPlayer.N < 1) return;
    const int32_t n = gPlayer.N;
    FrameClock clock(gPlayer.timing.frameTime);
    if (!Begin(kCmdPingPong, kStatePingPong)) return;
    bool forward = true;
    while (gLoop.playing && !LoopInterrupted(true)) {
        const int32_t dir = forward ? 1 : -1;
        clock.PassLate([dir, n] { gPlayer.position = std::clamp(gPlayer.position + dir, 1, n); });
        gPlayer.position = PingPongNext(gPlayer.position, n, forward);
        if (!clock.Show(gPlayer.position)) break;
    }
    End(kCmdPingPong);
}
