// Conforming: any video libavformat opens becomes an AVI clip a project can hold (Motion JPEG,
// every frame a key frame, 16-bit or the project's PCM sound), scaled to fit its frame with black
// bars, turned upright, mapped onto a constant rate by its time stamps. Runs on any thread: it
// shows no box and reads no setting (everything comes in the request). One conversion at a time
// per process (the AVI writer writes one file at a time).
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

// What the clip becomes. Zeros ask for what a first clip of an empty project gets.
struct ConformFormat {
    // 0 x 0: the source's displayed size fitted inside 1920x1080, sides even.
    int32_t width = 0;
    int32_t height = 0;
    // Microseconds a frame (the project's frame period); 0: the source's average rate, at most 60.
    int32_t usPerFrame = 0;
    enum class Sound {
        kAsSource,  // the source's rate when 11025-48000 Hz (else 48000), 16-bit, mono or stereo
        kNone,      // no sound in the clip
        kPcm,       // samplesPerSec, sampleBits (8 or 16), channels (1 or 2)
    };
    Sound sound = Sound::kAsSource;
    int32_t samplesPerSec = 0;
    int32_t sampleBits = 0;
    int32_t channels = 0;
};

struct ConformRequest {
    std::string source;
    ConformFormat format;
    double startSeconds = 0;  // where the clip begins in the source
    double seconds = 0;       // how much of it to take; 0: to the end
    // The AVI to write (replaced when it exists). Empty: a new file named after the source in
    // clipsFolder ("holiday.avi", "holiday (2).avi", never over a file), and a clip made there
    // before from the same source (path, size, modification time) with the same format and part is
    // used again instead of converting.
    std::string output;
    std::string clipsFolder;  // created when missing
    int threads = 0;          // compressing threads; 0: one per processor
};

// Frames written so far and the frames the clip will have (an estimate until the end). Called on
// the converting thread.
using ConformProgress = std::function<void(int64_t done, int64_t total)>;

struct ConformResult {
    bool ok = false;
    bool reused = false;     // an earlier clip of the same source and format was handed back
    bool cancelled = false;  // the cancel flag stopped it: no file was left
    std::string path;        // the clip
    int32_t frames = 0;
    int32_t width = 0;
    int32_t height = 0;
    int32_t usPerFrame = 0;
    int32_t samplesPerSec = 0;  // 0: no sound
    int32_t sampleBits = 0;
    int32_t channels = 0;
    std::string message;  // on failure: names the file and the reason
};

// Converts request.source; cancel (may be null) is read between frames. On failure, cancelled or
// not, no file is left and nothing in the clips folder changes.
ConformResult ConformVideo(const ConformRequest& request, const ConformProgress& progress,
                           const std::atomic<bool>* cancel);

enum class ClipFit {
    kAsIs,             // an AVI our reader plays, of the format's size and rate: append it as it is
    kNeedsConforming,  // a video libavformat opens and libavcodec decodes
    kNotVideo,         // neither: *why (may be null) says why
};
// A cheap look at the headers (no picture is decoded). A zero width or usPerFrame in format (an
// empty project) takes any size or rate our reader plays as it is.
ClipFit ProbeClip(const char* path, const ConformFormat& format, std::string* why);

// The format of an AVI clip our reader plays, so that another file can be conformed to it (its
// PCM sound, or kNone); false when path is no such clip.
bool ConformFormatOfClip(const char* path, ConformFormat* format);
