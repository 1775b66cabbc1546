// The revision list editor's texts and checks, without windows.
#pragma once

#include "project/project.h"

// The longest part of a title's first line a list line shows.
constexpr int32_t kRevisionTitleChars = 80;

// The editor's line for a revision: the time codes of its first and last frame at the project's
// frame rate (empty at rate 0) and what it does. The text lives in one buffer, valid until the next
// call.
const char* RevisionText(const Revision* revision);
// True when the revision is still one of the project's list.
bool IsProjectRevision(const Revision* revision);
