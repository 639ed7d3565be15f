#pragma once
// A PNG's rows read from a point in its deflate stream on: the inflating
// runs on a thread of its own a few rows ahead while the reader undoes the
// row filters, so that on two cores reading takes the inflating's time
// alone (the larger part of the whole).
#include "png_passes.h"
#include "png_stream.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

struct inflate_state;

namespace korvane {

// Starts ISA-L's `state` on raw deflate, the zlib header skipped by the
// caller: the Adler-32 comes after the rows, and a preset dictionary
// (which PNG does not allow) fails as data.
void startRawInflate(inflate_state& state);
// Inflates `size` bytes into `out`, `refill` giving the state more input
// (false at its end); the bytes made, fewer once the data ends or is
// damaged.
std::size_t inflateInto(inflate_state& state, std::uint8_t* out, std::size_t size, const std::function<bool()>& refill);

// Where inflating can begin again: the start of a row, with the inflater's
// state there (its bits not used yet, its code tables and its 32 KB
// window).
struct Checkpoint {
    std::uint64_t in = 2;   // the stream's next byte (past the zlib header at first)
    std::uint64_t out = 0;  // inflated bytes before this point
    std::vector<std::uint8_t> state;  // the inflater's; none at the stream's start
    std::vector<std::uint8_t> above;  // the row above the one at `out`, unfiltered; none atop a pass
};
using CheckpointPtr = std::shared_ptr<const Checkpoint>;
// What a checkpoint holds, with rows of `rowBytes` unfiltered bytes.
std::size_t checkpointBytes(std::size_t rowBytes);
// What a reader holds beside, at most, with rows of that many bytes.
std::size_t readerBytes(std::size_t rowBytes);

// Undoes one row's filter into `out`, from the row above; `step` is the
// bytes of a pixel (at least one). False for a filter PNG does not have.
bool unfilterPngRow(const std::uint8_t* filtered, const std::uint8_t* above, std::uint8_t* out, std::size_t bytes,
    int step);

// At the start of each row, `wants(out)` is asked (on the inflating
// thread) whether a checkpoint is wanted there, and `take` is given it (on
// the reader's) once the row above is known.
struct CheckpointTaker {
    std::function<bool(std::uint64_t out)> wants;
    std::function<void(CheckpointPtr)> take;
};

class RowReader {
public:
    // `data`, `passes` and what `taker` calls must outlive the reader.
    RowReader(int fd, PngImageData& data, const PngPasses& passes, const Checkpoint& from, CheckpointTaker taker);
    ~RowReader();
    RowReader(const RowReader&) = delete;
    RowReader& operator=(const RowReader&) = delete;

    // The row the next call gives.
    RowPlace nextPlace() const { return m_next; }
    // The next row, unfiltered; null once the data ends or is damaged.
    const std::uint8_t* next();

private:
    // Rows inflated together: a few of them, about 64 KB, so that narrow
    // pictures do not hand over row by row.
    struct Batch {
        std::vector<std::uint8_t> rows; // filtered, one after the other
        std::vector<std::size_t> starts; // of each row in `rows`
        struct Pending {
            int row;
            std::shared_ptr<Checkpoint> point; // all but `above`
        };
        std::vector<Pending> pending;
        int count() const { return int(starts.size()); }
    };
    void inflateAll(const std::stop_token& stop, Checkpoint from);
    bool inflateRow(std::uint8_t* row, std::size_t size);
    bool refill();
    std::shared_ptr<Checkpoint> checkpointHere() const;
    bool takeBatch();

    const int m_fd;
    PngImageData& m_data;
    const PngPasses& m_passes;
    const CheckpointTaker m_taker;
    // The inflating thread's own.
    struct Stream;
    std::unique_ptr<Stream> m_stream;
    // Shared, under the mutex.
    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<Batch> m_ready, m_spare;
    bool m_ended = false; // the inflating thread has made its last batch
    // The reader's own.
    Batch m_batch;
    int m_inBatch = 0;
    RowPlace m_next;
    std::vector<std::uint8_t> m_above, m_row;
    bool m_failed = false;
    std::jthread m_inflating; // last: it uses the rest
};

} // namespace korvane
