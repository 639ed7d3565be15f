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

// For libraries that print straight to stderr with no handler to take
// their messages (libjxl's internal checks, the HEVC and AV1 decoders
// under libheif): while one decodes, stderr goes to /dev/null. Loads run
// one at a time, and the program prints nothing of its own meanwhile.
class SilencedStderr {
public:
    SilencedStderr();
    ~SilencedStderr();
    SilencedStderr(const SilencedStderr&) = delete;
    SilencedStderr& operator=(const SilencedStderr&) = delete;

private:
    int m_saved = -1;
};

} // namespace korvane
