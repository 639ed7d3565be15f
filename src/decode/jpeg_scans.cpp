#include "jpeg_scans.h"

#include "jpeg_entropy.h"

#include "jpeg_coefficients.h"
#include "jpeg_scan_blocks.h"
#include "jpeg_segments.h"
#include "read_at.h"

#include <algorithm>
#include <cstring>
#include <optional>

namespace korvane {

using jpeg::EntropyReader;
using jpeg::HuffmanCodes;
using jpeg::ScanHeader;
using jpeg::ScanPoint;
using jpeg::ScanState;

struct ScanIndex::Scan {
    ScanHeader header;
    bool taken = false; // by a thread decoding it
    off_t dataStart = 0;
    std::vector<int> after;        // the scans before it whose rows it waits for
    std::vector<ScanPoint> points; // at each MCU row's start
    int rowsDone = 0;
};

// A component's blocks as the index's pass keeps them.
struct ScanIndex::Grid {
    int across = 0;
    std::vector<std::uint64_t> nonZero; // a bit a coefficient, in zigzag order
};

namespace {

// Threads decoding scans at most: a file of more scans decodes the rest as
// the first end.
constexpr std::size_t kMostWorkers = 16;
// How many MCU rows a scan may run ahead of the slowest one being decoded.
constexpr int kLeadRows = 16;

// What the pass keeps of a block: which coefficients are not zero, and
// its DC value.
struct IndexBlock {
    static constexpr bool kKeepsBitsOnly = true;
    std::uint64_t* nonZeroBits;
    std::int16_t* dc;
    void setDc(int value) { *dc = std::int16_t(value); }
    void orDc(int bit) { *dc = std::int16_t(*dc | bit); }
    void setAc(int k, int /*value*/) { *nonZeroBits |= std::uint64_t(1) << k; }
    bool nonZero(int k) const { return (*nonZeroBits >> k & 1) != 0; }
    void correct(int /*k*/, int /*low*/) {}
    std::uint64_t& bits() { return *nonZeroBits; }
};

// Samples into blocks of 8 x `sampling`, a part block counted whole.
int dividedRoundingUp(std::int64_t samples, int sampling)
{
    const std::int64_t side = std::int64_t(8) * sampling;
    return int((samples + side - 1) / side);
}

struct Geometry {
    int width = 0, height = 0, mostAcross = 1, mostDown = 1, mcusPerRow = 0;
    std::vector<std::pair<int, int>> sampling; // each component's (horizontal, vertical)

