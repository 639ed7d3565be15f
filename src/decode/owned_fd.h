#pragma once
// A file descriptor closed when its owner goes, however that happens.
#include "decode_error.h"
#include "texts.h"

#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace korvane {

struct OwnedFd {
    int fd;
    explicit OwnedFd(int descriptor) : fd(descriptor) {}
    ~OwnedFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    OwnedFd(OwnedFd&& other) noexcept : fd(other.fd) { other.fd = -1; }
    OwnedFd(const OwnedFd&) = delete;
    OwnedFd& operator=(const OwnedFd&) = delete;
    OwnedFd& operator=(OwnedFd&&) = delete;
};

// A descriptor of its own for the open file `fd`, for a source that reads
// it on after the loader has closed its one; a file error naming `path`
// when the process has none left.
inline int ownDescriptor(int fd, const std::string& path)
{
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        raiseDecodeError(DecodeFailure::FileUnreadable, path, cannotBeRead());
    return own;
}

} // namespace korvane
