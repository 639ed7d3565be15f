#pragma once
// Icon containers (ICO, CUR, ICNS) hold whole pictures of their own, each
// with a header that may claim far more than the container's: every entry
// is checked before Qt's readers decode one.
#include "decode_limits.h"

#include <string>

namespace korvane {

// Raises the file error an entry's claims call for; does nothing for other
// files.
void checkNestedPictures(int fd, const std::string& path, const FileFacts& facts);

} // namespace korvane
