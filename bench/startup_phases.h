#pragma once
// Korvane's start-up, phase by phase, as its trace (KORVANE_STARTUP_TRACE)
// tells it: each phase's median time from exec over the runs, in order.
#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace korvane::bench {

class StartupPhases {
public:
    // Takes one run's trace, started at `exec`, and removes the file.
    void add(const std::string& tracePath, std::chrono::steady_clock::time_point exec);
    // One line: each phase and its median milliseconds from exec.
    void print(const std::string& label) const;
    bool empty() const { return m_milliseconds.empty(); }

private:
    std::map<std::string, std::vector<double>> m_milliseconds;
};

} // namespace korvane::bench
