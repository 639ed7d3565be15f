#pragma once
#include <QtGlobal>

#include <string>

namespace korvane {

// Memory this process can still take without swapping or being killed, in
// bytes: the least of MemAvailable, the control group's limit less what the
// group already uses (cgroup v2 memory.max - memory.current, or v1's
// limit_in_bytes - usage_in_bytes, at every level up to the root), and the
// address-space and data-segment limits less what the process already has.
qint64 availableMemoryBytes();

// The control group's share alone, read below sysRoot (normally
// "/sys/fs/cgroup") for the groups that procSelfCgroup (the text of
// /proc/self/cgroup) names; -1 when no group sets a limit.
qint64 cgroupAvailableBytes(const std::string& sysRoot, const std::string& procSelfCgroup);

} // namespace korvane
