// The floors any Qt viewer pays, on the same screen as the viewer.
// korvane-bare-window: a bare Qt window of the viewer's first size, with
// nothing drawn in it but the style's background; prints its peak
// resident memory (MB) once it has been painted, and ends.
// korvane-bare-window --fill [FILE]: the same window filled with the
// benchmark picture's hue, with one button captioned as the viewer's, open
// until it is ended: the first-frame benchmark times it as a viewer.
#include <QApplication>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "platform/startup_trace.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

long peakResidentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

class Bare : public QWidget {
public:
    explicit Bare(bool filled)
        : m_filled(filled)
    {
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (m_filled) {
            QPainter(this).fillRect(rect(), QColor(200, 60, 180)); // the benchmark picture's hue
            korvane::markStartup("painted");
            return;
        }
        // Ends once the first frame has reached the screen.
        QTimer::singleShot(200, [] {
            std::printf("%ld\n", peakResidentKb() / 1024);
            QApplication::quit();
        });
    }

private:
    bool m_filled;
};

} // namespace

int main(int argc, char** argv)
{
    // Phases as the viewer marks them, for the floor's own row.
    korvane::markStartup("main");
    const bool filled = argc > 1 && std::strcmp(argv[1], "--fill") == 0;
    QApplication application(argc, argv);
    korvane::markStartup("application");
    Bare window(filled);
    window.setWindowTitle("bare");
    window.resize(1100, 700);
    if (filled) {
        auto* button = new QPushButton(QString::fromUtf8("拡大"), &window);
        button->setGeometry(8, 700 - 8 - 32, 80, 32);
    }
    korvane::markStartup("window-built");
    window.show();
    korvane::markStartup("shown");
    return application.exec();
}
