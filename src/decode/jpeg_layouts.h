#pragma once
// What the indexes of a large JPEG's entropy-coded data need of its
// header, as libjpeg read it.
#include "jpeg_entropy.h"
#include "jpeg_scans.h"

#include <memory>

#include <jpeglib.h>

namespace korvane {

// The one Huffman-coded scan of a baseline file, as the index of its MCU
// rows needs it; null for any other kind, or when a table it uses is not
// in the file (libjpeg would take its defaults).
std::shared_ptr<const EntropyLayout> entropyLayoutOf(const jpeg_decompress_struct& cinfo);

// A file in several scans (progressive, or sequential with its components
// apart), as the index of its scans needs it; null for one that is
// arithmetic-coded or has other than 1 or 3 components.
std::shared_ptr<const ScanFrame> scanFrameOf(const jpeg_decompress_struct& cinfo);

} // namespace korvane
