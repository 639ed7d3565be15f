#pragma once
// A picture read in tiles on demand: its upright size, and the final
// pixels of any rectangle of it, from a bounded cache of decoded tiles
// that worker threads fill. What a panel shows is waited for; what lies
// around it is fetched ahead.
#include "picture_source.h"
#include "tile_cache.h"
#include "tile_pass.h"
#include "tile_workers.h"

#include "decode/tile_source.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace korvane {

class TiledPicture final : public PictureSource {
public:
    // `orientation` (1 to 8, as EXIF gives it) turns the stored tiles
    // upright; the picture holds at most `cacheBytes` of decoded tiles
    // and of what the source keeps beside them.
    TiledPicture(std::shared_ptr<TileSource> source, int orientation, std::size_t cacheBytes,
        int threads = 0);
    ~TiledPicture() override;
    TiledPicture(const TiledPicture&) = delete;
    TiledPicture& operator=(const TiledPicture&) = delete;

    int width() const override { return m_upright.width; }
    int height() const override { return m_upright.height; }
    int channels() const override { return m_stored.channels; }
    const TileCache& cache() const { return m_cache; }

    // Writes the pixels of `area` (upright) into `out`, rows `stride` bytes
    // apart, once the tiles it needs are decoded; a damaged tile's pixels
    // are white, and what lies outside the picture is left as it was.
    void read(const PixelRect& area, std::uint8_t* out, std::size_t stride) override;
    // Tiles of a source read in order that the overview's pass has not
    // reached are left white, and kept from the pass as it reads them: the
    // next call shows them. So are tiles whose source would wait for a
    // pass of its own (a JPEG's index, an interlaced PNG's last pass), read
    // by a later call.
    bool readShown(const PixelRect& area, std::uint8_t* out, std::size_t stride) override;
    bool keepsDecodedPixels() const override { return true; }
    // Its file holds it in scans over the whole picture (a progressive
    // JPEG): its first rows come only with the last of them.
    bool readsWholeFileFirst() const { return m_source->readsWholeFileFirst(); }
    // Starts decoding the tiles around `shown` (half of it each way,
    // nearest first), in place of those asked ahead before.
    void fetchAround(const PixelRect& shown) override;

    // Starts one pass over every tile on every core in the background, the
    // tiles not kept: the upright picture averaged over `block` x `block`
    // squares, which averagesSoFar() gives as it grows. The picture is
    // complete once the pass has ended. Once only.
    void startAveraging(int block);
    // White where the pass has not been yet.
    BlockAverages averagesSoFar() const;
    // Grows as the pass goes: averages of the same count are the same.
    long long tilesAveraged() const;
    // Starts the pass and waits for its end.
    BlockAverages averagedBlocks(int block);

    bool complete() const override;
    void whenComplete(const std::function<void()>& callback) override;
    void stop() override;
    // Every picture read in tiles ends its reads still running or waiting,
    // leaving their tiles white: the program is closing, perhaps with its
    // window waiting for a tile far ahead of the overview's pass. Safe
    // from any thread.
    static void cancelEveryRead();

private:
    PixelRect storedRect(const PixelRect& upright) const;
    std::vector<std::int64_t> tilesOver(const PixelRect& stored) const;
    TilePtr decodeTile(std::int64_t key);
    TilePtr fromThePass(std::int64_t key);
    bool sourceWaitsFor(std::int64_t key) const; // for a pass of the source's own
    bool aheadOfThePass(std::int64_t key) const; // under m_passMutex
    bool readTiles(const PixelRect& area, std::uint8_t* out, std::size_t stride, bool waitForPasses);
    std::vector<std::int64_t> readableNow(const std::vector<std::int64_t>& keys);
    void passRead(std::int64_t key, const Tile& tile);
    void copyTile(const Tile* tile, std::int64_t key, const PixelRect& area, std::uint8_t* out,
        std::size_t stride) const;

    std::shared_ptr<TileSource> m_source;
    const TileLayout m_stored;
    const int m_orientation;
    TileLayout m_upright;
    const std::size_t m_budget; // for the tiles and all that is counted with them
    TileCache m_cache;
    TileWorkers m_workers;
    // The averaging pass: what it sums into, and who waits for its end.
    std::unique_ptr<BlockSums> m_sums;
    int m_block = 1; // as asked, at full scale
    mutable std::mutex m_passMutex; // for what follows
    bool m_averaging = false;
    std::vector<std::function<void()>> m_whenAveraged;
    // A source read in order: the next tile its pass reads, and the tiles
    // readers wait for it to read, handed over as it does.
    std::int64_t m_passAt = 0;
    bool m_passStopped = false;
    std::atomic<bool> m_closing = false; // the program is closing: nothing more is read
    std::set<std::int64_t> m_awaited;
    std::set<std::int64_t> m_shownAhead; // left white by the last readShown()
    std::map<std::int64_t, TilePtr> m_handed;
    std::condition_variable m_passMoved;
    std::jthread m_pass; // last: it uses the rest
};

} // namespace korvane
