// Uncompressed BMP, our own: its rows straight into the picture's, a row at
// a time, where Qt's reader held an image of its own (4 bytes a pixel, or a
// palette index) beside the picture made from it, 7 bytes a pixel at the
// peak for a colour scan, and refused sides over 16384; one larger than the
// picture cache is read in bands where it is drawn. Palette pictures (1, 4
// and 8 bits) whose colours are all grey become grey pictures, a byte a
// pixel. Run-length, embedded JPEG and PNG, and headers this does not know
// are left to Qt's reader. A file cut short shows the rows it holds, the
// rest white.
#include "decoders.h"
#include "texts.h"

#include "buffered_reader.h"
#include "byte_order.h"
#include "decode_error.h"
#include "image_normalize.h"
#include "owned_fd.h"
#include "orientation.h"
#include "read_at.h"
#include "tile_source.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cstring>
#include <memory>
#include <vector>

namespace korvane {

namespace {

constexpr int kFileHeaderBytes = 14;
constexpr int kCoreHeaderBytes = 12; // OS/2 1.x: 16-bit sides, 3-byte palette entries
constexpr unsigned kPlain = 0, kBitFields = 3, kAlphaBitFields = 6;

// A channel given by a bit mask, scaled to 0 .. 255.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t mask1 = 0)
        : mask(mask1), shift(mask1 ? std::countr_zero(mask1) : 0), max(mask1 ? mask1 >> shift : 0)
    {
    }
    uchar of(std::uint32_t pixel, uchar absent) const
    {
        return max ? uchar((((pixel & mask) >> shift) * 255 + max / 2) / max) : absent;
    }
};

struct BmpHeader {
    std::uint32_t dataAt = 0, headerBytes = 0;
    qint64 width = 0, height = 0; // height > 0: rows stored bottom to top
    int bits = 0;
    unsigned compression = kPlain;
    std::uint32_t coloursUsed = 0;
    Channel red, green, blue, alpha;

