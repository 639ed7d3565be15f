#pragma once
// Qt for this program: started with the program's name only, so that no
// argument is ever taken as a Qt option; settings come from the
// environment (QT_QPA_PLATFORM and the like).
#include <memory>
#include <string>
#include <thread>

class QApplication;

namespace korvane {

class Application {
public:
    explicit Application(const char* programName);
    ~Application();
    // Runs the event loop until the window is closed.
    int exec();

private:
    int m_argc = 1;
    char* m_argv[2];
    std::unique_ptr<QApplication> m_app;
    std::thread m_quitWatcher; // reads what SIGTERM and SIGINT write
};

// Loads the program's texts in the locale's language (LC_ALL, LC_MESSAGES,
// LANG): called first, so that a load started before the application
// already reports in it.
void useLocaleLanguage();

// Starts reading the font configuration on a thread of its own, so that
// the window's first caption does not wait for it; the window waits for it
// before it lays out its captions.
void readFontConfigurationAhead();
void waitForFontConfiguration();

// The title of the box that shows an error: the window's caption.
void setErrorBoxTitle(const std::string& title);

// True when errors can be shown in a message box: a real display, not the
// offscreen or minimal platforms used by tests.
bool hasDisplay();

} // namespace korvane
