#include "tiff_jpeg.h"

#include "jpeg_errors.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <vector>

namespace korvane {

namespace {

// Everything the decode touches lives here, outside the frame that setjmp
// returns to.
struct TileDecoding {
    jpeg_decompress_struct cinfo {};
    JpegErrors errors {};
    std::vector<std::uint8_t> row;
    TileDecoding()
    {
        useJpegErrors(cinfo, errors);
        jpeg_create_decompress(&cinfo);
    }
    ~TileDecoding() { jpeg_destroy_decompress(&cinfo); }
    TileDecoding(const TileDecoding&) = delete;
    TileDecoding& operator=(const TileDecoding&) = delete;
};

bool decode(TileDecoding& d, const TiffJpeg& format, std::span<const std::uint8_t> data, int scale, std::uint8_t* out,
    std::size_t stride, int rows, int columns)
{
    if (setjmp(d.errors.jump))
        return false;
    if (!format.tables.empty()) { // tables only: libjpeg keeps them for the tile's data
        jpeg_mem_src(&d.cinfo, format.tables.data(), static_cast<unsigned long>(format.tables.size()));
        jpeg_read_header(&d.cinfo, FALSE);
    }
    jpeg_mem_src(&d.cinfo, data.data(), static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(&d.cinfo, TRUE) != JPEG_HEADER_OK)
        return false;
    d.cinfo.jpeg_color_space = static_cast<J_COLOR_SPACE>(format.colourSpace);
    d.cinfo.out_color_space = format.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    d.cinfo.scale_num = 1;
    d.cinfo.scale_denom = static_cast<unsigned int>(scale);
    jpeg_start_decompress(&d.cinfo);
    if (int(d.cinfo.output_components) != format.channels)
        return false;
    const std::size_t pixelBytes = std::size_t(format.channels);
    d.row.resize(std::size_t(d.cinfo.output_width) * pixelBytes);
    const std::size_t kept = std::min(d.row.size(), std::size_t(std::max(0, columns)) * pixelBytes);
    for (int y = 0; y < rows && d.cinfo.output_scanline < d.cinfo.output_height; ++y) {
        JSAMPROW row = d.row.data();
        jpeg_read_scanlines(&d.cinfo, &row, 1);
        std::memcpy(out + std::size_t(y) * stride, d.row.data(), kept);
    }
    jpeg_abort_decompress(&d.cinfo);
    return true;
}

} // namespace

int tiffJpegColourSpace(bool grey, bool ycbcr)
{
    return grey ? JCS_GRAYSCALE : ycbcr ? JCS_YCbCr : JCS_RGB;
}

bool decodeScaledJpegTile(const TiffJpeg& format, std::span<const std::uint8_t> data, int scale, std::uint8_t* out,
    std::size_t stride, int rows, int columns)
{
    TileDecoding decoding;
    return decode(decoding, format, data, scale, out, stride, rows, columns);
}

} // namespace korvane
