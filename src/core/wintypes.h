// Plain stand-ins for the Windows types the system passes around: bitmap and wave format
// headers laid out exactly as they are stored in files, FOURCC codes, opaque window handles
// and the message-box constants.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

using FOURCC = uint32_t;

constexpr FOURCC mmioFOURCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<uint8_t>(a)) |
           (static_cast<uint32_t>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<uint32_t>(static_cast<uint8_t>(c)) << 16) |
           (static_cast<uint32_t>(static_cast<uint8_t>(d)) << 24);
}

// The FOURCC of a four-character literal such as "MJPG".
constexpr FOURCC FourCC(const char (&s)[5]) {
    return mmioFOURCC(s[0], s[1], s[2], s[3]);
}

// A window, device context or other user-interface object, opaque below the GUI layer.
using HWND = void*;
using HDC = void*;
using HINSTANCE = void*;

// A rectangle whose right and bottom lie one past its last pixel, and a point.
struct RECT {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};
struct POINT {
    int32_t x;
    int32_t y;
};

#pragma pack(push, 1)
struct BITMAPFILEHEADER {
    uint16_t bfType;
    uint32_t bfSize;
    uint16_t bfReserved1;
    uint16_t bfReserved2;
    uint32_t bfOffBits;
};

struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

struct BITMAPCOREHEADER {
    uint32_t bcSize;
    uint16_t bcWidth;
    uint16_t bcHeight;
    uint16_t bcPlanes;
    uint16_t bcBitCount;
};

struct RGBQUAD {
    uint8_t rgbBlue;
    uint8_t rgbGreen;
    uint8_t rgbRed;
    uint8_t rgbReserved;
};

// The 16-byte PCM wave format (WAVEFORMAT plus wBitsPerSample).
struct PCMWAVEFORMAT {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
};
#pragma pack(pop)

// The wave format with its extension size, as wave output and capture take it, and the header of
// one block of sound handed to or from a wave device.
constexpr uint16_t WAVE_FORMAT_PCM = 1;
#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

struct WAVEHDR {
    char* lpData;
    uint32_t dwBufferLength;
    uint32_t dwBytesRecorded;
    uintptr_t dwUser;
    uint32_t dwFlags;
    uint32_t dwLoops;
    WAVEHDR* lpNext;
    uintptr_t reserved;
};

static_assert(sizeof(BITMAPFILEHEADER) == 14);
static_assert(sizeof(BITMAPINFOHEADER) == 40);
static_assert(sizeof(BITMAPCOREHEADER) == 12);
static_assert(sizeof(PCMWAVEFORMAT) == 16);

constexpr uint32_t BI_RGB = 0;

// The key-frame flag of an AVI index entry, shared by the file code and the codecs.
constexpr uint32_t AVIIF_KEYFRAME = 0x10;

// MessageBoxA styles and results.
constexpr unsigned MB_OK = 0x0;
constexpr unsigned MB_OKCANCEL = 0x1;
constexpr unsigned MB_YESNO = 0x4;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONEXCLAMATION = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;
constexpr unsigned MB_TYPEMASK = 0xF;
constexpr unsigned MB_ICONMASK = 0xF0;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// a x b / c rounded half away from zero, as MulDiv rounds; -1 when c is 0 or the result does
// not fit 32 bits.
inline int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
    if (c == 0) return -1;
    int64_t p = static_cast<int64_t>(a) * b;
    int64_t q = c < 0 ? -static_cast<int64_t>(c) : c;
    if (c < 0) p = -p;
    int64_t r = p >= 0 ? (p + q / 2) / q : -((-p + q / 2) / q);
    if (r > INT32_MAX || r < INT32_MIN) return -1;
    return static_cast<int32_t>(r);
}

// Reads a little-endian 16- or 32-bit value from a byte buffer.
inline uint16_t ReadLE16(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}
inline uint32_t ReadLE32(const void* p) {
    const auto* b = static_cast<const uint8_t*>(p);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline void WriteLE16(void* p, uint16_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
}
inline void WriteLE32(void* p, uint32_t v) {
    auto* b = static_cast<uint8_t*>(p);
    b[0] = static_cast<uint8_t>(v);
    b[1] = static_cast<uint8_t>(v >> 8);
    b[2] = static_cast<uint8_t>(v >> 16);
    b[3] = static_cast<uint8_t>(v >> 24);
}

// Bytes in one row of a bottom-up DIB: width x bits rounded up to a multiple of 4 bytes.
constexpr uint32_t DibRowBytes(int32_t width, int32_t bitCount) {
    return width <= 0 || bitCount <= 0
               ? 0
               : static_cast<uint32_t>(
                     ((static_cast<uint64_t>(width) * static_cast<uint32_t>(bitCount) + 31) / 32) * 4);
}

// The header of a 24-bit uncompressed bottom-up DIB of width x height (a height below 0 counts as 0
// in the image size).
inline BITMAPINFOHEADER Dib24Format(int32_t width, int32_t height) {
    BITMAPINFOHEADER f{};
    f.biSize = sizeof f;
    f.biWidth = width;
    f.biHeight = height;
    f.biPlanes = 1;
    f.biBitCount = 24;
    f.biCompression = BI_RGB;
    f.biSizeImage = DibRowBytes(width, 24) * static_cast<uint32_t>(height > 0 ? height : 0);
    return f;
}

// A FOURCC as text, as "%4.4s" prints it: up to the first zero byte, anything unprintable as '?'.
inline std::string FourCCText(FOURCC code) {
    std::string s;
    for (int i = 0; i < 4; i++) {
        char c = static_cast<char>((code >> (8 * i)) & 0xFF);
        if (c == '\0') break;
        s += (c >= 32 && c < 127) ? c : '?';
    }
    return s;
}
