#include "playback/host.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include "core/pump.h"
#include "platform/wave/wave.h"

namespace {

PlaybackHost gHost;

// Waits for at most this long in one stretch when there is no event loop to block in.
constexpr uint32_t kSliceMs = 10;

}  // namespace

PlaybackHost& CurrentPlaybackHost() {
    return gHost;
}

void SetPlaybackHost(PlaybackHost host) {
    gHost = std::move(host);
}

int32_t HostPumpForKey() {
    if (gHost.pumpForKey) return gHost.pumpForKey();
    return PumpPendingMessages() ? VK_ESCAPE : 0;
}

bool HostPumpForEscape() {
    if (!gHost.pumpForKey) return PumpPendingMessages();
    int32_t key = gHost.pumpForKey();
    if (key == VK_ESCAPE) return true;
    if (key) HostKeyDown(key);
    return false;
}

bool HostWaitUntil(uint32_t until, const std::function<bool()>& wake) {
    if (gHost.waitUntil) return gHost.waitUntil(until, wake);
    for (;;) {
        if (wake && wake()) return false;
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
