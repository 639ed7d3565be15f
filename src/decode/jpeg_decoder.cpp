// JPEG through libjpeg-turbo's own interface: colour files into their Y,
// Cb and Cr planes as stored (made into RGB where they are shown); grey,
// RGB-coded and CMYK files straight into the picture's rows, turned
// upright row by row. The embedded colour profile is kept for the
// conversion to sRGB.
#include "decoders.h"
#include "texts.h"

#include "colour_profile.h"
#include "decode_error.h"
#include "owned_fd.h"
#include "jpeg_bands.h"
#include "jpeg_errors.h"
#include "jpeg_layouts.h"
#include "jpeg_planes.h"
#include "orientation.h"
#include "read_at.h"
#include "row_fill.h"
#include "row_sink.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>
#include <memory>
#include <optional>
#include <vector>

#include <jpeglib.h>

namespace korvane {

namespace {

// Fewer bytes than this per megapixel cannot be a whole Huffman-coded JPEG:
// its first scan spends at least one bit on each 8 x 8 block of the first
// component, 1953 bytes a megapixel; a quarter of that leaves room for
// headers counted in. Arithmetic coding adapts to flat data and has no such
// floor: only memory decides there.
constexpr double kMinHuffmanBytesPerMegapixel = 500;

// Reads the descriptor in large blocks at its own position, so that two
// decoders can read one file at once; at its end, an end-of-image marker
// stands in for the missing data.
struct FileSource {
    jpeg_source_mgr base;
    int fd;
    off_t position;
    bool ended;
    JOCTET buffer[1 << 16];
};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo)
{
    auto* source = reinterpret_cast<FileSource*>(cinfo->src);
    std::size_t count = readAt(source->fd, source->position, source->buffer, sizeof source->buffer);
    source->position += off_t(count);
    if (count == 0) {
        source->ended = true;
        source->buffer[0] = 0xFF;
        source->buffer[1] = JPEG_EOI;
        count = 2;
    }
    source->base.next_input_byte = source->buffer;
    source->base.bytes_in_buffer = static_cast<size_t>(count);
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count)
{
    auto* source = reinterpret_cast<FileSource*>(cinfo->src);
    if (count <= 0)
        return;
    if (static_cast<size_t>(count) <= source->base.bytes_in_buffer) {
        source->base.next_input_byte += count;
        source->base.bytes_in_buffer -= static_cast<size_t>(count);
        return;
    }
    source->position += static_cast<off_t>(count - static_cast<long>(source->base.bytes_in_buffer));
    source->base.bytes_in_buffer = 0;
}

// Everything the decoding touches lives here, outside the frame that
// setjmp returns to.
struct JpegDecoding {
    jpeg_decompress_struct cinfo {};
    JpegErrors errors {};
    FileSource source {};
    std::optional<RowSink> sink;
    std::vector<JOCTET> row;
    int storedWidth = 0, storedHeight = 0, pixelBytes = 0;
    int orientation = 1;
    bool cmyk = false;
    bool inverted = false; // CMYK stored as Adobe writes it
    bool inPlanes = false; // a colour file kept as its Y, Cb and Cr planes
    std::shared_ptr<YcbcrPlanes> planes;
    QByteArray iccProfile;
    std::unique_ptr<CmykToSrgb> cmykToSrgb; // when the file's profile is a CMYK one
    std::vector<JOCTET> rgbRow;             // its output
    // A picture shown before it is whole: the picture, its whole-picture
    // decoder, and the overview's copy this decoder makes.
    QImage image;
    std::shared_ptr<RowFill> fill;
    QImage scaled;
    int rowsDone = 0, rowsPublished = 0;
    bool created = false;
    // libjpeg's pools are freed however decoding ends, a C++ exception included.
    ~JpegDecoding()
    {
        if (created)
            jpeg_destroy_decompress(&cinfo);
    }
};

void attachSource(JpegDecoding& d, int fd)
{
    d.source.fd = fd;
    d.source.base.init_source = initSource;
    d.source.base.fill_input_buffer = fillInput;
    d.source.base.skip_input_data = skipInput;
    d.source.base.resync_to_restart = jpeg_resync_to_restart;
    d.source.base.term_source = termSource;
    d.cinfo.src = &d.source.base;
}

void readMetadata(JpegDecoding& d)
{
    for (jpeg_saved_marker_ptr marker = d.cinfo.marker_list; marker; marker = marker->next)
        if (marker->marker == JPEG_APP0 + 1 && d.orientation == 1)
            d.orientation = exifOrientation({marker->data, marker->data_length});
    JOCTET* icc = nullptr;
    unsigned int iccLength = 0;
    if (jpeg_read_icc_profile(&d.cinfo, &icc, &iccLength) && icc) {
        d.iccProfile = QByteArray(reinterpret_cast<const char*>(icc), static_cast<qsizetype>(iccLength));
        std::free(icc);
    }
}

// CMYK to RGB in place (the RGB row is the front of the CMYK one), for a
// file without a CMYK profile. Adobe's files store the inks inverted (255
// is no ink); others store them as they are.
void cmykToRgb(JOCTET* row, int width, bool inverted)
{
    for (int x = 0; x < width; ++x) {
        const JOCTET* in = row + 4 * std::ptrdiff_t(x);
        const int flip = inverted ? 0 : 255;
        const int k = std::abs(flip - in[3]);
        for (int c = 0; c < 3; ++c)
            row[3 * x + c] = static_cast<JOCTET>((std::abs(flip - in[c]) * k + 127) / 255);
    }
}

// Decodes every row it can; once the data has run out, the rows left are
// the panels' white rather than made-up pixels.
void readRows(JpegDecoding& d, const FileFacts& facts)
{
    jpeg_decompress_struct& cinfo = d.cinfo;
    const int width = static_cast<int>(cinfo.output_width), height = static_cast<int>(cinfo.output_height);
    const bool cmyk = d.cmyk;
    d.row.resize(static_cast<size_t>(width) * static_cast<size_t>(cinfo.output_components));
    const bool dataCanEndEarly = !jpeg_has_multiple_scans(&cinfo);
    while (static_cast<int>(cinfo.output_scanline) < height) {
        if (dataCanEndEarly && d.source.ended)
            return;
        uchar* direct = cmyk ? nullptr : d.sink->nextPictureRow();
        JSAMPROW rows[1] = {direct ? direct : d.row.data()};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1)
            return;
        const JOCTET* rgb = rows[0];
        if (cmyk && d.cmykToSrgb) {
            d.rgbRow.resize(std::size_t(width) * 3);
            d.cmykToSrgb->convertRow(d.row.data(), d.rgbRow.data(), width);
            rgb = d.rgbRow.data();
        } else if (cmyk) {
            cmykToRgb(d.row.data(), width, d.inverted);
        }
        d.sink->put(rgb, facts);
    }
}

