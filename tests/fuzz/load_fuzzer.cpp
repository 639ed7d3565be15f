// Arbitrary bytes as the picture file: load, first paint and first layout,
// as at start-up. Every failure must be a reported error of a kind the
// program raises for files or for its arithmetic, never a crash.
#include "app/form1.h"
#include "platform/runtime_error.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

bool isReportedFileOrArithmeticError(korvane::ErrorKind kind)
{
    using korvane::ErrorKind;
    switch (kind) {
    case ErrorKind::InvalidPicture:
    case ErrorKind::OutOfMemory:
    case ErrorKind::Overflow:
    case ErrorKind::InvalidOperation:
    case ErrorKind::DivisionByZero:
    case ErrorKind::FloatOverflow:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "korvane-load-fuzzer";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv); // for Qt's image plugins
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The bytes live in memory, as a regular file the loader can open by path.
    const int fd = memfd_create("picture", MFD_CLOEXEC);
    if (fd < 0 || write(fd, data, size) != static_cast<ssize_t>(size))
        std::abort();
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    try {
        korvane::Form1 form("\"" + path + "\"");
        form.Form_Load();
        form.Form_Resize();
    } catch (const korvane::RuntimeError& error) {
        if (!isReportedFileOrArithmeticError(error.kind())) {
            std::fprintf(stderr, "unexpected error: %s\n", error.what());
            std::abort();
        }
    }
    close(fd);
    return 0;
}
