// Counts and times as the short texts of the storyboard, the VCR display and the capture panels.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// n with thousands separators ("2,147,483,647"); a negative count gets one leading "-".
// The text lives in a buffer of the calling thread, valid until that thread calls again.
const char* FormatThousands(int32_t n);
// "HHhMMmSSsFF" into buffer (at least 16 characters). Hours above 9999 give "*", below -9 "-*";
// -9..-1 stand for negative times and print "-" and -h - 1. Fields outside 0..99 are clamped.
void FormatHMSF(int32_t h, int32_t m, int32_t s, int32_t f, char* buffer);
// A frame count as a time code; rate below 1000 is frames per second, else microseconds per frame.
void FormatTimecode(char* buffer, int32_t v, int32_t rate);
// "59minutes", "1h01m", "1d01h00m".
char* FormatMinutes(char* buffer, int32_t t);
// "45secs", "2m5s", "1h00m", "1d01h00m".
char* FormatSeconds(char* buffer, int32_t t);

// Copies src into a fixed text field of `capacity` bytes (terminator included), cut to fit but never
// in the middle of a UTF-8 sequence.
void CopyCut(char* dest, size_t capacity, std::string_view src);
