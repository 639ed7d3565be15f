#include "bad_files.h"

#include <QBuffer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <vector>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

namespace korvane::test {

namespace {

void put16le(std::string& out, unsigned value)
{
    out += char(value & 0xFF);
    out += char((value >> 8) & 0xFF);
}

void put32le(std::string& out, unsigned value)
{
    put16le(out, value & 0xFFFF);
    put16le(out, value >> 16);
}

void put32be(std::string& out, unsigned value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out += char((value >> shift) & 0xFF);
}

unsigned get32be(const std::string& bytes, std::size_t at)
{
    unsigned value = 0;
    for (int i = 0; i < 4; ++i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::string pngChunk(const char* type, const std::string& data)
{
    std::string chunk;
    put32be(chunk, static_cast<unsigned>(data.size()));
    chunk += std::string(type, 4) + data;
    const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data() + 4), static_cast<uInt>(chunk.size() - 4));
    put32be(chunk, static_cast<unsigned>(crc));
    return chunk;
}

// Where the first chunk of the type starts (its length field).
std::size_t findPngChunk(const std::string& png, const char* type)
{
    for (std::size_t at = 8; at + 8 <= png.size(); at += 12 + get32be(png, at))
        if (png.compare(at + 4, 4, type) == 0)
            return at;
    throw std::runtime_error(std::string("no chunk ") + type);
}

} // namespace

QImage cornerPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    std::mt19937 noise(7);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, y < 64 ? kCornerColour : qRgb(noise() & 0xFF, noise() & 0xFF, noise() & 0xFF));
    return image;
}

std::string encode(const QImage& image, const char* format, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, quality))
        throw std::runtime_error(std::string("cannot encode ") + format);
    return bytes.toStdString();
}

std::string encodeWithTool(const QImage& image, const std::string& command)
{
    char pattern[] = "/tmp/korvane-encode-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("cannot make a scratch directory");
    const std::string directory = pattern;
    image.save(QString::fromStdString(directory + "/in.png"));
    const std::string line = "cd '" + directory + "' && { " + command + "; } >/dev/null 2>&1";
    const bool encoded = std::system(line.c_str()) == 0;
    std::ifstream in(directory + "/out", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove_all(directory);
    if (!encoded || bytes.empty())
        throw std::runtime_error("cannot encode with: " + command);
    return bytes;
}

std::string withHeifSize(std::string heif, unsigned width, unsigned height)
{
    const std::size_t at = heif.find("ispe");
    if (at == std::string::npos)
        throw std::runtime_error("no ispe box");
    std::string size;
    put32be(size, width);
    put32be(size, height);
    return heif.replace(at + 8, 8, size); // after the type, version and flags
}

std::string cut(const std::string& bytes, double fraction)
{
    return bytes.substr(0, static_cast<std::size_t>(double(bytes.size()) * fraction));
}

std::string randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes)
        c = static_cast<char>(random() & 0xFF);
    return bytes;
}

namespace {

// A JPEG of width x height pixels of `components` samples in `space`,
// set up by `configure` after libjpeg's defaults, its rows given by `row`.
template <typename Configure, typename Row>
std::string compressJpeg(int width, int height, int components, J_COLOR_SPACE space, Configure configure, Row row)
{
    jpeg_compress_struct cinfo {};
    jpeg_error_mgr errors {};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &out, &size);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = space;
    jpeg_set_defaults(&cinfo);
    configure(cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW rows[1] = {const_cast<unsigned char*>(row(static_cast<int>(cinfo.next_scanline)))};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::string bytes(reinterpret_cast<const char*>(out), size);
    std::free(out);
    return bytes;
}

} // namespace

