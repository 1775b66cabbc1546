// Owner-drawn bitmap buttons, the part without windows: bitmap records (one per artwork resource,
// loaded once and kept for the life of the process) and each panel's list of button records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/wintypes.h"

// The largest width or height of an artwork bitmap.
constexpr int32_t kMaxBitmapDimension = 8192;

struct BitmapRecord {
    BitmapRecord* next;
    char name[40];
    const uint8_t* file;  // the whole bitmap file inside the resource
    size_t fileSize;
    BITMAPINFOHEADER header;
    int32_t height;        // biHeight
    int32_t colours;       // entries of the colour table
    const uint8_t* table;  // the colour table (RGBQUADs), or null
    const uint8_t* bits;   // the pixel rows, bottom row first
    int32_t stride;        // bytes per pixel row
};

struct ButtonRecord {
    ButtonRecord* next;
    BitmapRecord* bitmap;
    int32_t controlId;
    int32_t state;  // negative: the button is not drawn
    int32_t pressed;
    int32_t sourceX;
    int32_t sourceY;  // the normal image's top, counted from the bitmap's top
    int32_t width;
    int32_t height;
    int32_t rowStep;  // distance between the state images
    char caption[12];
};

// The owner-draw request of one button, as WM_DRAWITEM carried it; hDC is the painter to draw with.
struct DRAWITEMSTRUCT {
    uint32_t CtlType;
    uint32_t CtlID;
    uint32_t itemID;
    uint32_t itemAction;
    uint32_t itemState;
    HWND hwndItem;
    HDC hDC;
    RECT rcItem;
};
constexpr uint32_t ODT_BUTTON = 4;
constexpr uint32_t ODA_DRAWENTIRE = 1;
constexpr uint32_t ODS_SELECTED = 0x1;
constexpr uint32_t ODS_DISABLED = 0x4;
constexpr uint32_t ODS_FOCUS = 0x10;

// The resource "MYBITMAP" of that name as a new bitmap record, or null after a message
// ("Couldn't find resource", or "Couldn't load resource" for a bitmap that is not sound).
BitmapRecord* LoadBitmapResource(HINSTANCE module, const char* name);
// The loaded bitmap of that name (exact, case-sensitive), or null.
BitmapRecord* FindLoadedBitmap(const char* name);

// Returns the new head of the list, or the old head after "Couldn't add image for button".
ButtonRecord* AddButtonImage(ButtonRecord* list, HINSTANCE module, int32_t controlId, const char* bitmapName,
                             int32_t sourceX, int32_t sourceY, int32_t width, int32_t height, int32_t rowStep,
                             const char* caption);
ButtonRecord* AddBitmapButton(ButtonRecord* list, HINSTANCE module, int32_t controlId, const char* bitmapName,
                              int32_t sourceX, int32_t sourceY, int32_t width, int32_t height);
// Moves that button's images to another place in the same bitmap.
void SetButtonImage(ButtonRecord* list, int32_t controlId, int32_t sourceX, int32_t sourceY);
// Frees every button record of the list (never the bitmaps).
void FreeButtonList(ButtonRecord* list);
ButtonRecord* FindButtonRecord(ButtonRecord* list, int32_t controlId);

// The state image for an owner-draw item state: 2 pressed (even with the focus), else 3 disabled,
// else 1 focused, else 0.
int32_t ButtonImageRow(uint32_t itemState);
// The top of that state image, counted from the bitmap's top.
int32_t ButtonImageTop(const ButtonRecord& button, uint32_t itemState);
