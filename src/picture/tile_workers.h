#pragma once
// Worker threads that only fill the tile cache: tiles a panel waits for
// first, then those around what it shows, fetched ahead so that a drag
// finds them decoded.
#include "tile_cache.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

namespace korvane {

class TileWorkers {
public:
    // Makes the tile of a key; null when it could not be made.
    using Decode = std::function<TilePtr(std::int64_t key)>;
    // `threads` workers (at least one) put what `decode` makes in `cache`.
    TileWorkers(int threads, Decode decode, TileCache& cache);
    ~TileWorkers();
    int threads() const { return int(m_threads.size()); }
    TileWorkers(const TileWorkers&) = delete;
    TileWorkers& operator=(const TileWorkers&) = delete;

    // The tiles of `keys`, in order, once each is decoded (null for one that
    // could not be); the calling thread decodes too while it waits.
    std::vector<TilePtr> get(const std::vector<std::int64_t>& keys);
    // Decodes these in the background, in place of tiles asked ahead before
    // and not yet begun.
    void fetchAhead(const std::vector<std::int64_t>& keys);

private:
    enum class Queue { Urgent, Ahead, Running };
    struct Job {
        std::shared_ptr<std::promise<TilePtr>> promise;
        std::shared_future<TilePtr> result;
        Queue queue;
    };
    std::shared_future<TilePtr> requestLocked(std::int64_t key);
    bool runOne(bool urgentOnly);
    bool popLocked(std::deque<std::int64_t>& queue, Queue wanted, std::int64_t& key);
    void work(const std::stop_token& stop);

    const Decode m_decode;
    TileCache& m_cache;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::unordered_map<std::int64_t, Job> m_jobs;
    std::deque<std::int64_t> m_urgent, m_ahead;
    std::vector<std::jthread> m_threads; // last: they use the rest
};

} // namespace korvane
