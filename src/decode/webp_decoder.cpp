// Still WebP through libwebp's incremental decoder, straight into the
// picture's rows (with alpha, into RGBA rows laid over white where they
// lie). A file cut short shows the rows it holds, the rest white.
// Animations are left to Qt's reader, which gives their first frame.
#include "decoders.h"
#include "texts.h"

#include "decode_error.h"
#include "read_at.h"
#include "image_normalize.h"
#include "orientation.h"

#include <QColorSpace>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

#include <webp/decode.h>
#include <webp/demux.h>

namespace korvane {

namespace {

// WebP's own limit on a side.
constexpr int kMaxWebpSide = 16383;

std::vector<uint8_t> readWholeFile(int fd, const std::string& path, qint64 size)
{
    std::vector<uint8_t> bytes(static_cast<std::size_t>(size));
    bytes.resize(readFromStart(fd, path, bytes));
    return bytes;
}

QColorSpace colourSpaceOf(const std::vector<uint8_t>& bytes)
{
    const WebPData data{bytes.data(), bytes.size()};
    // A file cut short may still hold its profile: demux what is there.
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    WebPDemuxer* demux = WebPDemuxPartial(&data, &state);
    if (!demux)
        return QColorSpace();
    QColorSpace space;
    WebPChunkIterator chunk {};
    if ((WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG) && WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
        space = QColorSpace::fromIccProfile(
            QByteArray(reinterpret_cast<const char*>(chunk.chunk.bytes), qsizetype(chunk.chunk.size)));
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
    return space;
}

struct IncrementalDecoder {
    WebPIDecoder* decoder = nullptr;
    ~IncrementalDecoder() { WebPIDelete(decoder); }
};

// Feeds the file in steps, so that progress shows; the rows decoded so far.
int decodeRows(WebPIDecoder* decoder, const std::vector<uint8_t>& bytes, int height, const FileFacts& facts)
{
    constexpr std::size_t kStep = 1 << 20;
    int lastRow = 0;
    for (std::size_t fed = std::min(kStep, bytes.size());; fed = std::min(fed + kStep, bytes.size())) {
        const VP8StatusCode status = WebPIUpdate(decoder, bytes.data(), fed);
        WebPIDecGetRGB(decoder, &lastRow, nullptr, nullptr, nullptr);
        facts.reportProgress(lastRow, height);
        if (status == VP8_STATUS_OK)
            return height;
        if (status != VP8_STATUS_SUSPENDED || fed == bytes.size())
            return lastRow;
    }
}

// Decodes into `pixels`, rows `stride` bytes apart, in `mode`; the rows
// decoded.
int decodeInto(uchar* pixels, std::size_t bytes, int stride, WEBP_CSP_MODE mode, const std::vector<uint8_t>& file,
    int height, const FileFacts& facts, const std::string& path)
{
    IncrementalDecoder incremental;
    incremental.decoder = WebPINewRGB(mode, pixels, bytes, stride);
    if (!incremental.decoder)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    const int rows = decodeRows(incremental.decoder, file, height, facts);
    if (rows == 0)
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "the file ends before its first rows")));
    return rows;
}

// A picture with alpha: RGBA rows laid over white into RGB rows in the
// same memory, each ending before the next RGBA row begins, then the
// memory cut to them (glibc moves the pages of a large block without
// copying): at its peak the load holds 4 bytes a pixel, not 7.
QImage decodeWithAlpha(int width, int height, const std::vector<uint8_t>& file, const FileFacts& facts,
    const std::string& path)
{
    const std::size_t rgbaStride = std::size_t(width) * 4, rgbStride = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    auto* pixels = static_cast<uchar*>(std::malloc(rgbaStride * std::size_t(height)));
    if (!pixels)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    std::unique_ptr<uchar, decltype(&std::free)> owned(pixels, &std::free);
    const int rows = decodeInto(pixels, rgbaStride * std::size_t(height), int(rgbaStride), MODE_RGBA, file, height,
        facts, path);
    for (std::size_t y = 0; y < std::size_t(height); ++y) {
        uchar* rgb = pixels + y * rgbStride;
        if (y < std::size_t(rows))
            flattenRowOverWhite(pixels + y * rgbaStride, rgb, width, 4);
        else
            std::memset(rgb, 0xFF, std::size_t(width) * 3);
    }
    pixels = owned.release();
    if (auto* shrunk = static_cast<uchar*>(std::realloc(pixels, rgbStride * std::size_t(height))))
        pixels = shrunk;
    QImage image(pixels, width, height, qsizetype(rgbStride), QImage::Format_RGB888, std::free, pixels);
    if (image.isNull()) {
        std::free(pixels);
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    }
    return image;
}

} // namespace

bool looksLikeWebp(std::span<const unsigned char> head)
{
    return head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 && std::memcmp(head.data() + 8, "WEBP", 4) == 0;
}

DecodedPicture decodeWebp(int fd, const std::string& path, const FileFacts& facts)
{
    WebPBitstreamFeatures features {};
    {
        std::vector<uint8_t> head(64 << 10);
        const std::size_t count = readAt(fd, 0, head.data(), head.size());
        if (count == 0 || WebPGetFeatures(head.data(), count, &features) != VP8_STATUS_OK)
            raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "its header is damaged")));
    }
    if (features.has_animation)
        return {};
    checkSides(path, features.width, features.height, kMaxWebpSide);
    // The file and the picture (with alpha, at 4 bytes a pixel until it is
    // laid over white).
    const int perPixel = features.has_alpha ? 4 : 3;
    const int perRowPixel = int(facts.fileBytes / features.width) + 1;
    checkFitsInMemory(path, features.width, features.height, PeakBytes{perPixel, perRowPixel}, facts);

    const std::vector<uint8_t> bytes = readWholeFile(fd, path, facts.fileBytes);
    const int width = features.width, height = features.height;
    QImage image;
    if (features.has_alpha) {
        image = decodeWithAlpha(width, height, bytes, facts, path);
    } else {
        image = QImage(width, height, QImage::Format_RGB888);
        if (image.isNull())
            raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
        const int rows = decodeInto(image.bits(), std::size_t(image.sizeInBytes()), int(image.bytesPerLine()), MODE_RGB,
            bytes, height, facts, path);
        UprightWriter(image, 1, width, height, 3).whitenRowsFrom(rows);
    }
    image.setColorSpace(colourSpaceOf(bytes));
    return {std::move(image), QImage()};
}

} // namespace korvane
