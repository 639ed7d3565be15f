#pragma once
#include <QIcon>
#include <QImage>

namespace korvane {

// The program's icon, drawn here: a small overview beside a larger detail
// view with the blue marker, in the 16 colours of the classic palette.
// The sizes the icon is drawn at, in pixels.
inline constexpr int kIconSizes[] = {16, 32};

QImage windowIconImage(int size);
QIcon windowIcon();

} // namespace korvane
