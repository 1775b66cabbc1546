// Project mode sound: every kept frame's audio as the render writes it, so a preview sounds like
// the rendered file (each file's PCM sound converted to the first file's format, silence for files
// without PCM sound).
#include "playback/player.h"
#include "render/audioplan.h"

namespace {

// Bits 24-31 of a play map word hold the state of that project frame (render/audioplan.h and
// project/playmap.h cannot meet in one file: both name a piece AudioPiece).
constexpr int kStateShift = 24;

}  // namespace

void PlanProjectSound() {
    ReleaseProjectSound();
    for (int32_t i = 0; i < gPlayer.playMapWords; i++)
        if (gPlayer.everyFrame || !((gPlayer.playMap[i] >> kStateShift) & kStateInactive))
            gPlayer.positionFrames.push_back(i + 1);
    auto* plan = new AudioList;
    if (plan->Plan(gPlayer.head))
        gPlayer.sound = plan;
    else
        delete plan;
}

void ReleaseProjectSound() {
    delete gPlayer.sound;
    gPlayer.sound = nullptr;
    gPlayer.positionFrames.clear();
}
