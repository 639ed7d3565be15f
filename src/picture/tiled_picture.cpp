#include "tiled_picture.h"

#include "two_cores.h"

#include "decode/turns.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <set>

namespace korvane {

namespace {

// Every picture read in tiles, for closing while a read waits.
std::mutex g_livingMutex;
std::set<TiledPicture*> g_living;

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

// The tiles' share of the budget: what the source keeps beside them, the
// tiles made outside the cache (one by each worker, two in the overview's
// pass) and the overview's sums (`more`) are counted in it too, so that
// the whole stays within it; the tiles keep at least a quarter.
std::size_t tilesBudget(std::size_t budget, const TileSource& source, int threads, std::size_t more = 0)
{
    const std::size_t aside = source.keptBytes() + std::size_t(threads + 2) * source.layout().tileBytes() + more;
    return std::max(budget / 4, budget > aside ? budget - aside : 0);
}

// The workers asked for, or one a core.
int workersFor(int threads)
{
    return threads > 0 ? threads : everyCore();
}

} // namespace

TiledPicture::TiledPicture(std::shared_ptr<TileSource> source, int orientation, std::size_t cacheBytes, int threads)
    : m_source(std::move(source)), m_stored(m_source->layout()),
      m_orientation(orientation >= 1 && orientation <= 8 ? orientation : 1), m_upright(m_stored),
      m_budget(cacheBytes), m_cache(tilesBudget(cacheBytes, *m_source, workersFor(threads))),
      m_workers(workersFor(threads),
          [this](std::int64_t key) { return decodeTile(key); }, m_cache)
{
    if (swapsSides(m_orientation))
        std::swap(m_upright.width, m_upright.height);
    std::lock_guard lock(g_livingMutex);
    g_living.insert(this);
}

// The pass ends first: workers waiting for it then read for themselves.
TiledPicture::~TiledPicture()
{
    {
        std::lock_guard lock(g_livingMutex);
        g_living.erase(this);
    }
    stop();
}

void TiledPicture::cancelEveryRead()
{
    std::lock_guard living(g_livingMutex);
    for (TiledPicture* picture : g_living) {
        picture->m_closing = true;
        picture->m_source->cancel();
        std::lock_guard lock(picture->m_passMutex);
        picture->m_passStopped = true; // a reader waiting for it reads for itself, and reads nothing
        picture->m_passMoved.notify_all();
    }
}

TilePtr TiledPicture::decodeTile(std::int64_t key)
{
    if (TilePtr passed = fromThePass(key))
        return passed;
    auto tile = std::make_shared<Tile>(m_stored.tileBytes());
    readOrWhite(*m_source, m_stored, key, tile->data());
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
    readTiles(area, out, stride, true);
}

bool TiledPicture::readShown(const PixelRect& area, std::uint8_t* out, std::size_t stride)
{
    return readTiles(area, out, stride, false);
}

// Without `waitForPasses`, the tiles a pass has yet to reach are left
// white: false when any were.
bool TiledPicture::readTiles(const PixelRect& area, std::uint8_t* out, std::size_t stride, bool waitForPasses)
{
    const PixelRect inside = area & PixelRect{0, 0, width(), height()};
    if (inside.isEmpty())
        return true;
    const std::vector<std::int64_t> keys = tilesOver(storedRect(inside));
    const std::vector<std::int64_t> now = waitForPasses ? keys : readableNow(keys);
    // Closing: white at once, rather than tiles made white one by one.
    const std::vector<TilePtr> tiles = m_closing ? std::vector<TilePtr>(now.size()) : m_workers.get(now);
    std::uint8_t* const origin = out + std::size_t(inside.y - area.y) * stride
        + std::size_t(inside.x - area.x) * std::size_t(channels());
    for (std::size_t i = 0, j = 0; i < keys.size(); ++i) {
        const bool read = j < now.size() && keys[i] == now[j]; // `now` keeps the order of `keys`
        copyTile(read ? tiles[j++].get() : nullptr, keys[i], inside, origin, stride);
    }
    return now.size() == keys.size();
}

// Of `keys`, those read now. The others wait for a pass: the source's own
// (a JPEG's index), read by a later call; or the overview's over a source
// read in order, which keeps them for the panel as it reads them.
std::vector<std::int64_t> TiledPicture::readableNow(const std::vector<std::int64_t>& keys)
{
    std::vector<std::int64_t> readable; // without waiting for the source's own pass
    for (const std::int64_t key : keys)
        if (m_closing || !sourceWaitsFor(key))
            readable.push_back(key);
    std::vector<std::int64_t> now;
    std::lock_guard lock(m_passMutex);
    m_shownAhead.clear();
    for (const std::int64_t key : readable)
        if (aheadOfThePass(key))
            m_shownAhead.insert(key);
        else
            now.push_back(key);
    // Kept for a panel that has moved on since: no longer wanted.
    std::erase_if(m_handed, [&](const auto& handed) {
        return !m_awaited.contains(handed.first) && std::find(now.begin(), now.end(), handed.first) == now.end();
    });
    return now;
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
    if (area.isEmpty() || m_closing)
        return;
    const int marginX = std::max(area.width / 2, m_upright.tileWidth);
    const int marginY = std::max(area.height / 2, m_upright.tileHeight);
    const PixelRect around = PixelRect{area.x - marginX, area.y - marginY, area.width + 2 * marginX,
        area.height + 2 * marginY} & PixelRect{0, 0, width(), height()};
    const PixelRect storedShown = storedRect(area);
    const PixelRect wider = storedRect(around);
    std::vector<std::int64_t> keys;
    // Not those that would wait for a pass: a worker would sit on each,
    // or read ahead of the pass what the pass is about to read.
    for (const std::int64_t key : tilesOver(wider))
        if ((tileBounds(m_stored, key) & storedShown).isEmpty()
            && !sourceWaitsFor(key))
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

void TiledPicture::startAveraging(int block)
{
    // A source that decodes tiles reduced for less (a JPEG's DCT scaling)
    // is averaged at that scale: a reduced pixel is its square's mean.
    const int scale = m_source->readsInOrder() || m_source->holdsPasses() ? 1 : std::max(1, m_source->reducedScale(block));
    m_block = block;
    m_sums = std::make_unique<BlockSums>(scale > 1 ? reducedLayout(m_stored, scale) : m_stored, block / scale);
    m_cache.setBudget(tilesBudget(m_budget, *m_source, m_workers.threads(), m_sums->heldBytes()));
    {
        std::lock_guard lock(m_passMutex);
        m_averaging = true;
    }
    m_pass = std::jthread([this, scale](const std::stop_token& stop) {
        if (m_source->holdsPasses()) {
            std::vector<std::uint32_t> scratch;
            m_source->readInPasses([&](const PassRow& row) { m_sums->addPassRow(row, scratch); }, stop);
        } else {
            sumEveryTile(*m_source, scale, *m_sums, stop,
                [this](std::int64_t key, const Tile& tile) { passRead(key, tile); });
        }
        if (stop.stop_requested())
            return;
        std::vector<std::function<void()>> callbacks;
        {
            std::lock_guard lock(m_passMutex);
            m_averaging = false;
            callbacks.swap(m_whenAveraged);
            m_passMoved.notify_all();
        }
        for (const auto& callback : callbacks)
            callback();
    });
}

BlockAverages TiledPicture::averagesSoFar() const
{
    if (!m_sums)
        return {};
    BlockAverages stored = m_sums->averages();
    stored.block = m_block;
    if (m_orientation == 1)
        return stored;
    BlockAverages upright{stored.width, stored.height, stored.channels, m_block, {}};
    if (swapsSides(m_orientation))
        std::swap(upright.width, upright.height);
    upright.pixels.resize(stored.pixels.size());
    const auto n = std::size_t(stored.channels);
    for (int y = 0; y < stored.height; ++y)
        for (int x = 0; x < stored.width; ++x) {
            const Point at = uprightOf(m_orientation, {x, y}, stored.width, stored.height);
            std::memcpy(&upright.pixels[(std::size_t(at.y) * std::size_t(upright.width) + std::size_t(at.x)) * n],
                &stored.pixels[(std::size_t(y) * std::size_t(stored.width) + std::size_t(x)) * n], n);
        }
    return upright;
}

long long TiledPicture::tilesAveraged() const
{
    return m_sums ? m_sums->tilesAdded() : 0;
}

BlockAverages TiledPicture::averagedBlocks(int block)
{
    startAveraging(block);
    m_pass.join();
    return averagesSoFar();
}

bool TiledPicture::sourceWaitsFor(std::int64_t key) const
{
    const int columns = m_stored.columns();
    return m_source->waitsToRead(int(key % columns), int(key / columns));
}

bool TiledPicture::aheadOfThePass(std::int64_t key) const
{
    return m_source->readsInOrder() && m_averaging && !m_passStopped && key >= m_passAt;
}

// A source read in order (a PNG) can be entered ahead of its pass only
// from the pass's last checkpoint, at the cost of reading again what the
// pass is about to: a tile ahead of the pass is taken from it instead.
// Null when the pass has gone by, or is not running.
TilePtr TiledPicture::fromThePass(std::int64_t key)
{
    if (!m_source->readsInOrder())
        return nullptr;
    std::unique_lock lock(m_passMutex);
    if (const auto kept = m_handed.find(key); kept != m_handed.end() && !m_awaited.contains(key)) {
        TilePtr tile = std::move(kept->second); // read by the pass for a panel, after it had shown white
        m_handed.erase(kept);
        return tile;
    }
    if (!aheadOfThePass(key))
        return nullptr;
    m_awaited.insert(key);
    m_passMoved.wait(lock, [&] { return m_handed.contains(key) || !aheadOfThePass(key); });
    m_awaited.erase(key);
    const auto handed = m_handed.find(key);
    if (handed == m_handed.end())
        return nullptr;
    TilePtr tile = std::move(handed->second);
    m_handed.erase(handed);
    return tile;
}

// On the pass's reading thread, as each tile is read.
void TiledPicture::passRead(std::int64_t key, const Tile& tile)
{
    std::lock_guard lock(m_passMutex);
    m_passAt = key + 1;
    if (m_awaited.contains(key) || m_shownAhead.erase(key) > 0)
        m_handed[key] = std::make_shared<const Tile>(tile);
    m_passMoved.notify_all();
}

bool TiledPicture::complete() const
{
    std::lock_guard lock(m_passMutex);
    return !m_averaging;
}

void TiledPicture::whenComplete(const std::function<void()>& callback)
{
    {
        std::lock_guard lock(m_passMutex);
        if (m_averaging) {
            m_whenAveraged.push_back(callback);
            return;
        }
    }
    callback();
}

void TiledPicture::stop()
{
    m_source->cancel();
    if (m_pass.joinable()) {
        {
            std::lock_guard lock(m_passMutex);
            m_passStopped = true; // a reader waiting for it reads for itself
            m_passMoved.notify_all();
        }
        m_pass.request_stop();
        m_pass.join();
    }
}

} // namespace korvane
