#include "platform/display/display.h"

#include <QGuiApplication>
#include <QScreen>

bool GetDisplayMetrics(DisplayMetrics& metrics) {
    metrics = DisplayMetrics{};
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance())) return false;
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return false;
    const QRect g = screen->geometry();
    metrics.width = g.width();
    metrics.height = g.height();
    metrics.depth = screen->depth();
    return true;
}
