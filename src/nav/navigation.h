#pragma once
// Turning pointer positions into view offsets. Pure functions: every size
// they need is passed in, as the handlers read it from the controls.
#include "platform/numeric.h"

namespace korvane::nav {

struct Extent {
    Single width;
    Single height;
};

struct Offset {
    Long x;
    Long y;
    bool operator==(const Offset&) const = default;
};

// The image point under an overview position: the fitted side maps with
// 800 (or 600) and 15 pixels, the other through the overview's extent.
Offset mapOverviewPoint(Single x, Single y, Extent source, Extent overview);

// The offset that centres the detail view on the image point under the
// overview position, before clamping. Both subtractions are checked before
// anything is returned.
Offset centredOffset(Single x, Single y, Extent source, Extent overview, Extent detail);

// The offset clamp rule: x lower, y lower, x upper, y upper, in that order,
// each strict; the range is -detail .. detail + source - 1 on each axis.
Offset clampOffset(Offset offset, Extent detail, Extent source);

// One paced drag step on one axis: round((anchor - pointer) + offset).
Long panAxis(Long anchor, Single pointer, Long offset);

} // namespace korvane::nav
