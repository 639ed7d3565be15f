#pragma once
// A JPEG-compressed TIFF tile (or strip) decoded by libjpeg at 1/2, 1/4 or
// 1/8 of its size, as the overview's pass wants it: libtiff decodes a tile
// only whole, and a pass over a picture without reduced levels would decode
// every pixel for an overview a sixty-fourth of it.
#include <cstddef>
#include <cstdint>
#include <span>

namespace korvane {

struct TiffJpeg {
    std::span<const std::uint8_t> tables; // the file's JPEGTables: the quantization and Huffman tables
    int colourSpace = 0;                  // the data's, as libjpeg names it (J_COLOR_SPACE)
    int channels = 3;                     // 1 (grey) or 3 (RGB), decoded to
};

// The JPEG colour space of a tile's data: grey, YCbCr or RGB.
int tiffJpegColourSpace(bool grey, bool ycbcr);

// The tile's `data` at 1/scale into `out`, rows `stride` bytes apart, at
// most `rows` rows and `columns` pixels of them; false when libjpeg cannot
// decode it.
bool decodeScaledJpegTile(const TiffJpeg& format, std::span<const std::uint8_t> data, int scale, std::uint8_t* out,
    std::size_t stride, int rows, int columns);

} // namespace korvane