// The rows decoded, the rest white, in the picture's own colour (a CMYK
// one is already sRGB).
DecodedPicture finished(JpegDecoding& d)
{
    DecodedPicture picture = d.sink->finish();
    if (d.cmyk)
        return picture;
    const ColourProfile profile{d.iccProfile, {}};
    return {applyColourProfile(std::move(picture.image), profile),
        applyColourProfile(std::move(picture.reduced), profile)};
}

// What the decoded picture takes a pixel: its planes, or its rows.
int pictureBytesPerPixel(const JpegDecoding& d)
{
    return d.inPlanes ? YcbcrPlanes::bytesPerPixel(d.cinfo) : d.pixelBytes;
}

// What libjpeg holds of a file in several scans to decode it whole: every
// block's coefficients (64 of 2 bytes), beside the picture.
qint64 coefficientBytes(jpeg_decompress_struct& cinfo)
{
    qint64 bytes = 0;
    if (jpeg_has_multiple_scans(&cinfo))
        for (int c = 0; c < cinfo.num_components; ++c)
            bytes += qint64(cinfo.comp_info[c].width_in_blocks) * cinfo.comp_info[c].height_in_blocks * 128;
    return bytes;
}

// A file not decoded whole (its decode larger than the picture cache, or
// than memory) is read in bands: grey or colour, one baseline scan entered
// at restart markers at the starts of MCU rows or, without markers, where
// one pass of Huffman decoding finds the rows; or several scans, where one
// pass finds the rows in each. Null when it is decoded whole (or is refused
// as too large, with the reason it cannot be read in bands).
std::shared_ptr<TileSource> bandsOf(JpegDecoding& d, const std::string& path, const FileFacts& facts)
{
    const bool scans = jpeg_has_multiple_scans(&d.cinfo);
    const PeakBytes whole{pictureBytesPerPixel(d), 4 + 16 * 4};
    const double pixels = double(d.storedWidth) * double(d.storedHeight);
    const qint64 coefficients = coefficientBytes(d.cinfo);
    FileFacts left = facts;
    left.availableBytes -= coefficients;
    if (d.cmyk
        || decodesWhole(d.storedWidth, d.storedHeight, pictureBytesPerPixel(d) + double(coefficients) / pixels,
            whole, left))
        return nullptr;
    checkSides(path, d.storedWidth, d.storedHeight, JPEG_MAX_DIMENSION);
    // A file too small for its claim is refused as too large, as the
    // whole decode would refuse it.
    if (!d.cinfo.arith_code
        && !holdsEnoughData(d.storedWidth, d.storedHeight, kMinHuffmanBytesPerMegapixel, facts.fileBytes))
        return nullptr;
    const jpeg_decompress_struct& cinfo = d.cinfo;
    JpegFormat format;
    format.width = d.storedWidth;
    format.height = d.storedHeight;
    format.channels = d.pixelBytes;
    format.mcuWidth = cinfo.num_components > 1 ? cinfo.max_h_samp_factor * DCTSIZE : DCTSIZE;
    format.mcuHeight = cinfo.num_components > 1 ? cinfo.max_v_samp_factor * DCTSIZE : DCTSIZE;
    format.restartInterval = cinfo.restart_interval;
    format.entropyStart = d.source.position - off_t(d.source.base.bytes_in_buffer);
    format.icc = d.iccProfile;
    if (scans)
        format.scans = scanFrameOf(cinfo);
    else if (format.restartInterval == 0)
        format.entropy = entropyLayoutOf(cinfo);
    if (scans && !format.scans)
        return nullptr;
    std::shared_ptr<TileSource> bands
        = openJpegBands(d.source.fd, path, facts, format, bandBytes(facts.availableBytes));
    if (!bands)
        checkFitsInMemory(path, d.storedWidth, d.storedHeight, whole, left,
            scans ? translated("reason", "in several scans, its index of them would not fit in memory, so it cannot be read in parts")
                  : translated("reason", "without restart markers at the starts of its rows, it cannot be read in parts"));
    return bands;
}

