#pragma once
// The top-level window as the handlers see it: outer size in Width and
// Height, inner (client) size in ScaleWidth and ScaleHeight, all in twips.
// Setting a size raises the resize event at once, inside the running
// handler, as the window system would.
#include "numeric.h"

#include <functional>
#include <string>

namespace korvane {

// A size in whole pixels.
struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};

class FormWindowView {
public:
    virtual ~FormWindowView() = default;
    // The handler changed the size; the window system is asked to follow.
    virtual void innerSizeRequested(PixelSize pixels) = 0;
};

class FormWindow {
public:
    static constexpr Integer kNormal = 0, kMinimized = 1, kMaximized = 2;

    FormWindow(PixelSize innerPixels, std::string caption);

    Single Width() const;
    Single Height() const;
    void setWidth(Single twips);
    void setHeight(Single twips);
    Single ScaleWidth() const;
    Single ScaleHeight() const;
    Integer WindowState() const { return m_state; }
    const std::string& Caption() const { return m_caption; }

    // The smallest outer size the window keeps to, for the window system
    // to enforce as well (zero: none).
    void setMinimumOuterSize(Single widthTwips, Single heightTwips);
    PixelSize minimumOuterPixels() const { return m_minimumOuter; }

    PixelSize innerPixels() const { return m_inner; }
    PixelSize framePixels() const { return m_frame; }

    // The window system reports a new inner size, frame or state; the
    // resize event follows when anything changed.
    void windowSystemChanged(PixelSize innerPixels, PixelSize framePixels, Integer state);

    // The window is now shown on a screen of another device pixel ratio
    // (moved to another monitor, or its scale changed): the ratio the
    // panels draw at becomes `ratio`, then onScaleChanged is raised with
    // the ratio before. Nothing happens when the ratio is the same.
    void screenScaleChanged(double ratio);

    void setView(FormWindowView* view) { m_view = view; }
    std::function<void()> onResize;
    std::function<void(double previousRatio)> onScaleChanged;

private:
    void resizedByHandler(PixelSize inner);
    void raiseResize();

    PixelSize m_inner;
    PixelSize m_frame; // frame width (left + right) and height (top + bottom)
    PixelSize m_minimumOuter;
    Integer m_state = kNormal;
    std::string m_caption;
    FormWindowView* m_view = nullptr;
};

} // namespace korvane
