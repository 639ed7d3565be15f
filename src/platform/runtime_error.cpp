#include "runtime_error.h"

#include "decode/texts.h"

#include <cstdio>
#include <cstdlib>

namespace korvane {

namespace {

int g_handlerDepth = 0; // how many guarded handlers are running

// A reason may carry a library's own text: it is kept to one line, with
// the same escapes as the path (a trailing line break is dropped).
std::string printableReason(std::string reason)
{
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    return printablePath(reason);
}

const char* englishWording(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::Overflow: return QT_TRANSLATE_NOOP("error", "overflow");
    case ErrorKind::InvalidOperation: return QT_TRANSLATE_NOOP("error", "invalid floating-point operation");
    case ErrorKind::DivisionByZero: return QT_TRANSLATE_NOOP("error", "division by zero");
    case ErrorKind::FloatOverflow: return QT_TRANSLATE_NOOP("error", "floating-point overflow");
    case ErrorKind::FileNotFound: return QT_TRANSLATE_NOOP("error", "file not found");
    case ErrorKind::NotAFile: return QT_TRANSLATE_NOOP("error", "not a regular file");
    case ErrorKind::FileUnreadable: return QT_TRANSLATE_NOOP("error", "file cannot be read");
    case ErrorKind::InvalidPicture: return QT_TRANSLATE_NOOP("error", "not an image in a format the viewer reads");
    case ErrorKind::OutOfMemory: return QT_TRANSLATE_NOOP("error", "out of memory");
    }
    return QT_TRANSLATE_NOOP("error", "error");
}

std::string standardWording(ErrorKind kind)
{
    return translated("error", englishWording(kind));
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

bool inRange(unsigned char c, unsigned char low, unsigned char high) { return c >= low && c <= high; }

// The code point of the well-formed UTF-8 sequence at text[i] and its
// length; length 0 for anything else: overlong forms, surrogates, code
// points above U+10FFFF, stray or missing continuation bytes.
size_t decodeUtf8(const std::string& text, size_t i, char32_t& codePoint)
{
    const auto byte = [&](size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : static_cast<unsigned char>(0); };
    const unsigned char lead = byte(0);
    unsigned char low = 0x80, high = 0xBF; // the second byte's range
    size_t length = 0;
    if (lead < 0x80)
        length = 1;
    else if (inRange(lead, 0xC2, 0xDF))
        length = 2;
    else if (inRange(lead, 0xE0, 0xEF))
        length = 3, low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    else if (inRange(lead, 0xF0, 0xF4))
        length = 4, low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    if (length == 0 || (length > 1 && !inRange(byte(1), low, high)))
        return 0;
    codePoint = length == 1 ? char32_t(lead) : char32_t(lead & (0x7F >> length));
    for (size_t k = 1; k < length; ++k) {
        if (!inRange(byte(k), 0x80, 0xBF))
            return 0;
        codePoint = codePoint << 6 | char32_t(byte(k) & 0x3F);
    }
    return length;
}

// Characters that would act on a terminal or reorder the line: C0 and C1
// controls, DEL, and the bidirectional marks, embeddings and isolates.
bool isControl(char32_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F
        || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void appendEscaped(std::string& out, const std::string& text, size_t from, size_t count)
{
    for (size_t k = from; k < from + count; ++k) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(text[k]));
        out += escaped;
    }
}

} // namespace

RuntimeError::RuntimeError(ErrorKind kind, const std::string& message)
    : std::runtime_error(message), m_kind(kind)
{
}

void raiseError(ErrorKind kind)
{
    throw RuntimeError(kind, standardWording(kind));
}

void raiseFileError(ErrorKind kind, const std::string& path, const std::string& reason)
{
    throw RuntimeError(kind,
        filledIn(translated("error", "cannot open '%1': %2"), {printablePath(path), printableReason(reason)}));
}

std::string printablePath(const std::string& path)
{
    std::string out;
    for (size_t i = 0; i < path.size();) {
        char32_t codePoint = 0;
        const size_t length = decodeUtf8(path, i, codePoint);
        if (length == 0) {
            appendEscaped(out, path, i, 1);
            ++i;
            continue;
        }
        if (isControl(codePoint))
            appendEscaped(out, path, i, length);
        else
            out.append(path, i, length);
        i += length;
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

bool insideHandler()
{
    return g_handlerDepth > 0;
}

void runGuarded(const std::function<void()>& handler)
{
    struct Depth {
        Depth() { ++g_handlerDepth; }
        ~Depth() { --g_handlerDepth; }
    } depth;
    try {
        handler();
    } catch (const RuntimeError& error) {
        reportError(error);
    } catch (const std::bad_alloc&) {
        reportError(RuntimeError(ErrorKind::OutOfMemory, standardWording(ErrorKind::OutOfMemory)));
    } catch (const std::exception& error) {
        reportError(RuntimeError(ErrorKind::InvalidOperation, error.what()));
    }
}

std::string errorLine(const RuntimeError& error)
{
    return std::string("korvane: ") + error.what();
}

} // namespace korvane
