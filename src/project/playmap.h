// What a preview plays: the play map (the project frame shown at each play position) and the play
// audio map (the first file's audio bytes of each position), both built from the revision list.
#pragma once

#include <cstdint>

// Play map words: bits 24-31 of word k - 1 hold the frame state of project frame k; bits 0-23 of
// word p - 1 hold the project frame (from 1) shown at play position p.
constexpr uint32_t kPlayMapFrameMask = 0x00FFFFFF;
constexpr int kPlayMapStateShift = 24;

inline int32_t PlayMapFrame(const uint32_t* map, int32_t position) {
    return static_cast<int32_t>(map[position - 1] & kPlayMapFrameMask);
}
inline uint32_t PlayMapState(const uint32_t* map, int32_t frame) {
    return map[frame - 1] >> kPlayMapStateShift;
}

// Storyboard frame indexes (from 0) whose play positions (from 0) a range preview needs.
struct PlayMapMarks {
    int32_t startIndex = -1;
    int32_t endIndex = -1;
    int32_t startPosition = 0;  // the last position kept at or before startIndex; 0 when none
    int32_t endPosition = 0;
};

// One word per project frame (MyCalloc; release with MyFree), or null when it cannot be
// allocated or the project is too long for 24-bit frame numbers. positions gets the kept count.
uint32_t* BuildPlayMap(int32_t* positions, PlayMapMarks* marks = nullptr);

// For marking a range: every project frame at its own position, inactive and dropped ones showing
// their own picture, with its state as BuildPlayMap has it; positions gets the project's frames.
uint32_t* BuildMarkingMap(int32_t* positions);

// Up to three pieces of the first file per play position; a piece with count 0 is absent.
struct AudioPiece {
    int32_t offset;  // file offset in the first file
    int32_t count;   // bytes
};
struct PlayAudioRecord {
    AudioPiece pieces[3];
};
static_assert(sizeof(PlayAudioRecord) == 24);

// One record per project frame, the first `positions` of them filled in play order (MyCalloc;
// release with MyFree); null when the first file has no audio or the map cannot be allocated.
// Positions past the first file's frames stay silent. Shows "Audio insufficient for frame
// length: %ld %ld" when the first file's audio ends before its kept frames do.
PlayAudioRecord* BuildPlayAudioMap();
