#include "ui/bitmaps.h"

#include <cstring>

#include "core/diag.h"
#include "core/memory.h"
#include "ui/resources.h"

namespace {

constexpr size_t kFileHeaderSize = sizeof(BITMAPFILEHEADER);
constexpr uint32_t kMaxInfoHeaderSize = 124;  // BITMAPV5HEADER

BitmapRecord* gBitmaps = nullptr;

void CopyName(char* dest, size_t capacity, const char* src) {
    size_t n = src ? strnlen(src, capacity - 1) : 0;
    if (n) std::memcpy(dest, src, n);
    dest[n] = '\0';
}

// Fills the record's picture fields from a bitmap file, checking every size and offset
// against the bytes really there. False for anything that is not a plain uncompressed bitmap.
bool ParseBitmapFile(const uint8_t* file, size_t size, BitmapRecord& r) {
    if (!file || size < kFileHeaderSize + sizeof(BITMAPINFOHEADER)) return false;
    if (file[0] != 'B' || file[1] != 'M') return false;
    uint32_t offBits = ReadLE32(file + 10);
    std::memcpy(&r.header, file + kFileHeaderSize, sizeof(BITMAPINFOHEADER));
    const BITMAPINFOHEADER& h = r.header;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biSize > kMaxInfoHeaderSize) return false;
    if (kFileHeaderSize + h.biSize > size) return false;
    if (h.biWidth < 1 || h.biWidth > kMaxBitmapDimension) return false;
    if (h.biHeight < 1 || h.biHeight > kMaxBitmapDimension) return false;  // bottom-up rows only
    if (h.biPlanes != 1 || h.biCompression != BI_RGB) return false;
    uint32_t maxColours = 0;
    switch (h.biBitCount) {
        case 1:
            maxColours = 2;
            break;
        case 4:
            maxColours = 16;
            break;
        case 8:
            maxColours = 256;
            break;
        case 24:
        case 32:
            break;
        default:
            return false;
    }
    // 16 or 256 entries as usual; fewer when the header says so; none for true-colour pictures.
    uint32_t colours = maxColours;
    if (h.biClrUsed > 0 && h.biClrUsed < maxColours) colours = h.biClrUsed;
    size_t tableAt = kFileHeaderSize + h.biSize;
    size_t tableEnd = tableAt + static_cast<size_t>(colours) * 4;
    if (tableEnd > size) return false;
    uint64_t stride = ((static_cast<uint64_t>(h.biWidth) * h.biBitCount + 31) / 32) * 4;
    uint64_t pixelBytes = stride * static_cast<uint64_t>(h.biHeight);
    size_t bitsAt = (offBits >= tableEnd && offBits < size) ? offBits : tableEnd;
    if (bitsAt + pixelBytes > size) return false;
    r.file = file;
    r.fileSize = size;
    r.height = h.biHeight;
    r.colours = static_cast<int32_t>(colours);
    r.table = colours ? file + tableAt : nullptr;
    r.bits = file + bitsAt;
    r.stride = static_cast<int32_t>(stride);
    return true;
}

}  // namespace

BitmapRecord* LoadBitmapResource(HINSTANCE, const char* name) {
    auto* r = static_cast<BitmapRecord*>(MyCalloc(1, sizeof(BitmapRecord)));
    if (!r) return nullptr;
    ResourceData data;
    if (!name || strnlen(name, sizeof r->name) >= sizeof r->name ||
        !FindResourceData(name, "MYBITMAP", data)) {
        NotifyBox("Couldn't find resource");
        MyFree(r);
        return nullptr;
    }
    CopyName(r->name, sizeof r->name, name);
    if (!ParseBitmapFile(data.data, data.size, *r)) {
        DebugLog("LoadBitmapResource: %s is not a plain uncompressed bitmap", name);
        NotifyBox("Couldn't load resource");
        MyFree(r);
        return nullptr;
    }
    return r;
}

BitmapRecord* FindLoadedBitmap(const char* name) {
    if (!name) return nullptr;
    for (BitmapRecord* b = gBitmaps; b; b = b->next)
        if (std::strcmp(b->name, name) == 0) return b;
    return nullptr;
}

ButtonRecord* AddButtonImage(ButtonRecord* list, HINSTANCE module, int32_t controlId, const char* bitmapName,
                             int32_t sourceX, int32_t sourceY, int32_t width, int32_t height, int32_t rowStep,
                             const char* caption) {
    auto* b = static_cast<ButtonRecord*>(MyCalloc(1, sizeof(ButtonRecord)));
    if (!b) {
        NotifyBox("Couldn't add image for button");
        return list;
    }
    b->controlId = controlId;
    b->sourceX = sourceX;
    b->sourceY = sourceY;
    b->width = width;
    b->height = height;
    b->rowStep = rowStep;
    if (caption) CopyName(b->caption, sizeof b->caption, caption);
    BitmapRecord* bitmap = FindLoadedBitmap(bitmapName);
    if (!bitmap) {
        bitmap = LoadBitmapResource(module, bitmapName);
        if (bitmap) {
            bitmap->next = gBitmaps;
            gBitmaps = bitmap;
        }
    }
    if (!bitmap) {
        MyFree(b);
        NotifyBox("Couldn't add image for button");
        return list;
    }
    b->bitmap = bitmap;
    b->next = list;
    return b;
}

ButtonRecord* AddBitmapButton(ButtonRecord* list, HINSTANCE module, int32_t controlId, const char* bitmapName,
                              int32_t sourceX, int32_t sourceY, int32_t width, int32_t height) {
    return AddButtonImage(list, module, controlId, bitmapName, sourceX, sourceY, width, height, height,
                          nullptr);
}

void SetButtonImage(ButtonRecord* list, int32_t controlId, int32_t sourceX, int32_t sourceY) {
    if (ButtonRecord* b = FindButtonRecord(list, controlId)) {
        b->sourceX = sourceX;
        b->sourceY = sourceY;
    }
}

void FreeButtonList(ButtonRecord* list) {
    while (list) {
        ButtonRecord* next = list->next;
        MyFree(list);
        list = next;
    }
}

ButtonRecord* FindButtonRecord(ButtonRecord* list, int32_t controlId) {
    for (ButtonRecord* b = list; b; b = b->next)
        if (b->controlId == controlId) return b;
    return nullptr;
}

int32_t ButtonImageRow(uint32_t itemState) {
    if (itemState & ODS_SELECTED) return 2;
    if (itemState & ODS_DISABLED) return 3;
    if (itemState & ODS_FOCUS) return 1;
    return 0;
}

int32_t ButtonImageTop(const ButtonRecord& button, uint32_t itemState) {
    int64_t top = static_cast<int64_t>(button.sourceY) +
                  static_cast<int64_t>(ButtonImageRow(itemState)) * button.rowStep;
    if (top > INT32_MAX) return INT32_MAX;
    if (top < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(top);
}
