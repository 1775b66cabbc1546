// Draws the program's artwork: the storyboard toolbar strip (resources/toolbar.bmp), the splash
// picture (resources/splash.png), the panel bitmap VCR00 (resources/VCR00.bmp) and the desktop
// icons of the program and of project files (resources/icons/hicolor/).
// Usage: make_artwork DIR [--preview]   (--preview also writes enlarged PNG copies to look at)
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>
#include <functional>

#include "icons.h"
#include "pixels.h"
#include "ui/artwork.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Pixel primitives (no antialiasing: the small panel parts stay crisp).

void Fill(QImage& img, int x, int y, int w, int h, QRgb c) {
    for (int j = y; j < y + h; j++)
        for (int i = x; i < x + w; i++)
            if (img.rect().contains(i, j)) img.setPixel(i, j, c);
}
void Px(QImage& img, int x, int y, QRgb c) {
    if (img.rect().contains(x, y)) img.setPixel(x, y, c);
}
QRgb Mix(QRgb a, QRgb b, double t) {
    auto m = [t](int p, int q) { return static_cast<int>(std::lround(p + (q - p) * t)); };
    return qRgb(m(qRed(a), qRed(b)), m(qGreen(a), qGreen(b)), m(qBlue(a), qBlue(b)));
}
// A deterministic small noise for the brushed metal, -1..1.
double Noise(int n) {
    uint32_t v = static_cast<uint32_t>(n) * 2654435761u;
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    v ^= v >> 15;
    return (static_cast<double>(v & 0xFFFF) / 32767.5) - 1.0;
}

// Triangles pointing right or left, h rows tall (odd), with their flat side at x.
void TriRight(QImage& img, int x, int cy, int h, QRgb c) {
    int half = h / 2;
    for (int i = 0; i <= half; i++) Fill(img, x + i, cy - (half - i), 1, 2 * (half - i) + 1, c);
}
void TriLeft(QImage& img, int x, int cy, int h, QRgb c) {  // x is the tip
    int half = h / 2;
    for (int i = 0; i <= half; i++) Fill(img, x + i, cy - i, 1, 2 * i + 1, c);
}
void TriDown(QImage& img, int cx, int y, int rows, QRgb c) {
    for (int i = 0; i < rows; i++) Fill(img, cx - (rows - 1 - i), y + i, 2 * (rows - 1 - i) + 1, 1, c);
}
void BracketOpen(QImage& img, int x, int cy, int h, QRgb c) {
    Fill(img, x, cy - h / 2, 1, h, c);
    Px(img, x + 1, cy - h / 2, c);
    Px(img, x + 1, cy + h / 2, c);
}
void BracketClose(QImage& img, int x, int cy, int h, QRgb c) {
    Fill(img, x + 1, cy - h / 2, 1, h, c);
    Px(img, x, cy - h / 2, c);
    Px(img, x, cy + h / 2, c);
}

// ---------------------------------------------------------------------------------------------
// The panel buttons: dark hardware keys with a light legend.

struct KeyStyle {
    QRgb top, bottom, border, highlight, shade, ink;
};

KeyStyle KeyFor(int state) {
    switch (state) {
        case 1:  // focused: amber rim and legend
            return {qRgb(0x3d, 0x41, 0x48), qRgb(0x26, 0x29, 0x2e), qRgb(0xe0, 0x98, 0x10),
                    qRgb(0x5d, 0x62, 0x6b), qRgb(0x18, 0x1a, 0x1d), qRgb(0xff, 0xc8, 0x57)};
        case 2:  // pressed: sunken, legend lit green
            return {qRgb(0x16, 0x18, 0x1b), qRgb(0x22, 0x25, 0x2a), qRgb(0x08, 0x09, 0x0a),
                    qRgb(0x10, 0x11, 0x13), qRgb(0x34, 0x38, 0x3e), qRgb(0x7c, 0xff, 0x8a)};
        case 3:  // disabled: flat, legend dim
            return {qRgb(0x33, 0x36, 0x3b), qRgb(0x2c, 0x2f, 0x33), qRgb(0x14, 0x15, 0x17),
                    qRgb(0x3e, 0x42, 0x48), qRgb(0x26, 0x28, 0x2c), qRgb(0x5e, 0x63, 0x6a)};
        default:
            return {qRgb(0x3d, 0x41, 0x48), qRgb(0x26, 0x29, 0x2e), qRgb(0x0c, 0x0d, 0x0f),
                    qRgb(0x5d, 0x62, 0x6b), qRgb(0x18, 0x1a, 0x1d), qRgb(0xe6, 0xe9, 0xed)};
    }
}

using Legend = std::function<void(QImage&, int x, int y, int w, int h, QRgb ink)>;

// Draws the four state images of a key at face, one image height apart.
void DrawKey(QImage& img, const ArtworkRect& face, const Legend& legend, QRgb pressedInk = 0) {
    for (int state = 0; state < kButtonStateRows; state++) {
        const int x = face.x, y = face.y + state * face.height, w = face.width, h = face.height;
        KeyStyle k = KeyFor(state);
        for (int j = 0; j < h; j++)
            Fill(img, x, y + j, w, 1, Mix(k.top, k.bottom, h > 1 ? double(j) / (h - 1) : 0));
        // rim
        Fill(img, x, y, w, 1, k.border);
        Fill(img, x, y + h - 1, w, 1, k.border);
        Fill(img, x, y, 1, h, k.border);
        Fill(img, x + w - 1, y, 1, h, k.border);
        if (h > 4) {
            Fill(img, x + 1, y + 1, w - 2, 1, state == 2 ? k.shade : k.highlight);
            Fill(img, x + 1, y + h - 2, w - 2, 1, state == 2 ? k.highlight : k.shade);
        }
        QRgb ink = (state == 2 && pressedInk) ? pressedInk : k.ink;
        int dy = state == 2 ? 1 : 0;
        if (legend) legend(img, x, y + dy, w, h, ink);
    }
}

