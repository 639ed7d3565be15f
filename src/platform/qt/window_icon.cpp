#include "window_icon.h"

#include <QFile>
#include <QPixmap>

#include <png.h>

namespace korvane {

namespace {

// One of the icon's PNGs, read by libpng. Qt's reader, even told the
// format, first opens every image-format plugin on the machine to read its
// metadata; the window's first frame need not wait for that.
QImage readIconPng(const QString& resource)
{
    QFile file(resource);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = file.readAll();
    png_image png {};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.constData(), std::size_t(bytes.size())))
        return {};
    // QImage's ARGB32 is one 0xAARRGGBB word a pixel, in the machine's order.
    png.format = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;
    QImage image(int(png.width), int(png.height), QImage::Format_ARGB32);
    if (image.isNull()) {
        png_image_free(&png);
        return {};
    }
    if (!png_image_finish_read(&png, nullptr, image.bits(), png_int_32(image.bytesPerLine()), nullptr))
        return {};
    return image;
}

} // namespace

QIcon programIcon()
{
    // Pre-rendered sizes: reading a few small PNGs costs less at start-up
    // than loading an SVG renderer, and the window system picks among them.
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128})
        icon.addPixmap(QPixmap::fromImage(readIconPng(QStringLiteral(":/icons/%1x%1/apps/org.korvane.Korvane.png").arg(size))));
    return icon;
}

} // namespace korvane
