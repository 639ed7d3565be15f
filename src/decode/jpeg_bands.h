#pragma once
// A baseline JPEG too large to hold, read in bands of MCU rows. Its
// entropy-coded data can be entered at its restart markers, where it has
// them at the starts of MCU rows: the file is scanned for them once, and a
// band is decoded from the marker that begins it, as a JPEG of its own (the
// file's tables, the band's height, the band's data with its markers
// numbered from 0). Without markers, one pass of Huffman decoding notes
// where each MCU row begins (jpeg_entropy.h); in a file of several scans,
// where it begins in each scan (jpeg_scans.h).
#include "colour_profile.h"
#include "decode_limits.h"
#include "jpeg_entropy.h"
#include "jpeg_scans.h"
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
    std::shared_ptr<const EntropyLayout> entropy; // the scan, for a file without markers
    std::shared_ptr<const ScanFrame> scans;       // the frame, for a file in several scans
};

// Bands of about `bytes.wanted` decoded each; null when the file's restart
// markers are not at the starts of MCU rows, or are too far apart for a
// band to fit `bytes.most`, or when it has none and its Huffman tables
// cannot make a band's first row.
std::shared_ptr<TileSource> openJpegBands(int fd, const std::string& path, const FileFacts& facts,
    const JpegFormat& format, BandBytes bytes);

} // namespace korvane
