// korvane PATH: shows the image at PATH in one window.
#include "form1.h"

#include "platform/command_line.h"
#include "platform/picture.h"
#include "platform/qt/application.h"
#include "platform/qt/form_host.h"
#include "platform/runtime_error.h"
#include "platform/startup_trace.h"
#include "render/render.h"

int main(int argc, char** argv)
{
    using namespace korvane;
    markStartup("main");
    useLocaleLanguage();
    StartupBegins();
    const std::string command = Command(argc, argv);
    // The picture decodes while Qt starts and the window is built, and its
    // overview is made there at the size a screen of the ratio known so
    // far (1 until the application reads the screen's) will draw it.
    const bool longLoad = PreloadPicture(Form1::picturePath(command), [ratio = devicePixelRatio()](int width, int height) {
        return render::OverviewPixels(width, height, ratio);
    });
    // While a small picture decodes, a core is left over for what the
    // window's first caption needs; a long load has both cores.
    if (!longLoad)
        readFontConfigurationAhead();
    Application application(argc > 0 ? argv[0] : "korvane");
    markStartup("application");
    Form1 form(command);
    FormHost host(form.window);
    host.addPanel(form.Picture1);
    host.addPanel(form.Picture3);
    host.addButton(form.Command4);
    host.bindTimer(form.Timer1);
    host.prepare();
    markStartup("window-built");
    runGuarded([&] { form.Form_Load(); });
    markStartup("form-loaded");
    host.show();
    markStartup("shown");
    return application.exec();
}