    // A component's blocks in a scan of its own, as libjpeg counts them.
    int blocksAcross(int c) const
    {
        return dividedRoundingUp(std::int64_t(width) * sampling[std::size_t(c)].first, mostAcross);
    }
    int blocksDown(int c) const
    {
        return dividedRoundingUp(std::int64_t(height) * sampling[std::size_t(c)].second, mostDown);
    }
};

// MCU rows [first, end) of a scan, each block from `blockAt(component,
// column, row)`; false where the data is damaged or has run out.
template <class BlockAt>
bool decodeRows(const Geometry& g, const ScanHeader& scan, ScanState& state, EntropyReader& reader, int first,
    int end, const BlockAt& blockAt)
{
    for (int row = first; row < end; ++row) {
        if (scan.components.size() > 1) {
            for (int mcu = 0; mcu < g.mcusPerRow; ++mcu) {
                if (reader.overrun())
                    return false;
                for (std::size_t i = 0; i < scan.components.size(); ++i) {
                    const int c = scan.components[i];
                    const auto [across, down] = g.sampling[std::size_t(c)];
                    for (int by = 0; by < down; ++by)
                        for (int bx = 0; bx < across; ++bx) {
                            auto block = blockAt(c, mcu * across + bx, row * down + by);
                            if (!jpeg::decodeBlock(scan, i, state, reader, block))
                                return false;
                        }
                }
            }
            continue;
        }
        const int c = scan.components[0], down = g.sampling[std::size_t(c)].second;
        const int across = g.blocksAcross(c), last = std::min(row * down + down, g.blocksDown(c));
        for (int by = row * down; by < last; ++by)
            for (int bx = 0; bx < across; ++bx) {
                if (reader.overrun())
                    return false;
                auto block = blockAt(c, bx, by);
                if (!jpeg::decodeBlock(scan, 0, state, reader, block))
                    return false;
            }
    }
    return true;
}

Geometry geometryOf(const ScanFrame& frame, int mostAcross, int mostDown, int mcusPerRow)
{
    Geometry g{frame.width, frame.height, mostAcross, mostDown, mcusPerRow, {}};
    for (const ScanFrame::Component& component : frame.components)
        g.sampling.emplace_back(component.horizontal, component.vertical);
    return g;
}

} // namespace

ScanIndex::ScanIndex(const ScanFrame& frame)
    : m_frame(frame), m_dc(frame.components.size())
{
    for (const ScanFrame::Component& component : frame.components) {
        m_mostAcross = std::max(m_mostAcross, component.horizontal);
        m_mostDown = std::max(m_mostDown, component.vertical);
    }
    m_mcusPerRow = dividedRoundingUp(frame.width, m_mostAcross);
    m_mcuRows = dividedRoundingUp(frame.height, m_mostDown);
}

ScanIndex::~ScanIndex()
{
    m_stop.request_stop(); // the threads, declared last, are joined first
}

std::unique_ptr<ScanIndex> ScanIndex::make(const ScanFrame& frame, std::size_t mostBytes)
{
    const std::size_t count = frame.components.size();
    if ((count != 1 && count != 3) || frame.width <= 0 || frame.height <= 0)
        return nullptr;
    for (const ScanFrame::Component& component : frame.components)
        if (component.horizontal < 1 || component.horizontal > 4 || component.vertical < 1 || component.vertical > 4)
            return nullptr;
    std::unique_ptr<ScanIndex> index(new ScanIndex(frame));
    // Each block's bits of coefficients not zero and its DC value.
    std::size_t bytes = 0;
    for (const ScanFrame::Component& component : frame.components)
        bytes += std::size_t(index->m_mcusPerRow) * std::size_t(index->m_mcuRows)
            * std::size_t(component.horizontal * component.vertical) * (sizeof(std::uint64_t) + sizeof(std::int16_t));
    index->m_blockBytes = bytes;
    return bytes <= mostBytes ? std::move(index) : nullptr;
}

void ScanIndex::start(int fd, off_t fileBytes)
{
    m_fileBytes = fileBytes;
    m_grids.resize(m_frame.components.size());
    for (std::size_t c = 0; c < m_grids.size(); ++c) {
        m_grids[c].across = m_mcusPerRow * m_frame.components[c].horizontal;
        const std::size_t blocks = std::size_t(m_grids[c].across) * std::size_t(m_mcuRows * m_frame.components[c].vertical);
        m_dc[c].resize(blocks);
        if (m_frame.progressive)
            m_grids[c].nonZero.resize(blocks);
    }
    m_walk = std::jthread([this, fd, fileBytes] { walk(fd, fileBytes); });
}

int ScanIndex::waitForRows(int end, bool dcOnly) const
{
    end = std::clamp(end, 0, m_mcuRows);
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return rowsFinal(end, dcOnly); });
    return m_scans.empty() ? 0 : end;
}

bool ScanIndex::hasRows(int end) const
{
    std::lock_guard lock(m_mutex);
    return rowsFinal(std::clamp(end, 0, m_mcuRows), false);
}

// Under the lock. Once every scan is found, the rows every one of them has
// passed are final, long before the last scan ends.
bool ScanIndex::rowsFinal(int end, bool dcOnly) const
{
    return m_passed
        || (m_walked && std::all_of(m_scans.begin(), m_scans.end(), [&](const std::unique_ptr<Scan>& scan) {
               return scan->rowsDone >= end || (dcOnly && scan->header.spectralStart != 0);
           }));
}

