#pragma once
#include <QColorSpace>
#include <QImage>

namespace korvane {

// Brings a decoded image into the form the panels draw from: sRGB, opaque,
// RGB888 for colour and Grayscale8 for grey. Transparent parts are laid
// over white, the panels' background. Beside the image it takes at most a
// few megabytes of bands, and an RGB888 result when the image is in
// another format.
QImage toDisplayFormat(QImage image);

// A colour space other than sRGB, which the pixels must be converted from.
bool needsSrgbConversion(const QColorSpace& space);

// RGB888 rows from `space` to sRGB where they lie, a few megabytes at a time;
// the memory they sit in is written through this pointer only.
void convertRgb888RowsToSrgb(uchar* rows, qsizetype stride, int width, int count, const QColorSpace& space);

// One channel of a pixel with alpha, laid over white. Inline: it runs for
// every channel of every pixel with alpha.
inline uchar overWhite(int value, int alpha)
{
    return static_cast<uchar>((value * alpha + 255 * (255 - alpha) + 127) / 255);
}

// A row of grey+alpha (2 bytes a pixel) or RGBA (4) pixels laid over white
// into grey or RGB.
void flattenRowOverWhite(const uchar* in, uchar* out, int width, int inputBytes);

} // namespace korvane
