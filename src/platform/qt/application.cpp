#include "application.h"

#include "progress_window.h"

#include "decode/texts.h"
#include "platform/controls.h"
#include "platform/runtime_error.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QScreen>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>

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

} // namespace

Application::Application(const char* programName)
    : m_argv{const_cast<char*>(programName), nullptr}
{
    // The class the window system sees and the desktop entry it belongs
    // to, so that docks and Wayland compositors match the window to its
    // launcher and icon.
    QCoreApplication::setApplicationName(QStringLiteral("Korvane"));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.korvane.Korvane"));
    m_app = std::make_unique<QApplication>(m_argc, m_argv);
    useQtTranslation(*m_app);
    // The window opens on the primary screen; the ratio follows it from
    // there (FormWidget::followScreens).
    const QScreen* primary = QGuiApplication::primaryScreen();
    setDevicePixelRatio(primary ? primary->devicePixelRatio() : m_app->devicePixelRatio());
    setErrorReporter(reportAndExit);
    showProgressOfLongLoads();
}

Application::~Application() = default;

int Application::exec()
{
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
