#pragma once
// A picture whose rows a decoder is still filling in, top to bottom, on a
// thread of its own, while the program already shows the rows it has: how
// many are final, a wait for more, and a request to give up early.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace korvane {

class RowFill {
public:
    // `height` rows in all; the work runs on its own thread and must
    // publish every row before it ends (white for rows it could not decode).
    // With `heldAfter`, the work pauses once it has published that many
    // rows, until release() or a wait for more rows: the first frame's
    // rows come first, and the cores then go to what else it needs.
    RowFill(int height, std::function<void(RowFill&)> work, int heldAfter = 0);
    // Asks the work to stop and waits for it: the picture's memory is not
    // given back while a decoder still writes into it.
    ~RowFill();
    // The same, before the owner lets go of what the work's callbacks use.
    void stop();
    RowFill(const RowFill&) = delete;
    RowFill& operator=(const RowFill&) = delete;

    // Rows 0 .. rows - 1 are final. Called by the work only; waits there
    // while the work is held.
    void publish(int rows);
    // Lets held work go on.
    void release() const;
    // The owner no longer needs the rest: the work may end early.
    bool stopRequested() const { return m_stop.load(std::memory_order_relaxed); }

    bool complete() const { return m_ready.load(std::memory_order_acquire) >= m_height; }
    // Rows 0 .. rowsReady() - 1 are final and will not change.
    int rowsReady() const { return m_ready.load(std::memory_order_acquire); }
    // Returns once rows 0 .. rows - 1 are final (or the work has ended).
    void waitFor(int rows) const;
    // Runs `callback` once every row is final: on the work's thread, or at
    // once when that has already happened. Not run when the work is stopped.
    void whenComplete(std::function<void()> callback);

private:
    void run(const std::function<void(RowFill&)>& work);

    const int m_height;
    std::atomic<int> m_ready{0};
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_ended = false;
    const int m_heldAfter;
    mutable bool m_held;
    std::vector<std::function<void()>> m_whenComplete;
    std::thread m_thread; // last: started once the rest exists
};

} // namespace korvane
