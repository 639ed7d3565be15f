// korvane-sample OUT.png [WIDTH HEIGHT]: draws a synthetic map-like
// picture, detailed enough that the detail view has something to show.
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

QImage drawSample(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            // Rolling terrain: sums of waves shaded from sea blue to hill brown.
            const double h = std::sin(x * 0.004) + std::cos(y * 0.005) + 0.5 * std::sin((x + y) * 0.011)
                + 0.25 * std::cos((x - 2 * y) * 0.023);
            const double t = (h + 2.25) / 4.5;
            const int r = t < 0.45 ? 40 + int(t * 120) : 90 + int(t * 140);
            const int g = t < 0.45 ? 90 + int(t * 200) : 150 + int((1 - t) * 80);
            const int b = t < 0.45 ? 170 + int(t * 150) : 60 + int((1 - t) * 40);
            row[x] = qRgb(std::min(r, 255), std::min(g, 255), std::min(b, 255));
        }
    }
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(255, 255, 255, 110), 1));
    for (int x = 0; x < width; x += 100)
        painter.drawLine(x, 0, x, height);
    for (int y = 0; y < height; y += 100)
        painter.drawLine(0, y, width, y);
    QFont font = painter.font();
    font.setPixelSize(14);
    painter.setFont(font);
    painter.setPen(QColor(20, 20, 20));
    for (int y = 0; y < height; y += 200)
        for (int x = 0; x < width; x += 200)
            painter.drawText(x + 4, y + 16, QString("%1,%2").arg(x).arg(y));
    QPainterPath road;
    road.moveTo(0, height * 0.7);
    road.cubicTo(width * 0.3, height * 0.2, width * 0.6, height * 1.0, width, height * 0.3);
    painter.setPen(QPen(QColor(200, 40, 40), 6));
    painter.drawPath(road);
    return image;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: korvane-sample OUT.png [WIDTH HEIGHT]\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    const int width = argc >= 4 ? std::atoi(argv[2]) : 3200;
    const int height = argc >= 4 ? std::atoi(argv[3]) : 2000;
    if (width <= 0 || height <= 0 || !drawSample(width, height).save(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "korvane-sample: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
