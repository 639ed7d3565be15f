#include "shown_region.h"

#include "two_cores.h"

#include <atomic>
#include <cstring>
#include <new>
#include <utility>

namespace korvane {

namespace {

// Below this many pixels a second thread costs more than it saves.
constexpr long long kPixelsWorthTwoCores = 1 << 19;

long long pixelsIn(const PixelRect& area)
{
    return static_cast<long long>(area.width) * area.height;
}

} // namespace

ShownRegion::Pixels ShownRegion::pixelsFor(const PixelRect& shown, bool waitForPasses)
{
    if (shown.isEmpty())
        return {};
    // Decoded pixels are kept around a dragged area: steps inside it copy nothing.
    const bool kept = shown == m_lastArea || (m_source.keepsDecodedPixels() && m_lastArea.contains(shown));
    if (!kept || !m_last)
        return made(shown, waitForPasses);
    if (m_source.keepsDecodedPixels() && !(shown == m_lastShown))
        m_source.fetchAround(shown);
    m_lastShown = shown;
    return {m_last, m_lastArea.x, m_lastArea.y};
}

// A source that keeps its decoded pixels (tiles), dragged (the area shown
// overlaps the last), gets a margin around the area, so that the next
// steps copy nothing until they leave it. A jump makes just the area, so
// as not to wait for more tiles than it shows; so does a source whose
// pixels are made as read (its conversion is the cost).
ShownRegion::Pixels ShownRegion::made(const PixelRect& shown, bool waitForPasses)
{
    const bool keeps = m_source.keepsDecodedPixels();
    const bool dragged = keeps && !(shown & m_lastArea).isEmpty();
    const int margin = dragged ? std::max(64, std::max(shown.width, shown.height) / 8) : 0;
    const PixelRect area = shown.grownBy(margin) & PixelRect{0, 0, m_source.width(), m_source.height()};
    const std::shared_ptr<PixelBuffer> buffer = freshBuffer(area);
    if (!buffer)
        return {};
    const PixelRect kept = m_last ? area & m_lastArea : PixelRect{};
    bool complete = true;
    const auto makePart = [&](const PixelRect& part) { complete &= make(part, area, *buffer, waitForPasses); };
    if (kept.isEmpty()) {
        makePart(area);
    } else {
        copyKept(kept, area, *buffer);
        makePart({area.x, area.y, area.width, kept.y - area.y});
        makePart({area.x, kept.bottom(), area.width, area.bottom() - kept.bottom()});
        makePart({area.x, kept.y, kept.x - area.x, kept.height});
        makePart({kept.right(), kept.y, area.right() - kept.right(), kept.height});
    }
    if (keeps)
        m_source.fetchAround(shown);
    // White waiting for a pass is not kept: the next call makes it again.
    m_lastArea = complete ? area : PixelRect{};
    m_lastShown = shown;
    m_spare = std::exchange(m_last, buffer);
    return {m_last, area.x, area.y, complete};
}

// A drag asks for areas of one size: the one before last is reused, once
// its holders have let it go, rather than a fresh one faulted in page by page.
std::shared_ptr<PixelBuffer> ShownRegion::freshBuffer(const PixelRect& area)
{
    if (m_spare && m_spare.use_count() == 1 && m_spare->width == area.width && m_spare->height == area.height)
        return std::move(m_spare);
    try {
        return std::make_shared<PixelBuffer>(area.width, area.height, m_source.channels());
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

bool ShownRegion::make(const PixelRect& part, const PixelRect& area, PixelBuffer& into, bool waitForPasses)
{
    if (part.isEmpty())
        return true;
    // Tiles are decoded on every core already. A jump to a new part of a
    // large picture made as read converts a whole screenful: its lower
    // half on a second core.
    const bool twoHalves = !m_source.keepsDecodedPixels() && pixelsIn(part) >= kPixelsWorthTwoCores;
    std::uint8_t* const first = into.row(part.y - area.y) + std::size_t(into.channels) * std::size_t(part.x - area.x);
    std::atomic<bool> complete = true;
    inTwoHalves(part.height, twoHalves, [&](int begin, int end) {
        const PixelRect half{part.x, part.y + begin, part.width, end - begin};
        std::uint8_t* const to = first + std::size_t(begin) * into.stride;
        if (waitForPasses)
            m_source.read(half, to, into.stride);
        else if (!m_source.readShown(half, to, into.stride))
            complete = false;
    });
    return complete;
}

// A screenful's copy is memory-bound: two cores halve it.
void ShownRegion::copyKept(const PixelRect& kept, const PixelRect& area, PixelBuffer& into) const
{
    const PixelBuffer& last = *m_last;
    const auto pixelBytes = std::size_t(into.channels);
    inTwoHalves(kept.height, pixelsIn(kept) >= kPixelsWorthTwoCores, [&](int begin, int end) {
        for (int y = kept.y + begin; y < kept.y + end; ++y)
            std::memcpy(into.row(y - area.y) + pixelBytes * std::size_t(kept.x - area.x),
                last.row(y - m_lastArea.y)
                    + pixelBytes * std::size_t(kept.x - m_lastArea.x),
                pixelBytes * std::size_t(kept.width));
    });
}

} // namespace korvane
