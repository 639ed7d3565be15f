#include "framed_screen.h"

#include <algorithm>
#include <cstring>

namespace korvane {

namespace {

constexpr int kTileSide = 512;

class FramedScreen final : public TileSource {
public:
    FramedScreen(int width, int height, const FramePlace& place, std::vector<std::uint8_t> frame)
        : m_layout{width, height, std::min(width, kTileSide), std::min(height, kTileSide), 3}, m_place(place),
          m_frame(std::move(frame))
    {
    }

    TileLayout layout() const override { return m_layout; }

    bool readTile(int column, int row, std::uint8_t* out, std::size_t stride) override
    {
        return readReducedTile(column, row, 1, out, stride);
    }

    // The overview's pass reads the screen at 1/8 where it can: most of it
    // is white, and whitening all of it took seconds.
    int reducedScale(int block) const override
    {
        for (const int scale : {8, 4, 2})
            if (block % scale == 0 && m_layout.tileWidth % scale == 0 && m_layout.tileHeight % scale == 0)
                return scale;
        return 1;
    }

    // Each pixel the mean of its square of scale x scale, those cut by the
    // screen's edge of the part inside it.
    bool readReducedTile(int column, int row, int scale, std::uint8_t* out, std::size_t stride) override
    {
        const int left = column * m_layout.tileWidth, top = row * m_layout.tileHeight;
        const int across = (std::min(m_layout.tileWidth, m_layout.width - left) + scale - 1) / scale;
        const int down = (std::min(m_layout.tileHeight, m_layout.height - top) + scale - 1) / scale;
        for (int y = 0; y < down; ++y) {
            std::uint8_t* line = out + std::size_t(y) * stride;
            std::memset(line, 0xFF, std::size_t(across) * 3);
            const int squareTop = top + y * scale;
            if (squareTop + scale <= m_place.top || squareTop >= m_place.top + m_place.height)
                continue;
            for (int x = 0; x < across; ++x)
                meanOfSquare(left + x * scale, squareTop, scale, line + std::size_t(x) * 3);
        }
        return true;
    }

private:
    void meanOfSquare(int squareLeft, int squareTop, int scale, std::uint8_t* out) const
    {
        const int right = std::min(squareLeft + scale, m_layout.width), bottom = std::min(squareTop + scale, m_layout.height);
        if (right <= m_place.left || squareLeft >= m_place.left + m_place.width)
            return; // white, as written
        std::uint32_t sums[3] = {};
        std::uint32_t count = 0;
        for (int y = squareTop; y < bottom; ++y)
            for (int x = squareLeft; x < right; ++x, ++count) {
                const std::uint8_t* pixel = at(x, y);
                for (int c = 0; c < 3; ++c)
                    sums[c] += pixel ? pixel[c] : 255;
            }
        for (int c = 0; c < 3; ++c)
            out[c] = std::uint8_t((sums[c] + count / 2) / count);
    }

    // The frame's pixel at (x, y) on the screen, or null where it is white.
    const std::uint8_t* at(int x, int y) const
    {
        const int fx = x - m_place.left, fy = y - m_place.top;
        if (fx < 0 || fy < 0 || fx >= m_place.width || fy >= m_place.height)
            return nullptr;
        return m_frame.data() + (std::size_t(fy) * std::size_t(m_place.width) + std::size_t(fx)) * 3;
    }

    const TileLayout m_layout;
    const FramePlace m_place;
    const std::vector<std::uint8_t> m_frame;
};

} // namespace

std::shared_ptr<TileSource> framedScreen(int width, int height, const FramePlace& place, std::vector<std::uint8_t> frame)
{
    return std::make_shared<FramedScreen>(width, height, place, std::move(frame));
}

} // namespace korvane
