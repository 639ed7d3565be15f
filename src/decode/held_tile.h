#pragma once
// A small picture held whole, as the one tile of a source: an overview
// drawn or decoded at its own size, for a picture read in tiles.
#include "tile_source.h"

#include <cstring>
#include <vector>

namespace korvane {

class HeldTile final : public TileSource {
public:
    HeldTile(TileLayout layout, std::vector<std::uint8_t> pixels) : m_layout(layout), m_pixels(std::move(pixels)) {}
    TileLayout layout() const override { return m_layout; }
    bool readTile(int, int, std::uint8_t* out, std::size_t stride) override
    {
        const std::size_t rowBytes = std::size_t(m_layout.width) * std::size_t(m_layout.channels);
        for (int y = 0; y < m_layout.height; ++y)
            std::memcpy(out + std::size_t(y) * stride, m_pixels.data() + std::size_t(y) * rowBytes, rowBytes);
        return true;
    }

private:
    TileLayout m_layout;
    std::vector<std::uint8_t> m_pixels;
};

} // namespace korvane
