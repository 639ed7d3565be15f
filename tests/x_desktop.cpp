// The X desktop: Xvfb with no window manager, input through XTest, pixels
// through XGetImage.
#include "desktop.h"

#include "x_session.h" // Xlib last

#include <X11/Xutil.h>

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace korvane::test {

namespace {

class XDesktop : public Desktop {
public:
    bool start() override { return m_session.start(); }
    void stop() override { m_session.stop(); }
    std::string name() const override { return "X"; }
    pid_t launch(const std::vector<std::string>& args, const std::string& errorPath) override
    {
        return spawn(args, m_session.name(), errorPath);
    }
    QRgb pixel(int x, int y) override { return m_session.pixel(x, y); }
    void moveTo(int x, int y) override
    {
        XTestFakeMotionEvent(display(), 0, x, y, CurrentTime);
        XFlush(display());
    }
    void button(bool down) override
    {
        XTestFakeButtonEvent(display(), 1, down, CurrentTime);
        XFlush(display());
    }
    bool viewerShown() override { return m_session.viewableWindowTitled("KORVANE") != 0; }
    WindowSize viewerSize() override
    {
        XWindowAttributes attributes {};
        const Window viewer = m_session.viewableWindowTitled("KORVANE");
        if (!viewer || !XGetWindowAttributes(display(), viewer, &attributes))
            return {};
        return {attributes.width, attributes.height};
    }
    void resizeViewer(int width, int height) override
    {
        XResizeWindow(display(), m_session.viewableWindowTitled("KORVANE"), unsigned(width), unsigned(height));
        XFlush(display());
    }
    void dismissDialog() override
    {
        const KeyCode key = XKeysymToKeycode(display(), XK_Return);
        XTestFakeKeyEvent(display(), key, True, CurrentTime);
        XTestFakeKeyEvent(display(), key, False, CurrentTime);
        XFlush(display());
    }

    QImage screenshot() override
    {
        const Window root = DefaultRootWindow(display());
        XWindowAttributes attributes {};
        XGetWindowAttributes(display(), root, &attributes);
        XImage* image = XGetImage(display(), root, 0, 0, unsigned(attributes.width), unsigned(attributes.height),
            AllPlanes, ZPixmap);
        if (!image)
            return {};
        QImage shot(attributes.width, attributes.height, QImage::Format_RGB32);
        for (int y = 0; y < attributes.height; ++y)
            for (int x = 0; x < attributes.width; ++x)
                shot.setPixel(x, y, 0xFF000000 | QRgb(XGetPixel(image, x, y) & 0xFFFFFF));
        XDestroyImage(image);
        return shot;
    }

private:
    Display* display() const { return m_session.display(); }
    XSession m_session;
};

} // namespace

std::unique_ptr<Desktop> makeDesktop()
{
    return std::make_unique<XDesktop>();
}

} // namespace korvane::test
