// The "Add Title To Frames" dialog (resource 1173): the lines of one title, its font and colour and
// one of nine positions. Every change is previewed at once in the modeless picture view, when the
// caller opened one on the frame being titled.
#pragma once

#include <cstdint>

#include "core/wintypes.h"
#include "project/project.h"

constexpr int32_t kTitleDialogId = 1173;
constexpr int32_t kTitleLineList = 1589;
constexpr int32_t kTitleLineEdit = 1500;
constexpr int32_t kTitleNewLine = 1508;  // the hidden default button: Enter commits the edit line
constexpr int32_t kTitleFont = 1591;
constexpr int32_t kTitleFontLabel = 1385;
constexpr int32_t kTitleRemove = 1595;
constexpr int32_t kTitleUpperLeft =
    2092;  // UL UC UR 2092-2094, CL 2095, CC 1596, CR 1597, LL LC LR 2096-2098
constexpr int32_t kTitleCentre = 1596;
constexpr int32_t kTitleLowerRight = 2098;
constexpr int32_t kTitleHelpContext = 3;

// The longest line the edit box takes; longer lines of a loaded title are listed cut and stay whole
// in the text unless they are edited.
constexpr int32_t kMaxTitleLine = 499;

// A new title made of the lines the user commits, or null when none was committed or the dialog was
// cancelled. The record (MyCalloc) belongs to the caller.
TitleRecord* NewTitleDialog(HWND owner);
// Edits the title through a working copy: 1 when the dialog ran (the record then holds the edited
// title, or is unchanged after Cancel), 0 when no copy could be made or the record has no text.
int EditTitleDialog(HWND owner, TitleRecord* title);
// Takes the edit box's line into the dialog's title (replacing the line loaded from the list,
// or appended), refills the list, empties the edit box and, with preview, redraws the picture
// view. 1 when a line was taken; 0 when the edit box was empty or memory ran out (nothing changed).
int CommitTitleLine(HWND dialog, bool preview);
// One list entry per line of text, with the line's first character's offset as its data.
void FillTitleLineList(HWND dialog, const char* text);
