#include "studio/thumbnails.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/diag.h"
#include "core/memory.h"
#include "media/riff.h"
#include "platform/codec/drawdib.h"
#include "project/project.h"
#include "render/render.h"
#include "render/thumbs.h"
#include "render/titles.h"
#include "render/underlay.h"
#include "settings/settings.h"

namespace {

// A stored format is a header and up to 28 bytes after it; the decoder may read a colour table of
// 256 entries behind whatever the header claims, so the copy has room for both.
constexpr uint32_t kStoredFormatBytes = sizeof(AVIlist{}.format);
constexpr int32_t kPaletteEntries = 256;
constexpr uint32_t kColourTableBytes = kPaletteEntries * sizeof(RGBQUAD);

// Pictures of recent frames kept besides the cells' (about 7 MB of small cells).
constexpr size_t kRecentPictures = 512;
constexpr uint64_t kHashStart = 1469598103934665603ull;
constexpr uint64_t kHashFactor = 1099511628211ull;

CellRecord* gCache = nullptr;
HDRAWDIB gDib = nullptr;  // the storyboard's decoder, kept between cells
int32_t gLastFed = 0;     // 1-based frame the decoder saw last; 0 none
int64_t gFramesFed = 0;

FrameThumbnailer gThumbnailer;
struct RecentPicture {
    int32_t frame;
    int32_t width;
    int32_t height;
    uint64_t edits;
    std::vector<uint8_t> pixels;  // bottom-up rows
};
std::list<RecentPicture> gRecent;  // most recent first
const AVIlist* gRecentHead = nullptr;
int32_t gRecentFrames = 0;
// Titles whose stencil was drawn here, with the fields it was drawn from; underlays whose picture
// was tried here, by file name.
std::map<const TitleRecord*, uint64_t> gDrawnTitles;
std::set<std::pair<const UnderlayRecord*, std::string>> gTriedUnderlays;

uint64_t Mix(uint64_t h, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < n; i++) h = (h ^ p[i]) * kHashFactor;
    return h;
}
template <typename T>
uint64_t Mix(uint64_t h, const T& value) {
    return Mix(h, &value, sizeof value);
}

// What a title's stencil is drawn from.
uint64_t TitleFields(const TitleRecord& t) {
    uint64_t h = kHashStart;
    if (t.text) h = Mix(h, t.text, std::strlen(t.text));
    h = Mix(h, t.faceName, strnlen(t.faceName, sizeof t.faceName));
    for (int32_t v : {t.vertical, t.horizontal, t.italic, t.height, t.weight, t.underline, t.quality})
        h = Mix(h, v);
    return Mix(h, t.colour);
}

// The edits laid on frame (0-based) when they are shown: 0 for none, else a value that changes
// whenever what is laid on changes.
uint64_t EditsOf(int32_t frame) {
    if (!gSettings.ShowEdits) return 0;
    const std::vector<uint8_t>& states = FrameStates();
    if (frame < 0 || static_cast<size_t>(frame) >= states.size() ||
        !(states[static_cast<size_t>(frame)] & (kStateTitled | kStateUnderlaid)))
        return 0;
    uint64_t h = kHashStart;
    for (const Revision* r : OverlaysAt(frame + 1)) {
        h = Mix(Mix(h, r), r->type);
        if (const TitleRecord* t = (r->type & kRevTitle) ? TitleOf(r) : nullptr)
            h = Mix(Mix(Mix(h, TitleFields(*t)), t->stencil), t->drawnWidth);
        if (const UnderlayRecord* u = (r->type & kRevUnderlay) ? UnderlayOf(r) : nullptr)
            h = Mix(Mix(Mix(Mix(h, u->image), u->imageWidth), u->ranges), gSettings.smooth);
    }
    return h | 1;
}

// Boxes shown while cells are filled go to the log: painting never waits on a question.
class LoggedBoxes : public MessageBoxProvider {
  public:
    int Show(HWND, const std::string& text, const std::string&, unsigned style) override {
        DebugLog("thumbnail: %s", text.c_str());
        return (style & MB_TYPEMASK) == MB_YESNO ? IDNO : IDOK;
    }
};
struct QuietBoxes {
    std::shared_ptr<MessageBoxProvider> saved = SetMessageBoxProvider(std::make_shared<LoggedBoxes>());
    ~QuietBoxes() { SetMessageBoxProvider(saved); }
};

