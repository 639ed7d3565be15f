// JPEG 2000 pictures too large to hold, read where shown: the codestream's
// own tiles, or areas of a codestream of one tile; the overview from a
// reduced resolution level. Lossless files of coordinate pictures, written
// by OpenJPEG's own encoder, so every pixel says where it belongs.
#include "support.h"
#include "tiled_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace korvane {
namespace {

using test::firstWrongPixel;
using test::kSmallMemory;
using test::loadWithMemory;

// `options`: opj_compress's, for its tiles and levels.
std::string writeJp2(const std::string& name, const std::string& options)
{
    const std::string directory = test::tempDir();
    test::coordinateImage(1500, 1000).save(QString::fromStdString(directory + "/coordinates.png"));
    const std::string line = "cd '" + directory + "' && opj_compress -i coordinates.png -o " + name + " " + options + " >/dev/null 2>&1";
    if (std::system(line.c_str()) != 0)
        throw std::runtime_error("opj_compress failed: " + options);
    return directory + "/" + name;
}

TEST(Jpeg2000Tiles, OwnTilesAndAreasOfOneTileShowTheirOwnPixels)
{
    const auto same = [](QPoint p) { return p; };
    // Tiles small enough to be tiles of the cache; tiles that are not, read
    // as areas; one tile, read as areas by one decoder.
    for (const std::string options : {"-t 128,128", "-t 200,300 -n 3", ""}) {
        const Picture picture = loadWithMemory(writeJp2("tiles.jp2", options), kSmallMemory);
        ASSERT_TRUE(picture.image().isNull()) << "read whole, not in tiles: " << options;
        ASSERT_EQ(QSize(picture.pixelWidth(), picture.pixelHeight()), QSize(1500, 1000));
        for (const QRect& area : {QRect(0, 0, 40, 30), QRect(1460, 970, 40, 30), QRect(190, 290, 20, 20),
                 QRect(250, 10, 300, 260), QRect(0, 0, 1500, 1000)})
            EXPECT_EQ(firstWrongPixel(picture, area, same), std::nullopt) << options << " at " << area.x();
        // The overview is the picture reduced: its top-left is dark, as the
        // coordinates are small there, and its right edge red.
        const QImage overview = picture.scaledTo(400, 267);
        EXPECT_LT(qRed(overview.pixel(2, 2)), 40) << options;
        EXPECT_GT(qRed(overview.pixel(399, 2)), 60) << options;
    }
}

TEST(Jpeg2000Tiles, ADamagedTileIsWhiteAndTheRestShown)
{
    const std::string path = writeJp2("damaged.jp2", "-t 128,128");
    const auto bytes = std::filesystem::file_size(path);
    std::filesystem::resize_file(path, bytes - bytes / 4); // the last tiles' data
    const Picture picture = loadWithMemory(path, kSmallMemory);
    ASSERT_TRUE(picture.image().isNull());
    EXPECT_EQ(firstWrongPixel(picture, QRect(0, 0, 256, 256), [](QPoint p) { return p; }), std::nullopt);
    const Picture::Pixels corner = picture.pixelsFor(QRect(1400, 900, 100, 100));
    EXPECT_EQ(corner.image.pixel(99, 99), qRgb(255, 255, 255));
}

} // namespace
} // namespace korvane
