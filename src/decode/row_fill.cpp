#include "row_fill.h"

#include <algorithm>

namespace korvane {

namespace {

// Where the program's start-up is, and the held work made during it.
struct Startup {
    std::mutex mutex;
    bool on = false, windowBuilt = false, shown = false;
    std::vector<const RowFill*> fills;
};

Startup& startup()
{
    static Startup state;
    return state;
}

} // namespace

RowFill::RowFill(int height, std::function<void(RowFill&)> work, int heldAfter)
    : m_height(height), m_heldAfter(heldAfter), m_held(heldAfter > 0)
{
    if (heldAfter > 0) {
        Startup& state = startup();
        std::lock_guard lock(state.mutex);
        if (state.on && !state.shown) {
            m_waitsForWindow = !state.windowBuilt;
            m_waitsForFrame = true;
            state.fills.push_back(this);
        }
    }
    m_thread = std::thread([this, work = std::move(work)] { run(work); });
}

RowFill::~RowFill()
{
    stop();
}

void RowFill::stop()
{
    leaveStartup();
    {
        std::lock_guard lock(m_mutex);
        m_stop.store(true, std::memory_order_relaxed);
        m_changed.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

void RowFill::leaveStartup()
{
    Startup& state = startup();
    std::lock_guard lock(state.mutex);
    std::erase(state.fills, this);
}

void RowFill::startupBegins()
{
    Startup& state = startup();
    std::lock_guard lock(state.mutex);
    state.on = true;
    state.windowBuilt = state.shown = false;
}

void RowFill::windowBuilt()
{
    Startup& state = startup();
    std::lock_guard lock(state.mutex);
    state.windowBuilt = true;
    for (const RowFill* fill : state.fills)
        fill->startupGoesOn(true, false);
}

void RowFill::firstFrameShown()
{
    Startup& state = startup();
    std::lock_guard lock(state.mutex);
    state.windowBuilt = state.shown = true;
    for (const RowFill* fill : state.fills)
        fill->startupGoesOn(true, true);
    state.fills.clear();
}

void RowFill::startupGoesOn(bool windowBuilt, bool shown) const
{
    std::lock_guard lock(m_mutex);
    m_waitsForWindow = m_waitsForWindow && !windowBuilt;
    m_waitsForFrame = m_waitsForFrame && !shown;
    m_changed.notify_all();
}

void RowFill::run(const std::function<void(RowFill&)>& work)
{
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return !heldBeforeStart(); });
    }
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
    if ((m_held || m_waitsForFrame) && ready >= m_heldAfter && ready < m_height)
        m_changed.wait(lock, [&] { return !(m_held || m_waitsForFrame) || m_stop.load(std::memory_order_relaxed); });
}

void RowFill::release() const
{
    std::lock_guard lock(m_mutex);
    m_held = m_waitsForWindow = false;
    m_changed.notify_all();
}

void RowFill::waitFor(int rows) const
{
    rows = std::min(rows, m_height);
    if (m_ready.load(std::memory_order_acquire) >= rows)
        return;
    std::unique_lock lock(m_mutex);
    m_waitsForWindow = false;
    if (rows > m_heldAfter) // wanted beyond the held rows: the work goes on
        m_held = m_waitsForFrame = false;
    m_changed.notify_all();
    m_changed.wait(lock, [&] { return m_ended || m_ready.load(std::memory_order_acquire) >= rows; });
}

} // namespace korvane
