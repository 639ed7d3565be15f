#pragma once
// The segments between a JPEG's scans, as the index of its scans reads
// them from the file: markers, Huffman tables and scan headers.
#include "jpeg_entropy.h"
#include "jpeg_scan_blocks.h"
#include "jpeg_scans.h"

#include <sys/types.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvane::jpeg {

// A segment's bytes after its length field at `at`; nothing past the
// file's end.
std::optional<std::vector<std::uint8_t>> segmentAt(int fd, off_t at, off_t fileBytes);

// The next marker at or after `from` (its 0xFF), past entropy-coded data
// and fill; the file's end when there is none.
off_t nextMarker(int fd, off_t from, off_t fileBytes);

// The tables a DHT segment defines, into DC 0-3, then AC 0-3.
using HuffmanSlots = std::array<std::optional<HuffmanTable>, 8>;
void readHuffmanTables(const std::vector<std::uint8_t>& segment, HuffmanSlots& tables);

// A scan's header against the frame and the tables defined so far; none
// for one libjpeg would refuse.
std::optional<ScanHeader> scanHeaderOf(const std::vector<std::uint8_t>& segment, const ScanFrame& frame,
    const HuffmanSlots& tables);

} // namespace korvane::jpeg
