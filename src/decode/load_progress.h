#pragma once
// How far a load has come, for a progress display on another thread.
#include <atomic>

namespace korvane {

struct LoadProgress {
    std::atomic<long long> done{0};  // units of work finished (rows, usually)
    std::atomic<long long> total{0}; // 0 while unknown

    void set(long long doneUnits, long long totalUnits)
    {
        total.store(totalUnits, std::memory_order_relaxed);
        done.store(doneUnits, std::memory_order_relaxed);
    }
};

} // namespace korvane
