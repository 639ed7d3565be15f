#include "window_icon.h"

#include <QImageReader>
#include <QPixmap>

namespace korvane {

QIcon programIcon()
{
    // Pre-rendered sizes: reading a few small PNGs costs less at start-up
    // than loading an SVG renderer, and the window system picks among them.
    // Read by Qt's own PNG reader alone: a reader allowed to guess loads
    // every image plugin Qt has, and their libraries, to ask each one.
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        QImageReader reader(QStringLiteral(":/icons/%1x%1/apps/org.korvane.Korvane.png").arg(size), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
    }
    return icon;
}

} // namespace korvane
