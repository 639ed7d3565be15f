#include "x_session.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <X11/Xutil.h>

namespace korvane::test {

pid_t spawn(const std::vector<std::string>& args, const std::string& display, const std::string& errorPath)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (!errorPath.empty()) {
            const int fd = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 2);
            close(fd);
        }
        setenv("DISPLAY", display.c_str(), 1);
        unsetenv("QT_QPA_PLATFORM");
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return condition();
}

bool XSession::start(const std::string& screenSize)
{
    for (int n = 90; n < 140 && !m_display; ++n) {
        if (std::filesystem::exists("/tmp/.X11-unix/X" + std::to_string(n)))
            continue;
        m_name = std::to_string(n);
        m_name.insert(0, 1, ':'); // not ":" + ...: GCC 12 warns wrongly on that at -O3
        m_server = spawn({"Xvfb", m_name, "-screen", "0", screenSize, "-nolisten", "tcp"}, m_name);
        waitFor([this] { return (m_display = XOpenDisplay(m_name.c_str())) != nullptr; });
        if (!m_display) {
            kill(m_server, SIGTERM);
            waitpid(m_server, nullptr, 0);
            m_server = 0;
        }
    }
    return m_display != nullptr;
}

void XSession::stop()
{
    if (m_display)
        XCloseDisplay(m_display);
    m_display = nullptr;
    if (m_server > 0) {
        kill(m_server, SIGTERM);
        waitpid(m_server, nullptr, 0);
    }
    m_server = 0;
}

QRgb XSession::pixel(int x, int y) const
{
    XImage* image = XGetImage(m_display, DefaultRootWindow(m_display), x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image)
        return 0;
    const unsigned long value = XGetPixel(image, 0, 0);
    XDestroyImage(image);
    return qRgb((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF);
}

Window XSession::viewableWindowTitled(const char* title) const
{
    Window root = 0, parent = 0, *children = nullptr;
    unsigned int count = 0;
    Window found = 0;
    XQueryTree(m_display, DefaultRootWindow(m_display), &root, &parent, &children, &count);
    for (unsigned int i = 0; i < count && !found; ++i) {
        XWindowAttributes attributes;
        char* name = nullptr;
        if (XGetWindowAttributes(m_display, children[i], &attributes) && attributes.map_state == IsViewable
            && XFetchName(m_display, children[i], &name) && name) {
            if (std::strcmp(name, title) == 0)
                found = children[i];
        }
        if (name)
            XFree(name);
    }
    if (children)
        XFree(children);
    return found;
}

} // namespace korvane::test