// The header's claims, checked before any pixel memory is taken.
void checkClaims(JpegDecoding& d, const std::string& path, const FileFacts& facts)
{
    checkSides(path, d.storedWidth, d.storedHeight, JPEG_MAX_DIMENSION);
    FileFacts left = facts;
    left.availableBytes -= coefficientBytes(d.cinfo);
    // Row buffers: our row (up to 4 bytes a pixel for CMYK) and libjpeg's
    // upsampling and conversion rows, a few per component.
    checkFitsInMemory(path, d.storedWidth, d.storedHeight, PeakBytes{pictureBytesPerPixel(d), 4 + 16 * 4}, left);
    if (!d.cinfo.arith_code)
        checkHoldsEnoughData(path, d.storedWidth, d.storedHeight, kMinHuffmanBytesPerMegapixel, facts.fileBytes);
    const qint64 pictureBytes = qint64(d.storedWidth) * d.storedHeight * pictureBytesPerPixel(d);
    d.cinfo.mem->max_memory_to_use = static_cast<long>(std::max<qint64>(facts.availableBytes - pictureBytes, 1 << 20));
}


// The picture shown before it is whole. A baseline file is decoded twice at
// once: whole, into the picture, on a thread of its own, and here at 1/2,
// 1/4 or 1/8 of its size by libjpeg's DCT scaling, for the overview. The
// whole picture's rows are handed over as they are decoded, so the detail
// view's first rows are ready long before the last ones.

// Where the whole-picture decoder writes. Set up before the picture is
// handed over: it writes through these pointers only, never through an
// image the program holds.
struct WholePictureJob {
    std::shared_ptr<OwnedFd> file;
    std::shared_ptr<YcbcrPlanes> planes; // or else RGB or grey rows, through the rest
    UprightWriter writer;
    uchar* bits;
    qsizetype stride;
    int width, height, orientation, pixelBytes; // stored upright or mirrored: its sides as shown
    ColourProfile profile;
    long maxMemory;
};

