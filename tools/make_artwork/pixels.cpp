#include "pixels.h"

#include <QFile>
#include <algorithm>
#include <cstdint>
#include <map>
#include <unordered_map>

namespace {

struct Glyph {
    char c;
    const char* rows[5];
};

// '#' lights a pixel.
const Glyph kGlyphs[] = {
    {'A', {".#.", "#.#", "###", "#.#", "#.#"}}, {'B', {"##.", "#.#", "##.", "#.#", "##."}},
    {'C', {".##", "#..", "#..", "#..", ".##"}}, {'D', {"##.", "#.#", "#.#", "#.#", "##."}},
    {'E', {"###", "#..", "##.", "#..", "###"}}, {'F', {"###", "#..", "##.", "#..", "#.."}},
    {'G', {".##", "#..", "#.#", "#.#", ".##"}}, {'H', {"#.#", "#.#", "###", "#.#", "#.#"}},
    {'I', {"###", ".#.", ".#.", ".#.", "###"}}, {'J', {"..#", "..#", "..#", "#.#", ".#."}},
    {'K', {"#.#", "#.#", "##.", "#.#", "#.#"}}, {'L', {"#..", "#..", "#..", "#..", "###"}},
    {'M', {"#.#", "###", "###", "#.#", "#.#"}}, {'N', {"##.", "#.#", "#.#", "#.#", "#.#"}},
    {'O', {".#.", "#.#", "#.#", "#.#", ".#."}}, {'P', {"##.", "#.#", "##.", "#..", "#.."}},
    {'Q', {".#.", "#.#", "#.#", "##.", ".##"}}, {'R', {"##.", "#.#", "##.", "#.#", "#.#"}},
    {'S', {".##", "#..", ".#.", "..#", "##."}}, {'T', {"###", ".#.", ".#.", ".#.", ".#."}},
    {'U', {"#.#", "#.#", "#.#", "#.#", "###"}}, {'V', {"#.#", "#.#", "#.#", "#.#", ".#."}},
    {'W', {"#.#", "#.#", "###", "###", "#.#"}}, {'X', {"#.#", "#.#", ".#.", "#.#", "#.#"}},
    {'Y', {"#.#", "#.#", ".#.", ".#.", ".#."}}, {'Z', {"###", "..#", ".#.", "#..", "###"}},
    {'0', {"###", "#.#", "#.#", "#.#", "###"}}, {'1', {".#.", "##.", ".#.", ".#.", "###"}},
    {'2', {"##.", "..#", ".#.", "#..", "###"}}, {'3', {"##.", "..#", ".#.", "..#", "##."}},
    {'4', {"#.#", "#.#", "###", "..#", "..#"}}, {'5', {"###", "#..", "##.", "..#", "##."}},
    {'6', {".##", "#..", "###", "#.#", "###"}}, {'7', {"###", "..#", ".#.", ".#.", ".#."}},
    {'8', {"###", "#.#", "###", "#.#", "###"}}, {'9', {"###", "#.#", "###", "..#", "##."}},
    {'.', {"...", "...", "...", "...", ".#."}}, {'-', {"...", "...", "###", "...", "..."}},
    {'?', {"##.", "..#", ".#.", "...", ".#."}}, {'/', {"..#", "..#", ".#.", "#..", "#.."}},
    {'<', {"..#", ".#.", "#..", ".#.", "..#"}}, {'>', {"#..", ".#.", "..#", ".#.", "#.."}},
    {'+', {"...", ".#.", "###", ".#.", "..."}}, {' ', {"...", "...", "...", "...", "..."}},
};

const Glyph* Find(QChar c) {
    char u = static_cast<char>(c.toUpper().toLatin1());
    for (const Glyph& g : kGlyphs)
        if (g.c == u) return &g;
    return nullptr;
}

int Distance(QRgb a, QRgb b) {
    int dr = qRed(a) - qRed(b), dg = qGreen(a) - qGreen(b), db = qBlue(a) - qBlue(b);
    return 3 * dr * dr + 4 * dg * dg + 2 * db * db;
}

struct Entry {
    QRgb colour;
    int64_t count;
};

struct Box {
    std::vector<Entry> entries;
    int64_t weight() const {
        int64_t w = 0;
        for (const Entry& e : entries) w += e.count;
        return w;
    }
    int channelRange(int ch, int& lo) const {
        int mn = 255, mx = 0;
        for (const Entry& e : entries) {
            int v = ch == 0 ? qRed(e.colour) : ch == 1 ? qGreen(e.colour) : qBlue(e.colour);
            mn = std::min(mn, v);
            mx = std::max(mx, v);
        }
        lo = mn;
        return mx - mn;
    }
};

}  // namespace

int PixelTextWidth(const QString& text) {
    return text.isEmpty() ? 0 : static_cast<int>(text.size()) * 4 - 1;
}

int DrawPixelText(QImage& img, int x, int y, const QString& text, QRgb colour) {
    int cx = x;
    for (QChar c : text) {
        if (const Glyph* g = Find(c)) {
            for (int r = 0; r < 5; r++)
                for (int k = 0; k < 3; k++)
                    if (g->rows[r][k] == '#' && img.rect().contains(cx + k, y + r))
                        img.setPixel(cx + k, y + r, colour);
        }
        cx += 4;
    }
    return PixelTextWidth(text);
}