// A key whose legend is centred pixel text, with an optional mark drawn before it.
Legend TextLegend(const QString& text, std::function<int(QImage&, int x, int cy, QRgb)> mark = nullptr,
                  int markWidth = 0) {
    return [=](QImage& img, int x, int y, int w, int h, QRgb ink) {
        int tw = PixelTextWidth(text) + (mark ? markWidth + 3 : 0);
        int tx = x + (w - tw) / 2;
        int ty = y + (h - 5) / 2;
        if (mark) tx += mark(img, tx, ty + 2, ink) + 3;
        DrawPixelText(img, tx, ty, text, ink);
    };
}

// ---------------------------------------------------------------------------------------------
// VCR00.

constexpr QRgb kFaceTop = qRgb(0xdc, 0xdf, 0xe2);
constexpr QRgb kFaceBottom = qRgb(0xb4, 0xb8, 0xbd);
constexpr QRgb kPrint = qRgb(0x44, 0x48, 0x4e);  // printed legends on the face
constexpr QRgb kShadow = qRgb(0x7a, 0x7e, 0x84);
constexpr QRgb kLight = qRgb(0xf6, 0xf7, 0xf8);

QRgb FaceAt(int row, int height) {
    QRgb base = Mix(kFaceTop, kFaceBottom, double(row) / (height - 1));
    int n = static_cast<int>(std::lround(Noise(row * 7 + 3) * 2.2));
    return qRgb(qBound(0, qRed(base) + n, 255), qBound(0, qGreen(base) + n, 255),
                qBound(0, qBlue(base) + n, 255));
}

void SunkenFrame(QImage& img, int l, int t, int r, int b, QRgb outerTL, QRgb outerBR, QRgb innerTL,
                 QRgb innerBR) {
    Fill(img, l, t, r - l + 1, 1, outerTL);
    Fill(img, l, t, 1, b - t + 1, outerTL);
    Fill(img, l, b, r - l + 1, 1, outerBR);
    Fill(img, r, t, 1, b - t + 1, outerBR);
    Fill(img, l + 1, t + 1, r - l - 1, 1, innerTL);
    Fill(img, l + 1, t + 1, 1, b - t - 1, innerTL);
    Fill(img, l + 1, b - 1, r - l - 1, 1, innerBR);
    Fill(img, r - 1, t + 1, 1, b - t - 1, innerBR);
}

// The well that the code lays behind a row of keys: a dark recess in the face.
void DrawWell(QImage& img, const ArtworkRect& r) {
    Fill(img, r.x, r.y, r.width, r.height, qRgb(0x0e, 0x0f, 0x11));
    SunkenFrame(img, r.x, r.y, r.x + r.width - 1, r.y + r.height - 1, kShadow, kLight, qRgb(0x2a, 0x2c, 0x30),
                qRgb(0x9c, 0xa0, 0xa6));
}

void DrawFront(QImage& img) {
    const ArtworkRect f = kVcrFront;
    for (int y = 0; y < f.height; y++) Fill(img, f.x, f.y + y, f.width, 1, FaceAt(y, f.height));
    // Edges of the case.
    SunkenFrame(img, 0, 0, f.width - 1, f.height - 1, qRgb(0x20, 0x22, 0x25), qRgb(0x20, 0x22, 0x25), kLight,
                qRgb(0x8c, 0x90, 0x96));
    // LCD window: the code paints (5, 7)-(144, 31) black and writes on it.
    Fill(img, 5, 7, 140, 25, qRgb(0, 0, 0));
    SunkenFrame(img, 3, 5, 146, 33, kShadow, kLight, qRgb(0x26, 0x28, 0x2b), qRgb(0xa6, 0xaa, 0xb0));
    DrawPixelText(img, 14, 39, "TRANSPORT", kPrint);
    DrawPixelText(img, 241, 9, "POWER", kPrint);
    // A groove above the name line that the code prints at the bottom left.
    Fill(img, 4, 136, 246, 1, qRgb(0x94, 0x98, 0x9e));
    Fill(img, 4, 137, 246, 1, kLight);

    // Shuttle ring and jog dial; their marker paths stay one flat colour each.
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    const QPointF c(kJogCentreX + 0.5, kJogCentreY + 0.5);
    auto disc = [&](double r, const QBrush& b) {
        p.setBrush(b);
        p.drawEllipse(c, r, r);
    };
    // Speed ticks outside the ring (0 at the top, the ring turns 86 degrees each way).
    p.setPen(QPen(QColor(kPrint), 1.2));
    for (int deg : {-86, -60, -30, 0, 30, 60, 86}) {
        double a = deg * M_PI / 180.0;
        double r0 = 53.5, r1 = deg == 0 ? 58.0 : 56.0;
        p.drawLine(QPointF(c.x() + r0 * std::sin(a), c.y() - r0 * std::cos(a)),
                   QPointF(c.x() + r1 * std::sin(a), c.y() - r1 * std::cos(a)));
    }
    p.setPen(Qt::NoPen);
    QLinearGradient rim(c.x() - 50, c.y() - 50, c.x() + 50, c.y() + 50);
    rim.setColorAt(0, QColor(0xf4, 0xf5, 0xf6));
    rim.setColorAt(1, QColor(0x5a, 0x5e, 0x64));
    disc(51.5, QBrush(rim));
    disc(50.0, QColor(0x3a, 0x3c, 0x40));
    disc(48.6, QColor(kShuttleFaceRgb));
    disc(35.6, QColor(0x2c, 0x2e, 0x31));
    QLinearGradient bevel(c.x() - 33, c.y() - 33, c.x() + 33, c.y() + 33);
    bevel.setColorAt(0, QColor(0xfb, 0xfb, 0xfb));
    bevel.setColorAt(1, QColor(0x70, 0x70, 0x70));
    disc(33.4, QBrush(bevel));
    disc(31.2, QColor(kJogFaceRgb));
    p.end();
    DrawPixelText(img, kJogCentreX - 5, kJogCentreY - 2, "JOG", qRgb(0x86, 0x86, 0x86));
    DrawPixelText(img, kJogCentreX - 13, 13, "SHUTTLE", kPrint);
    DrawPixelText(img, kJogCentreX - 68, kJogCentreY - 2, "<<", kPrint);
    DrawPixelText(img, kJogCentreX + 61, kJogCentreY - 2, ">>", kPrint);
}

