#include "platform/decoded_picture.h"
#include "platform/memory_info.h"
#include "platform/picture.h"
#include "platform/pixel_ops.h"

#include "decode/decoders.h"
#include "decode/image_normalize.h"
#include "decode/orientation.h"
#include "decode/row_sink.h"

#include "bad_files.h"
#include "support.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QColorTransform>
#include <QImageReader>
#include <QImageWriter>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include <jpeglib.h>

namespace korvane {
namespace {

using test::decodeCoordinate;

RuntimeError loadError(const std::string& path)
{
    try {
        LoadPicture(path);
    } catch (const RuntimeError& error) {
        return error;
    }
    throw std::logic_error("loaded " + path);
}

void expectMessage(const RuntimeError& error, const std::string& path, const std::string& reason)
{
    const std::string message = error.what();
    EXPECT_NE(message.find(path), std::string::npos) << message;
    EXPECT_NE(message.find(reason), std::string::npos) << message;
}

class LosslessFormat : public ::testing::TestWithParam<const char*> {};

TEST_P(LosslessFormat, LoadsEveryPixel)
{
    const QImage image = test::coordinateImage(320, 200, QImage::Format_RGB32);
    const Picture picture = LoadPicture(test::writeImage(image, std::string("coords.") + GetParam(), GetParam(), 100));
    ASSERT_EQ(picture.pixelWidth(), 320);
    ASSERT_EQ(picture.pixelHeight(), 200);
    EXPECT_NE(picture.Handle(), 0);
    for (QPoint p : {QPoint(0, 0), QPoint(319, 0), QPoint(17, 199), QPoint(300, 150)})
        EXPECT_EQ(decodeCoordinate(picture.image().pixel(p)), p) << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Formats, LosslessFormat, ::testing::Values("png", "bmp", "tiff", "ppm", "webp"));

// Its RGBA rows are laid over white into RGB rows in the same memory: every
// row must land in its place, an odd width's padding included.
TEST(LoadPicture, WebpWithAlphaIsLaidOverWhiteInPlace)
{
    QImage image = test::coordinateImage(321, 203, QImage::Format_ARGB32);
    image.setPixel(10, 10, qRgba(0, 0, 0, 0));
    const Picture picture = LoadPicture(test::writeImage(image, "alpha.webp", "webp", 100));
    ASSERT_EQ(QSize(picture.pixelWidth(), picture.pixelHeight()), QSize(321, 203));
    for (QPoint p : {QPoint(0, 0), QPoint(320, 0), QPoint(17, 202), QPoint(320, 202), QPoint(300, 150)})
        EXPECT_EQ(decodeCoordinate(picture.image().pixel(p)), p);
    EXPECT_EQ(picture.image().pixel(10, 10), qRgb(255, 255, 255));
}

// From 4 megapixels on, a WebP is handed over once its first rows are
// final and fills in on a thread of its own: every row lands in its place,
// with and without alpha, and a file cut short shows the rows it holds
// above white ones.
TEST(LoadPicture, LargeWebpFillsInWhereItsRowsBelong)
{
    QImage image = test::coordinateImage(2001, 2001, QImage::Format_ARGB32);
    image.setPixel(10, 10, qRgba(0, 0, 0, 0));
    for (const bool alpha : {false, true}) {
        const QImage source = alpha ? image : image.convertToFormat(QImage::Format_RGB888);
        const std::string bytes = test::encodeWithTool(source, "cwebp -quiet -lossless -exact -z 0 in.png -o out");
        const Picture picture = LoadPicture(test::writeBytes("large.webp", bytes));
        ASSERT_EQ(QSize(picture.pixelWidth(), picture.pixelHeight()), QSize(2001, 2001));
        for (QPoint p : {QPoint(0, 0), QPoint(2000, 0), QPoint(17, 2000), QPoint(2000, 2000), QPoint(1500, 999)})
            EXPECT_EQ(decodeCoordinate(picture.image().pixel(p)), p) << alpha;
        EXPECT_EQ(picture.image().pixel(10, 10), alpha ? qRgb(255, 255, 255) : qRgb(0, 0, 0));

        const Picture cut = LoadPicture(test::writeBytes("cut.webp", test::cut(bytes, 0.5)));
        EXPECT_EQ(decodeCoordinate(cut.image().pixel(7, 3)), QPoint(7, 3)) << alpha;
        EXPECT_EQ(cut.image().pixel(1999, 1999), qRgb(255, 255, 255)) << alpha;
    }
}

TEST(LoadPicture, ReadsJpegAndKeepsOpaqueColourAtThreeBytesAPixel)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(qRgb(200, 40, 40));
    const Picture picture = LoadPicture(test::writeImage(image, "red.jpg", "jpg", 95));
    EXPECT_EQ(picture.image().format(), QImage::Format_RGB888);
    const QRgb p = picture.image().pixel(30, 20);
    EXPECT_NEAR(qRed(p), 200, 3);
    EXPECT_NEAR(qGreen(p), 40, 3);
}

TEST(LoadPicture, KeepsGreyPicturesAtOneByteAPixel)
{
    QImage grey(40, 30, QImage::Format_Grayscale8);
    grey.fill(90);
    const Picture picture = LoadPicture(test::writeImage(grey, "grey.jpg", "jpg", 95));
    EXPECT_EQ(picture.image().format(), QImage::Format_Grayscale8);
}

TEST(LoadPicture, DetectsTheFormatFromTheContentNotTheName)
{
    const QImage image = test::coordinateImage(30, 20);
    const Picture picture = LoadPicture(test::writeImage(image, "really-a-png.jpg", "png"));
    EXPECT_EQ(decodeCoordinate(picture.image().pixel(29, 19)), QPoint(29, 19));
}

TEST(LoadPicture, ReadsGif)
{
    // A 2 x 1 GIF: a red and a blue pixel.
    const unsigned char bytes[] = {'G', 'I', 'F', '8', '9', 'a', 2, 0, 1, 0, 0x80, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF,
        ',', 0, 0, 0, 0, 2, 0, 1, 0, 0, 2, 2, 0x44, 0x0A, 0, ';'};
    const std::string gif(reinterpret_cast<const char*>(bytes), sizeof bytes);
    const Picture picture = LoadPicture(test::writeBytes("two.gif", gif));
    ASSERT_EQ(picture.pixelWidth(), 2);
    EXPECT_EQ(picture.image().pixel(0, 0) | 0xFF000000, qRgb(255, 0, 0));
    EXPECT_EQ(picture.image().pixel(1, 0) | 0xFF000000, qRgb(0, 0, 255));
}

TEST(LoadPicture, LaysTransparentPartsOverWhite)
{
    QImage image(4, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(255, 0, 0, 255));
    image.setPixel(1, 0, qRgba(255, 0, 0, 0));
    image.setPixel(2, 0, qRgba(0, 0, 0, 128));
    image.setPixel(3, 0, qRgba(0, 0, 255, 128));
    const Picture picture = LoadPicture(test::writeImage(image, "alpha.png", "png"));
    EXPECT_EQ(picture.image().format(), QImage::Format_RGB888);
    EXPECT_EQ(picture.image().pixel(0, 0), qRgb(255, 0, 0));
    EXPECT_EQ(picture.image().pixel(1, 0), qRgb(255, 255, 255));
    EXPECT_NEAR(qRed(picture.image().pixel(2, 0)), 127, 1);
    EXPECT_NEAR(qRed(picture.image().pixel(3, 0)), 127, 1);
    EXPECT_EQ(qBlue(picture.image().pixel(3, 0)), 255);
}

TEST(LoadPicture, EmptyPathGivesTheEmptyPicture)
{
    const Picture picture = LoadPicture("");
    EXPECT_TRUE(picture.isEmpty());
    EXPECT_EQ(picture.Handle(), 0);
}

TEST(LoadPicture, OpensPicturesBeyondQtsDefaultAllocationLimit)
{
    // Qt's PPM reader makes a 32-bit image: 7000 x 7000 is 196 MB, more
    // than Qt 6.4's 128 MB default.
    const int side = 7000;
    std::string ppm = "P6\n" + std::to_string(side) + " " + std::to_string(side) + "\n255\n";
    ppm.append(std::size_t(side) * side * 3, char(120));
    const std::string path = test::writeBytes("big.ppm", ppm);
    ppm = std::string();
    const Picture picture = LoadPicture(path);
    EXPECT_EQ(picture.pixelWidth(), side);
    EXPECT_EQ(picture.pixelHeight(), side);
    EXPECT_EQ(picture.image().pixel(side - 1, side - 1), qRgb(120, 120, 120));
}

TEST(LoadPicture, ShowsTheMissingPartOfACutShortCmykJpegWhite)
{
    const std::string jpeg = test::jpegOfKind(test::JpegKind::Cmyk, 256, 256);
    const Picture picture = LoadPicture(test::writeBytes("cut-cmyk.jpg", test::cut(jpeg, 0.5)));
    ASSERT_EQ(picture.pixelHeight(), 256);
    const QRgb top = picture.image().pixel(10, 0), bottom = picture.image().pixel(10, 255);
    EXPECT_NEAR(qRed(top), 200, 6);
    EXPECT_NEAR(qGreen(top), 60, 6);
    EXPECT_NEAR(qBlue(top), 30, 6);
    EXPECT_EQ(bottom, qRgb(255, 255, 255));
}

// A control group tree as /sys/fs/cgroup lays it out.
void writeFile(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << text << "\n";
}

TEST(AvailableMemory, IsTheLeastHeadroomOfEveryControlGroupLevel)
{
    const std::string root = test::tempDir() + "/cgroup";
    // v2: the slice allows 1000 MB and uses 300; the service below it has no limit.
    writeFile(root + "/user.slice/memory.max", std::to_string(1000 << 20));
    writeFile(root + "/user.slice/memory.current", std::to_string(300 << 20));
    writeFile(root + "/user.slice/app.service/memory.max", "max");
    writeFile(root + "/user.slice/app.service/memory.current", std::to_string(200 << 20));
    EXPECT_EQ(cgroupAvailableBytes(root, "0::/user.slice/app.service\n"), qint64(700) << 20);
    // v1: the memory controller's own tree, the tighter group winning.
    writeFile(root + "/memory/box/memory.limit_in_bytes", std::to_string(500 << 20));
    writeFile(root + "/memory/box/memory.usage_in_bytes", std::to_string(450 << 20));
    EXPECT_EQ(cgroupAvailableBytes(root, "5:memory:/box\n0::/user.slice/app.service\n"), qint64(50) << 20);
    // Over the limit leaves nothing; no limit anywhere says so.
    writeFile(root + "/memory/box/memory.usage_in_bytes", std::to_string(600 << 20));
    EXPECT_EQ(cgroupAvailableBytes(root, "5:memory:/box\n"), 0);
    EXPECT_EQ(cgroupAvailableBytes(root, "0::/elsewhere\n"), -1);
}

TEST(LoadPictureErrors, NameTheFileAndTheReason)
{
    const std::string dir = test::tempDir();
    {
        const auto error = loadError(dir + "/missing.png");
        EXPECT_EQ(error.kind(), ErrorKind::FileNotFound);
        expectMessage(error, dir + "/missing.png", "no such file");
    }
    {
        const auto error = loadError(dir);
        EXPECT_EQ(error.kind(), ErrorKind::NotAFile);
        expectMessage(error, dir, "is a directory");
    }
    {
        const auto error = loadError(test::writeBytes("empty.png", ""));
        EXPECT_EQ(error.kind(), ErrorKind::InvalidPicture);
        expectMessage(error, "empty.png", "is empty");
    }
    {
        const auto error = loadError(test::writeBytes("notes.jpg", "just some text, not a picture\n"));
        EXPECT_EQ(error.kind(), ErrorKind::InvalidPicture);
        expectMessage(error, "notes.jpg", "not an image in a format the viewer reads");
    }
}

TEST(LoadPictureErrors, RefuseFifosAndDevicesWithoutReadingThem)
{
    const std::string fifo = test::tempDir() + "/pipe.png";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // Opening a FIFO for reading would block until a writer came.
    EXPECT_EQ(loadError(fifo).kind(), ErrorKind::NotAFile);
    expectMessage(loadError(fifo), fifo, "pipe");
    EXPECT_EQ(loadError("/dev/zero").kind(), ErrorKind::NotAFile);
    expectMessage(loadError("/dev/zero"), "/dev/zero", "device");
}

TEST(LoadPictureErrors, EscapeUnprintableBytesInTheName)
{
    const auto error = loadError(test::tempDir() + "/bad\xff\nname.png");
    EXPECT_NE(std::string(error.what()).find("bad\\xFF\\x0Aname.png"), std::string::npos) << error.what();
    // What a terminal would act on or show reordered is escaped byte by
    // byte; valid text, Japanese included, is kept.
    EXPECT_EQ(printablePath("\xC2\x9B" "2J"), "\\xC2\\x9B2J");                   // C1: CSI
    EXPECT_EQ(printablePath("a\xE2\x80\xAEgpj.png"), "a\\xE2\\x80\\xAEgpj.png"); // right-to-left override
    EXPECT_EQ(printablePath("\xC0\xAF"), "\\xC0\\xAF");                         // overlong '/'
    EXPECT_EQ(printablePath("\xED\xA0\x80"), "\\xED\\xA0\\x80");             // a UTF-16 surrogate
    EXPECT_EQ(printablePath("\xF4\x90\x80\x80"), "\\xF4\\x90\\x80\\x80"); // above U+10FFFF
    EXPECT_EQ(printablePath("\x7F"), "\\x7F");
    EXPECT_EQ(printablePath("写真/海.jpg"), "写真/海.jpg");
}


TEST(LoadPicture, TurnsPhotosUprightByTheirOrientationTag)
{
    // Stored 60 x 20; tags 6 and 8 turn it a quarter, to 20 x 60.
    const struct {
        int tag;
        QSize shown;
        QPoint band; // where the stored left edge ends up
    } cases[] = {{6, {20, 60}, {10, 2}}, {3, {60, 20}, {57, 10}}, {8, {20, 60}, {10, 57}}};
    for (const auto& c : cases) {
        QImage stored(60, 20, QImage::Format_RGB32);
        stored.fill(Qt::white);
        for (int y = 0; y < 20; ++y)
            for (int x = 0; x < 10; ++x)
                stored.setPixel(x, y, qRgb(0, 0, 0));
        const Picture picture = LoadPicture(test::writeOrientedJpeg(stored, "oriented.jpg", c.tag));
        EXPECT_EQ(QSize(picture.pixelWidth(), picture.pixelHeight()), c.shown) << c.tag;
        EXPECT_LT(qRed(picture.image().pixel(c.band)), 60) << c.tag;
    }
}


// sRGB's primaries and a grey, stored as their Display P3 values.
struct TaggedColour {
    QRgb srgb;
    QRgb stored;
};

std::vector<TaggedColour> srgbColoursInDisplayP3()
{
    const QColorTransform toP3 = QColorSpace(QColorSpace::SRgb).transformationToColorSpace(QColorSpace::DisplayP3);
    std::vector<TaggedColour> colours;
    for (QRgb srgb : {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(128, 128, 128)})
        colours.push_back({srgb, toP3.map(srgb)});
    return colours;
}

QImage stripesOf(const std::vector<TaggedColour>& colours)
{
    QImage image(16 * int(colours.size()), 16, QImage::Format_RGB32);
    for (int i = 0; i < int(colours.size()); ++i)
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                image.setPixel(16 * i + x, y, colours[i].stored);
    return image;
}

// The image with each channel's lowest bit made random.
QImage noisy(QImage image)
{
    std::mt19937 random(7);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] ^= random() & 0x010101;
    }
    return image;
}

