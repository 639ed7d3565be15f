// Pictures too large to hold, read in tiles: real TIFF files written with
// libtiff, loaded through the real decoder with a small memory budget, and
// checked pixel by pixel through what the panels ask for.
#include "support.h"

#include "decode/tiff_tiles.h"
#include "platform/decoded_picture.h"
#include "picture/tiled_picture.h"

#include <gtest/gtest.h>

#include <QRect>

#include <fcntl.h>
#include <filesystem>
#include <tiffio.h>
#include <unistd.h>

namespace korvane {
namespace {

struct TiffOptions {
    int width = 1500, height = 1000;
    int tile = 128;       // 0: strips of 16 rows
    int orientation = 1;
    bool bigTiff = false;
    bool reducedLevel = false; // a half-size page of flat green after the first
};

constexpr QRgb kLevelGreen = qRgb(0, 200, 0);

void writePage(TIFF* tiff, int width, int height, int tile, int orientation, const std::function<QRgb(int, int)>& colour)
{
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, uint16_t(orientation));
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
    const auto pixel = [&](std::vector<uint8_t>& out, std::size_t at, int x, int y) {
        const QRgb c = colour(x, y);
        out[at] = uint8_t(qRed(c)), out[at + 1] = uint8_t(qGreen(c)), out[at + 2] = uint8_t(qBlue(c));
    };
    if (tile > 0) {
        TIFFSetField(tiff, TIFFTAG_TILEWIDTH, uint32_t(tile));
        TIFFSetField(tiff, TIFFTAG_TILELENGTH, uint32_t(tile));
        std::vector<uint8_t> buffer(std::size_t(tile) * std::size_t(tile) * 3, 0);
        for (int ty = 0; ty < height; ty += tile)
            for (int tx = 0; tx < width; tx += tile) {
                for (int y = 0; y < tile; ++y)
                    for (int x = 0; x < tile; ++x)
                        pixel(buffer, (std::size_t(y) * std::size_t(tile) + std::size_t(x)) * 3, tx + x, ty + y);
                TIFFWriteTile(tiff, buffer.data(), uint32_t(tx), uint32_t(ty), 0, 0);
            }
    } else {
        TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, uint32_t(16));
        std::vector<uint8_t> row(std::size_t(width) * 3);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                pixel(row, std::size_t(x) * 3, x, y);
            TIFFWriteScanline(tiff, row.data(), uint32_t(y), 0);
        }
    }
}

std::string writeTiff(const std::string& name, const TiffOptions& options)
{
    const std::string path = test::tempDir() + "/" + name;
    TIFF* tiff = TIFFOpen(path.c_str(), options.bigTiff ? "w8" : "w");
    writePage(tiff, options.width, options.height, options.tile, options.orientation, [](int x, int y) { return test::coordinateColour(x, y); });
    TIFFWriteDirectory(tiff);
    if (options.reducedLevel) {
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
        writePage(tiff, options.width / 2, options.height / 2, options.tile, options.orientation, [](int, int) { return kLevelGreen; });
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    return path;
}

FileFacts factsFor(const std::string& path, qint64 availableBytes)
{
    FileFacts facts;
    facts.fileBytes = qint64(std::filesystem::file_size(path));
    facts.availableBytes = availableBytes;
    facts.overviewSides = QSize(400, 300);
    return facts;
}

// A budget that holds about a fifth of a 1500 x 1000 picture: read in tiles.
constexpr qint64 kSmallMemory = qint64(4) << 20;

Picture loadWithMemory(const std::string& path, qint64 availableBytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const FileFacts facts = factsFor(path, availableBytes);
    Picture picture = pictureFromDecoded(decodeTiff(fd, path, facts), path, facts);
    ::close(fd);
    return picture;
}

// The first pixel of `area` whose colour does not name the expected point.
std::optional<QPoint> firstWrongPixel(const Picture& picture, const QRect& area,
    const std::function<QPoint(QPoint)>& expected)
{
    const Picture::Pixels pixels = picture.pixelsFor(area);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (test::decodeCoordinate(pixels.image.pixel(x - pixels.originX, y - pixels.originY)) != expected({x, y}))
                return QPoint(x, y);
    return std::nullopt;
}

TEST(TiledPicture, FarCornersAndTileEdgesShowTheirOwnPixels)
{
    for (const TiffOptions& options : {TiffOptions{}, TiffOptions{.tile = 0}, TiffOptions{.bigTiff = true}}) {
        const std::string path = writeTiff("tiled.tif", options);
        const Picture picture = loadWithMemory(path, kSmallMemory);
        ASSERT_TRUE(picture.image().isNull()) << "read whole, not in tiles";
        ASSERT_EQ(QSize(picture.pixelWidth(), picture.pixelHeight()), QSize(1500, 1000));
        const auto same = [](QPoint p) { return p; };
        for (const QRect& area : {QRect(0, 0, 40, 30), QRect(1460, 970, 40, 30), QRect(120, 120, 20, 20),
                 QRect(250, 10, 300, 260), QRect(0, 0, 1500, 1000)})
            EXPECT_EQ(firstWrongPixel(picture, area, same), std::nullopt) << options.tile << " " << area.x();
    }
}

TEST(TiledPicture, EveryOrientationMatchesTheWholeDecode)
{
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const std::string path = writeTiff("turned.tif", TiffOptions{.orientation = orientation});
        const Picture whole = loadWithMemory(path, qint64(1) << 32);
        const Picture tiled = loadWithMemory(path, kSmallMemory);
        ASSERT_FALSE(whole.image().isNull());
        ASSERT_EQ(QSize(tiled.pixelWidth(), tiled.pixelHeight()), whole.image().size()) << orientation;
        const auto wholeSays = [&](QPoint p) { return test::decodeCoordinate(whole.image().pixel(p)); };
        for (const QRect& area : {QRect(0, 0, 50, 50), QRect(whole.image().width() - 130, whole.image().height() - 70, 130, 70)})
            EXPECT_EQ(firstWrongPixel(tiled, area, wholeSays), std::nullopt) << "orientation " << orientation;
    }
}

