// Valid files as other programs write them (ImageMagick, libjpeg-turbo's
// and libtiff's tools, gifsicle, pngcrush, libwebp's, libheif's, libavif's
// and libjxl's encoders, icoutils): each is shown by the real program, with
// the right colour in each quadrant of the overview and at the detail
// view's top-left, read off the screen.
#include "bad_files.h"
#include "support.h"

#include <gtest/gtest.h>

#include <QImage>

#include <array>

#include "program_run.h" // Xlib last

namespace korvane {
namespace {

using namespace test;

// What the encoder is given: four flat quadrants.
enum class Source {
    Colour, // red, green, blue and yellow, 320 x 240
    Grey,   // four greys, 320 x 240
    Mono,   // black and white, 320 x 240
    Alpha,  // Colour with the bottom-right quadrant transparent
    Icon,   // Colour, 64 x 64
};

using Quadrants = std::array<QRgb, 4>; // top-left, top-right, bottom-left, bottom-right

Quadrants coloursOf(Source source)
{
    switch (source) {
    case Source::Grey:
        return {qRgb(40, 40, 40), qRgb(110, 110, 110), qRgb(170, 170, 170), qRgb(230, 230, 230)};
    case Source::Mono:
        return {qRgb(0, 0, 0), qRgb(255, 255, 255), qRgb(255, 255, 255), qRgb(0, 0, 0)};
    case Source::Alpha:
        return {qRgb(200, 40, 40), qRgb(40, 170, 60), qRgb(40, 60, 200), qRgba(230, 210, 50, 0)};
    case Source::Colour:
    case Source::Icon:
        break;
    }
    return {qRgb(200, 40, 40), qRgb(40, 170, 60), qRgb(40, 60, 200), qRgb(230, 210, 50)};
}

QImage sourceImage(Source source)
{
    const QSize size = source == Source::Icon ? QSize(64, 64) : QSize(320, 240);
    const Quadrants colours = coloursOf(source);
    QImage image(size, QImage::Format_ARGB32);
    const int halfWidth = size.width() / 2, halfHeight = size.height() / 2;
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, colours[std::size_t((y >= halfHeight ? 2 : 0) + (x >= halfWidth ? 1 : 0))]);
    return source == Source::Alpha ? image : image.convertToFormat(QImage::Format_RGB32);
}

// Transparent pixels are shown over white.
Quadrants shownColours(Source source)
{
    Quadrants colours = coloursOf(source);
    for (QRgb& colour : colours)
        if (qAlpha(colour) == 0)
            colour = qRgb(255, 255, 255);
    return colours;
}

constexpr QRgb kWhite = 0xFFFFFFFF;

struct ValidCase {
    std::string name;
    Source source;
    // Run in a scratch directory holding in.png; writes `out`.
    std::string command;
    int tolerance = 4;
    std::optional<Quadrants> shown = std::nullopt; // else the source's colours
    std::optional<QRgb> detailTopLeft = std::nullopt; // else the top-left quadrant's
};

// ImageMagick with its output named for the format it writes.
std::string magick(const std::string& options, const std::string& format)
{
    return "convert in.png " + options + " " + format + ":out";
}

constexpr int kLossy = 24;

// The quadrants as Inkscape would write them: classes of a style sheet,
// a symbol used four times, a clip path and a group's transform.
const std::string kQuadrantsSvg = "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' "
    "width='320' height='240'><style>.r{fill:#c82828}.g{fill:#28aa3c}.b{fill:#283cc8}.y{fill:#e6d232}</style>"
    "<defs><clipPath id='c'><rect width='320' height='240'/></clipPath><rect id='q' width='160' height='120'/></defs>"
    "<g clip-path='url(#c)'><use xlink:href='#q' class='r'/><use xlink:href='#q' class='g' x='160'/>"
    "<g transform='translate(0 120)'><use xlink:href='#q' class='b'/><use xlink:href='#q' class='y' x='160'/></g></g></svg>";

std::vector<ValidCase> validFiles()
{
    const std::string ppm = "convert in.png in.ppm && ";
    const std::string pgm = "convert in.png -colorspace Gray in.pgm && ";
    const std::string tiff = "convert in.png -type TrueColor -compress none in.tif && ";
    const std::string twoPages = "convert in.png -flip -flop page2.png && convert in.png page2.png -type TrueColor ";
    const std::string rightHalf = "convert in.png -crop 160x240+160+0 +repage half.gif && ";
    const std::string secondFrame = "convert -size 320x240 xc:black second.gif && convert in.png first.gif && ";
    const std::string iconSizes = "for s in 16 32 48 256; do convert in.png -resize ${s}x${s} s$s.png; done && ";
    return {
        {"CjpegBaseline", Source::Colour, ppm + "cjpeg -quality 90 -outfile out in.ppm", kLossy},
        {"CjpegProgressive", Source::Colour, ppm + "cjpeg -progressive -outfile out in.ppm", kLossy},
        {"CjpegArithmetic", Source::Colour, ppm + "cjpeg -arithmetic -outfile out in.ppm", kLossy},
        {"CjpegFullChroma", Source::Colour, ppm + "cjpeg -sample 1x1 -quality 95 -outfile out in.ppm", kLossy},
        {"CjpegRestartEveryRow", Source::Colour, ppm + "cjpeg -restart 1 -outfile out in.ppm", kLossy},
        {"CjpegGrey", Source::Grey, pgm + "cjpeg -grayscale -outfile out in.pgm", kLossy},
        {"JpegCmyk", Source::Colour, magick("-colorspace CMYK -quality 95", "jpg"), 40},
        {"JpegStoredTurnedWithExifOrientation", Source::Colour,
            "convert in.png -rotate 90 out.jpg && exiftool -q -overwrite_original -Orientation=8 -n out.jpg && mv out.jpg out", kLossy},
        {"Png16Bit", Source::Colour, magick("-depth 16", "png48")},
        {"PngPalette", Source::Colour, magick("", "png8")},
        {"PngGrey", Source::Grey, magick("-type Grayscale", "png")},
        {"PngRgbaOpaque", Source::Colour, magick("", "png32")},
        {"PngWithAlpha", Source::Alpha, magick("", "png32")},
        {"PngInterlaced", Source::Colour, magick("-interlace PNG", "png")},
        {"PngCrushed", Source::Colour, "pngcrush -q -brute in.png out"},
        {"TiffStrips", Source::Colour, magick("-type TrueColor -compress none", "tiff")},
        {"TiffLzw", Source::Colour, magick("-type TrueColor -compress lzw", "tiff")},
        {"TiffTiled", Source::Colour, tiff + "tiffcp -t -w 64 -l 64 in.tif out"},
        {"TiffPlanar", Source::Colour, tiff + "tiffcp -p separate in.tif out"},
        {"TiffDeflatePredictor", Source::Colour, tiff + "tiffcp -c zip:2 in.tif out"},
        {"TiffJpeg", Source::Colour, tiff + "tiffcp -c jpeg -r 16 in.tif out", kLossy},
        {"Tiff16Bit", Source::Colour, magick("-type TrueColor -depth 16 -compress zip", "tiff")},
        {"TiffCmyk", Source::Colour, magick("-colorspace CMYK", "tiff"), 40},
        {"TiffGrey", Source::Grey, magick("-type Grayscale", "tiff")},
        {"TiffTwoPages", Source::Colour, twoPages + "-compress lzw tiff:out"},
        {"TiffWithAReducedPage", Source::Colour, "convert in.png \\( in.png -resize 50% \\) -type TrueColor -compress zip tiff:out"},
        {"TiffSecondPageCutShort", Source::Colour,
            twoPages + "-compress none tiff:whole && head -c $(( $(stat -c %s whole) - 100000 )) whole > out"},
        {"TiffSecondPageDirectoryCut", Source::Colour,
            twoPages + "-compress none tiff:whole && head -c $(( $(stat -c %s whole) - 20 )) whole > out"},
        {"WebpLossy", Source::Colour, "cwebp -quiet -q 90 in.png -o out", kLossy},
        {"WebpLossless", Source::Colour, "cwebp -quiet -lossless in.png -o out"},
        {"WebpWithAlpha", Source::Alpha, "cwebp -quiet -lossless -exact in.png -o out"},
        {"WebpAnimated", Source::Colour,
            "convert -size 320x240 xc:black second.png && img2webp -lossless in.png second.png -o out"},
        {"Gif", Source::Colour, magick("", "gif")},
        {"GifInterlaced", Source::Colour, magick("-interlace GIF", "gif")},
        {"GifWithTransparency", Source::Alpha, magick("", "gif")},
        {"GifAnimated", Source::Colour, secondFrame + "gifsicle --delay 10 --loop first.gif second.gif > out"},
        // Gigapixels of screen for one small frame.
        {"GifWith25000SquareScreenAndASmallFrame", Source::Icon,
            "convert in.png small.gif && gifsicle --logical-screen 25000x25000 small.gif > out", 4,
            Quadrants{kWhite, kWhite, kWhite, kWhite}, qRgb(200, 40, 40)},
        {"GifFrameSmallerThanItsScreen", Source::Colour,
            rightHalf + "gifsicle --logical-screen 320x240 --position 160,0 half.gif > out", 4,
            Quadrants{kWhite, qRgb(40, 170, 60), kWhite, qRgb(230, 210, 50)}},
        {"Bmp24Bit", Source::Colour, magick("-type TrueColor", "bmp3")},
        {"Bmp32BitWithAlpha", Source::Alpha, magick("", "bmp")},
        {"Bmp8BitPalette", Source::Colour, magick("-colors 256 -type Palette", "bmp3")},
        {"Bmp4BitPalette", Source::Colour, magick("-colors 16 -type Palette", "bmp3")},
        {"Bmp1Bit", Source::Mono, magick("-monochrome", "bmp3")},
        {"BmpRle8", Source::Colour, magick("-colors 256 -type Palette -compress RLE", "bmp3")},
        {"Bmp16Bit", Source::Colour, magick("-type TrueColor -define bmp:subtype=RGB565", "bmp"), 16},
        // ImageMagick 6 writes its rows top first behind a bottom-left
        // origin: every reader that follows the origin (gdk-pixbuf's, as
        // the desktop's viewers) shows the picture upside down.
        {"TgaBottomLeftOrigin", Source::Colour, magick("-type TrueColor", "tga"), 4,
            Quadrants{qRgb(40, 60, 200), qRgb(230, 210, 50), qRgb(200, 40, 40), qRgb(40, 170, 60)}},
        {"TgaTopLeftOrigin", Source::Colour, magick("-type TrueColor -orient TopLeft", "tga")},
        {"TgaColourMappedWithRuns", Source::Colour, magick("-compress RLE -orient TopLeft", "tga")},
        {"IcoWithPngAndBmpEntries", Source::Icon, magick("-define icon:auto-resize=256,48,32,16", "ico")},
        {"IcoWithBmpEntries", Source::Icon, magick("-define icon:auto-resize=48,32,16", "ico")},
        {"IcoByIcotool", Source::Icon, iconSizes + "icotool -c -o out s16.png s32.png s48.png -r s256.png"},
        {"Heic", Source::Colour, "heif-enc -q 90 -o out.heic in.png && mv out.heic out", kLossy},
        {"Avif", Source::Colour, "avifenc --min 10 --max 20 in.png out.avif && mv out.avif out", kLossy},
        {"JxlLossy", Source::Colour, "cjxl -d 1 in.png out.jxl && mv out.jxl out", kLossy},
        {"JxlLossless", Source::Colour, "cjxl -d 0 in.png out.jxl && mv out.jxl out"},
        {"Jp2Lossless", Source::Colour, "opj_compress -i in.png -o out.jp2 && mv out.jp2 out"},
        {"Jp2TiledInLayers", Source::Colour, "opj_compress -i in.png -o out.jp2 -t 64,64 -r 40,10,1 && mv out.jp2 out", kLossy},
        {"J2kLossyCodestream", Source::Colour, "opj_compress -i in.png -o out.j2k -r 20 && mv out.j2k out", kLossy},
        {"Jp2Grey", Source::Grey, "convert in.png -channel R -separate grey.pgm && opj_compress -i grey.pgm -o out.jp2 && mv out.jp2 out"},
        {"Jp2WithAlpha", Source::Alpha, "opj_compress -i in.png -o out.jp2 && mv out.jp2 out"},
        {"SvgWithCssUseAndClipPath", Source::Colour, "printf '%s' \"" + kQuadrantsSvg + "\" > out"},
        {"SvgzWithCssUseAndClipPath", Source::Colour, "printf '%s' \"" + kQuadrantsSvg + "\" | gzip > out"},
        {"Ppm", Source::Colour, magick("", "ppm")},
        {"Pgm", Source::Grey, magick("", "pgm")},
    };
}

// Each file is named as its writer would name it: a TGA has no signature
// but its suffix.
std::string suffixFor(const std::string& name)
{
    static const std::pair<const char*, const char*> kSuffixes[] = {{"Cjpeg", "jpg"}, {"Jpeg", "jpg"}, {"Png", "png"},
        {"Tiff", "tif"}, {"Webp", "webp"}, {"Gif", "gif"}, {"Bmp", "bmp"}, {"Tga", "tga"}, {"Ico", "ico"},
        {"Heic", "heic"}, {"Avif", "avif"}, {"Jxl", "jxl"}, {"Jp2", "jp2"}, {"J2k", "j2k"}, {"Svgz", "svgz"}, {"Svg", "svg"}, {"Ppm", "ppm"}, {"Pgm", "pgm"}};
    for (const auto& [prefix, suffix] : kSuffixes)
        if (name.starts_with(prefix))
            return suffix;
    return "bin";
}

bool near(QRgb seen, QRgb expected, int tolerance)
{
    return std::abs(qRed(seen) - qRed(expected)) <= tolerance && std::abs(qGreen(seen) - qGreen(expected)) <= tolerance
        && std::abs(qBlue(seen) - qBlue(expected)) <= tolerance;
}

class ValidFile : public ::testing::TestWithParam<ValidCase> {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(s_session.start("1920x1080x24")) << "no X server"; }
    static void TearDownTestSuite() { s_session.stop(); }

