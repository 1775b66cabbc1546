// Process-wide items the start-up sets for everyone else: whether mail is offered and the command
// line the program received.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The "MAPI" entry of the "Mail" section of win.ini read as a number; non-zero offers sending.
extern int32_t gMailAvailable;

// The arguments after the program's name, once the toolkit took its own options out.
extern std::vector<std::string> gCommandLine;

// "%d" of the entry text as the start-up reads it: 0 when it holds no number.
int32_t ParseMailAvailable(const char* text);