std::string jpegOfKind(JpegKind kind, int width, int height)
{
    const bool grey = kind == JpegKind::Grey, cmyk = kind == JpegKind::Cmyk;
    // CMYK is stored inverted, as Adobe's programs write it: ink 0 is 255.
    const std::vector<unsigned char> pixel = grey ? std::vector<unsigned char>{100}
        : cmyk                                 ? std::vector<unsigned char>{200, 60, 30, 255}
                                               : std::vector<unsigned char>{200, 60, 30};
    std::vector<unsigned char> row;
    for (int x = 0; x < width; ++x)
        row.insert(row.end(), pixel.begin(), pixel.end());
    const auto configure = [kind](jpeg_compress_struct& cinfo) {
        jpeg_set_quality(&cinfo, 95, TRUE);
        if (kind == JpegKind::Progressive)
            jpeg_simple_progression(&cinfo);
        if (kind == JpegKind::Arithmetic)
            cinfo.arith_code = TRUE;
    };
    return compressJpeg(width, height, grey ? 1 : cmyk ? 4 : 3, grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB,
        configure, [&row](int) { return row.data(); });
}

std::string jpegSampled(const QImage& rgb888, int across, int down)
{
    const auto configure = [across, down](jpeg_compress_struct& cinfo) {
        jpeg_set_quality(&cinfo, 90, TRUE);
        cinfo.comp_info[0].h_samp_factor = across;
        cinfo.comp_info[0].v_samp_factor = down;
    };
    return compressJpeg(rgb888.width(), rgb888.height(), 3, JCS_RGB, configure,
        [&rgb888](int y) { return rgb888.constScanLine(y); });
}

std::string withJpegSize(std::string jpeg, int width, int height)
{
    const std::size_t frame = jpeg.find("\xFF\xC0");
    if (frame == std::string::npos)
        throw std::runtime_error("no baseline frame header");
    jpeg[frame + 5] = char(height >> 8);
    jpeg[frame + 6] = char(height & 0xFF);
    jpeg[frame + 7] = char(width >> 8);
    jpeg[frame + 8] = char(width & 0xFF);
    return jpeg;
}

std::string withJ2kSize(std::string j2k, unsigned width, unsigned height, unsigned tileWidth, unsigned tileHeight,
    int components)
{
    std::string fields;
    for (const unsigned value : {width, height, 0U, 0U, tileWidth, tileHeight, 0U, 0U})
        put32be(fields, value);
    j2k.replace(8, fields.size(), fields); // past SOC, SIZ, Lsiz and Rsiz
    if (components > 0) {
        j2k[40] = char(components >> 8);
        j2k[41] = char(components);
    }
    return j2k;
}

std::string withPngHeader(std::string png, unsigned width, unsigned height, int depth, int colourType)
{
    std::string header;
    put32be(header, width);
    put32be(header, height);
    header += char(depth);
    header += char(colourType);
    header += std::string(3, '\0'); // deflate, adaptive filters, not interlaced
    return png.replace(findPngChunk(png, "IHDR"), 25, pngChunk("IHDR", header));
}

std::string withBadPngChecksum(std::string png)
{
    const std::size_t at = findPngChunk(png, "IDAT");
    png[at + 8 + get32be(png, at)] ^= 1;
    return png;
}

std::string withTextBomb(std::string png, std::size_t inflated)
{
    // Zeros deflate at about 1000 to 1; stream them through.
    std::vector<unsigned char> zeros(1 << 20, 0), out(1 << 20);
    z_stream z {};
    deflateInit(&z, 9);
    std::string compressed;
    for (std::size_t done = 0; done < inflated || z.avail_in; ) {
        if (z.avail_in == 0) {
            const std::size_t step = std::min(zeros.size(), inflated - done);
            z.next_in = zeros.data();
            z.avail_in = static_cast<uInt>(step);
            done += step;
        }
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, Z_NO_FLUSH);
        compressed.append(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
    }
    int status;
    do {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        status = deflate(&z, Z_FINISH);
        compressed.append(reinterpret_cast<const char*>(out.data()), out.size() - z.avail_out);
    } while (status != Z_STREAM_END);
    deflateEnd(&z);
    const std::string text = std::string("Comment") + '\0' + '\0' + compressed;
    return png.insert(findPngChunk(png, "IDAT"), pngChunk("zTXt", text));
}

