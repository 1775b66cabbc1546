// The installable video codecs under their Video for Windows names, over libavcodec and libswscale.
//
// Compressors: a fixed list of libavcodec encoders that take 24-bit bottom-up BGR frames and write a
// stream any AVI reader decodes from its 40-byte BITMAPINFOHEADER alone (no extra format bytes).
// ICInfo enumerates them in this order; those whose encoder is missing at run time are left out:
//
//   FOURCC  encoder    quality (ICCompress dwQuality 0..10000, q = dwQuality / 100)   default
//   MJPG    mjpeg      quantiser 2 + round((100 - q) x 29 / 100): 100 -> 2, 0 -> 31     9000
//   FFV1    ffv1       lossless, no quality (every frame a self-contained key frame)      -
//   FMP4    mpeg4      quantiser 2 + round((100 - q) x 29 / 100), intra-only              9000
//   H264    libx264    crf 17 + round((100 - q) x 34 / 100): 100 -> 17, 0 -> 51, all IDR  8200 (crf 23)
//   MSVC    msvideo1   no quality; width and height must be multiples of 4               -
//   cvid    cinepak    rate weight (lambda) 1 + (100 - q) x 512 / 100 (50 -> 257, the     5000
//                      encoder's own default); width and height must be multiples of 4
//
// Quality 100 is each lossy encoder's visually transparent setting and 0 its smallest stream.
// dwQuality ICQUALITY_DEFAULT (-1) takes the default column; values above 10000 count as 10000.
// Every frame comes out as a key frame: the index flags say AVIIF_KEYFRAME and the chunk id is
// "00dc". The compressed size is written to lpbiOutput->biSizeImage; the output buffer must hold
// lpbiOutput->biSizeImage bytes on entry (ICCompressGetSize bytes when that field is 0), and a frame
// that would not fit fails with ICERR_BADSIZE.
//
// Decompressors: every FOURCC that libavformat's RIFF table maps to a libavcodec decoder (found with
// ICLocate or ICOpen by handler). Output is 24-bit bottom-up BGR with rows padded to 4 bytes, or
// 16-bit 5-5-5 or 32-bit BGRX where the caller's output header asks for it; a negative output height
// means top-down rows. The decoder keeps its state between frames, so a delta frame decodes
// correctly when the frames since the last key frame were fed before it. lpbiFormat->biSizeImage
// must hold the byte count of the compressed frame (0 decodes nothing and leaves the output as it
// was). Uncompressed input (BI_RGB) is never handled by a codec. No codec draws: ICDrawBegin and
// ICM_DRAW_QUERY are refused, so callers draw through DrawDib (drawdib.h).
//
// Handles are checked: a stale or foreign HIC gives ICERR_BADHANDLE, never a crash. Use one handle
// from one thread at a time; the functions themselves may be called from any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/wintypes.h"

using DWORD = uint32_t;
using UINT = unsigned;
using LONG = int32_t;
using BOOL = int;
using WCHAR = char16_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using DWORD_PTR = uintptr_t;

struct HIC__;
using HIC = HIC__*;  // an open codec; null is no codec
struct HDRVR__;
using HDRVR = HDRVR__*;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr FOURCC ICTYPE_VIDEO = FourCC("vidc");
constexpr UINT ICVERSION = 0x0104;

// ICOpen / ICLocate modes.
constexpr UINT ICMODE_COMPRESS = 1;
constexpr UINT ICMODE_DECOMPRESS = 2;
constexpr UINT ICMODE_FASTDECOMPRESS = 3;
constexpr UINT ICMODE_QUERY = 4;
constexpr UINT ICMODE_FASTCOMPRESS = 5;
constexpr UINT ICMODE_DRAW = 8;

