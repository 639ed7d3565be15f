#pragma once
// The real program started on a file in a private X server, watched until
// it shows its picture, refuses the file, or runs out of time; its status,
// its standard error and its peak memory are kept.
#include "x_session.h" // Xlib last

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace korvane::test {

struct Outcome {
    bool decided = false;
    bool shown = false;
    int status = -1;
    std::string error;
    long peakKilobytes = 0;
    double seconds = 0;
};

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMeasuringMemory = false; // the sanitizer's own memory would count
constexpr std::chrono::seconds kDeadline{15}; // and its checks slow large pictures threefold
#else
constexpr bool kMeasuringMemory = true;
constexpr std::chrono::seconds kDeadline{5};
#endif

std::string readAll(const std::string& path);

// Runs `command` (the program and its arguments) under the peak memory
// probe on `session` until `shown` holds, the program ends or writes to
// stderr, or the deadline passes; then ends it (a refusal's message box
// dismissed with Return, as a user would).
Outcome runUntilDecided(XSession& session, const std::vector<std::string>& command,
    const std::function<bool()>& shown);

} // namespace korvane::test
