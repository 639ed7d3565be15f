// Still WebP through libwebp's incremental decoder, straight into the
// picture's rows (with alpha, into RGBA rows laid over white where they
// lie). A large picture is handed over once its first rows are final and
// fills in on a thread of its own while the window shows it. A file cut
// short shows the rows it holds, the rest white. Animations are left to
// Qt's reader, which gives their first frame.
#include "decoders.h"
#include "texts.h"

#include "colour_profile.h"
#include "decode_error.h"
#include "image_normalize.h"
#include "owned_fd.h"
#include "read_at.h"
#include "row_fill.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>

#include <webp/decode.h>
#include <webp/demux.h>

namespace korvane {

namespace {

// WebP's own limit on a side.
constexpr int kMaxWebpSide = 16383;
// A smaller picture decodes in a few tens of milliseconds: whole, before
// the window is up.
constexpr qint64 kStreamFromPixels = 4'000'000;
// The file is read and fed in steps: progress shows, and a large picture's
// first rows come before the rest of its file is read.
constexpr std::size_t kStep = 1 << 20;

// The picture's memory, mapped on its own: RGB rows on 4-byte boundaries.
// With alpha the decoder writes RGBA rows into it first, each laid over
// white into its RGB row as soon as it is final (RGB row y ends before
// RGBA row y + 1 begins), and the memory past the RGB rows is given back
// at the end: the load holds 4 bytes a pixel at its peak, not 7.
struct Mapping {
    uchar* bits = nullptr;
    std::size_t length = 0;
};

void unmap(void* info)
{
    const auto* mapping = static_cast<Mapping*>(info);
    ::munmap(mapping->bits, mapping->length);
    delete mapping;
}

struct WebpDecoding {
    WebpDecoding(int fd1, int ownFd, qint64 fileBytes1, int width1, int height1, bool alpha1)
        : fd(fd1), ownFile(ownFd), fileBytes(std::size_t(fileBytes1)), width(width1), height(height1), alpha(alpha1),
          rgbStride((std::size_t(width1) * 3 + 3) & ~std::size_t(3)),
          decodedStride(alpha1 ? std::size_t(width1) * 4 : rgbStride)
    {
    }
    ~WebpDecoding() { WebPIDelete(decoder); }
    WebpDecoding(const WebpDecoding&) = delete;
    WebpDecoding& operator=(const WebpDecoding&) = delete;

    int fd;
    OwnedFd ownFile; // a picture handed over reads on through its own
    const std::size_t fileBytes;
    std::unique_ptr<uint8_t[]> data = std::make_unique_for_overwrite<uint8_t[]>(fileBytes);
    std::size_t fed = 0;
    const int width, height;
    const bool alpha;
    const std::size_t rgbStride, decodedStride;
    uchar* bits = nullptr; // owned by the picture's image
    Mapping* mapping = nullptr; // its memory, for the image's cleanup
    WebPIDecoder* decoder = nullptr;
    bool ended = false;
    int rows = 0;     // final in the decoder's output
    int finished = 0; // of them, laid over white and in sRGB
    std::unique_ptr<SrgbRows> colour;