// Results of ICSendMessage and the IC* calls.
constexpr LRESULT ICERR_OK = 0;
constexpr LRESULT ICERR_DONTDRAW = 1;
constexpr LRESULT ICERR_NEWPALETTE = 2;
constexpr LRESULT ICERR_GOTOKEYFRAME = 3;
constexpr LRESULT ICERR_STOPDRAWING = 4;
constexpr LRESULT ICERR_UNSUPPORTED = -1;
constexpr LRESULT ICERR_BADFORMAT = -2;
constexpr LRESULT ICERR_MEMORY = -3;
constexpr LRESULT ICERR_INTERNAL = -4;
constexpr LRESULT ICERR_BADFLAGS = -5;
constexpr LRESULT ICERR_BADPARAM = -6;
constexpr LRESULT ICERR_BADSIZE = -7;
constexpr LRESULT ICERR_BADHANDLE = -8;
constexpr LRESULT ICERR_CANTUPDATE = -9;
constexpr LRESULT ICERR_ABORT = -10;
constexpr LRESULT ICERR_ERROR = -100;
constexpr LRESULT ICERR_BADBITDEPTH = -200;
constexpr LRESULT ICERR_BADIMAGESIZE = -201;

constexpr DWORD AVIIF_LIST = 0x00000001;

constexpr DWORD ICQUALITY_LOW = 0;
constexpr DWORD ICQUALITY_HIGH = 10000;
constexpr DWORD ICQUALITY_DEFAULT = 0xFFFFFFFF;  // -1

// Driver messages (function drivers installed with ICInstall receive DRV_OPEN and DRV_CLOSE).
constexpr UINT DRV_OPEN = 0x0003;
constexpr UINT DRV_CLOSE = 0x0004;
constexpr UINT DRV_USER = 0x4000;

constexpr UINT ICM_USER = DRV_USER + 0x0000;
constexpr UINT ICM_RESERVED = DRV_USER + 0x1000;
constexpr UINT ICM_GETSTATE = ICM_RESERVED + 0;
constexpr UINT ICM_SETSTATE = ICM_RESERVED + 1;
constexpr UINT ICM_GETINFO = ICM_RESERVED + 2;
constexpr UINT ICM_CONFIGURE = ICM_RESERVED + 10;
constexpr UINT ICM_ABOUT = ICM_RESERVED + 11;
constexpr UINT ICM_GETDEFAULTQUALITY = ICM_RESERVED + 30;
constexpr UINT ICM_GETQUALITY = ICM_RESERVED + 31;
constexpr UINT ICM_SETQUALITY = ICM_RESERVED + 32;
constexpr UINT ICM_COMPRESS_GET_FORMAT = ICM_USER + 4;
constexpr UINT ICM_COMPRESS_GET_SIZE = ICM_USER + 5;
constexpr UINT ICM_COMPRESS_QUERY = ICM_USER + 6;
constexpr UINT ICM_COMPRESS_BEGIN = ICM_USER + 7;
constexpr UINT ICM_COMPRESS = ICM_USER + 8;
constexpr UINT ICM_COMPRESS_END = ICM_USER + 9;
constexpr UINT ICM_DECOMPRESS_GET_FORMAT = ICM_USER + 10;
constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;
constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;
constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;
constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;
constexpr UINT ICM_DRAW_BEGIN = ICM_USER + 15;
constexpr UINT ICM_DRAW_START = ICM_USER + 18;
constexpr UINT ICM_DRAW_STOP = ICM_USER + 19;
constexpr UINT ICM_DRAW_END = ICM_USER + 21;
constexpr UINT ICM_DRAW_QUERY = ICM_USER + 31;
constexpr UINT ICM_DRAW = ICM_USER + 33;
constexpr UINT ICM_DRAW_WINDOW = ICM_USER + 34;
constexpr UINT ICM_DRAW_FLUSH = ICM_USER + 37;

constexpr DWORD ICMF_CONFIGURE_QUERY = 0x00000001;
constexpr DWORD ICMF_ABOUT_QUERY = 0x00000001;

// ICINFO dwFlags.
constexpr DWORD VIDCF_QUALITY = 0x0001;
constexpr DWORD VIDCF_CRUNCH = 0x0002;
constexpr DWORD VIDCF_TEMPORAL = 0x0004;
constexpr DWORD VIDCF_COMPRESSFRAMES = 0x0008;
constexpr DWORD VIDCF_DRAW = 0x0010;
constexpr DWORD VIDCF_FASTTEMPORALC = 0x0020;
constexpr DWORD VIDCF_QUALITYTIME = 0x0040;
constexpr DWORD VIDCF_FASTTEMPORALD = 0x0080;
// Not in the Video for Windows headers: each frame's output depends on that frame and the
// compressor's settings alone, so several handles begun with the same formats compress frames in
// any order, on any threads, to the same bytes. A compressor without it keeps state from frame to
// frame (rate control, a random generator, a time base in each frame's header) and is fed the
// frames in order through one handle.
constexpr DWORD VIDCF_INDEPENDENT = 0x00010000;

