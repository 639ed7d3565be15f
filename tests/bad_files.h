#pragma once
// Bad and unusual picture files, made byte by byte, for the tests that
// point the real program at them.
#include <QImage>

#include <string>

namespace korvane::test {

// The colour the pictures below show at their top-left corner.
constexpr QRgb kCornerColour = 0xFFC83C1E; // (200, 60, 30)

// A picture whose top rows are kCornerColour and whose rest is noise that
// does not compress, so that a file cut short loses real data.
QImage cornerPicture(int width, int height);

std::string encode(const QImage& image, const char* format, int quality = -1);
std::string cut(const std::string& bytes, double fraction);
// The image encoded by a shell command that reads in.png and writes out.
std::string encodeWithTool(const QImage& image, const std::string& command);
// A HEIF file with its first image's ispe changed to claim width x height.
std::string withHeifSize(std::string heif, unsigned width, unsigned height);
std::string randomBytes(std::size_t count, unsigned seed);

enum class JpegKind { Grey, Cmyk, Progressive, Arithmetic };
// A flat JPEG of the kind, its corner kCornerColour (or grey 100).
std::string jpegOfKind(JpegKind kind, int width, int height);
// A colour JPEG of an RGB888 image whose brightness has across x down
// samples to each colour sample.
std::string jpegSampled(const QImage& rgb888, int across, int down);
// The JPEG with its frame header changed to claim width x height.
std::string withJpegSize(std::string jpeg, int width, int height);

// The PNG with its header changed to claim width x height pixels of the
// given depth and colour type, and its checksum fixed.
std::string withPngHeader(std::string png, unsigned width, unsigned height, int depth, int colourType);
// A raw JPEG 2000 codestream with its SIZ changed: the picture's and the
// tiles' sides (the tile grid at 0) and, when given, its component count.
std::string withJ2kSize(std::string j2k, unsigned width, unsigned height, unsigned tileWidth, unsigned tileHeight,
    int components = 0);
// The PNG with one bit of its first image-data chunk's checksum flipped.
std::string withBadPngChecksum(std::string png);
// The PNG with a compressed text chunk holding `inflated` zero bytes.
std::string withTextBomb(std::string png, std::size_t inflated);

// BMP: top half kCornerColour, bottom half white. Bits 1, 4, 8 use a
// palette; compression 1 and 2 are RLE8 and RLE4.
std::string bmp(int bits, int compression = 0, bool topDown = false);
// A two-frame animated GIF, first frame kCornerColour, second white.
std::string animatedGif();
// An uncompressed two-page TIFF, first page kCornerColour, second white.
std::string twoPageTiff();
// A GIF whose screen is side x side, holding one 64 x 64 kCornerColour
// frame at its top-left corner.
std::string gifWithSmallFrame(int side);
// An RLE8 BMP of width x height that ends, with end-of-bitmap, after its
// bottom row: the pixels it never sets are palette entry 0, kCornerColour.
std::string rle8BmpEndingEarly(int width, int height);
// A 24-bit true-colour TGA, top rows kCornerColour, the rest white; rle:
// run-length packets.
std::string tga(int width, int height, bool rle);
// An ICO whose one 256 x 256 entry is the PNG.
std::string icoHolding(const std::string& png);
// A black grey-scale PNG of side x side, interlaced, that decodes slowly
// (seven passes through libpng) but is small.
std::string blackPng(int side);
// An 8-bit RGB PNG (grey for a Grayscale8 image, RGBA for one with alpha)
// whose every row uses one filter: 0 none, 1 sub, 2 up, 3 average, 4 Paeth.
std::string pngFilteredBy(const QImage& image, int filter);
// The picture as an Adam7-interlaced PNG.
std::string interlacedPng(const QImage& image);

} // namespace korvane::test
