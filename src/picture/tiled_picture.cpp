#include "tiled_picture.h"

#include "decode/turns.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <cstring>
#include <mutex>
#include <thread>

namespace korvane {

namespace {

int everyCore()
{
    return std::max(1, int(std::thread::hardware_concurrency()));
}

struct Point {
    int x, y;
};

// Where stored pixel (x, y) of a width x height picture lands upright.
Point uprightOf(int orientation, Point stored, int width, int height)
{
    const int x = stored.x, y = stored.y;
    switch (orientation) {
    case 2: return {width - 1 - x, y};
    case 3: return {width - 1 - x, height - 1 - y};
    case 4: return {x, height - 1 - y};
    case 5: return {y, x};
    case 6: return {height - 1 - y, x};
    case 7: return {height - 1 - y, width - 1 - x};
    case 8: return {y, width - 1 - x};
    default: return stored;
    }
}

// The stored pixel that shows at upright (x, y): the inverse turn, on the
// upright picture's sides. Turning a quarter one way (6) is undone by a
// quarter the other (8); every other tag undoes itself.
Point storedOf(int orientation, Point upright, int width, int height)
{
    const int inverse = orientation == 6 ? 8 : orientation == 8 ? 6 : orientation;
    return swapsSides(orientation) ? uprightOf(inverse, upright, height, width)
                                   : uprightOf(inverse, upright, width, height);
}

// Where tile `key` lies, as stored, cut by the picture.
PixelRect tileBounds(const TileLayout& layout, std::int64_t key)
{
    const int columns = layout.columns();
    return PixelRect{int(key % columns) * layout.tileWidth, int(key / columns) * layout.tileHeight, layout.tileWidth,
               layout.tileHeight}
        & PixelRect{0, 0, layout.width, layout.height};
}

// Tile `key` into `tile`; a damaged one is white, as a cut-short file.
// With a scale above 1, the tile at that scale, `layout` being the
// picture's at that scale.
void readOrWhite(TileSource& source, const TileLayout& layout, std::int64_t key, Tile& tile, int scale = 1)
{
    const int columns = layout.columns(), column = int(key % columns), row = int(key / columns);
    const std::size_t stride = std::size_t(layout.tileWidth) * std::size_t(layout.channels);
    if (!(scale > 1 ? source.readReducedTile(column, row, scale, tile.data(), stride)
                    : source.readTile(column, row, tile.data(), stride)))
        std::fill(tile.begin(), tile.end(), std::uint8_t(0xFF));
}

// The picture as read at 1/scale: every side divided, rounded up.
TileLayout reducedLayout(const TileLayout& stored, int scale)
{
    const auto divided = [scale](int side) { return (side + scale - 1) / scale; };
    return {divided(stored.width), divided(stored.height), divided(stored.tileWidth), divided(stored.tileHeight),
        stored.channels};
}

} // namespace

TiledPicture::TiledPicture(std::shared_ptr<TileSource> source, int orientation, std::size_t cacheBytes, int threads)
    : m_source(std::move(source)), m_stored(m_source->layout()),
      m_orientation(orientation >= 1 && orientation <= 8 ? orientation : 1), m_upright(m_stored),
      m_cache(cacheBytes), m_workers(threads > 0 ? threads : everyCore(),
          [this](std::int64_t key) { return decodeTile(key); }, m_cache)
{
    if (swapsSides(m_orientation))
        std::swap(m_upright.width, m_upright.height);
}

TilePtr TiledPicture::decodeTile(std::int64_t key) const
{
    auto tile = std::make_shared<Tile>(m_stored.tileBytes());
    readOrWhite(*m_source, m_stored, key, *tile);
    return tile;
}

// The stored rectangle whose pixels show in the upright one.
PixelRect TiledPicture::storedRect(const PixelRect& upright) const
{
    const Point a = storedOf(m_orientation, {upright.x, upright.y}, m_stored.width, m_stored.height);
    const Point b = storedOf(m_orientation, {upright.x + upright.width - 1, upright.y + upright.height - 1},
        m_stored.width, m_stored.height);
    const int left = std::min(a.x, b.x), top = std::min(a.y, b.y);
    return {left, top, std::max(a.x, b.x) - left + 1, std::max(a.y, b.y) - top + 1};
}

std::vector<std::int64_t> TiledPicture::tilesOver(const PixelRect& stored) const
{
    std::vector<std::int64_t> keys;
    if (stored.isEmpty())
        return keys;
    const int firstColumn = stored.x / m_stored.tileWidth, lastColumn = (stored.x + stored.width - 1) / m_stored.tileWidth;
    const int firstRow = stored.y / m_stored.tileHeight, lastRow = (stored.y + stored.height - 1) / m_stored.tileHeight;
    for (int row = firstRow; row <= lastRow; ++row)
        for (int column = firstColumn; column <= lastColumn; ++column)
            keys.push_back(std::int64_t(row) * m_stored.columns() + column);
    return keys;
}

void TiledPicture::read(const PixelRect& area, std::uint8_t* out, std::size_t stride)
{
    const PixelRect inside = area & PixelRect{0, 0, width(), height()};
    if (inside.isEmpty())
        return;
    const PixelRect stored = storedRect(inside);
    const std::vector<std::int64_t> keys = tilesOver(stored);
    const std::vector<TilePtr> tiles = m_workers.get(keys);
    std::uint8_t* const origin = out + std::size_t(inside.y - area.y) * stride
        + std::size_t(inside.x - area.x) * std::size_t(channels());
    for (std::size_t i = 0; i < keys.size(); ++i)
        copyTile(tiles[i].get(), keys[i], inside, origin, stride);
}

// The part of one tile that lies in `area` (upright), into `out` (the
// pixel at the area's top-left). A null tile is white.
void TiledPicture::copyTile(const Tile* tile, std::int64_t key, const PixelRect& area, std::uint8_t* out,
    std::size_t stride) const
{
    const int n = m_stored.channels;
    const PixelRect bounds = tileBounds(m_stored, key);
    const PixelRect part = bounds & storedRect(area);
    const std::size_t tileStride = std::size_t(m_stored.tileWidth) * std::size_t(n);
    const auto source = [&](int x, int y) {
        return tile->data() + std::size_t(y - bounds.y) * tileStride + std::size_t(x - bounds.x) * std::size_t(n);
    };
    if (m_orientation == 1) {
        for (int y = part.y; y < part.y + part.height; ++y) {
            std::uint8_t* to = out + std::size_t(y - area.y) * stride + std::size_t(part.x - area.x) * std::size_t(n);
            const std::size_t bytes = std::size_t(part.width) * std::size_t(n);
            if (tile)
                std::memcpy(to, source(part.x, y), bytes);
            else
                std::memset(to, 0xFF, bytes);
        }
        return;
    }
    for (int y = part.y; y < part.y + part.height; ++y)
        for (int x = part.x; x < part.x + part.width; ++x) {
            const Point at = uprightOf(m_orientation, {x, y}, m_stored.width, m_stored.height);
            std::uint8_t* to = out + std::size_t(at.y - area.y) * stride + std::size_t(at.x - area.x) * std::size_t(n);
            if (tile)
                std::memcpy(to, source(x, y), std::size_t(n));
            else
                std::memset(to, 0xFF, std::size_t(n));
        }
}

// What a drag or a nearby press shows next.
void TiledPicture::fetchAround(const PixelRect& shown)
{
    const PixelRect area = shown & PixelRect{0, 0, width(), height()};
    if (area.isEmpty())
        return;
    const int marginX = std::max(area.width / 2, m_upright.tileWidth);
    const int marginY = std::max(area.height / 2, m_upright.tileHeight);
    const PixelRect around = PixelRect{area.x - marginX, area.y - marginY, area.width + 2 * marginX,
        area.height + 2 * marginY} & PixelRect{0, 0, width(), height()};
    const PixelRect storedShown = storedRect(area);
    const PixelRect wider = storedRect(around);
    std::vector<std::int64_t> keys;
    for (const std::int64_t key : tilesOver(wider))
        if ((tileBounds(m_stored, key) & storedShown).isEmpty())
            keys.push_back(key);
    const auto distance = [&](std::int64_t key) {
        const long long cx = (key % m_stored.columns()) * m_stored.tileWidth + m_stored.tileWidth / 2 - (storedShown.x + storedShown.width / 2);
        const long long cy = (key / m_stored.columns()) * m_stored.tileHeight + m_stored.tileHeight / 2 - (storedShown.y + storedShown.height / 2);
        return cx * cx + cy * cy;
    };
    std::sort(keys.begin(), keys.end(), [&](std::int64_t a, std::int64_t b) { return distance(a) < distance(b); });
    // What is shown and what is fetched ahead must fit the cache together,
    // or the ring would push out the view (large tiles, a large window).
    const std::size_t shownTiles = tilesOver(storedShown).size();
    const std::size_t fits = m_cache.budgetBytes() * 3 / 4 / std::max<std::size_t>(1, m_stored.tileBytes());
    keys.resize(std::min(keys.size(), fits > shownTiles ? fits - shownTiles : 0));
    m_workers.fetchAhead(keys);
}

namespace {

// Sums of the blocks one tile covers, added to the picture's under a lock.
struct BlockSums {
    int width, height, channels, block;
    std::vector<std::uint32_t> sums;
    std::mutex mutex;
    long long tilesDone = 0;
};

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

// A tile's rows are summed down each column first, a band of rows that
// falls in one row of blocks at a time (one vector add a row, whatever the
// channels), and only the bands' sums across into blocks.
void addTile(BlockSums& into, const TileLayout& layout, const std::uint8_t* tile, const PixelRect& bounds,
    std::vector<std::uint32_t>& local)
{
    const int n = layout.channels, b = into.block;
    const int firstX = bounds.x / b, lastX = (bounds.x + bounds.width - 1) / b;
    const int firstY = bounds.y / b, lastY = (bounds.y + bounds.height - 1) / b;
    const int across = lastX - firstX + 1;
    const std::size_t localRow = std::size_t(across) * std::size_t(n);
    const std::size_t rowValues = std::size_t(bounds.width) * std::size_t(n);
    const std::size_t blockValues = localRow * std::size_t(lastY - firstY + 1);
    local.assign(blockValues + rowValues, 0);
    std::uint32_t* const columns = local.data() + blockValues;
    const std::size_t stride = std::size_t(layout.tileWidth) * std::size_t(n);
    for (int y = 0; y < bounds.height;) {
        const int blockY = (bounds.y + y) / b;
        const int end = std::min(bounds.height, (blockY + 1) * b - bounds.y);
        std::fill(columns, columns + rowValues, 0u);
        for (; y < end; ++y) {
            const std::uint8_t* row = tile + std::size_t(y) * stride;
            for (std::size_t i = 0; i < rowValues; ++i)
                columns[i] += row[i];
        }
        addColumns(columns, bounds.x, bounds.width, b, n, local.data() + std::size_t(blockY - firstY) * localRow, firstX);
    }
    std::lock_guard lock(into.mutex);
    for (int y = firstY; y <= lastY; ++y) {
        std::uint32_t* to = into.sums.data() + (std::size_t(y) * std::size_t(into.width) + std::size_t(firstX)) * std::size_t(n);
        const std::uint32_t* from = local.data() + std::size_t(y - firstY) * localRow;
        for (std::size_t i = 0; i < localRow; ++i)
            to[i] += from[i];
    }
    ++into.tilesDone;
}

// A source read in order: this thread sums each tile while a second one
// reads the next.
void sumInOrder(TileSource& source, const TileLayout& stored, BlockSums& sums, long long total,
    const std::function<void(long long, long long)>& progress)
{
    std::mutex mutex;
    std::condition_variable_any changed;
    std::deque<Tile> ready, spare(2, Tile(stored.tileBytes()));
    std::jthread reader([&](const std::stop_token& stop) {
        for (long long key = 0; key < total; ++key) {
            Tile tile;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, stop, [&] { return !spare.empty(); });
                if (stop.stop_requested())
                    return;
                tile = std::move(spare.front());
                spare.pop_front();
            }
            readOrWhite(source, stored, key, tile);
            std::lock_guard lock(mutex);
            ready.push_back(std::move(tile));
            changed.notify_all();
        }
    });
    std::vector<std::uint32_t> local;
    for (long long key = 0; key < total; ++key) {
        Tile tile;
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return !ready.empty(); });
            tile = std::move(ready.front());
            ready.pop_front();
        }
        addTile(sums, stored, tile.data(), tileBounds(stored, key), local);
        if (progress)
            progress(sums.tilesDone, total);
        std::lock_guard lock(mutex);
        spare.push_back(std::move(tile));
        changed.notify_all();
    }
}

} // namespace

