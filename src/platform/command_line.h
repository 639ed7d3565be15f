#pragma once
// The command line as the program sees it: one text, never parsed.
#include <string>

namespace korvane {

// The program's arguments (without its name) joined with single spaces,
// exactly as the user gave them.
std::string Command(int argc, const char* const* argv);

// Replaces every occurrence of find in text, scanning from the start,
// comparing bytes exactly. An empty find leaves the text unchanged.
std::string Replace(const std::string& text, const std::string& find, const std::string& with);

} // namespace korvane
