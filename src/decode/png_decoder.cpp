// PNG through libpng, and ISA-L's inflate on a second core for the
// commonest kind: 8-bit RGB or grey straight into the picture's rows;
// transparent pixels laid over white as each row arrives.
#include "decoders.h"
#include "texts.h"

#include "byte_order.h"
#include "colour_profile.h"
#include "decode_error.h"
#include "image_normalize.h"
#include "orientation.h"
#include "read_at.h"
#include "png_bands.h"
#include "png_rows.h"
#include "png_row_inflater.h"
#include "row_sink.h"

#include <QColorSpace>
#include <QPointF>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <unistd.h>
#include <vector>

#include <png.h>

namespace korvane {

namespace {

constexpr png_alloc_size_t kMaxChunkBytes = 32 << 20;

struct PngDecoding {
    png_structp png = nullptr;
    png_infop info = nullptr;
    int fd = -1;
    char message[256] = {};
    std::optional<RowSink> sink;
    // Buffers live here, not in the frames libpng may jump out of.
    std::vector<png_byte> row, flat;
    int storedWidth = 0, storedHeight = 0;
    int inputBytes = 0;   // a decoded row's bytes per pixel: 1 to 4
    int outputBytes = 0;  // the picture's: 1 or 3
    double storedRowBytes = 0; // as deflated, filter byte included
    bool interlaced = false;
    bool plainBytes = false; // 8-bit grey or RGB, with or without alpha, no tRNS: stored as decoded
    int passes = 1;
    int passesDone = 0; // of an interlaced file
    std::vector<png_byte> staging; // a whole interlaced picture before it is flattened or turned
    uchar* pictureRows = nullptr;  // or the picture's own rows, when it needs neither
    qsizetype pictureStride = 0;
    int orientation = 1;
    ~PngDecoding() { png_destroy_read_struct(&png, &info, nullptr); }
};

[[noreturn]] void onError(png_structp png, png_const_charp message)
{
    auto* d = static_cast<PngDecoding*>(png_get_error_ptr(png));
    std::snprintf(d->message, sizeof d->message, "%s", message);
    png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void readData(png_structp png, png_bytep out, size_t length)
{
    auto* d = static_cast<PngDecoding*>(png_get_io_ptr(png));
    while (length > 0) {
        const ssize_t count = ::read(d->fd, out, length);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            png_error(png, QT_TRANSLATE_NOOP("reason", "the file ends early"));
        out += count;
        length -= static_cast<size_t>(count);
    }
}

// What a decoded row will hold once everything is expanded to 8 bits a
// channel, from the header alone: nothing is allocated yet.
void describeRows(PngDecoding& d)
{
    const int colourType = png_get_color_type(d.png, d.info);
    const bool transparent = png_get_valid(d.png, d.info, PNG_INFO_tRNS) != 0;
    const bool grey = (colourType & PNG_COLOR_MASK_COLOR) == 0;
    const bool alpha = (colourType & PNG_COLOR_MASK_ALPHA) != 0 || transparent;
    d.inputBytes = (grey ? 1 : 3) + (alpha ? 1 : 0);
    d.outputBytes = grey ? 1 : 3;
    d.interlaced = png_get_interlace_type(d.png, d.info) != PNG_INTERLACE_NONE;
    d.plainBytes = png_get_bit_depth(d.png, d.info) == 8 && !transparent && colourType != PNG_COLOR_TYPE_PALETTE;
}

// Expands everything to 8 bits a channel; libpng takes its row buffers here.
void chooseTransforms(PngDecoding& d)
{
    png_structp png = d.png;
    png_infop info = d.info;
    const int colourType = png_get_color_type(png, info);
    if (png_get_bit_depth(png, info) == 16)
        png_set_strip_16(png);
    if (colourType == PNG_COLOR_TYPE_PALETTE)
        png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && png_get_bit_depth(png, info) < 8)
        png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS))
        png_set_tRNS_to_alpha(png);
    d.passes = d.interlaced ? png_set_interlace_handling(png) : 1;
    png_read_update_info(png, info);
}

