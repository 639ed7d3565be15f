#pragma once
// A photo's orientation tag (EXIF 0x0112, values 1 to 8) and how stored
// rows land in the upright picture.
#include "turns.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace korvane {

// The orientation in a JPEG APP1 "Exif" payload, or in a TIFF structure as
// PNG's eXIf chunk holds it; 1 (as stored) when absent or unreadable.
int exifOrientation(std::span<const std::uint8_t> exif);
int tiffOrientation(std::span<const std::uint8_t> tiff);

// Writes stored rows into an upright image, one row at a time, so that
// turning the picture needs no second copy of it.
class UprightWriter {
public:
    // The image has the upright size; storedWidth x storedHeight is the
    // file's. pixelBytes is 1 or 3.
    UprightWriter(QImage& upright, int orientation, int storedWidth, int storedHeight, int pixelBytes);
    void putRow(int storedY, const std::uint8_t* row);
    // Fills stored rows firstY .. the last with white: what a file cut
    // short could not give.
    void whitenRowsFrom(int firstY);

private:
    std::uint8_t* m_bits;
    qsizetype m_stride;
    int m_orientation, m_storedWidth, m_storedHeight, m_pixelBytes;
};

} // namespace korvane