// Legends of the VCR keys, each drawn centred in its key.
Legend VcrLegend(int id) {
    constexpr int kH = 7;  // icon height
    return [id](QImage& img, int x, int y, int w, int h, QRgb ink) {
        const int cy = y + h / 2 - (h >= 12 ? 0 : 1);
        const int cx = x + w / 2;
        switch (id) {
            case 1435:  // |<< first frame of file
                Fill(img, cx - 6, cy - 3, 2, kH, ink);
                TriLeft(img, cx - 3, cy, kH, ink);
                TriLeft(img, cx + 1, cy, kH, ink);
                break;
            case 1152:  // > play
                TriRight(img, cx - 2, cy, kH, ink);
                break;
            case 1154:  // >>| last frame of file
                TriRight(img, cx - 6, cy, kH, ink);
                TriRight(img, cx - 2, cy, kH, ink);
                Fill(img, cx + 3, cy - 3, 2, kH, ink);
                break;
            case 1595:  // < reverse
                TriLeft(img, cx - 2, cy, kH, ink);
                break;
            case 1155:  // || pause
                Fill(img, cx - 3, cy - 3, 2, kH, ink);
                Fill(img, cx + 1, cy - 3, 2, kH, ink);
                break;
            case 1710:  // <> ping-pong
                TriLeft(img, cx - 5, cy, kH, ink);
                TriRight(img, cx + 1, cy, kH, ink);
                break;
            case 1854:  // file information
                DrawPixelText(img, cx - 7, y + (h - 5) / 2, "INFO", ink);
                break;
            case 1436:  // [v set range start
                BracketOpen(img, cx - 4, cy, kH, ink);
                TriDown(img, cx + 2, cy - 1, 3, ink);
                break;
            case 1530:  // v] set range end
                TriDown(img, cx - 2, cy - 1, 3, ink);
                BracketClose(img, cx + 2, cy, kH, ink);
                break;
            case 1861:  // [< first frame of range
                BracketOpen(img, cx - 4, cy, kH, ink);
                TriLeft(img, cx - 1, cy, kH, ink);
                break;
            case 1596:  // >] last frame of range
                TriRight(img, cx - 3, cy, kH, ink);
                BracketClose(img, cx + 2, cy, kH, ink);
                break;
            case 1597:  // [>] play the range
                BracketOpen(img, cx - 5, cy, kH, ink);
                TriRight(img, cx - 2, cy, 5, ink);
                BracketClose(img, cx + 3, cy, kH, ink);
                break;
            default:
                break;
        }
    };
}

// The two 16 x 6 keys: power (red) and help.
void DrawPill(QImage& img, const ArtworkRect& face, bool power) {
    for (int state = 0; state < kButtonStateRows; state++) {
        const int x = face.x, y = face.y + state * face.height, w = face.width, h = face.height;
        QRgb body, top, rimc = qRgb(0x0c, 0x0d, 0x0f);
        if (power) {
            body = state == 2   ? qRgb(0xff, 0x4a, 0x3a)
                   : state == 3 ? qRgb(0x5a, 0x3a, 0x3a)
                                : qRgb(0xb0, 0x1e, 0x1e);
            top = state == 2   ? qRgb(0xff, 0x9a, 0x8a)
                  : state == 3 ? qRgb(0x6a, 0x4c, 0x4c)
                               : qRgb(0xe0, 0x5a, 0x50);
        } else {
            body = state == 2   ? qRgb(0x2f, 0x7e, 0xd8)
                   : state == 3 ? qRgb(0x40, 0x44, 0x4a)
                                : qRgb(0x3d, 0x41, 0x48);
            top = state == 2   ? qRgb(0x8c, 0xc0, 0xff)
                  : state == 3 ? qRgb(0x4c, 0x50, 0x56)
                               : qRgb(0x6a, 0x70, 0x78);
        }
        if (state == 1) rimc = qRgb(0xe0, 0x98, 0x10);
        Fill(img, x, y, w, h, body);
        Fill(img, x + 1, y + 1, w - 2, 1, top);
        Fill(img, x, y, w, 1, rimc);
        Fill(img, x, y + h - 1, w, 1, rimc);
        Fill(img, x, y, 1, h, rimc);
        Fill(img, x + w - 1, y, 1, h, rimc);
    }
}

int RecordDot(QImage& img, int x, int cy, QRgb) {
    const QRgb red = qRgb(0xff, 0x3b, 0x30);
    Fill(img, x + 1, cy - 2, 3, 5, red);
    Fill(img, x, cy - 1, 5, 3, red);
    return 5;
}
int StopSquare(QImage& img, int x, int cy, QRgb ink) {
    Fill(img, x, cy - 2, 5, 5, ink);
    return 5;
}

