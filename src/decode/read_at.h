#pragma once
// Reading a file at an offset, whole: one pread may give fewer bytes than
// asked, or be interrupted by a signal, so the decoders read through this.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <unistd.h>

namespace korvane {

// Reads up to `size` bytes at `offset` into `out`: the bytes read, fewer
// than `size` only at the file's end or on a read error (then `failed`, if
// given, is set).
inline std::size_t readAt(int fd, std::int64_t offset, void* out, std::size_t size, bool* failed = nullptr)
{
    auto* bytes = static_cast<unsigned char*>(out);
    std::size_t done = 0;
    while (done < size && offset >= 0) {
        const ssize_t count = ::pread(fd, bytes + done, size - done, off_t(offset + std::int64_t(done)));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && failed)
            *failed = true;
        if (count <= 0)
            break;
        done += std::size_t(count);
    }
    return done;
}

// All `size` bytes at `offset`, or false.
inline bool readAllAt(int fd, std::int64_t offset, void* out, std::size_t size)
{
    return readAt(fd, offset, out, size) == size;
}

} // namespace korvane
