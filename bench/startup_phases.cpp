#include "startup_phases.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <utility>

namespace korvane::bench {

namespace {

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

void StartupPhases::add(const std::string& tracePath, std::chrono::steady_clock::time_point exec)
{
    // steady_clock is the monotonic clock the trace is written in.
    const double execSeconds = std::chrono::duration<double>(exec.time_since_epoch()).count();
    std::ifstream trace(tracePath);
    std::string phase;
    double seconds = 0;
    while (trace >> phase >> seconds)
        m_milliseconds[phase].push_back((seconds - execSeconds) * 1000);
    std::remove(tracePath.c_str());
}

void StartupPhases::print(const std::string& label) const
{
    std::vector<std::pair<double, std::string>> phases;
    for (const auto& [phase, times] : m_milliseconds)
        phases.emplace_back(median(times), phase);
    std::sort(phases.begin(), phases.end());
    std::printf("%-16s phases (ms from exec):", label.c_str());
    for (const auto& [milliseconds, phase] : phases)
        std::printf("  %s %.1f", phase.c_str(), milliseconds);
    std::printf("\n");
}

} // namespace korvane::bench
