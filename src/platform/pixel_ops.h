#pragma once
// Pixel work behind the panels' drawing operations. Panels hold RGB32
// pixels; pictures hold RGB888 or Grayscale8. Every operation clips to its
// destination before touching a pixel.
#include <QImage>
#include <QPoint>
#include <QRect>

namespace korvane {

// Area-averaging reduction and linear enlargement, per axis, into RGB32.
// Memory beyond the result is one row of the source and one of the result
// per destination row. A size of 0 gives a null image.
QImage scaleSmooth(const QImage& source, int width, int height);
// The same reduction of a picture of pictureSize pixels, from its copy
// averaged over block x block squares (the last ones cut at the edges).
// Only for reductions by at least `block` on both axes.
QImage scaleSmoothFromBlocks(const QImage& blocks, QSize pictureSize, int block, int width, int height);

// Copies source pixels 1:1 so that source pixel s lands on destination
// pixel s + shift, limited to the destination rectangle `area` and to both
// images' bounds.
void copyPixels(const QImage& source, QPoint shift, QImage& destination, QRect area);

// Outline of a circle, one pixel wide and not anti-aliased, clipped.
void drawCircleOutline(QImage& destination, int centreX, int centreY, int radius, QRgb colour);

} // namespace korvane
