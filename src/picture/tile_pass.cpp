#include "tile_pass.h"

#include "tile_cache.h"
#include "two_cores.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <thread>

namespace korvane {

PixelRect tileBounds(const TileLayout& layout, std::int64_t key)
{
    const int columns = layout.columns();
    return PixelRect{int(key % columns) * layout.tileWidth, int(key / columns) * layout.tileHeight, layout.tileWidth,
               layout.tileHeight}
        & PixelRect{0, 0, layout.width, layout.height};
}

void readOrWhite(TileSource& source, const TileLayout& layout, std::int64_t key, std::uint8_t* tile, int scale)
{
    const int columns = layout.columns(), column = int(key % columns), row = int(key / columns);
    const std::size_t stride = std::size_t(layout.tileWidth) * std::size_t(layout.channels);
    if (!(scale > 1 ? source.readReducedTile(column, row, scale, tile, stride)
                    : source.readTile(column, row, tile, stride)))
        std::fill(tile, tile + layout.tileBytes(), std::uint8_t(0xFF));
}

TileLayout reducedLayout(const TileLayout& stored, int scale)
{
    const auto divided = [scale](int side) { return (side + scale - 1) / scale; };
    return {divided(stored.width), divided(stored.height), divided(stored.tileWidth), divided(stored.tileHeight),
        stored.channels};
}

namespace {

// Adds the column sums of one band of rows, pixels [x, x + count), to the
// sums of the blocks they fall in; the blocks are runs of `block` pixels
// from x = 0.
void addColumns(const std::uint32_t* columns, int x, int count, int block, int channels, std::uint32_t* sums,
    int firstBlock)
{
    const std::size_t n = std::size_t(channels);
    for (int begin = x; begin < x + count;) {
        const int end = std::min(x + count, (begin / block + 1) * block);
        std::uint32_t* sum = sums + std::size_t(begin / block - firstBlock) * n;
        const std::uint32_t* in = columns + std::size_t(begin - x) * n;
        for (int i = 0; i < end - begin; ++i, in += n)
            for (std::size_t c = 0; c < n; ++c)
                sum[c] += in[c];
        begin = end;
    }
}

// The pixels of `bounds` that fall in block `index` of runs of `block`.
int overlap(int index, int block, int begin, int count)
{
    return std::min((index + 1) * block, begin + count) - std::max(index * block, begin);
}

} // namespace

BlockSums::BlockSums(const TileLayout& layout, int block)
    : m_layout(layout), m_block(block), m_width((layout.width + block - 1) / block),
      m_height((layout.height + block - 1) / block)
{
    const std::size_t blocks = std::size_t(m_width) * std::size_t(m_height);
    m_sums.assign(blocks * std::size_t(layout.channels), 0);
    m_counts.assign(blocks, 0);
}

// A tile's rows are summed down each column first, a band of rows that
// falls in one row of blocks at a time (one vector add a row, whatever the
// channels), and only the bands' sums across into blocks.
void BlockSums::addTile(const std::uint8_t* tile, std::int64_t key, std::vector<std::uint32_t>& scratch)
{
    const PixelRect bounds = tileBounds(m_layout, key);
    const int n = m_layout.channels, b = m_block;
    const int firstX = bounds.x / b, lastX = (bounds.x + bounds.width - 1) / b;
    const int firstY = bounds.y / b, lastY = (bounds.y + bounds.height - 1) / b;
    const std::size_t localRow = std::size_t(lastX - firstX + 1) * std::size_t(n);
    const std::size_t rowValues = std::size_t(bounds.width) * std::size_t(n);
    const std::size_t blockValues = localRow * std::size_t(lastY - firstY + 1);
    scratch.assign(blockValues + rowValues, 0);
    std::uint32_t* const columns = scratch.data() + blockValues;
    const std::size_t stride = std::size_t(m_layout.tileWidth) * std::size_t(n);
    for (int y = 0; y < bounds.height;) {
        const int blockY = (bounds.y + y) / b;
        const int end = std::min(bounds.height, (blockY + 1) * b - bounds.y);
        std::fill(columns, columns + rowValues, 0u);
        for (; y < end; ++y) {
            const std::uint8_t* row = tile + std::size_t(y) * stride;
            for (std::size_t i = 0; i < rowValues; ++i)
                columns[i] += row[i];
        }
        addColumns(columns, bounds.x, bounds.width, b, n, scratch.data() + std::size_t(blockY - firstY) * localRow, firstX);
    }
    std::lock_guard lock(m_mutex);
    for (int y = firstY; y <= lastY; ++y) {
        const std::size_t at = std::size_t(y) * std::size_t(m_width) + std::size_t(firstX);
        std::uint32_t* to = m_sums.data() + at * std::size_t(n);
        const std::uint32_t* from = scratch.data() + std::size_t(y - firstY) * localRow;
        for (std::size_t i = 0; i < localRow; ++i)
            to[i] += from[i];
        const int rows = overlap(y, b, bounds.y, bounds.height);
        for (int x = firstX; x <= lastX; ++x)
            m_counts[at + std::size_t(x - firstX)] += std::uint32_t(rows * overlap(x, b, bounds.x, bounds.width));
    }
    ++m_tiles;
}

// Pixel by pixel, but for the division, done once a block.
void BlockSums::addPassRow(const PassRow& row, std::vector<std::uint32_t>& scratch)
{
    if (row.count <= 0 || row.y < 0 || row.y >= m_layout.height)
        return;
    const std::size_t n = std::size_t(m_layout.channels), values = n + 1; // the sums, then the count
    const int first = row.left / m_block, last = (row.left + (row.count - 1) * row.across) / m_block;
    const std::size_t blocks = std::size_t(last) - std::size_t(first) + 1;
    scratch.assign(blocks * values, 0);
    for (int x = first, i = 0; x <= last; ++x) {
        const int end = std::min(row.count, ((x + 1) * m_block - row.left + row.across - 1) / row.across);
        std::uint32_t* sum = scratch.data() + std::size_t(x - first) * values;
        sum[n] = std::uint32_t(std::max(0, end - i));
        for (; i < end; ++i)
            for (std::size_t c = 0; c < n; ++c)
                sum[c] += row.pixels[std::size_t(i) * n + c];
    }
    std::lock_guard lock(m_mutex);
    const std::size_t at = std::size_t(row.y / m_block) * std::size_t(m_width) + std::size_t(first);
    for (std::size_t k = 0; k < blocks; ++k) {
        for (std::size_t c = 0; c < n; ++c)
            m_sums[(at + k) * n + c] += scratch[k * values + c];
        m_counts[at + k] += scratch[k * values + n];
    }
    ++m_tiles;
}

long long BlockSums::tilesAdded() const
{
    std::lock_guard lock(m_mutex);
    return m_tiles;
}

BlockAverages BlockSums::averages() const
{
    const std::size_t n = std::size_t(m_layout.channels);
    BlockAverages out{m_width, m_height, m_layout.channels, m_block, {}};
    out.pixels.resize(m_sums.size());
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < m_counts.size(); ++i) {
        const std::uint32_t count = m_counts[i];
        for (std::size_t c = 0; c < n; ++c)
            out.pixels[i * n + c] = count ? std::uint8_t((m_sums[i * n + c] + count / 2) / count) : std::uint8_t(0xFF);
    }
    return out;
}

