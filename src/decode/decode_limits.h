#pragma once
// Checks made on a picture's header, before any pixel memory is taken.
#include "load_progress.h"

#include <QSize>

#include <cstddef>
#include <span>
#include <string>

namespace korvane {

struct FileFacts {
    qint64 fileBytes = 0;      // the file's size
    qint64 availableBytes = 0; // memory the system can still give
    LoadProgress* progress = nullptr; // told how far decoding has come, when set
    // The overview's sides in pixels: a landscape picture's is this wide,
    // any other this high. A decoder that can show a picture before it is
    // whole makes a copy at least this big first; empty: never.
    QSize overviewSides;
    // The rows the detail view shows first, from the top: a decoder that
    // fills in its rows beside the overview's copy may pause after them
    // until the copy is made. 0: no pause.
    int firstRows = 0;

    void reportProgress(long long done, long long total) const
    {
        if (progress)
            progress->set(done, total);
    }
};

// What a load holds at its peak: bytes for each pixel of the picture (the
// picture itself plus any whole-picture buffer held beside it) and bytes
// for each pixel of one row (the decoder's row buffers).
struct PeakBytes {
    int perPixel = 3;
    int perRowPixel = 0;
};

// Deflate never packs more than 1032 bytes into one; a little more leaves
// room for the rounding of small files.
constexpr double kMaxDeflateRatio = 1100;

// Raises an invalid-picture file error when a side is 0 or above maxSide,
// the largest the format's decoder takes.
void checkSides(const std::string& path, qint64 width, qint64 height, qint64 maxSide);

// Whether width x height pixels at the given peak can be held; the
// arithmetic cannot overflow.
bool fitsInMemory(qint64 width, qint64 height, PeakBytes peak, const FileFacts& facts);

// Raises an out-of-memory file error when width x height pixels at the
// given peak cannot be held; `why` (a translated text) says, when given,
// why the picture cannot be read in parts either.
void checkFitsInMemory(const std::string& path, qint64 width, qint64 height, PeakBytes peak,
    const FileFacts& facts, const std::string& why = {});

// Raises an invalid-picture file error when the file is too small to hold
// the claimed pixels: used only where the format bounds how much its data
// can encode (deflate's 1032:1, one Huffman bit per JPEG block), so such a
// header lies (or the file is cut short to nothing), and decoding would
// only spend time and memory on made-up pixels.
void checkHoldsEnoughData(const std::string& path, qint64 width, qint64 height, double minBytesPerMegapixel,
    qint64 dataBytes);
bool holdsEnoughData(qint64 width, qint64 height, double minBytesPerMegapixel, qint64 dataBytes);

// Reads the file's first into.size() bytes into `into`, from its start
// whatever the descriptor's position; returns how many there were (fewer
// for a shorter file). Raises the unreadable-file error on an I/O error.
std::size_t readFromStart(int fd, const std::string& path, std::span<unsigned char> into);

// The picture cache's budget: a quarter of the memory the program may
// use, at most 512 MB. A picture larger than that decoded, where its format
// can be read in parts, is read in tiles through a cache of that size.
qint64 pictureCacheBytes(qint64 availableBytes);

// Whether a picture that can be read in parts is decoded whole instead: its
// decoded pixels (`pictureBytesPerPixel` each) fit the picture cache, and
// its decode's peak fits the memory. A larger one goes through the cache,
// even when memory would hold it, so memory stays flat at any size.
bool decodesWhole(qint64 width, qint64 height, double pictureBytesPerPixel, PeakBytes peak, const FileFacts& facts);

// A picture read in bands of whole rows (PNG, JPEG): about `wanted` bytes
// a band decoded (at most 32 MB, a sixteenth of the cache), and at most
// `most` (a quarter of it), or it cannot be read in bands.
struct BandBytes {
    std::size_t wanted = 0, most = 0;
};
BandBytes bandBytes(qint64 availableBytes);

// The largest Qt reader allocation, in megabytes, that the budget allows.
int allocationLimitMegabytes(const FileFacts& facts);

} // namespace korvane
