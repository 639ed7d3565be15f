#include "png_rows.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include <zlib.h>

namespace korvane {

namespace {

constexpr std::size_t kWindowBytes = 32768;
constexpr std::size_t kBatchBytes = 64 << 10;
constexpr std::size_t kBatchesAhead = 8;

std::uint8_t paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

} // namespace

bool unfilterPngRow(const std::uint8_t* filtered, const std::uint8_t* above, std::uint8_t* out, std::size_t bytes,
    int step)
{
    const std::uint8_t* in = filtered + 1;
    const std::size_t s = std::size_t(step);
    switch (filtered[0]) {
    case 0:
        std::memcpy(out, in, bytes);
        return true;
    case 1:
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + (i >= s ? out[i - s] : 0));
        return true;
    case 2:
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + above[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + ((i >= s ? out[i - s] : 0) + above[i]) / 2);
        return true;
    case 4:
        for (std::size_t i = 0; i < s && i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + above[i]);
        for (std::size_t i = s; i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + paeth(out[i - s], above[i], above[i - s]));
        return true;
    default:
        return false;
    }
}

// The inflater's state, on its thread.
struct RowReader::Stream {
    z_stream zlib {};
    bool begun = false;
    std::uint64_t in = 0, out = 0;
    std::array<std::uint8_t, 1 << 16> input {};
    ~Stream()
    {
        if (begun)
            ::inflateEnd(&zlib);
    }
};

RowReader::RowReader(int fd, PngImageData& data, const PngPasses& passes, const Checkpoint& from,
    CheckpointTaker taker)
    : m_fd(fd), m_data(data), m_passes(passes), m_taker(std::move(taker)),
      m_stream(std::make_unique<Stream>()), m_next(passes.placeOf(from.out)), m_above(from.above),
      m_row(passes.widestRow())
{
    m_above.resize(m_row.size(), 0);
    const std::size_t batchBytes = std::max<std::size_t>(kBatchBytes, m_row.size() + 1); // the widest row fits
    for (std::size_t i = 0; i < kBatchesAhead; ++i)
        m_spare.push_back(Batch{std::vector<std::uint8_t>(batchBytes), {}, {}});
    m_inflating = std::jthread([this, from](const std::stop_token& stop) { inflateAll(stop, from); });
}

RowReader::~RowReader()
{
    m_inflating.request_stop();
    m_changed.notify_all();
}

// The inflating thread: batches of filtered rows until the data ends, is
// damaged, or the reader goes.
void RowReader::inflateAll(const std::stop_token& stop, Checkpoint from)
{
    Stream& s = *m_stream;
    s.in = from.in;
    s.out = from.out;
    bool ok = ::inflateInit2(&s.zlib, -15) == Z_OK;
    s.begun = ok;
    if (ok && from.bits > 0) {
        std::uint8_t byte = 0;
        ok = m_data.read(m_fd, from.in - 1, &byte, 1) == 1
            && ::inflatePrime(&s.zlib, from.bits, byte >> (8 - from.bits)) == Z_OK;
    }
    if (ok && !from.window.empty())
        ok = ::inflateSetDictionary(&s.zlib, from.window.data(), uInt(from.window.size())) == Z_OK;
    std::vector<std::uint8_t> partial = std::move(from.partial);
    RowPlace place = m_passes.placeOf(from.out);
    ok = ok && place < m_passes.end();
    while (ok) {
        Batch batch;
        {
            std::unique_lock lock(m_mutex);
            if (!m_changed.wait(lock, stop, [&] { return !m_spare.empty(); }))
                return;
            batch = std::move(m_spare.front());
            m_spare.pop_front();
        }
        batch.starts.clear();
        batch.pending.clear();
        for (std::size_t used = 0; ok;) {
            const std::size_t size = m_passes[place.pass].shape.filtered();
            if (used + size > batch.rows.size())
                break;
            std::uint8_t* row = batch.rows.data() + used;
            std::copy(partial.begin(), partial.end(), row);
            ok = inflateRow(row, partial.size(), size, batch.count(), batch);
            partial.clear();
            if (!ok)
                break;
            batch.starts.push_back(used);
            used += size;
            place = m_passes.after(place);
            ok = place < m_passes.end(); // the rows end with the data's last pass
        }
        std::lock_guard lock(m_mutex);
        m_ready.push_back(std::move(batch));
        m_ended = !ok;
        m_changed.notify_all();
    }
}

