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
    // rows come first, and the cores then go to what else it needs. Made
    // during the program's start-up (see below), such work also waits to
    // start until the window is built, release() or a wait for rows, and
    // after those rows until the first frame is on the screen.
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
    // Lets held work start, and go on past its first rows unless it waits
    // for the first frame.
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

    // The program's start-up, which held work gives way to: on two cores,
    // the window's thread and the overview's copy each need one until the
    // window is built, and the window's thread and the display server until
    // the first frame is on the screen. Called by the program only, in this
    // order; work made otherwise is held as above and no more.
    static void startupBegins();
    static void windowBuilt();
    static void firstFrameShown();

private:
    void run(const std::function<void(RowFill&)>& work);
    // Under m_mutex.
    bool heldBeforeStart() const { return m_waitsForWindow && !m_stop.load(std::memory_order_relaxed); }
    void startupGoesOn(bool windowBuilt, bool shown) const;
    void leaveStartup();

    const int m_height;
    std::atomic<int> m_ready{0};
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    bool m_ended = false;
    const int m_heldAfter;
    mutable bool m_held;
    mutable bool m_waitsForWindow = false, m_waitsForFrame = false; // start-up's holds
    std::vector<std::function<void()>> m_whenComplete;
    std::thread m_thread; // last: started once the rest exists
};

} // namespace korvane
