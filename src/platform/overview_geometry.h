#pragma once
// The overview's size, shared by the drawing of the overview and the
// mapping of a point on it back to the picture.
#include "controls.h"

namespace korvane {

// A landscape picture's overview is this wide, any other this high.
constexpr double kOverviewWidthPixels = 800;
constexpr double kOverviewHeightPixels = 600;
constexpr Single kOverviewWidthTwips = static_cast<Single>(kOverviewWidthPixels * kTwipsPerPixel);
constexpr Single kOverviewHeightTwips = static_cast<Single>(kOverviewHeightPixels * kTwipsPerPixel);

// Landscape means strictly wider than high; a square picture is portrait.
constexpr bool isLandscape(Single width, Single height)
{
    return width > height;
}

} // namespace korvane
