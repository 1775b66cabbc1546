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

// Queues the sound of play positions up to `until` (project mode): each kept frame's pieces as the
// render writes them.
void QueueProjectSound(int32_t startPosition, int32_t& lastQueued, int32_t until) {
    const int32_t n = std::max(gPlayer.N, 1);
    for (int32_t k = lastQueued + 1; k < until; k++) {
        const int32_t index = (startPosition - 1 + k - 1) % n;
        if (gPlayer.sound && index < static_cast<int32_t>(gPlayer.positionFrames.size())) {
            for (const AudioPiece& piece :
                 gPlayer.sound->Pieces(gPlayer.positionFrames[static_cast<size_t>(index)])) {
                if (piece.count <= 0) continue;
                const uint8_t* data =
                    piece.source ? GetAudioData(piece.source, piece.offset, piece.count) : nullptr;
                if (piece.source && !data) continue;  // a failed read loses that piece only
                if (gLoop.wave) WriteWaveBlock(gLoop.wave, data, piece.count);
            }
        }
        lastQueued = k;
    }
}

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
    // Play goes on from the picture shown; from the start once the end is reached.
    if (gPlayer.position < 1 || gPlayer.position >= gPlayer.N) gPlayer.position = 1;
    const int32_t n = gPlayer.N;
    AVIlist* head = gPlayer.head;
    gLoop.wave = OpenSound();
    bool audio = gLoop.wave != nullptr;
    const PlayTiming& timing = gPlayer.timing;
    const PlayedSound sound = PlayerSound();
    const int32_t blockAlign = sound.channels * sound.sampleBits / 8;
    const int32_t startPosition = gPlayer.position;
    const int64_t startSample = RoundHalf((startPosition - 1) * timing.period * 1e-6 * sound.samplesPerSec);
    int32_t startOffset = static_cast<int32_t>(std::clamp<int64_t>(startSample * blockAlign, 0, INT32_MAX));
    // An MP4 file's sound is decoded from the start sample on, and from its beginning once it ends.
    Mp4Decoder* movie = gPlayer.movie.get();
    if (movie && audio) movie->SeekSound(startSample);
    bool soundFromBeginning = startSample == 0, soundRead = false;
    std::vector<uint8_t> block;
    DrawFrame(startPosition);

    gSkippedFrames = -1;
    gLoop.framesShown = 0;
    int32_t advanced = 0;
    int64_t queuedBytes = 0;
    int64_t soundPass = 0;  // the pass over the positions whose sound is being queued
    int32_t ordinal = 0;
    int32_t lastQueued = 0;
    bool restartPending = true;
    int32_t appliedShuttle = 0;
    const double basePeriod = timing.period;
    double period = basePeriod;
    double nextTime = 0;  // microseconds of the clock
    const uint32_t clockBase = Now() + static_cast<uint32_t>(timing.frameTime);
    const int32_t framesAhead = std::max(timing.fps, kMinFramesAhead);

    auto stepBy = [&](int32_t dir) { gPlayer.position = Wrap(gPlayer.position + dir); };

    while (gLoop.playing) {
        if (Dragging()) {
            SitOutDrag();
            break;
        }
        if (gLoop.stopRequest) break;
        if (gLoop.shuttleIndex != appliedShuttle) {
            if (audio) {
                CloseSound();
                audio = false;
            }
            appliedShuttle = gLoop.shuttleIndex;
            nextTime = Now() * 1000.0;
            if (appliedShuttle == 0 && !gLoop.shuttleHeld) {
                gLoop.replayRequest = true;
                break;
            }
            period = ShuttleEntry(appliedShuttle).multiplier * basePeriod;
        }
        const int32_t key = PumpMessagesForKey();
        if (key == VK_ESCAPE) break;
        if (key) HostKeyDown(key);
        if (!gLoop.playing || gLoop.stopRequest) continue;
        if (gLoop.shuttleIndex != appliedShuttle) continue;
        if (gPlayer.position >= n && audio) gPlayer.position = 0;

        if (audio) {
            // Sound goes ahead of the picture only within the pass over the positions that the
            // picture is in by the clock: the next pass's sound (the opening again) is queued once
            // the picture has begun that pass, so a play stopped at the end holds none of it.
            const int64_t picturePass = (startPosition - 1 + ElapsedFrames(clockBase, period)) / n;
            if (gPlayer.projectMode) {
                const int64_t nextPassStart = (picturePass + 1) * n - startPosition + 2;  // as counted from 1
                QueueProjectSound(
                    startPosition, lastQueued,
                    static_cast<int32_t>(std::min<int64_t>(advanced + kProjectLookAhead, nextPassStart)));
            } else {
                // Bytes of sound from the start position to the end of pass p.
                const auto passEnd = [&](int64_t p) {
                    return RoundHalf(static_cast<double>((p + 1) * n - (startPosition - 1)) * period * 1e-6 *
                                     sound.samplesPerSec) *
                           blockAlign;
                };
                const int64_t target = std::min(
                    RoundHalf((framesAhead + advanced) * period * 1e-6 * sound.samplesPerSec) * blockAlign,
                    passEnd(picturePass));
                bool escaped = false;
                while (target > queuedBytes && gLoop.playing && !escaped) {
                    if (queuedBytes >= passEnd(soundPass)) {
                        soundPass++;  // the sound starts again from its beginning
                        ordinal = 0;
                        startOffset = 0;
                        if (movie) {
                            movie->SeekSound(0);
                            soundFromBeginning = true, soundRead = false;
                        }
                    }
                    if (movie) {
                        block.clear();
                        if (movie->ReadSound(block)) {
                            const auto bytes = static_cast<int32_t>(
                                std::min<int64_t>(static_cast<int64_t>(block.size()), passEnd(soundPass) - queuedBytes));
                            queuedBytes += bytes;
                            soundRead = true;
                            WriteWaveBlock(gLoop.wave, block.data(), bytes);
                        } else if (soundFromBeginning && !soundRead) {
                            gLoop.playing = false;  // the file has no sound to play at all
                        } else {
                            queuedBytes = passEnd(soundPass);  // sound shorter than the pictures: silence to the end
                        }
                        escaped = HostPumpForEscape();
                        continue;
                    }
                    AudioSpan* span = FindAudioData(ordinal, head, startOffset);
                    startOffset = 0;
                    if (span) {
                        const auto bytes = static_cast<int32_t>(
                            std::min<int64_t>(span->bytes, passEnd(soundPass) - queuedBytes));
                        queuedBytes += bytes;
                        ordinal = span->ordinal + 1;
                        WriteWaveBlock(gLoop.wave, span->data, bytes);
                    } else if (ordinal == 0) {
                        gLoop.playing = false;  // the file has no sound to play at all
                    } else {
                        queuedBytes =
                            passEnd(soundPass);  // sound shorter than the pictures: silence to the end
                    }
                    escaped = HostPumpForEscape();
                }
                if (escaped) break;
            }
            if (restartPending) {
                restartPending = false;
                nextTime = Now() * 1000.0 + period;
                waveOutRestart(gLoop.wave);
            }
            int64_t e = ElapsedFrames(clockBase, period);
            int64_t t = e + startPosition;
            while (t > n) t -= n;
            while (gPlayer.position >= n) gPlayer.position -= n;
            if (t > gPlayer.position) {
                gLoop.skipped += static_cast<int32_t>(t - gPlayer.position - 1);
                gPlayer.position = static_cast<int32_t>(t);
                advanced++;
                gLoop.framesShown = advanced;
                DrawFrame(static_cast<int32_t>(t));
            }
            // Sleep until the next picture is due.
            const uint32_t due = clockBase + static_cast<uint32_t>(std::ceil((e + 1) * period / 1000.0));
            if (HostWaitUntil(due, [] { return !gLoop.playing || gLoop.stopRequest || Dragging(); })) break;
            continue;
        }

        if (period == 0) {  // the shuttle holds the picture
            if (HostWaitUntil(Now() + kIdleWaitMs,
                              [&] { return gLoop.shuttleIndex != appliedShuttle || !gLoop.playing; }))
                break;
            continue;
        }
        const int32_t dir = period > 0 ? 1 : -1;
        const double magnitude = std::fabs(period);
        stepBy(dir);
        advanced++;
        if (restartPending) {
            restartPending = false;
            nextTime = Now() * 1000.0 + magnitude;
        }
        auto deadline = [&] { return static_cast<uint32_t>(static_cast<int64_t>((nextTime + 500) / 1000)); };
        bool escaped = false;
        // Positions already late are passed over without being read.
        while (static_cast<int32_t>(Now() - deadline()) > 0 && gLoop.shuttleIndex == appliedShuttle) {
            if ((escaped = HostPumpForEscape())) break;
            gLoop.skipped++;
            stepBy(dir);
            nextTime += magnitude;
            advanced++;
        }
        if (!escaped)
            escaped = HostWaitUntil(deadline(), [&] {
                return gLoop.shuttleIndex != appliedShuttle || !gLoop.playing || gLoop.stopRequest ||
                       Dragging();
            });
        if (escaped) break;
        if (!gLoop.playing) break;
        DrawFrame(gPlayer.position);
        gLoop.framesShown++;
        nextTime += magnitude;
    }
    gSkippedFrames = 0;
    CloseSound();
    if (gLoop.shuttleIndex != 0 && !gLoop.shuttleHeld) gLoop.shuttleIndex = 0;
    End(kCmdPlayForward);
}

