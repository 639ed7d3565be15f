#include "runtime_error.h"

#include <cstdio>
#include <cstdlib>

namespace korvane {

namespace {

const char* standardWording(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::Overflow: return "overflow";
    case ErrorKind::InvalidOperation: return "invalid floating-point operation";
    case ErrorKind::DivisionByZero: return "division by zero";
    case ErrorKind::FloatOverflow: return "floating-point overflow";
    case ErrorKind::FileNotFound: return "file not found";
    case ErrorKind::NotAFile: return "not a regular file";
    case ErrorKind::FileUnreadable: return "file cannot be read";
    case ErrorKind::InvalidPicture: return "not an image in a format the viewer reads";
    case ErrorKind::OutOfMemory: return "out of memory";
    }
    return "error";
}

void printAndExit(const RuntimeError& error)
{
    std::fprintf(stderr, "%s\n", errorLine(error).c_str());
    std::fflush(stderr);
    std::_Exit(1);
}

ErrorReporter& currentReporter()
{
    static ErrorReporter reporter = printAndExit;
    return reporter;
}

bool isContinuationByte(unsigned char c) { return (c & 0xC0) == 0x80; }

// Length of the valid UTF-8 sequence starting at text[i], or 0.
size_t utf8SequenceLength(const std::string& text, size_t i)
{
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
        : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    for (size_t k = 1; k < length; ++k)
        if (!isContinuationByte(static_cast<unsigned char>(text[i + k])))
            return 0;
    return length;
}

} // namespace

RuntimeError::RuntimeError(ErrorKind kind, std::string message)
    : std::runtime_error(std::move(message)), m_kind(kind)
{
}

void raiseError(ErrorKind kind)
{
    throw RuntimeError(kind, standardWording(kind));
}

void raiseFileError(ErrorKind kind, const std::string& path, const std::string& reason)
{
    throw RuntimeError(kind, "cannot open '" + printablePath(path) + "': " + reason);
}

std::string printablePath(const std::string& path)
{
    std::string out;
    for (size_t i = 0; i < path.size();) {
        const auto c = static_cast<unsigned char>(path[i]);
        const size_t length = utf8SequenceLength(path, i);
        if (length == 0 || c < 0x20 || c == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
            ++i;
        } else {
            out.append(path, i, length);
            i += length;
        }
    }
    return out;
}

void setErrorReporter(ErrorReporter reporter)
{
    currentReporter() = reporter ? std::move(reporter) : ErrorReporter(printAndExit);
}

void reportError(const RuntimeError& error)
{
    currentReporter()(error);
}

void runGuarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const RuntimeError& error) {
        reportError(error);
    } catch (const std::bad_alloc&) {
        reportError(RuntimeError(ErrorKind::OutOfMemory, "out of memory"));
    }
}

std::string errorLine(const RuntimeError& error)
{
    return std::string("korvane: ") + error.what();
}

} // namespace korvane
