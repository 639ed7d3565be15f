#pragma once
// Numbers as file formats store them.
#include <cstdint>

namespace korvane {

inline std::uint32_t bigEndian32(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

} // namespace korvane
