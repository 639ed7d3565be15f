#pragma once
// Where a PNG's rows lie in its inflated image data. A plain picture is one
// pass of every row; an interlaced one is seven (Adam7), each a smaller
// picture of every eighth, fourth or second pixel, stored one after the
// other, its filters starting afresh.
#include <compare>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace korvane {

struct RowShape {
    std::size_t bytes = 0; // unfiltered, the filter byte not counted
    int step = 1;          // bytes a pixel, at least one, for the filters
    std::uint64_t filtered() const { return bytes + 1; }
};

struct PngPass {
    int left = 0, across = 1; // the picture's column of its first pixel, and the columns between its pixels
    int top = 0, down = 1;    // the same for its rows
    int width = 0;            // pixels a row
    std::uint64_t rows = 0;
    RowShape shape;
    std::uint64_t start = 0; // its first row's offset in the inflated data

    std::uint64_t end() const { return start + rows * shape.filtered(); }
    // The first of its rows at or below the picture's row `y`.
    std::uint64_t rowAtOrBelow(int y) const;
};

// A row of one pass; places compare in the order the data holds them.
struct RowPlace {
    std::size_t pass = 0;
    std::uint64_t row = 0;
    auto operator<=>(const RowPlace&) const = default;
};

class PngPasses {
public:
    // Passes without pixels (a picture narrower or lower than eight) hold
    // no data and are left out.
    PngPasses(int width, int height, int bitsPerPixel, bool interlaced);

    const std::vector<PngPass>& passes() const { return m_passes; }
    const PngPass& operator[](std::size_t pass) const { return m_passes[pass]; }
    // Past the last row.
    RowPlace end() const { return {m_passes.size(), 0}; }
    // The row the inflated byte `out` falls in; the end past the data.
    RowPlace placeOf(std::uint64_t out) const;
    RowPlace after(RowPlace place) const;
    std::uint64_t offsetOf(RowPlace place) const;
    std::size_t widestRow() const; // unfiltered bytes

private:
    std::vector<PngPass> m_passes;
};

} // namespace korvane