void ScanIndex::walk(int fd, off_t fileBytes)
{
    jpeg::HuffmanSlots tables;
    // Each component's last DC scan so far, and its last AC scan: a DC
    // scan writes the DC values an earlier one wrote, an AC scan reads
    // which coefficients the earlier ones left not zero.
    std::vector<int> lastDc(m_frame.components.size(), -1), lastAc(m_frame.components.size(), -1);
    off_t at = 2; // past the start of image
    while (!m_stop.stop_requested()) {
        at = jpeg::nextMarker(fd, at, fileBytes);
        std::array<std::uint8_t, 2> marker {};
        if (!readAllAt(fd, at, marker.data(), 2) || marker[1] == 0xD9)
            break; // the file's end, or the image's
        if (marker[1] == 0x01 || (marker[1] >= 0xD0 && marker[1] <= 0xD7)) {
            at += 2; // no segment follows
            continue;
        }
        const std::optional<std::vector<std::uint8_t>> segment = jpeg::segmentAt(fd, at + 2, fileBytes);
        if (!segment)
            break;
        at += 4 + off_t(segment->size());
        if (marker[1] == 0xC4) {
            jpeg::readHuffmanTables(*segment, tables);
        } else if (marker[1] == 0xDD) {
            if (segment->size() >= 2 && ((*segment)[0] | (*segment)[1]))
                break; // restart markers: not read in parts
        } else if (marker[1] == 0xDA) {
            std::optional<ScanHeader> header = jpeg::scanHeaderOf(*segment, m_frame, tables);
            if (!header)
                break; // libjpeg would stop the decode here too
            auto scan = std::make_unique<Scan>();
            scan->header = std::move(*header);
            scan->dataStart = at;
            std::lock_guard lock(m_mutex);
            std::vector<int>& last = scan->header.spectralStart == 0 ? lastDc : lastAc;
            for (const int c : scan->header.components) {
                if (last[std::size_t(c)] >= 0)
                    scan->after.push_back(last[std::size_t(c)]);
                last[std::size_t(c)] = int(m_scans.size());
            }
            m_scans.push_back(std::move(scan));
            // A thread a scan, up to a bound: the scans go down the picture
            // together, so its top rows are final first.
            if (m_workers.size() < kMostWorkers) {
                ++m_workersLeft;
                m_workers.emplace_back([this, fd, fileBytes] { work(fd, fileBytes); });
            }
            m_changed.notify_all();
        }
    }
    std::lock_guard lock(m_mutex);
    m_walked = true;
    m_passed = m_workersLeft == 0;
    m_changed.notify_all();
}

void ScanIndex::work(int fd, off_t fileBytes)
{
    const std::stop_token stop = m_stop.get_token();
    for (;;) {
        Scan* scan = nullptr;
        {
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, stop, [&] { return m_nextScan < m_scans.size() || m_walked; });
            if (stop.stop_requested() || m_nextScan >= m_scans.size())
                break;
            scan = m_scans[m_nextScan++].get();
            scan->taken = true;
        }
        indexScan(*scan, fd, fileBytes, stop);
    }
    std::lock_guard lock(m_mutex);
    if (--m_workersLeft == 0 && m_walked) {
        m_passed = true;
        m_grids = {}; // only the pass reads them
    }
    m_changed.notify_all();
}

