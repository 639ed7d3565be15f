// A JPEG in several scans too large for the picture cache, read in bands
// gathered scan by scan: real files written by libjpeg, decoded by the
// real loader, checked against libjpeg's whole decode.
#include "tiled_support.h"


#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <jpeglib.h>

namespace korvane {
namespace {

using test::JpegOptions;
using test::largestDifference;
using test::loadWithMemory;
using test::writeJpeg;

// Enough for the index of a 1500 x 1000 picture at 4:4:4 (a sixth of a
// megabyte), not for its whole decode.
constexpr qint64 kScansMemory = qint64(8) << 20;

// libjpeg's own whole decode, to RGB (or grey), as a band's decode
// makes it.
QImage libjpegDecode(const std::string& path, bool smoothing = true)
{
    FILE* file = std::fopen(path.c_str(), "rb");
    jpeg_decompress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    cinfo.do_block_smoothing = smoothing ? TRUE : FALSE;
    const bool grey = cinfo.num_components == 1;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_start_decompress(&cinfo);
    QImage image(int(cinfo.output_width), int(cinfo.output_height), grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = image.scanLine(int(cinfo.output_scanline));
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    std::fclose(file);
    return image;
}

struct Case {
    JpegOptions options;
    const char* name;
};

// Pixel for pixel, at band edges, far corners and partial MCUs at the right
// and bottom, at every sampling; progressive files carry their own Huffman
// tables before each scan, and refine DC and AC bits in later scans.
TEST(JpegScans, BandsMatchTheWholeDecode)
{
    const Case cases[] = {{{.progressive = true}, "progressive 4:2:0"},
        {{.progressive = true, .lumaAcross = 2, .lumaDown = 1, .width = 1501, .height = 999}, "progressive 4:2:2"},
        {{.progressive = true, .lumaAcross = 1, .lumaDown = 2, .width = 997, .height = 1003}, "progressive 4:4:0"},
        {{.progressive = true, .lumaAcross = 1, .lumaDown = 1}, "progressive 4:4:4"},
        {{.grey = true, .progressive = true, .width = 1499, .height = 1001}, "progressive grey"},
        {{.scanEach = true}, "sequential, a scan a component"}};
    for (const Case& c : cases) {
        const std::string path = writeJpeg("scans.jpg", c.options);
        const QImage whole = libjpegDecode(path);
        const Picture bands = loadWithMemory(path, kScansMemory);
        ASSERT_TRUE(bands.image().isNull()) << c.name << " read whole, not in bands";
        ASSERT_EQ(QSize(bands.pixelWidth(), bands.pixelHeight()), whole.size()) << c.name;
        EXPECT_EQ(largestDifference(bands, whole, whole.rect()), 0) << c.name;
        EXPECT_TRUE(test::overviewMade(bands)) << c.name;
    }
}

// Cut short in its last scan, the bands hold what the scans before gave
// and the last one's top rows; they are not smoothed across blocks, as
// libjpeg smooths a picture whose coefficients are not all known.
TEST(JpegScans, CutShortShowsWhatItsScansHold)
{
    const std::string path = writeJpeg("short.jpg", {.progressive = true});
    std::filesystem::resize_file(path, std::filesystem::file_size(path) * 4 / 5);
    const QImage whole = libjpegDecode(path, false);
    const Picture bands = loadWithMemory(path, kScansMemory);
    ASSERT_TRUE(bands.image().isNull());
    EXPECT_EQ(largestDifference(bands, whole, whole.rect()), 0);
}

} // namespace
} // namespace korvane