constexpr DWORD ICCOMPRESS_KEYFRAME = 0x00000001;

constexpr DWORD ICDECOMPRESS_HURRYUP = 0x80000000;  // decode, keep the picture, write no output
constexpr DWORD ICDECOMPRESS_UPDATE = 0x40000000;   // write the last decoded picture again, no input
constexpr DWORD ICDECOMPRESS_PREROLL = 0x20000000;
constexpr DWORD ICDECOMPRESS_NULLFRAME = 0x10000000;
constexpr DWORD ICDECOMPRESS_NOTKEYFRAME = 0x08000000;

constexpr DWORD ICDRAW_QUERY = 0x00000001;
constexpr DWORD ICDRAW_FULLSCREEN = 0x00000002;
constexpr DWORD ICDRAW_HDC = 0x00000004;

constexpr UINT ICINSTALL_FUNCTION = 0x0001;

#pragma pack(push, 4)
struct ICOPEN {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwVersion;
    DWORD dwFlags;  // the ICMODE_* of the ICOpen call
    LRESULT dwError;
    void* pV1Reserved;
    void* pV2Reserved;
    DWORD dnDevNode;
};

struct ICINFO {
    DWORD dwSize;
    DWORD fccType;
    DWORD fccHandler;
    DWORD dwFlags;
    DWORD dwVersion;
    DWORD dwVersionICM;
    WCHAR szName[16];
    WCHAR szDescription[128];
    WCHAR szDriver[128];
};

struct ICCOMPRESS {
    DWORD dwFlags;
    BITMAPINFOHEADER* lpbiOutput;
    void* lpOutput;
    BITMAPINFOHEADER* lpbiInput;
    const void* lpInput;
    DWORD* lpckid;
    DWORD* lpdwFlags;
    LONG lFrameNum;
    DWORD dwFrameSize;
    DWORD dwQuality;
    BITMAPINFOHEADER* lpbiPrev;
    const void* lpPrev;
};

struct ICDECOMPRESS {
    DWORD dwFlags;
    BITMAPINFOHEADER* lpbiInput;
    const void* lpInput;
    BITMAPINFOHEADER* lpbiOutput;
    void* lpOutput;
    DWORD ckid;
};

struct ICDRAWBEGIN {
    DWORD dwFlags;
    void* hpal;
    HWND hwnd;
    HDC hdc;
    int xDst;
    int yDst;
    int dxDst;
    int dyDst;
    BITMAPINFOHEADER* lpbi;
    int xSrc;
    int ySrc;
    int dxSrc;
    int dySrc;
    DWORD dwRate;
    DWORD dwScale;
};
#pragma pack(pop)

// A codec driver function as ICInstall takes it: dwDriverId is what DRV_OPEN returned (0 refuses
// the open; lParam2 of DRV_OPEN points to an ICOPEN).
using DRIVERPROC = LRESULT (*)(DWORD_PTR dwDriverId, HDRVR hdrvr, UINT msg, LPARAM lParam1, LPARAM lParam2);

// Enumerates codecs: fccHandler below 256 is an index among the compressors of fccType (0 = any
// type), otherwise a handler code. Fills lpicinfo (may be null); FALSE past the end.
BOOL ICInfo(DWORD fccType, DWORD fccHandler, ICINFO* lpicinfo);
// Installs a function driver ahead of the built-in compressors (ICINSTALL_FUNCTION, lParam is a
// DRIVERPROC); a second install of the same handler replaces the first.
BOOL ICInstall(DWORD fccType, DWORD fccHandler, LPARAM lParam, const char* szDesc, UINT wFlags);
// Removes an installed driver, or hides a built-in compressor for the rest of the process.
BOOL ICRemove(DWORD fccType, DWORD fccHandler, UINT wFlags);
// Forgets installed drivers and shows every built-in compressor again (tests).
void ICResetDrivers();

