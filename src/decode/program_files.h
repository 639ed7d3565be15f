#pragma once
// Where the program's own files are: beside it in its build tree, else the
// same way from its installed directory.
#include <string>

namespace korvane {

// `buildDirectory` when the running program is in the build tree, else its
// own directory followed by `fromBinDirectory` (a path relative to it).
std::string programFileDirectory(const char* buildDirectory, const char* fromBinDirectory);

} // namespace korvane
