#pragma once
#include <QImage>

namespace korvane {

// Brings a decoded image into the form the panels draw from: sRGB, opaque,
// RGB888 for colour and Grayscale8 for grey. Transparent parts are laid
// over white, the panels' background.
QImage toDisplayFormat(QImage image);

} // namespace korvane
