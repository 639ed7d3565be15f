#include "form_window.h"

#include "controls.h"

#include <algorithm>

namespace korvane {

FormWindow::FormWindow(PixelSize innerPixels, std::string caption)
    : m_inner(innerPixels), m_caption(std::move(caption))
{
}

Single FormWindow::Width() const { return static_cast<Single>((m_inner.width + m_frame.width) * kTwipsPerPixel); }
Single FormWindow::Height() const { return static_cast<Single>((m_inner.height + m_frame.height) * kTwipsPerPixel); }
Single FormWindow::ScaleWidth() const { return static_cast<Single>(m_inner.width * kTwipsPerPixel); }
Single FormWindow::ScaleHeight() const { return static_cast<Single>(m_inner.height * kTwipsPerPixel); }

void FormWindow::setMinimumOuterSize(Single widthTwips, Single heightTwips)
{
    m_minimumOuter = PixelSize{twipsToPixels(widthTwips), twipsToPixels(heightTwips)};
}

void FormWindow::setWidth(Single twips)
{
    resizedByHandler(PixelSize{std::max(0, twipsToPixels(twips) - m_frame.width), m_inner.height});
}

void FormWindow::setHeight(Single twips)
{
    resizedByHandler(PixelSize{m_inner.width, std::max(0, twipsToPixels(twips) - m_frame.height)});
}

void FormWindow::resizedByHandler(PixelSize inner)
{
    if (inner == m_inner)
        return;
    m_inner = inner;
    if (m_view)
        m_view->innerSizeRequested(inner);
    raiseResize();
}

void FormWindow::windowSystemChanged(PixelSize innerPixels, PixelSize framePixels, Integer state)
{
    if (innerPixels == m_inner && framePixels == m_frame && state == m_state)
        return;
    m_inner = innerPixels;
    m_frame = framePixels;
    m_state = state;
    raiseResize();
}

void FormWindow::screenScaleChanged(double ratio)
{
    const double previous = devicePixelRatio();
    setDevicePixelRatio(ratio);
    if (devicePixelRatio() != previous && onScaleChanged)
        onScaleChanged(previous);
}

void FormWindow::raiseResize()
{
    if (onResize)
        onResize();
}

} // namespace korvane
