#pragma once
// How far a load has come, for a progress display on another thread.
#include <atomic>
#include <memory>

namespace korvane {

struct LoadProgress {
    std::atomic<long long> done{0};  // units of work finished (rows, usually)
    std::atomic<long long> total{0}; // 0 while unknown
    // Set once the program is up and waits for the picture: decoding held
    // back so as not to slow the start may use every core from then on.
    std::shared_ptr<std::atomic<bool>> awaited = std::make_shared<std::atomic<bool>>(false);

    void set(long long doneUnits, long long totalUnits)
    {
        total.store(totalUnits, std::memory_order_relaxed);
        done.store(doneUnits, std::memory_order_relaxed);
    }
};

} // namespace korvane
