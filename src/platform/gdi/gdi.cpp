#include "platform/gdi/gdi.h"

#include <QByteArrayView>
#include <QFont>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QStringDecoder>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_set>

namespace {

// Largest font size in pixels a LOGFONT height is mapped to.
constexpr int kMaxFontPixels = 2048;
// Cell height of a LOGFONT whose height is 0, and of the system font.
constexpr int kDefaultCellHeight = 16;
// Every image and measurement uses 96 dots per inch, so metrics do not depend on the screen.
constexpr int kDotsPerMeter = 3780;
constexpr int kSystemFontWeight = FW_BOLD;
const char* const kDefaultFace = "Arial";

enum class Kind { ScreenDC, MemoryDC, Bitmap, Font, Brush };

struct Obj {
    explicit Obj(Kind k) : kind(k) {}
    virtual ~Obj() = default;
    Kind kind;
    bool stock = false;
    int selections = 0;  // contexts this object is selected into
};

struct BitmapObj : Obj {
    BitmapObj() : Obj(Kind::Bitmap) {}
    QImage image;
};

struct FontObj : Obj {
    FontObj() : Obj(Kind::Font) {}
    QFont font;
};

struct BrushObj : Obj {
    BrushObj() : Obj(Kind::Brush) {}
    COLORREF colour = 0;
};

struct DcObj : Obj {
    explicit DcObj(Kind k) : Obj(k) {}
    BitmapObj* bitmap = nullptr;
    FontObj* font = nullptr;
    BrushObj* brush = nullptr;
    int bkMode = OPAQUE;
    COLORREF text = 0;
    COLORREF bk = RGB(255, 255, 255);
};

std::unordered_set<Obj*>& Live() {
    static std::unordered_set<Obj*> live;
    return live;
}

Obj* Register(Obj* o) {
    Live().insert(o);
    return o;
}

void Forget(Obj* o) {
    Live().erase(o);
    delete o;
}

// The live object a handle names, when it is of the wanted kind; never dereferences a stale handle.
Obj* Find(void* handle) {
    if (!handle) return nullptr;
    auto it = Live().find(static_cast<Obj*>(handle));
    return it == Live().end() ? nullptr : *it;
}

template <typename T>
T* FindAs(void* handle, Kind kind) {
    Obj* o = Find(handle);
    return o && o->kind == kind ? static_cast<T*>(o) : nullptr;
}

DcObj* FindDc(HDC dc) {
    Obj* o = Find(dc);
    if (!o || (o->kind != Kind::ScreenDC && o->kind != Kind::MemoryDC)) return nullptr;
    return static_cast<DcObj*>(o);
}

bool GuiReady() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// The paint device every font is measured against.
const QImage& MeasureDevice() {
    static QImage image = [] {
        QImage i(1, 1, QImage::Format_RGB32);
        i.setDotsPerMeterX(kDotsPerMeter);
        i.setDotsPerMeterY(kDotsPerMeter);
        return i;
    }();
    return image;
}

// A monochrome bitmap stores only black and white: colours go to the nearer of the two.
QColor Mono(COLORREF c) {
    int r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    return (r * 299 + g * 587 + b * 114) >= 128 * 1000 ? QColor(Qt::white) : QColor(Qt::black);
}

QString DecodeText(const char* text, int count) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString s = utf8.decode(QByteArrayView(text, count));
    if (utf8.hasError()) s = QString::fromLatin1(text, count);
    return s;
}

// The largest pixel size whose cell (ascent + descent) is at most the wanted height.
int PixelSizeForCell(QFont font, int cell) {
    font.setPixelSize(1000);
    QFontMetricsF probe(font, &MeasureDevice());
    double ratio = probe.height() > 0 ? probe.height() / 1000.0 : 1.0;
    int px = std::clamp(static_cast<int>(std::lround(cell / ratio)), 1, kMaxFontPixels);
    auto cellOf = [&](int size) {
        font.setPixelSize(size);
        return QFontMetrics(font, &MeasureDevice()).height();
    };
    for (int step = 0; step < 4 && px > 1 && cellOf(px) > cell; step++) px--;
    for (int step = 0; step < 4 && px < kMaxFontPixels && cellOf(px + 1) <= cell; step++) px++;
    return px;
}

