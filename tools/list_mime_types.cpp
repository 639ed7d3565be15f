// korvane-mime-types: prints the MIME types Qt's image readers open on
// this machine, separated by semicolons, for the desktop entry.
#include <QGuiApplication>
#include <QImageReader>

#include <cstdio>

int main(int, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    QGuiApplication app(argc, argv);
    QByteArray out;
    for (const QByteArray& type : QImageReader::supportedMimeTypes())
        out += type + ';';
    std::printf("%s\n", out.constData());
    return 0;
}