// The largest difference of a channel between a and the part of b at `at`.
int worstDifference(const QImage& a, QPoint at, const QImage& b)
{
    int worst = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y), q = b.pixel(x + at.x(), y + at.y());
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                std::abs(qBlue(p) - qBlue(q))});
        }
    return worst;
}

void expectNear(QRgb actual, QRgb expected, int tolerance, const std::string& what)
{
    EXPECT_NEAR(qRed(actual), qRed(expected), tolerance) << what;
    EXPECT_NEAR(qGreen(actual), qGreen(expected), tolerance) << what;
    EXPECT_NEAR(qBlue(actual), qBlue(expected), tolerance) << what;
}

TEST(LoadPictureColour, ConvertsAWideGamutProfileToSrgb)
{
    const auto colours = srgbColoursInDisplayP3();
    ASSERT_LT(qGreen(colours[0].stored), 255 - 20); // P3 red is not sRGB red
    // A WebP of 4 megapixels or more is converted row by row as it decodes.
    for (const char* format : {"png", "jpg", "webp", "large webp"}) {
        const bool large = std::string(format) == "large webp";
        QImage tagged = stripesOf(colours);
        if (large) // with a bit of noise, so that its file is more than the first megabyte fed
            tagged = noisy(tagged.scaled(tagged.width() * 32, 4'000'000 / (tagged.width() * 32) + 1));
        tagged.setColorSpace(QColorSpace::DisplayP3);
        const char* writtenAs = large ? "webp" : format;
        const Picture picture = LoadPicture(test::writeImage(tagged, std::string("p3.") + writtenAs, writtenAs, 100));
        const int stripe = large ? 16 * 32 : 16;
        for (int i = 0; i < int(colours.size()); ++i)
            expectNear(picture.image().pixel(stripe * i + stripe / 2, picture.pixelHeight() - 8), colours[i].srgb, 4,
                std::string(format) + " colour " + std::to_string(i));
    }
}

