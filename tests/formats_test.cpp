// BMP, HEIF, AVIF, JPEG XL, JPEG 2000 and SVG, and colour through
// LittleCMS, on files made by Debian's own encoders and tools, checked
// against the source pixels or against LittleCMS's own command-line
// converter.
#include "platform/picture.h"
#include "platform/runtime_error.h"

#include "support.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace korvane {
namespace {

const std::string kProfiles = "/usr/share/color/icc";

std::string withFiles(std::string command, const std::string& in, const std::string& out)
{
    command.replace(command.find("IN"), 2, in);
    command.replace(command.find("OUT"), 3, out);
    return command;
}

// Runs a shell command in the scratch directory; its output is dropped.
void run(const std::string& command)
{
    const std::string line = "cd '" + test::tempDir() + "' && { " + command + "; } >/dev/null 2>&1";
    ASSERT_EQ(std::system(line.c_str()), 0) << command;
}

std::string scratch(const std::string& name)
{
    return test::tempDir() + "/" + name;
}

// A smooth picture that lossy coding keeps within a few levels.
QImage gradient(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / (width - 1), y * 255 / (height - 1), 128));
    return image;
}

int largestDifference(const QImage& shown, const QImage& expected)
{
    int largest = 0;
    for (int y = 0; y < expected.height(); y += 7)
        for (int x = 0; x < expected.width(); x += 7) {
            const QRgb a = shown.pixel(x, y), b = expected.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                std::abs(qBlue(a) - qBlue(b))});
        }
    return largest;
}

struct Encoding {
    const char* name;
    const char* command; // from IN (a PNG) to OUT
    int tolerance;       // levels a channel
};

class EncodedFile : public ::testing::TestWithParam<Encoding> {};

TEST_P(EncodedFile, ShowsTheSourcePixelsAndLaysTransparencyOverWhite)
{
    const Encoding& encoding = GetParam();
    const QImage source = gradient(300, 180);
    source.save(QString::fromStdString(scratch("source.png")));
    run(withFiles(encoding.command, "source.png", encoding.name));
    const Picture picture = LoadPicture(scratch(encoding.name));
    ASSERT_EQ(picture.pixelWidth(), 300);
    ASSERT_EQ(picture.pixelHeight(), 180);
    EXPECT_LE(largestDifference(picture.image(), source), encoding.tolerance);

    // Left half red at half opacity, right half clear.
    QImage clear(64, 32, QImage::Format_ARGB32);
    clear.fill(Qt::transparent);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            clear.setPixel(x, y, qRgba(255, 0, 0, 128));
    clear.save(QString::fromStdString(scratch("source.png")));
    const std::string clearName = std::string("clear-") + encoding.name;
    run(withFiles(encoding.command, "source.png", clearName));
    const QImage shown = LoadPicture(scratch(clearName)).image();
    ASSERT_EQ(shown.size(), QSize(64, 32));
    const QRgb half = shown.pixel(10, 10), none = shown.pixel(56, 20);
    EXPECT_NEAR(qRed(half), 255, encoding.tolerance + 2);
    EXPECT_NEAR(qGreen(half), 127, encoding.tolerance + 2);
    EXPECT_NEAR(qBlue(none), 255, encoding.tolerance + 2);
    EXPECT_NEAR(qGreen(none), 255, encoding.tolerance + 2);
}

INSTANTIATE_TEST_SUITE_P(DebianEncoders, EncodedFile,
    // Lossy coding is allowed its own error (up to 20 levels at the edges).
    ::testing::Values(Encoding{"lossless.jxl", "cjxl -d 0 IN OUT", 0}, Encoding{"lossy.jxl", "cjxl -d 1 IN OUT", 20},
        Encoding{"lossless.avif", "avifenc -l IN OUT", 0}, Encoding{"lossy.avif", "avifenc IN OUT", 20},
        Encoding{"photo.heic", "heif-enc -q 90 -o OUT IN", 20}),
    [](const ::testing::TestParamInfo<Encoding>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '.', '_');
        return name;
    });

// Qt's own reader of the file, laid over white.
QImage qtReaderOverWhite(const std::string& path)
{
    QImage image = QImage(QString::fromStdString(path)).convertToFormat(QImage::Format_ARGB32);
    QImage white(image.size(), QImage::Format_RGB32);
    white.fill(Qt::white);
    QPainter painter(&white);
    painter.drawImage(0, 0, image);
    return white;
}

