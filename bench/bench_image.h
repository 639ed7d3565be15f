#pragma once
// Photo-like pictures for the benchmarks, written row by row so that even
// a few hundred megapixels need no more than a row of memory: a smooth
// shading with fine noise, mostly in one hue that the screen reader can
// look for.
#include <string>

namespace korvane::bench {

// Writes a JPEG (quality 90) or a PNG, chosen by the path's extension; a
// ".tif" is a tiled BigTIFF with deflate tiles, a ".pyramid.tif" one with
// JPEG tiles and reduced pages.
void writeBenchImage(const std::string& path, int width, int height);

// Whether a screen pixel shows this picture's hue.
bool isBenchHue(unsigned red, unsigned green, unsigned blue);

} // namespace korvane::bench
