#include "playback/player.h"

#include <unistd.h>
#include <algorithm>
#include <cstring>
#include <memory>

#include "core/diag.h"
#include "core/format.h"
#include "core/memory.h"
#include "media/riff.h"
#include "platform/wave/wave.h"
#include "playback/host.h"
#include "project/playmap.h"
#include "render/titles.h"
#include "settings/settings.h"

PlayerState gPlayer;
AVIinfoRecord AVIinfo;

namespace {

constexpr int32_t kNoFrame = -1000;
constexpr FOURCC kMJPG = FourCC("MJPG");
constexpr FOURCC kAURA = FourCC("AURA");

// Frames go to the one open player's picture.
class PicturePainter : public DrawDibPainter {
  public:
    void Paint(const DrawDibPaint& p) override {
        PlayPicture* picture = static_cast<PlayPicture*>(p.hdc);
        if (!picture || picture != gPlayer.dc) return;
        picture->format = *p.format;
        const auto* bits = static_cast<const uint8_t*>(p.bits);
        picture->bits.assign(bits, bits + p.format->biSizeImage);
        picture->serial++;
        if (picture->changed) picture->changed();
    }
};

bool Uncompressed(const AVIlist* rec) {
    return rec && rec->compression == BI_RGB;
}

bool IsKeyFrame(int32_t f) {
    AVIlist* rec = gPlayer.frameRecord[static_cast<size_t>(f)];
    if (Uncompressed(rec)) return true;
    uint32_t e = gPlayer.frameChunk[static_cast<size_t>(f)];
    return rec->idx && static_cast<int32_t>(e) < rec->nidx && (rec->idx[e].dwFlags & AVIIF_KEYFRAME);
}

uint32_t OverlayBits(int32_t f) {
    if (!gPlayer.projectMode || !gPlayer.playMap || f < 0 || f >= gPlayer.playMapWords) return 0;
    return gPlayer.playMap[f] & kPlayMapOverlayBits;
}

// Reads source frame f into rec's video buffer; the byte count, or -1.
int32_t ReadSource(int32_t f, AVIlist* rec) {
    if (!rec || !rec->vptr || f < 0 || f >= static_cast<int32_t>(gPlayer.frameRecord.size())) return -1;
    AVIlist* owner = gPlayer.frameRecord[static_cast<size_t>(f)];
    uint32_t e = gPlayer.frameChunk[static_cast<size_t>(f)];
    if (!owner->idx || static_cast<int32_t>(e) >= owner->nidx) return -1;
    const AVIINDEXENTRY& entry = owner->idx[e];
    // A chunk larger than the buffer is cut to it: the index is not trusted with our memory.
    int32_t count = static_cast<int32_t>(std::min<uint32_t>(entry.dwChunkLength, rec->vsize));
    int32_t got = ReadChunkAt(f, owner, static_cast<int32_t>(entry.dwChunkOffset), rec->vptr, count);
    if (got != count)
        DebugLog("getFrame: frame %ld short read %ld of %ld", static_cast<long>(f), static_cast<long>(got),
                 static_cast<long>(count));
    gPlayer.lastChunkSize = std::max(got, 0);
    if (gPlayer.trace) gPlayer.fetches.push_back({f, true});
    return gPlayer.lastChunkSize;
}

void SaveFrame(const uint8_t* pixels, const BITMAPINFOHEADER& format, uint32_t available) {
    if (!gPlayer.underlay) return;
    uint32_t bytes =
        DibRowBytes(format.biWidth, format.biBitCount) * static_cast<uint32_t>(std::abs(format.biHeight));
    if (bytes == 0 || bytes > available) return;
    if (!gPlayer.savedFrame || gPlayer.savedBytes != bytes) {
        MyFree(gPlayer.savedFrame);
        gPlayer.savedFrame = static_cast<uint8_t*>(MyCalloc(1, bytes));
        gPlayer.savedBytes = gPlayer.savedFrame ? bytes : 0;
    }
    if (!gPlayer.savedFrame) return;
    std::memcpy(gPlayer.savedFrame, pixels, bytes);
    gPlayer.savedFormat = format;
}

// The stored format of a record, as the decoder and DrawDib take it, with this chunk's size.
BITMAPINFOHEADER* StoredFormat(AVIlist* rec, int32_t bytes) {
    if (rec == gPlayer.head) {
        gPlayer.display.header.biSizeImage = static_cast<uint32_t>(bytes);
        return &gPlayer.display.header;
    }
    auto* bi = reinterpret_cast<BITMAPINFOHEADER*>(rec->format);
    bi->biSizeImage = static_cast<uint32_t>(bytes);
    return bi;
}

// Decodes source frame f, showing it when `show`.
void DecodeSource(int32_t f, bool show) {
    AVIlist* head = gPlayer.head;
    AVIlist* owner = gPlayer.frameRecord[static_cast<size_t>(f)];
    int32_t bytes = ReadSource(f, head);
    if (bytes < 0) return;
    if (!show && gPlayer.trace) gPlayer.fetches.back().drawn = false;
    const bool overlays = OverlayBits(f) != 0;
    if (gPlayer.projectMode && Uncompressed(owner)) {
        BITMAPINFOHEADER* format = StoredFormat(owner, bytes);
        if (show) {
            SaveFrame(head->vptr, *format, head->vsize);
            if (overlays) ApplyTitle2(head->vptr, f + 1, owner->bits);
        }
        if (show && gPlayer.drawDib && gPlayer.dc)
            DrawDibDraw(gPlayer.drawDib, gPlayer.dc, 0, 0, 0, 0, format, head->vptr, -1, -1, -1, -1, 0);
        return;
    }
    if (gPlayer.decompressor) {
        BITMAPINFOHEADER* format = StoredFormat(owner, bytes);
        DWORD r = ICDecompress(gPlayer.decompressor, show ? 0 : ICDECOMPRESS_HURRYUP, format, head->vptr,
                               &gPlayer.outFormat, gPlayer.outBuffer);
        if (static_cast<int32_t>(r) != ICERR_OK)
            DebugLog("getFrame: ICDecompress of frame %ld failed (%ld)", static_cast<long>(f),
                     static_cast<long>(static_cast<int32_t>(r)));
        if (!show) return;
        SaveFrame(gPlayer.outBuffer, gPlayer.outFormat, gPlayer.outBytes);
        if (overlays) ApplyTitle2(gPlayer.outBuffer, f + 1, gPlayer.outFormat.biBitCount);
        if (gPlayer.drawDib && gPlayer.dc)
            DrawDibDraw(gPlayer.drawDib, gPlayer.dc, 0, 0, 0, 0, &gPlayer.outFormat, gPlayer.outBuffer, -1,
                        -1, -1, -1, 0);
        return;
    }
    if (gPlayer.drawDib)
        DrawDibDraw(gPlayer.drawDib, show ? gPlayer.dc : nullptr, 0, 0, 0, 0, StoredFormat(owner, bytes),
                    head->vptr, -1, -1, -1, -1, show ? 0 : DDF_DONTDRAW);
}

// Shows picture f of the MP4 file: decoded first, drawn when it is due.
bool ShowMovie(int32_t f, uint32_t due, bool wait) {
    const uint8_t* pixels = gPlayer.movie->Picture(f);
    if (gPlayer.trace) gPlayer.fetches.push_back({f, true});
    if (wait && HostWaitUntil(due, nullptr)) return false;
    if (pixels && gPlayer.drawDib && gPlayer.dc)
        DrawDibDraw(gPlayer.drawDib, gPlayer.dc, 0, 0, 0, 0, &gPlayer.display.header,
                    const_cast<uint8_t*>(pixels), -1, -1, -1, -1, 0);
    gPlayer.lastDrawn = f;
    return true;
}

// Shows source frame f, decoding from its last key frame, or after the last frame shown when that
// lies in between, so stepping forward decodes one frame. False when Escape ended the wait.
bool ShowSource(int32_t f, uint32_t due, bool wait) {
    if (gPlayer.movie) return ShowMovie(f, due, wait);
    if (f == gPlayer.lastDrawn) {
        // The same picture again (a dropped frame): draw what was decoded, never decode it twice.
        if (wait && HostWaitUntil(due, nullptr)) return false;
        if (gPlayer.decompressor && gPlayer.outBuffer) {
            if (gPlayer.drawDib && gPlayer.dc)
                DrawDibDraw(gPlayer.drawDib, gPlayer.dc, 0, 0, 0, 0, &gPlayer.outFormat, gPlayer.outBuffer,
                            -1, -1, -1, -1, 0);
        } else if (gPlayer.drawDib && gPlayer.dc) {
            DrawDibDraw(gPlayer.drawDib, gPlayer.dc, 0, 0, 0, 0, nullptr, nullptr, -1, -1, -1, -1,
                        DDF_UPDATE);
        }
        return true;
    }
    int32_t s = f;
    while (s > 0 && !IsKeyFrame(s)) s--;
    if (gPlayer.lastDrawn >= s && gPlayer.lastDrawn < f) s = gPlayer.lastDrawn + 1;
    for (int32_t j = s; j < f; j++) DecodeSource(j, false);
    if (wait && HostWaitUntil(due, nullptr)) return false;
    DecodeSource(f, true);
    gPlayer.lastDrawn = f;
    return true;
}

void SetUpDecompression() {
    AVIlist* head = gPlayer.head;
    auto* stored = reinterpret_cast<BITMAPINFOHEADER*>(head->format);
    HIC hic = ICLocate(ICTYPE_VIDEO, 0, stored, nullptr, ICMODE_DECOMPRESS);
    if (!hic) {
        NotifyBox("couldn't locate decompressor");
        return;
    }
    const uint32_t bytes = DibRowBytes(head->width, 24) * static_cast<uint32_t>(head->height);
    gPlayer.outBuffer = static_cast<uint8_t*>(MyCalloc(1, bytes));
    gPlayer.outBytes = gPlayer.outBuffer ? bytes : 0;
    if (!gPlayer.outBuffer) {
        NotifyBox("Couldn't allocate lpOut");
        ICClose(hic);
        return;
    }
    ICDecompressGetFormat(hic, stored, &gPlayer.outFormat);
    if (ICDecompressBegin(hic, stored, &gPlayer.outFormat) != ICERR_OK) {
        NotifyBox("ICDecompressBegin failed");
        MyFree(gPlayer.outBuffer);
        gPlayer.outBuffer = nullptr;
        ICClose(hic);
        return;
    }
    gPlayer.decompressor = hic;
}

void BuildFrameTables() {
    int32_t largest = 0;
    const bool list = gPlayer.useProjectList;
    for (AVIlist* rec = gPlayer.head; rec; rec = list ? rec->next : nullptr) {
        for (int32_t i = 0; rec->idx && i < rec->nidx; i++) {
            if (ChunkType(rec->idx[i].ckid) == kTypeWB) continue;
            if (static_cast<int32_t>(gPlayer.frameChunk.size()) >= gPlayer.sourceFrames) break;
            gPlayer.frameChunk.push_back(static_cast<uint32_t>(i));
            gPlayer.frameRecord.push_back(rec);
            largest = std::max<int32_t>(
                largest, static_cast<int32_t>(std::min<uint32_t>(rec->idx[i].dwChunkLength, INT32_MAX)));
        }
    }
    // The tables hold what the indexes really have.
    gPlayer.sourceFrames = static_cast<int32_t>(gPlayer.frameChunk.size());
    gPlayer.display.header.biSizeImage = static_cast<uint32_t>(largest);
}

}  // namespace

