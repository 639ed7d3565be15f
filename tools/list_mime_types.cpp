// korvane-mime-types: prints the MIME types the loader reads on this
// machine, separated by semicolons, as a desktop entry lists them.
#include "platform/picture.h"

#include <QGuiApplication>

#include <cstdio>

int main(int, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    QGuiApplication app(argc, argv);
    std::string out;
    for (const std::string& type : korvane::ReadableMimeTypes())
        out += type + ';';
    std::printf("%s\n", out.c_str());
    return 0;
}