std::size_t BlockSums::heldBytes() const
{
    const std::size_t blocks = std::size_t(m_width) * std::size_t(m_height);
    return (m_sums.size() + m_counts.size()) * sizeof(std::uint32_t) + blocks * std::size_t(m_layout.channels);
}

namespace {

// A source read in order: this thread sums each tile while a second one
// reads the next.
void sumInOrder(TileSource& source, BlockSums& sums, const std::stop_token& stop, const TileRead& whenRead)
{
    const TileLayout layout = source.layout();
    const long long total = static_cast<long long>(layout.columns()) * layout.rows();
    std::mutex mutex;
    std::condition_variable_any changed;
    std::deque<Tile> ready, spare;
    for (int i = 0; i < 2; ++i)
        spare.emplace_back(layout.tileBytes());
    std::jthread reader([&](const std::stop_token& ended) {
        for (long long key = 0; key < total; ++key) {
            Tile tile;
            {
                std::unique_lock lock(mutex);
                if (!changed.wait(lock, ended, [&] { return !spare.empty(); }))
                    return;
                tile = std::move(spare.front());
                spare.pop_front();
            }
            readOrWhite(source, layout, key, tile.data());
            if (whenRead)
                whenRead(key, tile);
            std::lock_guard lock(mutex);
            ready.push_back(std::move(tile));
            changed.notify_all();
        }
    });
    std::vector<std::uint32_t> scratch;
    for (long long key = 0; key < total; ++key) {
        Tile tile;
        {
            std::unique_lock lock(mutex);
            if (!changed.wait(lock, stop, [&] { return !ready.empty(); }))
                return; // the reader is stopped as it goes
            tile = std::move(ready.front());
            ready.pop_front();
        }
        sums.addTile(tile.data(), key, scratch);
        std::lock_guard lock(mutex);
        spare.push_back(std::move(tile));
        changed.notify_all();
    }
}

} // namespace

void sumEveryTile(TileSource& source, int scale, BlockSums& sums, const std::stop_token& stop, const TileRead& whenRead)
{
    if (source.readsInOrder()) {
        sumInOrder(source, sums, stop, whenRead);
        return;
    }
    const TileLayout read = scale > 1 ? reducedLayout(source.layout(), scale) : source.layout();
    const long long total = static_cast<long long>(read.columns()) * read.rows();
    std::atomic<long long> next{0};
    const auto pass = [&] {
        Tile tile(read.tileBytes());
        std::vector<std::uint32_t> scratch;
        for (long long key = next++; key < total && !stop.stop_requested(); key = next++) {
            readOrWhite(source, read, key, tile.data(), scale);
            sums.addTile(tile.data(), key, scratch);
        }
    };
    std::vector<std::jthread> helpers;
    for (int i = 1; i < everyCore(); ++i)
        helpers.emplace_back(pass);
    pass();
}

} // namespace korvane
