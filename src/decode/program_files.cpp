#include "program_files.h"

#include <array>
#include <unistd.h>

namespace korvane {

std::string programFileDirectory(const char* buildDirectory, const char* fromBinDirectory)
{
    std::array<char, 4096> self {};
    const ssize_t length = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    const std::string program = length > 0 ? std::string(self.data(), static_cast<std::size_t>(length)) : "";
    if (program.starts_with(KORVANE_BUILD_ROOT "/"))
        return buildDirectory;
    return program.substr(0, program.rfind('/') + 1) + fromBinDirectory;
}

} // namespace korvane