std::vector<QRgb> ReducePalette(const QImage& source, const std::vector<QRgb>& forced) {
    QImage img = source.convertToFormat(QImage::Format_RGB32);
    std::map<QRgb, int64_t> counts;
    for (int y = 0; y < img.height(); y++) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); x++) counts[line[x] | 0xFF000000u]++;
    }
    std::vector<QRgb> palette;
    for (QRgb f : forced) palette.push_back(f | 0xFF000000u);
    std::vector<Entry> rest;
    for (auto& [c, n] : counts)
        if (std::find(palette.begin(), palette.end(), c) == palette.end()) rest.push_back({c, n});
    const size_t room = 256 - palette.size();
    if (rest.size() <= room) {
        for (const Entry& e : rest) palette.push_back(e.colour);
        return palette;
    }
    std::vector<Box> boxes{Box{rest}};
    while (boxes.size() < room) {
        // Split the box whose widest channel spread times weight is largest.
        size_t best = boxes.size();
        int64_t bestScore = -1;
        int bestChannel = 0;
        for (size_t i = 0; i < boxes.size(); i++) {
            if (boxes[i].entries.size() < 2) continue;
            for (int ch = 0; ch < 3; ch++) {
                int lo = 0;
                int64_t score = static_cast<int64_t>(boxes[i].channelRange(ch, lo)) * boxes[i].weight();
                if (score > bestScore) {
                    bestScore = score;
                    best = i;
                    bestChannel = ch;
                }
            }
        }
        if (best == boxes.size()) break;
        Box& b = boxes[best];
        auto key = [bestChannel](const Entry& e) {
            return bestChannel == 0 ? qRed(e.colour) : bestChannel == 1 ? qGreen(e.colour) : qBlue(e.colour);
        };
        std::sort(b.entries.begin(), b.entries.end(),
                  [&](const Entry& a, const Entry& c) { return key(a) < key(c); });
        int64_t half = b.weight() / 2, acc = 0;
        size_t cut = 1;
        for (size_t i = 0; i + 1 < b.entries.size(); i++) {
            acc += b.entries[i].count;
            cut = i + 1;
            if (acc >= half) break;
        }
        Box other{std::vector<Entry>(b.entries.begin() + static_cast<std::ptrdiff_t>(cut), b.entries.end())};
        b.entries.resize(cut);
        boxes.push_back(std::move(other));
    }
    for (const Box& b : boxes) {
        int64_t r = 0, g = 0, bl = 0, w = 0;
        for (const Entry& e : b.entries) {
            r += qRed(e.colour) * e.count;
            g += qGreen(e.colour) * e.count;
            bl += qBlue(e.colour) * e.count;
            w += e.count;
        }
        if (w)
            palette.push_back(
                qRgb(static_cast<int>(r / w), static_cast<int>(g / w), static_cast<int>(bl / w)));
    }
    return palette;
}

QImage ToIndexed(const QImage& source, const std::vector<QRgb>& palette) {
    QImage img = source.convertToFormat(QImage::Format_RGB32);
    QImage out(img.size(), QImage::Format_Indexed8);
    QList<QRgb> table(palette.begin(), palette.end());
    while (table.size() < 256) table.push_back(qRgb(0, 0, 0));
    out.setColorTable(table);
    std::unordered_map<QRgb, int> cache;
    for (int y = 0; y < img.height(); y++) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < img.width(); x++) {
            QRgb c = line[x] | 0xFF000000u;
            auto it = cache.find(c);
            if (it == cache.end()) {
                int best = 0, bestD = INT32_MAX;
                for (size_t i = 0; i < palette.size(); i++) {
                    int d = Distance(c, palette[i]);
                    if (d < bestD) {
                        bestD = d;
                        best = static_cast<int>(i);
                    }
                }
                it = cache.emplace(c, best).first;
            }
            dst[x] = static_cast<uchar>(it->second);
        }
    }
    return out;
}

bool WriteBmp8(const QImage& indexed, const QString& path) {
    const int w = indexed.width(), h = indexed.height();
    const int stride = (w + 3) & ~3;
    const uint32_t offBits = 14 + 40 + 256 * 4;
    const uint32_t fileSize = offBits + static_cast<uint32_t>(stride * h);
    QByteArray b;
    auto le16 = [&](uint32_t v) {
        b.append(static_cast<char>(v & 0xFF));
        b.append(static_cast<char>((v >> 8) & 0xFF));
    };
    auto le32 = [&](uint32_t v) {
        le16(v & 0xFFFF);
        le16(v >> 16);
    };
    b.append("BM");
    le32(fileSize);
    le32(0);
    le32(offBits);
    le32(40);
    le32(static_cast<uint32_t>(w));
    le32(static_cast<uint32_t>(h));
    le16(1);
    le16(8);
    le32(0);
    le32(static_cast<uint32_t>(stride * h));
    le32(2835);
    le32(2835);
    le32(256);
    le32(0);
    QList<QRgb> table = indexed.colorTable();
    for (int i = 0; i < 256; i++) {
        QRgb c = i < table.size() ? table[i] : qRgb(0, 0, 0);
        b.append(static_cast<char>(qBlue(c)));
        b.append(static_cast<char>(qGreen(c)));
        b.append(static_cast<char>(qRed(c)));
        b.append('\0');
    }
    for (int y = h - 1; y >= 0; y--) {
        b.append(reinterpret_cast<const char*>(indexed.constScanLine(y)), w);
        for (int k = w; k < stride; k++) b.append('\0');
    }
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(b) == b.size();
}
