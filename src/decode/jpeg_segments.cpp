#include "jpeg_segments.h"

#include "read_at.h"

#include <algorithm>
#include <cstring>

namespace korvane::jpeg {

std::optional<std::vector<std::uint8_t>> segmentAt(int fd, off_t at, off_t fileBytes)
{
    std::array<std::uint8_t, 2> length {};
    if (at + 2 > fileBytes || !readAllAt(fd, at, length.data(), 2))
        return std::nullopt;
    const std::size_t bytes = std::size_t(length[0] << 8 | length[1]);
    if (bytes < 2)
        return std::nullopt;
    std::vector<std::uint8_t> segment(bytes - 2);
    if (!segment.empty() && !readAllAt(fd, at + 2, segment.data(), segment.size()))
        return std::nullopt;
    return segment;
}

off_t nextMarker(int fd, off_t from, off_t fileBytes)
{
    std::vector<std::uint8_t> chunk(std::size_t(1) << 20);
    for (off_t at = from; at + 1 < fileBytes;) {
        const std::size_t count = readAt(fd, at, chunk.data(), std::size_t(std::min<off_t>(off_t(chunk.size()), fileBytes - at)));
        if (count < 2)
            break;
        const std::uint8_t* const begin = chunk.data();
        for (const std::uint8_t* byte = begin; byte + 1 < begin + count; ++byte) {
            byte = static_cast<const std::uint8_t*>(std::memchr(byte, 0xFF, std::size_t(begin + count - 1 - byte)));
            if (!byte)
                break;
            if (byte[1] != 0x00 && byte[1] != 0xFF)
                return at + off_t(byte - begin);
        }
        at += off_t(count - 1);
    }
    return fileBytes;
}

void readHuffmanTables(const std::vector<std::uint8_t>& segment, HuffmanSlots& tables)
{
    for (std::size_t at = 0; at + 17 <= segment.size();) {
        const int kind = segment[at] >> 4, slot = segment[at] & 15;
        HuffmanTable table;
        std::size_t count = 0;
        for (std::size_t bits = 1; bits <= 16; ++bits)
            count += table.bits[bits] = segment[at + bits];
        if (kind > 1 || slot > 3 || count > 256 || at + 17 + count > segment.size())
            return;
        std::copy_n(segment.begin() + std::ptrdiff_t(at + 17), count, table.values.begin());
        tables[std::size_t(kind) * 4 + std::size_t(slot)] = table;
        at += 17 + count;
    }
}

std::optional<ScanHeader> scanHeaderOf(const std::vector<std::uint8_t>& segment, const ScanFrame& frame,
    const HuffmanSlots& tables)
{
    if (segment.empty() || segment[0] < 1 || segment[0] > 4 || segment.size() < 4 + 2 * std::size_t(segment[0]))
        return std::nullopt;
    ScanHeader scan;
    const std::size_t count = segment[0], end = 1 + 2 * count;
    scan.progressive = frame.progressive;
    scan.spectralStart = segment[end];
    scan.spectralEnd = segment[end + 1];
    scan.high = segment[end + 2] >> 4;
    scan.low = segment[end + 2] & 15;
    if (!scan.progressive)
        scan.spectralStart = 0, scan.spectralEnd = 63, scan.high = 0, scan.low = 0;
    const bool dcScan = scan.spectralStart == 0;
    if (scan.progressive
        && (dcScan ? scan.spectralEnd != 0 : count != 1 || scan.spectralEnd < scan.spectralStart || scan.spectralEnd > 63))
        return std::nullopt;
    for (std::size_t i = 0; i < count; ++i) {
        const int id = segment[1 + 2 * i], dc = segment[2 + 2 * i] >> 4, ac = segment[2 + 2 * i] & 15;
        const auto found = std::find_if(frame.components.begin(), frame.components.end(),
            [id](const ScanFrame::Component& component) { return component.id == id; });
        if (found == frame.components.end() || dc > 3 || ac > 3)
            return std::nullopt;
        scan.components.push_back(int(found - frame.components.begin()));
        const bool needsDc = !scan.progressive || (dcScan && scan.high == 0), needsAc = !scan.progressive || !dcScan;
        const std::optional<HuffmanTable>& dcTable = tables[std::size_t(dc)];
        const std::optional<HuffmanTable>& acTable = tables[4 + std::size_t(ac)];
        if ((needsDc && !dcTable) || (needsAc && !acTable))
            return std::nullopt;
        scan.dc.emplace_back(dcTable.value_or(HuffmanTable{}));
        scan.ac.emplace_back(acTable.value_or(HuffmanTable{}));
        if ((needsDc && !scan.dc.back().valid) || (needsAc && !scan.ac.back().valid))
            return std::nullopt;
    }
    return scan;
}

} // namespace korvane::jpeg