// One filtered row of `size` bytes, its first `filled` already there.
bool RowReader::inflateRow(std::uint8_t* row, std::size_t filled, std::size_t size, int index, Batch& batch)
{
    Stream& s = *m_stream;
    while (filled < size) {
        if (s.zlib.avail_in == 0 && !refill())
            return false;
        s.zlib.next_out = row + filled;
        s.zlib.avail_out = uInt(size - filled);
        const int result = ::inflate(&s.zlib, Z_BLOCK);
        const std::size_t made = size - filled - s.zlib.avail_out;
        filled += made;
        s.out += made;
        if (result == Z_STREAM_END && filled < size)
            return false;
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
            return false;
        const bool boundary = (s.zlib.data_type & 128) != 0 && (s.zlib.data_type & 64) == 0;
        if (boundary && filled < size && m_taker.wants && m_taker.wants(s.out))
            if (std::shared_ptr<Checkpoint> point = partialCheckpoint(row, filled))
                batch.pending.push_back({index, std::move(point)});
    }
    return true;
}

bool RowReader::refill()
{
    Stream& s = *m_stream;
    const std::size_t got = m_data.read(m_fd, s.in, s.input.data(), s.input.size());
    s.in += got;
    s.zlib.next_in = s.input.data();
    s.zlib.avail_in = uInt(got);
    return got > 0;
}

// A checkpoint at the block boundary just reached, but for the row above,
// which only the reader knows.
std::shared_ptr<Checkpoint> RowReader::partialCheckpoint(const std::uint8_t* row, std::size_t filled)
{
    Stream& s = *m_stream;
    auto point = std::make_shared<Checkpoint>();
    point->in = s.in - s.zlib.avail_in;
    point->bits = s.zlib.data_type & 7;
    point->out = s.out;
    point->window.resize(kWindowBytes);
    uInt length = uInt(kWindowBytes);
    if (::inflateGetDictionary(&s.zlib, point->window.data(), &length) != Z_OK)
        return nullptr;
    point->window.resize(length);
    point->partial.assign(row, row + filled);
    return point;
}

// The next batch from the inflating thread; false once there is none.
bool RowReader::takeBatch()
{
    std::unique_lock lock(m_mutex);
    if (!m_batch.rows.empty())
        m_spare.push_back(std::move(m_batch));
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return !m_ready.empty() || m_ended; });
    if (m_ready.empty())
        return false;
    m_batch = std::move(m_ready.front());
    m_ready.pop_front();
    m_inBatch = 0;
    return true;
}

const std::uint8_t* RowReader::next()
{
    if (m_failed || (m_inBatch >= m_batch.count() && !takeBatch()) || m_inBatch >= m_batch.count()) {
        m_failed = true;
        return nullptr;
    }
    const RowShape& shape = m_passes[m_next.pass].shape;
    if (m_next.row == 0) // a pass's first row has none above it
        std::fill(m_above.begin(), m_above.begin() + std::ptrdiff_t(shape.bytes), std::uint8_t(0));
    for (Batch::Pending& pending : m_batch.pending)
        if (pending.row == m_inBatch && pending.point && m_taker.take) {
            pending.point->above.assign(m_above.begin(), m_above.begin() + std::ptrdiff_t(shape.bytes));
            m_taker.take(std::move(pending.point));
        }
    const std::uint8_t* filtered = m_batch.rows.data() + m_batch.starts[std::size_t(m_inBatch)];
    ++m_inBatch;
    if (!unfilterPngRow(filtered, m_above.data(), m_row.data(), shape.bytes, shape.step)) {
        m_failed = true;
        return nullptr;
    }
    m_above.swap(m_row);
    m_next = m_passes.after(m_next);
    return m_above.data();
}

} // namespace korvane