constexpr int kRowsPerPublish = 16;
// A smaller picture is decoded whole before the program's window is up,
// and a second, scaled decode would only take a core from it.
constexpr qint64 kStreamFromPixels = 4'000'000;

// As stored or mirrored: rows become final in their upright order.
bool keepsRowOrder(int orientation)
{
    return orientation <= 2;
}

// The smallest DCT scale whose copy is near the overview's size on the
// side the overview fits (a landscape picture's width, any other's
// height); 0 when the picture is too small for one, when the early copy
// would cost a second whole-file buffer (progressive) or a second CMYK
// conversion, or when the picture is stored turned: its first upright rows
// would come only with the last stored ones, and the second decode would
// only slow the whole one.
int overviewScale(JpegDecoding& d, const FileFacts& facts)
{
    if (facts.overviewSides.isEmpty() || d.cmyk || jpeg_has_multiple_scans(&d.cinfo)
        || qint64(d.storedWidth) * d.storedHeight < kStreamFromPixels || !keepsRowOrder(d.orientation))
        return 0;
    const bool landscape = d.storedWidth > d.storedHeight; // upright or mirrored: as shown
    const qint64 side = landscape ? d.storedWidth : d.storedHeight;
    const qint64 wanted = landscape ? facts.overviewSides.width() : facts.overviewSides.height();
    // A copy up to three eighths smaller than the overview is enlarged for
    // the first frame: the exact overview follows once the picture is
    // whole, a few tens of milliseconds later, and a scale of 1/4 costs the
    // copy half as much again as 1/8 (a 6000 x 4000 photo: 110 ms against
    // 70 on one core). So a phone's 4000 x 3000 photo (500 pixels wide at
    // 1/8, for an overview of 800) is on the screen about 10 ms sooner.
    for (const int scale : {8, 4, 2})
        if (wanted * 5 * scale <= side * 8)
            return scale;
    return 0;
}

void publishRows(const WholePictureJob& job, const SrgbRows& colour, RowFill& fill, int first, int end)
{
    colour.convert(job.bits + qsizetype(first) * job.stride, job.stride, job.width, end - first);
    fill.publish(end);
}

void readWholeRows(JpegDecoding& d, const WholePictureJob& job, RowFill& fill, const SrgbRows& colour)
{
    UprightWriter writer = job.writer;
    d.row.resize(std::size_t(job.width) * std::size_t(job.pixelBytes));
    while (d.rowsDone < job.height && !fill.stopRequested() && !d.source.ended) {
        uchar* direct = job.orientation == 1 ? job.bits + qsizetype(d.rowsDone) * job.stride : nullptr;
        JSAMPROW rows[1] = {direct ? direct : d.row.data()};
        if (jpeg_read_scanlines(&d.cinfo, rows, 1) != 1)
            return;
        if (!direct)
            writer.putRow(d.rowsDone, rows[0]);
        ++d.rowsDone;
        if (d.rowsDone - d.rowsPublished >= kRowsPerPublish) {
            publishRows(job, colour, fill, d.rowsPublished, d.rowsDone);
            d.rowsPublished = d.rowsDone;
        }
    }
}

// The planes band by band, each handed over as it is decoded.
void readWholePlanes(JpegDecoding& d, YcbcrPlanes& planes, RowFill& fill)
{
    while (!fill.stopRequested() && !d.source.ended && planes.readBand(d.cinfo))
        fill.publish(planes.rowsDone());
}

// Runs on the fill's thread. Every row is published however decoding ends:
// what the file could not give is white, as in a whole decode.
void decodeWholePicture(const WholePictureJob& job, RowFill& fill)
{
    auto d = std::make_unique<JpegDecoding>();
    // Planes take their colour where they are drawn; rows here.
    std::optional<SrgbRows> colour;
    if (!job.planes)
        colour.emplace(job.profile, job.pixelBytes == 1);
    useJpegErrors(d->cinfo, d->errors);
    if (setjmp(d->errors.jump) == 0) {
        jpeg_create_decompress(&d->cinfo);
        d->created = true;
        attachSource(*d, job.file->fd);
        jpeg_read_header(&d->cinfo, TRUE);
        d->cinfo.out_color_space = job.planes ? JCS_YCbCr : job.pixelBytes == 1 ? JCS_GRAYSCALE : JCS_RGB;
        d->cinfo.raw_data_out = job.planes ? TRUE : FALSE;
        d->cinfo.mem->max_memory_to_use = job.maxMemory;
        jpeg_start_decompress(&d->cinfo);
        if (job.planes)
            readWholePlanes(*d, *job.planes, fill);
        else
            readWholeRows(*d, job, fill, *colour);
    }
    if (fill.stopRequested())
        return;
    if (job.planes) {
        job.planes->whitenFrom(job.planes->rowsDone());
        fill.publish(job.height);
        return;
    }
    UprightWriter writer = job.writer;
    writer.whitenRowsFrom(d->rowsDone);
    publishRows(job, *colour, fill, d->rowsPublished, job.height);
}

