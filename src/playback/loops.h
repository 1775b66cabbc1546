// The play loops of the VCR panel (forward with sound, reverse, range, ping-pong), their timing by
// the millisecond clock with skipping of late positions, and the sound queue on the wave device.
// The loops run inside the panel's command handler and talk to its handlers only through the
// flags below; they wait by blocking in the event loop, never by spinning.
#pragma once

#include <cstdint>

#include "platform/wave/wave.h"

// The panel's command ids the loops post or answer to.
constexpr int32_t kCmdPowerOff = 2;  // IDCANCEL: close the panel
constexpr int32_t kCmdHelpPanel = 9;
constexpr int32_t kCmdFirstFrame = 1435;
constexpr int32_t kCmdPlayForward = 1152;
constexpr int32_t kCmdLastFrame = 1154;
constexpr int32_t kCmdPlayReverse = 1595;
constexpr int32_t kCmdPause = 1155;
constexpr int32_t kCmdPingPong = 1710;
constexpr int32_t kCmdPanelFileInfo = 1854;
constexpr int32_t kCmdRangeStart = 1436;
constexpr int32_t kCmdRangeFirst = 1861;
constexpr int32_t kCmdPlayRange = 1597;
constexpr int32_t kCmdRangeLast = 1596;
constexpr int32_t kCmdRangeEnd = 1530;

struct LoopState {
    bool playing;
    bool stopRequest;    // the panel was asked to close: the loop ends and posts the close again
    bool replayRequest;  // a drag ended the loop: the same command is posted again
    int32_t running;     // the command of the loop that runs, or 0
    int32_t framesShown;
    int32_t skipped;  // positions passed over by the clock since the loop began
    HWAVEOUT wave;
    int32_t shuttleIndex;  // -15..15, from the shuttle ring or the J and L keys
    bool shuttleHeld;
    bool sliderDrag;
    bool jogDrag;
    bool keyGuard;  // PumpMessagesForKey is running
    int32_t blocksQueued;
    int32_t blocksDone;
};

extern LoopState gLoop;

void ResetLoops();

// The loops; each returns when its play ends. A call while any loop plays only clears playing.
void PlayForward();
void IDC_PlayRev();
void PlayRange();
// With shift (and not ctrl): the read-speed report of the list instead.
void IDC_PingPong(bool shift, bool ctrl);

// The virtual key of the first key press pumped (0 for none); a nested call returns 0.
int32_t PumpMessagesForKey();

// Copies count bytes into a block of its own and queues it; false (nothing left allocated) when
// there is no device or it refuses the block. Null data queues silence.
bool WriteWaveBlock(HWAVEOUT device, const uint8_t* data, int32_t count);
// The device's done notification: releases the block.
void WaveBlockDone(WAVEHDR* header);