TEST(LoadPictureColour, TakesUntaggedPicturesAsSrgb)
{
    const auto colours = srgbColoursInDisplayP3();
    for (const char* format : {"png", "jpg"}) {
        const Picture picture = LoadPicture(test::writeImage(stripesOf(colours), std::string("plain.") + format, format, 100));
        for (int i = 0; i < int(colours.size()); ++i)
            expectNear(picture.image().pixel(16 * i + 8, 8), colours[i].stored, 3,
                std::string(format) + " colour " + std::to_string(i));
    }
}


// Every orientation tag turns the picture the way Qt's own reader does.
TEST(LoadPicture, AppliesEachOfTheEightOrientationsLikeQtsReader)
{
    QImage stored(48, 32, QImage::Format_RGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 48; ++x)
            stored.setPixel(x, y, qRgb((x / 16) * 120, (y / 16) * 200, 60)); // six flat blocks
    for (int tag = 1; tag <= 8; ++tag) {
        const std::string path = test::writeOrientedJpeg(stored, "tag.jpg", tag);
        QImageReader reference(QString::fromStdString(path));
        reference.setAutoTransform(true);
        const QImage expected = reference.read();
        const Picture picture = LoadPicture(path);
        ASSERT_EQ(picture.image().size(), expected.size()) << tag;
        for (QPoint at : {QPoint(8, 8), QPoint(expected.width() - 8, 8), QPoint(8, expected.height() - 8),
                 QPoint(expected.width() - 8, expected.height() - 8), QPoint(expected.width() / 2, expected.height() / 2)})
            expectNear(picture.image().pixel(at), expected.pixel(at), 6, "tag " + std::to_string(tag));
    }
}