    uchar* rgbRow(int y) const { return bits + std::size_t(y) * rgbStride; }
};

QImage mappedImage(WebpDecoding& d, const std::string& path)
{
    const std::size_t length = d.decodedStride * std::size_t(d.height);
    void* bits = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (bits == MAP_FAILED)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    auto* mapping = new Mapping{static_cast<uchar*>(bits), length};
    QImage image(mapping->bits, d.width, d.height, qsizetype(d.rgbStride), QImage::Format_RGB888, unmap, mapping);
    if (image.isNull()) {
        unmap(mapping);
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    }
    d.bits = mapping->bits;
    d.mapping = mapping;
    d.decoder = WebPINewRGB(d.alpha ? MODE_RGBA : MODE_RGB, d.bits, length, int(d.decodedStride));
    if (!d.decoder)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    return image;
}

// One more step of the file read and decoded; the rows then final.
void decodeStep(WebpDecoding& d)
{
    const std::size_t read = readAt(d.fd, std::int64_t(d.fed), d.data.get() + d.fed,
        std::min(kStep, d.fileBytes - d.fed));
    d.fed += read;
    const VP8StatusCode status = WebPIUpdate(d.decoder, d.data.get(), d.fed);
    WebPIDecGetRGB(d.decoder, &d.rows, nullptr, nullptr, nullptr);
    d.rows = std::clamp(d.rows, 0, d.height);
    d.ended = status != VP8_STATUS_SUSPENDED || read == 0 || d.fed == d.fileBytes;
    if (status == VP8_STATUS_OK)
        d.rows = d.height;
}

// Rows newly final laid over white, in order (each RGB row lies in the
// RGBA rows already laid), and made sRGB.
void finishRows(WebpDecoding& d)
{
    if (d.alpha)
        for (int y = d.finished; y < d.rows; ++y)
            flattenRowOverWhite(d.bits + std::size_t(y) * d.decodedStride, d.rgbRow(y), d.width, 4);
    if (d.colour && d.rows > d.finished)
        d.colour->convert(d.rgbRow(d.finished), qsizetype(d.rgbStride), d.width, d.rows - d.finished);
    d.finished = std::max(d.finished, d.rows);
}

// The decoder's work is over: the rows it could not decode white, and
// with alpha, the memory past the RGB rows given back.
void finishPicture(WebpDecoding& d)
{
    WebPIDelete(d.decoder);
    d.decoder = nullptr;
    for (int y = d.finished; y < d.height; ++y)
        std::memset(d.rgbRow(y), 0xFF, std::size_t(d.width) * 3);
    d.finished = d.height;
    if (!d.alpha)
        return;
    const auto page = std::size_t(::sysconf(_SC_PAGESIZE));
    const std::size_t kept = (d.rgbStride * std::size_t(d.height) + page - 1) / page * page;
    const std::size_t length = d.decodedStride * std::size_t(d.height);
    if (kept < length && ::munmap(d.bits + kept, length - kept) == 0)
        d.mapping->length = kept; // what is given back may be mapped again for another owner
}

// The file's ICC profile, from what is read of it so far: it comes before
// the picture's data.
QByteArray iccProfileOf(const WebpDecoding& d)
{
    const WebPData data{d.data.get(), d.fed};
    WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
    WebPDemuxer* demux = WebPDemuxPartial(&data, &state);
    if (!demux)
        return {};
    QByteArray icc;
    WebPChunkIterator chunk {};
    if ((WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG) && WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
        icc = QByteArray(reinterpret_cast<const char*>(chunk.chunk.bytes), qsizetype(chunk.chunk.size));
        WebPDemuxReleaseChunkIterator(&chunk);
    }
    WebPDemuxDelete(demux);
    return icc;
}

void raiseIfNoRows(const WebpDecoding& d, const std::string& path)
{
    if (d.ended && d.rows == 0)
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "the file ends before its first rows")));
}

// The rest of a picture handed over, on the fill's thread.
void decodeRest(WebpDecoding& d, RowFill& fill)
{
    fill.publish(d.finished);
    while (!d.ended && !fill.stopRequested()) {
        decodeStep(d);
        finishRows(d);
        fill.publish(d.finished);
    }
    if (fill.stopRequested())
        return;
    finishPicture(d);
    fill.publish(d.height);
}

int duplicate(int fd)
{
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
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

    const bool streams = qint64(features.width) * features.height >= kStreamFromPixels;
    const int descriptor = streams ? duplicate(fd) : -1;
    auto d = std::make_shared<WebpDecoding>(descriptor >= 0 ? descriptor : fd, descriptor, facts.fileBytes,
        features.width, features.height, features.has_alpha != 0);
    QImage image = mappedImage(*d, path);
    // Until its first rows are final: a file without any is refused.
    while (!d->ended && (descriptor < 0 || d->rows == 0)) {
        decodeStep(*d);
        facts.reportProgress(d->rows, d->height);
    }
    raiseIfNoRows(*d, path);
    const QByteArray icc = iccProfileOf(*d);
    if (d->ended) {
        finishRows(*d);
        finishPicture(*d);
        return {applyColourProfile(std::move(image), ColourProfile{icc, {}}), QImage()};
    }
    d->colour = std::make_unique<SrgbRows>(ColourProfile{icc, {}}, false);
    finishRows(*d);
    auto fill = std::make_shared<RowFill>(d->height, [d](RowFill& rowFill) { decodeRest(*d, rowFill); });
    return {std::move(image), QImage(), std::move(fill)};
}

} // namespace korvane
