#pragma once
// How a decoder says that a file cannot be shown. The loader turns it into
// the program's error about that file.
#include <stdexcept>
#include <string>

namespace korvane {

enum class DecodeFailure {
    FileUnreadable, // an I/O error
    InvalidPicture, // damaged, or claims what it cannot hold
    OutOfMemory,    // the picture cannot be held in memory
};

class DecodeError : public std::runtime_error {
public:
    DecodeError(DecodeFailure failure, const std::string& path, const std::string& reason)
        : std::runtime_error(reason), m_failure(failure), m_path(path)
    {
    }
    DecodeFailure failure() const { return m_failure; }
    const std::string& path() const { return m_path; }

private:
    DecodeFailure m_failure;
    std::string m_path;
};

[[noreturn]] inline void raiseDecodeError(DecodeFailure failure, const std::string& path, const std::string& reason)
{
    throw DecodeError(failure, path, reason);
}

} // namespace korvane
