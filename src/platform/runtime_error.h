#pragma once
// Errors that nothing in the program catches: each one ends the program
// through the error report.
#include <functional>
#include <stdexcept>
#include <string>

namespace korvane {

enum class ErrorKind {
    Overflow,           // a value does not fit its integer type
    InvalidOperation,   // 0/0, NaN
    DivisionByZero,
    FloatOverflow,      // a floating result beyond range
    FileNotFound,
    NotAFile,           // a directory, FIFO, device...
    FileUnreadable,     // permission or I/O error
    InvalidPicture,     // not an image the loader reads, or undecodable
    OutOfMemory,        // the picture cannot be held in memory
};

class RuntimeError : public std::runtime_error {
public:
    RuntimeError(ErrorKind kind, const std::string& message);
    ErrorKind kind() const { return m_kind; }

private:
    ErrorKind m_kind;
};

// Throws the error of that kind with its standard wording.
[[noreturn]] void raiseError(ErrorKind kind);

// Throws a file error naming the file and the reason.
[[noreturn]] void raiseFileError(ErrorKind kind, const std::string& path, const std::string& reason);

// The path as it may be printed on one line: control characters (C0, C1,
// DEL and the bidirectional controls) and every byte that is not part of
// well-formed UTF-8 are escaped as \xHH, byte by byte.
std::string printablePath(const std::string& path);

// Where uncaught errors go. The default prints the message and exits with
// status 1; the application adds a message box, tests record the error.
using ErrorReporter = std::function<void(const RuntimeError&)>;
void setErrorReporter(ErrorReporter reporter);

// Runs one event handler; an error it raises goes to the error report.
void runGuarded(const std::function<void()>& handler);

// True while runGuarded runs a handler: an event that arrives then (from a
// nested event loop) must not start another.
bool insideHandler();

// Sends an error to the current reporter.
void reportError(const RuntimeError& error);

// The one line printed on stderr for an error.
std::string errorLine(const RuntimeError& error);

} // namespace korvane
