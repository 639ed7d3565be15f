#include "navigation.h"

#include "platform/overview_geometry.h"

namespace korvane::nav {

namespace {

// side x pointer / divisor, evaluated left to right.
double scaledPosition(Single side, Single pointer, double divisor)
{
    return checkedDiv(checkedFloat(static_cast<double>(side) * pointer), divisor);
}

} // namespace

Offset mapOverviewPoint(Single x, Single y, Extent source, Extent overview)
{
    if (isLandscape(source.width, source.height)) {
        const Long mappedX = roundToLong(checkedDiv(scaledPosition(source.width, x, kOverviewWidthPixels), kTwipsPerPixel));
        const Long mappedY = roundToLong(scaledPosition(source.height, y, overview.height));
        return {mappedX, mappedY};
    }
    const Long mappedX = roundToLong(scaledPosition(source.width, x, overview.width));
    const Long mappedY = roundToLong(checkedDiv(scaledPosition(source.height, y, kOverviewHeightPixels), kTwipsPerPixel));
    return {mappedX, mappedY};
}

Offset centredOffset(Single x, Single y, Extent source, Extent overview, Extent detail)
{
    const Long halfWidth = roundToLong(checkedDiv(detail.width, 2));
    const Long halfHeight = roundToLong(checkedDiv(detail.height, 2));
    const Offset mapped = mapOverviewPoint(x, y, source, overview);
    return {longSub(mapped.x, halfWidth), longSub(mapped.y, halfHeight)};
}

Offset clampOffset(Offset offset, Extent detail, Extent source)
{
    const double dw = detail.width, dh = detail.height;
    if (offset.x < -dw)
        offset.x = roundToLong(-dw);
    if (offset.y < -dh)
        offset.y = roundToLong(-dh);
    const double maxX = checkedFloat(checkedFloat(dw + source.width) - 1);
    if (offset.x > maxX)
        offset.x = roundToLong(maxX);
    const double maxY = checkedFloat(checkedFloat(dh + source.height) - 1);
    if (offset.y > maxY)
        offset.y = roundToLong(maxY);
    return offset;
}

Long panAxis(Long anchor, Single pointer, Long offset)
{
    return roundToLong(checkedFloat(checkedFloat(static_cast<double>(anchor) - pointer) + offset));
}

} // namespace korvane::nav