    bool topDown() const { return height < 0; }
    qint64 rows() const { return height < 0 ? -height : height; }
    bool paletted() const { return bits <= 8; }
    std::size_t rowBytes() const { return std::size_t((width * bits + 31) / 32 * 4); }
};

// The masks a BI_RGB picture implies, or those its header or the twelve
// (sixteen) bytes after it give.
void takeMasks(BmpHeader& h, const unsigned char* info, std::size_t infoBytes)
{
    if (h.compression == kPlain) {
        if (h.bits == 16)
            h.red = Channel(0x7C00), h.green = Channel(0x03E0), h.blue = Channel(0x001F);
        else
            h.red = Channel(0xFF0000), h.green = Channel(0x00FF00), h.blue = Channel(0x0000FF);
        return;
    }
    h.red = Channel(littleEndian32(info + 40));
    h.green = Channel(littleEndian32(info + 44));
    h.blue = Channel(littleEndian32(info + 48));
    if (infoBytes >= 56 || h.compression == kAlphaBitFields)
        h.alpha = Channel(littleEndian32(info + 52));
}

// False for what is left to Qt's reader.
bool parseHeader(int fd, BmpHeader& h)
{
    std::array<unsigned char, kFileHeaderBytes + 56> head {};
    const std::size_t read = readAt(fd, 0, head.data(), head.size());
    if (read < kFileHeaderBytes + kCoreHeaderBytes)
        return false;
    h.dataAt = littleEndian32(head.data() + 10);
    h.headerBytes = littleEndian32(head.data() + 14);
    const unsigned char* info = head.data() + kFileHeaderBytes;
    if (h.headerBytes == kCoreHeaderBytes) {
        h.width = littleEndian16(info + 4);
        h.height = littleEndian16(info + 6);
        h.bits = littleEndian16(info + 10);
        return littleEndian16(info + 8) == 1 && h.paletted() && h.bits != 2;
    }
    const bool knownSize = h.headerBytes == 40 || h.headerBytes == 52 || h.headerBytes == 56 || h.headerBytes == 108
        || h.headerBytes == 124;
    if (!knownSize || read < kFileHeaderBytes + 56)
        return false;
    h.width = std::int32_t(littleEndian32(info + 4));
    h.height = std::int32_t(littleEndian32(info + 8));
    h.bits = littleEndian16(info + 14);
    h.compression = littleEndian32(info + 16);
    h.coloursUsed = littleEndian32(info + 32);
    const bool plain = h.compression == kPlain && (h.bits == 1 || h.bits == 4 || h.bits == 8 || h.bits == 16
                                                       || h.bits == 24 || (h.bits == 32 && h.headerBytes == 40));
    const bool fields = (h.compression == kBitFields || h.compression == kAlphaBitFields)
        && (h.bits == 16 || h.bits == 32);
    if (littleEndian16(info + 12) != 1 || !(plain || fields) || h.height == INT_MIN)
        return false;
    if (!h.paletted())
        takeMasks(h, info, h.headerBytes);
    return h.paletted() || (h.red.max && h.green.max && h.blue.max);
}

struct Rgb {
    uchar r = 0, g = 0, b = 0;
};

// The palette's entries, after the header; an index past them is black, as
// Qt's reader has it.
std::vector<Rgb> readPalette(int fd, const BmpHeader& h)
{
    const std::size_t entries = h.coloursUsed && h.coloursUsed < (1u << h.bits) ? h.coloursUsed : std::size_t(1) << h.bits;
    const std::size_t entryBytes = h.headerBytes == kCoreHeaderBytes ? 3 : 4;
    std::vector<unsigned char> raw(entries * entryBytes);
    raw.resize(readAt(fd, kFileHeaderBytes + qint64(h.headerBytes), raw.data(), raw.size()));
    std::vector<Rgb> palette(std::size_t(1) << h.bits);
    for (std::size_t i = 0; i < raw.size() / entryBytes; ++i)
        palette[i] = {raw[i * entryBytes + 2], raw[i * entryBytes + 1], raw[i * entryBytes]};
    return palette;
}

bool allGrey(const std::vector<Rgb>& palette)
{
    return std::all_of(palette.begin(), palette.end(), [](Rgb c) { return c.r == c.g && c.g == c.b; });
}

// Eight bits a channel, blue first, no alpha: nearly every colour BMP.
bool isPlainBgr(const BmpHeader& h)
{
    return (h.bits == 24 || h.bits == 32) && h.red.mask == 0xFF0000 && h.green.mask == 0x00FF00
        && h.blue.mask == 0x0000FF && !h.alpha.mask;
}

// One stored row into grey or RGB pixels.
void convertRow(const BmpHeader& h, const std::vector<Rgb>& palette, const unsigned char* in, uchar* out, bool grey)
{
    if (isPlainBgr(h)) {
        const std::size_t step = std::size_t(h.bits / 8);
        for (std::size_t x = 0; x < std::size_t(h.width); ++x, in += step, out += 3) {
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
        }
        return;
    }
    for (qint64 x = 0; x < h.width; ++x) {
        Rgb c;
        if (h.paletted()) {
            const qint64 bit = x * h.bits;
            const int index = in[bit / 8] >> (8 - h.bits - int(bit % 8)) & ((1 << h.bits) - 1);
            c = palette[std::size_t(index)];
        } else {
            const unsigned char* p = in + x * (h.bits / 8);
            const std::uint32_t pixel = h.bits == 16 ? std::uint32_t(littleEndian16(p))
                : h.bits == 24                       ? std::uint32_t(p[0] | p[1] << 8 | p[2] << 16)
                                                     : littleEndian32(p);
            const uchar a = h.alpha.of(pixel, 255);
            c = {overWhite(h.red.of(pixel, 0), a), overWhite(h.green.of(pixel, 0), a), overWhite(h.blue.of(pixel, 0), a)};
        }
        if (grey) {
            out[x] = c.r;
        } else {
            out[3 * x] = c.r;
            out[3 * x + 1] = c.g;
            out[3 * x + 2] = c.b;
        }
    }
}

// A BMP larger than the picture cache, read in bands of whole rows where
// they are drawn: its rows lie at known places in the file, so a band is
// one read and a conversion, on any thread. Bands are as stored (bottom to
// top unless the header says otherwise); the picture turns them upright.
class BmpBandSource final : public TileSource {
public:
    BmpBandSource(int fd, const BmpHeader& header, std::vector<Rgb> palette, bool grey, int bandRows)
        : m_file(fd), m_header(header), m_palette(std::move(palette)), m_grey(grey),
          m_layout{int(header.width), int(header.rows()), int(header.width), bandRows, grey ? 1 : 3}
    {
    }