QFont FontFromLog(const LOGFONTA& lf) {
    QFont f;
    char face[sizeof lf.lfFaceName + 1] = {};
    std::memcpy(face, lf.lfFaceName, sizeof lf.lfFaceName);
    f.setFamily(QString::fromUtf8(face[0] ? face : kDefaultFace));
    int32_t weight = lf.lfWeight <= 0 ? FW_NORMAL : std::min<int32_t>(lf.lfWeight, 1000);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setItalic(lf.lfItalic != 0);
    f.setUnderline(lf.lfUnderline != 0);
    f.setStrikeOut(lf.lfStrikeOut != 0);
    f.setStyleStrategy(QFont::NoAntialias);
    f.setKerning(false);  // GDI lays glyphs out by their advances alone
    int64_t h = lf.lfHeight;
    if (h < 0)
        f.setPixelSize(static_cast<int>(std::min<int64_t>(-h, kMaxFontPixels)));
    else
        f.setPixelSize(PixelSizeForCell(
            f, static_cast<int>(std::min<int64_t>(h ? h : kDefaultCellHeight, kMaxFontPixels))));
    return f;
}

Obj* StockObject(int which) {
    static BrushObj* white = nullptr;
    static BrushObj* black = nullptr;
    static FontObj* system = nullptr;
    auto brush = [](BrushObj*& slot, COLORREF c) {
        if (!slot) {
            slot = new BrushObj;
            slot->stock = true;
            slot->colour = c;
            Register(slot);
        }
        return slot;
    };
    switch (which) {
        case WHITE_BRUSH:
            return brush(white, RGB(255, 255, 255));
        case BLACK_BRUSH:
            return brush(black, 0);
        case SYSTEM_FONT:
            if (!system) {
                if (!GuiReady()) return nullptr;
                LOGFONTA lf{};
                lf.lfHeight = kDefaultCellHeight;
                lf.lfWeight = kSystemFontWeight;
                std::strncpy(lf.lfFaceName, kDefaultFace, sizeof lf.lfFaceName - 1);
                system = new FontObj;
                system->stock = true;
                system->font = FontFromLog(lf);
                Register(system);
            }
            return system;
        default:
            return nullptr;
    }
}

// The 1 x 1 monochrome bitmap every new memory context starts with.
BitmapObj* DefaultBitmap() {
    static BitmapObj* bitmap = nullptr;
    if (!bitmap) {
        bitmap = new BitmapObj;
        bitmap->stock = true;
        bitmap->image = QImage(1, 1, QImage::Format_RGB32);
        bitmap->image.fill(Qt::black);
        Register(bitmap);
    }
    return bitmap;
}

template <typename T>
void Swap(T*& slot, T* next) {
    if (slot) slot->selections--;
    slot = next;
    if (next) next->selections++;
}

}  // namespace

bool EnsureGuiApplication() {
    if (QCoreApplication* app = QCoreApplication::instance()) {
        if (!qobject_cast<QGuiApplication*>(app)) return false;
    } else {
        static int argc = 3;
        static char arg0[] = "quillory";
        static char arg1[] = "-platform";
        static char arg2[] = "offscreen";
        static char* argv[] = {arg0, arg1, arg2, nullptr};
        // Headless callers keep standard error for their own messages; Qt's notes go to the log.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString& text) {
            DebugLog("Qt: %s", text.toLocal8Bit().constData());
        });
        new QGuiApplication(argc, argv);  // lives as long as the process
    }
    static bool substituted = false;
    if (!substituted) {
        substituted = true;
        const char* const pairs[][2] = {{"Times New Roman", "Liberation Serif"},
                                        {"Arial", "Liberation Sans"},
                                        {"Courier New", "Liberation Mono"}};
        for (const auto& pair : pairs) {
            QString windowsFace = QString::fromLatin1(pair[0]);
            QString liberation = QString::fromLatin1(pair[1]);
            if (QFontDatabase::hasFamily(windowsFace) || !QFontDatabase::hasFamily(liberation)) continue;
            if (QFontInfo(QFont(windowsFace)).family() != liberation)
                QFont::insertSubstitution(windowsFace, liberation);
        }
    }
    return true;
}

HDC GetDC(HWND) {
    if (!EnsureGuiApplication()) return nullptr;
    return Register(new DcObj(Kind::ScreenDC));
}

int ReleaseDC(HWND, HDC dc) {
    DcObj* d = FindDc(dc);
    if (!d || d->kind != Kind::ScreenDC) return 0;
    Swap(d->font, static_cast<FontObj*>(nullptr));
    Swap(d->brush, static_cast<BrushObj*>(nullptr));
    Forget(d);
    return 1;
}

