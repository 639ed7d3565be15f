#pragma once
// A baseline JPEG too large to hold, read in bands of MCU rows. Its restart
// markers are the only places where its entropy-coded data can be entered:
// the file is scanned for them once, and a band is decoded from the marker
// that begins it, as a JPEG of its own (the file's tables, the band's
// height, the band's data with its markers numbered from 0).
#include "colour_profile.h"
#include "decode_limits.h"
#include "tile_source.h"

#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace korvane {

struct JpegFormat {
    int width = 0, height = 0;
    int channels = 3;           // 1 (grey) or 3 (colour, decoded to RGB)
    int mcuWidth = 8, mcuHeight = 8;
    unsigned restartInterval = 0; // MCUs between markers; 0: none
    off_t entropyStart = 0;       // the first scan's data
    QByteArray icc;
};

// Bands of about `bytes.wanted` decoded each; null when the file has no
// restart markers at the starts of MCU rows, or they are too far apart
// for a band to fit `bytes.most`.
std::shared_ptr<TileSource> openJpegBands(int fd, const std::string& path, const FileFacts& facts,
    const JpegFormat& format, BandBytes bytes);

} // namespace korvane