    // Where each quadrant's centre lies in the overview (800 wide, or 600
    // high when the picture is not wider than high), and the detail view's
    // top-left beside it.
    static std::vector<QPoint> probes(Source source)
    {
        const QSize overview = source == Source::Icon ? QSize(600, 600) : QSize(800, 600);
        const int w = overview.width(), h = overview.height();
        return {{w / 4, h / 4}, {3 * w / 4, h / 4}, {w / 4, 3 * h / 4}, {3 * w / 4, 3 * h / 4}, {w + 3, 3}};
    }

    // Starts the program on the case's file, behind `prefix` (a limit),
    // until every probe shows its colour.
    static Outcome show(const ValidCase& c, const std::vector<std::string>& prefix = {})
    {
        const std::string path = writeBytes(c.name + "." + suffixFor(c.name), encodeWithTool(sourceImage(c.source), c.command));
        const Quadrants expected = c.shown.value_or(shownColours(c.source));
        const std::vector<QPoint> points = probes(c.source);
        const auto rightColours = [&] {
            if (!s_session.viewableWindowTitled("KORVANE"))
                return false;
            for (std::size_t i = 0; i < points.size(); ++i) {
                const QRgb wanted = i < 4 ? expected[i] : c.detailTopLeft.value_or(expected[0]);
                if (!near(s_session.pixel(points[i].x(), points[i].y()), wanted, c.tolerance))
                    return false;
            }
            return true;
        };
        std::vector<std::string> command = prefix;
        command.insert(command.end(), {KORVANE_BINARY, path});
        Outcome outcome = runUntilDecided(s_session, command, [&] {
            const bool right = rightColours();
            if (!right && s_session.viewableWindowTitled("KORVANE"))
                s_lastSeen = seenAt(points);
            return right;
        });
        if (!outcome.shown && outcome.error.empty())
            outcome.error = "shown as" + s_lastSeen;
        return outcome;
    }

