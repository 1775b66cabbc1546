// What the play loops ask of whoever runs them: pumping input, waiting in the event loop, and
// telling the panel about state changes and commands to post. The panel installs its own; the
// defaults serve headless runs (the core pump, and the Qt event loop when there is one).
#pragma once

#include <cstdint>
#include <functional>

// Virtual-key codes the loops and the panel use.
constexpr int32_t VK_ESCAPE = 0x1B;
constexpr int32_t VK_SPACE = 0x20;
constexpr int32_t VK_END = 0x23;
constexpr int32_t VK_HOME = 0x24;
constexpr int32_t VK_LEFT = 0x25;
constexpr int32_t VK_RIGHT = 0x27;

struct PlaybackHost {
    // Dispatches pending input; the virtual key of the first key press (0 for none), after which
    // nothing more is dispatched in that pass.
    std::function<int32_t()> pumpForKey;
    // Blocks in the event loop until timeGetTime() reaches `until`, an Escape press (true), or
    // `wake` turning true after an event was handled.
    std::function<bool(uint32_t until, const std::function<bool()>& wake)> waitUntil;
    std::function<void(int32_t state)> setState;  // kStateStop, kStatePlay, ...
    std::function<void(int32_t command)> postCommand;
    std::function<void(int32_t key)> keyDown;  // a key other than Escape seen during a loop
};

// Keys a window's event filter took during a loop, for the loop to see at its next pump.
void PostLoopKey(int32_t key);
void ClearLoopKeys();

// The installed host; members left empty fall back to the defaults (the core pump and the Qt event
// loop when there is one, with the posted keys).
PlaybackHost& CurrentPlaybackHost();
void SetPlaybackHost(PlaybackHost host);

// The defaults: the core pump with the posted keys, and the wait in the Qt event loop.
int32_t DefaultPumpForKey();
bool DefaultWaitUntil(uint32_t until, const std::function<bool()>& wake);

// The calls the loops make, through the host or its defaults.
int32_t HostPumpForKey();
// The pump the loops call between frames: a key other than Escape goes to keyDown; true on Escape.
bool HostPumpForEscape();
bool HostWaitUntil(uint32_t until, const std::function<bool()>& wake);
void HostSetState(int32_t state);
void HostPostCommand(int32_t command);
void HostKeyDown(int32_t key);
