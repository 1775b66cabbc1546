// The storyboard's thumbnail cache: one record per cell of the last layout, in drawing order, each
// with the frame it shows and its picture at the cell size (24-bit, bottom-up rows, blue-green-red).
// Frames are decoded through DrawDib from their last key frame; consecutive requests inside one run
// of delta frames decode the stream once.
#pragma once

#include <QImage>
#include <cstdint>

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

// Frames handed to the decoder so far (tests).
int64_t ThumbnailFramesFed();