QImage DrawVcr00() {
    QImage img(kVcrBitmapWidth, kVcrBitmapHeight, QImage::Format_RGB32);
    img.fill(qRgb(0x20, 0x22, 0x26));
    DrawFront(img);
    DrawWell(img, kVcrRowWell);
    DrawWell(img, kVcrInfoWell);
    for (const ArtworkButton& b : kVcrPanelButtons) {
        if (b.controlId == 2)
            DrawPill(img, b.face, true);
        else if (b.controlId == 9)
            DrawPill(img, b.face, false);
        else
            DrawKey(img, b.face, VcrLegend(b.controlId));
    }
    for (const ArtworkButton& b : kCapturePanelButtons) {
        switch (b.controlId) {
            case 1436:
                DrawKey(img, b.face, TextLegend("REC", RecordDot, 5));
                break;
            case 1595:
                DrawKey(img, b.face, TextLegend("DETAILS"));
                break;
            case 1862:
                DrawKey(img, b.face, TextLegend("PALETTE"));
                break;
            case 1435:
                DrawKey(img, b.face, TextLegend("INFO"));
                break;
            case 1705:
                DrawKey(img, b.face, TextLegend("FILE"));
                break;
            case 9:
                DrawKey(img, b.face, TextLegend("?"));
                break;
            case 1881:
                break;  // shares the VCR panel's power key
        }
    }
    DrawKey(img, kCaptureStopFace, TextLegend("STOP", StopSquare, 5), qRgb(0xff, 0x6a, 0x5a));
    return img;
}

// ---------------------------------------------------------------------------------------------
// The toolbar strip: rounded light buttons with coloured icons drawn on an 18 x 18 grid.

using Icon = std::function<void(QPainter&)>;

const QColor kInk(0x2d, 0x34, 0x40);
const QColor kGreen(0x2e, 0x9e, 0x4f);
const QColor kRed(0xd8, 0x3a, 0x3a);
const QColor kBlue(0x2f, 0x74, 0xd0);
const QColor kYellow(0xf2, 0xc2, 0x30);

void Page(QPainter& p) {
    QPainterPath page;
    page.moveTo(4, 1.5);
    page.lineTo(11, 1.5);
    page.lineTo(14.5, 5);
    page.lineTo(14.5, 16.5);
    page.lineTo(4, 16.5);
    page.closeSubpath();
    p.setPen(QPen(QColor(0x5b, 0x64, 0x72), 1));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.drawLine(QPointF(11, 1.5), QPointF(11, 5));
    p.drawLine(QPointF(11, 5), QPointF(14.5, 5));
}

void Film(QPainter& p, QRectF r) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3b, 0x40, 0x48));
    p.drawRoundedRect(r, 1.5, 1.5);
    p.setBrush(QColor(0x8f, 0xc1, 0xef));
    p.drawRect(QRectF(r.x() + 3, r.y() + 2, r.width() - 6, r.height() - 4));
    p.setBrush(QColor(0xe9, 0xec, 0xef));
    for (double y = r.y() + 1.5; y < r.bottom() - 1; y += 3) {
        p.drawRect(QRectF(r.x() + 1, y, 1.2, 1.5));
        p.drawRect(QRectF(r.right() - 2.2, y, 1.2, 1.5));
    }
}

void Badge(QPainter& p, QPointF c, const QColor& colour, const std::function<void(QPainter&)>& glyph) {
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(colour);
    p.drawEllipse(c, 4.6, 4.6);
    p.save();
    p.translate(c);
    glyph(p);
    p.restore();
}

void PlusGlyph(QPainter& p) {
    p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(-2.6, 0), QPointF(2.6, 0));
    p.drawLine(QPointF(0, -2.6), QPointF(0, 2.6));
}

void Letter(QPainter& p, const QString& s, QRectF box, const QColor& colour, int px, bool serif = false) {
    QFont f(serif ? "Liberation Serif" : "Liberation Sans");
    f.setPixelSize(px);
    f.setBold(true);
    QPainterPath path;
    path.addText(0, 0, f, s);
    QRectF b = path.boundingRect();
    p.save();
    p.translate(box.center() - b.center());
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(path);
    p.restore();
}

