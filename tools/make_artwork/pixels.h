// Helpers of the artwork generator: a 3 x 5 pixel font for the tiny labels, palette reduction to
// 256 colours, and the 8-bit bitmap file writer.
#pragma once

#include <QImage>
#include <QString>
#include <vector>

// Draws text in the 3 x 5 pixel font with its top-left at (x, y); returns the width drawn.
int DrawPixelText(QImage& img, int x, int y, const QString& text, QRgb colour);
int PixelTextWidth(const QString& text);

// A palette of at most 256 colours for the picture: every colour when there are few enough,
// otherwise a median cut; the forced colours are always in it exactly.
std::vector<QRgb> ReducePalette(const QImage& img, const std::vector<QRgb>& forced);
// The picture mapped onto the palette (nearest colour, no dithering, so edges stay crisp).
QImage ToIndexed(const QImage& img, const std::vector<QRgb>& palette);
// Writes an uncompressed 8-bit bottom-up bitmap file with a 256-entry colour table.
bool WriteBmp8(const QImage& indexed, const QString& path);
