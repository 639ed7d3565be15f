#pragma once
// A TIFF too large to hold whole, read in tiles: its tiles, or its strips
// as tiles the picture's width, decoded on demand by several threads at
// once, and the smallest of its reduced levels (a pyramid's pages or
// SubIFDs) that still covers the overview.
#include "decode_limits.h"
#include "tile_source.h"

#include <memory>
#include <string>

#include <tiffio.h>

namespace korvane {

struct TiffTiles {
    std::shared_ptr<TileSource> full;     // null: the file cannot be read in tiles
    std::shared_ptr<TileSource> overview; // null: there is no level small enough
    int orientation = 1;
};

// Reads the first page's layout and its reduced levels through `tiff`, a
// handle open on fd at its first page, and leaves it there; the sources
// keep their own copies of the descriptor. A level is taken for the
// overview only when it covers facts.overviewSides and decodes within half
// of the cache.
TiffTiles openTiffTiles(TIFF* tiff, int fd, const std::string& path, const FileFacts& facts, qint64 cacheBytes);

} // namespace korvane
