#pragma once
// The state every handler of the window shares. All zero until Form_Load.
#include "platform/numeric.h"

namespace korvane {

struct ViewState {
    Integer DetailDragging = 0;   // a button pressed on the detail view is held
    Integer OverviewDragging = 0; // a button pressed on the overview (with a picture) is held
    Long OffsetX = 0;             // image point, in twips, at the detail view's left edge
    Long OffsetY = 0;             // ... and at its top edge
    Long AnchorX = 0;             // pointer on the detail view at the last drag step
    Long AnchorY = 0;
    Long ViewWidth = 0;           // painted region is 15 x ViewWidth twips wide
    Long ViewHeight = 0;          // ... and 15 x ViewHeight high
    Integer FullWidthMode = 0;    // the detail view spans the whole window
    Integer TickReady = 0;        // a timer tick came since the last acted-on move
    Integer LayoutReady = 0;      // Form_Load has run; resizes lay out from now on
};

} // namespace korvane
