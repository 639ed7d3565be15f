// JPEG 2000 (JP2 boxes or a raw codestream) through OpenJPEG, built as a
// module loaded with the first such file. A picture that fits in the cache
// is decoded whole, tile by tile where the codestream has tiles (a damaged
// tile is white, the rest shown); a larger one is read in tiles where shown.
#include "decoder_module.h"
#include "texts.h"

#include "colour_profile.h"
#include "decode_error.h"
#include "jp2_codec.h"
#include "jp2_tiles.h"
#include "library_messages.h"

#include <algorithm>
#include <cstring>

namespace korvane {

namespace {

[[noreturn]] void refuse(const std::string& path, const std::string& message)
{
    raiseDecodeError(DecodeFailure::InvalidPicture, path,
        cannotBeDecoded(message.empty() ? translated("reason", "its data is damaged") : message));
}

QImage pictureFor(int width, int height, int channels)
{
    return QImage(width, height, channels == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
}

std::uint8_t* placeOf(QImage& picture, const Jp2Size& size, const opj_image_t& image)
{
    const int channels = picture.format() == QImage::Format_Grayscale8 ? 1 : 3;
    return picture.bits() + std::ptrdiff_t(image.y0 - size.y0) * picture.bytesPerLine()
        + std::ptrdiff_t(image.x0 - size.x0) * channels;
}

// A codestream of one tile, or one whose tiles do not start at the
// picture's corner: decoded in one call (cut short, it shows what it holds).
QImage decodeInOneCall(Jp2Codec& codec, const Jp2Size& size, const std::string& path, QByteArray& icc)
{
    if (!codec.decodeAll())
        refuse(path, codec.message());
    const opj_image_t& image = *codec.image();
    const Jp2Colour colour = colourOf(image);
    QImage picture = pictureFor(int(size.width()), int(size.height()), colour.channels);
    if (picture.isNull())
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    putJp2Rows(image, colour, placeOf(picture, size, image), std::size_t(picture.bytesPerLine()));
    icc = iccProfileOf(image);
    return picture;
}

// Tile after tile, each at its place: a tile that cannot be decoded is
// white, and the decoder is started again for the next.
QImage decodeTileByTile(std::unique_ptr<Jp2Codec> codec, int fd, const Jp2Size& size, const std::string& path,
    const FileFacts& facts, QByteArray& icc)
{
    const int tiles = int(size.tilesAcross() * size.tilesDown());
    QImage picture;
    for (int index = 0; index < tiles; ++index) {
        if (!codec->decodeTile(index)) {
            if (index == 0)
                refuse(path, codec->message());
            codec = std::make_unique<Jp2Codec>(fd, facts.fileBytes, size.container, 0, jp2Threads());
            if (!codec->readHeader())
                break;
            continue;
        }
        const opj_image_t& image = *codec->image();
        const Jp2Colour colour = colourOf(image);
        if (picture.isNull()) { // the first tile says grey or colour
            picture = pictureFor(int(size.width()), int(size.height()), colour.channels);
            if (picture.isNull())
                raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
            std::memset(picture.bits(), 255, std::size_t(picture.sizeInBytes())); // no painter before the application
            icc = iccProfileOf(image);
        }
        if ((colour.channels == 1) == (picture.format() == QImage::Format_Grayscale8))
            putJp2Rows(image, colour, placeOf(picture, size, image), std::size_t(picture.bytesPerLine()));
        facts.reportProgress(index + 1, tiles);
    }
    return picture;
}

// What OpenJPEG holds beside the picture: every decoded component of a
// tile at 4 bytes a pixel (measured: 15 bytes a pixel in all for a colour
// picture of one tile), twice that while a tile of many is put in place.
PeakBytes wholeDecodePeak(const Jp2Size& size, bool tileByTile)
{
    const int components = int(std::min<std::size_t>(size.components.size(), 4));
    if (!tileByTile)
        return PeakBytes{4 + 4 * components, 0};
    const std::int64_t tileRows = std::min(size.tileHeight, size.height());
    return PeakBytes{3, int(std::min<std::int64_t>(tileRows * 8 * components, 1 << 30))};
}

bool hasOwnTiles(const Jp2Size& size)
{
    return size.tilesAcross() * size.tilesDown() > 1 && size.tilesAlignWithPicture();
}

// OpenJPEG sets up every code-block of a tile before it decodes any area
// of it: 5 s for a tile of 4 gigapixels on this machine's kind, 0.5 s for
// 100 megapixels. Beyond a gigapixel a tile is not read in parts.
bool areasTooSlow(const Jp2Size& size)
{
    constexpr std::int64_t kLargestTileReadInParts = std::int64_t(1) << 30;
    return std::min(size.tileWidth, size.width()) * std::min(size.tileHeight, size.height()) > kLargestTileReadInParts;
}

// Tiles decoded where shown: a picture larger than the cache, and one whose
// own tiles, or whose one tile, make that cheap, so that a large one shows
// from its overview at once instead of after its whole decode (a 96
// megapixel tile: 8.8 s whole, 0.9 s in areas).
bool readInTiles(const Jp2Size& size, std::int64_t cacheBytes)
{
    constexpr std::int64_t kWholeDecodeMostPixels = std::int64_t(8) << 20;
    const std::int64_t pixels = size.width() * size.height();
    const bool oneTile = size.tilesAcross() * size.tilesDown() == 1;
    if (!hasOwnTiles(size) && areasTooSlow(size))
        return false;
    return pixels * 3 > cacheBytes || ((hasOwnTiles(size) || oneTile) && pixels > kWholeDecodeMostPixels);
}

} // namespace

DecodedPicture decodeJp2(int fd, const std::string& path, const FileFacts& facts)
{
    const std::optional<Jp2Size> size = readJp2Size(fd, facts.fileBytes);
    if (!size)
        refuse(path, translated("reason", "its header is damaged"));
    checkJp2Size(path, *size);
    const LibraryMessages messages;
    const std::int64_t width = size->width(), height = size->height();
    const std::int64_t cacheBytes = pictureCacheBytes(facts.availableBytes);
    if (readInTiles(*size, cacheBytes)) {
        std::shared_ptr<Jp2TileSource> tiles = openJp2Tiles(fd, facts, *size);
        if (!tiles)
            raiseDecodeError(DecodeFailure::FileUnreadable, path, cannotBeRead());
        // The overview's decode applies the palette and finds the profile:
        // the tiles follow it.
        const Jp2Overview overview = jp2Overview(fd, facts, *size, cacheBytes / 2, *tiles);
        if (overview.failed)
            refuse(path, overview.message);
        showAs(*tiles, overview.channels, overview.icc);
        return DecodedPicture::inTiles(asTileSource(std::move(tiles)), 1, overview.tiles);
    }
    auto codec = std::make_unique<Jp2Codec>(fd, facts.fileBytes, size->container, 0, jp2Threads());
    if (!codec->readHeader())
        refuse(path, codec->message());
    const bool tileByTile = hasOwnTiles(*size);
    checkFitsInMemory(path, width, height, wholeDecodePeak(*size, tileByTile), facts,
        areasTooSlow(*size) ? translated("reason", "its tiles of over a gigapixel cannot be read in parts") : std::string());
    QByteArray icc;
    QImage picture = tileByTile ? decodeTileByTile(std::move(codec), fd, *size, path, facts, icc)
                                : decodeInOneCall(*codec, *size, path, icc);
    return {applyColourProfile(std::move(picture), ColourProfile{icc, QColorSpace()}), QImage()};
}

} // namespace korvane

extern "C" const korvane::DecoderModule korvane_decoder_module = {&korvane::decodeJp2};
