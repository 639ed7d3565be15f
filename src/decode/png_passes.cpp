#include "png_passes.h"

#include <algorithm>
#include <span>

namespace korvane {

std::uint64_t PngPass::rowAtOrBelow(int y) const
{
    const std::uint64_t row = y <= top ? 0 : std::uint64_t(y - top + down - 1) / std::uint64_t(down);
    return std::min(row, rows);
}

PngPasses::PngPasses(int width, int height, int bitsPerPixel, bool interlaced)
{
    struct Spacing {
        int left, across, top, down;
    };
    static constexpr Spacing kAdam7[] = {
        {0, 8, 0, 8}, {4, 8, 0, 8}, {0, 4, 4, 8}, {2, 4, 0, 4}, {0, 2, 2, 4}, {1, 2, 0, 2}, {0, 1, 1, 2}};
    static constexpr Spacing kPlain[] = {{0, 1, 0, 1}};
    std::uint64_t start = 0;
    for (const Spacing& s : interlaced ? std::span<const Spacing>(kAdam7) : std::span<const Spacing>(kPlain)) {
        PngPass pass;
        pass.left = s.left;
        pass.across = s.across;
        pass.top = s.top;
        pass.down = s.down;
        pass.width = width > s.left ? (width - s.left + s.across - 1) / s.across : 0;
        pass.rows = height > s.top ? std::uint64_t(height - s.top + s.down - 1) / std::uint64_t(s.down) : 0;
        if (pass.width == 0 || pass.rows == 0)
            continue;
        pass.shape.bytes = (std::size_t(pass.width) * std::size_t(bitsPerPixel) + 7) / 8;
        pass.shape.step = std::max(1, bitsPerPixel / 8);
        pass.start = start;
        start = pass.end();
        m_passes.push_back(pass);
    }
}

RowPlace PngPasses::placeOf(std::uint64_t out) const
{
    for (std::size_t p = 0; p < m_passes.size(); ++p)
        if (out < m_passes[p].end())
            return {p, (out - m_passes[p].start) / m_passes[p].shape.filtered()};
    return end();
}

RowPlace PngPasses::after(RowPlace place) const
{
    if (place.pass >= m_passes.size())
        return end();
    if (place.row + 1 < m_passes[place.pass].rows)
        return {place.pass, place.row + 1};
    return {place.pass + 1, 0};
}

std::uint64_t PngPasses::offsetOf(RowPlace place) const
{
    if (place.pass >= m_passes.size())
        return m_passes.empty() ? 0 : m_passes.back().end();
    const PngPass& pass = m_passes[place.pass];
    return pass.start + place.row * pass.shape.filtered();
}

std::size_t PngPasses::widestRow() const
{
    std::size_t widest = 0;
    for (const PngPass& pass : m_passes)
        widest = std::max(widest, pass.shape.bytes);
    return widest;
}

} // namespace korvane
