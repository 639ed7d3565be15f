#pragma once
// The window's controls as the handlers see them: positions and sizes in
// twips (15 to a pixel) as Single values, events as plain callables. A
// control may have a view (a widget) that mirrors it on the screen; without
// one it works the same, which is how the logic is tested.
#include "numeric.h"
#include "picture.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

// The handlers above this layer see no pixels: Qt's types only appear in
// the functions the views and the tests use.
class QImage;
class QPainter;
class QPoint;
class QRect;
class QRectF;
class QSize;

namespace korvane {

constexpr double kTwipsPerPixel = 15.0;

// Twips to whole (logical) pixels, rounded to nearest (halves to even).
int twipsToPixels(double twips);

// Device pixels to a logical pixel on the screen the window is shown on
// (1 unless the screen is scaled). Twips stay 15 to a logical pixel, so
// the handlers' arithmetic never sees it; panels draw in device pixels and
// a picture pixel is one device pixel, which makes a picture's size in
// twips its pixel size x 15 / ratio. Set at start-up from the screen the
// window opens on, and again (FormWindow::screenScaleChanged) when the
// window goes to a screen of another ratio.
void setDevicePixelRatio(double ratio);
double devicePixelRatio();
// Twips to whole device pixels, rounded to nearest (halves to even); the
// second on a screen of the given ratio rather than the window's.
int twipsToDevicePixels(double twips);
int twipsToDevicePixels(double twips, double ratio);

// What a control's on-screen view is told.
class ControlView {
public:
    virtual ~ControlView() = default;
    virtual void geometryChanged() {}
    virtual void contentChanged(const QRect& devicePixels);
    virtual void captionChanged() {}
    // The panel shows an overview made while `picture` still decodes: the
    // view calls the panel's refreshProvisional() on its own thread once
    // the picture is complete, and now and then before while it says the
    // overview may grow.
    virtual void refreshWhenComplete(const Picture& /*picture*/) {}
};

// Shared by panels and the button: a place in the window's inner area.
class Control {
public:
    Single Left() const { return m_left; }
    Single Top() const { return m_top; }
    Single Width() const { return m_width; }
    Single Height() const { return m_height; }
    void setLeft(Single value);
    void setTop(Single value);
    void setWidth(Single value);
    void setHeight(Single value);

    // Position and size in whole pixels, as shown on the screen.
    QRect pixelGeometry() const;

    void setView(ControlView* view) { m_view = view; }

    virtual ~Control() = default;

protected:
    Control(Single left, Single top, Single width, Single height);
    virtual void sizeChanged() {}
    ControlView* view() const { return m_view; }

private:
    Single m_left, m_top, m_width, m_height;
    ControlView* m_view = nullptr;
};

using MouseHandler = std::function<void(Integer button, Integer shift, Single& x, Single& y)>;

// A picture panel: keeps what was painted on it, on a white background, as
// a backing image of its own device-pixel size. What the viewer paints on
// each pointer move (the panel cleared or painted over whole, one copy of
// picture pixels, the marker) is kept as a description and drawn straight
// to the screen; the backing's pixels are made only when something else is
// drawn or they are read, so a move costs the same for any picture size.
class PictureBox : public Control {
public:
    PictureBox(Single left, Single top, Single width, Single height);
    ~PictureBox() override;

    // The holder role: fits itself to the picture it is given (an empty
    // picture leaves its size as it was).
    void setPicture(Picture picture);
    const Picture& picture() const { return m_picture; }

    // Fills the panel with its background colour.
    void Cls();
    // Copies the source region (x2, y2, width2, height2) of the picture,
    // scaled, into the panel rectangle (x1, y1, width1, height1); without
    // a source size the whole picture. All in twips.
    void PaintPicture(const Picture& picture, Single x1, Single y1, Single width1, Single height1,
        std::optional<Single> x2 = {}, std::optional<Single> y2 = {},
        std::optional<Single> width2 = {}, std::optional<Single> height2 = {});
    // Outline of a circle centred on (x, y); colour is &H00BBGGRR.
    void Circle(Single x, Single y, Single radius, Long colour);

    // An overview painted while its picture decoded is made again from
    // what has been decoded since (the whole picture, once complete), when
    // the panel still shows it as painted; so are pixels painted white
    // while they waited for a large picture's overview pass. True while
    // either may change further.
    bool refreshProvisional();

    // The device pixel ratio changed: a holder fits itself to its picture
    // again; a panel's pixels are of the old screen, so it is cleared to its
    // new device size, to be painted again.
    void screenScaleChanged();

    // What was painted, in device pixels; null before anything was.
    const QImage& backing() const;
    // Draws the panel's device pixels in `area` with the painter, whose
    // coordinates are logical pixels at the given device pixel ratio.
    void drawTo(QPainter& painter, QRect area, double ratio) const;

    MouseHandler onMouseDown, onMouseMove, onMouseUp;

protected:
    void sizeChanged() override;

private:
    void paintUnscaled(const Picture& picture, double x1, double y1, double width1, double height1, double x2, double y2);
    void paintWholeScaled(const Picture& picture, double x1, double y1, double width1, double height1);
    void paintRegionScaled(const Picture& picture, const QRectF& target, const QRectF& source);
    bool copyShown(const Picture& picture, const QRect& asked, const QPoint& shift, const QRect& area);
    bool refreshOverview();
    bool refreshShownLater();
    QSize backingSize() const;
    void changed(const QRect& devicePixels);
    // Copies source pixels so that source pixel s lands on s + shift, in
    // `area`: recorded when the copy covers the whole panel or lands on a
    // clear one, drawn at once otherwise.
    void copyIn(const QImage& source, const QPoint& shift, QRect area);
    void makePixels() const;

    struct Pixels;
    Picture m_picture;
    std::unique_ptr<Pixels> m_pixels;
};

// The push button.
class CommandButton : public Control {
public:
    CommandButton(Single left, Single top, Single width, Single height, std::string caption);
    const std::string& Caption() const { return m_caption; }
    void setCaption(std::string caption);
    std::function<void()> onClick;

private:
    std::string m_caption;
};

// A timer: raises onTimer every Interval milliseconds once its view (or a
// test) drives it. An interval of 0 stops it.
class Timer {
public:
    Long Interval() const { return m_interval; }
    void setInterval(Long milliseconds);
    // One tick, as the platform delivers it.
    void tick();
    std::function<void()> onTimer;
    std::function<void(Long)> onIntervalChanged; // for the view

private:
    Long m_interval = 0;
};

} // namespace korvane
