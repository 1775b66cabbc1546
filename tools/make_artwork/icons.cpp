#include "icons.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QTransform>
#include <vector>

namespace {

constexpr double kCanvas = 256;  // the shapes are drawn on a 256 x 256 canvas
const int kSizes[] = {16, 32, 48, 64, 128, 256};
constexpr int kSmallestDetailSize = 48;  // below this, sprocket holes and the like only blur

// One filled and/or outlined shape. The fill runs as a linear gradient from `from` at p0 to `to`
// at p1 (the same colour twice is a flat fill); an invalid `from` leaves the shape unfilled.
struct Shape {
    QPainterPath path;
    QColor from, to;
    QPointF p0, p1;
    QColor stroke;  // invalid: no outline
    double strokeWidth = 0;
    bool detail = false;
};

Shape Flat(const QPainterPath& path, QColor c, bool detail = false) {
    return Shape{path, c, c, {}, {}, QColor(), 0, detail};
}

QPainterPath Rect(double x, double y, double w, double h, double radius = 0) {
    QPainterPath p;
    if (radius > 0)
        p.addRoundedRect(QRectF(x, y, w, h), radius, radius);
    else
        p.addRect(QRectF(x, y, w, h));
    return p;
}

// The program's mark, as on the splash picture: a quill crossing a play triangle, centred on
// `centre` at `scale` (the mark is about 76 x 94 units at scale 1).
void AddMark(std::vector<Shape>& out, QPointF centre, double scale) {
    QTransform t;
    t.translate(centre.x() - 8 * scale, centre.y() + 3 * scale);
    t.scale(scale, scale);
    QPainterPath play;
    play.moveTo(-20, -30);
    play.lineTo(34, 0);
    play.lineTo(-20, 30);
    play.closeSubpath();
    out.push_back(Shape{t.map(play), QColor(0x5d, 0xa9, 0xff), QColor(0x2f, 0x6c, 0xd4),
                        t.map(QPointF(-20, -30)), t.map(QPointF(34, 30)), QColor(), 0, false});
    QPainterPath quill;
    quill.moveTo(-30, 44);
    quill.cubicTo(-6, 12, 18, -26, 46, -50);
    quill.cubicTo(40, -22, 20, 6, -4, 24);
    quill.cubicTo(-14, 32, -22, 38, -30, 44);
    out.push_back(Shape{t.map(quill), QColor(0xe8, 0xec, 0xf4), QColor(0xff, 0xff, 0xff),
                        t.map(QPointF(-30, 44)), t.map(QPointF(46, -50)), QColor(0x9a, 0xa8, 0xc0),
                        1.6 * scale, false});
    QPainterPath shaft;
    shaft.moveTo(-30, 44);
    shaft.lineTo(30, -30);
    out.push_back(
        Shape{t.map(shaft), QColor(), QColor(), {}, {}, QColor(0x8a, 0x98, 0xb4), 2.2 * scale, false});
}

// The program: the mark on a dark rounded tile with a film's sprocket holes down both sides.
std::vector<Shape> ProgramIcon() {
    std::vector<Shape> s;
    s.push_back(Shape{Rect(16, 16, 224, 224, 44),
                      QColor(0x2a, 0x3a, 0x5c),
                      QColor(0x0d, 0x11, 0x1b),
                      {16, 16},
                      {240, 240},
                      QColor(0x45, 0x5a, 0x85),
                      3,
                      false});
    for (double y = 44; y < 220; y += 30) {
        s.push_back(Flat(Rect(26, y, 14, 16, 3), QColor(0x05, 0x07, 0x0b), true));
        s.push_back(Flat(Rect(216, y, 14, 16, 3), QColor(0x05, 0x07, 0x0b), true));
    }
    AddMark(s, {128, 128}, 1.9);
    return s;
}

// A project: a page with a folded corner, the mark, and a strip of three frames.
std::vector<Shape> ProjectIcon() {
    std::vector<Shape> s;
    QPainterPath page;
    page.moveTo(56, 16);
    page.lineTo(164, 16);
    page.lineTo(212, 64);
    page.lineTo(212, 240);
    page.lineTo(56, 240);
    page.closeSubpath();
    s.push_back(Shape{page,
                      QColor(0xff, 0xff, 0xff),
                      QColor(0xe2, 0xe7, 0xf0),
                      {56, 16},
                      {212, 240},
                      QColor(0x6f, 0x7d, 0x98),
                      6,
                      false});
    QPainterPath fold;
    fold.moveTo(164, 16);
    fold.lineTo(164, 64);
    fold.lineTo(212, 64);
    fold.closeSubpath();
    s.push_back(Shape{fold,
                      QColor(0xc9, 0xd2, 0xe2),
                      QColor(0xc9, 0xd2, 0xe2),
                      {},
                      {},
                      QColor(0x6f, 0x7d, 0x98),
                      6,
                      false});
    AddMark(s, {124, 98}, 1.0);
    s.push_back(Flat(Rect(59, 150, 150, 64), QColor(0x1b, 0x24, 0x38)));
    const QColor frames[] = {QColor(0x4f, 0x8f, 0xd8), QColor(0xe6, 0xa8, 0x2e), QColor(0x2e, 0x9e, 0x4f)};
    for (int i = 0; i < 3; i++) s.push_back(Flat(Rect(68 + i * 46, 162, 40, 40, 3), frames[i]));
    for (double x = 64; x < 204; x += 12) {
        s.push_back(Flat(Rect(x, 153, 6, 5), QColor(0x5a, 0x66, 0x7c), true));
        s.push_back(Flat(Rect(x, 206, 6, 5), QColor(0x5a, 0x66, 0x7c), true));
    }
    return s;
}

QImage Render(const std::vector<Shape>& shapes, int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(size / kCanvas, size / kCanvas);
    for (const Shape& s : shapes) {
        if (s.detail && size < kSmallestDetailSize) continue;
        if (!s.from.isValid()) {
            p.setBrush(Qt::NoBrush);
        } else if (s.from == s.to) {
            p.setBrush(s.from);
        } else {
            QLinearGradient g(s.p0, s.p1);
            g.setColorAt(0, s.from);
            g.setColorAt(1, s.to);
            p.setBrush(g);
        }
        if (s.stroke.isValid())
            p.setPen(QPen(s.stroke, s.strokeWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        else
            p.setPen(Qt::NoPen);
        p.drawPath(s.path);
    }
    p.end();
    return img;
}

QString Num(double v) {
    QString t = QString::number(v, 'f', 2);
    while (t.contains('.') && (t.endsWith('0') || t.endsWith('.'))) t.chop(1);
    return t == "-0" ? QString("0") : t;
}

QString PathData(const QPainterPath& path) {
    QString d;
    for (int i = 0; i < path.elementCount(); i++) {
        const QPainterPath::Element e = path.elementAt(i);
        switch (e.type) {
            case QPainterPath::MoveToElement:
                d += QString("M%1 %2").arg(Num(e.x), Num(e.y));
                break;
            case QPainterPath::LineToElement:
                d += QString("L%1 %2").arg(Num(e.x), Num(e.y));
                break;
            case QPainterPath::CurveToElement: {  // followed by its two data elements
                const QPainterPath::Element c2 = path.elementAt(i + 1), end = path.elementAt(i + 2);
                d += QString("C%1 %2 %3 %4 %5 %6")
                         .arg(Num(e.x), Num(e.y), Num(c2.x), Num(c2.y), Num(end.x), Num(end.y));
                i += 2;
                break;
            }
            case QPainterPath::CurveToDataElement:
                break;
        }
    }
    return d;
}

QString Colour(const QColor& c, const char* attribute) {
    QString out = QString(" %1=\"%2\"").arg(attribute, c.name());
    if (c.alpha() < 255) out += QString(" %1-opacity=\"%2\"").arg(attribute, Num(c.alphaF()));
    return out;
}

// The same shapes as an SVG document (even-odd fill, as QPainter fills paths).
QString Svg(const std::vector<Shape>& shapes) {
    QString defs, body;
    int gradients = 0;
    for (const Shape& s : shapes) {
        QString fill = " fill=\"none\"";
        if (s.from.isValid() && s.from == s.to) {
            fill = Colour(s.from, "fill");
        } else if (s.from.isValid()) {
            const QString id = QString("g%1").arg(gradients++);
            defs += QString(
                        "    <linearGradient id=\"%1\" gradientUnits=\"userSpaceOnUse\" x1=\"%2\" y1=\"%3\" "
                        "x2=\"%4\" y2=\"%5\">\n      <stop offset=\"0\" stop-color=\"%6\"/>\n      "
                        "<stop offset=\"1\" stop-color=\"%7\"/>\n    </linearGradient>\n")
                        .arg(id, Num(s.p0.x()), Num(s.p0.y()), Num(s.p1.x()), Num(s.p1.y()), s.from.name(),
                             s.to.name());
            fill = QString(" fill=\"url(#%1)\"").arg(id);
        }
        QString stroke;
        if (s.stroke.isValid())
            stroke = Colour(s.stroke, "stroke") +
                     QString(" stroke-width=\"%1\" stroke-linecap=\"round\" stroke-linejoin=\"round\"")
                         .arg(Num(s.strokeWidth));
        body += QString("  <path d=\"%1\" fill-rule=\"evenodd\"%2%3/>\n").arg(PathData(s.path), fill, stroke);
    }
    return QString(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" "
               "width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n  <defs>\n%1  </defs>\n%2</svg>\n")
        .arg(defs, body);
}

bool WriteIcon(const QString& dir, const QString& context, const QString& name,
               const std::vector<Shape>& shapes) {
    bool ok = true;
    for (int size : kSizes) {
        const QString folder = QString("%1/hicolor/%2x%2/%3").arg(dir).arg(size).arg(context);
        ok = QDir().mkpath(folder) && Render(shapes, size).save(folder + "/" + name + ".png", "PNG") && ok;
    }
    const QString folder = QString("%1/hicolor/scalable/%2").arg(dir, context);
    QFile svg(folder + "/" + name + ".svg");
    ok = QDir().mkpath(folder) && svg.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
         svg.write(Svg(shapes).toUtf8()) > 0 && ok;
    return ok;
}

}  // namespace

bool WriteDesktopIcons(const QString& dir) {
    bool ok = WriteIcon(dir, "apps", QUILLORY_APP_ID, ProgramIcon());
    ok = WriteIcon(dir, "mimetypes", "application-x-quillory-project", ProjectIcon()) && ok;
    return ok;
}
