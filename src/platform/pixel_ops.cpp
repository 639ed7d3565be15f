#include "pixel_ops.h"

#include "picture/scale.h"

#include <cstdint>
#include <cstring>
#include <memory>

namespace korvane {

namespace {

// A keeper of another object, freed with the image that holds it.
template <typename Owner>
QImage imageKeeping(const uchar* bits, int width, int height, qsizetype stride, QImage::Format format,
    std::shared_ptr<const Owner> owner)
{
    auto* kept = new std::shared_ptr<const Owner>(std::move(owner));
    QImage image(bits, width, height, stride, format,
        [](void* keeper) { delete static_cast<std::shared_ptr<const Owner>*>(keeper); }, kept);
    if (image.isNull())
        delete kept;
    return image;
}

} // namespace

HeldPixels heldPixelsOf(const QImage& image)
{
    if (image.isNull())
        return {};
    const bool grey = image.format() == QImage::Format_Grayscale8;
    auto held = std::make_shared<const QImage>(grey || image.format() == QImage::Format_RGB888
            ? image : image.convertToFormat(QImage::Format_RGB888));
    const PixelView view{held->constBits(), std::size_t(held->bytesPerLine()), held->width(), held->height(),
        grey ? 1 : 3};
    return {view, std::move(held)};
}

QImage imageOf(std::shared_ptr<const PixelBuffer> pixels)
{
    const PixelBuffer& buffer = *pixels;
    return imageKeeping(buffer.bytes.get(), buffer.width, buffer.height, qsizetype(buffer.stride),
        buffer.channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888, std::move(pixels));
}

QImage imageOf(std::shared_ptr<const PanelPixels> pixels)
{
    const PanelPixels& panel = *pixels;
    return imageKeeping(reinterpret_cast<const uchar*>(panel.words.get()), panel.width, panel.height,
        qsizetype(sizeof(std::uint32_t)) * panel.width, QImage::Format_RGB32, std::move(pixels));
}

QImage scaleSmooth(const QImage& source, int width, int height)
{
    PanelPixels scaled = scaleSmooth(heldPixelsOf(source).view, width, height);
    return scaled.isNull() ? QImage() : imageOf(std::make_shared<const PanelPixels>(std::move(scaled)));
}

void copyPixels(const QImage& source, QPoint shift, QImage& destination, QRect area)
{
    // Destination pixels whose source pixel exists.
    const QRect sourceInDest = source.rect().translated(shift);
    const QRect target = area.intersected(destination.rect()).intersected(sourceInDest);
    if (target.isEmpty())
        return;
    const int sx0 = target.left() - shift.x();
    const int count = target.width();
    for (int y = target.top(); y <= target.bottom(); ++y) {
        const uchar* in = source.constScanLine(y - shift.y());
        auto* out = reinterpret_cast<QRgb*>(destination.scanLine(y)) + target.left();
        switch (source.format()) {
        case QImage::Format_RGB888:
            for (int i = 0; i < count; ++i) {
                const uchar* p = in + 3 * static_cast<ptrdiff_t>(sx0 + i);
                out[i] = qRgb(p[0], p[1], p[2]);
            }
            break;
        case QImage::Format_Grayscale8:
            for (int i = 0; i < count; ++i)
                out[i] = qRgb(in[sx0 + i], in[sx0 + i], in[sx0 + i]);
            break;
        default: // RGB32 and ARGB32 share the layout
            std::memcpy(out, reinterpret_cast<const QRgb*>(in) + sx0, sizeof(QRgb) * static_cast<size_t>(count));
            break;
        }
    }
}

void drawCircleOutline(QImage& destination, int centreX, int centreY, int radius, QRgb colour)
{
    auto plot = [&](int x, int y) {
        if (destination.valid(x, y))
            reinterpret_cast<QRgb*>(destination.scanLine(y))[x] = colour;
    };
    if (radius <= 0) {
        plot(centreX, centreY);
        return;
    }
    // Midpoint circle: one octant computed, eight mirrored.
    int x = radius, y = 0, error = 1 - radius;
    while (x >= y) {
        const int px[8] = {x, y, -y, -x, -x, -y, y, x};
        const int py[8] = {y, x, x, y, -y, -x, -x, -y};
        for (int i = 0; i < 8; ++i)
            plot(centreX + px[i], centreY + py[i]);
        ++y;
        if (error < 0) {
            error += 2 * y + 1;
        } else {
            --x;
            error += 2 * (y - x) + 1;
        }
    }
}

} // namespace korvane
