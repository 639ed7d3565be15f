// SVG through Qt SVG: drawn once, at the size the document gives itself
// (its width and height, else its viewBox), over white. Only the file's
// own content is drawn: images that name anything but inline data are
// dropped before Qt SVG sees the document, so nothing is fetched or read
// from elsewhere. Compressed SVG (svgz) is inflated here, with a limit.
#include "decoders.h"
#include "texts.h"

#include "decode_error.h"
#include "read_at.h"

#include <QBuffer>
#include <QPainter>
#include <QSvgRenderer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <cmath>
#include <unistd.h>

#include <zlib.h>

namespace korvane {

namespace {

// A document is text; one larger than this is not a picture to show.
constexpr qint64 kMaxDocumentBytes = qint64(64) << 20;
// Inflating a compressed one holds the whole text: a smaller limit keeps
// a refused bomb as light as any other refusal.
constexpr qint64 kMaxInflatedBytes = qint64(16) << 20;
constexpr int kMaxSvgSide = 32767; // QPainter's raster engine

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

bool isInlineData(QStringView reference)
{
    return reference.trimmed().startsWith(u"data:", Qt::CaseInsensitive);
}

bool referencesElsewhere(const QXmlStreamReader& reader)
{
    if (reader.name() != u"image")
        return false;
    for (const QXmlStreamAttribute& attribute : reader.attributes())
        if (attribute.name() == u"href" && !isInlineData(attribute.value()))
            return true;
    return false;
}

// The document without the images that name files or addresses. A
// document that does not parse is left as it is: Qt SVG refuses it.
QByteArray withoutOutsideReferences(const QByteArray& document)
{
    QXmlStreamReader reader(document);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter writer(&buffer);
    bool dropped = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && referencesElsewhere(reader)) {
            reader.skipCurrentElement();
            dropped = true;
            continue;
        }
        if (reader.tokenType() != QXmlStreamReader::Invalid)
            writer.writeCurrentToken(reader);
    }
    return reader.hasError() || !dropped ? document : out;
}

} // namespace

bool looksLikeSvg(int fd)
{
    char head[4096];
    const std::size_t count = readAt(fd, 0, head, sizeof head);
    if (count == 0)
        return false;
    QByteArray bytes(head, qsizetype(count));
    if (isGzip(bytes))
        return true; // decided when inflated: svgz has no other signature
    QXmlStreamReader reader(bytes);
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement())
            return reader.name() == u"svg";
    }
    return false;
}

DecodedPicture decodeSvg(int fd, const std::string& path, const FileFacts& facts)
{
    if (facts.fileBytes > kMaxDocumentBytes)
        raiseDecodeError(DecodeFailure::InvalidPicture, path,
            filledIn(translated("reason", "is too large: a document of more than %1 MB"), {std::to_string(kMaxDocumentBytes >> 20)}));
    QByteArray document = readFile(fd, path, facts.fileBytes);
    if (isGzip(document))
        document = inflated(document, path);
    QSvgRenderer renderer(withoutOutsideReferences(document));
    if (!renderer.isValid())
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "it is not a valid SVG document")));
    // Its width and height, else its viewBox; fractions of a pixel round up.
    const QSizeF size = renderer.defaultSize().isEmpty() ? renderer.viewBoxF().size() : QSizeF(renderer.defaultSize());
    const qint64 width = qint64(std::ceil(std::min(size.width(), 1e12)));
    const qint64 height = qint64(std::ceil(std::min(size.height(), 1e12)));
    checkSides(path, width, height, kMaxSvgSide);
    checkFitsInMemory(path, width, height, PeakBytes{3, 0}, facts);
    QImage image(int(width), int(height), QImage::Format_RGB888);
    if (image.isNull())
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    image.fill(Qt::white);
    QPainter painter(&image);
    renderer.render(&painter, QRectF(0, 0, double(width), double(height)));
    painter.end();
    return {std::move(image), QImage()};
}

} // namespace korvane
