#include "render.h"

#include "platform/overview_geometry.h"

#include <utility>

namespace korvane::render {

namespace {

// The computed side of the overview: side x fitted / other in twips, evaluated
// left to right in double and handed on as a Single.
Single fittedSide(Single side, double fittedPixels, Single other)
{
    const double scaled = checkedFloat(static_cast<double>(side) * fittedPixels);
    return toSingle(checkedFloat(checkedDiv(scaled, other) * kTwipsPerPixel));
}

// The painted sides, in twips, of the overview of a picture whose sides
// in twips are given.
std::pair<Single, Single> paintedSides(Single width, Single height)
{
    if (isLandscape(width, height))
        return {kOverviewWidthTwips, fittedSide(height, kOverviewWidthPixels, width)};
    return {fittedSide(width, kOverviewHeightPixels, height), kOverviewHeightTwips};
}

} // namespace

void RenderDetailView(PictureBox& detail, const PictureBox& source, Long offsetX, Long offsetY, Long viewWidth,
    Long viewHeight)
{
    detail.Cls();
    const Picture& picture = source.picture();
    const Long height = longMul(static_cast<Long>(kTwipsPerPixel), viewHeight);
    const Long width = longMul(static_cast<Long>(kTwipsPerPixel), viewWidth);
    detail.PaintPicture(picture, 0.0f, 0.0f, static_cast<Single>(width), static_cast<Single>(height),
        static_cast<Single>(offsetX), static_cast<Single>(offsetY), static_cast<Single>(width),
        static_cast<Single>(height));
}

void RenderOverview(PictureBox& overview, const PictureBox& source)
{
    // Each size is read afresh where it is used; the source never changes.
    // The panel is as large as the picture painted into it.
    const auto [paintedWidth, paintedHeight] = paintedSides(source.Width(), source.Height());
    overview.setWidth(paintedWidth);
    overview.setHeight(paintedHeight);
    overview.PaintPicture(source.picture(), 0.0f, 0.0f, paintedWidth, paintedHeight);
}

std::pair<int, int> OverviewPixels(int pictureWidth, int pictureHeight, double ratio)
{
    // As the source holder's sides: pixels x twips per device pixel.
    const double twipsPerPixel = kTwipsPerPixel / ratio;
    const auto [width, height] = paintedSides(static_cast<Single>(pictureWidth * twipsPerPixel),
        static_cast<Single>(pictureHeight * twipsPerPixel));
    return {twipsToDevicePixels(width, ratio), twipsToDevicePixels(height, ratio)};
}

} // namespace korvane::render
