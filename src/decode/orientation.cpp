#include "orientation.h"

#include <cstring>

namespace korvane {

namespace {

unsigned read16(const std::uint8_t* p, bool bigEndian)
{
    return bigEndian ? unsigned(p[0] << 8 | p[1]) : unsigned(p[1] << 8 | p[0]);
}

std::uint32_t read32(const std::uint8_t* p, bool bigEndian)
{
    return bigEndian ? (std::uint32_t(read16(p, true)) << 16 | read16(p + 2, true))
                     : (std::uint32_t(read16(p + 2, false)) << 16 | read16(p, false));
}

} // namespace

int exifOrientation(std::span<const std::uint8_t> exif)
{
    // "Exif\0\0", then a TIFF header and the first directory.
    if (exif.size() < 6 || std::memcmp(exif.data(), "Exif\0\0", 6) != 0)
        return 1;
    return tiffOrientation(exif.subspan(6));
}

int tiffOrientation(std::span<const std::uint8_t> bytes)
{
    const std::uint8_t* tiff = bytes.data();
    const std::size_t length = bytes.size();
    if (length < 8)
        return 1;
    const bool bigEndian = tiff[0] == 'M' && tiff[1] == 'M';
    if (!bigEndian && !(tiff[0] == 'I' && tiff[1] == 'I'))
        return 1;
    const std::uint32_t directory = read32(tiff + 4, bigEndian);
    if (directory > length - 2)
        return 1;
    const unsigned entries = read16(tiff + directory, bigEndian);
    for (unsigned i = 0; i < entries; ++i) {
        const std::size_t at = directory + 2 + std::size_t(i) * 12;
        if (at + 12 > length)
            break;
        if (read16(tiff + at, bigEndian) == 0x0112) {
            const unsigned value = read16(tiff + at + 8, bigEndian);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

UprightWriter::UprightWriter(QImage& upright, int orientation, int storedWidth, int storedHeight, int pixelBytes)
    : m_bits(upright.bits()), m_stride(upright.bytesPerLine()), m_orientation(orientation), m_storedWidth(storedWidth), m_storedHeight(storedHeight),
      m_pixelBytes(pixelBytes)
{
}

void UprightWriter::putRow(int y, const std::uint8_t* row)
{
    const int w = m_storedWidth, h = m_storedHeight, n = m_pixelBytes;
    if (m_orientation <= 1) {
        std::memcpy(m_bits + y * m_stride, row, std::size_t(w) * std::size_t(n));
        return;
    }
    // Where stored pixel (x, y) goes: a column step and a starting point.
    int startX = 0, startY = 0, stepX = 0, stepY = 0;
    switch (m_orientation) {
    case 2: startX = w - 1; startY = y; stepX = -1; break;           // mirrored
    case 3: startX = w - 1; startY = h - 1 - y; stepX = -1; break;   // turned 180
    case 4: startX = 0; startY = h - 1 - y; stepX = 1; break;        // mirrored upside down
    case 5: startX = y; startY = 0; stepY = 1; break;                // transposed
    case 6: startX = h - 1 - y; startY = 0; stepY = 1; break;        // turn 90 clockwise
    case 7: startX = h - 1 - y; startY = w - 1; stepY = -1; break;   // transversed
    default: startX = y; startY = w - 1; stepY = -1; break;          // 8: turn 90 anticlockwise
    }
    if (stepY == 0) {
        std::uint8_t* out = m_bits + startY * m_stride;
        for (int x = 0; x < w; ++x)
            std::memcpy(out + std::size_t(startX + stepX * x) * std::size_t(n), row + std::size_t(x) * std::size_t(n), std::size_t(n));
        return;
    }
    for (int x = 0; x < w; ++x)
        std::memcpy(m_bits + (startY + stepY * x) * m_stride + std::size_t(startX) * std::size_t(n),
            row + std::size_t(x) * std::size_t(n), std::size_t(n));
}

void UprightWriter::whitenRowsFrom(int firstY)
{
    const std::vector<std::uint8_t> white(std::size_t(m_storedWidth) * std::size_t(m_pixelBytes), 0xFF);
    for (int y = firstY; y < m_storedHeight; ++y)
        putRow(y, white.data());
}

} // namespace korvane
