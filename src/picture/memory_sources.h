#pragma once
// The sources of a picture decoded into memory: its rows held whole, or
// its pixels made where they are read (a colour JPEG kept as its planes).
// Either may be handed over while its decoder still fills it in, top to
// bottom; a read waits for the rows it needs, and no longer.
#include "picture_source.h"

#include "decode/row_fill.h"

#include <memory>

namespace korvane {

class FilledSource : public PictureSource {
public:
    bool complete() const override { return !m_fill || m_fill->complete(); }
    void whenComplete(const std::function<void()>& callback) override;
    void stop() override;

protected:
    explicit FilledSource(std::shared_ptr<RowFill> fill) : m_fill(std::move(fill)) {}
    void waitForRows(int rows) const
    {
        if (m_fill)
            m_fill->waitFor(rows);
    }

private:
    std::shared_ptr<RowFill> m_fill; // null once whole
};

// Whole rows in memory.
class HeldRows final : public FilledSource {
public:
    HeldRows(HeldPixels pixels, std::shared_ptr<RowFill> fill);
    int width() const override { return m_pixels.view.width; }
    int height() const override { return m_pixels.view.height; }
    int channels() const override { return m_pixels.view.channels; }
    PixelView heldFor(const PixelRect& area) const override;
    void read(const PixelRect& area, std::uint8_t* out, std::size_t stride) override;

private:
    HeldPixels m_pixels;
};

// Pixels made where read: `make` writes those of an area (within the
// picture) once the first `storedRowsNeeded(area)` stored rows are final.
class MadeRows final : public FilledSource {
public:
    using Maker = std::function<void(const PixelRect& area, std::uint8_t* out, std::size_t stride)>;
    using RowsNeeded = std::function<int(const PixelRect& area)>;
    MadeRows(int width, int height, Maker make, RowsNeeded storedRowsNeeded, std::shared_ptr<RowFill> fill);
    int width() const override { return m_width; }
    int height() const override { return m_height; }
    int channels() const override { return 3; }
    void read(const PixelRect& area, std::uint8_t* out, std::size_t stride) override;

private:
    int m_width, m_height;
    Maker m_make;
    RowsNeeded m_storedRowsNeeded;
};

} // namespace korvane
