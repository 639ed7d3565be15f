#pragma once
// The overview's early copy of a picture whose rows a decoder is still
// filling in from the top: the means of the blocks the final rows complete,
// the blocks below them white. Each mean is taken from a sample of its
// block's pixels, about sixteen, so that catching up costs the window's
// thread little; the exact overview replaces it once the picture is whole.
#include "pixels.h"

#include <cstdint>
#include <vector>

namespace korvane {

class EarlyAverages {
public:
    // A picture of width x height pixels of `channels` bytes, averaged over
    // blocks of `block` pixels a side (the last ones cut by the picture).
    EarlyAverages(int width, int height, int channels, int block);

    // Takes in every block row that rows 0 .. finalRows - 1 of `picture`
    // complete (all of them, once finalRows is the picture's height).
    void catchUp(const PixelView& picture, int finalRows);
    // Block rows taken in so far: the copy changes only as it grows.
    int blockRowsDone() const { return m_done; }
    // A copy of the means so far, ceil(width / block) x ceil(height / block).
    HeldPixels soFar() const;

private:
    void averageBlockRow(const PixelView& picture, int blockRow);

    const int m_width, m_height, m_channels, m_block, m_step;
    const int m_columns, m_rows;
    std::vector<std::uint8_t> m_means;
    std::vector<std::uint32_t> m_sums; // channels, then the count, a block
    int m_done = 0;
};

} // namespace korvane