// Uncompressed BMPs as ImageMagick writes them are read row by row by the
// program's own decoder: each is drawn as Qt's reader draws it (16-bit
// colours scaled to the full range, where Qt's reach 248), and a palette of
// greys gives a grey picture.
TEST(Bmp, EveryUncompressedKindIsDrawnAsQtsReaderDrawsIt)
{
    QImage source = gradient(301, 181).convertToFormat(QImage::Format_ARGB32);
    for (int x = 0; x < 40; ++x)
        source.setPixel(x, 5, qRgba(0, 0, 255, x * 6)); // alpha, where the file keeps it
    source.save(QString::fromStdString(scratch("source.png")));
    const struct {
        const char* name;
        const char* options;
        int tolerance;
        bool grey;
    } kinds[] = {{"rgb24.bmp", "-alpha off -type TrueColor bmp3", 0, false},
        {"alpha32.bmp", "bmp", 0, false}, {"palette8.bmp", "-alpha off -colors 200 -type Palette bmp3", 0, false},
        {"palette4.bmp", "-alpha off -colors 16 -type Palette bmp3", 0, false},
        {"mono1.bmp", "-alpha off -monochrome bmp3", 0, true},
        {"grey8.bmp", "-alpha off -colorspace Gray -type Palette bmp3", 0, true},
        {"rgb565.bmp", "-alpha off -type TrueColor -define bmp:subtype=RGB565 bmp", 8, false}};
    for (const auto& kind : kinds) {
        run(std::string("convert source.png -compress None ") + kind.options + ":" + kind.name);
        std::ifstream file(scratch(kind.name), std::ios::binary);
        std::array<char, 34> header {};
        file.read(header.data(), header.size());
        ASSERT_TRUE(header[30] == 0 || header[30] == 3) << kind.name << ": compressed, left to Qt's reader";
        const Picture picture = LoadPicture(scratch(kind.name));
        const QImage shown = picture.image(), expected = qtReaderOverWhite(scratch(kind.name));
        ASSERT_EQ(shown.size(), expected.size()) << kind.name;
        EXPECT_LE(largestDifference(shown, expected), kind.tolerance) << kind.name;
        EXPECT_LE(largestDifference(shown.copy(0, 5, 40, 1), expected.copy(0, 5, 40, 1)), kind.tolerance) << kind.name;
        EXPECT_EQ(shown.format() == QImage::Format_Grayscale8, kind.grey) << kind.name;
    }
}

TEST(Heif, AppliesWideGamutProfilesAtEightAndTenBitsAndTurnsByIrotAndImir)
{
    // Adobe RGB pixels whose sRGB value (LittleCMS, through ImageMagick) is
    // (220, 53, 57); each encoder carries the profile.
    run("convert -size 64x48 xc:'rgb(220,53,57)' -profile " + kProfiles + "/sRGB.icc -profile " + kProfiles
        + "/compatibleWithAdobeRGB1998.icc adobe.png");
    run("heif-enc -q 95 -o adobe.heic adobe.png && avifenc -d 10 adobe.png adobe10.avif && cjxl -d 0 adobe.png adobe.jxl");
    for (const std::string name : {"adobe.heic", "adobe10.avif", "adobe.jxl"}) {
        const QRgb shown = LoadPicture(scratch(name)).image().pixel(30, 20);
        EXPECT_NEAR(qRed(shown), 220, 4) << name;
        EXPECT_NEAR(qGreen(shown), 53, 4) << name;
        EXPECT_NEAR(qBlue(shown), 57, 4) << name;
    }
    // Stored 64 x 48 with the top rows white, turned a quarter anticlockwise
    // (irot 1), or mirrored top to bottom (imir 0).
    QImage marked(64, 48, QImage::Format_RGB32);
    marked.fill(Qt::black);
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 8; ++y)
            marked.setPixel(x, y, qRgb(255, 255, 255));
    marked.save(QString::fromStdString(scratch("marked.png")));
    run("avifenc -l --irot 1 marked.png turned.avif && avifenc -l --imir 0 marked.png mirrored.avif");
    const QImage turned = LoadPicture(scratch("turned.avif")).image();
    ASSERT_EQ(turned.size(), QSize(48, 64));
    EXPECT_EQ(turned.pixel(2, 32), qRgb(255, 255, 255)) << "the top rows are now the left columns";
    const QImage mirrored = LoadPicture(scratch("mirrored.avif")).image();
    EXPECT_EQ(mirrored.pixel(32, 45), qRgb(255, 255, 255)) << "the top rows are now at the bottom";
}

