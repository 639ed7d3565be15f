#pragma once
// Where a decoder's rows go, top to bottom as the file stores them: into
// the upright picture in its display format, averaged into blocks beside it
// when it is stored upright, and counted for the progress display. A row
// that needs no turning or conversion is decoded straight into the picture.
#include "decoders.h"
#include "orientation.h"
#include "reducer.h"

#include <memory>
#include <string>

namespace korvane {

// A picture of the stored size turned by `orientation`, 1 (grey) or 3 (RGB)
// bytes a pixel; null when it cannot be had.
QImage uprightPicture(int storedWidth, int storedHeight, int orientation, int pixelBytes);

class RowSink {
public:
    // The picture of the stored size turned by `orientation`, 1 (grey) or 3
    // (RGB) bytes a pixel; raises the out-of-memory error when it cannot
    // be had.
    RowSink(const std::string& path, int storedWidth, int storedHeight, int orientation, int pixelBytes);

    // The picture's own row for the next stored row when the picture is
    // upright (decode into it, then put it); null when rows are turned.
    uchar* nextPictureRow();
    // The next stored row is final: the picture's own or one to copy in.
    void put(const uchar* row, const FileFacts& facts);
    qsizetype pictureStride() const { return m_image.bytesPerLine(); }
    int rowsDone() const { return m_rowsDone; }
    int storedHeight() const { return m_storedHeight; }

    // The rows never given are white (a file cut short); the picture and
    // its averaged copy.
    DecodedPicture finish();

private:
    QImage m_image;
    UprightWriter m_writer;                      // after the image: it writes into its rows
    std::unique_ptr<ConcurrentReducer> m_reducer; // the same
    int m_orientation, m_storedHeight;
    int m_rowsDone = 0;
};

} // namespace korvane
