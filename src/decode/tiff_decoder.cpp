// TIFF through libtiff: the first page, one strip (or row of tiles) at a
// time through libtiff's RGBA conversion, which knows every photometric
// interpretation; the rows land straight in the picture. A file cut short
// shows the strips it holds, the rest white.
#include "decoders.h"
#include "texts.h"

#include "decode_error.h"
#include "orientation.h"
#include "tiff_file.h"
#include "tiff_tiles.h"

#include <QColorSpace>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <unistd.h>
#include <vector>

#include <tiffio.h>

namespace korvane {

namespace {

// libtiff's RGBA buffer for one band is capped so that a picture stored
// as one huge strip is converted in parts.
constexpr qint64 kMaxBandBytes = 64 << 20;

struct TiffDecoding {
    TiffFile file;
    TIFF* tiff = nullptr;
    TIFFRGBAImage rgba {};
    bool rgbaBegun = false;
    ~TiffDecoding()
    {
        if (rgbaBegun)
            TIFFRGBAImageEnd(&rgba);
        if (tiff)
            TIFFClose(tiff);
    }
};

[[noreturn]] void refuse(const std::string& path, const TiffFile& file, const char* fallback)
{
    raiseDecodeError(DecodeFailure::InvalidPicture, path,
        cannotBeDecoded(file.message.empty() ? translated("reason", fallback) : file.message));
}

QColorSpace colourSpaceOf(TIFF* tiff)
{
    const QByteArray icc = iccProfileOf(tiff);
    return icc.isEmpty() ? QColorSpace() : QColorSpace::fromIccProfile(icc);
}

// How the stored rows are cut into strips or tiles.
struct StripLayout {
    bool tiled = false;
    uint32_t tileWidth = 0;
    uint32_t rowsPerStrip = 0; // or tile length
    uint16_t compression = COMPRESSION_NONE;
};

StripLayout stripLayoutOf(TIFF* tiff, int height)
{
    StripLayout layout;
    layout.tiled = TIFFIsTiled(tiff);
    if (layout.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &layout.tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &layout.rowsPerStrip);
    } else
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &layout.rowsPerStrip);
    layout.tileWidth = std::max<uint32_t>(layout.tileWidth, 1);
    layout.rowsPerStrip = std::clamp<uint32_t>(layout.rowsPerStrip, 1, uint32_t(height));
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &layout.compression);
    return layout;
}

// Rows of one band: a strip, or a row of tiles, within the cap.
int bandRows(const StripLayout& layout, int width, int height)
{
    const qint64 cap = std::max<qint64>(1, kMaxBandBytes / (qint64(width) * 4));
    return int(std::min<qint64>({qint64(layout.rowsPerStrip), cap, qint64(height)}));
}

// How many stored rows the file really holds: up to the first strip or
// row of tiles that lies past its end. An uncompressed strip cut short
// still gives its whole rows.
int rowsInFile(TIFF* tiff, const StripLayout& layout, const TiffFile& file, int width, int height)
{
    const qint64 stripRows = layout.rowsPerStrip;
    const qint64 across = layout.tiled ? (qint64(width) + layout.tileWidth - 1) / layout.tileWidth : 1;
    const qint64 perPlane = across * ((qint64(height) + stripRows - 1) / stripRows);
    const qint64 rowBytes = qint64(layout.tiled ? TIFFTileRowSize(tiff) : TIFFScanlineSize(tiff));
    qint64 rows = height;
    const qint64 striles = TIFFNumberOfStrips(tiff);
    for (qint64 strile = 0; strile < striles; ++strile) {
        const qint64 offset = qint64(TIFFGetStrileOffset(tiff, uint32_t(strile)));
        const qint64 bytes = qint64(TIFFGetStrileByteCount(tiff, uint32_t(strile)));
        if (offset >= 0 && bytes >= 0 && offset <= file.size - bytes)
            continue;
        const qint64 firstRow = (strile % std::max<qint64>(perPlane, 1)) / across * stripRows;
        const qint64 partial = !layout.tiled && layout.compression == COMPRESSION_NONE && rowBytes > 0
                && offset < file.size
            ? (file.size - offset) / rowBytes : 0;
        rows = std::min(rows, firstRow + partial);
    }
    return int(rows);
}

// libtiff's RGBA is premultiplied: over white, a channel gains what the
// alpha leaves uncovered.
void putBand(UprightWriter& writer, const std::vector<uint32_t>& band, int y, int rows, int width, bool grey,
    std::vector<uchar>& row)
{
    for (int r = 0; r < rows; ++r) {
        const uint32_t* in = band.data() + std::size_t(r) * std::size_t(width);
        for (std::size_t x = 0; x < std::size_t(width); ++x) {
            const int uncovered = 255 - int(TIFFGetA(in[x]));
            if (grey)
                row[x] = uchar(std::min(255, int(TIFFGetR(in[x])) + uncovered));
            else {
                row[3 * x] = uchar(std::min(255, int(TIFFGetR(in[x])) + uncovered));
                row[3 * x + 1] = uchar(std::min(255, int(TIFFGetG(in[x])) + uncovered));
                row[3 * x + 2] = uchar(std::min(255, int(TIFFGetB(in[x])) + uncovered));
            }
        }
        writer.putRow(y + r, row.data());
    }
}

} // namespace