HDC CreateCompatibleDC(HDC dc) {
    if (dc && !FindDc(dc)) return nullptr;
    if (!GuiReady()) return nullptr;
    auto* font = static_cast<FontObj*>(StockObject(SYSTEM_FONT));
    if (!font) return nullptr;
    auto* d = new DcObj(Kind::MemoryDC);
    Swap(d->bitmap, DefaultBitmap());
    Swap(d->font, font);
    Swap(d->brush, static_cast<BrushObj*>(StockObject(WHITE_BRUSH)));
    return Register(d);
}

int DeleteDC(HDC dc) {
    DcObj* d = FindDc(dc);
    if (!d || d->kind != Kind::MemoryDC) return 0;
    Swap(d->bitmap, static_cast<BitmapObj*>(nullptr));
    Swap(d->font, static_cast<FontObj*>(nullptr));
    Swap(d->brush, static_cast<BrushObj*>(nullptr));
    Forget(d);
    return 1;
}

HBITMAP CreateBitmap(int32_t width, int32_t height, uint32_t planes, uint32_t bitsPerPixel, const void*) {
    if (planes != 1 || bitsPerPixel != 1) return nullptr;
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide) return nullptr;
    if (static_cast<int64_t>(width) * height > kMaxBitmapPixels) return nullptr;
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull()) return nullptr;
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
    image.fill(Qt::black);
    auto* b = new BitmapObj;
    b->image = std::move(image);
    return Register(b);
}

HFONT CreateFontIndirectA(const LOGFONTA* font) {
    if (!font || !EnsureGuiApplication()) return nullptr;
    auto* f = new FontObj;
    f->font = FontFromLog(*font);
    return Register(f);
}

HGDIOBJ GetStockObject(int which) {
    return StockObject(which);
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
    DcObj* d = FindDc(dc);
    Obj* o = Find(object);
    if (!d || !o) return nullptr;
    switch (o->kind) {
        case Kind::Bitmap: {
            auto* b = static_cast<BitmapObj*>(o);
            if (d->kind != Kind::MemoryDC) return nullptr;
            if (b == d->bitmap) return b;
            if (!b->stock && b->selections > 0) return nullptr;  // a bitmap lives in one context at a time
            BitmapObj* previous = d->bitmap;
            Swap(d->bitmap, b);
            return previous;
        }
        case Kind::Font: {
            FontObj* previous = d->font;
            Swap(d->font, static_cast<FontObj*>(o));
            return previous;
        }
        case Kind::Brush: {
            BrushObj* previous = d->brush;
            Swap(d->brush, static_cast<BrushObj*>(o));
            return previous;
        }
        default:
            return nullptr;
    }
}

int DeleteObject(HGDIOBJ object) {
    Obj* o = Find(object);
    if (!o || o->kind == Kind::ScreenDC || o->kind == Kind::MemoryDC) return 0;
    if (o->stock) return 1;
    if (o->selections > 0) return 0;
    Forget(o);
    return 1;
}

int SetBkMode(HDC dc, int mode) {
    DcObj* d = FindDc(dc);
    if (!d || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    int previous = d->bkMode;
    d->bkMode = mode;
    return previous;
}

COLORREF SetTextColor(HDC dc, COLORREF colour) {
    DcObj* d = FindDc(dc);
    if (!d) return CLR_INVALID;
    COLORREF previous = d->text;
    d->text = colour & 0xFFFFFF;
    return previous;
}

COLORREF SetBkColor(HDC dc, COLORREF colour) {
    DcObj* d = FindDc(dc);
    if (!d) return CLR_INVALID;
    COLORREF previous = d->bk;
    d->bk = colour & 0xFFFFFF;
    return previous;
}

int PatBlt(HDC dc, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t rop) {
    DcObj* d = FindDc(dc);
    if (!d || !d->bitmap) return 0;
    QColor colour;
    if (rop == PATCOPY)
        colour = Mono(d->brush ? d->brush->colour : RGB(255, 255, 255));
    else if (rop == BLACKNESS)
        colour = Qt::black;
    else if (rop == WHITENESS)
        colour = Qt::white;
    else
        return 0;
    int64_t x0 = x, y0 = y, x1 = static_cast<int64_t>(x) + width, y1 = static_cast<int64_t>(y) + height;
    QImage& image = d->bitmap->image;
    x0 = std::clamp<int64_t>(std::min(x0, x1), 0, image.width());
    x1 = std::clamp<int64_t>(std::max<int64_t>(x, x1), 0, image.width());
    y0 = std::clamp<int64_t>(std::min(y0, y1), 0, image.height());
    y1 = std::clamp<int64_t>(std::max<int64_t>(y, y1), 0, image.height());
    if (x1 > x0 && y1 > y0) {
        QPainter painter(&image);
        painter.fillRect(QRect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                               static_cast<int>(y1 - y0)),
                         colour);
    }
    return 1;
}

