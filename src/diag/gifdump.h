// The GIF structure dump, a developer's diagnostic: every header field, colour table, image
// descriptor and extension of a GIF87a or GIF89a file, written as text next to it. No pixels are
// decoded, and nothing read from the file sizes a buffer: a cut file ends the dump where it ends.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win/wintypes.h"

// The GIF file chosen last, at most 199 characters; it seeds the next file dialog.
extern char gLastGifPath[200];

// The largest buffer the dump reads into: a 256-entry colour table (768 bytes) and a terminator.
constexpr size_t kGifReadBufferBytes = 769;

// Writes the dump of gif to out. 0 once the output was written (a file that is not a GIF gets
// "Illegal file" and an output of one line); -1 when the output could not be created, or would
// replace the GIF file itself, and nothing was written.
int32_t GifDump(const char* gif, const char* out);

// The output name: the GIF path without its last three characters, followed by "txt".
std::string GifDumpOutputName(const std::string& gif);

// The command behind Shift with the Help menu's About: asks for the file, dumps it beside itself
// and says where.
void GifDumpCommand(HWND owner);
