#include "bench_image.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>

namespace korvane::bench {

namespace {

// Magenta-ish: red and blue high, green low, varying slowly, plus noise.
void fillRow(std::vector<std::uint8_t>& row, int width, int y)
{
    std::uint32_t seed = 2654435761u * static_cast<std::uint32_t>(y + 1);
    for (int x = 0; x < width; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int noise = static_cast<int>(seed >> 27) - 16;
        const int shade = ((x >> 4) + (y >> 4)) % 40;
        row[3 * x] = static_cast<std::uint8_t>(190 + shade / 2 + noise);
        row[3 * x + 1] = static_cast<std::uint8_t>(50 + shade / 4 + noise / 2);
        row[3 * x + 2] = static_cast<std::uint8_t>(160 + shade / 2 - noise);
    }
}

void writeJpeg(std::FILE* file, int width, int height, bool restarts, bool progressive)
{
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr errors {};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    cinfo.restart_in_rows = restarts ? 1 : 0; // as cjpeg -restart 1 writes them
    if (progressive)
        jpeg_simple_progression(&cinfo); // as cjpeg -progressive writes it
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        fillRow(row, width, y);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
}

// Adam7 when `interlaced`: libpng takes every row once a pass.
void writePng(std::FILE* file, int width, int height, bool interlaced)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        throw std::runtime_error("cannot write the PNG");
    png_init_io(png, file);
    png_set_compression_level(png, 3); // fast to write; what cameras and tools use by default varies
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8, PNG_COLOR_TYPE_RGB,
        interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < height; ++y) {
            fillRow(row, width, y);
            png_write_row(png, row.data());
        }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
}

// One page of 256 x 256 tiles, a band of tile rows at a time.
void writeTiledPage(TIFF* tiff, int width, int height, bool jpeg, bool reduced)
{
    constexpr int kTile = 256;
    TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, reduced ? FILETYPE_REDUCEDIMAGE : 0);
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, uint16_t{8});
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, uint16_t{3});
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tiff, TIFFTAG_TILEWIDTH, uint32_t{kTile});
    TIFFSetField(tiff, TIFFTAG_TILELENGTH, uint32_t{kTile});
    if (jpeg) {
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, 85);
        TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    } else {
        TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tiff, TIFFTAG_ZIPQUALITY, 1); // fast to write
    }
    std::vector<std::uint8_t> band(static_cast<size_t>(width) * 3 * kTile), tile(static_cast<size_t>(kTile) * kTile * 3);
    std::vector<std::uint8_t> row(static_cast<size_t>(width) * 3);
    for (int top = 0; top < height; top += kTile) {
        std::fill(band.begin(), band.end(), std::uint8_t{255});
        for (int y = top; y < std::min(height, top + kTile); ++y) {
            fillRow(row, width, y);
            std::copy(row.begin(), row.end(), band.begin() + static_cast<std::ptrdiff_t>(y - top) * width * 3);
        }
        for (int left = 0; left < width; left += kTile) {
            std::fill(tile.begin(), tile.end(), std::uint8_t{255});
            for (int y = 0; y < kTile; ++y)
                for (int x = 0; x < kTile && left + x < width; ++x)
                    for (int c = 0; c < 3; ++c)
                        tile[(static_cast<size_t>(y) * kTile + x) * 3 + c] = band[(static_cast<size_t>(y) * width + left + x) * 3 + c];
            TIFFWriteTile(tiff, tile.data(), static_cast<uint32_t>(left), static_cast<uint32_t>(top), 0, 0);
        }
    }
    TIFFWriteDirectory(tiff);
}

// A tiled BigTIFF: deflate tiles, or JPEG tiles with reduced pages halving
// down to a tile, as pyramid writers store them.
void writeTiff(const std::string& path, int width, int height, bool pyramid)
{
    TIFF* tiff = TIFFOpen(path.c_str(), "w8");
    if (!tiff)
        throw std::runtime_error("cannot write " + path);
    writeTiledPage(tiff, width, height, pyramid, false);
    for (int w = width / 2, h = height / 2; pyramid && std::max(w, h) >= 256; w /= 2, h /= 2)
        writeTiledPage(tiff, w, h, true, true);
    TIFFClose(tiff);
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

void writeBenchImage(const std::string& path, int width, int height)
{
    if (endsWith(path, ".tif")) {
        writeTiff(path, width, height, endsWith(path, ".pyramid.tif"));
        return;
    }
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot write " + path);
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".png") == 0)
        writePng(file, width, height, endsWith(path, ".interlaced.png"));
    else
        writeJpeg(file, width, height, endsWith(path, ".restart.jpg"), endsWith(path, ".progressive.jpg"));
    std::fclose(file);
}

bool isBenchHue(unsigned red, unsigned green, unsigned blue)
{
    return red >= 150 && green <= 110 && blue >= 110 && red > green + 70 && blue > green + 50;
}

} // namespace korvane::bench
