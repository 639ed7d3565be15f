// korvane-icons SOURCE DIR SIZE...: renders the SVG icon SOURCE as
// DIR/NxN/apps/org.korvane.Korvane.png for each SIZE, the hicolor theme's
// layout.
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: korvane-icons SOURCE DIR SIZE...\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "korvane-icons: cannot read %s\n", argv[1]);
        return 1;
    }
    for (int i = 3; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        const QString dir = QString("%1/%2x%2/apps").arg(QString::fromLocal8Bit(argv[2])).arg(size);
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter);
        painter.end();
        if (size <= 0 || !QDir().mkpath(dir) || !image.save(dir + "/org.korvane.Korvane.png")) {
            std::fprintf(stderr, "korvane-icons: cannot write %s\n", qPrintable(dir));
            return 1;
        }
    }
    return 0;
}
