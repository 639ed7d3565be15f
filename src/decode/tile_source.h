#pragma once
// A picture too large to hold, as a decoder gives it: cut into tiles of one
// size (a TIFF's tiles, or its strips as tiles the picture's width), each
// decoded on its own when asked, as stored, in final sRGB.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <stop_token>

namespace korvane {

// One row of one pass of a picture its file holds in passes (an interlaced
// PNG): `count` pixels of the picture's row `y`, at columns left,
// left + across, and so on; in final sRGB.
struct PassRow {
    int y = 0, left = 0, across = 1, count = 0;
    const std::uint8_t* pixels = nullptr;
};
using PassRowSink = std::function<void(const PassRow&)>;

struct TileLayout {
    int width = 0, height = 0;         // the stored picture's pixels
    int tileWidth = 0, tileHeight = 0; // edge tiles are cut by the picture
    int channels = 3;                  // 3 (RGB) or 1 (grey), a byte each

    int columns() const { return tileWidth > 0 ? (width + tileWidth - 1) / tileWidth : 0; }
    int rows() const { return tileHeight > 0 ? (height + tileHeight - 1) / tileHeight : 0; }
    std::size_t tileBytes() const
    {
        return std::size_t(tileWidth) * std::size_t(tileHeight) * std::size_t(channels);
    }
};

class TileSource {
public:
    virtual ~TileSource() = default;
    virtual TileLayout layout() const = 0;
    // Writes tile (column, row) into `out`, rows `stride` bytes apart (an
    // edge tile only where it lies in the picture). Called from several
    // threads at once. False when the tile is damaged: its pixels are then
    // left as they were.
    virtual bool readTile(int column, int row, std::uint8_t* out, std::size_t stride) = 0;
    // A source whose tiles can be found only by reading it once from the
    // top (a PNG's deflate stream): the first pass over it reads its tiles
    // in order, on one thread, and it indexes them as it goes.
    virtual bool readsInOrder() const { return false; }
    // For averages over blocks of `block` pixels a side: a scale (2, 4 or 8,
    // dividing `block` and the tiles' sides) at which this source decodes a
    // tile for much less than whole, or 1. A JPEG scales its DCT.
    virtual int reducedScale(int /*block*/) const { return 1; }
    // Tile (column, row) at 1/scale: its sides divided by the scale,
    // rounded up. As readTile otherwise.
    virtual bool readReducedTile(int /*column*/, int /*row*/, int /*scale*/, std::uint8_t* /*out*/, std::size_t /*stride*/)
    {
        return false;
    }
    // A source whose file holds the picture in passes, each over the whole
    // picture, is read once in the file's order for the overview (a tile
    // needs every pass): each row to `sink`, on the calling thread, until
    // the data ends or `stop` is requested.
    virtual bool holdsPasses() const { return false; }
    // Whether a tile needs most of the file read first (a progressive
    // JPEG's scans): the load then waits for the first, behind its
    // progress window, so that the first screenful is final when shown.
    virtual bool readsWholeFileFirst() const { return false; }
    // Whether reading tile (column, row) now would wait for a pass over the
    // file that has not reached it (a JPEG's index of where its rows
    // begin, an interlaced PNG's last pass): a panel draws it white
    // meanwhile rather than keep the window waiting.
    virtual bool waitsToRead(int /*column*/, int /*row*/) const { return false; }
    // The picture is going: reads still running or waiting end as soon as
    // they can, their tiles left as they are (a band far ahead of the
    // overview's pass could otherwise inflate for seconds while the
    // program closes).
    virtual void cancel() {}
    // The most this source keeps beside its tiles while it lives (an
    // index, checkpoints): the cache leaves room for it in the budget.
    virtual std::size_t keptBytes() const { return 0; }
    virtual void readInPasses(const PassRowSink& /*sink*/, const std::stop_token& /*stop*/) {}
};

} // namespace korvane
