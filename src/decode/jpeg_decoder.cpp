// JPEG through libjpeg-turbo's own interface: RGB or grey straight into
// the picture's rows, turned upright row by row, with the embedded colour
// profile kept for the conversion to sRGB.
#include "decoders.h"

#include "colour_profile.h"
#include "decode_error.h"
#include "orientation.h"
#include "row_sink.h"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void onError(j_common_ptr cinfo)
{
    auto* errors = reinterpret_cast<ErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    std::longjmp(errors->jump, 1);
}

// Warnings (damaged data, a file cut short) are not errors: the picture
// shows what could be decoded.
void onMessage(j_common_ptr, int) {}

// Reads the descriptor in large blocks; at its end, an end-of-image marker
// stands in for the missing data.
struct FileSource {
    jpeg_source_mgr base;
    int fd;
    bool ended;
    JOCTET buffer[1 << 16];
};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo)
{
    auto* source = reinterpret_cast<FileSource*>(cinfo->src);
    ssize_t count;
    do
        count = ::read(source->fd, source->buffer, sizeof source->buffer);
    while (count < 0 && errno == EINTR);
    if (count <= 0) {
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
    ::lseek(source->fd, static_cast<off_t>(count - static_cast<long>(source->base.bytes_in_buffer)), SEEK_CUR);
    source->base.bytes_in_buffer = 0;
}

// Everything the decoding touches lives here, outside the frame that
// setjmp returns to.
struct JpegDecoding {
    jpeg_decompress_struct cinfo {};
    ErrorManager errors {};
    FileSource source {};
    std::optional<RowSink> sink;
    std::vector<JOCTET> row;
    int storedWidth = 0, storedHeight = 0, pixelBytes = 0;
    int orientation = 1;
    bool cmyk = false;
    bool inverted = false; // CMYK stored as Adobe writes it
    QByteArray iccProfile;
    std::unique_ptr<CmykToSrgb> cmykToSrgb; // when the file's profile is a CMYK one
    std::vector<JOCTET> rgbRow;             // its output
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

// The header's claims, checked before any pixel memory is taken.
void checkClaims(JpegDecoding& d, const std::string& path, const FileFacts& facts)
{
    checkSides(path, d.storedWidth, d.storedHeight, JPEG_MAX_DIMENSION);
    // A progressive file keeps every block's coefficients (64 of 2 bytes)
    // for the whole decode, beside the picture.
    qint64 coefficientBytes = 0;
    if (jpeg_has_multiple_scans(&d.cinfo))
        for (int c = 0; c < d.cinfo.num_components; ++c)
            coefficientBytes += qint64(d.cinfo.comp_info[c].width_in_blocks) * d.cinfo.comp_info[c].height_in_blocks * 128;
    FileFacts left = facts;
    left.availableBytes -= coefficientBytes;
    // Row buffers: our row (up to 4 bytes a pixel for CMYK) and libjpeg's
    // upsampling and conversion rows, a few per component.
    checkFitsInMemory(path, d.storedWidth, d.storedHeight, PeakBytes{d.pixelBytes, 4 + 16 * 4}, left);
    if (!d.cinfo.arith_code)
        checkHoldsEnoughData(path, d.storedWidth, d.storedHeight, kMinHuffmanBytesPerMegapixel, facts.fileBytes);
    const qint64 pictureBytes = qint64(d.storedWidth) * d.storedHeight * d.pixelBytes;
    d.cinfo.mem->max_memory_to_use = static_cast<long>(std::max<qint64>(facts.availableBytes - pictureBytes, 1 << 20));
}

} // namespace

bool looksLikeJpeg(std::span<const unsigned char> head)
{
    return head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF;
}

DecodedPicture decodeJpeg(int fd, const std::string& path, const FileFacts& facts)
{
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return {};
    auto d = std::make_unique<JpegDecoding>();
    d->cinfo.err = jpeg_std_error(&d->errors.base);
    d->errors.base.error_exit = onError;
    d->errors.base.emit_message = onMessage;
    if (setjmp(d->errors.jump)) {
        // A failure once rows have been decoded still shows those rows.
        if (d->sink && d->sink->rowsDone() > 0)
            return finished(*d);
        const std::string reason = d->errors.message;
        raiseDecodeError(DecodeFailure::InvalidPicture, path, "cannot be decoded: " + reason);
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
    d->storedWidth = static_cast<int>(cinfo.image_width);
    d->storedHeight = static_cast<int>(cinfo.image_height);
    checkClaims(*d, path, facts);
    readMetadata(*d);
    if (cmyk)
        d->cmykToSrgb = CmykToSrgb::fromIcc(d->iccProfile, d->inverted);
    d->sink.emplace(path, d->storedWidth, d->storedHeight, d->orientation, d->pixelBytes);
    jpeg_start_decompress(&cinfo);
    readRows(*d, facts);
    jpeg_abort_decompress(&cinfo); // the rest of the file is not needed
    return finished(*d);
}

} // namespace korvane
