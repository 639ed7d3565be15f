// Pictures too large to hold, read in tiles: real TIFF and PNG files written
// with libtiff and libpng, loaded through the real decoder with a small memory budget, and
// checked pixel by pixel through what the panels ask for.
#include "support.h"
#include "tiled_support.h"

#include "decode/decode_error.h"
#include "decode/decoders.h"
#include "decode/tiff_tiles.h"
#include "platform/controls.h"
#include "platform/decoded_picture.h"
#include "platform/pixel_ops.h"
#include "picture/tiled_picture.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QRect>

#include <array>
#include <chrono>
#include <cstdio>

#include <fcntl.h>
#include <filesystem>
#include <future>
#include <jpeglib.h>
#include <mutex>
#include <png.h>
#include <thread>
#include <tiffio.h>
#include <unistd.h>

namespace korvane {
namespace {

using test::factsFor;
using test::firstWrongPixel;
using test::kSmallMemory;
using test::largestDifference;
using test::loadWithMemory;
using test::writeJpeg;
using test::pixelAt;
using namespace std::chrono_literals;

struct TiffOptions {
    int width = 1500, height = 1000;
    int tile = 128;       // 0: strips of 16 rows
    int orientation = 1;
    bool bigTiff = false;
    bool reducedLevel = false; // a half-size page of flat green after the first
    bool jpeg = false;         // JPEG-compressed YCbCr, as RGB to libtiff, else deflate
};

constexpr QRgb kLevelGreen = qRgb(0, 200, 0);

void writePage(TIFF* tiff, int width, int height, int tile, int orientation, const std::function<QRgb(int, int)>& colour,
    bool jpeg = false)
{
    TIFFSetField(tiff, TIFFTAG_ORIENTATION, uint16_t(orientation));
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, uint32_t(width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, uint32_t(height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, jpeg ? PHOTOMETRIC_YCBCR : PHOTOMETRIC_RGB);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, jpeg ? COMPRESSION_JPEG : COMPRESSION_ADOBE_DEFLATE);
    if (jpeg) {
        TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 90);
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
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
    writePage(tiff, options.width, options.height, options.tile, options.orientation,
        [](int x, int y) { return test::coordinateColour(x, y); }, options.jpeg);
    TIFFWriteDirectory(tiff);
    if (options.reducedLevel) {
        TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_REDUCEDIMAGE);
        writePage(tiff, options.width / 2, options.height / 2, options.tile, options.orientation, [](int, int) { return kLevelGreen; });
        TIFFWriteDirectory(tiff);
    }
    TIFFClose(tiff);
    return path;
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
    ASSERT_TRUE(test::overviewMade(flat));
    EXPECT_LT(qRed(flat.scaledTo(400, 267).pixel(0, 100)), 60);
}

// Tiles of 128 x 96 whose pixels are a function of their place, read on
// every core or in order from the top; blocks of 7 pixels cut by the edges.
class ArithmeticTiles final : public TileSource {
public:
    ArithmeticTiles(int channels, bool inOrder) : m_channels(channels), m_inOrder(inOrder) {}
    static int value(int x, int y, int c) { return (x * 7 + y * 13 + c * 50) % 256; }
    TileLayout layout() const override { return {1000, 700, 128, 96, m_channels}; }
    bool readsInOrder() const override { return m_inOrder; }
    bool readTile(int column, int row, std::uint8_t* out, std::size_t stride) override
    {
        for (int y = 0; y < 96 && row * 96 + y < 700; ++y)
            for (int x = 0; x < 128 && column * 128 + x < 1000; ++x)
                for (int c = 0; c < m_channels; ++c)
                    out[std::size_t(y) * stride + std::size_t(x * m_channels + c)]
                        = std::uint8_t(value(column * 128 + x, row * 96 + y, c));
        return true;
    }

private:
    int m_channels;
    bool m_inOrder;
};

TEST(TiledPicture, BlockAveragesAreTheRoundedMeansOfTheirPixels)
{
    for (const auto& [channels, inOrder] : {std::pair{3, false}, {1, true}}) {
        TiledPicture picture(std::make_shared<ArithmeticTiles>(channels, inOrder), 1, std::size_t(8) << 20, 2);
        const BlockAverages averages = picture.averagedBlocks(7);
        ASSERT_EQ(averages.width, 143);
        ASSERT_EQ(averages.height, 100);
        int wrong = 0;
        for (int by = 0; by < averages.height; ++by)
            for (int bx = 0; bx < averages.width; ++bx)
                for (int c = 0; c < channels; ++c) {
                    long long sum = 0, count = 0;
                    for (int y = by * 7; y < std::min(700, by * 7 + 7); ++y)
                        for (int x = bx * 7; x < std::min(1000, bx * 7 + 7); ++x, ++count)
                            sum += ArithmeticTiles::value(x, y, c);
                    const std::size_t at = (std::size_t(by) * 143 + std::size_t(bx)) * std::size_t(channels) + std::size_t(c);
                    wrong += averages.pixels[at] != (sum + count / 2) / count;
                }
        EXPECT_EQ(wrong, 0) << channels << " channels" << (inOrder ? ", in order" : "");
    }
}

// The tiles below the first row wait until the test lets them go: a source
// read on every core says so, as a JPEG's bands ahead of its index do.
class GatedTiles final : public TileSource {
public:
    explicit GatedTiles(bool inOrder) : m_tiles(3, inOrder), m_open(m_opened.get_future().share()) {}
    bool readsInOrder() const override { return m_tiles.readsInOrder(); }
    void open() { std::call_once(m_once, [this] { m_opened.set_value(); }); }
    TileLayout layout() const override { return m_tiles.layout(); }
    bool waitsToRead(int, int row) const override
    {
        return !readsInOrder() && row > 0 && m_open.wait_for(std::chrono::seconds(0)) != std::future_status::ready;
    }
    bool readTile(int column, int row, std::uint8_t* out, std::size_t stride) override
    {
        if (row > 0)
            m_open.wait();
        return m_tiles.readTile(column, row, out, stride);
    }

private:
    ArithmeticTiles m_tiles;
    std::once_flag m_once;
    std::promise<void> m_opened;
    std::shared_future<void> m_open;
};

// A picture with no reduced level is handed over before its overview's
// pass: the detail view shows what it asks for at once, the overview shows
// the rows read so far over white, and grows, on the panel too, until it
// is the block averages of the whole. The detail view does not wait for
// rows the overview's pass (a source read in order) or the source's own
// pass has yet to reach: they are white until then.
void checkHandedOverAtOnce(bool inOrder)
{
    auto gated = std::make_shared<GatedTiles>(inOrder);
    FileFacts facts;
    facts.availableBytes = kSmallMemory;
    facts.overviewSides = QSize(400, 300);
    auto loading = std::async(std::launch::async, [&] {
        return pictureFromDecoded(DecodedPicture::inTiles(gated, 1), "gated", facts);
    });
    if (loading.wait_for(60s) != std::future_status::ready) {
        gated->open();
        FAIL() << "the load waited for the pass";
    }
    const Picture picture = loading.get();
    const struct Opener {
        GatedTiles& tiles;
        ~Opener() { tiles.open(); } // before the picture stops its pass
    } opener{*gated};
    EXPECT_FALSE(picture.isComplete());
    EXPECT_EQ(qRed(picture.pixelsFor(QRect(10, 20, 1, 1)).image.pixel(0, 0)), ArithmeticTiles::value(10, 20, 0));

    // 400 x 280 pixels; the picture's blocks are single pixels.
    PictureBox overview(0, 0, 6000, 4200);
    overview.PaintPicture(picture, 0, 0, 6000, 4200);
    EXPECT_EQ(pixelAt(overview, 200, 200), qRgb(255, 255, 255));
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (overview.refreshProvisional() && pixelAt(overview, 200, 10) == qRgb(255, 255, 255)
        && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    EXPECT_NE(pixelAt(overview, 200, 10), qRgb(255, 255, 255)) << "the first row of tiles is not shown";
    EXPECT_EQ(pixelAt(overview, 200, 200), qRgb(255, 255, 255)) << "rows not read yet are not white";

    // 100 x 100 pixels at natural size from picture pixel (500, 400), in
    // the fifth row of tiles.
    PictureBox detail(0, 0, 1500, 1500);
    auto painting = std::async(std::launch::async,
        [&] { detail.PaintPicture(picture, 0, 0, 1500, 1500, 7500, 6000, 1500, 1500); });
    if (painting.wait_for(60s) != std::future_status::ready) {
        gated->open();
        FAIL() << "the detail view waited for the pass";
    }
    EXPECT_EQ(pixelAt(detail, 50, 50), qRgb(255, 255, 255));
    EXPECT_TRUE(detail.refreshProvisional()) << "white, and not to be refreshed";

    gated->open();
    ASSERT_TRUE(test::overviewMade(picture));
    EXPECT_FALSE(overview.refreshProvisional()) << "complete, yet still refreshed";
    EXPECT_FALSE(detail.refreshProvisional()) << "complete, yet still refreshed";
    EXPECT_EQ(qRed(pixelAt(detail, 50, 50)), ArithmeticTiles::value(550, 450, 0));
    EXPECT_EQ(qRed(pixelAt(detail, 99, 99)), ArithmeticTiles::value(599, 499, 0));
    QImage whole(1000, 700, QImage::Format_RGB888);
    for (int row = 0; row < 8; ++row)
        for (int column = 0; column < 8; ++column)
            ArithmeticTiles(3, false).readTile(column, row, whole.scanLine(row * 96) + column * 128 * 3,
                std::size_t(whole.bytesPerLine()));
    const QImage exact = scaleSmooth(whole, 400, 280);
    for (const QPoint at : {QPoint(200, 10), QPoint(200, 200), QPoint(399, 279)})
        EXPECT_EQ(pixelAt(overview, at.x(), at.y()), exact.pixel(at) | 0xFF000000) << at.x() << "," << at.y();
}

TEST(TiledPicture, HandedOverAtOnceItsOverviewGrowsAsThePassReads)
{
    for (const bool inOrder : {false, true}) {
        SCOPED_TRACE(inOrder ? "read in order" : "read on every core");
        checkHandedOverAtOnce(inOrder);
    }
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

// A later page cut short (its directory gone, or half of it) is passed
// over when looking for reduced levels: the first page shows.
TEST(TiledPicture, APageCutShortAfterTheFirstIsPassedOver)
{
    const std::string path = writeTiff("cut-pyramid.tif", TiffOptions{.reducedLevel = true});
    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    ASSERT_TRUE(TIFFSetDirectory(tiff, 1));
    const toff_t level = TIFFCurrentDirOffset(tiff), levelTile = TIFFGetStrileOffset(tiff, 0);
    TIFFClose(tiff);
    for (const toff_t cutTo : {level + 6, levelTile + 100}) {
        std::filesystem::resize_file(path, cutTo);
        const Picture picture = loadWithMemory(path, 4 * kSmallMemory);
        ASSERT_TRUE(picture.image().isNull()) << "read whole, not in tiles";
        EXPECT_EQ(test::decodeCoordinate(picture.pixelsFor(QRect(1400, 900, 1, 1)).image.pixel(0, 0)), QPoint(1400, 900));
    }
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

// PNGs of every pixel format, rows put through every filter and the image
// data cut into many IDAT chunks, so bands begin mid-chunk and mid-block.
struct PngOptions {
    int colourType = PNG_COLOR_TYPE_RGB;
    int bitDepth = 8;
    bool transparency = false; // a palette's alpha, or a grey or RGB key colour
    int orientation = 1;       // an eXIf chunk when not 1
    bool noise = false;        // samples that barely compress, so deflate blocks are short
    bool interlaced = false;   // Adam7
};

std::string writePng(const std::string& name, const PngOptions& o, int width = 1500, int height = 1000)
{
    const std::string path = test::tempDir() + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), o.bitDepth, o.colourType,
        o.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, 0, PNG_ALL_FILTERS);
    png_set_compression_buffer_size(png, 3000);
    std::vector<png_color> palette(std::size_t(1) << std::min(o.bitDepth, 8));
    std::vector<png_byte> alphas(palette.size());
    for (std::size_t i = 0; i < palette.size(); ++i) {
        palette[i] = {png_byte(i * 37), png_byte(255 - i * 11), png_byte(i * 5)};
        alphas[i] = png_byte(i * 53);
    }
    if (o.colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, palette.data(), int(palette.size()));
    png_color_16 key{0, 40, 50, 60, 1};
    if (o.transparency)
        png_set_tRNS(png, info, alphas.data(), int(alphas.size()), &key);
    std::array<png_byte, 26> exif{'M', 'M', 0, 42, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1,
        0, png_byte(o.orientation), 0, 0, 0, 0, 0, 0};
    if (o.orientation != 1)
        png_set_eXIf_1(png, info, png_uint_32(exif.size()), exif.data());
    png_write_info(png, info);
    const int channels = png_get_channels(png, info);
    const std::size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<png_byte> rows(rowBytes * std::size_t(height), png_byte(0));
    std::vector<png_bytep> rowPointers(static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y) {
        png_bytep row = rowPointers[std::size_t(y)] = rows.data() + std::size_t(y) * rowBytes;
        for (int x = 0; x < width; ++x) {
            const QRgb c = test::coordinateColour(x, y);
            const int samples[4] = {qRed(c), qGreen(c), qBlue(c), (x * 7 + y * 3) % 256};
            for (int ch = 0; ch < channels; ++ch) {
                const unsigned hash = (unsigned(x) * 2654435761U) ^ (unsigned(y + ch) * 40503U);
                const int value = o.noise ? int((hash >> 13) & 0xFF) : channels <= 2 && ch == 0 ? (x ^ y) & 0xFF : samples[ch];
                const std::size_t at = std::size_t(x) * std::size_t(channels) + std::size_t(ch);
                if (o.bitDepth == 16) {
                    row[2 * at] = png_byte(value);
                    row[2 * at + 1] = png_byte(x);
                } else if (o.bitDepth == 8) {
                    row[at] = png_byte(value);
                } else {
                    const int levels = (1 << o.bitDepth) - 1, bit = int(at) * o.bitDepth;
                    row[std::size_t(bit / 8)] |= png_byte((value * levels / 255) << (8 - o.bitDepth - bit % 8));
                }
            }
        }
    }
    png_set_interlace_handling(png);
    png_write_image(png, rowPointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return path;
}

// An interlaced picture's overview is made in one pass over its seven
// passes, row by row: it must average the same blocks as a plain one's.
TEST(PngBands, FarBandsAndBandEdgesShowTheirOwnPixels)
{
    QImage plainOverview;
    for (const bool interlaced : {false, true}) {
        const Picture picture = loadWithMemory(writePng("bands.png", PngOptions{.interlaced = interlaced}), kSmallMemory);
        ASSERT_TRUE(picture.image().isNull()) << "read whole, not in bands";
        ASSERT_EQ(QSize(picture.pixelWidth(), picture.pixelHeight()), QSize(1500, 1000));
        const auto same = [](QPoint p) { return p; };
        // Bottom first, then back up: each band is inflated from its own
        // checkpoints, not from where the last read stopped.
        for (const QRect& area : {QRect(1460, 970, 40, 30), QRect(0, 0, 40, 30), QRect(700, 500, 300, 40),
                 QRect(10, 14, 20, 4), QRect(0, 0, 1500, 1000)})
            EXPECT_EQ(firstWrongPixel(picture, area, same), std::nullopt) << area.x() << "," << area.y() << interlaced;
        ASSERT_TRUE(test::overviewMade(picture));
        const QImage overview = picture.scaledTo(400, 267);
        // The overview averages the whole picture: red grows with x % 256.
        EXPECT_LT(qRed(overview.pixel(0, 100)), 60);
        if (interlaced) {
            EXPECT_EQ(overview, plainOverview);
        }
        plainOverview = overview;
    }
}

// Memory stays flat: above the cache (a quarter of the memory), though
// memory would hold it whole.
TEST(PngBands, APictureLargerThanTheCacheIsReadInBandsThoughMemoryHoldsIt)
{
    const std::string path = writePng("cached.png", PngOptions{});
    const Picture picture = loadWithMemory(path, 4 * kSmallMemory);
    ASSERT_TRUE(picture.image().isNull()) << "decoded whole";
    EXPECT_EQ(firstWrongPixel(picture, QRect(0, 0, 1500, 1000), [](QPoint p) { return p; }), std::nullopt);
}

// The detail view asks whether a band of an interlaced picture would wait
// for the overview's pass, and draws it white meanwhile: it must say so
// only while the pass has yet to reach the band's rows of the last pass
// that has any, and a band it says will not wait is read at once.
TEST(PngBands, AnInterlacedBandWaitsOnlyWhileThePassIsBehindIt)
{
    const std::string path = writePng("held.png", PngOptions{.interlaced = true});
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    DecodedPicture decoded = decodePng(fd, path, factsFor(path, kSmallMemory));
    ::close(fd);
    ASSERT_TRUE(decoded.tiles);
    TileSource& source = *decoded.tiles;
    const TileLayout layout = source.layout();
    const int last = layout.rows() - 1;
    EXPECT_FALSE(source.waitsToRead(0, last)) << "no pass is running";
    // The pass held at the last pass's row halfway down.
    std::promise<void> halfway, release;
    std::shared_future<void> released = release.get_future().share();
    std::jthread pass([&](std::stop_token stop) {
        bool held = false;
        source.readInPasses(
            [&](const PassRow& row) {
                if (!held && row.across == 1 && row.y >= layout.height / 2) {
                    held = true;
                    halfway.set_value();
                    released.wait();
                }
            },
            stop);
    });
    halfway.get_future().wait();
    EXPECT_FALSE(source.waitsToRead(0, 0));
    EXPECT_TRUE(source.waitsToRead(0, last));
    const std::size_t stride = std::size_t(layout.width) * 3;
    std::vector<std::uint8_t> during(layout.tileBytes()), after(layout.tileBytes());
    auto read = std::async(std::launch::async, [&] { return source.readTile(0, 0, during.data(), stride); });
    const bool readAtOnce = read.wait_for(60s) == std::future_status::ready;
    release.set_value();
    EXPECT_TRUE(readAtOnce) << "the top band waited for the pass";
    EXPECT_TRUE(read.get());
    pass.join();
    EXPECT_FALSE(source.waitsToRead(0, last)) << "the pass has ended";
    ASSERT_TRUE(source.readTile(0, 0, after.data(), stride));
    EXPECT_EQ(during, after);
}

// While the program closes: a band far beyond any checkpoint, which would
// be inflated from the data's start, is not read once the picture is going.
TEST(PngBands, ACancelledSourceReadsNothingMore)
{
    const std::string path = writePng("cancelled.png", PngOptions{});
    for (const bool cancelled : {false, true}) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        DecodedPicture decoded = decodePng(fd, path, factsFor(path, kSmallMemory));
        ::close(fd);
        ASSERT_TRUE(decoded.tiles);
        const TileLayout layout = decoded.tiles->layout();
        std::vector<std::uint8_t> band(layout.tileBytes());
        if (cancelled)
            decoded.tiles->cancel();
        EXPECT_EQ(decoded.tiles->readTile(0, layout.rows() - 1, band.data(), std::size_t(layout.width) * 3), !cancelled);
    }
}

// Interlaced ones too, whose bands gather every pixel from the seven
// passes, among them pictures too narrow or too low for some passes.
TEST(PngBands, EveryPixelFormatMatchesTheWholeDecode)
{
    struct Case {
        PngOptions format;
        int width = 1500, height = 1000;
    };
    const Case cases[] = {{{PNG_COLOR_TYPE_GRAY, 1, false, 1, true}}, {{PNG_COLOR_TYPE_GRAY, 4, true, 1, true}},
        {{PNG_COLOR_TYPE_PALETTE, 4, true, 1, true}}, {{PNG_COLOR_TYPE_PALETTE, 8, false, 6, true}},
        {{PNG_COLOR_TYPE_GRAY_ALPHA, 8, false, 1, true}}, {{PNG_COLOR_TYPE_RGB, 8, true, 1, false}},
        {{PNG_COLOR_TYPE_RGB_ALPHA, 16, false, 3, true}}, {{PNG_COLOR_TYPE_GRAY, 16, false, 8, true}},
        {{PNG_COLOR_TYPE_GRAY, 2, false, 1, true, true}, 1501, 999}, {{PNG_COLOR_TYPE_PALETTE, 8, true, 6, true, true}},
        {{PNG_COLOR_TYPE_RGB_ALPHA, 16, false, 1, false, true}}, {{PNG_COLOR_TYPE_RGB, 8, false, 1, true, true}, 3, 4001},
        {{PNG_COLOR_TYPE_RGB, 8, false, 1, false, true}, 997, 300}};
    for (const Case& c : cases) {
        const PngOptions& format = c.format;
        const std::string path = writePng("format.png", format, c.width, c.height);
        const Picture whole = loadWithMemory(path, qint64(1) << 32);
        // A quarter of the picture's bytes for the cache: read in bands.
        const bool grey = format.colourType == PNG_COLOR_TYPE_GRAY || format.colourType == PNG_COLOR_TYPE_GRAY_ALPHA;
        const Picture bands = loadWithMemory(path, qint64(c.width) * c.height * (grey ? 1 : 3));
        const std::string name = std::to_string(format.colourType) + "/" + std::to_string(format.bitDepth)
            + (format.interlaced ? " interlaced " : " ") + std::to_string(c.width) + "x" + std::to_string(c.height);
        ASSERT_FALSE(whole.image().isNull()) << name;
        ASSERT_TRUE(bands.image().isNull()) << name << " read whole, not in bands";
        const QImage wholeImage = whole.image();
        const QRect all(0, 0, wholeImage.width(), wholeImage.height());
        ASSERT_EQ(QSize(bands.pixelWidth(), bands.pixelHeight()), all.size()) << name;
        const Picture::Pixels pixels = bands.pixelsFor(all);
        int wrong = 0;
        for (int y = 0; y < all.height(); ++y)
            for (int x = 0; x < all.width(); ++x)
                wrong += pixels.image.pixel(x - pixels.originX, y - pixels.originY) != wholeImage.pixel(x, y);
        EXPECT_EQ(wrong, 0) << name;
    }
}

// Cut short: a plain picture (at three fifths) shows its top rows, then
// white; an interlaced one (at four fifths) its six first passes whole,
// and of the last (its odd rows) the top ones.
TEST(PngBands, CutShortShowsTheRowsItHoldsAndWhiteBelow)
{
    for (const bool interlaced : {false, true}) {
        const PngOptions options{.noise = true, .interlaced = interlaced};
        const std::string path = writePng("short.png", options);
        std::filesystem::resize_file(path, std::filesystem::file_size(path) * (interlaced ? 4 : 3) / 5);
        const Picture picture = loadWithMemory(path, kSmallMemory);
        ASSERT_TRUE(picture.image().isNull());
        const Picture whole = loadWithMemory(writePng("whole.png", options), qint64(1) << 32);
        const Picture::Pixels top = picture.pixelsFor(QRect(0, 0, 1500, 100));
        EXPECT_EQ(top.image.pixel(1499 - top.originX, 99 - top.originY), whole.image().pixel(1499, 99)) << interlaced;
        const Picture::Pixels bottom = picture.pixelsFor(QRect(0, 990, 1500, 10));
        EXPECT_EQ(bottom.image.pixel(701 - bottom.originX, 995 - bottom.originY), qRgb(255, 255, 255)) << interlaced;
        if (interlaced) {
            EXPECT_EQ(bottom.image.pixel(701 - bottom.originX, 994 - bottom.originY), whole.image().pixel(701, 994));
        }
        EXPECT_TRUE(test::overviewMade(picture));
    }
}

// A BMP above the cache reads each band's rows from where they lie: rows
// stored bottom to top (as Qt writes them) and top to bottom, and a file
// cut short at three fifths of its rows, the rest white.
TEST(BmpBands, BandsOfEitherRowOrderShowTheirOwnPixels)
{
    const QImage image = test::coordinateImage(1500, 1000);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.save(&buffer, "bmp"));
    // The same picture top to bottom: rows reversed, the height negative.
    QByteArray topDown;
    QBuffer flipped(&topDown);
    flipped.open(QIODevice::WriteOnly);
    ASSERT_TRUE(image.mirrored(false, true).save(&flipped, "bmp"));
    const qint32 negative = -1000;
    std::memcpy(topDown.data() + 22, &negative, sizeof negative);
    QByteArray cut = bytes.left(bytes.size() * 3 / 5);
    const auto same = [](QPoint p) { return p; };
    for (const auto& [name, file] : {std::pair{"up.bmp", bytes}, {"down.bmp", topDown}}) {
        const Picture picture = loadWithMemory(test::writeBytes(name, file.toStdString()), kSmallMemory);
        ASSERT_TRUE(picture.image().isNull()) << "read whole, not in bands";
        for (const QRect& area : {QRect(1460, 970, 40, 30), QRect(0, 0, 40, 30), QRect(0, 0, 1500, 1000)})
            EXPECT_EQ(firstWrongPixel(picture, area, same), std::nullopt) << name << " " << area.x() << "," << area.y();
        EXPECT_TRUE(test::overviewMade(picture));
    }
    // Stored bottom to top: what is cut is the top.
    const Picture picture = loadWithMemory(test::writeBytes("cut.bmp", cut.toStdString()), kSmallMemory);
    EXPECT_EQ(firstWrongPixel(picture, QRect(0, 420, 1500, 580), same), std::nullopt);
    const Picture::Pixels top = picture.pixelsFor(QRect(0, 0, 1500, 10));
    EXPECT_EQ(top.image.pixel(700 - top.originX, 5 - top.originY), qRgb(255, 255, 255));
}

// Less than the 2.2 MB a 1500 x 1000 colour JPEG takes as its planes.
constexpr qint64 kJpegMemory = kSmallMemory / 2;

// The largest difference of a channel between the two, over `area`.
TEST(JpegBands, BandsFromTheirRestartMarkersMatchTheWholeDecode)
{
    // A marker every MCU row (cjpeg -restart 1), two a row, and every 3
    // blocks of a grey file (a row begins at one every 3 rows).
    struct Case {
        unsigned interval;
        bool grey;
    };
    for (const Case& c : {Case{94, false}, Case{47, false}, Case{3, true}}) {
        const std::string path = writeJpeg("restarts.jpg", {.interval = c.interval, .grey = c.grey});
        const Picture whole = loadWithMemory(path, qint64(1) << 32);
        const Picture bands = loadWithMemory(path, c.grey ? kJpegMemory / 2 : kJpegMemory);
        ASSERT_TRUE(bands.image().isNull()) << c.interval << " read whole, not in bands";
        const QImage wholeImage = whole.image();
        for (const QRect& area : {QRect(1400, 900, 100, 100), QRect(0, 0, 1500, 40), QRect(600, 100, 300, 700)})
            EXPECT_LE(largestDifference(bands, wholeImage, area), 2) << c.interval << " at " << area.y();
    }
}

// cjpeg's default: one stream from the first MCU to the last, entered
// where the pass of Huffman decoding found each row.
TEST(JpegBands, BandsOfAFileWithoutRestartMarkersMatchTheWholeDecode)
{
    struct Case {
        bool grey, optimized;
    };
    for (const Case& c : {Case{false, false}, Case{false, true}, Case{true, true}}) {
        const std::string path = writeJpeg("plain.jpg", {.grey = c.grey, .optimized = c.optimized});
        const Picture whole = loadWithMemory(path, qint64(1) << 32);
        const Picture bands = loadWithMemory(path, c.grey ? kJpegMemory / 2 : kJpegMemory);
        ASSERT_TRUE(bands.image().isNull()) << c.grey << c.optimized << " read whole, not in bands";
        const QImage wholeImage = whole.image();
        for (const QRect& area : {QRect(1400, 900, 100, 100), QRect(0, 0, 1500, 40), QRect(0, 0, 1500, 1000)})
            EXPECT_LE(largestDifference(bands, wholeImage, area), 2) << c.grey << c.optimized << " at " << area.y();
    }
}

// Memory stays flat: a picture whose whole decode would not fit the cache
// (a quarter of the memory) goes through it, though memory would hold it.
TEST(JpegBands, APictureLargerThanTheCacheIsReadInBandsThoughMemoryHoldsIt)
{
    const std::string path = writeJpeg("cached.jpg", {});
    const QImage whole = loadWithMemory(path, qint64(1) << 32).image();
    const Picture bands = loadWithMemory(path, 2 * kSmallMemory);
    ASSERT_TRUE(bands.image().isNull()) << "decoded whole";
    EXPECT_LE(largestDifference(bands, whole, QRect(0, 0, 1500, 1000)), 2);
}

// The overview's pass reads bands at 1/8, for a fraction of a whole
// decode: each block's average is still the mean of the whole decode's
// pixels there, but for rounding and the colour edges.
TEST(JpegBands, BlockAveragesReadAtADctScaleAreThoseOfTheWholeDecode)
{
    // Without markers, and in progressive scans, from the DC values the
    // index's pass keeps (in progressive scans, once the last DC refinement
    // is read); with them, and a JPEG-compressed TIFF's tiles, decoded by
    // libjpeg at 1/8. A progressive file's index needs more memory than the
    // others' bands.
    struct Case {
        std::string path;
        qint64 memory;
    };
    for (const Case& c : {Case{writeJpeg("plain.jpg", {}), kJpegMemory},
             Case{writeJpeg("restarts.jpg", {.interval = 94}), kJpegMemory},
             Case{writeJpeg("progressive.jpg", {.progressive = true}), 4 * kJpegMemory},
             Case{writeTiff("jpeg.tif", {.jpeg = true}), kSmallMemory}}) {
        const std::string& path = c.path;
        const QImage whole = loadWithMemory(path, qint64(1) << 32).image();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const bool tiff = path.ends_with(".tif");
        DecodedPicture decoded = (tiff ? decodeTiff : decodeJpeg)(fd, path, factsFor(path, c.memory));
        ::close(fd);
        ASSERT_TRUE(decoded.tiles);
        TiledPicture picture(std::move(decoded.tiles), 1, std::size_t(8) << 20, 2);
        const BlockAverages averages = picture.averagedBlocks(16);
        ASSERT_EQ(averages.width, 94);
        ASSERT_EQ(averages.height, 63);
        int largest = 0;
        long long total = 0;
        for (int by = 0; by < averages.height; ++by)
            for (int bx = 0; bx < averages.width; ++bx) {
                std::array<long long, 3> sums {};
                long long count = 0;
                for (int y = by * 16; y < std::min(1000, by * 16 + 16); ++y)
                    for (int x = bx * 16; x < std::min(1500, bx * 16 + 16); ++x, ++count) {
                        const QRgb pixel = whole.pixel(x, y);
                        sums[0] += qRed(pixel), sums[1] += qGreen(pixel), sums[2] += qBlue(pixel);
                    }
                for (std::size_t c = 0; c < 3; ++c) {
                    const int average = averages.pixels[(std::size_t(by) * 94 + std::size_t(bx)) * 3 + c];
                    const int difference = std::abs(average - int((sums[c] + count / 2) / count));
                    largest = std::max(largest, difference);
                    total += difference;
                }
            }
        // The picture's sharp colour edges are smoothed a little differently.
        EXPECT_LE(largest, 8) << path;
        EXPECT_LE(double(total) / (94 * 63 * 3), 1.0) << path;
    }
}

TEST(JpegBands, CutShortShowsTheBandsItHoldsAndWhiteBelow)
{
    for (const unsigned interval : {94U, 0U}) {
        const std::string path = writeJpeg("short.jpg", {.interval = interval});
        const QImage whole = loadWithMemory(path, qint64(1) << 32).image();
        std::filesystem::resize_file(path, std::filesystem::file_size(path) / 2);
        const Picture picture = loadWithMemory(path, kJpegMemory);
        ASSERT_TRUE(picture.image().isNull());
        EXPECT_LE(largestDifference(picture, whole, QRect(0, 0, 1500, 200)), 2) << interval;
        const Picture::Pixels bottom = picture.pixelsFor(QRect(0, 990, 1500, 10));
        EXPECT_EQ(bottom.image.pixel(700 - bottom.originX, 995 - bottom.originY), qRgb(255, 255, 255)) << interval;
    }
}

} // namespace
} // namespace korvane