void ScanIndex::indexScan(Scan& scan, int fd, off_t fileBytes, const std::stop_token& stop)
{
    const ScanHeader& header = scan.header;
    std::uint64_t spareBits = 0;
    const auto blockAt = [&](int c, int column, int row) {
        Grid& grid = m_grids[std::size_t(c)];
        const std::size_t at = std::size_t(row) * std::size_t(grid.across) + std::size_t(column);
        return IndexBlock{grid.nonZero.empty() ? &spareBits : &grid.nonZero[at], &m_dc[std::size_t(c)][at]};
    };
    const Geometry geometry = geometryOf(m_frame, m_mostAcross, m_mostDown, m_mcusPerRow);
    EntropyReader reader(fd, scan.dataStart, fileBytes);
    ScanState state;
    bool going = true;
    scan.points.reserve(std::size_t(m_mcuRows)); // a band reads the points before, while more are added
    for (int row = 0; row < m_mcuRows; ++row) {
        {
            // The scans before it with its components have passed the row,
            // and no scan being decoded is far behind.
            std::unique_lock lock(m_mutex);
            m_changed.wait(lock, stop, [&] {
                return std::all_of(scan.after.begin(), scan.after.end(),
                           [&](int before) { return m_scans[std::size_t(before)]->rowsDone > row; })
                    && row < slowestRow() + kLeadRows;
            });
        }
        reader.ensure(32);
        const EntropyPoint where = reader.position();
        scan.points.push_back(ScanPoint{where.byte, where.usedBits, state.dc, state.endOfBandRun,
            going && !reader.overrun() && !stop.stop_requested()});
        if (scan.points.back().data)
            going = decodeRows(geometry, header, state, reader, row, row + 1, blockAt);
        std::lock_guard lock(m_mutex);
        scan.rowsDone = row + 1;
        m_changed.notify_all();
    }
}

int ScanIndex::slowestRow() const
{
    int slowest = m_mcuRows;
    for (const std::unique_ptr<Scan>& scan : m_scans)
        if (scan->taken && scan->rowsDone < m_mcuRows)
            slowest = std::min(slowest, scan->rowsDone);
    return slowest;
}

std::vector<std::uint8_t> ScanIndex::bandJpeg(int fd, int first, int end) const
{
    if (first < 0 || end <= first || waitForRows(end, false) < end)
        return {};
    BandCoefficients band;
    const int height = std::min(m_frame.height - first * mcuHeight(), (end - first) * mcuHeight());
    if (!band.start(m_frame, height, m_mcusPerRow, end - first))
        return {};
    const Geometry geometry = geometryOf(m_frame, m_mostAcross, m_mostDown, m_mcusPerRow);
    const auto blockAt = [&](int c, int column, int row) {
        return band.block(c, column, row - first * m_frame.components[std::size_t(c)].vertical);
    };
    for (const std::unique_ptr<Scan>& scan : m_scans) {
        const ScanPoint& point = scan->points[std::size_t(first)];
        if (!point.data)
            continue;
        EntropyReader reader(fd, point.byte, m_fileBytes, std::size_t(64) << 10); // a band's share of a scan
        reader.ensure(32);
        reader.skip(point.usedBits);
        ScanState state{point.dc, point.endOfBandRun};
        decodeRows(geometry, scan->header, state, reader, first, end, blockAt);
    }
    return band.finish();
}

bool ScanIndex::takeEighths(int first, int end, std::uint8_t* out, std::size_t stride, int channels, int rows) const
{
    if (m_frame.eighthWidth <= 0)
        return false;
    if (waitForRows(end, true) < end)
        return false;
    std::array<int, 4> samples {};
    for (int y = 0; y < rows; ++y) {
        const int row = first + y / m_mostDown, inY = y % m_mostDown;
        if (row >= end)
            return false;
        std::uint8_t* pixel = out + std::size_t(y) * stride;
        for (int x = 0; x < m_frame.eighthWidth; ++x, pixel += channels) {
            const int mcu = x / m_mostAcross, inX = x % m_mostAcross;
            for (std::size_t c = 0; c < m_frame.components.size(); ++c) {
                const ScanFrame::Component& component = m_frame.components[c];
                const int column = mcu * component.horizontal + inX * component.horizontal / m_mostAcross;
                const int blockRow = row * component.vertical + inY * component.vertical / m_mostDown;
                const std::size_t at = std::size_t(blockRow) * std::size_t(m_mcusPerRow * component.horizontal)
                    + std::size_t(column);
                samples[c] = jpeg::blockMean(m_dc[c][at], component.quantization[0]);
            }
            jpeg::storeEighth(samples, channels, m_frame.ycc, pixel);
        }
    }
    return true;
}

} // namespace korvane