TEST(TiledPicture, OverviewComesFromTheReducedLevel)
{
    const std::string path = writeTiff("pyramid.tif", TiffOptions{.reducedLevel = true});
    const Picture picture = loadWithMemory(path, 4 * kSmallMemory); // a cache that holds the level
    ASSERT_TRUE(picture.image().isNull()) << "read whole, not in tiles";
    EXPECT_EQ(picture.scaledTo(400, 267).pixel(200, 130) | 0xFF000000, kLevelGreen);
    // The detail view still shows the full picture.
    EXPECT_EQ(test::decodeCoordinate(picture.pixelsFor(QRect(700, 600, 1, 1)).image.pixel(0, 0)), QPoint(700, 600));
    // Without a level, the overview averages the full picture: red grows
    // with x (x % 256), so the overview's left edge is dark red.
    const Picture flat = loadWithMemory(writeTiff("flat.tif", TiffOptions{}), kSmallMemory);
    EXPECT_LT(qRed(flat.scaledTo(400, 267).pixel(0, 100)), 60);
}

TEST(TiledPicture, DamagedTileIsWhiteAndTheRestShown)
{
    const std::string path = writeTiff("damaged.tif", TiffOptions{});
    {
        TIFF* tiff = TIFFOpen(path.c_str(), "r");
        const auto offset = TIFFGetStrileOffset(tiff, TIFFComputeTile(tiff, 256, 128, 0, 0));
        TIFFClose(tiff);
        const int fd = ::open(path.c_str(), O_WRONLY);
        const std::string garbage(64, '\x5a');
        ASSERT_EQ(::pwrite(fd, garbage.data(), garbage.size(), off_t(offset)), ssize_t(garbage.size()));
        ::close(fd);
    }
    const Picture picture = loadWithMemory(path, kSmallMemory);
    const Picture::Pixels pixels = picture.pixelsFor(QRect(250, 120, 150, 20));
    EXPECT_EQ(pixels.image.pixel(300 - 250, 130 - 120), qRgb(255, 255, 255));
    EXPECT_EQ(test::decodeCoordinate(pixels.image.pixel(255 - 250, 130 - 120)), QPoint(255, 130));
    EXPECT_EQ(test::decodeCoordinate(pixels.image.pixel(390 - 250, 130 - 120)), QPoint(390, 130));
}

TEST(TiledPicture, CacheStaysWithinItsBudget)
{
    const std::string path = writeTiff("budget.tif", TiffOptions{});
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    TIFF* tiff = TIFFFdOpen(fd, path.c_str(), "r");
    const std::size_t budget = 300 * 1024; // a sixth of the tiles
    TiledPicture picture(openTiffTiles(tiff, fd, path, factsFor(path, kSmallMemory), kSmallMemory / 4).full, 1, budget);
    TIFFClose(tiff); // closes fd too: the source reads through its own copy
    std::vector<uint8_t> out(200 * 200 * 3);
    for (int y = 0; y + 200 <= 1000; y += 150)
        for (int x = 0; x + 200 <= 1500; x += 150) {
            picture.read({x, y, 200, 200}, out.data(), 600);
            picture.fetchAround({x, y, 200, 200});
            EXPECT_EQ(test::decodeCoordinate(qRgb(out[0], out[1], out[2])), QPoint(x, y));
        }
    EXPECT_LE(picture.cache().peakBytes(), budget + 128 * 128 * 3);
}

} // namespace
} // namespace korvane
