#pragma once
// Buffered reads through a descriptor, from an offset on: for decoders that
// take their file a few bytes at a time (TGA packets, GIF's data blocks).
#include "read_at.h"

#include <algorithm>
#include <cstring>
#include <sys/types.h>
#include <vector>

namespace korvane {

class BufferedReader {
public:
    BufferedReader(int fd, off_t offset) : m_fd(fd), m_offset(offset) {}
    // False at the file's end.
    bool read(unsigned char* out, std::size_t count)
    {
        while (count > 0) {
            if (m_at == m_size && !fill())
                return false;
            const std::size_t step = std::min(count, m_size - m_at);
            std::memcpy(out, m_buffer.data() + m_at, step);
            m_at += step;
            out += step;
            count -= step;
        }
        return true;
    }

private:
    bool fill()
    {
        const std::size_t count = readAt(m_fd, m_offset, m_buffer.data(), m_buffer.size());
        if (count == 0)
            return false;
        m_offset += off_t(count);
        m_size = count;
        m_at = 0;
        return true;
    }

    int m_fd;
    off_t m_offset;
    std::vector<unsigned char> m_buffer = std::vector<unsigned char>(64 << 10);
    std::size_t m_size = 0, m_at = 0;
};

} // namespace korvane
