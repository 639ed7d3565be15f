// An SVG too large to hold, drawn tile by tile where shown: the same pixels
// as the document drawn whole, tile edges included, and an overview drawn
// at its own scale.
#include "support.h"
#include "tiled_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace korvane {
namespace {

// A plan of 2100 x 1300: a grid of thin lines, a circle across a tile
// corner and text, none of it aligned to the 1024-pixel tiles.
std::string writePlan()
{
    const std::string path = test::tempDir() + "/plan.svg";
    std::ofstream out(path);
    out << "<svg xmlns='http://www.w3.org/2000/svg' width='2100' height='1300'>"
           "<rect width='2100' height='1300' fill='#fec'/>";
    for (int x = 3; x < 2100; x += 37)
        out << "<line x1='" << x << ".5' y1='0' x2='" << x << ".5' y2='1300' stroke='#248' stroke-width='1.3'/>";
    out << "<circle cx='1024' cy='1024' r='250' fill='none' stroke='#c30' stroke-width='9'/>"
           "<text x='600' y='1050' font-family='sans-serif' font-size='70' fill='#060'>Korvane plan</text></svg>";
    return path;
}

TEST(SvgTiles, TilesShowWhatTheWholeDrawingShows)
{
    const std::string path = writePlan();
    const Picture whole = test::loadWithMemory(path, qint64(1) << 32);
    const Picture tiled = test::loadWithMemory(path, test::kSmallMemory);
    ASSERT_FALSE(whole.image().isNull());
    ASSERT_TRUE(tiled.image().isNull()) << "drawn whole, not in tiles";
    for (const QRect& area : {QRect(1000, 1000, 60, 60), QRect(0, 0, 2100, 1300), QRect(2000, 1200, 100, 100)})
        EXPECT_LE(test::largestDifference(tiled, whole.image(), area), 2) << area.x();
    // The overview: the circle's top, scaled to a fifth, is there.
    const QImage overview = tiled.scaledTo(420, 260);
    EXPECT_LT(qBlue(overview.pixel(205, 155)), 150);
}

} // namespace
} // namespace korvane
