#pragma once
// A private X server (Xvfb, no window manager) for tests that run the real
// program and read its window's pixels off the screen. Include it after
// every other header: Xlib's macros clash with them.
#include <QColor>

#include <chrono>
#include <functional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// Xlib's macros (None, Bool, Status) clash with other headers: it comes last.
#include <X11/Xlib.h>

namespace korvane::test {

// Starts a program with these variables set (an empty value unsets one);
// its standard error goes to errorPath when one is given.
using Environment = std::vector<std::pair<std::string, std::string>>;
pid_t spawnWith(const std::vector<std::string>& args, const Environment& environment, const std::string& errorPath = {});
// Starts a program on the given X display, with Qt left to choose xcb.
pid_t spawn(const std::vector<std::string>& args, const std::string& display, const std::string& errorPath = {});

// Polls the condition every 20 ms until it holds or the time is up.
bool waitFor(const std::function<bool()>& condition,
    std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

class XSession {
public:
    // Starts Xvfb on a free display; false when none could be started.
    bool start(const std::string& screenSize = "1280x800x24");
    void stop();
    Display* display() const { return m_display; }
    const std::string& name() const { return m_name; }
    // The screen's pixel at (x, y).
    QRgb pixel(int x, int y) const;
    // The top-level window with this title, if one is viewable.
    Window viewableWindowTitled(const char* title) const;

private:
    Display* m_display = nullptr;
    std::string m_name;
    pid_t m_server = 0;
};

} // namespace korvane::test