    TileLayout layout() const override { return m_layout; }

    bool readTile(int, int band, std::uint8_t* out, std::size_t stride) override
    {
        const int top = band * m_layout.tileHeight;
        const int rows = std::min(m_layout.tileHeight, m_layout.height - top);
        const std::size_t rowBytes = m_header.rowBytes();
        std::vector<unsigned char> stored(rowBytes * std::size_t(rows));
        const std::size_t read = readAt(m_file.fd, qint64(m_header.dataAt) + qint64(top) * qint64(rowBytes),
            stored.data(), stored.size());
        const std::size_t whole = read / rowBytes; // a file cut short: the rows it holds, the rest white
        for (std::size_t y = 0; y < std::size_t(rows); ++y) {
            std::uint8_t* row = out + y * stride;
            if (y < whole)
                convertRow(m_header, m_palette, stored.data() + y * rowBytes, row, m_grey);
            else
                std::memset(row, 0xFF, std::size_t(m_layout.width) * std::size_t(m_layout.channels));
        }
        return true;
    }

private:
    OwnedFd m_file;
    const BmpHeader m_header;
    const std::vector<Rgb> m_palette;
    const bool m_grey;
    const TileLayout m_layout;
};

// Bands of about the cache's wanted band size, each at least a row.
std::shared_ptr<TileSource> bandsOf(int fd, const std::string& path, const BmpHeader& h, std::vector<Rgb> palette,
    bool grey, const FileFacts& facts)
{
    const BandBytes bytes = bandBytes(facts.availableBytes);
    const std::size_t rowBytes = std::size_t(h.width) * (grey ? 1 : 3) + h.rowBytes();
    if (rowBytes > bytes.most)
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    const int rows = int(std::clamp<std::size_t>(bytes.wanted / rowBytes, 1, 4096));
    return std::make_shared<BmpBandSource>(ownDescriptor(fd, path), h, std::move(palette), grey, rows);
}

} // namespace

bool looksLikeBmp(std::span<const unsigned char> head)
{
    return head.size() >= 2 && head[0] == 'B' && head[1] == 'M';
}

DecodedPicture decodeBmp(int fd, const std::string& path, const FileFacts& facts)
{
    BmpHeader h;
    if (!parseHeader(fd, h) || h.width <= 0 || h.rows() == 0 || h.dataAt >= std::uint64_t(facts.fileBytes))
        return {};
    checkSides(path, h.width, h.rows(), INT_MAX);
    const std::vector<Rgb> palette = h.paletted() ? readPalette(fd, h) : std::vector<Rgb>();
    const bool grey = h.paletted() && allGrey(palette);
    const int outputBytes = grey ? 1 : 3;
    // A file with less than a 64th of its rows is cut short to nothing, or
    // its header lies: white rows would only take memory.
    checkHoldsEnoughData(path, h.width, h.rows(), double(h.bits) / 8 * 1e6 / 64, facts.fileBytes - qint64(h.dataAt));
    const PeakBytes peak{outputBytes, outputBytes + h.bits / 8 + 1};
    if (!decodesWhole(h.width, h.rows(), outputBytes, peak, facts))
        return DecodedPicture::inTiles(bandsOf(fd, path, h, palette, grey, facts), h.topDown() ? 1 : 4);
    const int width = int(h.width), height = int(h.rows());
    QImage image(width, height, grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (image.isNull())
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    UprightWriter writer(image, h.topDown() ? 1 : 4, width, height, outputBytes);
    BufferedReader reader(fd, off_t(h.dataAt));
    std::vector<unsigned char> stored(h.rowBytes());
    std::vector<uchar> row(std::size_t(width) * std::size_t(outputBytes));
    int done = 0;
    while (done < height && reader.read(stored.data(), stored.size())) {
        convertRow(h, palette, stored.data(), row.data(), grey);
        writer.putRow(done++, row.data());
        if (done % 64 == 0)
            facts.reportProgress(done, height);
    }
    if (done == 0)
        raiseDecodeError(DecodeFailure::InvalidPicture, path, cannotBeDecoded(translated("reason", "the file ends before its first row")));
    writer.whitenRowsFrom(done);
    return {std::move(image), QImage()};
}

} // namespace korvane