int TextOutA(HDC dc, int32_t x, int32_t y, const char* text, int count) {
    DcObj* d = FindDc(dc);
    if (!d || d->kind != Kind::MemoryDC || !d->bitmap || !d->font || count < 0 || (count > 0 && !text))
        return 0;
    if (count == 0) return 1;
    QString s = DecodeText(text, count);
    QImage& image = d->bitmap->image;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, false);
    painter.setFont(d->font->font);
    QFontMetrics metrics(d->font->font, &MeasureDevice());
    if (d->bkMode == OPAQUE)
        painter.fillRect(QRect(x, y, metrics.horizontalAdvance(s), metrics.height()), Mono(d->bk));
    painter.setPen(Mono(d->text));
    painter.drawText(QPoint(x, y + metrics.ascent()), s);
    return 1;
}

int GetTextExtentPoint32A(HDC dc, const char* text, int count, SIZE* size) {
    DcObj* d = FindDc(dc);
    if (!d || !d->font || !size || count < 0 || (count > 0 && !text)) return 0;
    QFontMetrics metrics(d->font->font, &MeasureDevice());
    size->cx = count ? metrics.horizontalAdvance(DecodeText(text, count)) : 0;
    size->cy = metrics.height();
    return 1;
}

int GetDIBits(HDC dc, HBITMAP bitmap, uint32_t start, uint32_t lines, void* bits, BITMAPINFO* info,
              unsigned usage) {
    auto* b = FindAs<BitmapObj>(bitmap, Kind::Bitmap);
    if (!FindDc(dc) || !b || !bits || !info || usage != DIB_RGB_COLORS) return 0;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    const QImage& image = b->image;
    int64_t rows = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
    if (h.biBitCount != 8 || h.biCompression != BI_RGB || h.biWidth != image.width() ||
        rows != image.height())
        return 0;
    if (start >= rows) return 0;
    uint32_t count = static_cast<uint32_t>(std::min<int64_t>(lines, rows - start));
    size_t stride = (static_cast<size_t>(image.width()) + 3) & ~static_cast<size_t>(3);
    auto* out = static_cast<uint8_t*>(bits);
    for (uint32_t k = 0; k < count; k++) {
        int64_t dibRow = start + k;
        int imageRow = static_cast<int>(h.biHeight < 0 ? dibRow : rows - 1 - dibRow);
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(imageRow));
        uint8_t* o = out + k * stride;
        std::memset(o, 0, stride);
        for (int x = 0; x < image.width(); x++) o[x] = qGray(line[x]) >= 128 ? 255 : 0;
    }
    RGBQUAD* table = info->bmiColors;
    for (int i = 0; i < 256; i++) {
        uint8_t v = static_cast<uint8_t>(i);
        table[i] = RGBQUAD{v, v, v, 0};
    }
    return static_cast<int>(count);
}

int32_t GdiLiveObjectCount() {
    return static_cast<int32_t>(
        std::count_if(Live().begin(), Live().end(), [](const Obj* o) { return !o->stock; }));
}

uint32_t GdiTextExtentProvider::Extent(HDC dc, const char* text, int count) {
    if (!text || count < 0) count = 0;
    if (!EnsureGuiApplication()) return FixedTextExtentProvider().Extent(dc, text, count);
    DcObj* d = FindDc(dc);
    FontObj* font = d && d->font ? d->font : static_cast<FontObj*>(StockObject(SYSTEM_FONT));
    if (!font) return FixedTextExtentProvider().Extent(dc, text, count);
    QFontMetrics metrics(font->font, &MeasureDevice());
    int width = count ? metrics.horizontalAdvance(DecodeText(text, count)) : 0;
    uint32_t height = static_cast<uint32_t>(std::clamp(metrics.height(), 0, 0xFFFF));
    return (height << 16) | static_cast<uint32_t>(std::clamp(width, 0, 0xFFFF));
}

std::shared_ptr<TextExtentProvider> InstallGdiTextExtentProvider() {
    return SetTextExtentProvider(std::make_shared<GdiTextExtentProvider>());
}
