#include "startup_trace.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>

#include <fcntl.h>
#include <unistd.h>

namespace korvane {

namespace {

// Opened on the first mark; -1 when no trace is asked for.
int traceFile()
{
    static const int fd = [] {
        const char* path = std::getenv("KORVANE_STARTUP_TRACE");
        return path && *path ? ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600) : -1;
    }();
    return fd;
}

} // namespace

void markStartup(const char* phase)
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const int fd = traceFile();
    if (fd < 0)
        return;
    static std::mutex marked;
    static std::array<const char*, 32> seen {};
    {
        std::lock_guard lock(marked);
        for (const char*& name : seen) {
            if (name && std::strcmp(name, phase) == 0)
                return;
            if (!name) {
                name = phase;
                break;
            }
        }
    }
    char line[96];
    const int length = std::snprintf(line, sizeof line, "%s %lld.%09ld\n", phase, static_cast<long long>(now.tv_sec), now.tv_nsec);
    if (length > 0) {
        [[maybe_unused]] const ssize_t written = ::write(fd, line, std::size_t(length));
    }
}

} // namespace korvane
