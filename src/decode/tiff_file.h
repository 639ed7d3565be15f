#pragma once
// A TIFF file read through libtiff from an open descriptor, at a position
// of its own (so that several can read one file at once), with libtiff's
// messages kept rather than printed.
#include "decode_limits.h"

#include <QByteArray>

#include <string>

#include <tiffio.h>

namespace korvane {

struct TiffFile {
    int fd = -1;
    qint64 size = 0;
    qint64 offset = 0;
    // Reads past the end give zeros: set for uncompressed pictures, so that
    // a strip cut short still gives its whole rows (the rest is whitened).
    bool padPastEnd = false;
    std::string message; // libtiff's last error
};

// Opens the file for reading through `file`, which must outlive the
// handle; null when libtiff refuses it (its reason in file.message).
TIFF* openTiff(TiffFile& file, const std::string& path, const FileFacts& facts);

// The page is grey (min-is-black or min-is-white, one colour sample).
bool isGrey(TIFF* tiff);
// The page's embedded ICC profile; empty when there is none.
QByteArray iccProfileOf(TIFF* tiff);

} // namespace korvane
