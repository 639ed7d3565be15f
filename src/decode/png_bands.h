#pragma once
// A PNG too large to hold, read in bands of whole rows. A deflate stream
// cannot be entered just anywhere, so the first pass over the picture (the
// one that makes the overview) reads it from the top and leaves a
// checkpoint at a row's start just before each band: the inflater's state
// there (its bits, its code tables and its 32 KB window) and the row
// above. A band is then inflated from its
// own checkpoint. An interlaced picture's band is the band's rows of each
// of its seven passes, each from a checkpoint of its own.
#include "colour_profile.h"
#include "decode_limits.h"
#include "png_stream.h"
#include "tile_source.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvane {

struct PngFormat {
    int width = 0, height = 0;
    int bitDepth = 8;   // 1, 2, 4, 8 or 16
    int colourType = 2; // as the header gives it: 0, 2, 3, 4 or 6
    bool interlaced = false;
    std::vector<std::uint8_t> palette; // RGB triples
    std::vector<std::uint8_t> paletteAlpha; // tRNS of a palette picture
    bool hasKey = false;                    // tRNS of a grey or RGB one
    std::uint16_t key[3] = {};
    ColourProfile profile;
    ImageDataChunk firstChunk;
};

// Bands of rows about `bytes.wanted` decoded each; null when a band of 16
// rows would be over `bytes.most`, or the file's image data cannot be
// walked (it is then refused as a picture too large).
std::shared_ptr<TileSource> openPngBands(int fd, const std::string& path, const FileFacts& facts,
    const PngFormat& format, BandBytes bytes);

} // namespace korvane