// Opens a codec by handler code (case-insensitive for the built-in list); null when none.
HIC ICOpen(DWORD fccType, DWORD fccHandler, UINT wMode);
// Finds and opens a codec that handles lpbiIn (and lpbiOut when given) in the mode: a handler code of
// 0 means any. ICMODE_DRAW finds nothing (no codec draws).
HIC ICLocate(DWORD fccType, DWORD fccHandler, const BITMAPINFOHEADER* lpbiIn, const BITMAPINFOHEADER* lpbiOut,
             UINT wFlags);
// Copies up to cb bytes of the codec's ICINFO; returns the byte count copied, 0 on a bad handle.
LRESULT ICGetInfo(HIC hic, ICINFO* picinfo, DWORD cb);
LRESULT ICSendMessage(HIC hic, UINT msg, DWORD_PTR dw1, DWORD_PTR dw2);
// ICERR_OK; a bad handle gives ICERR_BADHANDLE. An open compression or decompression is ended first.
LRESULT ICClose(HIC hic);

DWORD ICCompress(HIC hic, DWORD dwFlags, BITMAPINFOHEADER* lpbiOutput, void* lpData,
                 BITMAPINFOHEADER* lpbiInput, const void* lpBits, DWORD* lpckid, DWORD* lpdwFlags,
                 LONG lFrameNum, DWORD dwFrameSize, DWORD dwQuality, BITMAPINFOHEADER* lpbiPrev,
                 const void* lpPrev);
DWORD ICDecompress(HIC hic, DWORD dwFlags, BITMAPINFOHEADER* lpbiFormat, const void* lpData,
                   BITMAPINFOHEADER* lpbi, void* lpBits);
// Every codec refuses, with or without ICDRAW_QUERY.
DWORD ICDrawBegin(HIC hic, DWORD dwFlags, void* hpal, HWND hwnd, HDC hdc, int xDst, int yDst, int dxDst,
                  int dyDst, BITMAPINFOHEADER* lpbi, int xSrc, int ySrc, int dxSrc, int dySrc, DWORD dwRate,
                  DWORD dwScale);
DWORD ICDraw(HIC hic, DWORD dwFlags, void* lpFormat, const void* lpData, DWORD cbData, LONG lTime);

