#pragma once
#include <QIcon>

namespace korvane {

// The program's icon for its window, at the sizes rendered from the icon
// source when the program was built.
QIcon programIcon();

} // namespace korvane
