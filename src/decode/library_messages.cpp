#include "library_messages.h"

#include <QString>
#include <QtGlobal>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include <fcntl.h>
#include <tiffio.h>
#include <unistd.h>

namespace korvane {

namespace {

std::mutex g_mutex;
std::string g_last;
QtMessageHandler g_previous = nullptr;

void keep(std::string message)
{
    std::lock_guard lock(g_mutex);
    g_last = std::move(message);
}

void keepQtMessage(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtFatalMsg)
        std::abort();
    keep(message.toStdString());
}

void keepTiffMessage(const char* module, const char* format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    keep(module ? std::string(module) + ": " + text : std::string(text));
}

} // namespace

LibraryMessages::LibraryMessages()
{
    keep({});
    // Qt's TIFF reader uses the process-wide libtiff, which would print.
    TIFFSetErrorHandler(keepTiffMessage);
    TIFFSetWarningHandler(nullptr);
    g_previous = qInstallMessageHandler(keepQtMessage);
}

LibraryMessages::~LibraryMessages()
{
    qInstallMessageHandler(g_previous);
}

SilencedStderr::SilencedStderr()
{
    std::fflush(stderr);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0)
        return;
    m_saved = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    if (m_saved >= 0)
        ::dup2(null, STDERR_FILENO);
    ::close(null);
}

SilencedStderr::~SilencedStderr()
{
    if (m_saved < 0)
        return;
    std::fflush(stderr);
    ::dup2(m_saved, STDERR_FILENO);
    ::close(m_saved);
}

std::string LibraryMessages::last() const
{
    std::lock_guard lock(g_mutex);
    return g_last;
}

} // namespace korvane