// Large pictures get a block-averaged copy made while they decode; the
// overview scaled from it must look as if scaled from the whole picture.
TEST(LoadPicture, SmallCopiesOfLargePicturesMatchScalingTheWholePicture)
{
    QImage image(4801, 3603, QImage::Format_RGB888); // sides not multiples of 4
    for (int y = 0; y < image.height(); ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            row[3 * x] = static_cast<uchar>(128 + 100 * std::sin(x * 0.01));
            row[3 * x + 1] = static_cast<uchar>(128 + 100 * std::cos(y * 0.013));
            row[3 * x + 2] = static_cast<uchar>((x + y) / 40);
        }
    }
    for (const char* format : {"png", "jpg"}) {
        const Picture picture = LoadPicture(test::writeImage(image, std::string("large.") + format, format, 95));
        const QImage whole = scaleSmooth(picture.image(), 800, 600);
        const QImage& quick = picture.scaledTo(800, 600);
        ASSERT_EQ(quick.size(), whole.size());
        EXPECT_LE(worstDifference(quick, QPoint(), whole), 2) << format;
        // The last rows and columns, where blocks are partial, are there too.
        EXPECT_NEAR(qBlue(quick.pixel(799, 599)), qBlue(whole.pixel(799, 599)), 2) << format;
    }
}


