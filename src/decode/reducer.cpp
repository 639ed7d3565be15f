#include "reducer.h"

#include <algorithm>
#include <vector>

namespace korvane {

namespace {

// Smaller pictures are scaled whole in a moment.
constexpr qint64 kPixelsWorthReducing = 4 << 20;
// The averaged copy keeps at least this many pixels a side, enough for
// any overview.
constexpr int kSmallestSide = 1000;
constexpr int kLargestBlock = 16;

} // namespace

ConcurrentReducer::ConcurrentReducer(const QImage& image)
    : m_bits(image.constBits()), m_stride(image.bytesPerLine()), m_width(image.width()), m_height(image.height()),
      m_channels(image.format() == QImage::Format_Grayscale8 ? 1 : 3)
{
    if (qint64(m_width) * m_height < kPixelsWorthReducing || std::thread::hardware_concurrency() < 2)
        return;
    while (m_block < kLargestBlock && std::min(m_width, m_height) / (2 * m_block) >= kSmallestSide)
        m_block *= 2;
    m_reduced = QImage((m_width + m_block - 1) / m_block, (m_height + m_block - 1) / m_block, image.format());
    if (!m_reduced.isNull())
        m_thread = std::jthread([this] { run(); });
}

ConcurrentReducer::~ConcurrentReducer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable())
        m_thread.join();
}

void ConcurrentReducer::rowsReady(int rows)
{
    // Wake the reducer once per band of rows, not for every row.
    if (rows % m_block != 0 && rows != m_height)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_ready = rows;
    }
    m_wake.notify_one();
}

QImage ConcurrentReducer::finish()
{
    if (!m_thread.joinable())
        return QImage();
    rowsReady(m_height);
    m_thread.join();
    return m_failed ? QImage() : m_reduced;
}

void ConcurrentReducer::run()
{
    try {
        reduceAll();
    } catch (const std::exception&) {
        m_failed = true; // the overview is then scaled from the picture itself
    }
}

void ConcurrentReducer::reduceAll()
{
    std::vector<unsigned> sums(static_cast<size_t>(m_width) * static_cast<size_t>(m_channels));
    for (int done = 0; done < m_height;) {
        int ready;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [&] { return m_stop || m_ready >= std::min(done + m_block, m_height); });
            if (m_ready < std::min(done + m_block, m_height)) {
                m_failed = true; // stopped before the picture was complete
                return;
            }
            ready = m_ready;
        }
        for (; done + m_block <= ready || (done < ready && ready == m_height); done += m_block)
            reduceBand(done, std::min(m_block, m_height - done), sums);
    }
}

void ConcurrentReducer::reduceBand(int firstRow, int rowCount, std::vector<unsigned>& sums)
{
    std::fill(sums.begin(), sums.end(), 0u);
    for (int y = firstRow; y < firstRow + rowCount; ++y) {
        const uchar* row = m_bits + y * m_stride;
        for (size_t i = 0; i < sums.size(); ++i)
            sums[i] += row[i];
    }
    uchar* out = m_reduced.bits() + (firstRow / m_block) * m_reduced.bytesPerLine();
    for (int x = 0; x < m_reduced.width(); ++x) {
        const int first = x * m_block, count = std::min(m_block, m_width - first);
        const unsigned pixels = unsigned(count * rowCount);
        for (int c = 0; c < m_channels; ++c) {
            unsigned total = 0;
            for (int i = 0; i < count; ++i)
                total += sums[size_t(first + i) * size_t(m_channels) + size_t(c)];
            out[x * m_channels + c] = static_cast<uchar>((total + pixels / 2) / pixels);
        }
    }
}

} // namespace korvane
