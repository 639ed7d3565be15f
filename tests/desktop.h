#pragma once
// The desktop the end-to-end tests run the real program on: its screen, read
// back by pixel, and the user's pointer, sent through the window system as a
// real device would. One build of the tests uses a private X server, the
// other a headless Wayland compositor.
#include "platform/form_window.h"

#include <QColor>
#include <QImage>

#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace korvane::test {

// A window's size in pixels.
using WindowSize = PixelSize;

class Desktop {
public:
    virtual ~Desktop() = default;
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual std::string name() const = 0;

    // Starts a program here; its standard error goes to errorPath if given.
    virtual pid_t launch(const std::vector<std::string>& args, const std::string& errorPath = {}) = 0;

    // The screen's pixel; the viewer's window has its top-left corner at (0, 0).
    virtual QRgb pixel(int x, int y) = 0;
    virtual void moveTo(int x, int y) = 0;
    virtual void button(bool down) = 0;

    // The viewer's window ("KORVANE"): shown, its size, and a resize as the
    // user makes one (after which the window is back at (0, 0)).
    virtual bool viewerShown() = 0;
    virtual WindowSize viewerSize() = 0;
    virtual void resizeViewer(int width, int height) = 0;
    // Answers the message box that is shown (Return on X, closing it on Wayland).
    virtual void dismissDialog() = 0;

    // Scales the screen by a whole factor for the programs started after;
    // false where the desktop cannot (the X one).
    virtual bool setScreenScale(int /*factor*/) { return false; }
    // A second output right of the first, scaled by a whole factor (0:
    // removed again); false where the desktop cannot add one.
    virtual bool setSecondOutput(int /*factor*/) { return false; }
    // Moves the viewer's window to the top-left corner of an output (1 or 2).
    virtual void moveViewerToOutput(int /*output*/) {}
    // One output's picture, in its device pixels.
    virtual QImage outputShot(int /*output*/) { return {}; }
    // The whole screen in device pixels.
    virtual QImage screenshot() = 0;
};

// The desktop this test program was built for.
std::unique_ptr<Desktop> makeDesktop();

} // namespace korvane::test
