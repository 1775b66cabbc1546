#include "playback/host.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <deque>

#include "core/pump.h"
#include "platform/wave/wave.h"

namespace {

PlaybackHost gHost;
std::deque<int32_t> gKeys;

// The first posted key, or 0.
int32_t TakeKey() {
    if (gKeys.empty()) return 0;
    int32_t key = gKeys.front();
    gKeys.clear();  // dispatching stops after the first key of a pass
    return key;
}

bool EscapePosted() {
    for (int32_t k : gKeys)
        if (k == VK_ESCAPE) return true;
    return false;
}

// Waits for at most this long in one stretch when there is no event loop to block in.
constexpr uint32_t kSliceMs = 10;

}  // namespace

PlaybackHost& CurrentPlaybackHost() {
    return gHost;
}

void SetPlaybackHost(PlaybackHost host) {
    gHost = std::move(host);
}

void PostLoopKey(int32_t key) {
    if (key) gKeys.push_back(key);
}

void ClearLoopKeys() {
    gKeys.clear();
}

int32_t HostPumpForKey() {
    return gHost.pumpForKey ? gHost.pumpForKey() : DefaultPumpForKey();
}

int32_t DefaultPumpForKey() {
    if (PumpPendingMessages()) {
        gKeys.clear();
        return VK_ESCAPE;
    }
    return TakeKey();
}

bool HostPumpForEscape() {
    // Every loop takes keys the same way, so a key pressed during reverse play reaches the panel.
    const int32_t key = HostPumpForKey();
    if (key == VK_ESCAPE) return true;
    if (key) HostKeyDown(key);
    return false;
}

bool HostWaitUntil(uint32_t until, const std::function<bool()>& wake) {
    return gHost.waitUntil ? gHost.waitUntil(until, wake) : DefaultWaitUntil(until, wake);
}

bool DefaultWaitUntil(uint32_t until, const std::function<bool()>& wake) {
    for (;;) {
        if (EscapePosted()) {
            gKeys.clear();
            return true;
        }
        if (!gKeys.empty() || (wake && wake())) return false;
        const int32_t left = static_cast<int32_t>(until - timeGetTime());
        if (left <= 0) return false;
        if (QCoreApplication::instance()) {
            // A timer at the deadline makes sure the wait for the next event ends in time.
            QTimer deadline;
            deadline.setSingleShot(true);
            deadline.setTimerType(Qt::PreciseTimer);
            deadline.start(left);
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (PumpPendingMessages()) return true;
            deadline.stop();
        } else if (PumpWaitMessages(static_cast<int32_t>(std::min<uint32_t>(left, kSliceMs)))) {
            return true;
        }
    }
}

void HostSetState(int32_t state) {
    if (gHost.setState) gHost.setState(state);
}

void HostPostCommand(int32_t command) {
    if (gHost.postCommand) gHost.postCommand(command);
}

void HostKeyDown(int32_t key) {
    if (gHost.keyDown) gHost.keyDown(key);
}