void Magnifier(QPainter& p, bool plus) {
    p.setPen(QPen(kInk, 2.2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(11.5, 11.5), QPointF(16, 16));
    p.setPen(QPen(kInk, 1.6));
    p.setBrush(QColor(0xe8, 0xf2, 0xfd));
    p.drawEllipse(QPointF(7.5, 7.5), 5.6, 5.6);
    p.setPen(QPen(kBlue, 1.7, Qt::SolidLine, Qt::FlatCap));
    p.drawLine(QPointF(4.6, 7.5), QPointF(10.4, 7.5));
    if (plus) p.drawLine(QPointF(7.5, 4.6), QPointF(7.5, 10.4));
}

void FrameBox(QPainter& p) {
    p.setPen(QPen(kInk, 1.2));
    p.setBrush(QColor(0xf4, 0xf6, 0xf8));
    p.drawRoundedRect(QRectF(1.5, 3.5, 15, 11), 1.5, 1.5);
}

Icon ToolbarIcon(int id) {
    switch (id) {
        case 1997:  // clear the project: a fresh page
            return [](QPainter& p) {
                Page(p);
                p.setPen(QPen(QColor(0xf2, 0xa0, 0x20), 1.3));
                p.drawLine(QPointF(7, 10), QPointF(11.5, 10));
                p.drawLine(QPointF(9.25, 7.75), QPointF(9.25, 12.25));
            };
        case 1861:  // open a project: a folder
            return [](QPainter& p) {
                p.setPen(QPen(QColor(0xa8, 0x76, 0x10), 1));
                p.setBrush(QColor(0xe6, 0xa8, 0x2e));
                QPainterPath back;
                back.moveTo(1.5, 4);
                back.lineTo(6.5, 4);
                back.lineTo(8, 5.5);
                back.lineTo(15.5, 5.5);
                back.lineTo(15.5, 15.5);
                back.lineTo(1.5, 15.5);
                back.closeSubpath();
                p.drawPath(back);
                p.setBrush(QColor(0xf7, 0xcb, 0x5a));
                QPainterPath front;
                front.moveTo(1.5, 15.5);
                front.lineTo(4, 8.5);
                front.lineTo(17, 8.5);
                front.lineTo(15.5, 15.5);
                front.closeSubpath();
                p.drawPath(front);
            };
        case 1595:  // save the project: a disk
            return [](QPainter& p) {
                p.setPen(QPen(QColor(0x22, 0x4a, 0x80), 1));
                p.setBrush(QColor(0x3d, 0x6f, 0xb6));
                p.drawRoundedRect(QRectF(2.5, 2.5, 13, 13), 1.5, 1.5);
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(0xd6, 0xde, 0xe8));
                p.drawRect(QRectF(5, 3, 7.5, 4.5));
                p.setBrush(QColor(0x3d, 0x6f, 0xb6));
                p.drawRect(QRectF(9.8, 3.8, 1.6, 3));
                p.setBrush(Qt::white);
                p.drawRect(QRectF(4.5, 9.5, 9, 5.5));
                p.setPen(QPen(QColor(0xa8, 0xb4, 0xc4), 0.8));
                p.drawLine(QPointF(5.8, 11.5), QPointF(12.2, 11.5));
                p.drawLine(QPointF(5.8, 13.3), QPointF(12.2, 13.3));
            };
        case 2076:  // insert an AVI file: film with a plus
            return [](QPainter& p) {
                Film(p, QRectF(1, 1.5, 12, 15));
                Badge(p, QPointF(13, 12.5), kGreen, PlusGlyph);
            };
        case 1264:  // render to a new AVI file: film pouring into a disk
            return [](QPainter& p) {
                Film(p, QRectF(1, 1.5, 12, 15));
                Badge(p, QPointF(13, 12.5), QColor(0xe0, 0x7b, 0x1c), [](QPainter& q) {
                    q.setPen(Qt::NoPen);
                    q.setBrush(Qt::white);
                    QPolygonF arrow;
                    arrow << QPointF(-1.1, -3) << QPointF(1.1, -3) << QPointF(1.1, 0) << QPointF(2.8, 0)
                          << QPointF(0, 2.9) << QPointF(-2.8, 0) << QPointF(-1.1, 0);
                    q.drawPolygon(arrow);
                });
            };
        case 1152:  // play an AVI file
            return [](QPainter& p) {
                p.setPen(QPen(QColor(0x1f, 0x7a, 0x3b), 1));
                p.setBrush(kGreen);
                p.drawEllipse(QPointF(9, 9), 7.6, 7.6);
                p.setPen(Qt::NoPen);
                p.setBrush(Qt::white);
                QPolygonF tri;
                tri << QPointF(6.8, 5) << QPointF(13, 9) << QPointF(6.8, 13);
                p.drawPolygon(tri);
            };
        case 1588:  // capture: a camera with the record light
            return [](QPainter& p) {
                p.setPen(QPen(kInk, 1));
                p.setBrush(QColor(0x4a, 0x52, 0x5e));
                p.drawRoundedRect(QRectF(1.5, 5, 11, 9), 1.5, 1.5);
                QPolygonF lens;
                lens << QPointF(12.5, 8) << QPointF(16.5, 5.5) << QPointF(16.5, 13.5) << QPointF(12.5, 11);
                p.drawPolygon(lens);
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(0xff, 0x3b, 0x30));
                p.drawEllipse(QPointF(5, 8), 1.8, 1.8);
            };
        case 1043:  // preview the project: storyboard frames with play
            return [](QPainter& p) {
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(0x5b, 0x64, 0x72));
                for (int r = 0; r < 2; r++)
                    for (int c = 0; c < 2; c++) p.drawRect(QRectF(1.5 + c * 6.5, 2 + r * 5.5, 5.5, 4.5));
                p.setBrush(QColor(0x8f, 0xc1, 0xef));
                for (int r = 0; r < 2; r++)
                    for (int c = 0; c < 2; c++) p.drawRect(QRectF(2.3 + c * 6.5, 2.8 + r * 5.5, 3.9, 2.9));
                Badge(p, QPointF(12.5, 12.5), kGreen, [](QPainter& q) {
                    q.setPen(Qt::NoPen);
                    q.setBrush(Qt::white);
                    QPolygonF tri;
                    tri << QPointF(-1.5, -2.6) << QPointF(2.8, 0) << QPointF(-1.5, 2.6);
                    q.drawPolygon(tri);
                });
            };
        case 2099:  // send a clipgram: an envelope
            return [](QPainter& p) {
                p.setPen(QPen(QColor(0x5b, 0x64, 0x72), 1));
                p.setBrush(Qt::white);
                p.drawRect(QRectF(1.5, 4.5, 15, 10));
                p.setBrush(QColor(0xe4, 0xec, 0xf6));
                QPolygonF flap;
                flap << QPointF(1.5, 4.5) << QPointF(9, 10.5) << QPointF(16.5, 4.5);
                p.drawPolygon(flap);
                p.setPen(Qt::NoPen);
                p.setBrush(kRed);
                p.drawRect(QRectF(12.5, 11, 2.5, 2.5));
            };
        case 1732:  // show a larger time span
            return [](QPainter& p) { Magnifier(p, false); };
        case 1596:  // show a smaller time span
            return [](QPainter& p) { Magnifier(p, true); };
        case 2084:  // activate frames: a frame with a tick
            return [](QPainter& p) {
                FrameBox(p);
                p.setPen(QPen(kGreen, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
                p.setBrush(Qt::NoBrush);
                QPolygonF tick;
                tick << QPointF(5, 9) << QPointF(8, 12) << QPointF(13.5, 6);
                p.drawPolyline(tick);
            };
        case 2085:  // inactivate frames: the storyboard's inactive mark
            return [](QPainter& p) {
                FrameBox(p);
                p.setPen(QPen(kRed, 1.6));
                p.setBrush(Qt::NoBrush);
                p.drawEllipse(QPointF(9, 9), 4.2, 4.2);
                p.drawLine(QPointF(6.1, 6.1), QPointF(11.9, 11.9));
            };
        case 2086:  // a title over frames
            return [](QPainter& p) {
                FrameBox(p);
                p.setPen(Qt::NoPen);
                p.setBrush(kYellow);
                p.drawRect(QRectF(4.5, 11.2, 9, 1.8));
                Letter(p, "T", QRectF(1.5, 3.2, 15, 8.5), kInk, 10);
            };
        case 2081:  // undo: an arrow turning back
            return [](QPainter& p) {
                p.setPen(QPen(kBlue, 2.2, Qt::SolidLine, Qt::RoundCap));
                p.setBrush(Qt::NoBrush);
                QPainterPath arc;
                arc.moveTo(4.5, 7.5);
                arc.lineTo(10.5, 7.5);
                arc.cubicTo(18, 7.5, 18, 16, 10.5, 16);
                arc.lineTo(6.5, 16);
                p.drawPath(arc);
                p.setPen(Qt::NoPen);
                p.setBrush(kBlue);
                QPolygonF head;
                head << QPointF(1.2, 7.5) << QPointF(6.2, 3.2) << QPointF(6.2, 11.8);
                p.drawPolygon(head);
            };
        case 1946:  // preferences: a gear
            return [](QPainter& p) {
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(0x6a, 0x72, 0x80));
                QPainterPath gear;
                for (int i = 0; i < 8; i++) {
                    double a = i * M_PI / 4;
                    p.save();
                    p.translate(9, 9);
                    p.rotate(a * 180 / M_PI);
                    p.drawRect(QRectF(-1.6, -8, 3.2, 4));
                    p.restore();
                }
                p.drawEllipse(QPointF(9, 9), 5.6, 5.6);
                p.setBrush(QColor(0xee, 0xee, 0xee));
                p.drawEllipse(QPointF(9, 9), 2.2, 2.2);
            };
        case 2091:  // view a frame at its size: a picture
            return [](QPainter& p) {
                p.setPen(QPen(kInk, 1.2));
                p.setBrush(QColor(0xbf, 0xe0, 0xff));
                p.drawRoundedRect(QRectF(1.5, 3, 15, 12), 1.5, 1.5);
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(0xf2, 0xc2, 0x30));
                p.drawEllipse(QPointF(12.2, 6.8), 1.8, 1.8);
                p.setBrush(QColor(0x3f, 0x9a, 0x5a));
                QPolygonF hills;
                hills << QPointF(2.2, 14.3) << QPointF(6.5, 8) << QPointF(9.5, 11.5) << QPointF(11.2, 10)
                      << QPointF(15.8, 14.3);
                p.drawPolygon(hills);
            };
        case 2090:  // information on the file
            return [](QPainter& p) {
                p.setPen(Qt::NoPen);
                p.setBrush(kBlue);
                p.drawEllipse(QPointF(9, 9), 7.6, 7.6);
                Letter(p, "i", QRectF(1.5, 1.6, 15, 15), Qt::white, 13, true);
            };
        case 9:  // help
            return [](QPainter& p) {
                p.setPen(Qt::NoPen);
                p.setBrush(QColor(0x1d, 0x93, 0x8a));
                p.drawEllipse(QPointF(9, 9), 7.6, 7.6);
                Letter(p, "?", QRectF(1.5, 1.5, 15, 15), Qt::white, 12);
            };
        default:
            return nullptr;
    }
}