    static std::string seenAt(const std::vector<QPoint>& points)
    {
        std::string seen;
        for (const QPoint p : points) {
            const QRgb c = s_session.pixel(p.x(), p.y());
            seen += " (" + std::to_string(qRed(c)) + "," + std::to_string(qGreen(c)) + "," + std::to_string(qBlue(c)) + ")";
        }
        return seen;
    }

    static inline XSession s_session;
    static inline std::string s_lastSeen;
};

void PrintTo(const ValidCase& c, std::ostream* out) { *out << c.name; }

TEST_P(ValidFile, IsShownWithTheRightColoursWithinFiveSeconds)
{
    const Outcome outcome = show(GetParam());
    RecordProperty("seconds", std::to_string(outcome.seconds));
    EXPECT_TRUE(outcome.shown) << outcome.error;
    EXPECT_EQ(outcome.status, 0) << "closed by SIGTERM with status " << outcome.status;
}

INSTANTIATE_TEST_SUITE_P(FromOtherEncoders, ValidFile, ::testing::ValuesIn(validFiles()),
    [](const ::testing::TestParamInfo<ValidCase>& info) { return info.param.name; });

const ValidCase& caseNamed(const std::string& name)
{
    static const std::vector<ValidCase> cases = validFiles();
    return *std::find_if(cases.begin(), cases.end(), [&](const ValidCase& c) { return c.name == name; });
}

