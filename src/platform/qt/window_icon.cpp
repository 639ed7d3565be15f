#include "window_icon.h"

namespace korvane {

QIcon programIcon()
{
    // Pre-rendered sizes: reading a few small PNGs costs less at start-up
    // than loading an SVG renderer, and the window system picks among them.
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addFile(QStringLiteral(":/icons/%1x%1/apps/org.korvane.Korvane.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace korvane
