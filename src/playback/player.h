// The player: shows the frames of one AVI or MP4 file, or of the project as edited (through the play
// map), in the play window's picture. One player per process, open while a VCR panel is.
//
// Frames are fetched as stored chunks through the frame tables and drawn through DrawDib (no codec
// draws here), decoding back from the last key frame when the picture jumps, or, for titles and
// underlays on compressed sources, decompressed explicitly, overlaid with ApplyTitle2 and drawn. An
// MP4 file's pictures come from its decoder as 24-bit frames and are drawn the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "media/avilist.h"
#include "media/riff.h"
#include "platform/codec/drawdib.h"
#include "platform/mp4/mp4decoder.h"
#include "playback/timing.h"
#include "project/project.h"

class AudioList;

// Panel states, as the display shows them.
constexpr int32_t kStateStop = 1;
constexpr int32_t kStatePlay = 4;
constexpr int32_t kStateReversePlay = 128;
constexpr int32_t kStatePingPong = 256;

// Play map word bits the player tests: the frame is titled or underlaid.
constexpr uint32_t kPlayMapOverlayBits = 0x6000000;
// The longest file name the player keeps.
constexpr int32_t kPlayerNameBytes = 200;

// The picture control's latest frame: what a play window paints, scaled into `destination`.
struct PlayPicture {
    BITMAPINFOHEADER format{};  // 24-bit, bottom-up, rows padded to 4 bytes
    std::vector<uint8_t> bits;
    RECT destination{};
    uint64_t serial = 0;            // frames put here so far
    std::function<void()> changed;  // a new frame arrived
};

// What the display tells of the file played: the information line's format and the time code's rate.
struct PlayedFormat {
    FOURCC compression;
    int32_t width, height, bits;
    uint32_t rate, scale;
};

// The played file's sound as the forward loop queues it: PCM, samplesPerSec 0 for none.
struct PlayedSound {
    int32_t samplesPerSec, channels, sampleBits;
};

// One fetch of a stored frame, for tests that follow the decoding.
struct FetchRecord {
    int32_t frame;  // source frame index, from 0
    bool drawn;     // false: decoded without showing
};

struct PlayerState {
    // Set by the entry points before the panel opens the player.
    char fileName[kPlayerNameBytes];
    bool useProjectList;
    bool projectMode;
    int32_t startPosition;
    int32_t rangeStart;  // frame indexes from 0, marked by the in and out commands
    int32_t rangeEnd;
    bool rangeControls;
    bool inOutMarking;
    bool picking;
    UnderlayRecord* underlay;  // the underlay whose colour key is picked, or null
    const uint32_t* playMap;   // project mode: one word per project frame
    int32_t playMapWords;      // project frames the map covers
    int32_t playPositions;     // kept positions of the map
    bool everyFrame;           // the map is BuildMarkingMap's: position p is project frame p

    // Open while a panel is.
    bool open;
    AVIlist* head;                      // null while an MP4 file plays
    std::unique_ptr<Mp4Decoder> movie;  // the MP4 file played, or null
    PlayedFormat played;
    int32_t sourceFrames;
    int32_t N;
    int32_t position;
    std::vector<uint32_t> frameChunk;   // per source frame: its entry in its record's reduced index
    std::vector<AVIlist*> frameRecord;  // per source frame: the record holding it
    struct {
        BITMAPINFOHEADER header;
        RGBQUAD colours[256];
    } display;
    RECT picture;
    PlayPicture* dc;  // null: nothing is drawn
    HDRAWDIB drawDib;
    HIC decompressor;
    uint8_t* outBuffer;  // MyCalloc, rows of width x 3 bytes padded to 4
    uint32_t outBytes;
    BITMAPINFOHEADER outFormat;
    uint8_t* savedFrame;  // MyCalloc: the latest frame before titles, while picking
    uint32_t savedBytes;
    BITMAPINFOHEADER savedFormat;
    int32_t lastDrawn;  // source frame last decoded for display; -1000 for none
    int32_t shown;      // the position last drawn; 0 for none
    int32_t lastChunkSize;
    PlayTiming timing;
    uint32_t waveDevices;
    // Project mode sound: the render's audio plan and the project frame of each kept position.
    AudioList* sound;
    std::vector<int32_t> positionFrames;
    // Tests: every fetch when tracing.
    bool trace;
    std::vector<FetchRecord> fetches;
};

extern PlayerState gPlayer;
// The headers of the AVI file the player opened last (the project's first file in project mode):
// its palette, and the format the VCR panel's information line describes.
extern AVIinfoRecord AVIinfo;

// Clears every field (entry parameters included); the player must be closed.
void ResetPlayer();
// Opens the player on the entry parameters; the frame goes to picture (null draws nothing).
// pictureRect is the picture control in the play window's client coordinates. False after
// "Invalid AVI File"; the player then stays closed.
bool OpenPlayer(PlayPicture* picture, const RECT& pictureRect);
void ClosePlayer();

// The chunk shown at position q (from 0) read into rec's video buffer; null without one.
uint8_t* getFrame(int32_t q, AVIlist* rec);
// Fetches and draws position p (from 1, clamped to 1..N) now.
void DrawFrame(int32_t p);
// Like DrawFrame, but waits in the event loop until timeGetTime() reaches due before drawing. False
// when Escape cut the wait short: nothing is drawn then.
bool DrawFrameAt(int32_t p, uint32_t due);
// ICLocate, refusing uncompressed input and the handler or compression "AURA".
HIC MyICLocateX(FOURCC type, FOURCC handler, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out, UINT mode);
// The sound the forward loop plays: the head's, or the MP4 file's.
PlayedSound PlayerSound();
// Project mode sound: plans the kept frames' audio as the render writes it, and releases it.
void PlanProjectSound();
void ReleaseProjectSound();
// The source frame index (from 0) position p (from 1) shows.
int32_t SourceFrameOf(int32_t p);