BlockAverages TiledPicture::averagedBlocks(int block, const std::function<void(long long, long long)>& progress) const
{
    const int n = m_stored.channels;
    // A source that decodes tiles reduced for less (a JPEG's DCT scaling)
    // is averaged at that scale: a reduced pixel is its square's mean.
    const int scale = m_source->readsInOrder() ? 1 : std::max(1, m_source->reducedScale(block));
    const TileLayout read = scale > 1 ? reducedLayout(m_stored, scale) : m_stored;
    const int readBlock = block / scale;
    BlockSums sums{(read.width + readBlock - 1) / readBlock, (read.height + readBlock - 1) / readBlock, n, readBlock, {}, {}, 0};
    sums.sums.assign(std::size_t(sums.width) * std::size_t(sums.height) * std::size_t(n), 0);
    const long long total = static_cast<long long>(m_stored.columns()) * m_stored.rows();
    std::atomic<long long> next{0};
    const auto pass = [&] {
        Tile tile(read.tileBytes());
        std::vector<std::uint32_t> local;
        for (long long key = next++; key < total; key = next++) {
            readOrWhite(*m_source, read, key, tile, scale);
            addTile(sums, read, tile.data(), tileBounds(read, key), local);
            if (progress) {
                std::lock_guard lock(sums.mutex);
                progress(sums.tilesDone, total);
            }
        }
    };
    if (m_source->readsInOrder()) {
        sumInOrder(*m_source, m_stored, sums, total, progress);
    } else {
        std::vector<std::jthread> helpers;
        for (int i = 1; i < everyCore(); ++i)
            helpers.emplace_back(pass);
        pass();
    }
    BlockAverages averages{sums.width, sums.height, n, block, {}};
    if (swapsSides(m_orientation))
        std::swap(averages.width, averages.height);
    averages.pixels.resize(std::size_t(averages.width) * std::size_t(averages.height) * std::size_t(n));
    for (int y = 0; y < sums.height; ++y) {
        const long long rows = std::min(readBlock, read.height - y * readBlock);
        for (int x = 0; x < sums.width; ++x) {
            const long long count = rows * std::min(readBlock, read.width - x * readBlock);
            const Point at = uprightOf(m_orientation, {x, y}, sums.width, sums.height);
            for (int c = 0; c < n; ++c)
                averages.pixels[(std::size_t(at.y) * std::size_t(averages.width) + std::size_t(at.x)) * std::size_t(n) + std::size_t(c)]
                    = std::uint8_t((sums.sums[(std::size_t(y) * std::size_t(sums.width) + std::size_t(x)) * std::size_t(n) + std::size_t(c)] + count / 2) / count);
        }
    }
    return averages;
}

} // namespace korvane
