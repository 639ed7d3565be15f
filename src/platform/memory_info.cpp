#include "memory_info.h"

#include <fstream>
#include <string>
#include <sys/resource.h>

namespace korvane {

qint64 availableMemoryBytes()
{
    qint64 available = qint64(1) << 40;
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    qint64 kilobytes = 0;
    while (meminfo >> key >> kilobytes) {
        if (key == "MemAvailable:") {
            available = kilobytes * 1024;
            break;
        }
        meminfo.ignore(256, '\n');
    }
    struct rlimit limit {};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY)
        available = std::min<qint64>(available, static_cast<qint64>(limit.rlim_cur));
    return available;
}

} // namespace korvane