std::string bmp(int bits, int compression, bool topDown)
{
    const int width = 64, height = 48;
    const QRgb white = 0xFFFFFFFF;
    const auto colourAt = [&](int fileRow) { // file rows run bottom-up unless top-down
        const int y = topDown ? fileRow : height - 1 - fileRow;
        return y < height / 2 ? kCornerColour : white;
    };
    const int paletteSize = bits <= 8 ? 1 << bits : 0;
    std::string pixels;
    for (int row = 0; row < height; ++row) {
        const QRgb colour = colourAt(row);
        const int index = colour == kCornerColour ? 0 : 1;
        std::string line;
        if (compression == 1) { // RLE8: one run per row, then end of line
            line += char(width);
            line += char(index);
            line += std::string("\0\0", 2);
        } else if (compression == 2) { // RLE4: the run's nibbles alternate
            line += char(width);
            line += char(index << 4 | index);
            line += std::string("\0\0", 2);
        } else if (bits == 1) {
            line.assign(width / 8, char(index ? 0xFF : 0x00));
        } else if (bits == 4) {
            line.assign(width / 2, char(index << 4 | index));
        } else if (bits == 8) {
            line.assign(width, char(index));
        } else {
            for (int x = 0; x < width; ++x) {
                if (bits == 16)
                    put16le(line, (qRed(colour) >> 3) << 10 | (qGreen(colour) >> 3) << 5 | qBlue(colour) >> 3);
                else {
                    line += char(qBlue(colour));
                    line += char(qGreen(colour));
                    line += char(qRed(colour));
                    if (bits == 32)
                        line += char(0);
                }
            }
        }
        if (compression == 0)
            line.resize((line.size() + 3) / 4 * 4, '\0');
        pixels += line;
    }
    if (compression != 0)
        pixels += std::string("\0\1", 2); // end of bitmap
    std::string info;
    put32le(info, 40);
    put32le(info, width);
    put32le(info, topDown ? unsigned(-height) : unsigned(height));
    put16le(info, 1);
    put16le(info, static_cast<unsigned>(bits));
    put32le(info, static_cast<unsigned>(compression));
    put32le(info, static_cast<unsigned>(pixels.size()));
    put32le(info, 2835);
    put32le(info, 2835);
    put32le(info, static_cast<unsigned>(paletteSize));
    put32le(info, 0);
    for (int i = 0; i < paletteSize; ++i) {
        const QRgb colour = i == 0 ? kCornerColour : white;
        info += char(qBlue(colour));
        info += char(qGreen(colour));
        info += char(qRed(colour));
        info += char(0);
    }
    std::string file = "BM";
    put32le(file, static_cast<unsigned>(14 + info.size() + pixels.size()));
    put32le(file, 0);
    put32le(file, static_cast<unsigned>(14 + info.size()));
    return file + info + pixels;
}

namespace {

// GIF's LZW with literal codes only: valid, if no smaller than raw.
std::string lzwLiterals(const std::vector<int>& indices, int minimumCodeSize)
{
    const int clear = 1 << minimumCodeSize, end = clear + 1;
    std::string out;
    unsigned long bits = 0;
    int count = 0, width = minimumCodeSize + 1, size = end + 1;
    bool first = true;
    const auto putCode = [&](int code) {
        bits |= static_cast<unsigned long>(code) << count;
        count += width;
        while (count >= 8) {
            out += char(bits & 0xFF);
            bits >>= 8;
            count -= 8;
        }
    };
    putCode(clear);
    for (int index : indices) {
        putCode(index);
        if (!first && ++size == (1 << width) && width < 12)
            ++width;
        first = false;
        if (size >= 4000) {
            putCode(clear);
            width = minimumCodeSize + 1;
            size = end + 1;
            first = true;
        }
    }
    putCode(end);
    if (count > 0)
        out += char(bits & 0xFF);
    return out;
}

std::string subBlocks(const std::string& data)
{
    std::string out;
    for (std::size_t at = 0; at < data.size(); at += 255) {
        const std::string block = data.substr(at, 255);
        out += char(block.size());
        out += block;
    }
    return out + '\0';
}

// A GIF image block at the screen's top-left: its descriptor and its
// pixels, every one the palette entry given.
std::string gifFrame(int width, int height, int index)
{
    std::string frame = ",";
    put16le(frame, 0);
    put16le(frame, 0);
    put16le(frame, static_cast<unsigned>(width));
    put16le(frame, static_cast<unsigned>(height));
    frame += '\0';
    frame += char(2); // minimum code size
    return frame + subBlocks(lzwLiterals(std::vector<int>(std::size_t(width) * height, index), 2));
}

} // namespace