void IDC_PlayRev() {
    if (!gPlayer.open || gPlayer.N < 1) return;
    const int32_t frameTime = gPlayer.timing.frameTime;
    uint32_t due = Now() + static_cast<uint32_t>(frameTime);
    if (!Begin(kCmdPlayReverse, kStateReversePlay)) return;
    while (gLoop.playing) {
        if (LoopInterrupted(true)) break;
        uint32_t d = due + static_cast<uint32_t>(frameTime);
        while (static_cast<int32_t>(Now() - d) > 0) {
            due = d;
            gPlayer.position = Wrap(gPlayer.position - 1);
            gLoop.skipped++;
            d = due + static_cast<uint32_t>(frameTime);
        }
        gPlayer.position = Wrap(gPlayer.position - 1);
        if (!DrawFrameAt(gPlayer.position, due)) break;
        gLoop.framesShown++;
        due += static_cast<uint32_t>(frameTime);
    }
    End(kCmdPlayReverse);
}

void PlayRange() {
    if (!gPlayer.open || gPlayer.N < 1) return;
    const int32_t frameTime = gPlayer.timing.frameTime;
    uint32_t due = Now() + static_cast<uint32_t>(frameTime);
    if (!Begin(kCmdPlayRange, kStatePingPong)) return;
    gPlayer.position = gPlayer.rangeStart + 1;
    while (gLoop.playing) {
        if (LoopInterrupted(false)) break;
        if (gPlayer.position >= gPlayer.rangeEnd + 1)
            gPlayer.position = gPlayer.rangeStart + 1;
        else
            gPlayer.position++;
        if (!DrawFrameAt(gPlayer.position, due)) break;
        gLoop.framesShown++;
        due += static_cast<uint32_t>(frameTime);
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
    const int32_t frameTime = gPlayer.timing.frameTime;
    const int32_t n = gPlayer.N;
    uint32_t due = Now() + static_cast<uint32_t>(frameTime);
    if (!Begin(kCmdPingPong, kStatePingPong)) return;
    bool forward = true;
    while (gLoop.playing) {
        if (LoopInterrupted(true)) break;
        uint32_t d = due + static_cast<uint32_t>(frameTime);
        const int32_t dir = forward ? 1 : -1;
        while (static_cast<int32_t>(Now() - d) > 0) {
            due = d;
            gPlayer.position = std::clamp(gPlayer.position + dir, 1, n);
            gLoop.skipped++;
            d = due + static_cast<uint32_t>(frameTime);
        }
        if (forward) {
            if (gPlayer.position >= n) {
                forward = false;
                gPlayer.position = n;
            } else {
                gPlayer.position++;
            }
        } else {
            if (gPlayer.position <= 1) {
                forward = true;
                gPlayer.position = std::min(2, n);
            } else {
                gPlayer.position--;
            }
        }
        if (!DrawFrameAt(gPlayer.position, due)) break;
        gLoop.framesShown++;
        due += static_cast<uint32_t>(frameTime);
    }
    End(kCmdPingPong);
}
