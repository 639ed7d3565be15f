#include "row_sink.h"
#include "texts.h"

#include "decode_error.h"

namespace korvane {

// In the kernel's plain pages, not advised into huge ones: where free
// memory is handed back to a virtual machine's host in large blocks, each
// huge page is such a block taken back, and its faults cost more than the
// small pages' they spare. A 100-megapixel PNG shows a third sooner so
// (0.19 s of kernel time against 0.57), a 20000 x 20000 interlaced one
// about a tenth sooner.
QImage uprightPicture(int storedWidth, int storedHeight, int orientation, int pixelBytes)
{
    const bool swap = swapsSides(orientation);
    return {swap ? storedHeight : storedWidth, swap ? storedWidth : storedHeight,
        pixelBytes == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888};
}

RowSink::RowSink(const std::string& path, int storedWidth, int storedHeight, int orientation, int pixelBytes)
    : m_image(uprightPicture(storedWidth, storedHeight, orientation, pixelBytes)),
      m_writer(m_image, orientation, storedWidth, storedHeight, pixelBytes), m_orientation(orientation),
      m_storedHeight(storedHeight)
{
    if (m_image.isNull())
        raiseDecodeError(DecodeFailure::OutOfMemory, path, doesNotFitInMemory());
    if (orientation == 1)
        m_reducer = std::make_unique<ConcurrentReducer>(m_image);
}

uchar* RowSink::nextPictureRow()
{
    if (m_orientation != 1 || m_rowsDone >= m_storedHeight)
        return nullptr;
    return m_image.bits() + qsizetype(m_rowsDone) * m_image.bytesPerLine();
}

void RowSink::put(const uchar* row, const FileFacts& facts)
{
    if (m_rowsDone >= m_storedHeight)
        return;
    if (row != nextPictureRow())
        m_writer.putRow(m_rowsDone, row);
    ++m_rowsDone;
    if (m_reducer)
        m_reducer->rowsReady(m_rowsDone);
    if (m_rowsDone % 64 == 0)
        facts.reportProgress(m_rowsDone, m_storedHeight);
}

DecodedPicture RowSink::finish()
{
    if (m_rowsDone < m_storedHeight) {
        m_writer.whitenRowsFrom(m_rowsDone);
        if (m_reducer)
            m_reducer->rowsReady(m_storedHeight);
    }
    QImage reduced = m_reducer ? m_reducer->finish() : QImage();
    m_reducer.reset();
    return {std::move(m_image), std::move(reduced)};
}

} // namespace korvane
