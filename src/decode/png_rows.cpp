#include "png_rows.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include <isa-l/igzip_lib.h>

namespace korvane {

namespace {

constexpr std::size_t kBatchBytes = 64 << 10;
constexpr std::size_t kBatchesAhead = 8;

std::uint8_t paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

} // namespace

void startRawInflate(inflate_state& state)
{
    isal_inflate_init(&state);
    state.crc_flag = ISAL_DEFLATE;
}

std::size_t inflateInto(inflate_state& state, std::uint8_t* out, std::size_t size, const std::function<bool()>& refill)
{
    state.next_out = out;
    state.avail_out = std::uint32_t(size);
    while (state.avail_out > 0) {
        if (state.block_state == ISAL_BLOCK_FINISH)
            break; // the data ends before the rows do
        // Inflated bytes may wait in the state's own buffer once the input
        // has ended: they are drained before the end is taken as the end.
        const bool inputEnded = state.avail_in == 0 && state.block_state != ISAL_BLOCK_INPUT_DONE && !refill();
        const std::uint32_t before = state.avail_out;
        if (isal_inflate(&state) != ISAL_DECOMP_OK || (inputEnded && state.avail_out == before))
            break;
    }
    return size - state.avail_out;
}

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

// The inflater's state, on its thread. ISA-L's inflate, not zlib's: zlib
// inflated a photo's image data at about 250 MB/s here, two thirds of the
// overview's pass; ISA-L inflates it 2.2 to 2.6 times as fast. Its state
// holds all it needs to go on (its bits not used yet, its code tables, the
// last 32 KB it inflated) and no pointer into itself, so a copy of it
// taken between two calls is a checkpoint.
struct RowReader::Stream {
    inflate_state isal {};
    std::uint64_t in = 0, out = 0;
    std::array<std::uint8_t, 1 << 16> input {};
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
    bool ok = true;
    if (from.state.empty()) {
        startRawInflate(s.isal); // `from.in` is past the zlib header
    } else {
        ok = from.state.size() == sizeof(inflate_state);
        if (ok)
            std::memcpy(&s.isal, from.state.data(), sizeof(inflate_state));
    }
    s.isal.next_in = nullptr;
    s.isal.avail_in = 0;
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
            if (m_taker.wants && m_taker.wants(s.out))
                batch.pending.push_back({batch.count(), checkpointHere()});
            ok = inflateRow(batch.rows.data() + used, size);
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

// One filtered row of `size` bytes.
bool RowReader::inflateRow(std::uint8_t* row, std::size_t size)
{
    Stream& s = *m_stream;
    const std::size_t made = inflateInto(s.isal, row, size, [this] { return refill(); });
    s.out += made;
    return made == size;
}

bool RowReader::refill()
{
    Stream& s = *m_stream;
    const std::size_t got = m_data.read(m_fd, s.in, s.input.data(), s.input.size());
    s.in += got;
    s.isal.next_in = s.input.data();
    s.isal.avail_in = std::uint32_t(got);
    return got > 0;
}

// A checkpoint at the start of the row about to be inflated, but for the
// row above, which only the reader knows.
std::shared_ptr<Checkpoint> RowReader::checkpointHere() const
{
    const Stream& s = *m_stream;
    auto point = std::make_shared<Checkpoint>();
    point->in = s.in - s.isal.avail_in;
    point->out = s.out;
    point->state.resize(sizeof(inflate_state));
    std::memcpy(point->state.data(), &s.isal, sizeof(inflate_state));
    return point;
}

std::size_t checkpointBytes(std::size_t rowBytes)
{
    return sizeof(Checkpoint) + sizeof(inflate_state) + rowBytes;
}

std::size_t readerBytes(std::size_t rowBytes)
{
    return sizeof(RowReader) + sizeof(inflate_state) + (std::size_t(1) << 16) + kBatchesAhead * std::max(kBatchBytes, rowBytes + 1)
        + 3 * rowBytes;
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
