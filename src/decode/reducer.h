#pragma once
// Averages a picture's square blocks (4, 8 or 16 pixels a side) while it is
// being decoded, on a thread of its own, so that the overview can later be
// scaled from a much smaller picture: on two cores that work is hidden
// behind the decoding. Blocks grow with the picture, so that the averaged
// copy stays a few megabytes yet over 1000 pixels a side.
#include <QImage>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace korvane {

class ConcurrentReducer {
public:
    // `image` (RGB888 or Grayscale8) is written from the top, row by row,
    // and must not move until finish() or destruction.
    explicit ConcurrentReducer(const QImage& image);
    ~ConcurrentReducer();
    ConcurrentReducer(const ConcurrentReducer&) = delete;
    ConcurrentReducer& operator=(const ConcurrentReducer&) = delete;

    // Rows 0 .. rows - 1 are final.
    void rowsReady(int rows);
    // Waits until every row is reduced and returns the reduced picture;
    // null when the image was too small to be worth it.
    QImage finish();

private:
    void run();
    void reduceAll();
    void reduceBand(int firstRow, int rowCount, std::vector<unsigned>& sums);

    const uchar* m_bits;
    qsizetype m_stride;
    int m_width, m_height, m_channels;
    int m_block = 4;
    QImage m_reduced;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    int m_ready = 0;
    bool m_stop = false;
    bool m_failed = false; // the reducer could not finish: no reduced copy
    std::jthread m_thread;
};

} // namespace korvane
