#include "early_averages.h"

#include <algorithm>
#include <memory>

namespace korvane {

EarlyAverages::EarlyAverages(int width, int height, int channels, int block)
    : m_width(width), m_height(height), m_channels(channels), m_block(std::max(1, block)),
      m_step(std::max(1, m_block / 4)), m_columns((width + m_block - 1) / m_block),
      m_rows((height + m_block - 1) / m_block),
      m_means(std::size_t(m_columns) * std::size_t(m_rows) * std::size_t(channels), 0xFF)
{
}

void EarlyAverages::catchUp(const PixelView& picture, int finalRows)
{
    if (picture.isNull())
        return;
    const int complete = finalRows >= m_height ? m_rows : finalRows / m_block;
    for (; m_done < complete; ++m_done)
        averageBlockRow(picture, m_done);
}

// Every m_step-th row and column of the blocks: rows and columns alike are
// sampled from each block's top and left edge on.
void EarlyAverages::averageBlockRow(const PixelView& picture, int blockRow)
{
    const auto n = std::size_t(m_channels), values = n + 1;
    m_sums.assign(std::size_t(m_columns) * values, 0);
    const int top = blockRow * m_block, bottom = std::min(m_height, top + m_block);
    for (int y = top; y < bottom; y += m_step) {
        const std::uint8_t* row = picture.row(y);
        for (int column = 0; column < m_columns; ++column) {
            std::uint32_t* sum = m_sums.data() + std::size_t(column) * values;
            const int left = column * m_block, right = std::min(m_width, left + m_block);
            for (int x = left; x < right; x += m_step) {
                const std::uint8_t* pixel = row + std::size_t(x) * n;
                for (std::size_t c = 0; c < n; ++c)
                    sum[c] += pixel[c];
                ++sum[n];
            }
        }
    }
    std::uint8_t* means = m_means.data() + std::size_t(blockRow) * std::size_t(m_columns) * n;
    for (std::size_t i = 0; i < std::size_t(m_columns); ++i) {
        const std::uint32_t* sum = m_sums.data() + i * values;
        for (std::size_t c = 0; c < n; ++c)
            means[i * n + c] = std::uint8_t((sum[c] + sum[n] / 2) / sum[n]);
    }
}

HeldPixels EarlyAverages::soFar() const
{
    auto copy = std::make_shared<const std::vector<std::uint8_t>>(m_means);
    const PixelView view{copy->data(), std::size_t(m_columns) * std::size_t(m_channels), m_columns, m_rows, m_channels};
    return {view, std::move(copy)};
}

} // namespace korvane
