// A GIF's small frame on a screen too large to hold: the frame held, the
// screen made as it is read.
#include "bad_files.h"
#include "support.h"
#include "tiled_support.h"

#include "decode/framed_screen.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

TEST(FramedScreen, ShowsWhatTheWholeScreenShows)
{
    // 64 x 64 of (200, 60, 30) at (5, 3) on 3001 x 3001.
    std::string gif = test::gifWithSmallFrame(3001);
    gif[20] = 5; // the frame's left, after the header, the screen and its colours
    gif[22] = 3; // its top
    const std::string path = test::writeBytes("framed.gif", gif);
    const Picture whole = test::loadWithMemory(path, qint64(1) << 32);
    const Picture framed = test::loadWithMemory(path, test::kSmallMemory);
    ASSERT_FALSE(whole.image().isNull());
    ASSERT_TRUE(framed.image().isNull()) << "the screen was made whole";
    for (const QRect& area : {QRect(0, 0, 600, 600), QRect(60, 60, 10, 10), QRect(2900, 2900, 101, 101)})
        EXPECT_EQ(test::largestDifference(framed, whole.image(), area), 0) << area.x();
    EXPECT_TRUE(test::overviewMade(framed));
}

// The overview's pass reads it reduced: each pixel the rounded mean of its
// square, frame and white alike, those at the screen's edge cut by it.
TEST(FramedScreen, AReducedPixelIsTheMeanOfItsSquare)
{
    const int width = 1030, height = 600;
    const FramePlace place{5, 3, 61, 37};
    std::vector<std::uint8_t> frame(std::size_t(place.width) * std::size_t(place.height) * 3);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = std::uint8_t(i * 7 % 251);
    const auto source = framedScreen(width, height, place, frame);
    const TileLayout layout = source->layout();
    for (const int scale : {2, 8})
        for (const auto& [column, row] : {std::pair{0, 0}, std::pair{2, 1}}) {
            const std::size_t stride = std::size_t(layout.tileWidth) * 3;
            std::vector<std::uint8_t> full(stride * std::size_t(layout.tileHeight)), reduced(full.size());
            ASSERT_TRUE(source->readTile(column, row, full.data(), stride));
            ASSERT_TRUE(source->readReducedTile(column, row, scale, reduced.data(), stride));
            const int across = std::min(layout.tileWidth, width - column * layout.tileWidth);
            const int down = std::min(layout.tileHeight, height - row * layout.tileHeight);
            int wrong = 0;
            for (int y = 0; y < (down + scale - 1) / scale; ++y)
                for (int x = 0; x < (across + scale - 1) / scale; ++x)
                    for (std::size_t c = 0; c < 3; ++c) {
                        unsigned sum = 0, count = 0;
                        for (int v = y * scale; v < std::min(down, (y + 1) * scale); ++v)
                            for (int u = x * scale; u < std::min(across, (x + 1) * scale); ++u, ++count)
                                sum += full[std::size_t(v) * stride + std::size_t(u) * 3 + c];
                        wrong += reduced[std::size_t(y) * stride + std::size_t(x) * 3 + c] != (sum + count / 2) / count;
                    }
            EXPECT_EQ(wrong, 0) << "scale " << scale << ", tile " << column << "," << row;
        }
}

} // namespace
} // namespace korvane