// The overview's copy, upright and in sRGB; rows the file could not give
// are white.
QImage finishScaled(JpegDecoding& d)
{
    QImage& stored = d.scaled;
    const qsizetype rowBytes = qsizetype(stored.width()) * d.pixelBytes;
    for (int y = d.rowsDone; y < stored.height(); ++y)
        std::memset(stored.scanLine(y), 0xFF, static_cast<std::size_t>(rowBytes));
    QImage upright = stored;
    if (d.orientation != 1) {
        upright = uprightPicture(stored.width(), stored.height(), d.orientation, d.pixelBytes);
        if (upright.isNull())
            return {};
        UprightWriter writer(upright, d.orientation, stored.width(), stored.height(), d.pixelBytes);
        for (int y = 0; y < stored.height(); ++y)
            writer.putRow(y, stored.constScanLine(y));
    }
    SrgbRows(ColourProfile{d.iccProfile, {}}, d.pixelBytes == 1)
        .convert(upright.bits(), upright.bytesPerLine(), upright.width(), upright.height());
    return upright;
}

std::shared_ptr<const YcbcrPicture> planesPicture(const JpegDecoding& d)
{
    return std::make_shared<YcbcrPicture>(d.planes, d.orientation, ColourProfile{d.iccProfile, {}});
}

DecodedPicture streamed(JpegDecoding& d)
{
    d.fill->release();
    return {d.image, finishScaled(d), d.fill, d.planes ? planesPicture(d) : nullptr};
}

// Decodes the overview's copy with the header's decoder, while the whole
// picture decodes beside it.
void decodeScaled(JpegDecoding& d, int scale, const std::string& path, const FileFacts& facts)
{
    jpeg_decompress_struct& cinfo = d.cinfo;
    cinfo.scale_num = 1;
    cinfo.scale_denom = static_cast<unsigned int>(scale);
    jpeg_start_decompress(&cinfo);
    const int height = static_cast<int>(cinfo.output_height);
    d.scaled = QImage(static_cast<int>(cinfo.output_width), height,
        d.pixelBytes == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (d.scaled.isNull())
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    while (d.rowsDone < height && !d.source.ended) {
        JSAMPROW rows[1] = {d.scaled.scanLine(d.rowsDone)};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1)
            return;
        ++d.rowsDone;
        if (d.rowsDone % 16 == 0)
            facts.reportProgress(d.rowsDone, height);
    }
}

// Hands the picture over once the overview's copy is made; its rows fill
// in on their own thread. Null when the descriptor cannot be shared.
DecodedPicture decodeStreaming(JpegDecoding& d, int fd, int scale, const std::string& path, const FileFacts& facts)
{
    // The copy, stored and upright, beside the picture.
    const qint64 copyBytes = 2 * (qint64(d.storedWidth) / scale + 1) * (qint64(d.storedHeight) / scale + 1) * d.pixelBytes;
    if (copyBytes > facts.availableBytes - qint64(d.storedWidth) * d.storedHeight * pictureBytesPerPixel(d))
        return {};
    const int descriptor = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (descriptor < 0)
        return {};
    auto file = std::make_shared<OwnedFd>(descriptor);
    QImage image;
    if (d.inPlanes)
        d.planes = YcbcrPlanes::forFile(d.cinfo);
    else
        image = uprightPicture(d.storedWidth, d.storedHeight, d.orientation, d.pixelBytes);
    if (d.inPlanes ? !d.planes : image.isNull())
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    const WholePictureJob job{file, d.planes, UprightWriter(image, d.orientation, d.storedWidth, d.storedHeight, d.pixelBytes),
        image.bits(), image.bytesPerLine(), d.storedWidth, d.storedHeight, d.orientation, d.pixelBytes,
        ColourProfile{d.iccProfile, {}}, d.cinfo.mem->max_memory_to_use};
    d.image = std::move(image);
    // The whole decode gives the first frame's rows, then waits for the
    // copy: the first frame needs all of the copy and only those rows, and
    // the copy alone on its core is made about a tenth sooner. A paint
    // that needs more rows sets the decode going again.
    d.fill = std::make_shared<RowFill>(job.height, [job](RowFill& fill) { decodeWholePicture(job, fill); },
        facts.firstRows);
    decodeScaled(d, scale, path, facts);
    return streamed(d);
}

