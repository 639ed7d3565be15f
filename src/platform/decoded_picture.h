#pragma once
// How the loader makes a picture of what a decoder gave: a picture read in
// tiles gets its cache and its overview's copy here.
#include "picture.h"

#include "decode/decoders.h"

#include <string>

namespace korvane {

// Raises a file error naming path when the picture does not fit in memory.
Picture pictureFromDecoded(DecodedPicture decoded, const std::string& path, const FileFacts& facts);

} // namespace korvane
