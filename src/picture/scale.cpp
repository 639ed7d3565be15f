#include "scale.h"

#include "two_cores.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
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
    int sourceSize = 0;
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
    weights.sourceSize = sourceSize;
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

// Four floats at once, in plain C++ that GCC and Clang turn into vector
// instructions at any optimisation level.
using Floats4 = float __attribute__((vector_size(16)));
using Ints4 = std::int32_t __attribute__((vector_size(16)));
using Bytes16 = std::uint8_t __attribute__((vector_size(16)));

Floats4 loadFloats(const float* values)
{
    Floats4 loaded;
    std::memcpy(&loaded, values, sizeof loaded);
    return loaded;
}

// Sixteen bytes as four times four floats. Interleaving with zero bytes
// widens them in two unpacking steps, where a plain conversion would take
// them one by one.
std::array<Floats4, 4> widen(const std::uint8_t* bytes)
{
    Bytes16 in;
    std::memcpy(&in, bytes, sizeof in);
    const Bytes16 zero{};
    const Bytes16 low = __builtin_shufflevector(in, zero, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
    const Bytes16 high = __builtin_shufflevector(in, zero, 8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
    const Bytes16 words[4] = {
        __builtin_shufflevector(low, zero, 0, 1, 16, 17, 2, 3, 18, 19, 4, 5, 20, 21, 6, 7, 22, 23),
        __builtin_shufflevector(low, zero, 8, 9, 24, 25, 10, 11, 26, 27, 12, 13, 28, 29, 14, 15, 30, 31),
        __builtin_shufflevector(high, zero, 0, 1, 16, 17, 2, 3, 18, 19, 4, 5, 20, 21, 6, 7, 22, 23),
        __builtin_shufflevector(high, zero, 8, 9, 24, 25, 10, 11, 26, 27, 12, 13, 28, 29, 14, 15, 30, 31)};
    std::array<Floats4, 4> floats;
    for (std::size_t k = 0; k < 4; ++k) {
        Ints4 ints;
        std::memcpy(&ints, &words[k], sizeof ints); // little-endian: each byte becomes one int
        floats[k] = __builtin_convertvector(ints, Floats4);
    }
    return floats;
}

// sums = weight * row (first) or sums += weight * row, over `count`
// values: sixteen at a time, the last few one by one.
void addWeightedRow(const std::uint8_t* row, std::size_t count, float weight, float* sums, bool first)
{
    std::size_t i = 0;
    for (; i + 16 <= count; i += 16) {
        const std::array<Floats4, 4> values = widen(row + i);
        for (std::size_t k = 0; k < 4; ++k) {
            const Floats4 term = weight * values[k];
            const Floats4 sum = first ? term : loadFloats(sums + i + 4 * k) + term;
            std::memcpy(sums + i + 4 * k, &sum, sizeof sum);
        }
    }
    for (; i < count; ++i)
        sums[i] = first ? weight * row[i] : sums[i] + weight * row[i];
}

// Levels 0 to 255, rounded half up: the weights sum to 1, so each sum is
// a level give or take float error.
Ints4 toLevels(Floats4 sums)
{
    const Floats4 zero{}, top{255, 255, 255, 255};
    sums = sums < zero ? zero : sums;
    sums = sums > top ? top : sums;
    return __builtin_convertvector(sums + 0.5f, Ints4); // truncates: the sums are not negative
}

// A row of column sums resampled across into panel pixels. RGB sums are
// read four floats at a time (the fourth, the next pixel's red, is
// ignored: `sums` has a float to spare at its end).
template <int Channels>
void resampleAcross(const float* sums, const AxisWeights& across, std::uint32_t* out)
{
    const std::size_t width = across.first.size() - 1;
    const Tap* taps = across.taps.data();
    for (std::size_t d = 0; d < width; ++d) {
        Floats4 pixel{};
        for (int t = across.first[d]; t < across.first[d + 1]; ++t) {
            const float* p = sums + static_cast<std::ptrdiff_t>(taps[t].index) * Channels;
            pixel += taps[t].weight * (Channels == 1 ? Floats4{p[0], p[0], p[0], 0} : loadFloats(p));
        }
        const Ints4 levels = toLevels(pixel);
        out[d] = 0xFF000000u | std::uint32_t(levels[0]) << 16 | std::uint32_t(levels[1]) << 8 | std::uint32_t(levels[2]);
    }
}

// The result's pixels, `width` words a row.
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

// Each destination row sums its source rows down first, every value of
// the row at once, then resamples that one row across: the costly
// gathering across runs once a destination row, not once a source row.
template <int Channels, typename Rows>
void scaleRows(Rows source, Destination result, const AxisWeights& across, const AxisWeights& down,
    int rowBegin, int rowEnd)
{
    const std::size_t values = std::size_t(across.sourceSize) * Channels;
    std::vector<float> sums((values + 4) & ~std::size_t(3), 0.0f);
    for (int y = rowBegin; y < rowEnd; ++y) {
        const auto row = static_cast<size_t>(y);
        if (down.first[row] == down.first[row + 1])
            std::fill(sums.begin(), sums.end(), 0.0f);
        for (int t = down.first[row]; t < down.first[row + 1]; ++t) {
            const Tap& tap = down.taps[static_cast<size_t>(t)];
            addWeightedRow(source(tap.index), values, tap.weight, sums.data(), t == down.first[row]);
        }
        resampleAcross<Channels>(sums.data(), across, result.words + std::size_t(y) * std::size_t(result.width));
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
