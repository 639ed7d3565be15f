#include "scale.h"

#include "two_cores.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
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
void resampleRow(const std::uint8_t* row, const AxisWeights& across, float* out)
{
    const size_t width = across.first.size() - 1;
    const Tap* taps = across.taps.data();
    for (size_t d = 0; d < width; ++d) {
        float r = 0, g = 0, b = 0;
        for (int t = across.first[d]; t < across.first[d + 1]; ++t) {
            const std::uint8_t* p = row + static_cast<ptrdiff_t>(taps[t].index) * Channels;
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
std::uint32_t toByte(float value)
{
    return static_cast<std::uint32_t>(std::min(std::max(static_cast<double>(value), 0.0) + 0.5, 255.0));
}

// Destination rows [rowBegin, rowEnd): each gathers its source rows; a
// resampled source row is reused while consecutive rows share it.
struct Destination {
    std::uint32_t* words;
    int width;
};

// Source rows straight from memory.
struct HeldRows {
    const PixelView* view;
    const std::uint8_t* operator()(int y) const { return view->row(y); }
};

// Source rows made a band at a time, as the scaling reaches them (it asks
// for them top to bottom).
class BandRows {
public:
    BandRows(const RowMaker* make, int width, int height) : m_make(make), m_width(width), m_height(height) {}
    const std::uint8_t* operator()(int y)
    {
        if (!m_band)
            m_band = std::make_unique<PixelBuffer>(m_width, std::min(kRows, m_height), 3);
        if (m_first < 0 || y < m_first || y >= m_first + m_count) {
            m_first = y;
            m_count = std::min(kRows, m_height - y);
            (*m_make)(PixelRect{0, y, m_width, m_count}, m_band->row(0), m_band->stride);
        }
        return m_band->row(y - m_first);
    }

private:
    static constexpr int kRows = 32;
    const RowMaker* m_make;
    int m_width, m_height;
    std::unique_ptr<PixelBuffer> m_band;
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
        std::uint32_t* const out = result.words + std::size_t(y) * std::size_t(width);
        for (size_t x = 0; x < static_cast<size_t>(width); ++x)
            out[x] = 0xFF000000u | toByte(sum[3 * x]) << 16 | toByte(sum[3 * x + 1]) << 8 | toByte(sum[3 * x + 2]);
    }
}

// Below this many source pixels a second thread costs more than it saves.
constexpr long long kPixelsWorthASecondThread = 1 << 20;

} // namespace

namespace {

// `rows` runs over destination rows [begin, end) with a reader of its own.
template <typename RowsFor>
PanelPixels scaleWith(const RowsFor& rows, long long sourcePixels, int pictureWidth, int pictureHeight, int block,
    int width, int height, bool twoCores = true)
{
    PanelPixels result;
    try {
        result.words = std::make_unique_for_overwrite<std::uint32_t[]>(std::size_t(width) * std::size_t(height));
    } catch (const std::bad_alloc&) {
        return {};
    }
    result.width = width;
    result.height = height;
    const AxisWeights across = axisWeights(pictureWidth, width, block);
    const AxisWeights down = axisWeights(pictureHeight, height, block);
    const Destination destination{result.words.get(), width};
    // The result's rows do not overlap: two halves can be made at once.
    inTwoHalves(height, twoCores && sourcePixels >= kPixelsWorthASecondThread,
        [&](int begin, int end) { rows(destination, across, down, begin, end); });
    return result;
}

} // namespace

PanelPixels scaleSmooth(const PixelView& source, int width, int height)
{
    return scaleSmoothFromBlocks(source, source.width, source.height, 1, width, height);
}

PanelPixels scaleSmoothFromBlocks(const PixelView& source, int pictureWidth, int pictureHeight, int block, int width,
    int height)
{
    if (width <= 0 || height <= 0 || source.isNull())
        return {};
    const auto rows = [&](Destination to, const AxisWeights& across, const AxisWeights& down, int begin, int end) {
        if (source.channels == 1)
            scaleRows<1>(HeldRows{&source}, to, across, down, begin, end);
        else
            scaleRows<3>(HeldRows{&source}, to, across, down, begin, end);
    };
    return scaleWith(rows, static_cast<long long>(source.width) * source.height, pictureWidth, pictureHeight, block,
        width, height);
}

PanelPixels scaleSmoothMade(int pictureWidth, int pictureHeight, const RowMaker& make, int width, int height,
    bool twoCores)
{
    if (width <= 0 || height <= 0 || pictureWidth <= 0 || pictureHeight <= 0)
        return {};
    const auto rows = [&](Destination to, const AxisWeights& across, const AxisWeights& down, int begin, int end) {
        scaleRows<3>(BandRows(&make, pictureWidth, pictureHeight), to, across, down, begin, end);
    };
    return scaleWith(rows, static_cast<long long>(pictureWidth) * pictureHeight, pictureWidth, pictureHeight, 1, width,
        height, twoCores);
}

} // namespace korvane
