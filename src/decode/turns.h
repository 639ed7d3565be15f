#pragma once
// What an orientation tag (EXIF 0x0112: 1 as stored, 2 to 8 mirrored and
// turned) does to a picture's sides, for the decoders and the picture read
// in tiles alike.

namespace korvane {

// True for the tags that swap width and height: the quarter turns.
constexpr bool swapsSides(int orientation)
{
    return orientation >= 5 && orientation <= 8;
}

} // namespace korvane