// Under a 4 GiB address-space limit, as on a small machine: the shapes that
// were refused are shown there too.
TEST_F(ValidFile, IsShownUnderAFourGibibyteAddressSpaceLimit)
{
    if (!kMeasuringMemory)
        GTEST_SKIP() << "the sanitizers reserve more address space than the limit allows";
    for (const char* name : {"GifWith25000SquareScreenAndASmallFrame", "IcoWithPngAndBmpEntries", "TiffSecondPageCutShort"}) {
        const Outcome outcome = show(caseNamed(name), {"prlimit", "--as=" + std::to_string(4LL << 30)});
        EXPECT_TRUE(outcome.shown) << name << ": " << outcome.error;
    }
}

// What a refusal for size says a picture needs, scaled to a picture that
// does load, is what that picture really takes beside a tiny one of the
// same format (within 1.5x): a claim much larger would refuse files that fit.
struct SizeCase {
    std::string name, tiny, loadable; // shell commands writing `out`
    std::function<std::string()> claim; // a file claiming `claimedSide` a side
    int claimedSide = 40000;
};

// The claims are refused under a 1 GiB data limit.
constexpr int kLoadableSide = 4000, kClaimedSide = 40000, kLargestQtBmpSide = 16384;

std::string madeBy(const std::string& command)
{
    return encodeWithTool(QImage(1, 1, QImage::Format_RGB32), command);
}

