#include "row_sink.h"
#include "texts.h"

#include "decode_error.h"

#include <cstdint>
#include <sys/mman.h>

namespace korvane {

namespace {

// A large picture is written whole, page after page: in huge pages that
// costs one fault per 2 MB instead of one per 4 KB (on a 25000 x 25000
// picture, seconds of the kernel's time).
void adviseHugePages(QImage& image)
{
    constexpr qsizetype kHugePage = qsizetype(2) << 20;
    if (image.sizeInBytes() < 8 * kHugePage)
        return;
    uchar* bits = image.bits();
    const auto misalignment = qsizetype(reinterpret_cast<std::uintptr_t>(bits) % std::uintptr_t(kHugePage));
    const qsizetype skipped = misalignment ? kHugePage - misalignment : 0;
    const qsizetype length = (image.sizeInBytes() - skipped) / kHugePage * kHugePage;
    ::madvise(bits + skipped, std::size_t(length), MADV_HUGEPAGE);
}

} // namespace

QImage uprightPicture(int storedWidth, int storedHeight, int orientation, int pixelBytes)
{
    const bool swap = swapsSides(orientation);
    QImage image(swap ? storedHeight : storedWidth, swap ? storedWidth : storedHeight,
        pixelBytes == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    adviseHugePages(image);
    return image;
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
