// The real program pointed at bad and unusual files: each one is either
// shown or refused with one clear line and status 1, within 5 seconds, and
// a refused file never costs much memory.
#include "bad_files.h"
#include "support.h"

#include <gtest/gtest.h>

#include <QImage>

#include <chrono>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>

#include "program_run.h" // Xlib last

namespace korvane {
namespace {

using namespace std::chrono_literals;
using namespace test;

struct Case {
    std::string name;
    std::function<std::string()> makePath;
    std::string refusedFor; // empty: the picture is shown
};

std::string file(const std::string& name, const std::string& bytes) { return writeBytes(name, bytes); }

std::vector<Case> corpus()
{
    const QImage corner = cornerPicture(1200, 800);
    const std::string jpeg = encode(corner, "jpg", 90), png = encode(corner, "png");
    const std::string smallPng = encode(cornerPicture(16, 16), "png");
    return {
        {"ZeroBytes", [] { return file("zero.jpg", ""); }, "is empty"},
        {"RandomBytes", [] { return file("random.jpg", randomBytes(4096, 1)); }, "not an image"},
        {"TextNamedJpg", [] { return file("text.jpg", "not a picture\n"); }, "not an image"},
        {"JpegCutInItsHeader", [=] { return file("cut-header.jpg", jpeg.substr(0, 120)); }, "cannot be decoded"},
        {"JpegCutAtAQuarter", [=] { return file("cut25.jpg", cut(jpeg, 0.25)); }, ""},
        {"JpegCutAtHalf", [=] { return file("cut50.jpg", cut(jpeg, 0.5)); }, ""},
        {"JpegCutNearTheEnd", [=] { return file("cut95.jpg", cut(jpeg, 0.95)); }, ""},
        {"PngCutInItsHeader", [=] { return file("cut-header.png", png.substr(0, 20)); }, "cannot be decoded"},
        {"PngCutBeforeItsPixels", [=] { return file("cut-ihdr.png", png.substr(0, 40)); }, "cannot be decoded"},
        {"PngCutAtHalf", [=] { return file("cut50.png", cut(png, 0.5)); }, ""},
        {"PngCutNearTheEnd", [=] { return file("cut95.png", cut(png, 0.95)); }, ""},
        // The checksum is read after the rows it covers: they are shown.
        {"PngWithABadChecksum", [=] { return file("crc.png", withBadPngChecksum(smallPng)); }, ""},
        {"PngWithABadHeaderChecksum", [=] {
             std::string bytes = smallPng;
             bytes[29] ^= 1; // the header chunk's checksum
             return file("crc-ihdr.png", bytes);
         }, "CRC error"},
        {"JpegClaiming65500Square", [=] { return file("huge.jpg", withJpegSize(jpeg, 65500, 65500)); }, "claims 65500 x 65500"},
        {"PngClaiming100000Square", [=] { return file("huge.png", withPngHeader(smallPng, 100000, 100000, 8, 2)); }, "too large"},
        {"PngClaimingATerabyte", [=] { return file("tera.png", withPngHeader(smallPng, 500000, 500000, 16, 6)); }, "too large"},
        {"PngClaimingMoreThanItHolds", [=] { return file("claims.png", withPngHeader(smallPng, 40000, 40000, 8, 0)); }, "claims 40000 x 40000"},
        // A few bytes whose header asks for exabytes, or for one row larger
        // than memory: refused before anything is allocated for them.
        {"TinyPngClaiming2147483647Square", [] { return file("int-max.png", withPngHeader(encode(cornerPicture(1, 1), "png"), 2147483647, 2147483647, 8, 2)); }, "too large"},
        {"TinyPngClaiming50000000By1000", [] { return file("wide.png", withPngHeader(encode(cornerPicture(1, 1), "png"), 50000000, 1000, 8, 2)); }, "too large"},
        {"IcoHoldingAPngClaiming65500Square", [=] { return file("nested.ico", icoHolding(withPngHeader(smallPng, 65500, 65500, 8, 6))); }, "65500 x 65500"},
        {"TiffWithItsDirectoryPastTheEnd", [] {
             std::string tiff = twoPageTiff();
             tiff[5] = '\x7F'; // the first directory's offset
             return file("directory.tiff", tiff);
         }, "cannot be decoded"},
        // Few bytes for a large area, which the formats allow: shown.
        {"GifWithAn8000SquareScreenAndASmallFrame", [] { return file("screen.gif", gifWithSmallFrame(8000)); }, ""},
        {"Rle8BmpOf9000SquareEndingEarly", [] { return file("eob.bmp", rle8BmpEndingEarly(9000, 9000)); }, ""},
        {"FlatLosslessWebpOf8000Square", [] {
             QImage flat(8000, 8000, QImage::Format_RGB32);
             flat.fill(kCornerColour);
             return file("flat.webp", encode(flat, "webp", 100));
         }, ""},
        {"Jp2CutAtHalf", [] { return file("cut50.jp2", cut(encodeWithTool(cornerPicture(640, 480), "opj_compress -i in.png -o out.jp2 -t 64,64 && mv out.jp2 out"), 0.5)); }, ""},
        {"J2kCutInItsHeader", [] { return file("cut-header.j2k", encodeWithTool(cornerPicture(64, 48), "opj_compress -i in.png -o out.j2k && mv out.j2k out").substr(0, 30)); }, "cannot be decoded"},
        {"J2kClaimingFourGigapixels", [] { return file("huge.j2k", withJ2kSize(encodeWithTool(cornerPicture(64, 48), "opj_compress -i in.png -o out.j2k && mv out.j2k out"), 65536, 65536, 65536, 65536)); }, "cannot be read in parts"},
        {"J2kClaiming16384Components", [] { return file("components.j2k", withJ2kSize(encodeWithTool(cornerPicture(64, 48), "opj_compress -i in.png -o out.j2k && mv out.j2k out"), 64, 48, 64, 48, 16384)); }, "damaged"},
        {"J2kWithZeroSizeTiles", [] { return file("tiles.j2k", withJ2kSize(encodeWithTool(cornerPicture(64, 48), "opj_compress -i in.png -o out.j2k && mv out.j2k out"), 64, 48, 0, 0)); }, "damaged"},
        {"Tga", [] { return file("plain.tga", tga(320, 200, false)); }, ""},
        {"TgaWithRuns", [] { return file("runs.tga", tga(320, 200, true)); }, ""},
        {"TiffCutShort", [] { return file("cut.tiff", cut(twoPageTiff(), 0.3)); }, ""},
        {"WebpCutAtHalf", [] { return file("cut50.webp", cut(encode(cornerPicture(640, 480), "webp", 90), 0.5)); }, ""},
        {"InterlacedPngCutAtHalf", [] { return file("cut50-interlaced.png", cut(interlacedPng(cornerPicture(400, 300)), 0.5)); }, ""},
        {"JxlCutAtHalf", [] { return file("cut50.jxl", cut(encodeWithTool(cornerPicture(640, 480), "cjxl -d 1 in.png out"), 0.5)); }, ""},
        {"LosslessJxlCutAtHalf", [] { return file("cut50-lossless.jxl", cut(encodeWithTool(cornerPicture(640, 480), "cjxl -d 0 in.png out"), 0.5)); }, ""},
        {"JxlCutInItsHeader", [] { return file("cut-header.jxl", encodeWithTool(cornerPicture(64, 48), "cjxl in.png out").substr(0, 12)); }, "cannot be decoded"},
        {"HeicCutAtHalf", [] { return file("cut50.heic", cut(encodeWithTool(cornerPicture(640, 480), "heif-enc -o out in.png"), 0.5)); }, "cannot be decoded"},
        {"AvifClaiming100000Square", [] { return file("huge.avif", withHeifSize(encodeWithTool(cornerPicture(64, 48), "avifenc in.png out.avif && mv out.avif out"), 100000, 100000)); }, "is damaged"},
        {"SvgzInflatingTo100MB", [] { return file("bomb.svgz", encodeWithTool(QImage(1, 1, QImage::Format_RGB32), "head -c 100000000 /dev/zero | tr '\\0' ' ' | gzip -9 > out")); }, "too large"},
        {"SvgClaimingTenMillionPixelsASide", [] { return file("huge.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='10000000' height='10000000'/>"); }, "more than 1000000"},
        // Drawn in tiles: an overview and the tiles shown, at once.
        {"SvgOfAMillionPixelsASide", [] { return file("million.svg", "<svg xmlns='http://www.w3.org/2000/svg' width='1000000' height='1000000'>"
            "<rect width='1000000' height='1000000' fill='#c83c1e'/></svg>"); }, ""},
        {"SvgBillionLaughs", [] {
             std::string entities = "<!DOCTYPE svg [<!ENTITY a0 'lol'>";
             for (int i = 1; i < 10; ++i)
                 entities += "<!ENTITY a" + std::to_string(i) + " '" + [&] { std::string s; for (int j = 0; j < 10; ++j) s += "&a" + std::to_string(i - 1) + ";"; return s; }() + "'>";
             return file("laughs.svg", "<?xml version='1.0'?>" + entities + "]><svg xmlns='http://www.w3.org/2000/svg' width='64' height='64'>"
                 "<rect width='64' height='64' fill='#c83c1e'/><text y='20'>&a9;</text></svg>");
         }, "not a valid SVG document"},
        {"PngWithATextChunkThatInflatesTo256MB", [=] { return file("bomb.png", withTextBomb(smallPng, 256u << 20)); }, ""},
        {"PngNamedJpg", [=] { return file("png.jpg", png); }, ""},
        {"OneByOne", [] { return file("1x1.png", encode(cornerPicture(1, 1), "png")); }, ""},
        {"OneByN", [] { return file("1xN.png", encode(cornerPicture(1, 3000), "png")); }, ""},
        {"NByOne", [] { return file("Nx1.png", encode(cornerPicture(3000, 1), "png")); }, ""},
        {"SixteenBitPng", [] { return file("16.png", encode(cornerPicture(64, 64).convertToFormat(QImage::Format_RGBX64), "png")); }, ""},
        {"PalettePngWithTransparency", [] {
             QImage image(64, 64, QImage::Format_Indexed8);
             image.setColorTable({kCornerColour, qRgba(0, 0, 0, 0)});
             image.fill(1);
             for (int y = 0; y < 32; ++y)
                 for (int x = 0; x < 32; ++x)
                     image.setPixel(x, y, 0);
             return file("palette.png", encode(image, "png"));
         }, ""},
        {"GreyJpeg", [] { return file("grey.jpg", jpegOfKind(JpegKind::Grey, 64, 64)); }, ""},
        {"CmykJpeg", [] { return file("cmyk.jpg", jpegOfKind(JpegKind::Cmyk, 64, 64)); }, ""},
        {"ProgressiveJpeg", [] { return file("progressive.jpg", jpegOfKind(JpegKind::Progressive, 640, 480)); }, ""},
        {"ArithmeticJpeg", [] { return file("arith.jpg", jpegOfKind(JpegKind::Arithmetic, 640, 480)); }, ""},
        {"AnimatedGif", [] { return file("anim.gif", animatedGif()); }, ""},
        {"Bmp1Bit", [] { return file("1.bmp", bmp(1)); }, ""},
        {"Bmp4Bit", [] { return file("4.bmp", bmp(4)); }, ""},
        {"Bmp8Bit", [] { return file("8.bmp", bmp(8)); }, ""},
        {"BmpRle8", [] { return file("rle8.bmp", bmp(8, 1)); }, ""},
        {"BmpRle4", [] { return file("rle4.bmp", bmp(4, 2)); }, ""},
        {"Bmp16Bit", [] { return file("16.bmp", bmp(16)); }, ""},
        {"Bmp24Bit", [] { return file("24.bmp", bmp(24)); }, ""},
        {"Bmp32Bit", [] { return file("32.bmp", bmp(32)); }, ""},
        {"BmpTopDown", [] { return file("topdown.bmp", bmp(24, 0, true)); }, ""},
        {"Ico", [] { return file("icon.ico", encode(cornerPicture(32, 32), "ico")); }, ""},
        {"TwoPageTiff", [] { return file("pages.tiff", twoPageTiff()); }, ""},
        {"WebP", [] { return file("photo.webp", encode(cornerPicture(128, 96), "webp", 100)); }, ""},
        {"Directory", [] { return tempDir(); }, "is a directory"},
        {"MissingFile", [] { return tempDir() + "/missing.png"; }, "no such file"},
        {"Fifo", [] {
             const std::string path = tempDir() + "/fifo.png";
             mkfifo(path.c_str(), 0600);
             return path;
         }, "pipe"},
        {"DevZero", [] { return std::string("/dev/zero"); }, "device"},
        {"NameWithSpaces", [=] { return file("a name with spaces.png", smallPng); }, ""},
        {"NameWithNonUtf8Bytes", [=] { return file("bad\xff\xfe.png", smallPng); }, ""},
        {"NameStartingWithADash", [=] { return file("-reverse.png", smallPng); }, ""},
    };
}

bool nearCorner(QRgb pixel, int tolerance = 12)
{
    return std::abs(qRed(pixel) - qRed(kCornerColour)) <= tolerance
        && std::abs(qGreen(pixel) - qGreen(kCornerColour)) <= tolerance
        && std::abs(qBlue(pixel) - qBlue(kCornerColour)) <= tolerance;
}

bool isGrey100(QRgb pixel)
{
    return std::abs(qRed(pixel) - 100) <= 3 && qRed(pixel) == qGreen(pixel) && qGreen(pixel) == qBlue(pixel);
}

class BadFile : public ::testing::TestWithParam<Case> {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(s_session.start()) << "no X server"; }
    static void TearDownTestSuite() { s_session.stop(); }