TEST(JpegXl, TurnsThePictureUprightAndShowsWhatACutShortFileHolds)
{
    // cjxl keeps a JPEG's orientation tag: stored 300 x 200, shown 200 x 300.
    gradient(300, 200).save(QString::fromStdString(scratch("stored.jpg")), "jpg", 95);
    run("exiftool -q -overwrite_original -Orientation=6 -n stored.jpg && cjxl stored.jpg turned.jxl");
    const Picture turned = LoadPicture(scratch("turned.jxl"));
    ASSERT_EQ(turned.pixelWidth(), 200);
    ASSERT_EQ(turned.pixelHeight(), 300);
    // Turned clockwise: the stored top-left corner (black-ish) is at the top right.
    EXPECT_LT(qRed(turned.image().pixel(199, 0)), 10);
    EXPECT_GT(qRed(turned.image().pixel(0, 299)), 240);

    // Noise, so that every group of 256 x 256 pixels takes its share of the file.
    QImage noise(600, 600, QImage::Format_RGB32);
    std::uint32_t state = 1;
    for (int y = 0; y < 600; ++y)
        for (int x = 0; x < 600; ++x)
            noise.setPixel(x, y, (state = state * 1664525u + 1013904223u) >> 8);
    noise.save(QString::fromStdString(scratch("noise.png")));
    run("cjxl -d 0 noise.png whole.jxl && head -c $(( $(stat -c %s whole.jxl) * 2 / 3 )) whole.jxl > cut.jxl");
    const QImage shown = LoadPicture(scratch("cut.jxl")).image();
    EXPECT_EQ(shown.pixel(10, 10), noise.pixel(10, 10));
    EXPECT_EQ(shown.pixel(250, 250), noise.pixel(250, 250));
    EXPECT_EQ(shown.pixel(590, 590), 0xFFFFFFFFu) << "the missing groups are white";
}

TEST(Heif, RefusesACutShortFileInOneLine)
{
    gradient(300, 200).save(QString::fromStdString(scratch("whole.png")));
    run("heif-enc -o whole.heic whole.png && head -c $(( $(stat -c %s whole.heic) / 2 )) whole.heic > cut.heic");
    EXPECT_EQ(test::kindRaisedBy([] { LoadPicture(scratch("cut.heic")); }), ErrorKind::InvalidPicture);
}

void writeText(const std::string& name, const std::string& text)
{
    std::ofstream(scratch(name)) << text;
}

TEST(Svg, IsDrawnAtItsOwnSizeFromItsOwnContentOnly)
{
    // An image that names a file on the machine is not drawn.
    QImage black(40, 40, QImage::Format_RGB32);
    black.fill(Qt::black);
    black.save(QString::fromStdString(scratch("outside.png")));
    writeText("sized.svg",
        "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' width='120' height='80'>"
        "<rect x='10' y='10' width='50' height='30' fill='#ff0000'/>"
        "<image x='70' y='10' width='40' height='40' xlink:href='"
            + scratch("outside.png") + "'/></svg>");
    const Picture sized = LoadPicture(scratch("sized.svg"));
    ASSERT_EQ(sized.pixelWidth(), 120);
    ASSERT_EQ(sized.pixelHeight(), 80);
    EXPECT_EQ(sized.image().pixel(30, 20), qRgb(255, 0, 0));
    EXPECT_EQ(sized.image().pixel(5, 5), qRgb(255, 255, 255));
    EXPECT_EQ(sized.image().pixel(90, 30), qRgb(255, 255, 255));

    // No width and height: the viewBox, a fraction rounded up; compressed too.
    writeText("boxed.svg", "<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 30.5 20'>"
                           "<rect width='30.5' height='20' fill='#0000ff'/></svg>");
    run("gzip -c boxed.svg > boxed.svgz");
    const Picture boxed = LoadPicture(scratch("boxed.svgz"));
    EXPECT_EQ(boxed.pixelWidth(), 31);
    EXPECT_EQ(boxed.pixelHeight(), 20);
    EXPECT_EQ(boxed.image().pixel(15, 10), qRgb(0, 0, 255));

    // 70 KB that would inflate to 100 MB is refused as it inflates.
    run("head -c 100000000 /dev/zero | tr '\\0' ' ' | gzip -9 > bomb.svgz");
    EXPECT_EQ(test::kindRaisedBy([] { LoadPicture(scratch("bomb.svgz")); }), ErrorKind::InvalidPicture);
}

