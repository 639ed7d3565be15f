#include "pixel_ops.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace korvane {

namespace {

struct Tap {
    int index;
    float weight;
};

// For each destination index, the source indices it draws on and their
// weights (summing to 1): box overlap when reducing, linear when enlarging.
std::vector<std::vector<Tap>> axisWeights(int sourceSize, int destSize)
{
    std::vector<std::vector<Tap>> taps(static_cast<size_t>(destSize));
    const double scale = static_cast<double>(sourceSize) / destSize;
    for (int d = 0; d < destSize; ++d) {
        auto& list = taps[static_cast<size_t>(d)];
        if (scale >= 1.0) {
            const double begin = d * scale, end = begin + scale;
            for (int s = static_cast<int>(begin); s < sourceSize && s < end; ++s) {
                const double overlap = std::min<double>(end, s + 1) - std::max<double>(begin, s);
                if (overlap > 0)
                    list.push_back({s, static_cast<float>(overlap / scale)});
            }
        } else {
            const double centre = std::clamp((d + 0.5) * scale - 0.5, 0.0, sourceSize - 1.0);
            const int s0 = static_cast<int>(centre);
            const auto fraction = static_cast<float>(centre - s0);
            list.push_back({s0, 1.0f - fraction});
            if (fraction > 0 && s0 + 1 < sourceSize)
                list.push_back({s0 + 1, fraction});
        }
    }
    return taps;
}

int channelsOf(const QImage& image)
{
    return image.format() == QImage::Format_Grayscale8 ? 1 : 3;
}

// One source row resampled horizontally into `out` (width x 3 floats).
void resampleRow(const uchar* row, int channels, const std::vector<std::vector<Tap>>& taps, float* out)
{
    for (size_t d = 0; d < taps.size(); ++d) {
        float r = 0, g = 0, b = 0;
        for (const Tap& tap : taps[d]) {
            const uchar* p = row + static_cast<ptrdiff_t>(tap.index) * channels;
            r += tap.weight * p[0];
            g += tap.weight * p[channels == 1 ? 0 : 1];
            b += tap.weight * p[channels == 1 ? 0 : 2];
        }
        out[3 * d] = r;
        out[3 * d + 1] = g;
        out[3 * d + 2] = b;
    }
}

uchar toByte(float value)
{
    return static_cast<uchar>(std::clamp(std::lround(value), 0L, 255L));
}

} // namespace

QImage scaleSmooth(const QImage& source, int width, int height)
{
    if (width <= 0 || height <= 0 || source.isNull())
        return QImage();
    QImage result(width, height, QImage::Format_RGB32);
    if (result.isNull())
        return result;
    const auto across = axisWeights(source.width(), width);
    const auto down = axisWeights(source.height(), height);
    // Each destination row gathers its source rows; a resampled source row
    // is reused while consecutive destination rows share it.
    std::vector<float> sourceRow(3 * static_cast<size_t>(width));
    std::vector<float> sum(3 * static_cast<size_t>(width));
    int cachedRow = -1;
    const int channels = channelsOf(source);
    for (int y = 0; y < height; ++y) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        for (const Tap& tap : down[static_cast<size_t>(y)]) {
            if (tap.index != cachedRow) {
                resampleRow(source.constScanLine(tap.index), channels, across, sourceRow.data());
                cachedRow = tap.index;
            }
            for (size_t i = 0; i < sum.size(); ++i)
                sum[i] += tap.weight * sourceRow[i];
        }
        auto* out = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < width; ++x)
            out[x] = qRgb(toByte(sum[3 * x]), toByte(sum[3 * x + 1]), toByte(sum[3 * x + 2]));
    }
    return result;
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
