#pragma once
// Pixel work behind the panels' drawing operations. Panels hold RGB32
// pixels; pictures hold RGB888 or Grayscale8. Every operation clips to its
// destination before touching a pixel.
#include "picture/pixels.h"

#include <QImage>
#include <QPoint>
#include <QRect>

#include <memory>

namespace korvane {

// Views of an image for the picture's code, and images of its pixels for
// the panels: each image keeps the pixels it shows alive, so a panel may
// keep it.
HeldPixels heldPixelsOf(const QImage& image); // RGB888 or Grayscale8; any other format is converted
QImage imageOf(std::shared_ptr<const PixelBuffer> pixels);
QImage imageOf(std::shared_ptr<const PanelPixels> pixels);
// Smooth scaling (see picture/scale.h) of an image, into RGB32.
QImage scaleSmooth(const QImage& source, int width, int height);

// Copies source pixels 1:1 so that source pixel s lands on destination
// pixel s + shift, limited to the destination rectangle `area` and to both
// images' bounds.
void copyPixels(const QImage& source, QPoint shift, QImage& destination, QRect area);

// Outline of a circle, one pixel wide and not anti-aliased, clipped.
void drawCircleOutline(QImage& destination, int centreX, int centreY, int radius, QRgb colour);

} // namespace korvane
