#include "scaled_overview.h"

#include "scale.h"

namespace korvane {

namespace {

bool hasSize(const ScaledOverview::Scaled& scaled, int width, int height)
{
    return scaled && scaled->width == width && scaled->height == height;
}

} // namespace

ScaledOverview::ScaledOverview(PictureSource& source, HeldPixels reduced, Reduced kind)
    : m_source(source), m_reduced(std::move(reduced)), m_onlyCopy(kind == Reduced::OnlyCopy),
      m_filling(kind == Reduced::EarlyCopy)
{
    if (m_filling) {
        m_exactPending = true;
        m_source.whenComplete([this] { makeExact(); });
    }
}

ScaledOverview::ScaledOverview(PictureSource& source, Growing growing, Reduced kind)
    : m_source(source), m_onlyCopy(kind == Reduced::OnlyCopy), m_filling(kind == Reduced::EarlyCopy),
      m_growing(std::move(growing))
{
    if (m_filling) {
        m_exactPending = true;
        m_source.whenComplete([this] { makeExact(); });
    }
}

// The growing copy as far as it has grown: scaled again only when it has.
// The source's end is asked first, so the copy taken then is its last.
void ScaledOverview::takeGrowth()
{
    if (m_grown)
        return;
    const bool complete = m_source.complete();
    const long long growth = m_growing.growth();
    if (growth != m_grownTo || complete) {
        m_reduced = m_growing.soFar();
        m_grownTo = growth;
        m_scaled = nullptr;
        m_provisional = nullptr;
    }
    m_grown = complete;
}

// Runs on the decoder's thread once every row is final.
void ScaledOverview::makeExact()
{
    int width = 0, height = 0;
    {
        std::lock_guard lock(m_mutex);
        width = m_wantedWidth;
        height = m_wantedHeight;
    }
    // One core: the other is left to the window, which may be drawing its
    // first frame now that the last rows are in.
    Scaled made = width > 0 && height > 0 ? std::make_shared<const PanelPixels>(scaledWhole(width, height, false))
                                          : nullptr;
    std::vector<std::function<void()>> callbacks;
    {
        std::lock_guard lock(m_mutex);
        m_exact = std::move(made);
        m_exactPending = false;
        callbacks.swap(m_whenExact);
    }
    for (const auto& callback : callbacks)
        callback();
}

// Complete once the exact overview is made too: until then the early one
// is shown, rather than the overview waiting for the exact one.
bool ScaledOverview::isComplete() const
{
    if (onlyGrows())
        return m_source.complete();
    if (!m_filling)
        return true;
    std::lock_guard lock(m_mutex);
    return m_source.complete() && !m_exactPending;
}

void ScaledOverview::whenComplete(std::function<void()> callback)
{
    if (onlyGrows()) {
        m_source.whenComplete(callback);
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        if (m_exactPending) {
            m_whenExact.push_back(std::move(callback));
            return;
        }
    }
    callback();
}

ScaledOverview::Scaled ScaledOverview::scaledTo(int width, int height)
{
    if (onlyGrows()) {
        takeGrowth();
    } else if (!isComplete()) {
        {
            std::lock_guard lock(m_mutex);
            m_wantedWidth = width;
            m_wantedHeight = height;
        }
        if (m_growing.soFar)
            takeGrowth();
        if (!hasSize(m_provisional, width, height))
            m_provisional = std::make_shared<const PanelPixels>(scaledFrom(m_reduced.view, width, height));
        return m_provisional;
    }
    if (m_filling) {
        // Whole: the early overview and the copy it came from are done with.
        m_provisional = nullptr;
        m_reduced = {};
        std::lock_guard lock(m_mutex);
        if (hasSize(m_exact, width, height))
            m_scaled = std::move(m_exact);
        m_exact = nullptr;
    }
    if (!hasSize(m_scaled, width, height))
        m_scaled = std::make_shared<const PanelPixels>(scaledFrom(m_reduced.view, width, height));
    return m_scaled;
}

void ScaledOverview::makeAhead(int width, int height)
{
    if (onlyGrows())
        return;
    if (m_filling) {
        scaledTo(width, height);
        return;
    }
    if (!hasSize(m_scaled, width, height))
        m_scaled = std::make_shared<const PanelPixels>(scaledFrom(m_reduced.view, width, height, false));
}

PanelPixels ScaledOverview::scaledFrom(const PixelView& reduced, int width, int height, bool twoCores) const
{
    if (m_onlyCopy)
        return scaleSmooth(reduced, width, height);
    // A copy reduced at least as much as the block-averaged one is made
    // from it: the same averages, from far fewer pixels.
    const int pictureWidth = m_source.width(), pictureHeight = m_source.height();
    const int block = reduced.isNull() ? 1 : (pictureWidth + reduced.width - 1) / reduced.width;
    const bool blocksFit = block > 1 && (pictureWidth + block - 1) / block == reduced.width
        && (pictureHeight + block - 1) / block == reduced.height;
    const bool fromReduced = blocksFit && static_cast<long long>(width) * block <= pictureWidth
        && static_cast<long long>(height) * block <= pictureHeight;
    if (fromReduced)
        return scaleSmoothFromBlocks(reduced, pictureWidth, pictureHeight, block, width, height);
    // A picture still decoding: its copy enlarged, rather than the window
    // waiting for the last rows.
    if (!reduced.isNull() && !m_source.complete())
        return scaleSmooth(reduced, width, height);
    return scaledWhole(width, height, twoCores);
}

// Every pixel of the picture, smoothly scaled.
PanelPixels ScaledOverview::scaledWhole(int width, int height, bool twoCores) const
{
    const PixelRect whole{0, 0, m_source.width(), m_source.height()};
    const PixelView held = m_source.heldFor(whole);
    if (!held.isNull())
        return scaleSmooth(held, width, height);
    return scaleSmoothMade(whole.width, whole.height, [this](const PixelRect& area, std::uint8_t* out, std::size_t stride) {
        m_source.read(area, out, stride);
    }, width, height, twoCores);
}

} // namespace korvane
