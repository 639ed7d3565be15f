#pragma once
// The pixels of the area of a picture a panel last showed, for a source
// whose pixels are made as they are read: a drag makes only the strips it
// uncovers, and copies the rest from the last area.
#include "picture_source.h"

#include <memory>

namespace korvane {

class ShownRegion {
public:
    explicit ShownRegion(PictureSource& source) : m_source(source) {}

    // Pixels that hold `shown` (within the picture), once final: pixel (0,
    // 0) of `pixels` is picture pixel (originX, originY). They are the
    // caller's to keep; a buffer is reused only once nobody else holds it.
    struct Pixels {
        std::shared_ptr<const PixelBuffer> pixels; // null for an empty area, or without the memory
        int originX = 0, originY = 0;
        bool complete = true; // false: some are white, waiting for a pass to reach them
    };
    // `waitForPasses` false: what waits for a pass over the whole file is
    // left white (and not kept), rather than waited for.
    Pixels pixelsFor(const PixelRect& shown, bool waitForPasses = true);

private:
    std::shared_ptr<PixelBuffer> freshBuffer(const PixelRect& area);
    bool make(const PixelRect& part, const PixelRect& area, PixelBuffer& into, bool waitForPasses);
    void copyKept(const PixelRect& kept, const PixelRect& area, PixelBuffer& into) const;
    Pixels made(const PixelRect& shown, bool waitForPasses);

    PictureSource& m_source;
    PixelRect m_lastArea;  // what m_last holds
    PixelRect m_lastShown; // what was last asked of it
    std::shared_ptr<PixelBuffer> m_last;
    std::shared_ptr<PixelBuffer> m_spare; // the one before
};

} // namespace korvane
