#pragma once
// Decoders that read JPEG, PNG, TIFF, WebP, GIF, TGA, HEIF, JPEG XL, JPEG 2000 and SVG straight
// into the display formats
// (RGB888 or Grayscale8), with no intermediate 32-bit copy. Each returns a
// null image when the file is not its format or uses a feature left to
// Qt's readers; a damaged or oversized file raises a file error.
#include "decode_limits.h"
#include "jpeg_planes.h"
#include "row_fill.h"
#include "tile_source.h"

#include <QImage>

#include <cctype>
#include <memory>
#include <span>
#include <string>

namespace korvane {

// A decoded picture, and the same picture averaged over square blocks when
// that was made alongside (large pictures stored upright). A picture handed
// over before it is whole has its fill: its rows are still being written,
// in sRGB already, and only the rows the fill says are final may be read.
struct DecodedPicture {
    QImage image;
    QImage reduced;
    std::shared_ptr<RowFill> fill = nullptr;
    // A colour JPEG: its planes instead of `image`, which is then null.
    std::shared_ptr<const YcbcrPicture> planes = nullptr;
    // A picture too large to hold: its tiles as stored, turned upright by
    // `orientation`, and perhaps a reduced level of it for the overview.
    // `image` is then null.
    std::shared_ptr<TileSource> tiles = nullptr;
    std::shared_ptr<TileSource> overviewTiles = nullptr;
    int orientation = 1;

    static DecodedPicture inTiles(std::shared_ptr<TileSource> tiles, int orientation,
        std::shared_ptr<TileSource> overviewTiles = nullptr)
    {
        DecodedPicture decoded;
        decoded.tiles = std::move(tiles);
        decoded.overviewTiles = std::move(overviewTiles);
        decoded.orientation = orientation;
        return decoded;
    }
};

// The file's first bytes say which decoder to use.
bool looksLikeJpeg(std::span<const unsigned char> head);
bool looksLikePng(std::span<const unsigned char> head);
bool looksLikeTiff(std::span<const unsigned char> head);
bool looksLikeWebp(std::span<const unsigned char> head);
bool looksLikeHeif(std::span<const unsigned char> head); // HEIC and AVIF
bool looksLikeJxl(std::span<const unsigned char> head);
bool looksLikeGif(std::span<const unsigned char> head);
// JPEG 2000: the JP2 signature box, or a bare codestream (SOC, SIZ).
bool looksLikeJp2(std::span<const unsigned char> head);
// SVG is text: its first element is <svg> (or the file is gzip'ed: svgz).
bool looksLikeSvg(int fd);
// The file name's suffix in lower case ("" when there is none): what
// names a format that has no signature.
inline std::string lowerCaseSuffix(const std::string& path)
{
    const auto dot = path.find_last_of('.');
    if (dot == std::string::npos || path.find('/', dot) != std::string::npos)
        return {};
    std::string suffix = path.substr(dot + 1);
    for (char& c : suffix)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return suffix;
}

bool looksLikeBmp(std::span<const unsigned char> head);
// TGA has no signature: a plausible header, and its footer or its suffix.
bool looksLikeTga(std::span<const unsigned char> head, int fd, const std::string& path, qint64 fileBytes);

// Each reads the open file descriptor from its start.
DecodedPicture decodeJpeg(int fd, const std::string& path, const FileFacts& facts);
DecodedPicture decodePng(int fd, const std::string& path, const FileFacts& facts);
DecodedPicture decodeTiff(int fd, const std::string& path, const FileFacts& facts);
DecodedPicture decodeWebp(int fd, const std::string& path, const FileFacts& facts);
DecodedPicture decodeTga(int fd, const std::string& path, const FileFacts& facts);
// Uncompressed BMP; null (left to Qt's reader) for any other kind.
DecodedPicture decodeBmp(int fd, const std::string& path, const FileFacts& facts);
DecodedPicture decodeHeif(int fd, const std::string& path, const FileFacts& facts);
DecodedPicture decodeJxl(int fd, const std::string& path, const FileFacts& facts);
DecodedPicture decodeGif(int fd, const std::string& path, const FileFacts& facts);
DecodedPicture decodeJp2(int fd, const std::string& path, const FileFacts& facts);
// Needs the application (fonts): run once it exists.
DecodedPicture decodeSvg(int fd, const std::string& path, const FileFacts& facts);

} // namespace korvane