// cHRM's chromaticities, when they differ from sRGB's by more than the
// rounding of the usual writers.
std::optional<QColorSpace> chromaticitiesOf(png_structp png, png_infop info, float decodingGamma)
{
    double wx = 0, wy = 0, rx = 0, ry = 0, gx = 0, gy = 0, bx = 0, by = 0;
    if (!png_get_cHRM(png, info, &wx, &wy, &rx, &ry, &gx, &gy, &bx, &by))
        return std::nullopt;
    const double srgb[8] = {0.3127, 0.3290, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    const double given[8] = {wx, wy, rx, ry, gx, gy, bx, by};
    bool same = true;
    for (int i = 0; i < 8; ++i)
        same = same && std::abs(given[i] - srgb[i]) < 0.001;
    if (same)
        return std::nullopt;
    return QColorSpace(QPointF(wx, wy), QPointF(rx, ry), QPointF(gx, gy), QPointF(bx, by),
        QColorSpace::TransferFunction::Gamma, decodingGamma);
}

// iCCP first, then sRGB, then gAMA and cHRM: the order in which a PNG
// names its colour, each one overriding the ones after it.
ColourProfile colourProfileOf(png_structp png, png_infop info)
{
    png_charp name = nullptr;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    int compression = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile)
        return {QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length)), {}};
    if (png_get_valid(png, info, PNG_INFO_sRGB))
        return {};
    double gamma = 0;
    const bool hasGamma = png_get_gAMA(png, info, &gamma) && gamma > 0;
    const bool srgbGamma = !hasGamma || std::abs(gamma - 1 / 2.2) < 0.01;
    const float decodingGamma = srgbGamma ? 2.2f : static_cast<float>(1 / gamma);
    if (std::optional<QColorSpace> chromaticities = chromaticitiesOf(png, info, decodingGamma))
        return {{}, *chromaticities};
    if (!srgbGamma)
        return {{}, QColorSpace(QColorSpace::Primaries::SRgb, decodingGamma)};
    return {};
}

int orientationOf(png_structp png, png_infop info)
{
    png_bytep exif = nullptr;
    png_uint_32 length = 0;
    if (png_get_eXIf_1(png, info, &length, &exif) && exif)
        return tiffOrientation({exif, length});
    return 1;
}

void readRows(PngDecoding& d, const FileFacts& facts)
{
    const bool hasAlpha = d.inputBytes == 2 || d.inputBytes == 4;
    d.row.resize(static_cast<size_t>(d.storedWidth) * static_cast<size_t>(d.inputBytes));
    d.flat.resize(hasAlpha ? static_cast<size_t>(d.storedWidth) * static_cast<size_t>(d.outputBytes) : 0);
    while (d.sink->rowsDone() < d.storedHeight) {
        uchar* direct = hasAlpha ? nullptr : d.sink->nextPictureRow();
        const png_bytep row = direct ? direct : d.row.data();
        png_read_row(d.png, row, nullptr);
        if (hasAlpha)
            flattenRowOverWhite(row, d.flat.data(), d.storedWidth, d.inputBytes);
        d.sink->put(hasAlpha ? d.flat.data() : row, facts);
    }
}

// The commonest PNGs (8-bit grey or RGB, with or without alpha, not
// interlaced) are decoded on two cores: the image data is inflated on a
// thread of its own while this one undoes the row filters, lays alpha over
// white and hands the rows on. libpng does both on one core, and alone is
// only as fast as the fastest peer viewer. Everything else goes through
// libpng.
bool takesTwoCores(const PngDecoding& d)
{
    return d.plainBytes && !d.interlaced && std::thread::hardware_concurrency() > 1;
}

void readRowsOnTwoCores(PngDecoding& d, const FileFacts& facts)
{
    const std::optional<ImageDataChunk> first = firstImageDataChunk(d.fd);
    if (!first)
        return;
    const bool hasAlpha = d.inputBytes == 2 || d.inputBytes == 4;
    const std::size_t rowBytes = std::size_t(d.storedWidth) * std::size_t(d.inputBytes);
    RowInflater inflater(d.fd, first->data, first->length, rowBytes + 1, d.storedHeight);
    std::vector<std::uint8_t> above(rowBytes, 0), row(rowBytes);
    d.flat.resize(hasAlpha ? std::size_t(d.storedWidth) * std::size_t(d.outputBytes) : 0);
    for (int y = 0; y < d.storedHeight; ++y) {
        const std::uint8_t* filtered = inflater.waitForRow(y);
        if (!filtered || !unfilterPngRow(filtered, above.data(), row.data(), rowBytes, d.inputBytes))
            return; // the rest is white, as libpng leaves it
        if (hasAlpha)
            flattenRowOverWhite(row.data(), d.flat.data(), d.storedWidth, d.inputBytes);
        d.sink->put(hasAlpha ? d.flat.data() : row.data(), facts);
        above.swap(row);
    }
}

// An interlaced picture's rows are whole only after the last pass; each
// pass is drawn as blocks over the rows it does not cover yet, so a file cut
// short shows the whole picture, coarser.
bool needsStaging(const PngDecoding& d)
{
    return d.inputBytes != d.outputBytes || d.orientation != 1;
}