// A greyed copy for the disabled image, with the light emboss under it.
QImage Disabled(const QImage& icon) {
    QImage grey(icon.size(), QImage::Format_ARGB32_Premultiplied);
    grey.fill(Qt::transparent);
    QImage flat = icon.convertToFormat(QImage::Format_ARGB32);
    QImage tone(icon.size(), QImage::Format_ARGB32);
    QImage emboss(icon.size(), QImage::Format_ARGB32);
    for (int y = 0; y < icon.height(); y++)
        for (int x = 0; x < icon.width(); x++) {
            QRgb c = flat.pixel(x, y);
            int g = qGray(c);
            int v = 150 + g * 70 / 255;
            tone.setPixel(x, y, qRgba(v, v, v + 4, qAlpha(c)));
            emboss.setPixel(x, y, qRgba(255, 255, 255, qAlpha(c) * 3 / 4));
        }
    QPainter p(&grey);
    p.drawImage(1, 1, emboss);
    p.drawImage(0, 0, tone);
    return grey;
}

QImage DrawToolbar() {
    const int W = kToolbarFaceWidth, H = kToolbarFaceHeight;
    QImage img(kToolbarStripWidth, kToolbarStripHeight, QImage::Format_RGB32);
    img.fill(QColor(0xde, 0xde, 0xde));  // the storyboard's background
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < kToolbarFaceCount; i++) {
        Icon icon = ToolbarIcon(kToolbarControlIds[i]);
        QImage iconImg(18 * 4, 18 * 4, QImage::Format_ARGB32_Premultiplied);
        iconImg.fill(Qt::transparent);
        {
            QPainter ip(&iconImg);
            ip.setRenderHint(QPainter::Antialiasing, true);
            ip.scale(4, 4);  // drawn large and scaled down for clean edges
            if (icon) icon(ip);
        }
        QImage small = iconImg.scaled(18, 18, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        for (int state = 0; state < kButtonStateRows; state++) {
            QRectF r(i * W + 0.5, state * H + 0.5, W - 1, H - 1);
            QLinearGradient g(r.topLeft(), r.bottomLeft());
            QColor border;
            switch (state) {
                case 2:
                    g.setColorAt(0, QColor(0xc9, 0xcd, 0xd3));
                    g.setColorAt(1, QColor(0xdd, 0xe0, 0xe4));
                    border = QColor(0x7e, 0x84, 0x8c);
                    break;
                case 3:
                    g.setColorAt(0, QColor(0xec, 0xec, 0xec));
                    g.setColorAt(1, QColor(0xe4, 0xe4, 0xe4));
                    border = QColor(0xc2, 0xc5, 0xca);
                    break;
                default:
                    g.setColorAt(0, QColor(0xfb, 0xfb, 0xfc));
                    g.setColorAt(1, QColor(0xe2, 0xe4, 0xe7));
                    border = state == 1 ? QColor(0x2f, 0x74, 0xd0) : QColor(0xa4, 0xa9, 0xb0);
                    break;
            }
            p.setPen(QPen(border, 1));
            p.setBrush(g);
            p.drawRoundedRect(r, 3, 3);
            if (state == 1) {
                p.setPen(QPen(QColor(0x9c, 0xc2, 0xf2), 1));
                p.setBrush(Qt::NoBrush);
                p.drawRoundedRect(r.adjusted(1, 1, -1, -1), 2, 2);
            } else if (state != 2 && state != 3) {
                p.setPen(QPen(QColor(255, 255, 255, 200), 1));
                p.drawLine(QPointF(r.left() + 2, r.top() + 1), QPointF(r.right() - 2, r.top() + 1));
            }
            int ox = i * W + (W - 18) / 2 + (state == 2 ? 1 : 0);
            int oy = state * H + (H - 18) / 2 + (state == 2 ? 1 : 0);
            p.drawImage(ox, oy, state == 3 ? Disabled(small) : small);
        }
    }
    return img;
}