// What Inkscape, Illustrator and the web write, each drawn as librsvg's own
// converter draws it over white: within 2 levels on average.
TEST(Svg, DrawsWhatTheDesktopDraws)
{
    const std::string open = "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' width='240' height='160'>";
    const std::pair<const char*, std::string> documents[] = {
        {"clip.svg", open + "<defs><clipPath id='c'><circle cx='120' cy='80' r='60'/></clipPath></defs>"
            "<rect width='240' height='160' fill='#c03' clip-path='url(#c)'/></svg>"},
        {"mask.svg", open + "<defs><linearGradient id='g'><stop offset='0' stop-color='white'/><stop offset='1' stop-color='black'/>"
            "</linearGradient><mask id='m'><rect width='240' height='160' fill='url(#g)'/></mask></defs>"
            "<rect width='240' height='160' fill='#06c' mask='url(#m)'/></svg>"},
        {"filter.svg", open + "<defs><filter id='b'><feGaussianBlur stdDeviation='6'/></filter>"
            "<radialGradient id='r'><stop offset='0' stop-color='#fd0'/><stop offset='1' stop-color='#309'/></radialGradient></defs>"
            "<circle cx='120' cy='80' r='50' fill='url(#r)' filter='url(#b)'/></svg>"},
        {"blend.svg", open + "<rect width='240' height='160' fill='#f60'/><g style='mix-blend-mode:overlay'>"
            "<rect x='40' y='20' width='160' height='120' fill='#3af'/><circle cx='120' cy='80' r='50' fill='#905'/></g></svg>"},
        {"css.svg", open + "<style>.a{fill:#2a6;stroke:#024;stroke-width:6} #u{opacity:.5}</style>"
            "<defs><rect id='r' class='a' width='80' height='50'/></defs><use xlink:href='#r' x='20' y='20'/>"
            "<use id='u' xlink:href='#r' x='120' y='80'/><svg x='150' y='10' width='60' height='60' viewBox='0 0 10 10'>"
            "<circle cx='5' cy='5' r='5' fill='#a0f'/></svg></svg>"},
        {"text.svg", open + "<text x='10' y='90' font-family='sans-serif' font-size='48' fill='#123'>Korvane</text></svg>"},
    };
    for (const auto& [name, text] : documents) {
        writeText(name, text);
        run(std::string("rsvg-convert -b white -o ") + name + ".png " + name);
        const QImage reference = QImage(QString::fromStdString(scratch(std::string(name) + ".png"))).convertToFormat(QImage::Format_RGB888);
        const QImage shown = LoadPicture(scratch(name)).image();
        ASSERT_EQ(shown.size(), reference.size()) << name;
        double total = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) {
                const QRgb a = shown.pixel(x, y), b = reference.pixel(x, y);
                total += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) + std::abs(qBlue(a) - qBlue(b));
            }
        EXPECT_LE(total / (3.0 * shown.width() * shown.height()), 2.0) << name;
    }
    // The blend mode is drawn: overlaid on orange, the blue rectangle keeps
    // the orange's lack of blue (painted plainly it would be #3af).
    const QImage blend = LoadPicture(scratch("blend.svg")).image();
    EXPECT_LT(qBlue(blend.pixel(50, 30)), 40);
}

// The reference: LittleCMS's own converter, relative colorimetric (its
// default), to sRGB, written losslessly enough at quality 100.
QImage littleCmsReference(const std::string& name)
{
    run("jpgicc -t1 -q100 " + name + " reference-" + name);
    return QImage(QString::fromStdString(scratch("reference-" + name)));
}

TEST(Colour, CmykAndGreyProfilesMatchLittleCms)
{
    const std::string cmyk = kProfiles + "/ghostscript/default_cmyk.icc";
    run("convert -size 64x64 xc:'rgb(220,53,57)' -profile " + kProfiles + "/sRGB.icc -profile " + cmyk + " cmyk.jpg");
    run("convert -size 64x64 gradient:white-black -colorspace Gray -profile " + kProfiles + "/Gray-CIE_L.icc lstar.jpg");
    run("convert -size 64x64 gradient:white-black -colorspace Gray -profile " + kProfiles + "/Gray.icc linear.jpg");
    for (const std::string name : {"cmyk.jpg", "lstar.jpg", "linear.jpg"}) {
        const QImage reference = littleCmsReference(name);
        ASSERT_FALSE(reference.isNull()) << name;
        const QImage shown = LoadPicture(scratch(name)).image();
        EXPECT_LE(largestDifference(shown, reference), 2) << name;
    }
    // Without the profile the ink values would be taken as they are.
    EXPECT_NEAR(qGreen(LoadPicture(scratch("cmyk.jpg")).image().pixel(5, 5)), 53, 3);
}

