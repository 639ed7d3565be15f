// SVG (and svgz) through librsvg, as the desktop draws it, built as a
// module loaded with the first such file: drawn at the size the document
// gives itself (its width and height, else its viewBox) over white; one too
// large to hold is drawn tile by tile where shown, its overview drawn
// directly at about twice the overview's size. Nothing outside the file is
// read. Compressed SVG is inflated here, with a limit.
#include "decoder_module.h"
#include "texts.h"

#include "decode_error.h"
#include "library_messages.h"
#include "svg_render.h"

#include <algorithm>
#include <cmath>

#include <zlib.h>

namespace korvane {

namespace {

// A document is text; one larger than this is not a picture to show.
constexpr qint64 kMaxDocumentBytes = qint64(64) << 20;
// Inflating a compressed one holds the whole text: a smaller limit keeps
// a refused bomb as light as any other refusal.
constexpr qint64 kMaxInflatedBytes = qint64(16) << 20;
// Drawn in tiles, a document has no natural limit; a million pixels a side
// is a trillion pixels, far beyond any plan or map.
constexpr qint64 kMaxSvgSide = 1000000;

QByteArray readFile(int fd, const std::string& path, qint64 size)
{
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    const std::size_t count = readFromStart(fd, path,
        {reinterpret_cast<unsigned char*>(bytes.data()), static_cast<std::size_t>(bytes.size())});
    bytes.truncate(qsizetype(count));
    return bytes;
}

bool isGzip(const QByteArray& bytes)
{
    return bytes.size() >= 2 && uchar(bytes[0]) == 0x1F && uchar(bytes[1]) == 0x8B;
}

// svgz: inflated up to its limit, so that a small file cannot claim
// gigabytes.
QByteArray inflated(const QByteArray& compressed, const std::string& path)
{
    z_stream stream {};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    stream.avail_in = uInt(compressed.size());
    QByteArray out;
    int status = Z_OK;
    while (status == Z_OK) {
        if (out.size() >= kMaxInflatedBytes) {
            inflateEnd(&stream);
            raiseDecodeError(DecodeFailure::InvalidPicture, path,
                filledIn(translated("reason", "is too large: its document inflates to more than %1 MB"),
                    {std::to_string(kMaxInflatedBytes >> 20)}));
        }
        const qsizetype at = out.size();
        out.resize(at + (1 << 16));
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + at);
        stream.avail_out = 1 << 16;
        status = inflate(&stream, Z_NO_FLUSH);
        out.resize(out.size() - qsizetype(stream.avail_out));
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END && out.isEmpty())
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "its compressed data is damaged")));
    return out;
}

} // namespace

DecodedPicture decodeSvg(int fd, const std::string& path, const FileFacts& facts)
{
    if (facts.fileBytes > kMaxDocumentBytes)
        raiseDecodeError(DecodeFailure::InvalidPicture, path,
            filledIn(translated("reason", "is too large: a document of more than %1 MB"), {std::to_string(kMaxDocumentBytes >> 20)}));
    QByteArray bytes = readFile(fd, path, facts.fileBytes);
    if (isGzip(bytes))
        bytes = inflated(bytes, path);
    // Pango and fontconfig may complain on stderr about the fonts it asks for.
    const SilencedStderr quiet;
    std::string error;
    const std::unique_ptr<SvgDocument> document = SvgDocument::parse(bytes, error);
    double documentWidth = 0, documentHeight = 0;
    if (!document || !document->size(documentWidth, documentHeight)) {
        const std::string reason = translated("reason", "it is not a valid SVG document");
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(error.empty() ? reason : reason + " (" + error + ")"));
    }
    // Fractions of a pixel round up.
    const qint64 width = qint64(std::ceil(std::min(documentWidth, 1e12)));
    const qint64 height = qint64(std::ceil(std::min(documentHeight, 1e12)));
    checkSides(path, width, height, kMaxSvgSide);
    const double w = double(width), h = double(height);
    // Larger than the cache, or large enough that drawing it whole would
    // keep the window waiting: drawn where shown, from an overview first.
    constexpr qint64 kDrawnWholeMostPixels = qint64(4) << 20;
    if (width * height * 3 > pictureCacheBytes(facts.availableBytes) || width * height > kDrawnWholeMostPixels) {
        const double overviewScale = std::min(1.0, width > height ? 2.0 * facts.overviewSides.width() / w
                                                                  : 2.0 * facts.overviewSides.height() / h);
        return DecodedPicture::inTiles(svgTiles(bytes, int(width), int(height), w, h), 1,
            svgOverview(bytes, *document, w, h, overviewScale));
    }
    // Cairo's surface at 4 bytes a pixel beside the picture at 3.
    checkFitsInMemory(path, width, height, PeakBytes{4 + 3, 0}, facts);
    QImage image(int(width), int(height), QImage::Format_RGB888);
    if (image.isNull())
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    if (!document->render(0, 0, 1.0, w, h, int(width), int(height), image.bits(), std::size_t(image.bytesPerLine())))
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "it is not a valid SVG document")));
    return {std::move(image), QImage()};
}

} // namespace korvane

extern "C" const korvane::DecoderModule korvane_decoder_module = {&korvane::decodeSvg};