// ---------------------------------------------------------------------------------------------
// The splash picture.

QImage DrawSplash() {
    const int W = 440, H = 250;
    QImage img(W, H, QImage::Format_RGB32);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    QLinearGradient bg(0, 0, W, H);
    bg.setColorAt(0, QColor(0x1b, 0x24, 0x38));
    bg.setColorAt(1, QColor(0x0d, 0x11, 0x1b));
    p.fillRect(img.rect(), bg);
    QRadialGradient glow(QPointF(W * 0.72, H * 0.32), 190);
    glow.setColorAt(0, QColor(0x3a, 0x6f, 0xc4, 90));
    glow.setColorAt(1, QColor(0x3a, 0x6f, 0xc4, 0));
    p.fillRect(img.rect(), glow);

    // A film strip running across the lower part, its frames in the storyboard's colours.
    const double stripY = 168, stripH = 52;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x05, 0x07, 0x0b));
    p.drawRect(QRectF(0, stripY, W, stripH));
    p.setBrush(QColor(0x2a, 0x30, 0x3c));
    for (double x = 6; x < W; x += 14) {
        p.drawRoundedRect(QRectF(x, stripY + 4, 7, 5), 1.2, 1.2);
        p.drawRoundedRect(QRectF(x, stripY + stripH - 9, 7, 5), 1.2, 1.2);
    }
    const QColor frames[] = {QColor(0x3d, 0x6f, 0xb6), QColor(0x4f, 0x8f, 0xd8), QColor(0xe6, 0xa8, 0x2e),
                             QColor(0x2e, 0x9e, 0x4f), QColor(0x1d, 0x93, 0x8a), QColor(0xd8, 0x3a, 0x3a),
                             QColor(0x6a, 0x5a, 0xcd), QColor(0x3d, 0x6f, 0xb6)};
    for (int i = 0; i < 8; i++) {
        QRectF fr(8 + i * 54.5, stripY + 13, 48, stripH - 26);
        QLinearGradient fg(fr.topLeft(), fr.bottomRight());
        fg.setColorAt(0, frames[i].lighter(125));
        fg.setColorAt(1, frames[i].darker(140));
        p.setBrush(fg);
        p.drawRoundedRect(fr, 2, 2);
        if (i == 2) {  // a title box, as the storyboard marks titled frames
            p.setBrush(QColor(0xff, 0xff, 0x00));
            p.drawRect(QRectF(fr.center().x() - 5, fr.top() + 3, 10, 3));
        }
        if (i == 5) {  // the inactive mark
            p.setPen(QPen(QColor(0xff, 0xff, 0xff, 200), 1.6));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(fr.center(), 8, 8);
            p.drawLine(fr.center() + QPointF(-5.6, -5.6), fr.center() + QPointF(5.6, 5.6));
            p.setPen(Qt::NoPen);
        }
    }

    // The mark: a quill crossing a play triangle.
    p.save();
    p.translate(62, 86);
    QPolygonF play;
    play << QPointF(-20, -30) << QPointF(34, 0) << QPointF(-20, 30);
    QLinearGradient pg(-20, -30, 34, 30);
    pg.setColorAt(0, QColor(0x5d, 0xa9, 0xff));
    pg.setColorAt(1, QColor(0x2f, 0x6c, 0xd4));
    p.setBrush(pg);
    p.drawPolygon(play);
    QPainterPath quill;
    quill.moveTo(-30, 44);
    quill.cubicTo(-6, 12, 18, -26, 46, -50);
    quill.cubicTo(40, -22, 20, 6, -4, 24);
    quill.cubicTo(-14, 32, -22, 38, -30, 44);
    QLinearGradient qg(-30, 44, 46, -50);
    qg.setColorAt(0, QColor(0xe8, 0xec, 0xf4));
    qg.setColorAt(1, QColor(0xff, 0xff, 0xff));
    p.setBrush(qg);
    p.setPen(QPen(QColor(0x9a, 0xa8, 0xc0), 0.8));
    p.drawPath(quill);
    p.setPen(QPen(QColor(0x8a, 0x98, 0xb4), 1.1));
    p.drawLine(QPointF(-30, 44), QPointF(30, -30));
    p.restore();

    QFont title("Liberation Serif");
    title.setPixelSize(58);
    title.setItalic(true);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0xf4, 0xf6, 0xfa));
    p.drawText(QPointF(128, 96), "Quillory");
    QFont sub("Liberation Sans");
    sub.setPixelSize(15);
    sub.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    p.setFont(sub);
    p.setPen(QColor(0x9f, 0xb4, 0xd8));
    p.drawText(QPointF(132, 124), "THE CLIPGRAM STUDIO");
    QFont small("Liberation Sans");
    small.setPixelSize(11);
    p.setFont(small);
    p.setPen(QColor(0x70, 0x80, 0x9c));
    p.drawText(QPointF(132, 144), "Capture  \u00b7  Edit  \u00b7  Render  \u00b7  Send");
    p.setPen(QColor(0x5a, 0x66, 0x7c));
    p.drawText(QRectF(0, H - 24, W - 12, 20), Qt::AlignRight | Qt::AlignVCenter, "Click to continue");
    p.end();
    return img;
}

