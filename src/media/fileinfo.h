// Reports about media files (AVI, WAVE, BMP and MP4): the "Information" box and the shorter text
// used when mailing.
#pragma once

#include <cstdint>
#include <string>

#include "core/wintypes.h"
#include "media/riff.h"

extern int32_t gImageSize;        // pixel bytes of the BMP read last, or of the display format
extern char gImageTimeStamp[31];  // from a 24-bit BMP, when it begins with "TS"

// Why name cannot be reported on, as a message naming it: it cannot be opened (with the reason),
// is no regular file, or is empty; "" when it can be read.
std::string FileProblem(const char* name);
// 1 for an AVI file: info then holds its headers, with the frames, drops and figures of what the
// file really holds. A file that cannot be read gets FileProblem's message in a box.
int32_t IsAVIFile(const char* name, AVIinfoRecord& info);
int32_t IsWAVEFile(const char* name, AVIinfoRecord& info);
// The image fields of info (width, height, bit count, compression, row order) from a BMP file.
int32_t ReadBMPInfo(const char* name, AVIinfoRecord& info);
// The text ShowFileInfo shows (display and stamp may be null; the size fix question is asked).
std::string FileInfoText(const char* name, BITMAPINFOHEADER* display, const char* stamp);
void ShowFileInfo(HWND owner, const char* name, BITMAPINFOHEADER* display, const char* stamp);
// A MyMalloc block of 4000 bytes holding the text, or null when name is not an AVI file.
// fileLength (may be null) receives the file's length as the text gives it.
char* DescribeAVI(const char* name, int64_t* fileLength = nullptr);
// The same summary of an MP4 file (read through libavformat), with its duration; null when name is
// not one. fileLength (may be null) receives the file's length.
char* DescribeMP4(const char* name, int64_t* fileLength);
// The same for a video file of any other container libavformat opens (MKV, WebM, MPEG-TS, ...):
// file size, duration, the coded picture and its codec, the shown size when turned, the sound.
char* DescribeVideo(const char* name, int64_t* fileLength);
