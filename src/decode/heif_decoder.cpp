// HEIF (HEIC, AVIF) through libheif: the primary image, turned as its irot
// and imir boxes say, decoded to RGB in libheif's own buffer, which the
// picture then keeps (no copy). Transparency is laid over white in that
// buffer; ICC and nclx colour go to the conversion to sRGB.
#include "decoders.h"
#include "texts.h"
#include "decoder_module.h"

#include "colour_profile.h"
#include "decode_error.h"
#include "image_normalize.h"
#include "library_messages.h"
#include "read_at.h"

#include <QColorSpace>
#include <QPointF>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

#include <libheif/heif.h>

namespace korvane {

namespace {

// ispe sides are 32-bit; a grid can be far larger than one coded image.
// libheif's own pixel limit is set to this side squared.
constexpr int kMaxHeifSide = 65535;

// Reads the descriptor where libheif asks, never past the file's end.
struct FileReader {
    int fd;
    qint64 size;
    qint64 position = 0;
};

int64_t readerPosition(void* userdata)
{
    return static_cast<FileReader*>(userdata)->position;
}

int readerRead(void* data, size_t size, void* userdata)
{
    auto* reader = static_cast<FileReader*>(userdata);
    if (!readAllAt(reader->fd, reader->position, data, size))
        return -1;
    reader->position += qint64(size);
    return 0;
}

int readerSeek(int64_t position, void* userdata)
{
    auto* reader = static_cast<FileReader*>(userdata);
    if (position < 0 || position > reader->size)
        return -1;
    reader->position = position;
    return 0;
}

heif_reader_grow_status readerWait(int64_t targetSize, void* userdata)
{
    return targetSize <= static_cast<FileReader*>(userdata)->size ? heif_reader_grow_status_size_reached
                                                                  : heif_reader_grow_status_size_beyond_eof;
}

const heif_reader kFileReader = {1, readerPosition, readerRead, readerSeek, readerWait};

struct ContextDeleter {
    void operator()(heif_context* context) const { heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(const heif_image_handle* handle) const { heif_image_handle_release(handle); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const { heif_decoding_options_free(options); }
};

[[noreturn]] void refuse(const std::string& path, const heif_error& error)
{
    // libheif's limits on sides and pixels, checked as it reads the boxes.
    if (error.subcode == heif_suberror_Security_limit_exceeded)
        raiseDecodeError(DecodeFailure::InvalidPicture, path, filledIn(translated("reason", "is damaged: %1"), {error.message}));
    if (error.code == heif_error_Memory_allocation_error)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(error.message));
}

QColorSpace::TransferFunction transferOf(heif_transfer_characteristics transfer, float& gamma)
{
    switch (transfer) {
    case heif_transfer_characteristic_linear:
        return QColorSpace::TransferFunction::Linear;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_M:
        gamma = 2.2f;
        return QColorSpace::TransferFunction::Gamma;
    case heif_transfer_characteristic_ITU_R_BT_470_6_System_B_G:
        gamma = 2.8f;
        return QColorSpace::TransferFunction::Gamma;
    default:
        // sRGB, and the video curves that displays show as sRGB (BT.709,
        // BT.601, BT.2020). PQ and HLG need tone mapping, which we do not do.
        return QColorSpace::TransferFunction::SRgb;
    }
}

// nclx names primaries and a transfer curve; the matrix has already been
// applied by libheif's conversion to RGB.
QColorSpace nclxColourSpace(const heif_color_profile_nclx& nclx)
{
    float gamma = 0;
    const QColorSpace::TransferFunction transfer = transferOf(nclx.transfer_characteristics, gamma);
    if (nclx.color_primaries == heif_color_primaries_ITU_R_BT_709_5
        || nclx.color_primaries == heif_color_primaries_unspecified) {
        if (transfer == QColorSpace::TransferFunction::SRgb)
            return QColorSpace();
        return QColorSpace(QColorSpace::Primaries::SRgb, transfer, gamma);
    }
    return QColorSpace(QPointF(nclx.color_primary_white_x, nclx.color_primary_white_y),
        QPointF(nclx.color_primary_red_x, nclx.color_primary_red_y),
        QPointF(nclx.color_primary_green_x, nclx.color_primary_green_y),
        QPointF(nclx.color_primary_blue_x, nclx.color_primary_blue_y), transfer, gamma);
}

// The picture's colour, as an ICC profile or as nclx.
ColourProfile colourProfileOf(const heif_image_handle* handle)
{
    ColourProfile profile;
    switch (heif_image_handle_get_color_profile_type(handle)) {
    case heif_color_profile_type_prof:
    case heif_color_profile_type_rICC: {
        QByteArray icc(qsizetype(heif_image_handle_get_raw_color_profile_size(handle)), Qt::Uninitialized);
        if (!icc.isEmpty() && heif_image_handle_get_raw_color_profile(handle, icc.data()).code == heif_error_Ok)
            profile.icc = icc;
        break;
    }
    case heif_color_profile_type_nclx: {
        // libheif hands over the profile even when it reports an error
        // (unknown primaries): it is freed either way.
        heif_color_profile_nclx* nclx = nullptr;
        const bool read = heif_image_handle_get_nclx_color_profile(handle, &nclx).code == heif_error_Ok;
        if (read && nclx)
            profile.space = nclxColourSpace(*nclx);
        if (nclx)
            heif_nclx_color_profile_free(nclx);
        break;
    }
    default:
        break;
    }
    return profile;
}

// RGBA rows laid over white into RGB at the front of each row, in place.
void flattenInPlace(uchar* bits, int width, int height, int stride)
{
    for (int y = 0; y < height; ++y) {
        uchar* row = bits + qsizetype(y) * stride;
        flattenRowOverWhite(row, row, width, 4);
    }
}

void releaseImage(void* image)
{
    heif_image_release(static_cast<heif_image*>(image));
}

} // namespace

DecodedPicture decodeHeif(int fd, const std::string& path, const FileFacts& facts)
{
    const SilencedStderr quiet;
    FileReader reader{fd, facts.fileBytes};
    const std::unique_ptr<heif_context, ContextDeleter> context(heif_context_alloc());
    if (!context)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    heif_context_set_maximum_image_size_limit(context.get(), kMaxHeifSide);
    if (const heif_error error = heif_context_read_from_reader(context.get(), &kFileReader, &reader, nullptr); error.code)
        refuse(path, error);
    heif_image_handle* primary = nullptr;
    if (const heif_error error = heif_context_get_primary_image_handle(context.get(), &primary); error.code)
        refuse(path, error);
    const std::unique_ptr<const heif_image_handle, HandleDeleter> handle(primary);

    // The sides after rotation; every grid tile is checked by libheif
    // against the same limit before it is decoded.
    const int width = heif_image_handle_get_width(primary), height = heif_image_handle_get_height(primary);
    checkSides(path, width, height, kMaxHeifSide);
    const bool alpha = heif_image_handle_has_alpha_channel(primary);
    const int sampleBytes = heif_image_handle_get_luma_bits_per_pixel(primary) > 8 ? 2 : 1;
    // The decoder's planes (up to three full ones, alpha included) and the
    // interleaved RGB(A) buffer that becomes the picture.
    checkFitsInMemory(path, width, height, PeakBytes{3 * sampleBytes + (alpha ? sampleBytes + 4 : 3), 0}, facts);

    const std::unique_ptr<heif_decoding_options, OptionsDeleter> options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    if (const heif_error error = heif_decode_image(primary, &decoded, heif_colorspace_RGB,
            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, options.get());
        error.code)
        refuse(path, error);
    int stride = 0;
    auto* bits = const_cast<uint8_t*>(heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride));
    const int decodedWidth = heif_image_get_primary_width(decoded);
    const int decodedHeight = heif_image_get_primary_height(decoded);
    if (!bits || decodedWidth <= 0 || decodedHeight <= 0) {
        heif_image_release(decoded);
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "no image data")));
    }
    if (alpha)
        flattenInPlace(bits, decodedWidth, decodedHeight, stride);
    QImage image(bits, decodedWidth, decodedHeight, stride, QImage::Format_RGB888, releaseImage, decoded);
    facts.reportProgress(decodedHeight, decodedHeight);
    return {applyColourProfile(std::move(image), colourProfileOf(primary)), QImage()};
}

} // namespace korvane

extern "C" const korvane::DecoderModule korvane_decoder_module = {&korvane::decodeHeif};
