#pragma once
// Checks made on a picture's header, before any pixel memory is taken.
#include <QtGlobal>

#include <string>

namespace korvane {

struct FileFacts {
    qint64 fileBytes = 0;      // the file's size
    qint64 availableBytes = 0; // memory the system can still give
};

// Raises an out-of-memory file error when width x height pixels at
// bytesPerPixel cannot be held.
void checkFitsInMemory(const std::string& path, qint64 width, qint64 height, int bytesPerPixel,
    const FileFacts& facts);

// Raises an invalid-picture file error when the file is too small to hold
// the claimed pixels: no encoder gets below minBytesPerMegapixel, so such
// a header lies (or the file is cut short), and decoding would only spend
// time and memory on made-up pixels.
void checkHoldsEnoughData(const std::string& path, qint64 width, qint64 height, double minBytesPerMegapixel,
    const FileFacts& facts);

} // namespace korvane
