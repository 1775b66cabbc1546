// The storyboard's thumbnail cache: one record per cell of the last layout, in drawing order, each
// with the frame it shows and its picture at the cell size (24-bit, bottom-up rows, blue-green-red).
// Frames are decoded through DrawDib from their last key frame; consecutive requests inside one run
// of delta frames decode the stream once.
//
// The storyboard fills its cells with FillThumbnails: every missing picture at once, on worker
// threads, with the titles and underlays laid on as the render lays them while the View menu's
// "Show Edits In Thumbnails" (gSettings.ShowEdits) is checked. A cell's picture is made again when
// the edits on its frame change; pictures of recent frames are kept, so scrolling back costs
// nothing.
#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

struct CellRecord {
    CellRecord* next;
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    int32_t frame;  // 0-based project frame
    int32_t imageWidth;
    int32_t imageHeight;
    uint8_t* image;  // imageWidth x imageHeight x 3 bytes, or null
    uint64_t edits;  // the edits laid on the image (see ThumbnailCurrent); 0 for none
};

// A record is moved here when the layout no longer has its cell, so no click ever matches it.
constexpr int32_t kOutOfSight = -1000;

CellRecord* ThumbnailCache();
// The record for the index-th cell, appended (with null image) when the cache is shorter; null when
// no memory was left.
CellRecord* CacheRecordAt(int32_t index);
// Releases every record with its picture, and forgets which frame the decoder saw last.
void FreeThumbnails();

// The 0-based project frame as a picture at its own size; false when the frame does not exist or no
// decoder takes it.
bool DecodeProjectFrame(int32_t frame, QImage& picture);
// Keeps picture, scaled to width x height, as the record's image; false when no memory was left.
bool StoreThumbnail(CellRecord* record, const QImage& picture, int32_t width, int32_t height);
// The record's image as a picture (null image gives a null picture).
QImage ThumbnailPicture(const CellRecord& record);
// Closes the decoder (the window's end).
void CloseThumbnailDecoder();

// One cell to fill: its record and its 0-based project frame.
struct ThumbnailRequest {
    CellRecord* record;
    int32_t frame;
};
// Gives each record the picture of its frame at width x height, with the edits when they are shown.
// A frame that gives no picture is kept white, so it is not decoded again on every paint.
void FillThumbnails(const std::vector<ThumbnailRequest>& requests, int32_t width, int32_t height);
// Whether the record holds the picture of frame (0-based) at width x height with the edits as they
// are now.
bool ThumbnailCurrent(const CellRecord& record, int32_t frame, int32_t width, int32_t height);
// The 0-based frame's picture at width x height as FillThumbnails makes it; null when it gives none.
QImage ThumbnailOfFrame(int32_t frame, int32_t width, int32_t height);
// Forgets the pictures kept of recent frames (the project's files changed, or the edits are shown
// or hidden).
void ForgetThumbnailPictures();

// Frames handed to the decoder so far (tests).
int64_t ThumbnailFramesFed();