// The message wrappers of the Video for Windows headers.
inline LRESULT ICCompressBegin(HIC h, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return ICSendMessage(h, ICM_COMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(in),
                         reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICCompressQuery(HIC h, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return ICSendMessage(h, ICM_COMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(in),
                         reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICCompressGetFormat(HIC h, const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    return ICSendMessage(h, ICM_COMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(in),
                         reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICCompressGetFormatSize(HIC h, const BITMAPINFOHEADER* in) {
    return ICCompressGetFormat(h, in, nullptr);
}
inline LRESULT ICCompressGetSize(HIC h, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return ICSendMessage(h, ICM_COMPRESS_GET_SIZE, reinterpret_cast<DWORD_PTR>(in),
                         reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICCompressEnd(HIC h) {
    return ICSendMessage(h, ICM_COMPRESS_END, 0, 0);
}
inline LRESULT ICDecompressBegin(HIC h, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return ICSendMessage(h, ICM_DECOMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(in),
                         reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICDecompressQuery(HIC h, const BITMAPINFOHEADER* in, const BITMAPINFOHEADER* out) {
    return ICSendMessage(h, ICM_DECOMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(in),
                         reinterpret_cast<DWORD_PTR>(out));
}
// Fills out with the default output (24-bit, the input's size); with a null out, the bytes needed.
inline LRESULT ICDecompressGetFormat(HIC h, const BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
    return ICSendMessage(h, ICM_DECOMPRESS_GET_FORMAT, reinterpret_cast<DWORD_PTR>(in),
                         reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICDecompressEnd(HIC h) {
    return ICSendMessage(h, ICM_DECOMPRESS_END, 0, 0);
}
inline bool ICQueryAbout(HIC h) {
    return ICSendMessage(h, ICM_ABOUT, static_cast<DWORD_PTR>(-1), ICMF_ABOUT_QUERY) == ICERR_OK;
}
inline LRESULT ICAbout(HIC h, HWND owner) {
    return ICSendMessage(h, ICM_ABOUT, reinterpret_cast<DWORD_PTR>(owner), 0);
}
inline bool ICQueryConfigure(HIC h) {
    return ICSendMessage(h, ICM_CONFIGURE, static_cast<DWORD_PTR>(-1), ICMF_CONFIGURE_QUERY) == ICERR_OK;
}
inline LRESULT ICConfigure(HIC h, HWND owner) {
    return ICSendMessage(h, ICM_CONFIGURE, reinterpret_cast<DWORD_PTR>(owner), 0);
}
// The codec's default quality (0..10000), or ICQUALITY_DEFAULT when it has no quality scale.
inline DWORD ICGetDefaultQuality(HIC h) {
    DWORD value = ICQUALITY_DEFAULT;
    if (ICSendMessage(h, ICM_GETDEFAULTQUALITY, reinterpret_cast<DWORD_PTR>(&value), sizeof value) !=
        ICERR_OK)
        return ICQUALITY_DEFAULT;
    return value;
}
inline LRESULT ICDrawStart(HIC h) {
    return ICSendMessage(h, ICM_DRAW_START, 0, 0);
}
inline LRESULT ICDrawStop(HIC h) {
    return ICSendMessage(h, ICM_DRAW_STOP, 0, 0);
}
inline LRESULT ICDrawEnd(HIC h) {
    return ICSendMessage(h, ICM_DRAW_END, 0, 0);
}
inline LRESULT ICDrawFlush(HIC h) {
    return ICSendMessage(h, ICM_DRAW_FLUSH, 0, 0);
}
inline LRESULT ICDrawWindow(HIC h, const void* rect) {
    return ICSendMessage(h, ICM_DRAW_WINDOW, reinterpret_cast<DWORD_PTR>(rect), 16);
}

// An ICINFO text as the system shows it: the low byte of each wide character, at most maxChars.
std::string ICInfoText(const WCHAR* text, int capacity, int maxChars);

// J420: planar Y, Cb, Cr at 4:2:0 in full range (BT.601, as JPEG stores it), top row first, the
// planes one after another without padding: width x height luma bytes, then ceil(width / 2) x
// ceil(height / 2) bytes of Cb and as many of Cr. A header describes it with biCompression
// kFormatJ420, biBitCount 12 and a positive height. Every decoder writes it on request; compressors
// whose own picture format is 4:2:0 (Motion JPEG, MPEG-4, H.264) accept it as input, and
// ICCompressQuery tells which. Buffers handed over in this form keep kJ420Slack bytes after the
// planes, which conversions may read.
constexpr FOURCC kFormatJ420 = FourCC("J420");
constexpr uint32_t kJ420Slack = 64;
// The bytes of a J420 frame (without the slack); 0 for sizes outside 1..kMaxCodecDimension.
uint32_t J420Bytes(int32_t width, int32_t height);
// A J420 header for a width x height frame.
BITMAPINFOHEADER J420Format(int32_t width, int32_t height);

// The largest width or height any codec here accepts.
constexpr int32_t kMaxCodecDimension = 16384;

// What the quality slider (0..100) means to each encoder, for every writer of these codecs (the
// MP4 writer included): the MJPG and FMP4 quantiser, and the H264 constant rate factor.
int QualityToQuantiser(int quality100);
int QualityToRateFactor(int quality100);
// The quality that gives x264's own default rate factor (23): the H264 compressor's default and
// where MP4 files start, in the studio and on the command line alike (100 makes files nearly twice
// the size with no difference to see).
constexpr int kH264DefaultQuality = 82;

// A Motion JPEG frame as every decoder reads it: out is the frame, with the standard Huffman tables
// put in before its frame header when it carries none (cameras leave them out). False, out empty,
// for bytes that are no whole baseline JPEG header up to its first scan.
bool JpegWithHuffmanTables(const uint8_t* data, size_t bytes, std::vector<uint8_t>& out);

// Routes libav's warnings and errors into the debug log (once per process; every user of libav
// calls it before its first use).
void InitLibav();