    // The picture is on the screen: an overview or detail-view corner shows it.
    bool pictureShown()
    {
        if (!s_session.viewableWindowTitled("KORVANE"))
            return false;
        for (QPoint corner : {QPoint(0, 0), QPoint(800, 0)}) {
            const QRgb pixel = s_session.pixel(corner.x(), corner.y());
            if (nearCorner(pixel) || isGrey100(pixel))
                return true;
        }
        return false;
    }

    Outcome run(const std::string& path) { return run({KORVANE_BINARY, path}); }

    Outcome run(const std::vector<std::string>& command)
    {
        return runUntilDecided(s_session, command, [this] { return pictureShown(); });
    }

    static inline XSession s_session;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }


TEST_P(BadFile, IsShownOrRefusedClearlyWithinFiveSeconds)
{
    const Case& c = GetParam();
    const std::string path = c.makePath();
    const Outcome outcome = run(path);
    ASSERT_TRUE(outcome.decided) << "neither shown nor refused in " << kDeadline.count() << " s";
    RecordProperty("seconds", std::to_string(outcome.seconds));
    RecordProperty("peak_kb", std::to_string(outcome.peakKilobytes));
    RecordProperty("outcome", outcome.shown ? "shown" : outcome.error);
    if (c.refusedFor.empty()) {
        EXPECT_TRUE(outcome.shown) << "refused: " << outcome.error;
        EXPECT_EQ(outcome.status, 0) << "closed by SIGTERM with status " << outcome.status;
        return;
    }
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(std::count(outcome.error.begin(), outcome.error.end(), '\n'), 1) << outcome.error;
    EXPECT_NE(outcome.error.find(printablePath(path)), std::string::npos) << outcome.error;
    EXPECT_NE(outcome.error.find(c.refusedFor), std::string::npos) << outcome.error;
    if (kMeasuringMemory) {
        EXPECT_LT(outcome.peakKilobytes, 60 * 1024) << "peak memory";
    }
}

// Under a tight or loose address-space limit, a tiny file that claims a
// huge picture is refused the same way, without taking memory for it.
TEST_F(BadFile, RefusesHugeClaimsUnderAnyAddressSpaceLimit)
{
    if (!kMeasuringMemory)
        GTEST_SKIP() << "the sanitizers reserve more address space than the limits allow";
    const std::string tiny = encode(cornerPicture(1, 1), "png");
    const std::string paths[] = {file("limit-square.png", withPngHeader(tiny, 2147483647, 2147483647, 8, 2)),
        file("limit-wide.png", withPngHeader(tiny, 50000000, 1000, 8, 2))};
    for (const char* gigabytes : {"4", "16"}) {
        for (const std::string& path : paths) {
            const std::string limit = "--as=" + std::to_string(std::stoll(gigabytes) << 30);
            const Outcome outcome = run({"prlimit", limit, KORVANE_BINARY, path});
            SCOPED_TRACE(std::string(gigabytes) + " GiB, " + path);
            EXPECT_EQ(outcome.status, 1);
            EXPECT_EQ(std::count(outcome.error.begin(), outcome.error.end(), '\n'), 1) << outcome.error;
            EXPECT_NE(outcome.error.find("too large"), std::string::npos) << outcome.error;
            EXPECT_LT(outcome.peakKilobytes, 60 * 1024);
        }
    }
}

// A load that takes a while shows a small window named after the file,
// then the picture's own window. The picture, an interlaced PNG just within
// the picture cache, is decoded whole, which takes seconds.
TEST_F(BadFile, ShowsTheProgressOfALongLoad)
{
    const std::string path = file("slow.png", blackPng(22000));
    const std::string errors = tempDir() + "/stderr-slow.txt";
    const pid_t program = spawn({KORVANE_BINARY, path}, s_session.name(), errors);
    EXPECT_TRUE(waitFor([&] { return s_session.viewableWindowTitled("slow.png") != 0; }, 20s)) << readAll(errors);
    EXPECT_TRUE(waitFor([&] { return s_session.viewableWindowTitled("KORVANE") != 0; }, 60s)) << readAll(errors);
    EXPECT_TRUE(waitFor([&] { return s_session.viewableWindowTitled("slow.png") == 0; }, 10s));
    kill(program, SIGTERM);
    int status = 0;
    waitpid(program, &status, 0);
}

// SIGTERM while the progress window shows ends the program at once, with
// status 0, as closing that window does: the load is not waited for.
TEST_F(BadFile, SigtermDuringALongLoadEndsItAtOnce)
{
    const std::string path = file("slow-ended.png", blackPng(22000));
    const pid_t program = spawn({KORVANE_BINARY, path}, s_session.name(), tempDir() + "/stderr-ended.txt");
    ASSERT_TRUE(waitFor([&] { return s_session.viewableWindowTitled("slow-ended.png") != 0; }, 20s));
    kill(program, SIGTERM);
    int status = 0;
    const bool ended = waitFor([&] { return waitpid(program, &status, WNOHANG) == program; }, 2s);
    if (!ended) {
        kill(program, SIGKILL);
        waitpid(program, &status, 0);
    }
    ASSERT_TRUE(ended) << "still loading after SIGTERM";
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

INSTANTIATE_TEST_SUITE_P(Corpus, BadFile, ::testing::ValuesIn(corpus()),
    [](const ::testing::TestParamInfo<Case>& info) { return info.param.name; });

} // namespace
} // namespace korvane
