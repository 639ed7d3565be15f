#include "memory_sources.h"

#include <cstring>

namespace korvane {

void FilledSource::whenComplete(const std::function<void()>& callback)
{
    if (m_fill)
        m_fill->whenComplete(callback);
    else
        callback();
}

void FilledSource::stop()
{
    if (m_fill)
        m_fill->stop();
}

HeldRows::HeldRows(HeldPixels pixels, std::shared_ptr<RowFill> fill)
    : FilledSource(std::move(fill)), m_pixels(std::move(pixels))
{
}

PixelView HeldRows::heldFor(const PixelRect& area) const
{
    if (!area.isEmpty())
        waitForRows(area.bottom());
    return m_pixels.view;
}

void HeldRows::read(const PixelRect& area, std::uint8_t* out, std::size_t stride)
{
    const PixelView rows = heldFor(area);
    const auto pixelBytes = std::size_t(rows.channels);
    for (int y = area.y; y < area.bottom(); ++y)
        std::memcpy(out + std::size_t(y - area.y) * stride, rows.row(y) + pixelBytes * std::size_t(area.x),
            pixelBytes * std::size_t(area.width));
}

MadeRows::MadeRows(int width, int height, Maker make, RowsNeeded storedRowsNeeded, std::shared_ptr<RowFill> fill)
    : FilledSource(std::move(fill)), m_width(width), m_height(height), m_make(std::move(make)),
      m_storedRowsNeeded(std::move(storedRowsNeeded))
{
}

void MadeRows::read(const PixelRect& area, std::uint8_t* out, std::size_t stride)
{
    if (area.isEmpty())
        return;
    waitForRows(m_storedRowsNeeded(area));
    m_make(area, out, stride);
}

} // namespace korvane
