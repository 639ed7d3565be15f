#pragma once
// A file descriptor closed when its owner goes, however that happens.
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

} // namespace korvane
