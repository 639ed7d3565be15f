#pragma once
// Numbers as file formats store them.
#include <cstdint>

namespace korvane {

inline std::uint32_t bigEndian32(const unsigned char* p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

inline std::uint32_t littleEndian32(const unsigned char* p)
{
    return std::uint32_t(p[3]) << 24 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[1]) << 8 | p[0];
}

inline std::uint16_t littleEndian16(const unsigned char* p)
{
    return std::uint16_t(p[1] << 8 | p[0]);
}

} // namespace korvane
