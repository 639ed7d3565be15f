#include "container_checks.h"

#include "byte_order.h"
#include "read_at.h"

#include <cstdint>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace korvane {

namespace {

// Qt's readers decode a DIB entry at 4 bytes a pixel, converted then to 3.
constexpr PeakBytes kQtPeak{4 + 3, 0};
constexpr std::uint32_t kLargestPngSide = 0x7FFFFFFF;

bool isPngEntry(const unsigned char* head)
{
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    return std::memcmp(head, kSignature, 8) == 0;
}

// What Qt's PNG reader holds a pixel in: a byte for palette and 8-bit
// grey, 2 for 16-bit grey, 4 for 8-bit colour or alpha, 8 for 16-bit.
int qtPngBytesPerPixel(int colourType, int depth)
{
    const bool wide = depth == 16;
    if (colourType == 3 || colourType == 0)
        return wide ? 2 : 1;
    return wide ? 8 : 4;
}

// A PNG entry: its header claims, and deflate's bound on the entry's bytes.
void checkPngEntry(const unsigned char* head, qint64 entryBytes, const std::string& path, const FileFacts& facts)
{
    if (!isPngEntry(head) || std::memcmp(head + 12, "IHDR", 4) != 0)
        return;
    const qint64 width = bigEndian32(head + 16), height = bigEndian32(head + 20);
    checkSides(path, width, height, kLargestPngSide);
    const int depth = head[24], colourType = head[25];
    checkFitsInMemory(path, width, height, PeakBytes{qtPngBytesPerPixel(colourType, depth) + 3, 0}, facts);
    const int channels = colourType == 2 ? 3 : colourType == 4 ? 2 : colourType == 6 ? 4 : 1;
    const double rowBytes = (double(width) * channels * depth + 7) / 8 + 1;
    checkHoldsEnoughData(path, width, height, rowBytes / double(width) * 1e6 / kMaxDeflateRatio, entryBytes);
}

// A BMP entry (a DIB header, its height counting the mask too).
void checkDibEntry(const unsigned char* head, const std::string& path, const FileFacts& facts)
{
    if (littleEndian32(head) < 40)
        return;
    const qint64 width = static_cast<std::int32_t>(littleEndian32(head + 4));
    const qint64 height = static_cast<std::int32_t>(littleEndian32(head + 8)) / 2;
    checkFitsInMemory(path, width < 0 ? -width : width, height < 0 ? -height : height, kQtPeak, facts);
}

void checkIco(int fd, const std::string& path, const FileFacts& facts, int count)
{
    for (int i = 0; i < count; ++i) {
        unsigned char entry[16], head[26];
        if (!readAllAt(fd, 6 + 16 * qint64(i), entry, sizeof entry))
            return;
        const qint64 bytes = littleEndian32(entry + 8), offset = littleEndian32(entry + 12);
        if (!readAllAt(fd, offset, head, sizeof head))
            continue;
        // An entry is a PNG or a DIB, never both: a PNG's signature read as
        // a DIB header claims a picture of gigapixels.
        if (isPngEntry(head))
            checkPngEntry(head, bytes, path, facts);
        else
            checkDibEntry(head, path, facts);
    }
}

void checkIcns(int fd, const std::string& path, const FileFacts& facts)
{
    qint64 offset = 8;
    for (int entries = 0; entries < 4096 && offset + 8 <= facts.fileBytes; ++entries) {
        unsigned char head[8 + 26];
        if (!readAllAt(fd, offset, head, 8))
            return;
        const qint64 length = bigEndian32(head + 4);
        if (length < 8)
            return;
        if (readAllAt(fd, offset + 8, head + 8, 26))
            checkPngEntry(head + 8, length - 8, path, facts);
        offset += length;
    }
}

} // namespace

void checkNestedPictures(int fd, const std::string& path, const FileFacts& facts)
{
    unsigned char head[8];
    if (!readAllAt(fd, 0, head, sizeof head))
        return;
    const int type = littleEndian16(head + 2);
    if (littleEndian16(head) == 0 && (type == 1 || type == 2))
        checkIco(fd, path, facts, littleEndian16(head + 4));
    else if (std::memcmp(head, "icns", 4) == 0)
        checkIcns(fd, path, facts);
}

} // namespace korvane