// A photo-like picture: smooth waves in every channel and hard edges.
QImage wavesImage(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB888);
    for (int y = 0; y < height; ++y) {
        uchar* row = image.scanLine(y);
        for (int x = 0; x < width; ++x) {
            row[3 * x] = static_cast<uchar>(128 + 100 * std::sin(x * 0.01));
            row[3 * x + 1] = static_cast<uchar>(128 + 100 * std::cos(y * 0.013));
            row[3 * x + 2] = static_cast<uchar>(((x / 97 + y / 89) % 2) * 200 + 20);
        }
    }
    return image;
}

// Every row filter PNG has, in colour and in grey, gives back the very
// pixels written; with alpha (four bytes a pixel to undo the filters by),
// those pixels laid over white.
TEST(LoadPicture, UndoesEveryPngRowFilterExactly)
{
    const QImage waves = wavesImage(601, 203);
    QImage translucent = waves.convertToFormat(QImage::Format_RGBA8888);
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.scanLine(y)[4 * x + 3] = static_cast<uchar>((x * 7 + y * 3) % 256);
    QImage overWhite(translucent.size(), QImage::Format_RGB888);
    for (int y = 0; y < translucent.height(); ++y)
        for (int i = 0; i < 3 * translucent.width(); ++i) {
            const int alpha = translucent.constScanLine(y)[i / 3 * 4 + 3];
            const int value = translucent.constScanLine(y)[i / 3 * 4 + i % 3];
            overWhite.scanLine(y)[i] = static_cast<uchar>((value * alpha + 255 * (255 - alpha) + 127) / 255);
        }
    for (const QImage& image : {waves, waves.convertToFormat(QImage::Format_Grayscale8), translucent})
        for (int filter = 0; filter <= 4; ++filter) {
            const Picture picture = LoadPicture(test::writeBytes("filter.png", test::pngFilteredBy(image, filter)));
            const bool alpha = image.hasAlphaChannel();
            const QImage& expected = alpha ? overWhite : image;
            ASSERT_EQ(picture.image().size(), expected.size());
            ASSERT_EQ(picture.image().format(), expected.format());
            const char* kind = alpha ? " with alpha" : image.depth() == 8 ? " grey" : " colour";
            if (alpha) { // within a rounding
                EXPECT_LE(worstDifference(picture.image(), QPoint(), expected), 1) << "filter " << filter << kind;
                continue;
            }
            int differing = 0;
            for (int y = 0; y < image.height(); ++y)
                differing += std::memcmp(picture.image().constScanLine(y), image.constScanLine(y),
                                 static_cast<std::size_t>(image.width() * (image.depth() / 8))) != 0;
            EXPECT_EQ(differing, 0) << "filter " << filter << kind;
        }
}

