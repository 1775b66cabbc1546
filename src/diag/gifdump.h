// The GIF structure dump, a developer's diagnostic: every header field, colour table, image
// descriptor and extension of a GIF87a or GIF89a file, written as text next to it. No pixels are
// decoded, and nothing read from the file sizes a buffer: a cut file ends the dump where it ends.
#pragma once

#include <cstdint>
#include <string>

#include "core/wintypes.h"

// The GIF file chosen last, at most 199 characters; it seeds the next file dialog.
extern char gLastGifPath[200];

// The largest buffer the dump reads into: a 256-entry colour table (768 bytes) and a terminator.
constexpr size_t kGifReadBufferBytes = 769;

// Writes the dump of gif to out, whole or not at all: out is replaced only once the GIF was read,
// and never when the user protected it. 0 once the output was written; -1 when it could not be,
// or would replace the GIF file itself; -2 after a message when gif cannot be opened
// or is not a GIF file ("Illegal file"). Nothing is written but on 0.
int32_t GifDump(const char* gif, const char* out);

// The output name: the GIF path without its last three characters, followed by "txt"; a file name
// of fewer than four characters gets ".txt" added instead.
std::string GifDumpOutputName(const std::string& gif);

// The command behind Shift with the Help menu's About: asks for the file, dumps it beside itself
// and says where.
void GifDumpCommand(HWND owner);
