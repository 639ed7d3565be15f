#include "row_fill.h"

#include <algorithm>
#include <chrono>

namespace korvane {

RowFill::RowFill(int height, int pauseAt, std::shared_ptr<const std::atomic<bool>> released,
    std::function<void(RowFill&)> work)
    : m_height(height), m_pauseAt(pauseAt), m_released(std::move(released)), m_thread([this, work = std::move(work)] { run(work); })
{
}

RowFill::~RowFill()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop.store(true, std::memory_order_relaxed);
        m_changed.notify_all();
    }
    m_thread.join();
}

void RowFill::run(const std::function<void(RowFill&)>& work)
{
    try {
        work(*this);
    } catch (...) {
        // The work whitens what it could not decode; nothing may reach
        // the thread's end.
    }
    std::vector<std::function<void()>> callbacks;
    {
        std::lock_guard lock(m_mutex);
        m_ended = true;
        m_changed.notify_all();
        if (complete())
            callbacks.swap(m_whenComplete);
    }
    for (const auto& callback : callbacks)
        callback();
}

void RowFill::whenComplete(std::function<void()> callback)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_ended) {
            m_whenComplete.push_back(std::move(callback));
            return;
        }
    }
    if (complete())
        callback();
}

void RowFill::publish(int rows)
{
    std::unique_lock lock(m_mutex);
    m_ready.store(std::clamp(rows, m_ready.load(std::memory_order_relaxed), m_height), std::memory_order_release);
    m_changed.notify_all();
    // The release comes from a thread that knows nothing of this fill: it
    // is looked at every millisecond while the work is held.
    const auto free = [&] {
        return rows < m_pauseAt || rows >= m_height || stopRequested()
            || (m_released && m_released->load(std::memory_order_relaxed));
    };
    while (!free())
        m_changed.wait_for(lock, std::chrono::milliseconds(1));
}

void RowFill::resume()
{
    std::lock_guard lock(m_mutex);
    m_pauseAt = m_height + 1;
    m_changed.notify_all();
}

void RowFill::waitFor(int rows) const
{
    rows = std::min(rows, m_height);
    if (m_ready.load(std::memory_order_acquire) >= rows)
        return;
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_ended || m_ready.load(std::memory_order_acquire) >= rows; });
}

} // namespace korvane
