#include "x_session.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <X11/Xutil.h>

namespace korvane::test {

pid_t spawnWith(const std::vector<std::string>& args, const Environment& environment, const std::string& errorPath)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (!errorPath.empty()) {
            const int fd = open(errorPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 2);
            close(fd);
        }
        for (const auto& [name, value] : environment) {
            if (value.empty())
                unsetenv(name.c_str());
            else
                setenv(name.c_str(), value.c_str(), 1);
        }
        std::vector<char*> argv;
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

pid_t spawn(const std::vector<std::string>& args, const std::string& display, const std::string& errorPath)
{
    return spawnWith(args, {{"DISPLAY", display}, {"QT_QPA_PLATFORM", ""}}, errorPath);
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

namespace {

// A window the program closes between our listing of the windows and a
// question about one of them is not an error of the test: Xlib's default
// handler would end the whole test process.
int ignoreGoneWindows(Display*, XErrorEvent* error)
{
    if (error->error_code == BadWindow || error->error_code == BadDrawable || error->error_code == BadMatch)
        return 0;
    char text[256] = {};
    XGetErrorText(error->display, error->error_code, text, sizeof text);
    std::fprintf(stderr, "X error: %s\n", text);
    std::abort();
}

// Reads the display number the server writes once it listens, or "".
std::string readDisplayNumber(int fd, std::chrono::milliseconds timeout)
{
    std::string number;
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (number.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        pollfd ready{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&ready, 1, int(left.count())) <= 0)
            return {};
        char buffer[16];
        const ssize_t count = read(fd, buffer, sizeof buffer);
        if (count <= 0)
            return {};
        number.append(buffer, std::size_t(count));
    }
    return number.substr(0, number.find('\n'));
}

} // namespace

bool XSession::start(const std::string& screenSize)
{
    // The server picks a free display itself and says which: no race with
    // other X servers starting on the machine.
    int fds[2];
    if (pipe(fds) != 0)
        return false;
    fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    m_server = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screenSize, "-nolisten", "tcp", "-noreset"}, "");
    close(fds[1]);
    const std::string number = readDisplayNumber(fds[0], std::chrono::seconds(10));
    close(fds[0]);
    XSetErrorHandler(ignoreGoneWindows);
    if (!number.empty()) {
        m_name = number;
        m_name.insert(0, 1, ':'); // not ":" + ...: GCC 12 warns wrongly on that at -O3
        waitFor([this] { return (m_display = XOpenDisplay(m_name.c_str())) != nullptr; });
    }
    if (!m_display) {
        kill(m_server, SIGTERM);
        waitpid(m_server, nullptr, 0);
        m_server = 0;
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
