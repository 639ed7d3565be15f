#pragma once
// A plain PNG's image data inflated row by row on a thread of its own, a
// few rows ahead of the thread that undoes their filters.
#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct inflate_state;

namespace korvane {

class RowInflater {
public:
    // The image data starts at `position` in a chunk of `length` bytes;
    // each row is `rowBytes` long, its filter byte included.
    RowInflater(int fd, off_t position, std::uint32_t length, std::size_t rowBytes, int rows);
    ~RowInflater();
    RowInflater(const RowInflater&) = delete;
    RowInflater& operator=(const RowInflater&) = delete;

    // Row y, still filtered, once inflated; null when the data ended first.
    // Rows are asked for in order: those before y are free again.
    const std::uint8_t* waitForRow(int y);

private:
    static constexpr int kRingRows = 64;
    static constexpr int kRowsPerHandOver = 8;

    std::uint8_t* slot(int y) { return m_ring.data() + std::size_t(y % kRingRows) * m_rowBytes; }
    bool refill();
    bool inflateRow(std::uint8_t* row);
    void run();
    void inflateRows();

    int m_fd;
    off_t m_position;
    std::uint32_t m_left;
    std::size_t m_rowBytes;
    int m_rows;
    int m_headerLeft = 2; // the zlib header's bytes, skipped
    std::vector<std::uint8_t> m_ring;
    std::vector<std::uint8_t> m_input;
    std::unique_ptr<inflate_state> m_state;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_inflated = 0, m_consumed = 0;
    bool m_ended = false, m_stop = false;
    std::thread m_thread; // last: it starts once the rest exists
};

} // namespace korvane
