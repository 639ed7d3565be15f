#pragma once
// A picture that is one frame laid on a screen of white far larger than it
// (a GIF's logical screen): the frame held, the screen made where it is
// read, so that a 25000 x 25000 screen around a small frame costs the
// frame, not 1.9 GB.
#include "tile_source.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace korvane {

struct FramePlace {
    int left = 0, top = 0, width = 0, height = 0;
};

// `frame`'s RGB rows (place.width x 3 bytes each) at `place` on a screen of
// `width` x `height`.
std::shared_ptr<TileSource> framedScreen(int width, int height, const FramePlace& place, std::vector<std::uint8_t> frame);

} // namespace korvane