TEST(Colour, AnInterlacedPngWithGammaAndChromaticitiesMatchesTheSamePictureNotInterlaced)
{
    gradient(200, 120).save(QString::fromStdString(scratch("plain.png")));
    // ImageMagick writes gAMA and cHRM by default.
    run("convert plain.png -interlace none flat.png && convert plain.png -interlace PNG interlaced.png");
    const QImage flat = LoadPicture(scratch("flat.png")).image();
    const QImage interlaced = LoadPicture(scratch("interlaced.png")).image();
    EXPECT_EQ(largestDifference(interlaced, flat), 0);
    EXPECT_EQ(largestDifference(flat, gradient(200, 120)), 0);
}

// A JP2 file with its colour box replaced by one holding an ICC profile
// (OpenJPEG's own encoder writes none).
std::string withIccProfile(const std::string& jp2, const std::string& icc)
{
    const std::size_t header = jp2.find("jp2h") - 4, colour = jp2.find("colr") - 4;
    const auto length = [&](std::size_t at) {
        return std::size_t(static_cast<unsigned char>(jp2[at]) << 24 | static_cast<unsigned char>(jp2[at + 1]) << 16
            | static_cast<unsigned char>(jp2[at + 2]) << 8 | static_cast<unsigned char>(jp2[at + 3]));
    };
    const auto box = [](const std::string& type, const std::string& body) {
        const std::size_t n = body.size() + 8;
        return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + type + body;
    };
    const std::string before = jp2.substr(header + 8, colour - header - 8);
    const std::string after = jp2.substr(colour + length(colour), header + length(header) - colour - length(colour));
    const std::string colr = box("colr", std::string{2, 0, 0} + icc);
    return jp2.substr(0, header) + box("jp2h", before + colr + after) + jp2.substr(header + length(header));
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Every shape OpenJPEG's encoder writes, against OpenJPEG's own decoder
// (which applies an embedded profile itself): within 2 levels.
TEST(Jpeg2000, MatchesOpenJpegsOwnDecoderInEveryShape)
{
    QImage photo = gradient(300, 180);
    for (int y = 0; y < 180; y += 3) // an edge for the wavelets
        for (int x = 140; x < 160; ++x)
            photo.setPixel(x, y, qRgb(20, 200, 40));
    photo.save(QString::fromStdString(scratch("photo.png")));
    photo.convertToFormat(QImage::Format_Grayscale8).save(QString::fromStdString(scratch("grey.png")));
    photo.convertToFormat(QImage::Format_RGBX64).save(QString::fromStdString(scratch("deep.png")));
    QImage clear = photo.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 300; ++x)
            clear.setPixel(x, y, qRgba(qRed(clear.pixel(x, y)), 0, 0, x * 255 / 299));
    clear.save(QString::fromStdString(scratch("clear.png")));
    run("opj_compress -i photo.png -o lossless.jp2 && opj_compress -i photo.png -o lossy.j2k -r 20"
        " && opj_compress -i photo.png -o tiled.jp2 -t 64,64 && opj_compress -i deep.png -o deep.jp2"
        " && opj_compress -i grey.png -o grey.jp2 -r 10 && opj_compress -i clear.png -o clear.jp2");
    test::writeBytes("profiled.jp2", withIccProfile(readFile(scratch("lossless.jp2")),
        readFile(kProfiles + "/compatibleWithAdobeRGB1998.icc")));
    for (const std::string name : {"lossless.jp2", "lossy.j2k", "tiled.jp2", "deep.jp2", "grey.jp2", "clear.jp2", "profiled.jp2"}) {
        run("opj_decompress -i " + name + " -o " + name + ".png");
        const QImage reference = LoadPicture(scratch(name + ".png")).image();
        const QImage shown = LoadPicture(scratch(name)).image();
        ASSERT_EQ(shown.size(), QSize(300, 180)) << name;
        EXPECT_LE(largestDifference(shown, reference), 2) << name;
    }
    // The profile made a difference: the green bars are less saturated.
    EXPECT_GT(std::abs(qRed(LoadPicture(scratch("profiled.jp2")).image().pixel(150, 0)) - 20), 10);
}

} // namespace
} // namespace korvane
