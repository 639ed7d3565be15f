#include "library_messages.h"

#include <QString>
#include <QtGlobal>

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include <tiffio.h>

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

std::string LibraryMessages::last() const
{
    std::lock_guard lock(g_mutex);
    return g_last;
}

} // namespace korvane
