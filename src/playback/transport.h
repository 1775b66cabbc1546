// What the VCR panel's transport buttons and editor keys do to the player and its loops. The panel
// hands its buttons and keys here (also the keys a running loop pumps); state changes and commands
// to run later go through the playback host, so this runs headless too.
#pragma once

#include <cstdint>
#include <string>

// A transport command of the panel (first, last, play, reverse, pause, ping-pong, the range
// commands); false for any other id. Play commands run their loop before returning.
bool TransportCommand(int32_t id, bool shift = false, bool ctrl = false);

// An editor key: Space play/pause, L forward (again: faster), J reverse (again: faster), K pause,
// Left/Right one frame (ten with shift), Home/End, I/O, and Escape while a loop plays. False for a
// key it does not take (Escape while nothing plays: the panel closes).
bool TransportKey(int32_t key, bool shift);

// Moves to position p (clamped to 1..N) and shows it.
void ShowPosition(int32_t p);

// The display's state word for a panel state; in PLAY, the shuttle's word while the shuttle is held
// or set to a speed.
std::string StateWord(int32_t state, int32_t shuttleIndex, bool shuttleHeld);
