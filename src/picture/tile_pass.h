#pragma once
// One pass over every tile of a picture too large to hold, the tiles not
// kept: their pixels summed over square blocks, from which the overview is
// made. The sums can be read as averages while the pass goes on, so the
// overview grows as the picture is read.
#include "pixels.h"
#include "tile_cache.h"

#include "decode/tile_source.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <vector>

namespace korvane {

// A picture averaged over square blocks: ceil(width / block) x
// ceil(height / block) pixels, the edge blocks cut by the picture.
struct BlockAverages {
    int width = 0, height = 0, channels = 3, block = 1;
    std::vector<std::uint8_t> pixels; // rows width x channels bytes long
};

// Tile `key` of `layout`, cut by the picture.
PixelRect tileBounds(const TileLayout& layout, std::int64_t key);

// The picture as read at 1/scale: every side divided, rounded up.
TileLayout reducedLayout(const TileLayout& stored, int scale);

// Tile `key` into `tile`; a damaged one is white, as a cut-short file.
// With a scale above 1, the tile at that scale, `layout` being the
// picture's at that scale.
void readOrWhite(TileSource& source, const TileLayout& layout, std::int64_t key, std::uint8_t* tile, int scale = 1);

// Sums over blocks of `block` pixels of a picture laid out as `layout`,
// added tile by tile from several threads at once.
class BlockSums {
public:
    BlockSums(const TileLayout& layout, int block);

    // Adds one decoded tile; `scratch` is the calling thread's own.
    void addTile(const std::uint8_t* tile, std::int64_t key, std::vector<std::uint32_t>& scratch);
    // Adds the pixels of one row of a pass.
    void addPassRow(const PassRow& row, std::vector<std::uint32_t>& scratch);
    // Tiles or rows of passes added: it grows as the sums change.
    long long tilesAdded() const;
    // The means so far, as stored: a block no tile has reached is white,
    // one partly read the mean of what was.
    BlockAverages averages() const;
    // The sums and the averages made from them.
    std::size_t heldBytes() const;

private:
    const TileLayout m_layout;
    const int m_block, m_width, m_height;
    mutable std::mutex m_mutex; // for what follows
    std::vector<std::uint32_t> m_sums;   // channels a block
    std::vector<std::uint32_t> m_counts; // pixels added to each block
    long long m_tiles = 0;
};

// Decodes every tile of `source` (at 1/scale when above 1) into `sums`, on
// every core or, for a source read in order, on two threads from the top;
// each of the latter is shown to `whenRead` as soon as it is decoded, on the
// thread that decoded it. Ends early once `stop` is requested.
using TileRead = std::function<void(std::int64_t key, const Tile& tile)>;
void sumEveryTile(TileSource& source, int scale, BlockSums& sums, const std::stop_token& stop, const TileRead& whenRead);

} // namespace korvane
