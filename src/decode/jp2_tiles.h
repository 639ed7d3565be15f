#pragma once
// A JPEG 2000 picture too large to hold, as tiles decoded where shown: the
// codestream's own tiles where its grid starts at the picture's corner,
// else areas of it; and its overview from the smallest resolution level
// that still covers the overview's sides.
#include "jp2_codec.h"
#include "tile_source.h"

#include <QByteArray>

#include <memory>
#include <string>

namespace korvane {

// The picture's tiles, shown once `showAs` says in how many channels and
// from which profile.
class Jp2TileSource;
std::shared_ptr<Jp2TileSource> openJp2Tiles(int fd, const FileFacts& facts, const Jp2Size& size);
void showAs(Jp2TileSource& tiles, int channels, const QByteArray& icc);
std::shared_ptr<TileSource> asTileSource(std::shared_ptr<Jp2TileSource> tiles);

// The whole picture decoded at the resolution level that halves its sides
// the most while still covering the overview's sides, as one tile, with
// the profile it was converted from and its channels; no tiles when it
// cannot be decoded (failed) or held in `mostBytes`.
struct Jp2Overview {
    std::shared_ptr<TileSource> tiles;
    QByteArray icc;
    int channels = 3;
    bool failed = false;  // nothing could be decoded: the file is damaged
    std::string message;  // OpenJPEG's last error then
};
// Its decoders are then the tiles' (those of `tiles`).
Jp2Overview jp2Overview(int fd, const FileFacts& facts, const Jp2Size& size, std::int64_t mostBytes, Jp2TileSource& tiles);

} // namespace korvane
