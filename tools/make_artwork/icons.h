// The desktop icons: the program's icon and the project-file icon, drawn once as vector shapes and
// written both as PNG files in the hicolor sizes and as scalable SVG files.
#pragma once

#include <QString>

// Writes DIR/hicolor/<N>x<N>/{apps,mimetypes}/NAME.png for every size and
// DIR/hicolor/scalable/{apps,mimetypes}/NAME.svg; false when a file cannot be written.
bool WriteDesktopIcons(const QString& dir);