void setBigEndian32(std::string& bytes, std::size_t at, unsigned value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + std::size_t(i)] = char(value >> (24 - 8 * i));
}

unsigned littleEndian(const std::string& bytes, std::size_t at, int count)
{
    unsigned value = 0;
    for (int i = count - 1; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
    return value;
}

// A one-strip compressed TIFF (which cannot be read in parts) whose width,
// height and rows per strip are claimed as LONGs, with data enough for any
// compression's bound.
std::string tiffClaiming(std::string tiff, unsigned side)
{
    const std::size_t directory = littleEndian(tiff, 4, 4);
    for (unsigned i = 0, entries = littleEndian(tiff, directory, 2); i < entries; ++i) {
        const std::size_t entry = directory + 2 + 12 * i;
        const unsigned tag = littleEndian(tiff, entry, 2);
        if (tag == 256 || tag == 257 || tag == 278)
            tiff.replace(entry + 2, 10, std::string{4, 0, 1, 0, 0, 0} + std::string{char(side), char(side >> 8), char(side >> 16), 0});
    }
    return tiff + std::string(400000, '\0');
}

// A GIF whose first frame claims the whole of its `side` x `side` screen
// (a small frame on a large screen is shown, not refused).
std::string gifFrameClaiming(std::string gif, unsigned side)
{
    const unsigned flags = static_cast<unsigned char>(gif[10]);
    std::size_t at = 13 + ((flags & 0x80) ? 3u << ((flags & 7) + 1) : 0);
    while (at < gif.size() && gif[at] == '!') { // extensions: label, then sub-blocks
        at += 2;
        while (at < gif.size() && gif[at] != 0)
            at += 1 + static_cast<unsigned char>(gif[at]);
        ++at;
    }
    if (at + 9 <= gif.size() && gif[at] == ',')
        gif.replace(at + 5, 4, std::string{char(side), char(side >> 8), char(side), char(side >> 8)});
    return gif;
}

std::vector<SizeCase> sizeCases()
{
    const std::string side = std::to_string(kLoadableSide), claimed = std::to_string(kClaimedSide);
    const auto flat = [](const std::string& size) { return "convert -size " + size + " xc:'rgb(200,40,40)' -type TrueColor -depth 8 "; };
    const std::string tinyFlat = flat("16x16"), loadableFlat = flat(side + "x" + side);
    const std::string iconPng = " && icotool -c -o out -r in.png";
    return {
        {"gif", tinyFlat + "gif:out", loadableFlat + "gif:out",
            [=] {
                return gifFrameClaiming(
                    madeBy(tinyFlat + "gif:in.gif && gifsicle --logical-screen " + claimed + "x" + claimed + " in.gif > out"),
                    kClaimedSide);
            }},
        {"bmp", "", "", [] { return rle8BmpEndingEarly(kLargestQtBmpSide, kLargestQtBmpSide); }, kLargestQtBmpSide},
        {"ico", tinyFlat + "png24:in.png" + iconPng, loadableFlat + "png24:in.png" + iconPng, [=] {
             std::string icon = madeBy(tinyFlat + "png24:in.png" + iconPng);
             const std::size_t png = littleEndian(icon, 18, 4); // the first entry's offset
             setBigEndian32(icon, png + 16, kClaimedSide);
             setBigEndian32(icon, png + 20, kClaimedSide);
             return icon;
         }},
        {"tif", tinyFlat + "-compress none tiff:out", loadableFlat + "-compress zip tiff:out",
            [=] { return tiffClaiming(madeBy(tinyFlat + "-compress zip tiff:out"), kClaimedSide); }},
    };
}

// The file of a case: a BMP (run-length, white) from the test's own writer.
std::string sizeCaseFile(const SizeCase& c, const std::string& command, int bmpSide, const std::string& role)
{
    return writeBytes(role + "." + c.name, c.name == "bmp" ? rle8BmpEndingEarly(bmpSide, bmpSide) : madeBy(command));
}

TEST_F(ValidFile, SizeRefusalsNameWhatAPictureOfThatSizeReallyTakes)
{
    if (!kMeasuringMemory)
        GTEST_SKIP() << "the sanitizer's own memory would count";
    const auto windowShown = [] { return s_session.viewableWindowTitled("KORVANE") != 0; };
    for (const SizeCase& c : sizeCases()) {
        SCOPED_TRACE(c.name);
        const std::string tinyFile = sizeCaseFile(c, c.tiny, 16, "tiny"), loadableFile = sizeCaseFile(c, c.loadable, kLoadableSide, "loadable");
        const Outcome tiny = runUntilDecided(s_session, {KORVANE_BINARY, tinyFile}, windowShown);
        const Outcome loaded = runUntilDecided(s_session, {KORVANE_BINARY, loadableFile}, windowShown);
        const Outcome refused = runUntilDecided(s_session,
            {"prlimit", "--data=" + std::to_string(1LL << 30), KORVANE_BINARY, writeBytes("claim." + c.name, c.claim())}, windowShown);
        ASSERT_TRUE(tiny.shown && loaded.shown) << tiny.error << loaded.error;
        const std::size_t need = refused.error.find("need ");
        ASSERT_NE(need, std::string::npos) << refused.error;
        const double claimedMegabytes = std::stod(refused.error.substr(need + 5));
        const double scale = double(kLoadableSide) * kLoadableSide / (double(c.claimedSide) * c.claimedSide);
        const double predicted = claimedMegabytes * scale, real = double(loaded.peakKilobytes - tiny.peakKilobytes) / 1024;
        RecordProperty(c.name + "_predicted_mb", std::to_string(predicted));
        RecordProperty(c.name + "_real_mb", std::to_string(real));
        EXPECT_LE(predicted, 1.5 * real) << "claimed " << predicted << " MB, took " << real << " MB";
        EXPECT_LE(real, 1.5 * predicted) << "claimed " << predicted << " MB, took " << real << " MB";
    }
}

// An SVG that names files beside it in every way SVG and XML allow: the
// program, traced by strace until the picture is on the screen, opens none
// of them.
TEST_F(ValidFile, OpensNothingAnSvgNamesOutsideItself)
{
    const std::string dir = tempDir();
    const char* const outside[] = {"outside.png", "other.svg", "style.css", "entity.txt", "included.xml", "filtered.png"};
    for (const char* name : outside)
        writeBytes(name, "x");
    const std::string svg = writeBytes("names.svg",
        "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink'"
        " xmlns:xi='http://www.w3.org/2001/XInclude' width='64' height='64'>"
        "<style>@import url(style.css);</style><rect width='64' height='64' fill='#c83c1e'/>"
        "<image href='outside.png' width='8' height='8'/><image xlink:href='" + dir + "/outside.png' width='8' height='8'/>"
        "<use xlink:href='other.svg#x'/><xi:include href='included.xml'/>"
        "<filter id='f'><feImage href='filtered.png'/></filter><rect width='4' height='4' filter='url(#f)'/></svg>");
    const std::string trace = dir + "/trace.txt";
    const Outcome outcome = runUntilDecided(s_session,
        {"strace", "-f", "-qq", "--seccomp-bpf", "-e", "trace=open,openat,openat2", "-o", trace, KORVANE_BINARY, svg}, [] {
            return s_session.viewableWindowTitled("KORVANE") && near(s_session.pixel(300, 300), qRgb(200, 60, 30), 4);
        });
    ASSERT_TRUE(outcome.shown) << outcome.error;
    const std::string opened = readAll(trace);
    ASSERT_NE(opened.find("korvane-svg.so"), std::string::npos) << "not traced";
    for (const char* name : outside)
        EXPECT_EQ(opened.find(name), std::string::npos) << name << " was opened";
    // An external entity is not loaded either: the document that needs it
    // is refused.
    const std::string entity = writeBytes("entity.svg",
        "<?xml version='1.0'?><!DOCTYPE svg [<!ENTITY e SYSTEM 'file://" + dir + "/entity.txt'>]>"
        "<svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'><text>&e;</text></svg>");
    const Outcome refused = runUntilDecided(s_session,
        {"strace", "-f", "-qq", "--seccomp-bpf", "-e", "trace=open,openat,openat2", "-o", trace, KORVANE_BINARY, entity}, [] { return false; });
    EXPECT_NE(refused.error.find("not a valid SVG document"), std::string::npos) << refused.error;
    EXPECT_EQ(readAll(trace).find("entity.txt"), std::string::npos);
}

} // namespace
} // namespace korvane
