#pragma once
#include <QtGlobal>

namespace korvane {

// Memory the system can still give this process without swapping, in
// bytes: MemAvailable, bounded by the address-space limit when one is set.
qint64 availableMemoryBytes();

} // namespace korvane
