#pragma once
// Pixel work behind the panels' drawing operations. Panels hold RGB32
// pixels; pictures hold RGB888 or Grayscale8. Every operation clips to its
// destination before touching a pixel.
#include <QImage>
#include <QPoint>
#include <QRect>

#include <functional>

namespace korvane {

// Area-averaging reduction and linear enlargement, per axis, into RGB32.
// Memory beyond the result is one row of the source and one of the result
// per destination row. A size of 0 gives a null image.
QImage scaleSmooth(const QImage& source, int width, int height);
// The same reduction of a picture of pictureSize pixels, from its copy
// averaged over block x block squares (the last ones cut at the edges).
// Only for reductions by at least `block` on both axes.
QImage scaleSmoothFromBlocks(const QImage& blocks, QSize pictureSize, int block, int width, int height);
// The same scaling of a picture of `size` pixels that is never held whole:
// `make` writes the RGB888 pixels of a rectangle of it, a band of rows at
// a time (from two threads at once, unless `twoCores` is false).
using RowMaker = std::function<void(const QRect& area, uchar* out, qsizetype stride)>;
QImage scaleSmoothMade(QSize size, const RowMaker& make, int width, int height, bool twoCores = true);

// Runs part(begin, end) over [0, count): as two halves, the second on a
// thread of its own, when that is worth it and there is a second core;
// else whole, here.
void inTwoHalves(int count, bool worthIt, const std::function<void(int begin, int end)>& part);

// Copies source pixels 1:1 so that source pixel s lands on destination
// pixel s + shift, limited to the destination rectangle `area` and to both
// images' bounds.
void copyPixels(const QImage& source, QPoint shift, QImage& destination, QRect area);

// Outline of a circle, one pixel wide and not anti-aliased, clipped.
void drawCircleOutline(QImage& destination, int centreX, int centreY, int radius, QRgb colour);

} // namespace korvane
