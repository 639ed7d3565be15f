#include "memory_info.h"

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/resource.h>

namespace korvane {

namespace {

constexpr qint64 kUnlimited = qint64(1) << 62;

// A number from a one-line control file; "max" and absent files are no limit.
qint64 readLimitFile(const std::string& path)
{
    std::ifstream in(path);
    std::string text;
    if (!(in >> text) || text == "max")
        return kUnlimited;
    try {
        return static_cast<qint64>(std::min<unsigned long long>(std::stoull(text), kUnlimited));
    } catch (const std::exception&) {
        return kUnlimited;
    }
}

qint64 readFileNumber(const std::string& path)
{
    const qint64 value = readLimitFile(path);
    return value == kUnlimited ? 0 : value;
}

// The headroom of the group at `dir` and of every group above it: a limit
// anywhere up the tree applies. Inside a container the group's own path is
// often not visible and the mount's root is the group itself, so every
// level that exists is read.
qint64 headroomUpTo(const std::string& base, std::string path, const char* limitName, const char* usageName)
{
    qint64 least = kUnlimited;
    for (;;) {
        const std::string dir = base + path;
        const qint64 limit = readLimitFile(dir + "/" + limitName);
        if (limit < kUnlimited)
            least = std::min(least, std::max<qint64>(limit - readFileNumber(dir + "/" + usageName), 0));
        if (path.empty() || path == "/")
            return least;
        path.erase(path.find_last_of('/'));
    }
}

qint64 meminfoAvailable()
{
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    qint64 kilobytes = 0;
    while (meminfo >> key >> kilobytes) {
        if (key == "MemAvailable:")
            return kilobytes * 1024;
        meminfo.ignore(256, '\n');
    }
    return kUnlimited;
}

// Virtual and data sizes the process already has, from /proc/self/status.
void processSizes(qint64& virtualBytes, qint64& dataBytes)
{
    std::ifstream status("/proc/self/status");
    std::string key;
    virtualBytes = dataBytes = 0;
    while (status >> key) {
        qint64 kilobytes = 0;
        if (key == "VmSize:" && status >> kilobytes)
            virtualBytes = kilobytes * 1024;
        else if (key == "VmData:" && status >> kilobytes)
            dataBytes = kilobytes * 1024;
        status.ignore(256, '\n');
    }
}

qint64 limitHeadroom(int resource, qint64 used)
{
    struct rlimit limit {};
    if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return kUnlimited;
    return std::max<qint64>(static_cast<qint64>(std::min<rlim_t>(limit.rlim_cur, kUnlimited)) - used, 0);
}

} // namespace

qint64 cgroupAvailableBytes(const std::string& sysRoot, const std::string& procSelfCgroup)
{
    qint64 least = kUnlimited;
    std::istringstream lines(procSelfCgroup);
    std::string line;
    while (std::getline(lines, line)) {
        // hierarchy-id:controllers:path
        const auto first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (controllers.empty()) {
            least = std::min(least, headroomUpTo(sysRoot, path, "memory.max", "memory.current"));
            least = std::min(least, headroomUpTo(sysRoot + "/unified", path, "memory.max", "memory.current"));
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            least = std::min(least,
                headroomUpTo(sysRoot + "/memory", path, "memory.limit_in_bytes", "memory.usage_in_bytes"));
        }
    }
    return least == kUnlimited ? -1 : least;
}

qint64 availableMemoryBytes()
{
    qint64 available = meminfoAvailable();
    std::ifstream cgroupFile("/proc/self/cgroup");
    std::stringstream cgroupText;
    cgroupText << cgroupFile.rdbuf();
    const qint64 group = cgroupAvailableBytes("/sys/fs/cgroup", cgroupText.str());
    if (group >= 0)
        available = std::min(available, group);
    qint64 virtualBytes = 0, dataBytes = 0;
    processSizes(virtualBytes, dataBytes);
    available = std::min(available, limitHeadroom(RLIMIT_AS, virtualBytes));
    available = std::min(available, limitHeadroom(RLIMIT_DATA, dataBytes));
#ifdef KORVANE_FUZZ_AVAILABLE_BYTES
    // The fuzzers hold each input to a few gigabytes: pictures are loaded
    // as on a small machine, so that a file claiming a large area that the
    // format allows (a GIF's screen) is refused rather than fill them.
    available = std::min(available, qint64(KORVANE_FUZZ_AVAILABLE_BYTES));
#endif
    return std::min(available, qint64(1) << 40);
}

} // namespace korvane
