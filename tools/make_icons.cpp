// korvane-icons DIR: writes the window's icon as DIR/16x16/apps/korvane.png
// and DIR/32x32/apps/korvane.png, the hicolor theme's layout.
#include "platform/qt/window_icon.h"

#include <QDir>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: korvane-icons DIR\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    for (int size : korvane::kIconSizes) {
        const QString dir = QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[1])).arg(size);
        if (!QDir().mkpath(dir) || !korvane::windowIconImage(size).save(dir + "/korvane.png")) {
            std::fprintf(stderr, "korvane-icons: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
