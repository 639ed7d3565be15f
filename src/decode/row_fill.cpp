#include "row_fill.h"

#include <algorithm>

namespace korvane {

RowFill::RowFill(int height, std::function<void(RowFill&)> work, int heldAfter)
    : m_height(height), m_heldAfter(heldAfter), m_held(heldAfter > 0),
      m_thread([this, work = std::move(work)] { run(work); })
{
}

RowFill::~RowFill()
{
    stop();
}

void RowFill::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop.store(true, std::memory_order_relaxed);
        m_changed.notify_all();
    }
    if (m_thread.joinable())
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
    const int ready = std::clamp(rows, m_ready.load(std::memory_order_relaxed), m_height);
    m_ready.store(ready, std::memory_order_release);
    m_changed.notify_all();
    if (m_held && ready >= m_heldAfter && ready < m_height)
        m_changed.wait(lock, [&] { return !m_held || m_stop.load(std::memory_order_relaxed); });
}

void RowFill::release() const
{
    std::lock_guard lock(m_mutex);
    m_held = false;
    m_changed.notify_all();
}

void RowFill::waitFor(int rows) const
{
    rows = std::min(rows, m_height);
    if (m_ready.load(std::memory_order_acquire) >= rows)
        return;
    std::unique_lock lock(m_mutex);
    if (rows > m_heldAfter) { // wanted beyond the held rows: the work goes on
        m_held = false;
        m_changed.notify_all();
    }
    m_changed.wait(lock, [&] { return m_ended || m_ready.load(std::memory_order_acquire) >= rows; });
}

} // namespace korvane
