#pragma once
// The two drawing procedures. Both read the source picture and its size
// from the source holder.
#include "platform/controls.h"

#include <utility>

namespace korvane::render {

// Clears the detail view and paints the picture at natural size, image
// point (offsetX, offsetY) at the view's top-left corner, over a region of
// 15 x viewWidth by 15 x viewHeight twips.
void RenderDetailView(PictureBox& detail, const PictureBox& source, Long offsetX, Long offsetY, Long viewWidth,
    Long viewHeight);

// Sizes the overview to the picture's proportions (12000 twips wide for a
// landscape picture, 9000 high otherwise) and paints the whole picture
// into it, without clearing first.
void RenderOverview(PictureBox& overview, const PictureBox& source);

// The width and height in device pixels that RenderOverview paints a
// picture of these pixel sides at, on a screen of the given ratio: the
// loader makes that overview beside the program's start-up.
std::pair<int, int> OverviewPixels(int pictureWidth, int pictureHeight, double ratio);

} // namespace korvane::render
