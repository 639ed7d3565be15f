#pragma once
// Decoder handles that are not to be shared between threads (libtiff's,
// librsvg's), each taken by one thread for a tile and given back for the
// next: a source opens only as many as threads read it at once.
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace korvane {

template <class Handle>
class HandlePool {
public:
    // A free handle, else the one `open()` makes (null when it cannot).
    template <class Open>
    std::unique_ptr<Handle> take(Open&& open)
    {
        {
            std::lock_guard lock(m_mutex);
            if (!m_free.empty()) {
                std::unique_ptr<Handle> handle = std::move(m_free.back());
                m_free.pop_back();
                return handle;
            }
        }
        return std::forward<Open>(open)();
    }

    void give(std::unique_ptr<Handle> handle)
    {
        if (!handle)
            return;
        std::lock_guard lock(m_mutex);
        m_free.push_back(std::move(handle));
    }

private:
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Handle>> m_free;
};

} // namespace korvane
