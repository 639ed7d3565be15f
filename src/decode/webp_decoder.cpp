// Still WebP through libwebp's incremental decoder, straight into the
// picture's rows (through an RGBA copy when the picture has alpha). A file
// cut short shows the rows it holds, the rest white. Animations are left to
// Qt's reader, which gives their first frame.
#include "decoders.h"
#include "texts.h"

#include "decode_error.h"
#include "read_at.h"
#include "image_normalize.h"
#include "orientation.h"

#include <QColorSpace>

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
    // The file, the picture and, with alpha, an RGBA copy of it.
    const int perPixel = 3 + (features.has_alpha ? 4 : 0);
    const int perRowPixel = int(facts.fileBytes / features.width) + 1;
    checkFitsInMemory(path, features.width, features.height, PeakBytes{perPixel, perRowPixel}, facts);

    const std::vector<uint8_t> bytes = readWholeFile(fd, path, facts.fileBytes);
    const int width = features.width, height = features.height;
    QImage image(width, height, QImage::Format_RGB888);
    QImage rgba(features.has_alpha ? width : 0, features.has_alpha ? height : 0, QImage::Format_RGBA8888);
    if (image.isNull() || (features.has_alpha && rgba.isNull()))
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    QImage& target = features.has_alpha ? rgba : image;
    IncrementalDecoder incremental;
    incremental.decoder = WebPINewRGB(features.has_alpha ? MODE_RGBA : MODE_RGB, target.bits(),
        std::size_t(target.sizeInBytes()), int(target.bytesPerLine()));
    if (!incremental.decoder)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    const int rows = decodeRows(incremental.decoder, bytes, height, facts);
    if (rows == 0)
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "the file ends before its first rows")));
    UprightWriter writer(image, 1, width, height, 3);
    if (features.has_alpha) {
        std::vector<uchar> row(std::size_t(width) * 3);
        for (int y = 0; y < rows; ++y) {
            flattenRowOverWhite(rgba.constScanLine(y), row.data(), width, 4);
            writer.putRow(y, row.data());
        }
    }
    writer.whitenRowsFrom(rows);
    image.setColorSpace(colourSpaceOf(bytes));
    return {std::move(image), QImage()};
}

} // namespace korvane