std::string animatedGif()
{
    const int width = 32, height = 32;
    std::string gif = "GIF89a";
    put16le(gif, width);
    put16le(gif, height);
    gif += char(0x80); // a global table of two colours
    gif += std::string("\0\0", 2);
    gif += std::string("\xC8\x3C\x1E\xFF\xFF\xFF", 6);
    gif += std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19); // loop for ever
    for (int frame = 0; frame < 2; ++frame) {
        gif += std::string("\x21\xF9\x04\x00\x0A\x00\x00\x00", 8); // 0.1 s
        gif += gifFrame(width, height, frame);
    }
    return gif + ';';
}

std::string twoPageTiff()
{
    const unsigned width = 16, height = 16, pixelBytes = width * height * 3;
    std::string tiff = "II*";
    tiff += '\0';
    put32le(tiff, 8);
    const auto entry = [](std::string& out, unsigned tag, unsigned type, unsigned count, unsigned value) {
        put16le(out, tag);
        put16le(out, type);
        put32le(out, count);
        if (type == 3 && count == 1) {
            put16le(out, value);
            put16le(out, 0);
        } else
            put32le(out, value);
    };
    const unsigned entries = 10, directoryBytes = 2 + entries * 12 + 4;
    for (unsigned page = 0; page < 2; ++page) {
        const unsigned start = static_cast<unsigned>(tiff.size());
        const unsigned bitsAt = start + directoryBytes, pixelsAt = bitsAt + 6;
        const unsigned next = page == 0 ? pixelsAt + pixelBytes : 0;
        put16le(tiff, entries);
        entry(tiff, 256, 3, 1, width);
        entry(tiff, 257, 3, 1, height);
        entry(tiff, 258, 3, 3, bitsAt);
        entry(tiff, 259, 3, 1, 1);           // no compression
        entry(tiff, 262, 3, 1, 2);           // RGB
        entry(tiff, 273, 4, 1, pixelsAt);
        entry(tiff, 277, 3, 1, 3);
        entry(tiff, 278, 3, 1, height);
        entry(tiff, 279, 4, 1, pixelBytes);
        entry(tiff, 284, 3, 1, 1);
        put32le(tiff, next);
        for (int i = 0; i < 3; ++i)
            put16le(tiff, 8);
        const QRgb colour = page == 0 ? kCornerColour : 0xFFFFFFFF;
        for (unsigned i = 0; i < width * height; ++i) {
            tiff += char(qRed(colour));
            tiff += char(qGreen(colour));
            tiff += char(qBlue(colour));
        }
    }
    return tiff;
}

std::string gifWithSmallFrame(int side)
{
    const int frame = 64;
    std::string gif = "GIF89a";
    put16le(gif, static_cast<unsigned>(side));
    put16le(gif, static_cast<unsigned>(side));
    gif += char(0x80); // a global table of two colours
    gif += std::string("\0\0", 2);
    gif += std::string("\xC8\x3C\x1E\xFF\xFF\xFF", 6);
    return gif + gifFrame(frame, frame, 0) + ';';
}