// Stencils of new or changed titles, and underlay pictures not yet scaled, for the project's frame
// size. Never while a render runs: its threads read them.
void PrepareShownEdits() {
    if (RenderInProgress() || !gProject.head) return;
    const int32_t w = gProject.head->width, h = gProject.head->height;
    for (Revision* r = gProject.revisions; r; r = r->next) {
        if (TitleRecord* t = (r->type & kRevTitle) ? TitleOf(r) : nullptr) {
            const uint64_t fields = TitleFields(*t);
            auto drawn = gDrawnTitles.find(t);
            if (!t->stencil || t->drawnWidth != w || t->drawnHeight != h || drawn == gDrawnTitles.end() ||
                drawn->second != fields) {
                PrepareTitle(nullptr, w, h, t);
                gDrawnTitles[t] = fields;
            }
        }
        UnderlayRecord* u = (r->type & kRevUnderlay) ? UnderlayOf(r) : nullptr;
        if (u && u->fileName[0] && (!u->image || u->imageWidth != w || u->imageHeight != h) &&
            gTriedUnderlays.insert({u, u->fileName}).second)
            PrepareUnderlay(u, w, h);
    }
}

const RecentPicture* FindRecent(int32_t frame, int32_t width, int32_t height, uint64_t edits) {
    if (gRecentHead != gProject.head || gRecentFrames != gProject.totalFrames) {
        gRecent.clear();
        gRecentHead = gProject.head;
        gRecentFrames = gProject.totalFrames;
    }
    for (auto it = gRecent.begin(); it != gRecent.end(); ++it)
        if (it->frame == frame && it->width == width && it->height == height && it->edits == edits) {
            gRecent.splice(gRecent.begin(), gRecent, it);
            return &gRecent.front();
        }
    return nullptr;
}

void KeepRecent(int32_t frame, int32_t width, int32_t height, uint64_t edits, std::vector<uint8_t> pixels) {
    gRecent.push_front({frame, width, height, edits, std::move(pixels)});
    if (gRecent.size() > kRecentPictures) gRecent.pop_back();
}

// Gives the record a picture (bottom-up rows of width x 3 bytes; white when empty).
bool StorePicture(CellRecord* record, int32_t frame, int32_t width, int32_t height, uint64_t edits,
                  const std::vector<uint8_t>& pixels) {
    MyFree(record->image);
    const auto bytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 3;
    record->image = static_cast<uint8_t*>(MyCalloc(bytes, 1));
    record->imageWidth = width;
    record->imageHeight = height;
    record->frame = frame;
    record->edits = edits;
    if (!record->image) return false;
    if (pixels.size() == bytes)
        std::memcpy(record->image, pixels.data(), bytes);
    else
        std::memset(record->image, 0xFF, bytes);
    return true;
}

// The pictures of frames (0-based) at width x height, with their edits: kept ones, the others
// made together. False when the frames cannot be decoded together (a file without a decoder).
bool MakePictures(const std::vector<int32_t>& frames, int32_t width, int32_t height,
                  std::vector<std::vector<uint8_t>>& pictures, std::vector<uint64_t>& edits) {
    if (gSettings.ShowEdits) PrepareShownEdits();
    pictures.assign(frames.size(), {});
    edits.assign(frames.size(), 0);
    std::vector<int32_t> wanted;
    std::vector<size_t> places;
    for (size_t i = 0; i < frames.size(); i++) {
        edits[i] = EditsOf(frames[i]);
        if (const RecentPicture* kept = FindRecent(frames[i], width, height, edits[i])) {
            pictures[i] = kept->pixels;
        } else {
            wanted.push_back(frames[i] + 1);
            places.push_back(i);
        }
    }
    if (wanted.empty()) return true;
    std::vector<std::vector<uint8_t>> made;
    bool opened;
    {
        QuietBoxes quiet;
        opened = gThumbnailer.Make(wanted, width, height, gSettings.ShowEdits != 0, made);
    }
    for (size_t k = 0; k < made.size(); k++) {
        if (!made[k].empty()) KeepRecent(frames[places[k]], width, height, edits[places[k]], made[k]);
        pictures[places[k]] = std::move(made[k]);
    }
    return opened;
}

// The whole colour table of a clip of 8 bits or fewer. The list keeps only the stored format's
// first bytes (a few entries), so the table is read from the file's headers once per clip; a file
// without one gets the grey ramp the render uses.
struct ClipPalette {
    const AVIlist* clip;
    std::string name;
    RGBQUAD entries[kPaletteEntries];
};
std::vector<ClipPalette> gPalettes;

