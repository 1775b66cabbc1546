#include "playback/transport.h"

#include <algorithm>

#include "playback/host.h"
#include "playback/loops.h"
#include "playback/player.h"
#include "playback/timing.h"

namespace {

// Shuttle indexes the keys use: normal speed forward and backward; each further press of L or J
// moves one row on, up to the table's ends.
constexpr int32_t kShuttlePlay = 6;
constexpr int32_t kShuttleReverse = -6;

void Stop() {
    gLoop.playing = false;
}

// Ends the loop that plays and runs command once it has ended.
void SwitchTo(int32_t command) {
    Stop();
    HostPostCommand(command);
}

}  // namespace

void ShowPosition(int32_t p) {
    if (!gPlayer.open) return;
    gPlayer.position = std::clamp(p, 1, std::max(gPlayer.N, 1));
    DrawFrame(gPlayer.position);
}

bool TransportCommand(int32_t id, bool shift, bool ctrl) {
    if (!gPlayer.open) return false;
    switch (id) {
        case kCmdFirstFrame:
            Stop();
            ShowPosition(1);
            HostSetState(kStateStop);
            return true;
        case kCmdLastFrame:
            Stop();
            ShowPosition(gPlayer.N);
            HostSetState(kStateStop);
            return true;
        case kCmdPlayForward:
            PlayForward();
            return true;
        case kCmdPlayReverse:
            IDC_PlayRev();
            return true;
        case kCmdPause:
            HostSetState(kStateStop);
            Stop();
            return true;
        case kCmdPingPong:
            IDC_PingPong(shift, ctrl);
            return true;
        case kCmdPlayRange:
            PlayRange();
            return true;
        case kCmdRangeStart:
            if (gPlayer.inOutMarking) gPlayer.rangeStart = gPlayer.position - 1;
            return true;
        case kCmdRangeEnd:
            if (gPlayer.inOutMarking) gPlayer.rangeEnd = gPlayer.position - 1;
            return true;
        case kCmdRangeFirst:
            Stop();
            ShowPosition(gPlayer.rangeStart + 1);
            HostSetState(kStateStop);
            return true;
        case kCmdRangeLast:
            Stop();
            ShowPosition(gPlayer.rangeEnd + 1);
            HostSetState(kStateStop);
            return true;
        default:
            return false;
    }
}

bool TransportKey(int32_t key, bool shift) {
    const bool playing = gLoop.playing;
    const bool forwardLoop = playing && gLoop.running == kCmdPlayForward;
    switch (key) {
        case VK_ESCAPE:
            if (!playing) return false;
            TransportCommand(kCmdPause);
            return true;
        case VK_SPACE:
        case 'K':
            if (playing)
                TransportCommand(kCmdPause);
            else if (key == VK_SPACE)
                TransportCommand(kCmdPlayForward);
            return true;
        case 'L':
            if (forwardLoop) {
                // Backwards on the shuttle: forward at normal speed; forward: one speed faster.
                const int32_t s = gLoop.shuttleIndex;
                gLoop.shuttleIndex = s < 0    ? kShuttlePlay
                                     : s == 0 ? kShuttlePlay + 1
                                              : std::min(s + 1, kShuttleMaxIndex);
            } else if (playing) {
                SwitchTo(kCmdPlayForward);
            } else {
                TransportCommand(kCmdPlayForward);
            }
            return true;
        case 'J':
            if (forwardLoop) {
                const int32_t s = gLoop.shuttleIndex;
                gLoop.shuttleIndex = s >= 0 ? kShuttleReverse : std::max(s - 1, -kShuttleMaxIndex);
            } else if (playing && gLoop.running == kCmdPlayReverse) {
                // Faster backwards: the forward loop runs the shuttle's reverse speeds.
                gLoop.shuttleIndex = kShuttleReverse - 1;
                SwitchTo(kCmdPlayForward);
            } else if (playing) {
                SwitchTo(kCmdPlayReverse);
            } else {
                TransportCommand(kCmdPlayReverse);
            }
            return true;
        case VK_LEFT:
        case VK_RIGHT:
            if (playing) TransportCommand(kCmdPause);
            ShowPosition(gPlayer.position + (key == VK_LEFT ? -1 : 1) * (shift ? 10 : 1));
            return true;
        case VK_HOME:
            TransportCommand(kCmdFirstFrame);
            return true;
        case VK_END:
            TransportCommand(kCmdLastFrame);
            return true;
        case 'I':
            if (!playing) TransportCommand(kCmdRangeStart);
            return true;
        case 'O':
            if (!playing) TransportCommand(kCmdRangeEnd);
            return true;
        default:
            return false;
    }
}

std::string StateWord(int32_t state, int32_t shuttleIndex, bool shuttleHeld) {
    if (state == kStatePlay && (shuttleHeld || shuttleIndex != 0)) return ShuttleEntry(shuttleIndex).word;
    switch (state) {
        case kStatePlay:
            return "PLAY";
        case kStateReversePlay:
            return "RPLAY";
        case kStatePingPong:
            return "P-PONG";
        default:
            return "STOP";
    }
}
