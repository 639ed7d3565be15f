#include "pixel_ops.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

namespace korvane {

namespace {

struct Tap {
    int index;
    float weight;
};

// For each destination index, the source indices it draws on and their
// weights (summing to 1): box overlap when reducing, linear when enlarging.
// Kept flat: destination d uses taps[first[d]] .. taps[first[d + 1] - 1].
struct AxisWeights {
    std::vector<int> first;
    std::vector<Tap> taps;
};

// Source pixel s stands for picture pixels [s * block, (s + 1) * block),
// the last one cut at pictureSize; block is 1 unless the source is a
// block-averaged copy.
AxisWeights axisWeights(int pictureSize, int destSize, int block = 1)
{
    AxisWeights weights;
    weights.first.reserve(static_cast<size_t>(destSize) + 1);
    const double scale = static_cast<double>(pictureSize) / destSize;
    const int sourceSize = (pictureSize + block - 1) / block;
    for (int d = 0; d < destSize; ++d) {
        weights.first.push_back(static_cast<int>(weights.taps.size()));
        if (scale >= block) {
            const double begin = d * scale, end = begin + scale;
            for (int s = static_cast<int>(begin / block); s < sourceSize && s * block < end; ++s) {
                const double cellBegin = double(s) * block;
                const double cellEnd = std::min<double>((s + 1.0) * block, pictureSize);
                const double overlap = std::min(end, cellEnd) - std::max(begin, cellBegin);
                if (overlap > 0)
                    weights.taps.push_back({s, static_cast<float>(overlap / scale)});
            }
        } else {
            const double centre = std::clamp((d + 0.5) * scale - 0.5, 0.0, sourceSize - 1.0);
            const int s0 = static_cast<int>(centre);
            const auto fraction = static_cast<float>(centre - s0);
            weights.taps.push_back({s0, 1.0f - fraction});
            if (fraction > 0 && s0 + 1 < sourceSize)
                weights.taps.push_back({s0 + 1, fraction});
        }
    }
    weights.first.push_back(static_cast<int>(weights.taps.size()));
    return weights;
}

// One source row resampled horizontally into `out` (3 floats a pixel).
template <int Channels>
void resampleRow(const uchar* row, const AxisWeights& across, float* out)
{
    const size_t width = across.first.size() - 1;
    const Tap* taps = across.taps.data();
    for (size_t d = 0; d < width; ++d) {
        float r = 0, g = 0, b = 0;
        for (int t = across.first[d]; t < across.first[d + 1]; ++t) {
            const uchar* p = row + static_cast<ptrdiff_t>(taps[t].index) * Channels;
            const float w = taps[t].weight;
            r += w * p[0];
            g += w * p[Channels == 1 ? 0 : 1];
            b += w * p[Channels == 1 ? 0 : 2];
        }
        out[3 * d] = r;
        out[3 * d + 1] = g;
        out[3 * d + 2] = b;
    }
}

// The weights sum to 1, so value is a level give or take float error:
// adding a half in double and truncating rounds it as lround would, and
// lets the compiler keep the whole row in vector registers.
uchar toByte(float value)
{
    return static_cast<uchar>(std::min(std::max(static_cast<double>(value), 0.0) + 0.5, 255.0));
}

// Destination rows [rowBegin, rowEnd): each gathers its source rows; a
// resampled source row is reused while consecutive rows share it.
struct Destination {
    uchar* bits; // taken once: QImage::scanLine is not safe from two threads
    qsizetype stride;
    int width;
};

// Source rows straight from an image.
struct ImageRows {
    const QImage* image;
    const uchar* operator()(int y) const { return image->constScanLine(y); }
};

// Source rows made a band at a time, as the scaling reaches them (it asks
// for them top to bottom).
class BandRows {
public:
    BandRows(const RowMaker* make, QSize size) : m_make(make), m_size(size) {}
    const uchar* operator()(int y)
    {
        if (m_band.isNull())
            m_band = QImage(m_size.width(), std::min(kRows, m_size.height()), QImage::Format_RGB888);
        if (m_first < 0 || y < m_first || y >= m_first + m_count) {
            m_first = y;
            m_count = std::min(kRows, m_size.height() - y);
            (*m_make)(QRect(0, y, m_size.width(), m_count), m_band.bits(), m_band.bytesPerLine());
        }
        return m_band.constScanLine(y - m_first);
    }

private:
    static constexpr int kRows = 32;
    const RowMaker* m_make;
    QSize m_size;
    QImage m_band;
    int m_first = -1, m_count = 0;
};

// The last two source rows resampled across: enlarging blends the same
// pair into many destination rows, reducing shares one row between
// neighbours, so two are enough to resample each source row once.
template <int Channels, typename Rows>
class ResampledRows {
public:
    ResampledRows(Rows& source, const AxisWeights& across, size_t width)
        : m_source(source), m_across(across)
    {
        for (Slot& slot : m_slots)
            slot.values.resize(3 * width);
    }
    const float* row(int index)
    {
        for (Slot& slot : m_slots) {
            if (slot.index == index) {
                slot.used = ++m_uses;
                return slot.values.data();
            }
        }
        Slot& oldest = m_slots[0].used <= m_slots[1].used ? m_slots[0] : m_slots[1];
        resampleRow<Channels>(m_source(index), m_across, oldest.values.data());
        oldest.index = index;
        oldest.used = ++m_uses;
        return oldest.values.data();
    }

private:
    struct Slot {
        std::vector<float> values;
        int index = -1;
        unsigned long used = 0;
    };
    Rows& m_source;
    const AxisWeights& m_across;
    Slot m_slots[2];
    unsigned long m_uses = 0;
};

template <int Channels, typename Rows>
void scaleRows(Rows source, Destination result, const AxisWeights& across, const AxisWeights& down,
    int rowBegin, int rowEnd)
{
    const int width = result.width;
    ResampledRows<Channels, Rows> resampled(source, across, static_cast<size_t>(width));
    std::vector<float> sum(3 * static_cast<size_t>(width));
    for (int y = rowBegin; y < rowEnd; ++y) {
        const auto row = static_cast<size_t>(y);
        if (down.first[row] == down.first[row + 1])
            std::fill(sum.begin(), sum.end(), 0.0f);
        for (int t = down.first[row]; t < down.first[row + 1]; ++t) {
            const Tap& tap = down.taps[static_cast<size_t>(t)];
            const float* sourceRow = resampled.row(tap.index);
            if (t == down.first[row])
                std::transform(sourceRow, sourceRow + sum.size(), sum.begin(),
                    [w = tap.weight](float value) { return w * value; });
            else
                for (size_t i = 0; i < sum.size(); ++i)
                    sum[i] += tap.weight * sourceRow[i];
        }
        auto* out = reinterpret_cast<QRgb*>(result.bits + y * result.stride);
        for (size_t x = 0; x < static_cast<size_t>(width); ++x)
            out[x] = qRgb(toByte(sum[3 * x]), toByte(sum[3 * x + 1]), toByte(sum[3 * x + 2]));
    }
}

// Below this many source pixels a second thread costs more than it saves.
constexpr qint64 kPixelsWorthASecondThread = 1 << 20;

} // namespace

QImage scaleSmooth(const QImage& source, int width, int height)
{
    return scaleSmoothFromBlocks(source, source.size(), 1, width, height);
}

namespace {

// `rows` runs over destination rows [begin, end) with a reader of its own.
template <typename RowsFor>
QImage scaleWith(const RowsFor& rows, qint64 sourcePixels, QSize pictureSize, int block, int width, int height,
    bool twoCores = true)
{
    QImage result(width, height, QImage::Format_RGB32);
    if (result.isNull())
        return result;
    const AxisWeights across = axisWeights(pictureSize.width(), width, block);
    const AxisWeights down = axisWeights(pictureSize.height(), height, block);
    const Destination destination{result.bits(), result.bytesPerLine(), width};
    // The result's rows do not overlap: two halves can be made at once.
    inTwoHalves(height, twoCores && sourcePixels >= kPixelsWorthASecondThread,
        [&](int begin, int end) { rows(destination, across, down, begin, end); });
    return result;
}

} // namespace

QImage scaleSmoothFromBlocks(const QImage& source, QSize pictureSize, int block, int width, int height)
{
    if (width <= 0 || height <= 0 || source.isNull())
        return QImage();
    const bool grey = source.format() == QImage::Format_Grayscale8;
    const auto rows = [&](Destination to, const AxisWeights& across, const AxisWeights& down, int begin, int end) {
        if (grey)
            scaleRows<1>(ImageRows{&source}, to, across, down, begin, end);
        else
            scaleRows<3>(ImageRows{&source}, to, across, down, begin, end);
    };
    return scaleWith(rows, qint64(source.width()) * source.height(), pictureSize, block, width, height);
}

QImage scaleSmoothMade(QSize size, const RowMaker& make, int width, int height, bool twoCores)
{
    if (width <= 0 || height <= 0 || size.isEmpty())
        return QImage();
    const auto rows = [&](Destination to, const AxisWeights& across, const AxisWeights& down, int begin, int end) {
        scaleRows<3>(BandRows(&make, size), to, across, down, begin, end);
    };
    return scaleWith(rows, qint64(size.width()) * size.height(), size, 1, width, height, twoCores);
}

void inTwoHalves(int count, bool worthIt, const std::function<void(int begin, int end)>& part)
{
    if (!worthIt || count < 2 || std::thread::hardware_concurrency() < 2) {
        part(0, count);
        return;
    }
    const int middle = count / 2;
    std::thread lower(part, middle, count);
    part(0, middle);
    lower.join();
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
