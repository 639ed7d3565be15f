#pragma once
// The image libraries' own messages (Qt's image readers, libtiff, libpng
// inside Qt) never reach stderr: the program's one error line is the only
// output. While a load runs they are kept, and the last one can be put into
// that line as the reason.
#include <string>

namespace korvane {

class LibraryMessages {
public:
    // Starts keeping every message from here until destruction.
    LibraryMessages();
    ~LibraryMessages();
    LibraryMessages(const LibraryMessages&) = delete;
    LibraryMessages& operator=(const LibraryMessages&) = delete;

    // The last message kept, or empty.
    std::string last() const;
};

} // namespace korvane
