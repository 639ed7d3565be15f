#pragma once
// The start-up's phases, for the first-frame benchmark: when the
// environment names a file in KORVANE_STARTUP_TRACE, each phase appends a
// line "NAME SECONDS" to it, SECONDS on the monotonic clock the benchmark
// starts the program by. Otherwise a mark costs one branch.

namespace korvane {

// Marks each phase once: the first call for a name is the one written.
void markStartup(const char* phase);

} // namespace korvane