// The passes land in the staging rows, or straight in the picture when it
// is upright and opaque; the sink takes the rows once the passes end.
png_bytep interlacedRow(PngDecoding& d, int y)
{
    if (needsStaging(d))
        return d.staging.data() + static_cast<size_t>(y) * static_cast<size_t>(d.storedWidth) * static_cast<size_t>(d.inputBytes);
    return d.pictureRows + qsizetype(y) * d.pictureStride;
}

void readInterlacedRows(PngDecoding& d, const FileFacts& facts)
{
    if (needsStaging(d)) {
        d.staging.assign(static_cast<size_t>(d.storedWidth) * static_cast<size_t>(d.storedHeight)
            * static_cast<size_t>(d.inputBytes), 0xFF);
    } else {
        d.pictureRows = d.sink->nextPictureRow();
        d.pictureStride = d.sink->pictureStride();
        std::memset(d.pictureRows, 0xFF, static_cast<size_t>(d.pictureStride * d.storedHeight));
    }
    for (; d.passesDone < d.passes; ++d.passesDone) {
        for (int y = 0; y < d.storedHeight; ++y)
            png_read_row(d.png, nullptr, interlacedRow(d, y));
        facts.reportProgress(d.passesDone + 1, d.passes);
    }
}

// What the passes left, flattened and turned where needed, to the sink.
void finishInterlaced(PngDecoding& d, const FileFacts& facts)
{
    d.flat.resize(static_cast<size_t>(d.storedWidth) * static_cast<size_t>(d.outputBytes));
    for (int y = d.sink->rowsDone(); y < d.storedHeight; ++y) {
        const png_bytep row = interlacedRow(d, y);
        if (d.inputBytes != d.outputBytes)
            flattenRowOverWhite(row, d.flat.data(), d.storedWidth, d.inputBytes);
        d.sink->put(d.inputBytes != d.outputBytes ? d.flat.data() : row, facts);
    }
    std::vector<png_byte>().swap(d.staging);
}

// The rows decoded (every pass drawn so far, for an interlaced file), the
// rest white, in the picture's own colour.
DecodedPicture finished(PngDecoding& d, const FileFacts& facts)
{
    if (d.interlaced)
        finishInterlaced(d, facts);
    DecodedPicture picture = d.sink->finish();
    const ColourProfile profile = colourProfileOf(d.png, d.info);
    return {applyColourProfile(std::move(picture.image), profile),
        applyColourProfile(std::move(picture.reduced), profile)};
}

// What the whole decode holds at its peak. libpng's rows: the stored row
// and the previous one (up to 8 bytes a pixel), our row and its flattened
// copy.
PeakBytes wholePeak(const PngDecoding& d)
{
    return {d.outputBytes + (d.interlaced && needsStaging(d) ? d.inputBytes : 0), 16 + 4 + 3};
}

// The least the file's image data can hold for the header's claim.
double leastDataBytesPerMegapixel(const PngDecoding& d)
{
    return d.storedRowBytes / d.storedWidth * 1e6 / kMaxDeflateRatio;
}

// Every claim of the header, before libpng or the picture takes memory for
// it.
void checkClaims(PngDecoding& d, const std::string& path, const FileFacts& facts)
{
    checkSides(path, d.storedWidth, d.storedHeight, PNG_UINT_31_MAX);
    checkFitsInMemory(path, d.storedWidth, d.storedHeight, wholePeak(d), facts);
    checkHoldsEnoughData(path, d.storedWidth, d.storedHeight, leastDataBytesPerMegapixel(d), facts.fileBytes);
}

// The header's format as the band reader takes it, once libpng has read
// up to the first image data chunk.
std::optional<PngFormat> bandFormatOf(const PngDecoding& d)
{
    PngFormat f;
    f.width = d.storedWidth;
    f.height = d.storedHeight;
    f.bitDepth = png_get_bit_depth(d.png, d.info);
    f.colourType = png_get_color_type(d.png, d.info);
    f.interlaced = d.interlaced;
    png_colorp palette = nullptr;
    int colours = 0;
    if (png_get_PLTE(d.png, d.info, &palette, &colours) && palette)
        for (int i = 0; i < colours; ++i)
            f.palette.insert(f.palette.end(), {palette[i].red, palette[i].green, palette[i].blue});
    png_bytep alpha = nullptr;
    int alphas = 0;
    png_color_16p key = nullptr;
    if (png_get_tRNS(d.png, d.info, &alpha, &alphas, &key)) {
        if (f.colourType == PNG_COLOR_TYPE_PALETTE && alpha)
            f.paletteAlpha.assign(alpha, alpha + alphas);
        else if (key && (f.colourType == PNG_COLOR_TYPE_GRAY || f.colourType == PNG_COLOR_TYPE_RGB)) {
            f.hasKey = true;
            f.key[0] = f.colourType == PNG_COLOR_TYPE_GRAY ? key->gray : key->red;
            f.key[1] = key->green;
            f.key[2] = key->blue;
        }
    }
    f.profile = colourProfileOf(d.png, d.info);
    const std::optional<ImageDataChunk> first = firstImageDataChunk(d.fd);
    if (!first)
        return std::nullopt;
    f.firstChunk = *first;
    return f;
}