void ResetPlayer() {
    gPlayer = PlayerState{};
}

HIC MyICLocateX(FOURCC type, FOURCC handler, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out, UINT mode) {
    if (!in || in->biCompression == BI_RGB || handler == kAURA || in->biCompression == kAURA) return nullptr;
    return ICLocate(type, handler, in, out, mode);
}

namespace {

// The picture control, DrawDib and the first picture: the end of opening for every kind of file.
void StartDrawing(PlayPicture* picture, const RECT& pictureRect) {
    static std::shared_ptr<DrawDibPainter> painter = std::make_shared<PicturePainter>();
    gPlayer.picture = pictureRect;
    gPlayer.dc = picture;
    if (picture) {
        picture->destination = DestinationRect(pictureRect);
    } else {
        NotifyBox("couldn't GetDC");
    }
    gPlayer.drawDib = DrawDibOpen();
    if (!gPlayer.drawDib) NotifyBox("failed to do DrawDibOpen");
    SetDrawDibPainter(painter);
    gPlayer.lastDrawn = kNoFrame;
    gPlayer.open = true;
    DrawFrame(gPlayer.position);
}

// An MP4 file: its decoder stands in for the head and the frame tables.
void OpenMovie(PlayPicture* picture, const RECT& pictureRect) {
    const Mp4Decoder& movie = *gPlayer.movie;
    gPlayer.head = nullptr;
    gPlayer.sourceFrames = gPlayer.N = movie.frames();
    gPlayer.position = std::clamp(gPlayer.startPosition, 1, std::max(gPlayer.N, 1));
    gPlayer.timing = ComputeTiming(movie.rate(), movie.scale());
    gPlayer.display.header = Dib24Format(movie.width(), movie.height());
    gPlayer.played = {movie.codecTag(), movie.width(), movie.height(), 24, movie.rate(), movie.scale()};
    StartDrawing(picture, pictureRect);
}

}  // namespace

