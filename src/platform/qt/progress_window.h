#pragma once

namespace korvane {

// From now on, a picture load that takes longer than about half a second
// shows a small window with the file's name and a progress bar until it is
// done; closing that window ends the program.
void showProgressOfLongLoads();

} // namespace korvane