// A decoded picture as the loader hands it over.
Picture pictureOf(DecodedPicture decoded)
{
    return pictureFromDecoded(std::move(decoded), "test", FileFacts{});
}

// libjpeg's own RGB decode, with its default (smooth) upsampling.
QImage libjpegRgb(const std::string& bytes)
{
    jpeg_decompress_struct cinfo {};
    jpeg_error_mgr errors {};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    QImage image(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height), QImage::Format_RGB888);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {image.scanLine(static_cast<int>(cinfo.output_scanline))};
        jpeg_read_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return image;
}

// A colour JPEG is kept as its planes and made into RGB where drawn: at
// every sampling, whole or a part at a time (parts that overlap the last
// one drawn, parts at the edges, odd offsets), it is libjpeg's own RGB
// decode within a level, turned upright as its tag says; so is one large
// enough to be shown before it is whole.
TEST(LoadPicture, AColourJpegIsDrawnAsLibjpegDecodesItAtEverySampling)
{
    // Colour edges on every second and third pixel, where upsampling shows.
    QImage noisy = wavesImage(203, 157);
    for (int y = 0; y < noisy.height(); ++y)
        for (int x = 0; x < noisy.width(); ++x)
            if ((x * 7 + y * 3) % 11 < 3)
                noisy.setPixel(x, y, (x + y) % 3 ? qRgb(250, 10, 30) : qRgb(0, 240, 250));
    struct Case {
        int across, down, orientation;
        QImage image;
    };
    const std::vector<Case> cases = {{1, 1, 1, noisy}, {2, 1, 1, noisy}, {2, 2, 1, noisy}, {1, 2, 1, noisy},
        {4, 1, 1, noisy}, {2, 2, 2, noisy}, {2, 1, 3, noisy}, {4, 1, 4, noisy}, {1, 2, 5, noisy},
        {2, 2, 6, noisy}, {2, 1, 7, noisy}, {2, 2, 8, noisy}, {2, 2, 1, wavesImage(2501, 1603)},
        // Colour planes one or two samples wide, which libjpeg repeats.
        {2, 2, 1, noisy.copy(0, 0, 3, 5)}, {2, 1, 1, noisy.copy(0, 0, 4, 1)}, {2, 2, 1, noisy.copy(0, 0, 1, 1)}};
    const std::vector<QRect> parts = {QRect(0, 0, 50, 40), QRect(3, 1, 50, 40), QRect(1, 2, 61, 41),
        QRect(-20, 90, 300, 300), QRect(0, 0, 1, 1), QRect(151, 119, 52, 38)};
    for (const Case& c : cases) {
        const std::string name = std::to_string(c.across) + "x" + std::to_string(c.down) + "-"
            + std::to_string(c.orientation) + "-" + std::to_string(c.image.width());
        std::string bytes = test::jpegSampled(c.image, c.across, c.down);
        const QImage stored = libjpegRgb(bytes);
        if (c.orientation != 1) {
            // The same file with an orientation tag: APP1 right after SOI.
            const std::string tagged = test::writeOrientedJpeg(c.image, "tag.jpg", c.orientation);
            std::ifstream in(tagged, std::ios::binary);
            const std::string withTag((std::istreambuf_iterator<char>(in)), {});
            bytes.insert(2, withTag.substr(2, 36));
        }
        QImage expected = uprightPicture(stored.width(), stored.height(), c.orientation, 3);
        UprightWriter writer(expected, c.orientation, stored.width(), stored.height(), 3);
        for (int y = 0; y < stored.height(); ++y)
            writer.putRow(y, stored.constScanLine(y));
        const Picture picture = LoadPicture(test::writeBytes("sampled-" + name + ".jpg", bytes));
        ASSERT_EQ(picture.image().size(), expected.size()) << name;
        EXPECT_LE(worstDifference(picture.image(), QPoint(), expected), 1) << name;
        for (const QRect& part : parts) {
            const QRect inside = part & expected.rect();
            if (inside.isEmpty())
                continue;
            const Picture::Pixels pixels = picture.pixelsFor(part);
            ASSERT_EQ(QRect(QPoint(pixels.originX, pixels.originY), pixels.image.size()), inside) << name;
            EXPECT_EQ(worstDifference(pixels.image, inside.topLeft(), picture.image()), 0) << name;
        }
    }
}

