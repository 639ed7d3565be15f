// The floor for the viewer's own memory: a bare Qt window of the viewer's
// first size on the same screen, with nothing drawn in it but the style's
// background. Prints its peak resident memory (MB) once it has been
// painted, and ends.
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>
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
protected:
    void paintEvent(QPaintEvent*) override
    {
        // Ends once the first frame has reached the screen.
        QTimer::singleShot(200, [] {
            std::printf("%ld\n", peakResidentKb() / 1024);
            QApplication::quit();
        });
    }
};

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    Bare window;
    window.setWindowTitle("bare");
    window.resize(1100, 700);
    window.show();
    return application.exec();
}