bool OpenPlayer(PlayPicture* picture, const RECT& pictureRect) {
    if (gPlayer.open) ClosePlayer();
    gPlayer.waveDevices = waveOutGetNumDevs();
    if (!gPlayer.fileName[0]) CopyCut(gPlayer.fileName, sizeof gPlayer.fileName, gSettings.CapFile);
    if (!gPlayer.useProjectList && gPlayer.fileName[0] && access(gPlayer.fileName, F_OK) != 0)
        gPlayer.fileName[0] = '\0';
    if (!gPlayer.useProjectList && gPlayer.fileName[0]) gPlayer.movie = Mp4Decoder::Open(gPlayer.fileName);
    if (gPlayer.movie) {
        OpenMovie(picture, pictureRect);
        return true;
    }
    AVIlist* head = gPlayer.useProjectList ? gProject.head : OpenAVIforList(gPlayer.fileName, 0, -1);
    if (!head || !head->vptr || head->width <= 0 || head->height <= 0) {
        if (head && !gPlayer.useProjectList) CloseAVIlist(head);
        NotifyBox("Invalid AVI File");
        return false;
    }
    gPlayer.head = head;
    ReadAVIInfo(head->name, AVIinfo);
    auto* stored = reinterpret_cast<BITMAPINFOHEADER*>(head->format);
    if (head->compression != kMJPG) stored->biSize = sizeof(BITMAPINFOHEADER);

    if (gPlayer.projectMode && head->compression != BI_RGB && (RevisionTypesUsed() & ~1u)) {
        NotifyBox("Showing titles on compressed source.\nThis will result in slower playback speeds.");
        SetUpDecompression();
    }

    int64_t frames = 0;
    for (AVIlist* rec = head; rec; rec = gPlayer.useProjectList ? rec->next : nullptr)
        frames += std::max(rec->frames, 0);
    gPlayer.sourceFrames = static_cast<int32_t>(std::min<int64_t>(frames, INT32_MAX));
    gPlayer.display.header = BITMAPINFOHEADER{};
    BuildFrameTables();
    if (gPlayer.projectMode && gPlayer.playMap)
        gPlayer.N = std::min(gPlayer.playPositions, gPlayer.playMapWords);
    else
        gPlayer.N = gPlayer.sourceFrames;
    gPlayer.position = std::clamp(gPlayer.startPosition, 1, std::max(gPlayer.N, 1));
    gPlayer.timing = ComputeTiming(head->rate, head->scale);

    BITMAPINFOHEADER& d = gPlayer.display.header;
    d.biSize = stored->biSize;
    d.biWidth = head->width;
    // Top-down stored rows are described to DrawDib as they lie.
    d.biHeight = head->topDown && head->compression == BI_RGB ? -head->height : head->height;
    d.biPlanes = 1;
    d.biBitCount = static_cast<uint16_t>(head->bits);
    d.biCompression = head->compression;
    if (d.biSizeImage == 0)
        d.biSizeImage = static_cast<uint32_t>(head->bits / 8) * static_cast<uint32_t>(head->width) *
                        static_cast<uint32_t>(head->height);
    if (d.biSize == sizeof(BITMAPINFOHEADER) && head->bits == 8) {
        std::memcpy(gPlayer.display.colours, AVIinfo.palette, sizeof gPlayer.display.colours);
        d.biClrUsed = d.biClrImportant = 256;
    } else if (d.biSize > sizeof(BITMAPINFOHEADER)) {
        std::memcpy(gPlayer.display.colours, head->format + sizeof(BITMAPINFOHEADER), 28);
    }

    HIC draw = MyICLocateX(ICTYPE_VIDEO, 0, &d, nullptr, ICMODE_DRAW);
    if (draw) {
        const RECT r = picture ? DestinationRect(pictureRect) : pictureRect;
        DWORD q = ICDrawBegin(draw, ICDRAW_QUERY | ICDRAW_HDC, nullptr, nullptr, picture, r.left, r.top,
                              r.right - r.left, r.bottom - r.top, &d, 0, 0, head->width, head->height,
                              head->rate, head->scale);
        if (static_cast<int32_t>(q) != ICERR_OK) DebugLog("OpenPlayer: the codec does not draw");
        ICClose(draw);  // no codec draws here: DrawDib does
    }
    if (gPlayer.projectMode && gPlayer.playMap) PlanProjectSound();
    gPlayer.played = {AVIinfo.compression, AVIinfo.width,     AVIinfo.height,
                      AVIinfo.bitCount,    AVIinfo.videoRate, AVIinfo.videoScale};
    StartDrawing(picture, pictureRect);
    return true;
}

