#include "jpeg_entropy.h"

#include "jpeg_bits.h"
#include "read_at.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

namespace korvane {

namespace {

using jpeg::HuffmanCodes;
using jpeg::EntropyReader;
using jpeg::decodeSymbol;
using jpeg::extended;
using jpeg::blockMean;

// Bits into entropy-coded bytes, stuffing a zero after each 0xFF.
class EntropyWriter {
public:
    explicit EntropyWriter(std::vector<std::uint8_t>& out)
        : m_out(out)
    {
    }
    void put(unsigned bits, int count)
    {
        m_bits = m_bits << count | (bits & ((1U << count) - 1));
        m_count += count;
        while (m_count >= 8) {
            const auto byte = std::uint8_t(m_bits >> (m_count - 8));
            m_out.push_back(byte);
            if (byte == 0xFF)
                m_out.push_back(0x00);
            m_count -= 8;
        }
    }
    // Ones to the byte's end, as encoders pad.
    void finish()
    {
        if (m_count > 0)
            put(0xFF, 8 - m_count);
    }

private:
    std::vector<std::uint8_t>& m_out;
    std::uint64_t m_bits = 0;
    int m_count = 0;
};

// The next DC difference from a predictor toward `left`, in a category the
// table has a code for: the largest that does not pass it, or, below the
// smallest coded one, past it by that one's least value and then back.
int stepToward(int left, const HuffmanCodes& dc)
{
    if (left == 0)
        return 0;
    const int magnitude = std::abs(left), sign = left < 0 ? -1 : 1;
    for (int category = std::min(16, int(std::bit_width(unsigned(magnitude)))); category >= 1; --category)
        if (dc.length[std::size_t(category)])
            return sign * std::min(magnitude, (1 << category) - 1);
    int smallest = 1;
    while (smallest < 16 && !dc.length[std::size_t(smallest)])
        ++smallest;
    return sign * ((1 << (smallest - 1)) + magnitude);
}

// Every block's DC difference in the made-up row for one component: steps
// to `target`, then differences that cancel out (0, or pairs of the least
// coded one and its negative where the table has no code for 0; a first
// step off the way changes how many steps there are where the pairs need
// it). Empty when the row has too few blocks.
std::vector<int> dcSteps(int target, int blocks, const HuffmanCodes& dc)
{
    if (target < -(1 << 24) || target > (1 << 24))
        return {}; // only damaged data gets there

    int smallest = 1;
    while (smallest < 16 && !dc.length[std::size_t(smallest)])
        ++smallest;
    int largest = 16;
    while (largest > 1 && !dc.length[std::size_t(largest)])
        --largest;
    const int least = 1 << (smallest - 1), most = (1 << largest) - 1;
    for (const int detour : {0, least, -least, most, -most}) {
        std::vector<int> steps;
        if (detour)
            steps.push_back(detour);
        for (int left = target - detour; left != 0 && int(steps.size()) <= blocks;) {
            steps.push_back(stepToward(left, dc));
            left -= steps.back();
        }
        const int spare = blocks - int(steps.size());
        if (spare < 0 || (!dc.length[0] && spare % 2 != 0))
            continue;
        for (int i = 0; i < spare; ++i)
            steps.push_back(dc.length[0] ? 0 : i % 2 == 0 ? least : -least);
        return steps;
    }
    return {};
}

// The DC values the pass keeps for the overview's pass, at most: beyond,
// bands are decoded at 1/8 by libjpeg instead.
constexpr std::size_t kMostDcBytes = std::size_t(64) << 20;

} // namespace

struct EntropyIndex::Tables {
    std::vector<HuffmanCodes> dc, ac; // by component, in scan order
};

EntropyIndex::EntropyIndex(const EntropyLayout& layout, std::unique_ptr<Tables> tables)
    : m_layout(layout), m_tables(std::move(tables))
{
}

EntropyIndex::~EntropyIndex() = default;

std::unique_ptr<EntropyIndex> EntropyIndex::make(const EntropyLayout& layout)
{
    if (layout.components.empty() || layout.components.size() > 4 || layout.mcusPerRow <= 0 || layout.mcuRows <= 0)
        return nullptr;
    auto tables = std::make_unique<Tables>();
    for (const EntropyLayout::Component& component : layout.components) {
        if (component.dcTable < 0 || component.dcTable > 3 || component.acTable < 0 || component.acTable > 3)
            return nullptr;
        tables->dc.emplace_back(layout.dc[std::size_t(component.dcTable)]);
        tables->ac.emplace_back(layout.ac[std::size_t(component.acTable)]);
        const HuffmanCodes& dc = tables->dc.back();
        // The made-up row steps each predictor by differences the table
        // codes, and ends each block at once.
        const bool steps = std::any_of(dc.length.begin() + 1, dc.length.begin() + 17, [](std::uint8_t l) { return l > 0; });
        if (!dc.valid || !tables->ac.back().valid || !steps || !tables->ac.back().length[0])
            return nullptr;
    }
    return std::unique_ptr<EntropyIndex>(new EntropyIndex(layout, std::move(tables)));
}

std::size_t EntropyIndex::mostBytes() const
{
    return (std::size_t(m_layout.mcuRows) + 1) * sizeof(EntropyPoint) + kMostDcBytes;
}

void EntropyIndex::start(int fd, off_t from, off_t fileBytes)
{
    m_pass = std::jthread([this, fd, from, fileBytes](const std::stop_token& stop) {
        scan(fd, from, fileBytes, stop);
        {
            std::lock_guard lock(m_mutex);
            m_scanned = true;
        }
        m_added.notify_all();
    });
}

int EntropyIndex::waitForRows(int end) const
{
    std::unique_lock lock(m_mutex);
    m_added.wait(lock, [&] { return foundRows(end); });
    return std::min(end, int(m_points.size()) - 1);
}

bool EntropyIndex::hasRows(int end) const
{
    std::lock_guard lock(m_mutex);
    return foundRows(end);
}

// Under the lock.
bool EntropyIndex::foundRows(int end) const
{
    return m_scanned || m_points.size() > std::size_t(std::max(0, end));
}

void EntropyIndex::add(const EntropyPoint& point)
{
    {
        std::lock_guard lock(m_mutex);
        m_points.push_back(point);
    }
    m_added.notify_all();
}

EntropyPoint EntropyIndex::pointAt(int row) const
{
    std::lock_guard lock(m_mutex);
    return m_points[std::size_t(row)];
}

void EntropyIndex::scan(int fd, off_t from, off_t fileBytes, const std::stop_token& stop)
{
    EntropyReader reader(fd, from, fileBytes);
    std::array<int, 4> dc {};
    const std::size_t components = m_layout.components.size();
    std::size_t blocksPerRow = 0;
    for (const EntropyLayout::Component& component : m_layout.components)
        blocksPerRow += std::size_t(m_layout.mcusPerRow) * std::size_t(component.blocks);
    std::vector<std::int16_t> rowDc;
    for (int row = 0; row < m_layout.mcuRows && !stop.stop_requested(); ++row) {
        reader.ensure(32);
        if (reader.dataBits() == 0)
            break;
        EntropyPoint point = reader.position();
        point.dc = dc;
        add(point);
        rowDc.clear();
        rowDc.reserve(blocksPerRow);
        for (int mcu = 0; mcu < m_layout.mcusPerRow; ++mcu)
            for (std::size_t c = 0; c < components; ++c)
                for (int block = 0; block < m_layout.components[c].blocks; ++block) {
                    const int category = decodeSymbol(reader, m_tables->dc[c]);
                    if (category < 0 || category > 16) {
                        add(reader.position()); // damaged: the rows before stand
                        return;
                    }
                    // As libjpeg-turbo does, a predictor that damaged data
                    // pushes past an int's range wraps around.
                    dc[c] = int(unsigned(dc[c]) + unsigned(extended(reader.take(category), category)));
                    rowDc.push_back(std::int16_t(std::clamp(dc[c], -32768, 32767)));
                    for (int k = 1; k < 64;) {
                        const int symbol = decodeSymbol(reader, m_tables->ac[c]);
                        if (symbol < 0) {
                            add(reader.position());
                            return;
                        }
                        const int run = symbol >> 4, size = symbol & 15;
                        if (size == 0 && run != 15)
                            break; // end of block
                        reader.skip(size);
                        k += run + 1;
                    }
                }
        keepDc(row, std::move(rowDc));
    }
    add(reader.position());
}

void EntropyIndex::keepDc(int row, std::vector<std::int16_t> values)
{
    if (m_layout.eighthWidth <= 0)
        return;
    std::lock_guard lock(m_mutex);
    if (m_dcBytes + values.size() * sizeof(std::int16_t) > kMostDcBytes)
        return;
    m_dcBytes += values.size() * sizeof(std::int16_t);
    m_dcRows.resize(std::max(m_dcRows.size(), std::size_t(row) + 1));
    m_dcRows[std::size_t(row)] = std::move(values);
}

bool EntropyIndex::takeEighths(int first, int end, std::uint8_t* out, std::size_t stride, int channels, int rows) const
{
    if (m_layout.eighthWidth <= 0 || waitForRows(end) < end)
        return false;
    std::vector<std::vector<std::int16_t>> taken;
    {
        std::lock_guard lock(m_mutex);
        if (std::size_t(end) > m_dcRows.size())
            return false;
        for (int row = first; row < end; ++row)
            if (m_dcRows[std::size_t(row)].empty())
                return false;
        for (int row = first; row < end; ++row) {
            m_dcBytes -= m_dcRows[std::size_t(row)].size() * sizeof(std::int16_t);
            taken.push_back(std::move(m_dcRows[std::size_t(row)]));
            m_dcRows[std::size_t(row)] = {};
        }
    }
    // Each component's blocks in an MCU, and where they start in its values.
    int across = 1, down = 1;
    std::vector<std::size_t> offsets;
    std::size_t perMcu = 0;
    for (const EntropyLayout::Component& component : m_layout.components) {
        across = std::max(across, component.horizontal);
        down = std::max(down, component.vertical);
        offsets.push_back(perMcu);
        perMcu += std::size_t(component.blocks);
    }
    std::array<int, 4> samples {};
    for (int y = 0; y < rows; ++y) {
        const std::vector<std::int16_t>& values = taken[std::size_t(y / down)];
        const int inMcuY = y % down;
        std::uint8_t* pixel = out + std::size_t(y) * stride;
        for (int x = 0; x < m_layout.eighthWidth; ++x, pixel += channels) {
            const int mcu = x / across, inMcuX = x % across;
            for (std::size_t c = 0; c < m_layout.components.size(); ++c) {
                const EntropyLayout::Component& component = m_layout.components[c];
                const int bx = inMcuX * component.horizontal / across, by = inMcuY * component.vertical / down;
                const std::size_t at = std::size_t(mcu) * perMcu + offsets[c] + std::size_t(by * component.horizontal + bx);
                samples[c] = blockMean(values[at], component.dcStep);
            }
            jpeg::storeEighth(samples, channels, m_layout.ycc, pixel);
        }
    }
    return true;
}

std::vector<std::uint8_t> EntropyIndex::bandData(int fd, int first, int end) const
{
    if (first < 0 || end <= first || waitForRows(end) < end)
        return {};
    const EntropyPoint start = pointAt(first);
    const EntropyPoint stop = pointAt(end);
    std::vector<std::uint8_t> out;
    EntropyWriter writer(out);
    if (first > 0) {
        // Each block's DC difference steps its predictor toward the value
        // it has at the band's start.
        std::vector<std::vector<int>> steps;
        for (std::size_t c = 0; c < m_layout.components.size(); ++c) {
            steps.push_back(dcSteps(start.dc[c], m_layout.mcusPerRow * m_layout.components[c].blocks, m_tables->dc[c]));
            if (steps.back().empty())
                return {}; // a row too narrow to reach the predictors
        }
        std::vector<std::size_t> next(steps.size(), 0);
        for (int mcu = 0; mcu < m_layout.mcusPerRow; ++mcu)
            for (std::size_t c = 0; c < m_layout.components.size(); ++c)
                for (int block = 0; block < m_layout.components[c].blocks; ++block) {
                    const HuffmanCodes& dc = m_tables->dc[c];
                    const int step = steps[c][next[c]++];
                    const int category = int(std::bit_width(unsigned(std::abs(step))));
                    if (category > 16 || !dc.length[std::size_t(category)])
                        return {};
                    writer.put(dc.code[std::size_t(category)], dc.length[std::size_t(category)]);
                    if (category > 0)
                        writer.put(unsigned(step > 0 ? step : step + (1 << category) - 1), category);
                    const HuffmanCodes& ac = m_tables->ac[c];
                    writer.put(ac.code[0], ac.length[0]); // end of block
                }
    }
    // The band's own bits, from its first to the next band's first.
    const off_t last = stop.usedBits > 0 ? stop.byte : stop.byte - 1;
    std::vector<std::uint8_t> bytes(std::size_t(std::max<off_t>(0, last - start.byte + 1)));
    if (!bytes.empty() && !readAllAt(fd, start.byte, bytes.data(), bytes.size()))
        return {};
    bool afterFF = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t byte = bytes[i];
        if (afterFF && byte == 0x00) { // stuffing
            afterFF = false;
            continue;
        }
        afterFF = byte == 0xFF;
        const int skipped = i == 0 ? start.usedBits : 0;
        const bool final = off_t(i) + start.byte == stop.byte;
        const int kept = (final ? stop.usedBits : 8) - skipped;
        if (kept > 0)
            writer.put(unsigned(byte >> ((final ? 8 - stop.usedBits : 0))), kept);
    }
    writer.finish();
    return out;
}

} // namespace korvane