std::string rle8BmpEndingEarly(int width, int height)
{
    std::string pixels;
    for (int x = 0; x < width; x += 255) { // the bottom row white, in runs
        pixels += char(std::min(255, width - x));
        pixels += char(1);
    }
    pixels += std::string("\0\0\0\1", 4); // end of line, end of bitmap
    std::string info;
    put32le(info, 40);
    put32le(info, static_cast<unsigned>(width));
    put32le(info, static_cast<unsigned>(height));
    put16le(info, 1);
    put16le(info, 8);
    put32le(info, 1);
    put32le(info, static_cast<unsigned>(pixels.size()));
    put32le(info, 2835);
    put32le(info, 2835);
    put32le(info, 2);
    put32le(info, 0);
    info += std::string("\x1E\x3C\xC8\0\xFF\xFF\xFF\0", 8);
    std::string file = "BM";
    put32le(file, static_cast<unsigned>(14 + info.size() + pixels.size()));
    put32le(file, 0);
    put32le(file, static_cast<unsigned>(14 + info.size()));
    return file + info + pixels;
}

std::string tga(int width, int height, bool rle)
{
    std::string file(2, '\0');
    file += char(rle ? 10 : 2);
    file += std::string(9, '\0'); // no palette, origin 0, 0
    put16le(file, static_cast<unsigned>(width));
    put16le(file, static_cast<unsigned>(height));
    file += char(24);
    file += char(0x20); // rows run top to bottom
    for (int y = 0; y < height; ++y) {
        const QRgb colour = y < 64 ? kCornerColour : 0xFFFFFFFF;
        const std::string pixel {char(qBlue(colour)), char(qGreen(colour)), char(qRed(colour))};
        for (int x = 0; x < width;) {
            const int run = rle ? std::min(128, width - x) : 1;
            if (rle)
                file += char(0x80 | (run - 1));
            file += pixel;
            x += run;
        }
    }
    return file;
}

std::string icoHolding(const std::string& png)
{
    std::string ico;
    put16le(ico, 0);
    put16le(ico, 1); // an icon
    put16le(ico, 1); // one entry
    ico += std::string("\0\0\0\0", 4); // 256 x 256, no palette
    put16le(ico, 1);
    put16le(ico, 32);
    put32le(ico, static_cast<unsigned>(png.size()));
    put32le(ico, 6 + 16);
    return ico + png;
}

namespace {

void appendToString(png_structp png, png_bytep data, png_size_t size)
{
    static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), size);
}

} // namespace

std::string blackPng(int side)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::string out;
    png_set_write_fn(png, &out, appendToString, nullptr);
    png_set_compression_level(png, 1);
    png_set_IHDR(png, info, static_cast<png_uint_32>(side), static_cast<png_uint_32>(side), 8, PNG_COLOR_TYPE_GRAY,
        PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const int passes = png_set_interlace_handling(png);
    const std::vector<png_byte> row(static_cast<std::size_t>(side), 0);
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < side; ++y)
            png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string pngFilteredBy(const QImage& image, int filter)
{
    const bool grey = image.format() == QImage::Format_Grayscale8;
    const bool alpha = image.hasAlphaChannel();
    const QImage rows = grey ? image : image.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    static constexpr int kFilters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB, PNG_FILTER_UP, PNG_FILTER_AVG, PNG_FILTER_PAETH};
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::string out;
    png_set_write_fn(png, &out, appendToString, nullptr);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, kFilters[filter]);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rows.width()), static_cast<png_uint_32>(rows.height()), 8,
        grey ? PNG_COLOR_TYPE_GRAY : alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
        PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < rows.height(); ++y)
        png_write_row(png, rows.constScanLine(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::string interlacedPng(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    std::string out;
    png_set_write_fn(png, &out, appendToString, nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rgb.width()), static_cast<png_uint_32>(rgb.height()), 8,
        PNG_COLOR_TYPE_RGB, PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<png_bytep> rows;
    for (int y = 0; y < rgb.height(); ++y)
        rows.push_back(const_cast<png_bytep>(rgb.constScanLine(y)));
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

} // namespace korvane::test