void ClosePlayer() {
    if (!gPlayer.open) return;
    if (gPlayer.head && !gPlayer.useProjectList) CloseAVIlist(gPlayer.head);
    gPlayer.head = nullptr;
    MyFree(gPlayer.outBuffer);
    gPlayer.outBuffer = nullptr;
    if (gPlayer.decompressor) ICClose(gPlayer.decompressor);
    gPlayer.decompressor = nullptr;
    gPlayer.frameChunk.clear();
    gPlayer.frameRecord.clear();
    if (gPlayer.drawDib) DrawDibClose(gPlayer.drawDib);
    gPlayer.drawDib = nullptr;
    ReleaseProjectSound();
    gPlayer.movie.reset();
    gPlayer.dc = nullptr;
    gPlayer.open = false;
}

PlayedSound PlayerSound() {
    if (gPlayer.movie) return {gPlayer.movie->samplesPerSec(), gPlayer.movie->channels(), 16};
    const AVIlist* h = gPlayer.head;
    if (!h || h->nwb == 0) return {0, 0, 0};
    return {h->samplesPerSec, h->channels, h->sampleBits};
}

int32_t SourceFrameOf(int32_t p) {
    int32_t k = std::clamp(p - 1, 0, std::max(gPlayer.N - 1, 0));
    if (gPlayer.projectMode && gPlayer.playMap && k < gPlayer.playMapWords)
        k = static_cast<int32_t>(gPlayer.playMap[k] & kPlayMapFrameMask) - 1;
    return std::clamp(k, 0, std::max(gPlayer.sourceFrames - 1, 0));
}

uint8_t* getFrame(int32_t q, AVIlist* rec) {
    if (!rec || !rec->vptr) {
        NotifyBox("getFrame: no video buffer available");
        return nullptr;
    }
    if (!gPlayer.open || gPlayer.sourceFrames <= 0) return nullptr;
    int32_t f = SourceFrameOf(q + 1);
    if (ReadSource(f, rec) < 0) return nullptr;
    return rec->vptr;
}

void DrawFrame(int32_t p) {
    if (!gPlayer.open || gPlayer.sourceFrames <= 0) return;
    ShowSource(SourceFrameOf(p), 0, false);
    gPlayer.shown = std::clamp(p, 1, std::max(gPlayer.N, 1));
}

bool DrawFrameAt(int32_t p, uint32_t due) {
    if (!gPlayer.open || gPlayer.sourceFrames <= 0) return true;
    if (!ShowSource(SourceFrameOf(p), due, true)) return false;
    gPlayer.shown = std::clamp(p, 1, std::max(gPlayer.N, 1));
    return true;
}
