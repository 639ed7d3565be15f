// TGA, our own: Qt's reader takes only uncompressed files that end with a
// TGA 2.0 footer, and Debian has no library for the format. Colour-mapped,
// true-colour and grey pictures, plain or run-length encoded, in any of the
// four row orders; a file cut short shows the rows it holds, the rest white.
#include "decoders.h"
#include "texts.h"

#include "byte_order.h"
#include "decode_error.h"
#include "buffered_reader.h"
#include "read_at.h"
#include "image_normalize.h"
#include "orientation.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace korvane {

namespace {

constexpr int kHeaderBytes = 18;

struct TgaHeader {
    int idLength = 0, mapType = 0, type = 0;
    int mapFirst = 0, mapLength = 0, mapBits = 0;
    int width = 0, height = 0, bits = 0, descriptor = 0;

    bool runLength() const { return type >= 9; }
    bool grey() const { return type == 3 || type == 11; }
    bool mapped() const { return type == 1 || type == 9; }
    int pixelBytes() const { return (bits + 7) / 8; }
    int alphaBits() const { return descriptor & 0x0F; }
};

TgaHeader parseHeader(const unsigned char* h)
{
    TgaHeader t;
    t.idLength = h[0];
    t.mapType = h[1];
    t.type = h[2];
    t.mapFirst = littleEndian16(h + 3);
    t.mapLength = littleEndian16(h + 5);
    t.mapBits = h[7];
    t.width = littleEndian16(h + 12);
    t.height = littleEndian16(h + 14);
    t.bits = h[16];
    t.descriptor = h[17];
    return t;
}

// The header is all a TGA has for a signature: every field must make sense.
bool plausible(const TgaHeader& t)
{
    const bool knownType = t.type == 1 || t.type == 2 || t.type == 3 || t.type == 9 || t.type == 10 || t.type == 11;
    const bool mapOk = t.mapped() ? t.mapType == 1 && (t.bits == 8 || t.bits == 16) && t.mapLength > 0
                                      && (t.mapBits == 15 || t.mapBits == 16 || t.mapBits == 24 || t.mapBits == 32)
                                  : t.mapType <= 1;
    const bool bitsOk = t.grey() ? t.bits == 8 || t.bits == 16
                                 : t.mapped() || t.bits == 15 || t.bits == 16 || t.bits == 24 || t.bits == 32;
    return knownType && mapOk && bitsOk && (t.descriptor & 0xC0) == 0;
}

// One stored pixel (or map entry) as opaque RGB, or grey, laid over white.
struct Rgba {
    uchar r = 255, g = 255, b = 255, a = 255;
};

Rgba colourOf(const unsigned char* p, int bits, bool grey, bool useAlpha)
{
    Rgba c;
    if (grey) {
        c.r = c.g = c.b = p[0];
        c.a = bits == 16 && useAlpha ? p[1] : 255;
    } else if (bits == 15 || bits == 16) {
        const int v = littleEndian16(p);
        c.r = uchar((v >> 10 & 31) * 255 / 31);
        c.g = uchar((v >> 5 & 31) * 255 / 31);
        c.b = uchar((v & 31) * 255 / 31);
        c.a = bits == 16 && useAlpha && !(v & 0x8000) ? 0 : 255;
    } else {
        c.b = p[0];
        c.g = p[1];
        c.r = p[2];
        c.a = bits == 32 && useAlpha ? p[3] : 255;
    }
    return c;
}

struct TgaDecoding {
    TgaHeader header;
    std::vector<Rgba> map;
    BufferedReader reader;
    int runLeft = 0;      // pixels left in the current run-length packet
    bool repeating = false;
    unsigned char pixel[4] = {};
};

bool readMap(TgaDecoding& d)
{
    const TgaHeader& t = d.header;
    const int entryBytes = (t.mapBits + 7) / 8;
    std::vector<unsigned char> raw(std::size_t(t.mapLength) * std::size_t(entryBytes));
    if (!d.reader.read(raw.data(), raw.size()))
        return false;
    if (!t.mapped())
        return true;
    d.map.assign(std::size_t(t.mapFirst) + std::size_t(t.mapLength), Rgba{});
    for (int i = 0; i < t.mapLength; ++i)
        d.map[std::size_t(t.mapFirst) + std::size_t(i)] = colourOf(raw.data() + std::ptrdiff_t(i) * entryBytes, t.mapBits, false, t.mapBits == 32);
    return true;
}

bool nextPixel(TgaDecoding& d)
{
    const int bytes = d.header.pixelBytes();
    if (!d.header.runLength())
        return d.reader.read(d.pixel, std::size_t(bytes));
    if (d.runLeft == 0) {
        unsigned char packet = 0;
        if (!d.reader.read(&packet, 1))
            return false;
        d.runLeft = (packet & 0x7F) + 1;
        d.repeating = packet & 0x80;
        if (d.repeating && !d.reader.read(d.pixel, std::size_t(bytes)))
            return false;
    }
    --d.runLeft;
    return d.repeating || d.reader.read(d.pixel, std::size_t(bytes));
}

Rgba decodedPixel(const TgaDecoding& d)
{
    const TgaHeader& t = d.header;
    if (!t.mapped())
        return colourOf(d.pixel, t.bits, t.grey(), t.alphaBits() > 0);
    const std::size_t index = t.bits == 8 ? d.pixel[0] : std::size_t(littleEndian16(d.pixel));
    return index < d.map.size() ? d.map[index] : Rgba{};
}

// False when the file ends within the row.
bool readRow(TgaDecoding& d, uchar* out, bool greyOut)
{
    for (int x = 0; x < d.header.width; ++x) {
        if (!nextPixel(d))
            return false;
        const Rgba c = decodedPixel(d);
        if (greyOut)
            out[x] = overWhite(c.r, c.a);
        else {
            uchar* pixel = out + 3 * std::ptrdiff_t(x);
            pixel[0] = overWhite(c.r, c.a);
            pixel[1] = overWhite(c.g, c.a);
            pixel[2] = overWhite(c.b, c.a);
        }
    }
    return true;
}

// Stored rows run bottom to top unless bit 5 says otherwise, and right to
// left when bit 4 says so: the same turns as the orientation tags.
int orientationOf(const TgaHeader& t)
{
    const bool topDown = t.descriptor & 0x20, rightToLeft = t.descriptor & 0x10;
    if (topDown)
        return rightToLeft ? 2 : 1;
    return rightToLeft ? 3 : 4;
}

} // namespace