// A picture that cannot be held whole, or whose whole decode would not
// fit the picture cache (memory stays flat at any size), is read in bands;
// null otherwise.
std::shared_ptr<TileSource> bandsOf(const PngDecoding& d, const std::string& path, const FileFacts& facts)
{
    if (decodesWhole(d.storedWidth, d.storedHeight, d.outputBytes, wholePeak(d), facts))
        return nullptr;
    checkSides(path, d.storedWidth, d.storedHeight, PNG_UINT_31_MAX);
    // A file too small for its claim is refused as too large, as the
    // whole decode would refuse it.
    if (!holdsEnoughData(d.storedWidth, d.storedHeight, leastDataBytesPerMegapixel(d), facts.fileBytes))
        return nullptr;
    const std::optional<PngFormat> format = bandFormatOf(d);
    if (!format)
        return nullptr;
    return openPngBands(d.fd, path, facts, *format, bandBytes(facts.availableBytes));
}

} // namespace

bool looksLikePng(std::span<const unsigned char> head)
{
    return head.size() >= 8 && png_sig_cmp(head.data(), 0, 8) == 0;
}

DecodedPicture decodePng(int fd, const std::string& path, const FileFacts& facts)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return {};
    auto d = std::make_unique<PngDecoding>();
    d->fd = fd;
    d->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, d.get(), onError, onWarning);
    if (!d->png || !(d->info = png_create_info_struct(d->png)))
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    if (setjmp(png_jmpbuf(d->png))) {
        // A file cut short or damaged part-way still shows the rows read.
        if (!d->sink || (d->sink->rowsDone() == 0 && d->passesDone == 0))
            raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", d->message)));
        return finished(*d, facts);
    }
    png_set_read_fn(d->png, d.get(), readData);
    png_set_user_limits(d->png, PNG_UINT_31_MAX, PNG_UINT_31_MAX); // checked below, before any row buffer
    // Text is never shown, and a compressed text chunk can inflate to
    // gigabytes: skip it. Other chunks (a colour profile) stay bounded.
    static const png_byte kText[] = "tEXt\0zTXt\0iTXt";
    png_set_keep_unknown_chunks(d->png, PNG_HANDLE_CHUNK_NEVER, kText, 3);
    png_set_chunk_malloc_max(d->png, kMaxChunkBytes);
    png_read_info(d->png, d->info);
    d->storedWidth = static_cast<int>(png_get_image_width(d->png, d->info));
    d->storedHeight = static_cast<int>(png_get_image_height(d->png, d->info));
    d->storedRowBytes = double(png_get_rowbytes(d->png, d->info)) + 1;
    describeRows(*d);
    d->orientation = orientationOf(d->png, d->info);
    if (std::shared_ptr<TileSource> bands = bandsOf(*d, path, facts))
        return DecodedPicture::inTiles(std::move(bands), d->orientation);
    checkClaims(*d, path, facts);
    chooseTransforms(*d);
    // The header's checksums were checked. The image data's checksums
    // (CRC-32 over every chunk, Adler-32 over the inflated rows) are read
    // only after the rows they cover, which are shown whatever they say:
    // computing them costs a tenth of the decode and changes nothing.
    png_set_crc_action(d->png, PNG_CRC_QUIET_USE, PNG_CRC_QUIET_USE);
    png_set_option(d->png, PNG_IGNORE_ADLER32, PNG_OPTION_ON);
    d->sink.emplace(path, d->storedWidth, d->storedHeight, d->orientation, d->outputBytes);
    if (d->interlaced)
        readInterlacedRows(*d, facts);
    else if (takesTwoCores(*d))
        readRowsOnTwoCores(*d, facts);
    else
        readRows(*d, facts);
    return finished(*d, facts);
}

} // namespace korvane