// The rows decoded, the rest white.
DecodedPicture planesFinished(JpegDecoding& d)
{
    d.planes->whitenFrom(d.planes->rowsDone());
    return {QImage(), QImage(), nullptr, planesPicture(d)};
}

// A colour file decoded whole into its planes.
DecodedPicture decodePlanes(JpegDecoding& d, const std::string& path, const FileFacts& facts)
{
    jpeg_decompress_struct& cinfo = d.cinfo;
    d.planes = YcbcrPlanes::forFile(cinfo);
    if (!d.planes)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    cinfo.raw_data_out = TRUE;
    cinfo.out_color_space = JCS_YCbCr;
    jpeg_start_decompress(&cinfo);
    const bool dataCanEndEarly = !jpeg_has_multiple_scans(&cinfo);
    while (!(dataCanEndEarly && d.source.ended) && d.planes->readBand(cinfo))
        facts.reportProgress(d.planes->rowsDone(), d.storedHeight);
    jpeg_abort_decompress(&cinfo); // the rest of the file is not needed
    return planesFinished(d);
}

} // namespace

bool looksLikeJpeg(std::span<const unsigned char> head)
{
    return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

DecodedPicture decodeJpeg(int fd, const std::string& path, const FileFacts& facts)
{
    auto d = std::make_unique<JpegDecoding>();
    useJpegErrors(d->cinfo, d->errors);
    if (setjmp(d->errors.jump)) {
        // A failure once rows have been decoded still shows those rows.
        if (d->sink && d->sink->rowsDone() > 0)
            return finished(*d);
        if (d->fill && d->rowsDone > 0)
            return streamed(*d);
        if (!d->fill && d->planes && d->planes->rowsDone() > 0)
            return planesFinished(*d);
        d->fill.reset(); // stops the whole-picture decoder: nothing is shown
        const std::string reason = d->errors.message;
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(reason));
    }
    jpeg_create_decompress(&d->cinfo);
    d->created = true;
    attachSource(*d, fd);
    jpeg_save_markers(&d->cinfo, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&d->cinfo, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&d->cinfo, TRUE);
    jpeg_decompress_struct& cinfo = d->cinfo;
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const bool grey = cinfo.num_components == 1;
    cinfo.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
    d->cmyk = cmyk;
    d->inverted = cmyk && cinfo.saw_Adobe_marker;
    d->pixelBytes = grey ? 1 : 3;
    d->inPlanes = YcbcrPlanes::suits(cinfo);
    d->storedWidth = static_cast<int>(cinfo.image_width);
    d->storedHeight = static_cast<int>(cinfo.image_height);
    readMetadata(*d);
    if (std::shared_ptr<TileSource> bands = bandsOf(*d, path, facts))
        return DecodedPicture::inTiles(std::move(bands), d->orientation);
    checkClaims(*d, path, facts);
    if (const int scale = overviewScale(*d, facts))
        if (DecodedPicture picture = decodeStreaming(*d, fd, scale, path, facts); !picture.image.isNull() || picture.planes)
            return picture;
    if (d->inPlanes)
        return decodePlanes(*d, path, facts);
    if (cmyk)
        d->cmykToSrgb = CmykToSrgb::fromIcc(d->iccProfile, d->inverted);
    d->sink.emplace(path, d->storedWidth, d->storedHeight, d->orientation, d->pixelBytes);
    jpeg_start_decompress(&cinfo);
    readRows(*d, facts);
    jpeg_abort_decompress(&cinfo); // the rest of the file is not needed
    return finished(*d);
}

} // namespace korvane
