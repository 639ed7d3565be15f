#pragma once
// Pictures loaded through the real decoders with a given memory budget, so
// that large ones are read in tiles, and checked through what the panels
// ask for.
#include "decode/decode_limits.h"
#include "platform/picture.h"

#include <QImage>
#include <QPoint>
#include <QRect>

#include <functional>
#include <optional>
#include <string>

namespace korvane::test {

// A budget that holds about a fifth of a 1500 x 1000 picture: read in tiles.
constexpr qint64 kSmallMemory = qint64(4) << 20;

// A JPEG of coordinate colours (grey: x ^ y) as libjpeg writes it:
// restart markers every `interval` MCUs (0: none), the standard's Huffman
// tables or tables made for the picture, and in one scan, in libjpeg's
// progressive scans, or sequential with each component in a scan of its
// own; colour at the luma's sampling (2 x 2: 4:2:0).
struct JpegOptions {
    unsigned interval = 0;
    bool grey = false, optimized = false, progressive = false, scanEach = false;
    int lumaAcross = 2, lumaDown = 2;
    int width = 1500, height = 1000;
};
std::string writeJpeg(const std::string& name, const JpegOptions& options);

// The facts of the file at `path` with that much memory available, and an
// overview of 400 x 300.
FileFacts factsFor(const std::string& path, qint64 availableBytes);

// Decoded by the decoder its suffix names (.png, .jpg, .jp2, .svg, .gif,
// .bmp, else TIFF), with an overview of 400 x 300.
Picture loadWithMemory(const std::string& path, qint64 availableBytes);

// Waits for the pass that makes the overview of a picture read in tiles,
// up to a deadline far beyond any test picture's; false if it passed.
bool overviewMade(const Picture& picture);

// The first pixel of `area` whose coordinate colour does not name the
// expected point.
std::optional<QPoint> firstWrongPixel(const Picture& picture, const QRect& area,
    const std::function<QPoint(QPoint)>& expected);

// The largest difference of a channel over `area`.
int largestDifference(const Picture& picture, const QImage& expected, const QRect& area);

} // namespace korvane::test
