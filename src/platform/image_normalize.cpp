#include "image_normalize.h"

#include <QColorSpace>

namespace korvane {

namespace {

bool isGrey(const QImage& image)
{
    switch (image.format()) {
    case QImage::Format_Grayscale8:
    case QImage::Format_Grayscale16:
        return true;
    case QImage::Format_Indexed8:
    case QImage::Format_Mono:
    case QImage::Format_MonoLSB:
        return image.isGrayscale(); // looks at the colour table only
    default:
        return false;
    }
}

// Premultiplied colour plus (255 - alpha) is the colour laid over white.
QImage flattenOverWhite(const QImage& image)
{
    const QImage premultiplied = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QImage out(premultiplied.size(), QImage::Format_RGB888);
    if (out.isNull())
        return out;
    for (int y = 0; y < out.height(); ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
        uchar* row = out.scanLine(y);
        for (int x = 0; x < out.width(); ++x) {
            const int lift = 255 - qAlpha(in[x]);
            row[3 * x] = static_cast<uchar>(qRed(in[x]) + lift);
            row[3 * x + 1] = static_cast<uchar>(qGreen(in[x]) + lift);
            row[3 * x + 2] = static_cast<uchar>(qBlue(in[x]) + lift);
        }
    }
    return out;
}

void convertToSrgb(QImage& image)
{
    const QColorSpace space = image.colorSpace();
    if (space.isValid() && space != QColorSpace(QColorSpace::SRgb))
        image.convertToColorSpace(QColorSpace::SRgb);
}

} // namespace

QImage toDisplayFormat(QImage image)
{
    if (image.isNull())
        return image;
    if (image.hasAlphaChannel()) {
        convertToSrgb(image);
        return flattenOverWhite(image);
    }
    if (isGrey(image)) {
        image.convertTo(QImage::Format_Grayscale8);
        return image;
    }
    if (image.format() != QImage::Format_RGB888)
        image.convertTo(QImage::Format_RGB888);
    convertToSrgb(image);
    return image;
}

} // namespace korvane
