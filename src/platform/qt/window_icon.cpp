#include "window_icon.h"

#include <QPainter>

namespace korvane {

namespace {

// The sixteen colours of the classic VGA palette.
QList<QRgb> sixteenColours()
{
    return {qRgb(0, 0, 0), qRgb(128, 0, 0), qRgb(0, 128, 0), qRgb(128, 128, 0), qRgb(0, 0, 128),
        qRgb(128, 0, 128), qRgb(0, 128, 128), qRgb(192, 192, 192), qRgb(128, 128, 128), qRgb(255, 0, 0),
        qRgb(0, 255, 0), qRgb(255, 255, 0), qRgb(0, 0, 255), qRgb(255, 0, 255), qRgb(0, 255, 255),
        qRgb(255, 255, 255)};
}

} // namespace

QImage windowIconImage(int size)
{
    QImage image(size, size, QImage::Format_RGB32);
    const double u = size / 16.0; // one unit of the 16 x 16 drawing
    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(192, 192, 192));
    painter.setPen(Qt::NoPen);
    // The overview: a landscape of sky and hills.
    painter.fillRect(QRectF(1 * u, 3 * u, 6 * u, 10 * u), QColor(0, 128, 128));
    painter.fillRect(QRectF(1 * u, 9 * u, 6 * u, 4 * u), QColor(0, 128, 0));
    // The detail view, larger and brighter.
    painter.fillRect(QRectF(8 * u, 1 * u, 7 * u, 14 * u), QColor(0, 255, 255));
    painter.fillRect(QRectF(8 * u, 9 * u, 7 * u, 6 * u), QColor(0, 255, 0));
    painter.fillRect(QRectF(8 * u, 8 * u, 7 * u, 1 * u), QColor(255, 255, 0));
    // The blue marker on the overview.
    painter.setPen(QPen(QColor(0, 0, 255), size >= 32 ? 2 : 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(4 * u, 8 * u), 1.6 * u, 1.6 * u);
    painter.setPen(QPen(QColor(0, 0, 0), 1));
    painter.drawRect(QRectF(0.5, 0.5, size - 1, size - 1));
    painter.end();
    return image.convertToFormat(QImage::Format_Indexed8, sixteenColours(), Qt::ThresholdDither);
}

QIcon windowIcon()
{
    QIcon icon;
    for (int size : kIconSizes)
        icon.addPixmap(QPixmap::fromImage(windowIconImage(size)));
    return icon;
}

} // namespace korvane
