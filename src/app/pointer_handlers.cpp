// The overview's and the detail view's mouse handlers. Moves are acted on
// only while a drag is under way and a timer tick has come; presses and
// releases always act.
#include "form1.h"

#include "nav/navigation.h"

namespace korvane {

namespace {

constexpr Single kMarkerRadius = 150;
constexpr Long kMarkerColour = 0xFF0000; // blue, &H00BBGGRR

nav::Extent extentOf(const PictureBox& box)
{
    return {box.Width(), box.Height()};
}

} // namespace

void Form1::CenterOnOverviewPoint(const Single& x, const Single& y)
{
    const nav::Offset centred = nav::centredOffset(x, y, extentOf(Picture2), extentOf(Picture1), extentOf(Picture3));
    const nav::Offset clamped = nav::clampOffset(centred, extentOf(Picture3), extentOf(Picture2));
    m_state.OffsetX = clamped.x;
    m_state.OffsetY = clamped.y;
    RenderDetailView();
}

void Form1::drawMarker(Single x, Single y)
{
    Picture1.Circle(x, y, kMarkerRadius, kMarkerColour);
    m_marker = Point{x, y};
}

void Form1::Picture1_MouseDown(Integer, Integer, Single& x, Single& y)
{
    if (Picture2.picture().Handle() == 0)
        return;
    m_state.OverviewDragging = 1;
    CenterOnOverviewPoint(x, y);
    RenderOverview();
    drawMarker(x, y);
}

void Form1::Picture1_MouseMove(Integer, Integer, Single& x, Single& y)
{
    if (m_state.OverviewDragging != 1 || m_state.TickReady != 1)
        return;
    CenterOnOverviewPoint(x, y);
    RenderOverview();
    drawMarker(x, y);
    m_state.TickReady = 0;
}

void Form1::Picture1_MouseUp(Integer, Integer, Single& x, Single& y)
{
    m_state.OverviewDragging = 0;
    CenterOnOverviewPoint(x, y);
    RenderOverview();
}

void Form1::Picture3_MouseDown(Integer, Integer, Single& x, Single& y)
{
    m_state.DetailDragging = 1;
    m_state.AnchorX = roundToLong(x);
    m_state.AnchorY = roundToLong(y);
    RenderOverview();
}

void Form1::Picture3_MouseMove(Integer, Integer, Single& x, Single& y)
{
    if (m_state.DetailDragging != 1 || m_state.TickReady != 1)
        return;
    m_state.OffsetX = nav::panAxis(m_state.AnchorX, x, m_state.OffsetX);
    m_state.OffsetY = nav::panAxis(m_state.AnchorY, y, m_state.OffsetY);
    m_state.AnchorX = roundToLong(x);
    m_state.AnchorY = roundToLong(y);
    const nav::Offset clamped =
        nav::clampOffset({m_state.OffsetX, m_state.OffsetY}, extentOf(Picture3), extentOf(Picture2));
    m_state.OffsetX = clamped.x;
    m_state.OffsetY = clamped.y;
    RenderDetailView();
    m_state.TickReady = 0;
}

void Form1::Picture3_MouseUp(Integer, Integer, Single&, Single&)
{
    m_state.DetailDragging = 0;
}

// The window went to a screen of another device pixel ratio. The picture
// keeps its pixels, so its size in twips follows the ratio; the image point
// at the detail view's top-left stays there (its offsets converted and
// rounded as every offset is, then held inside the new clamp bounds); both
// panels are drawn again at their new device size, the overview's marker
// where it was. A drag in progress goes on from there.
void Form1::screenScaleChanged(double previousRatio)
{
    Picture1.screenScaleChanged();
    Picture2.screenScaleChanged();
    Picture3.screenScaleChanged();
    if (m_state.LayoutReady == 0)
        return;
    if (Picture2.picture().Handle() != 0) {
        const double ratioChange = checkedDiv(previousRatio, devicePixelRatio());
        const nav::Offset converted{roundToLong(checkedFloat(static_cast<double>(m_state.OffsetX) * ratioChange)),
            roundToLong(checkedFloat(static_cast<double>(m_state.OffsetY) * ratioChange))};
        const nav::Offset clamped = nav::clampOffset(converted, extentOf(Picture3), extentOf(Picture2));
        m_state.OffsetX = clamped.x;
        m_state.OffsetY = clamped.y;
    }
    const std::optional<Point> marker = m_marker;
    RenderOverview();
    if (marker)
        drawMarker(marker->x, marker->y);
    RenderDetailView();
}

} // namespace korvane
