#include "support.h"

#include <csignal>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

#include "program_run.h" // Xlib last

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace korvane::test {

namespace {

void pressReturn(Display* display)
{
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_Return), True, CurrentTime);
    XTestFakeKeyEvent(display, XKeysymToKeycode(display, XK_Return), False, CurrentTime);
    XFlush(display);
}

} // namespace

std::string readAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

Outcome runUntilDecided(XSession& session, const std::vector<std::string>& command,
    const std::function<bool()>& shown)
{
    using namespace std::chrono_literals;
    static int runs = 0;
    const std::string errors = tempDir() + "/stderr-" + std::to_string(++runs) + ".txt";
    const std::string peak = tempDir() + "/peak-" + std::to_string(runs) + ".txt";
    std::vector<std::string> measured{PEAK_MEMORY_TOOL, peak};
    measured.insert(measured.end(), command.begin(), command.end());
    const auto start = std::chrono::steady_clock::now();
    const pid_t program = spawn(measured, session.name(), errors);
    Outcome outcome;
    rusage usage {};
    int status = 0;
    bool ended = false;
    while (std::chrono::steady_clock::now() - start < kDeadline && !outcome.decided) {
        ended = wait4(program, &status, WNOHANG, &usage) == program;
        outcome.decided = ended || !readAll(errors).empty() || (outcome.shown = shown());
        if (!outcome.decided)
            std::this_thread::sleep_for(10ms);
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (outcome.shown || !outcome.decided)
        kill(program, SIGTERM);
    // A program that has shown its picture closes on SIGTERM; one showing
    // an error box closes on Return.
    const auto closing = std::chrono::steady_clock::now();
    while (!ended && std::chrono::steady_clock::now() - closing < 10s) {
        if (!outcome.shown)
            pressReturn(session.display());
        ended = wait4(program, &status, WNOHANG, &usage) == program;
        if (!ended)
            std::this_thread::sleep_for(20ms);
    }
    if (!ended) {
        kill(-program, SIGKILL);
        wait4(program, &status, 0, &usage);
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    outcome.error = readAll(errors);
    outcome.peakKilobytes = std::atol(readAll(peak).c_str());
    return outcome;
}

} // namespace korvane::test
