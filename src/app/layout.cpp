// The window's layout: the resize pass and the full-width toggle.
#include "form1.h"

namespace korvane {

namespace {

constexpr double kButtonMargin = 480;
constexpr double kBottomStrip = 600;

Single difference(Single a, double b)
{
    return toSingle(checkedFloat(static_cast<double>(a) - b));
}

} // namespace

void Form1::Form_Resize()
{
    if (m_state.LayoutReady == 0)
        return;
    if (window.WindowState() == FormWindow::kMinimized)
        return;
    // Raising a size raises this handler again, nested, with the new size.
    if (window.Width() < Form1::kMinimumOuterWidth)
        window.setWidth(Form1::kMinimumOuterWidth);
    if (window.Height() < Form1::kMinimumOuterHeight)
        window.setHeight(Form1::kMinimumOuterHeight);
    Command4.setTop(difference(window.ScaleHeight(), kButtonMargin));
    layOutDetailView();
}

void Form1::Command4_Click()
{
    const bool entering = m_state.FullWidthMode == 0;
    m_state.FullWidthMode = entering ? 1 : 0;
    Picture3.setTop(0);
    layOutDetailView();
    Command4.setCaption(entering ? "縮小" : "拡大");
}

// Places the detail view for the current mode, stores its size in twips,
// sends it back to the image's top-left corner and repaints it.
void Form1::layOutDetailView()
{
    if (m_state.FullWidthMode == 0) {
        Picture3.setLeft(Picture1.Width());
        Picture3.setWidth(difference(window.ScaleWidth(), Picture1.Width()));
        m_state.ViewWidth = roundToLong(checkedFloat(static_cast<double>(window.ScaleWidth()) - Picture1.Width()));
    } else {
        Picture3.setLeft(0);
        Picture3.setWidth(window.ScaleWidth());
        m_state.ViewWidth = roundToLong(window.ScaleWidth());
    }
    Picture3.setHeight(difference(window.ScaleHeight(), kBottomStrip));
    m_state.ViewHeight = roundToLong(checkedFloat(static_cast<double>(window.ScaleHeight()) - kBottomStrip));
    m_state.OffsetX = 0;
    m_state.OffsetY = 0;
    RenderDetailView();
}

} // namespace korvane