const RGBQUAD* PaletteOf(const AVIlist& clip) {
    for (const ClipPalette& p : gPalettes)
        if (p.clip == &clip && p.name == clip.name) return p.entries;
    // Tables of clips that have left the project go first.
    std::erase_if(gPalettes, [](const ClipPalette& p) {
        for (const AVIlist* rec = gProject.head; rec; rec = rec->next)
            if (rec == p.clip) return false;
        return true;
    });
    ClipPalette p{&clip, clip.name, {}};
    AVIinfoRecord info{};
    if (ReadAVIInfo(clip.name, info) && info.bitCount == clip.bits)
        std::memcpy(p.entries, info.palette, sizeof p.entries);
    if (std::all_of(p.entries, p.entries + kPaletteEntries,
                    [](const RGBQUAD& q) { return !q.rgbBlue && !q.rgbGreen && !q.rgbRed; }))
        for (int32_t i = 0; i < kPaletteEntries; i++) {
            const auto v = static_cast<uint8_t>(i);
            p.entries[i] = RGBQUAD{v, v, v, 0};
        }
    gPalettes.push_back(p);
    return gPalettes.back().entries;
}

// Feeds one stored frame to the decoder without showing it; false when it was refused.
bool FeedStoredFrame(BITMAPINFOHEADER* format, const void* data) {
    if (!gDib) gDib = DrawDibOpen();
    if (!gDib) return false;
    return DrawDibDraw(gDib, nullptr, 0, 0, 0, 0, format, data, 0, 0, -1, -1, DDF_DONTDRAW) != FALSE;
}

// The clip holding project frame n (from 1).
const AVIlist* ClipOfFrame(int32_t n) {
    int64_t before = 0;
    for (const AVIlist* rec = gProject.head; rec; rec = rec->next) {
        if (n <= before + std::max(rec->frames, 0)) return rec;
        before += std::max(rec->frames, 0);
    }
    return nullptr;
}

struct FrameFormat {
    alignas(BITMAPINFOHEADER) uint8_t bytes[kStoredFormatBytes + kColourTableBytes];
    BITMAPINFOHEADER* header() { return reinterpret_cast<BITMAPINFOHEADER*>(bytes); }
};

// The clip's stored format as the decoder wants it: a header size it can trust, the row order of
// uncompressed frames in the height's sign, and the chunk's size.
void PrepareFormat(const AVIlist& clip, uint32_t chunkBytes, FrameFormat& f) {
    std::memset(f.bytes, 0, sizeof f.bytes);
    std::memcpy(f.bytes, clip.format, kStoredFormatBytes);
    BITMAPINFOHEADER* h = f.header();
    if (clip.bits > 0 && clip.bits <= 8) {
        h->biSize = sizeof(BITMAPINFOHEADER);
        h->biClrUsed = kPaletteEntries;
        std::memcpy(f.bytes + sizeof(BITMAPINFOHEADER), PaletteOf(clip), kColourTableBytes);
    }
    if (h->biCompression == BI_RGB) {
        // The bytes after the header are the start of the colour table.
        h->biSize = sizeof(BITMAPINFOHEADER);
        h->biHeight = clip.topDown ? -clip.height : clip.height;
    } else if (h->biSize < sizeof(BITMAPINFOHEADER) || h->biSize > kStoredFormatBytes) {
        h->biSize = sizeof(BITMAPINFOHEADER);
    }
    h->biSizeImage = chunkBytes;
}

bool Feed(int32_t n, bool last) {
    const AVIlist* clip = ClipOfFrame(n);
    uint8_t* data = clip ? getFrameData(n, gProject.head) : nullptr;
    if (!data || lastFrameSize <= 0) return false;
    FrameFormat format;
    PrepareFormat(*clip, static_cast<uint32_t>(lastFrameSize), format);
    gFramesFed++;
    bool ok = FeedStoredFrame(format.header(), data);
    if (!ok && last) DebugLog("thumbnail: frame %ld does not decode", static_cast<long>(n));
    return ok;
}

}  // namespace

CellRecord* ThumbnailCache() {
    return gCache;
}

CellRecord* CacheRecordAt(int32_t index) {
    if (index < 0) return nullptr;
    CellRecord** link = &gCache;
    for (int32_t i = 0;; i++) {
        if (!*link) {
            *link = static_cast<CellRecord*>(MyCalloc(1, sizeof(CellRecord)));
            if (!*link) return nullptr;
            (*link)->left = (*link)->right = kOutOfSight;
            (*link)->frame = -1;
        }
        if (i == index) return *link;
        link = &(*link)->next;
    }
}

void FreeThumbnails() {
    while (gCache) {
        CellRecord* next = gCache->next;
        MyFree(gCache->image);
        MyFree(gCache);
        gCache = next;
    }
    gLastFed = 0;
}