bool looksLikeTga(std::span<const unsigned char> head, int fd, const std::string& path, qint64 fileBytes)
{
    if (fileBytes < kHeaderBytes || head.size() < std::size_t(kHeaderBytes) || !plausible(parseHeader(head.data())))
        return false;
    // A TGA 2.0 file ends with its own signature; older ones have only their
    // name to say what they are.
    static const char kFooter[] = "TRUEVISION-XFILE.";
    char tail[sizeof kFooter] = {};
    if (fileBytes >= 26 && readAllAt(fd, fileBytes - qint64(sizeof tail), tail, sizeof tail)
        && std::memcmp(tail, kFooter, sizeof kFooter) == 0)
        return true;
    const std::string suffix = lowerCaseSuffix(path);
    return suffix == "tga" || suffix == "icb" || suffix == "vda" || suffix == "vst" || suffix == "tpic";
}

DecodedPicture decodeTga(int fd, const std::string& path, const FileFacts& facts)
{
    // The header comes with the reader's first block. The image ID after it
    // is skipped; a file that ends inside it has no pixels to read either.
    BufferedReader reader(fd, 0);
    unsigned char head[kHeaderBytes] = {};
    if (!reader.read(head, sizeof head))
        return {};
    unsigned char imageId[255];
    reader.read(imageId, head[0]);
    TgaDecoding d{parseHeader(head), {}, std::move(reader)};
    const TgaHeader& t = d.header;
    checkSides(path, t.width, t.height, 65535);
    const bool greyOut = t.grey();
    const int outputBytes = greyOut ? 1 : 3;
    checkFitsInMemory(path, t.width, t.height, PeakBytes{outputBytes, outputBytes}, facts);
    // A run-length packet gives at most 128 pixels from 1 + pixelBytes.
    if (t.runLength())
        checkHoldsEnoughData(path, t.width, t.height, (1.0 + t.pixelBytes()) / 128 * 1e6, facts.fileBytes);
    if (!readMap(d))
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "the file ends in its colour map")));
    const int orientation = orientationOf(t);
    QImage image(t.width, t.height, greyOut ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (image.isNull())
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    UprightWriter writer(image, orientation, t.width, t.height, outputBytes);
    std::vector<uchar> row(std::size_t(t.width) * std::size_t(outputBytes));
    int done = 0;
    while (done < t.height && readRow(d, row.data(), greyOut)) {
        writer.putRow(done++, row.data());
        if (done % 64 == 0)
            facts.reportProgress(done, t.height);
    }
    if (done == 0)
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "the file ends before its first row")));
    writer.whitenRowsFrom(done);
    return {std::move(image), QImage()};
}

} // namespace korvane
