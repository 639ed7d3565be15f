#include "application.h"

#include "progress_window.h"

#include "decode/texts.h"
#include "platform/controls.h"
#include "platform/runtime_error.h"

#include "picture/tiled_picture.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTranslator>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <fontconfig/fontconfig.h>
#include <unistd.h>

namespace korvane {

namespace {

QString g_errorBoxTitle;

// Qt's own texts in the same language: the error box's button.
void useQtTranslation(QCoreApplication& app)
{
    static QTranslator translator;
    if (translator.load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&translator);
}

void reportAndExit(const RuntimeError& error)
{
    const std::string line = errorLine(error);
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
    if (hasDisplay())
        QMessageBox::critical(nullptr, g_errorBoxTitle, QString::fromStdString(line));
    std::_Exit(1);
}

// SIGTERM (a session ending, `kill`) and SIGINT (Ctrl+C in a terminal)
// close the program as closing its window does, so that decoders and tile
// workers stop and what it holds is given back in order. The handler only
// writes to a pipe, which a thread of its own reads: the event loop may be
// waiting for a tile far ahead of the overview's pass, so the thread first
// ends every read of tiles, then asks the event loop to end. A close that
// has not ended within a few seconds is cut short by the alarm's default
// action.
int g_quitPipe[2] = {-1, -1};
std::atomic<bool> g_quitAsked{false};
constexpr unsigned kSecondsToClose = 10;
constexpr char kQuit = 0, kEndWatch = 1;

void onQuitSignal(int /*signal*/)
{
    const char byte = kQuit;
    [[maybe_unused]] const ssize_t written = write(g_quitPipe[1], &byte, 1);
    alarm(kSecondsToClose);
}

void watchForQuit(QCoreApplication* app)
{
    for (;;) {
        char byte = kEndWatch;
        const ssize_t got = read(g_quitPipe[0], &byte, 1);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != 1 || byte == kEndWatch)
            return;
        g_quitAsked = true;
        TiledPicture::cancelEveryRead();
        QMetaObject::invokeMethod(app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    }
}

std::thread quitOnSignals(QCoreApplication& app)
{
    // The handler's write never blocks; the watcher's read does.
    if (pipe2(g_quitPipe, O_CLOEXEC) != 0 || fcntl(g_quitPipe[1], F_SETFL, O_NONBLOCK) != 0)
        return {};
    std::thread watcher(watchForQuit, &app);
    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    return watcher;
}

// Qt's own messages (a missing runtime directory, a plugin's complaint)
// stay off stderr, as the image libraries' do: a refusal's one line is the
// program's only output. A fatal one still says why the program stops, and
// whoever sets QT_LOGGING_RULES asked to read them all.
QtMessageHandler g_qtHandler = nullptr;

void keepQtMessagesOffStderr(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg && qEnvironmentVariableIsEmpty("QT_LOGGING_RULES"))
        return;
    if (g_qtHandler)
        g_qtHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

// fontconfig reads its configuration (some fifty files) and its font caches
// the first time Qt asks for a font: 5 ms of the window's thread before a
// small photo's first frame. Read beside Qt's own start-up instead, on a
// thread the window waits for before it lays out its captions.
std::thread g_fontConfiguration;

} // namespace

void readFontConfigurationAhead()
{
    g_fontConfiguration = std::thread([] { FcInit(); });
}

void waitForFontConfiguration()
{
    if (g_fontConfiguration.joinable())
        g_fontConfiguration.join();
}

Application::Application(const char* programName)
    : m_argv{const_cast<char*>(programName), nullptr}
{
    // The class the window system sees and the desktop entry it belongs
    // to, so that docks and Wayland compositors match the window to its
    // launcher and icon.
    QCoreApplication::setApplicationName(QStringLiteral("Korvane"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.korvane.Korvane"));
    g_qtHandler = qInstallMessageHandler(keepQtMessagesOffStderr);
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    useQtTranslation(*m_app);
    // The window opens on the primary screen; the ratio follows it from
    // there (FormWidget::followScreens).
    const QScreen* primary = QGuiApplication::primaryScreen();
    setDevicePixelRatio(primary ? primary->devicePixelRatio() : m_app->devicePixelRatio());
    setErrorReporter(reportAndExit);
    showProgressOfLongLoads();
    m_quitWatcher = quitOnSignals(*m_app);
}

Application::~Application()
{
    waitForFontConfiguration();
    if (m_quitWatcher.joinable()) {
        const char byte = kEndWatch;
        [[maybe_unused]] const ssize_t written = write(g_quitPipe[1], &byte, 1);
        m_quitWatcher.join();
    }
}

int Application::exec()
{
    // A signal taken while the window was being built: exec would forget it.
    if (g_quitAsked)
        return 0;
    return m_app->exec();
}

void useLocaleLanguage()
{
    loadTranslation(QLocale::system());
}

void setErrorBoxTitle(const std::string& title)
{
    g_errorBoxTitle = QString::fromStdString(title);
}

bool hasDisplay()
{
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace korvane
