#include "image_normalize.h"

#include <QColorSpace>

#include <algorithm>
#include <cstring>

namespace korvane {

namespace {

// Conversions run over bands of rows, so that no whole-picture copy at 32
// bits a pixel is ever held beside the picture: a band is about this big.
constexpr qsizetype kBandBytes = 4 << 20;

int bandRowsFor(int width)
{
    return static_cast<int>(std::clamp<qsizetype>(kBandBytes / std::max<qsizetype>(qsizetype(width) * 8, 1), 1, 4096));
}

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

// One band of any format, in sRGB, opaque over white, into RGB888 rows.
void putBand(const QImage& source, int firstRow, int rows, QImage& out)
{
    QImage band = source.copy(0, firstRow, source.width(), rows);
    if (needsSrgbConversion(source.colorSpace()))
        band.convertToColorSpace(QColorSpace::SRgb);
    band.convertTo(QImage::Format_ARGB32);
    for (int y = 0; y < rows; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(band.constScanLine(y));
        uchar* row = out.scanLine(firstRow + y);
        for (int x = 0; x < out.width(); ++x) {
            const int alpha = qAlpha(in[x]);
            uchar* pixel = row + 3 * std::ptrdiff_t(x);
            pixel[0] = overWhite(qRed(in[x]), alpha);
            pixel[1] = overWhite(qGreen(in[x]), alpha);
            pixel[2] = overWhite(qBlue(in[x]), alpha);
        }
    }
}

QImage toRgb888InBands(const QImage& source)
{
    QImage out(source.size(), QImage::Format_RGB888);
    if (out.isNull())
        return out;
    const int step = bandRowsFor(source.width());
    for (int y = 0; y < source.height(); y += step)
        putBand(source, y, std::min(step, source.height() - y), out);
    return out;
}

// An RGB888 picture converted to sRGB where it lies, a band at a time.
void convertRgb888ToSrgb(QImage& image)
{
    const QColorSpace space = image.colorSpace();
    convertRgb888RowsToSrgb(image.bits(), image.bytesPerLine(), image.width(), image.height(), space);
    image.setColorSpace(QColorSpace(QColorSpace::SRgb));
}

} // namespace

bool needsSrgbConversion(const QColorSpace& space)
{
    return space.isValid() && space != QColorSpace(QColorSpace::SRgb);
}

void convertRgb888RowsToSrgb(uchar* rows, qsizetype stride, int width, int count, const QColorSpace& space)
{
    const int step = bandRowsFor(width);
    const qsizetype rowBytes = qsizetype(width) * 3;
    for (int y = 0; y < count; y += step) {
        const int inBand = std::min(step, count - y);
        QImage band = QImage(rows + y * stride, width, inBand, stride, QImage::Format_RGB888).copy();
        band.setColorSpace(space);
        band.convertToColorSpace(QColorSpace::SRgb);
        if (band.format() != QImage::Format_RGB888)
            band.convertTo(QImage::Format_RGB888);
        for (int r = 0; r < inBand; ++r)
            std::memcpy(rows + (y + r) * stride, band.constScanLine(r), static_cast<size_t>(rowBytes));
    }
}

void flattenRowOverWhite(const uchar* in, uchar* out, int width, int inputBytes)
{
    if (inputBytes == 2)
        for (int x = 0; x < width; ++x)
            out[x] = overWhite(in[2 * std::ptrdiff_t(x)], in[2 * std::ptrdiff_t(x) + 1]);
    else
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                out[3 * x + c] = overWhite(in[4 * x + c], in[4 * x + 3]);
}

QImage toDisplayFormat(QImage image)
{
    if (image.isNull())
        return image;
    if (!image.hasAlphaChannel() && isGrey(image)) {
        image.convertTo(QImage::Format_Grayscale8);
        return image;
    }
    if (image.format() == QImage::Format_RGB888) {
        if (needsSrgbConversion(image.colorSpace()))
            convertRgb888ToSrgb(image);
        return image;
    }
    return toRgb888InBands(image);
}

} // namespace korvane
