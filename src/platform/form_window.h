#pragma once
// The top-level window as the handlers see it: outer size in Width and
// Height, inner (client) size in ScaleWidth and ScaleHeight, all in twips.
// Setting a size raises the resize event at once, inside the running
// handler, as the window system would.
#include "numeric.h"

#include <QSize>

#include <functional>
#include <string>

namespace korvane {

class FormWindowView {
public:
    virtual ~FormWindowView() = default;
    // The handler changed the size; the window system is asked to follow.
    virtual void innerSizeRequested(QSize pixels) = 0;
};

class FormWindow {
public:
    static constexpr Integer kNormal = 0, kMinimized = 1, kMaximized = 2;

    FormWindow(QSize innerPixels, std::string caption);

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
    QSize minimumOuterPixels() const { return m_minimumOuter; }

    QSize innerPixels() const { return m_inner; }
    QSize framePixels() const { return m_frame; }

    // The window system reports a new inner size, frame or state; the
    // resize event follows when anything changed.
    void windowSystemChanged(QSize innerPixels, QSize framePixels, Integer state);

    void setView(FormWindowView* view) { m_view = view; }
    std::function<void()> onResize;

private:
    void resizedByHandler(QSize inner);
    void raiseResize();

    QSize m_inner;
    QSize m_frame{0, 0}; // frame width (left + right) and height (top + bottom)
    QSize m_minimumOuter{0, 0};
    Integer m_state = kNormal;
    std::string m_caption;
    FormWindowView* m_view = nullptr;
};

} // namespace korvane
