#pragma once
// Smooth scaling of a picture into the panels' pixels: area averaging when
// reducing and linear when enlarging, per axis. Memory beyond the result is
// one row of the source and one of the result per destination row. A size
// of 0, or a result without the memory, gives null pixels.
#include "pixels.h"

#include <functional>

namespace korvane {

PanelPixels scaleSmooth(const PixelView& source, int width, int height);
// The same reduction of a picture of pictureWidth x pictureHeight pixels,
// from its copy averaged over block x block squares (the last ones cut at
// the edges). Only for reductions by at least `block` on both axes.
PanelPixels scaleSmoothFromBlocks(const PixelView& blocks, int pictureWidth, int pictureHeight, int block, int width,
    int height);
// The same scaling of an RGB picture that is never held whole: `make`
// writes the pixels of a rectangle of it, a band of rows at a time (from
// two threads at once, unless `twoCores` is false).
using RowMaker = std::function<void(const PixelRect& area, std::uint8_t* out, std::size_t stride)>;
PanelPixels scaleSmoothMade(int pictureWidth, int pictureHeight, const RowMaker& make, int width, int height,
    bool twoCores = true);

} // namespace korvane