bool looksLikeTiff(std::span<const unsigned char> head)
{
    // Byte order, then 42 (classic TIFF) or 43 (BigTIFF) in that order.
    constexpr unsigned char kMagics[4][4] = {{'I', 'I', 42, 0}, {'M', 'M', 0, 42}, {'I', 'I', 43, 0}, {'M', 'M', 0, 43}};
    return head.size() >= 4 && std::any_of(std::begin(kMagics), std::end(kMagics),
        [head](const unsigned char (&magic)[4]) { return std::memcmp(head.data(), magic, 4) == 0; });
}

DecodedPicture decodeTiff(int fd, const std::string& path, const FileFacts& facts)
{
    TiffDecoding d;
    d.file.fd = fd;
    d.file.size = facts.fileBytes;
    if (!(d.tiff = openTiff(d.file, path, facts)))
        refuse(path, d.file, QT_TRANSLATE_NOOP("reason", "its header is damaged"));
    uint32_t width = 0, height = 0;
    TIFFGetField(d.tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(d.tiff, TIFFTAG_IMAGELENGTH, &height);
    checkSides(path, width, height, std::numeric_limits<int>::max());
    const int w = int(width), h = int(height);
    const bool grey = isGrey(d.tiff);
    const int outputBytes = grey ? 1 : 3;
    // Larger than the picture cache: read in tiles where the file allows.
    const qint64 cacheBytes = pictureCacheBytes(facts.availableBytes);
    if (qint64(w) * h * outputBytes > cacheBytes) {
        // No compression libtiff reads packs more than about 2730:1 (LZW's
        // longest codes), so a file far smaller than that lies about its
        // size, and a pass over its made-up tiles would only spend time.
        constexpr double kMostPackedBytes = 16384;
        checkHoldsEnoughData(path, w, h, 1e6 * outputBytes / kMostPackedBytes, facts.fileBytes);
        TiffTiles tiles = openTiffTiles(d.tiff, fd, path, facts, cacheBytes);
        if (tiles.full)
            return DecodedPicture::inTiles(std::move(tiles.full), tiles.orientation, std::move(tiles.overview));
    }
    const StripLayout layout = stripLayoutOf(d.tiff, h);
    const int rows = bandRows(layout, w, h);
    // The picture, the RGBA band and libtiff's own strip or tile buffer.
    const qint64 libraryRowBytes = layout.tiled ? qint64(TIFFTileRowSize(d.tiff)) : qint64(TIFFScanlineSize(d.tiff));
    const qint64 perRowPixel = qint64(rows) * 4 + qint64(rows) * libraryRowBytes / w + 1;
    checkFitsInMemory(path, w, h, PeakBytes{outputBytes, int(std::min<qint64>(perRowPixel, std::numeric_limits<int>::max()))}, facts);

    char reason[1024] = {};
    if (!TIFFRGBAImageOK(d.tiff, reason) || !TIFFRGBAImageBegin(&d.rgba, d.tiff, 1, reason))
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(reason));
    d.rgbaBegun = true;
    // Rows as stored; the orientation is applied as they are written.
    const int orientation = d.rgba.orientation >= 1 && d.rgba.orientation <= 8 ? d.rgba.orientation : 1;
    d.rgba.req_orientation = uint16_t(orientation);

    const bool swap = swapsSides(orientation);
    QImage image(swap ? h : w, swap ? w : h, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (image.isNull())
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    UprightWriter writer(image, orientation, w, h, outputBytes);
    std::vector<uint32_t> band(std::size_t(w) * std::size_t(rows));
    std::vector<uchar> row(std::size_t(w) * std::size_t(outputBytes));
    const int held = rowsInFile(d.tiff, layout, d.file, w, h);
    d.file.padPastEnd = layout.compression == COMPRESSION_NONE;
    int done = 0;
    while (done < held) {
        const int count = std::min(rows, held - done);
        d.rgba.row_offset = done;
        if (!TIFFRGBAImageGet(&d.rgba, band.data(), width, uint32_t(count)))
            break;
        putBand(writer, band, done, count, w, grey, row);
        done += count;
        facts.reportProgress(done, h);
    }
    if (done == 0)
        refuse(path, d.file, QT_TRANSLATE_NOOP("reason", "the file ends before its first rows"));
    writer.whitenRowsFrom(done);
    if (!grey)
        image.setColorSpace(colourSpaceOf(d.tiff));
    return {std::move(image), QImage()};
}

} // namespace korvane