bool SaveIndexed(const QImage& img, const QString& path, const std::vector<QRgb>& forced) {
    std::vector<QRgb> palette = ReducePalette(img, forced);
    return WriteBmp8(ToIndexed(img, palette), path);
}

void Preview(const QString& bmp, const QString& png, int scale) {
    QImage img(bmp);
    img.scaled(img.width() * scale, img.height() * scale).save(png);
}

// The VCR panel put together as the panel code will, to judge the artwork as a whole.
void PreviewVcrPanel(const QString& bmp, const QString& png) {
    QImage art = QImage(bmp).convertToFormat(QImage::Format_RGB32);
    QImage panel(286, 155, QImage::Format_RGB32);
    QPainter p(&panel);
    p.drawImage(QPoint(0, 0), art, QRect(kVcrFront.x, kVcrFront.y, kVcrFront.width, kVcrFront.height));
    for (int y : {47, 66, 85}) p.drawImage(QPoint(12, y), art, QRect(kVcrRowWell.x, kVcrRowWell.y, 126, 19));
    p.drawImage(QPoint(102, 112), art, QRect(kVcrInfoWell.x, kVcrInfoWell.y, 36, 19));
    struct Place {
        int id, x, y, row;
    };
    const Place places[] = {{1435, 16, 51, 0}, {1152, 55, 51, 2}, {1154, 96, 51, 0},   {1595, 16, 70, 0},
                            {1155, 55, 70, 3}, {1710, 96, 70, 1}, {1854, 106, 116, 0}, {1436, 16, 89, 0},
                            {1861, 41, 89, 0}, {1597, 66, 89, 0}, {1596, 85, 89, 0},   {1530, 110, 89, 0},
                            {2, 263, 9, 0},    {9, 262, 144, 0}};
    for (const Place& pl : places)
        for (const ArtworkButton& b : kVcrPanelButtons)
            if (b.controlId == pl.id)
                p.drawImage(QPoint(pl.x, pl.y), art,
                            QRect(b.face.x, b.face.y + pl.row * b.face.height, b.face.width, b.face.height));
    QFont small("Liberation Sans");
    small.setPixelSize(8);
    p.setFont(small);
    p.setPen(Qt::black);
    p.drawText(QPointF(4, 152), "QUILLORY - AVI PLAYBACK");
    p.drawText(QPointF(261, 143), "HELP");
    p.setPen(QColor(0, 255, 0));
    QFont lcd("Liberation Sans");
    lcd.setPixelSize(11);
    p.setFont(lcd);
    p.drawText(QPointF(10, 19), "PLAY");
    p.drawText(QPointF(57, 19), "00:00:04.12");
    p.fillRect(QRect(8, 20, 134, 6), QColor(0, 0x80, 0));
    p.fillRect(QRect(8, 20, 60, 6), QColor(0, 0xff, 0));
    p.end();
    panel.scaled(panel.width() * 3, panel.height() * 3).save(png);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_artwork DIR [--preview]\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const bool preview = argc > 2 && QString(argv[2]) == "--preview";
    const std::vector<QRgb> vcrForced = {
        qRgb(0, 0, 0),          qRgb(0xff, 0xff, 0xff), kJogFaceRgb,
        kShuttleFaceRgb,        qRgb(0x80, 0x80, 0x80), qRgb(0x00, 0xff, 0x00),
        qRgb(0xff, 0x3b, 0x30), qRgb(0x7c, 0xff, 0x8a), qRgb(0xff, 0xc8, 0x57)};
    bool ok = SaveIndexed(DrawVcr00(), dir + "/VCR00.bmp", vcrForced);
    ok = SaveIndexed(DrawToolbar(), dir + "/toolbar.bmp", {qRgb(0xde, 0xde, 0xde), qRgb(0xff, 0xff, 0xff)}) &&
         ok;
    ok = DrawSplash().save(dir + "/splash.png", "PNG") && ok;
    ok = WriteDesktopIcons(dir + "/icons") && ok;
    if (preview) {
        Preview(dir + "/VCR00.bmp", dir + "/VCR00-preview.png", 3);
        Preview(dir + "/toolbar.bmp", dir + "/toolbar-preview.png", 3);
        PreviewVcrPanel(dir + "/VCR00.bmp", dir + "/vcr-panel-preview.png");
    }
    if (!ok) std::fprintf(stderr, "make_artwork: could not write into %s\n", argv[1]);
    return ok ? 0 : 1;
}