// A baseline JPEG large enough to be shown before it is whole: once its rows
// are all in, they are exactly those of a whole decode (colour, a mirrored
// photo, grey, a cut-short file), and so is its overview, within 2 levels.
TEST(LoadPicture, AJpegShownBeforeItIsWholeEndsAsTheWholeDecode)
{
    const QImage waves = wavesImage(4000, 2500);
    QImage wide = waves;
    wide.setColorSpace(QColorSpace::DisplayP3);
    const std::string plain = test::writeImage(waves, "early.jpg", "jpg", 90);
    std::ifstream in(plain, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const std::vector<std::string> paths = {
        test::writeImage(wide, "early-p3.jpg", "jpg", 90),
        test::writeOrientedJpeg(waves, "early-mirrored.jpg", 2),
        test::writeImage(waves.convertToFormat(QImage::Format_Grayscale8), "early-grey.jpg", "jpg", 90),
        test::writeBytes("early-cut.jpg", bytes.substr(0, bytes.size() * 2 / 3)),
    };
    for (const std::string& path : paths) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        FileFacts facts;
        facts.fileBytes = static_cast<qint64>(std::filesystem::file_size(path));
        facts.availableBytes = qint64(1) << 32;
        const QImage whole = pictureOf(decodeJpeg(fd, path, facts)).image();
        facts.overviewSides = QSize(800, 600);
        DecodedPicture early = decodeJpeg(fd, path, facts);
        ::close(fd);
        ASSERT_TRUE(early.fill) << path;
        const Picture picture = pictureOf(std::move(early));
        ASSERT_FALSE(whole.isNull()) << path;
        const QSize overview = whole.size().scaled(800, 800, Qt::KeepAspectRatio);
        picture.scaledTo(overview.width(), overview.height()); // the early overview, most likely
        ASSERT_EQ(picture.image().size(), whole.size()) << path;
        int differing = 0;
        for (int y = 0; y < whole.height(); ++y)
            differing += std::memcmp(picture.image().constScanLine(y), whole.constScanLine(y),
                             static_cast<std::size_t>(whole.bytesPerLine())) != 0;
        EXPECT_EQ(differing, 0) << path;
        // The overview is exact once the picture says it is complete.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (!picture.isComplete() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        ASSERT_TRUE(picture.isComplete()) << path;
        const QImage fromWhole = scaleSmooth(whole, overview.width(), overview.height());
        const QImage& early8 = picture.scaledTo(overview.width(), overview.height());
        ASSERT_EQ(early8.size(), fromWhole.size()) << path;
        EXPECT_LE(worstDifference(early8, QPoint(), fromWhole), 2) << path;
    }
}

