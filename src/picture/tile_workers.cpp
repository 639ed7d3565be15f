#include "tile_workers.h"

#include <algorithm>
#include <cerrno>

#include <sys/resource.h>
#include <unistd.h>

namespace korvane {

namespace {

// A worker yields the cores to the window's thread when both want them: a
// drag's paint then never waits behind tiles fetched ahead. Alone, it still
// runs at full speed (while a panel waits for it, the window's thread is
// idle). On Linux, a thread id names just that thread.
void yieldToTheWindow()
{
    constexpr int kLower = 5;
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, self, std::min(nice + kLower, 19));
}

} // namespace

TileWorkers::TileWorkers(int threads, Decode decode, TileCache& cache)
    : m_decode(std::move(decode)), m_cache(cache)
{
    for (int i = 0; i < std::max(threads, 1); ++i)
        m_threads.emplace_back([this](const std::stop_token& stop) { work(stop); });
}

TileWorkers::~TileWorkers()
{
    for (auto& thread : m_threads)
        thread.request_stop();
    m_wake.notify_all();
    m_threads.clear(); // joins
}

// A tile already queued ahead moves to the front: someone waits for it now.
std::shared_future<TilePtr> TileWorkers::requestLocked(std::int64_t key)
{
    const auto found = m_jobs.find(key);
    if (found != m_jobs.end()) {
        if (found->second.queue == Queue::Ahead) {
            found->second.queue = Queue::Urgent;
            m_urgent.push_back(key);
        }
        return found->second.result;
    }
    auto promise = std::make_shared<std::promise<TilePtr>>();
    std::shared_future<TilePtr> result = promise->get_future().share();
    m_jobs.emplace(key, Job{std::move(promise), result, Queue::Urgent});
    m_urgent.push_back(key);
    return result;
}

std::vector<TilePtr> TileWorkers::get(const std::vector<std::int64_t>& keys)
{
    std::vector<TilePtr> tiles(keys.size());
    std::vector<std::pair<std::size_t, std::shared_future<TilePtr>>> waiting;
    {
        std::lock_guard lock(m_mutex);
        for (std::size_t i = 0; i < keys.size(); ++i) {
            tiles[i] = m_cache.find(keys[i]);
            if (!tiles[i])
                waiting.emplace_back(i, requestLocked(keys[i]));
        }
    }
    if (waiting.empty())
        return tiles;
    m_wake.notify_all();
    for (auto& [index, result] : waiting) {
        while (result.wait_for(std::chrono::seconds(0)) != std::future_status::ready && runOne(true)) {
        }
        tiles[index] = result.get();
    }
    return tiles;
}

void TileWorkers::fetchAhead(const std::vector<std::int64_t>& keys)
{
    {
        std::lock_guard lock(m_mutex);
        for (const std::int64_t key : m_ahead) {
            const auto found = m_jobs.find(key);
            if (found != m_jobs.end() && found->second.queue == Queue::Ahead)
                m_jobs.erase(found); // nobody waits for it: a wait would have moved it
        }
        m_ahead.clear();
        for (const std::int64_t key : keys) {
            if (m_jobs.count(key) || m_cache.contains(key))
                continue;
            auto promise = std::make_shared<std::promise<TilePtr>>();
            std::shared_future<TilePtr> result = promise->get_future().share();
            m_jobs.emplace(key, Job{std::move(promise), std::move(result), Queue::Ahead});
            m_ahead.push_back(key);
        }
    }
    m_wake.notify_all();
}

// Takes the next key still waiting in `queue` (entries that moved on are
// skipped).
bool TileWorkers::popLocked(std::deque<std::int64_t>& queue, Queue wanted, std::int64_t& key)
{
    while (!queue.empty()) {
        key = queue.front();
        queue.pop_front();
        const auto found = m_jobs.find(key);
        if (found != m_jobs.end() && found->second.queue == wanted) {
            found->second.queue = Queue::Running;
            return true;
        }
    }
    return false;
}

bool TileWorkers::runOne(bool urgentOnly)
{
    std::int64_t key = 0;
    std::shared_ptr<std::promise<TilePtr>> promise;
    {
        std::lock_guard lock(m_mutex);
        if (!popLocked(m_urgent, Queue::Urgent, key) && (urgentOnly || !popLocked(m_ahead, Queue::Ahead, key)))
            return false;
        promise = m_jobs.at(key).promise;
    }
    TilePtr tile;
    try {
        tile = m_decode(key);
    } catch (...) {
        tile = nullptr; // out of memory: shown as a damaged tile
    }
    if (tile)
        m_cache.insert(key, tile);
    {
        std::lock_guard lock(m_mutex);
        m_jobs.erase(key);
    }
    promise->set_value(std::move(tile));
    return true;
}

void TileWorkers::work(const std::stop_token& stop)
{
    yieldToTheWindow();
    while (!stop.stop_requested()) {
        if (runOne(false))
            continue;
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, stop, [this] { return !m_urgent.empty() || !m_ahead.empty(); });
    }
}

} // namespace korvane
