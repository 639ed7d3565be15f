#pragma once
// A picture as the panels see it: its upright size and a source of
// rectangles of its final pixels, in sRGB, grey or RGB one byte a channel.
// How the pixels are held (whole rows in memory, JPEG planes made into RGB
// where shown, tiles decoded on demand) is the source's own affair, and so
// is a decoder still filling the rows in.
#include "pixels.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace korvane {

class PictureSource {
public:
    PictureSource() = default;
    virtual ~PictureSource() = default;
    PictureSource(const PictureSource&) = delete;
    PictureSource& operator=(const PictureSource&) = delete;

    virtual int width() const = 0;
    virtual int height() const = 0;
    virtual int channels() const = 0;

    // A picture held whole in memory: a view of all of it, once the rows
    // that `area` needs are final. Null where pixels are made as they are
    // read.
    virtual PixelView heldFor(const PixelRect& area) const
    {
        (void)area;
        return {};
    }
    // Writes the pixels of `area` (within the picture) into `out`, rows
    // `stride` bytes apart, once they are final.
    virtual void read(const PixelRect& area, std::uint8_t* out, std::size_t stride) = 0;
    // As read(), but pixels that wait for a pass over the whole file to
    // reach them (a large PNG's, read once from the top; a JPEG's index)
    // are left white rather than waited for: false when any were.
    virtual bool readShown(const PixelRect& area, std::uint8_t* out, std::size_t stride)
    {
        read(area, out, stride);
        return true;
    }

    // How reading costs. Tiles are decoded once, on every core, and kept:
    // a second read of the same pixels is a copy. Pixels made as read (a
    // JPEG's planes) cost a conversion each time, which a second core
    // halves.
    virtual bool keepsDecodedPixels() const { return false; }
    // The panels show `shown`: what lies around it may be made ready.
    virtual void fetchAround(const PixelRect& shown) { (void)shown; }

    // A picture still decoding: complete once every row is final.
    virtual bool complete() const { return true; }
    // Runs `callback` once complete: on the decoder's thread, or at once;
    // never once stopped.
    virtual void whenComplete(const std::function<void()>& callback) { callback(); }
    // The owner needs no more: the decoder ends before stop() returns, so
    // nothing it calls back outlives its owner.
    virtual void stop() {}
};

} // namespace korvane