bool DecodeProjectFrame(int32_t frame, QImage& picture) {
    int32_t n = frame + 1;
    if (frame < 0 || n > gProject.totalFrames || !gProject.head) return false;
    int32_t from = n - std::max(FramesSinceKeyFrame(n, gProject.head), 0);
    if (gLastFed >= from && gLastFed < n) from = gLastFed + 1;
    gLastFed = 0;
    for (int32_t m = std::max(from, 1); m < n; m++) Feed(m, false);
    if (!Feed(n, true)) return false;
    gLastFed = n;
    BITMAPINFOHEADER h{};
    const uint8_t* bits =
        gDib ? static_cast<const uint8_t*>(DrawDibGetBuffer(gDib, &h, sizeof h, 0)) : nullptr;
    if (!bits || h.biWidth <= 0 || h.biHeight <= 0 || h.biBitCount != 24) return false;
    const uint32_t stride = DibRowBytes(h.biWidth, 24);
    picture = QImage(h.biWidth, h.biHeight, QImage::Format_BGR888);
    if (picture.isNull()) return false;
    for (int32_t y = 0; y < h.biHeight; y++)  // bottom-up rows
        std::memcpy(picture.scanLine(y), bits + static_cast<size_t>(h.biHeight - 1 - y) * stride,
                    static_cast<size_t>(h.biWidth) * 3);
    return true;
}

bool StoreThumbnail(CellRecord* record, const QImage& picture, int32_t width, int32_t height) {
    if (!record) return false;
    MyFree(record->image);
    record->image = nullptr;
    record->imageWidth = width;
    record->imageHeight = height;
    if (picture.isNull() || width <= 0 || height <= 0) return false;
    QImage scaled = picture.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_BGR888);
    auto bytes = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 3;
    record->image = static_cast<uint8_t*>(MyCalloc(bytes, 1));
    if (!record->image) return false;
    for (int32_t y = 0; y < height; y++)
        std::memcpy(record->image + static_cast<size_t>(height - 1 - y) * width * 3, scaled.constScanLine(y),
                    static_cast<size_t>(width) * 3);
    return true;
}

QImage ThumbnailPicture(const CellRecord& record) {
    if (!record.image || record.imageWidth <= 0 || record.imageHeight <= 0) return QImage();
    QImage picture(record.imageWidth, record.imageHeight, QImage::Format_BGR888);
    if (picture.isNull()) return picture;
    const size_t row = static_cast<size_t>(record.imageWidth) * 3;
    for (int32_t y = 0; y < record.imageHeight; y++)
        std::memcpy(picture.scanLine(y), record.image + static_cast<size_t>(record.imageHeight - 1 - y) * row,
                    row);
    return picture;
}

void CloseThumbnailDecoder() {
    if (gDib) DrawDibClose(gDib);
    gDib = nullptr;
    gLastFed = 0;
    gPalettes.clear();
    gThumbnailer.Close();
    ForgetThumbnailPictures();
}

void FillThumbnails(const std::vector<ThumbnailRequest>& requests, int32_t width, int32_t height) {
    if (requests.empty() || width <= 0 || height <= 0) return;
    std::vector<int32_t> frames;
    for (const ThumbnailRequest& r : requests) frames.push_back(r.frame);
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<uint64_t> edits;
    if (!MakePictures(frames, width, height, pictures, edits)) {
        // Frames the list cannot decode together are decoded one by one, without edits.
        for (const ThumbnailRequest& r : requests) {
            QImage picture;
            if (!DecodeProjectFrame(r.frame, picture)) {
                picture = QImage(width, height, QImage::Format_BGR888);
                picture.fill(Qt::white);
            }
            StoreThumbnail(r.record, picture, width, height);
            if (r.record) r.record->frame = r.frame, r.record->edits = EditsOf(r.frame);
        }
        return;
    }
    for (size_t i = 0; i < requests.size(); i++)
        if (requests[i].record)
            StorePicture(requests[i].record, requests[i].frame, width, height, edits[i], pictures[i]);
}

bool ThumbnailCurrent(const CellRecord& record, int32_t frame, int32_t width, int32_t height) {
    return record.image && record.frame == frame && record.imageWidth == width &&
           record.imageHeight == height && record.edits == EditsOf(frame);
}

QImage ThumbnailOfFrame(int32_t frame, int32_t width, int32_t height) {
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<uint64_t> edits;
    QImage picture;
    if (width <= 0 || height <= 0) return picture;
    if (!MakePictures({frame}, width, height, pictures, edits) || pictures[0].empty()) {
        if (DecodeProjectFrame(frame, picture))
            picture = picture.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        return picture;
    }
    picture = QImage(width, height, QImage::Format_BGR888);
    const size_t row = static_cast<size_t>(width) * 3;
    for (int32_t y = 0; y < height; y++)
        std::memcpy(picture.scanLine(y), pictures[0].data() + static_cast<size_t>(height - 1 - y) * row, row);
    return picture;
}

void ForgetThumbnailPictures() {
    gRecent.clear();
    gDrawnTitles.clear();
    gTriedUnderlays.clear();
}

int64_t ThumbnailFramesFed() {
    return gFramesFed + gThumbnailer.framesRead();
}