std::string pngBytes(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return bytes.toStdString();
}

TEST(PreloadPicture, HandsItsPictureOrItsErrorToTheNextLoadOfThatPath)
{
    const std::string good = test::writeImage(test::coordinateImage(300, 200), "preload.png", "png");
    PreloadPicture(good);
    const Picture picture = LoadPicture(good);
    EXPECT_EQ(decodeCoordinate(picture.image().pixel(123, 45)), QPoint(123, 45));

    const std::string cut = test::writeBytes("preload-cut.png", pngBytes(test::coordinateImage(64, 64)).substr(0, 40));
    PreloadPicture(cut);
    expectMessage(loadError(cut), cut, "cannot be decoded");

    // A preload of another path is not taken for this one.
    const std::string other = test::writeImage(test::coordinateImage(20, 10), "other.png", "png");
    PreloadPicture(good);
    EXPECT_EQ(LoadPicture(other).pixelWidth(), 20);
    EXPECT_EQ(LoadPicture(good).pixelWidth(), 300); // still waiting, and taken now

    // The preload reads the file it opened, whatever the path names later.
    const std::string replaced = test::writeImage(test::coordinateImage(40, 30), "replaced.png", "png");
    const std::string newer = test::writeImage(test::coordinateImage(70, 50), "newer.bmp", "bmp");
    PreloadPicture(replaced);
    ASSERT_EQ(std::rename(newer.c_str(), replaced.c_str()), 0);
    EXPECT_EQ(LoadPicture(replaced).pixelWidth(), 40);
}

} // namespace
} // namespace korvane
