#include "picture.h"

#include "pixel_ops.h"

#include "decode/jpeg_planes.h"
#include "decode/row_fill.h"
#include "picture/tiled_picture.h"

#include <QImage>

#include <atomic>
#include <cstring>
#include <mutex>
#include <utility>

namespace korvane {

struct Picture::Data {
    QImage image; // null for a picture kept as planes
    std::shared_ptr<const YcbcrPicture> planes;
    std::shared_ptr<TiledPicture> tiles; // or, for a picture too large to hold, its tiles
    QSize size;
    QImage reduced; // null, or the image averaged over blocks
    Long handle = 0;
    mutable QImage scaled; // the last scaled copy; the overview asks for one size
    // A picture handed over while it decodes: its overview is made from the
    // decoder's early copy (`reduced`) until it is whole, then made exactly
    // on the decoder's thread, at the size last asked for.
    mutable QImage provisional;
    mutable std::mutex mutex;
    mutable QSize wanted;
    bool exactPending = false;
    std::vector<std::function<void()>> whenExact; // run once the exact overview is made
    QImage exact;
    // Planes and tiles: the pixels of the last area drawn, so that a drag converts only
    // the strips it uncovers; and the whole picture, made only when asked.
    mutable QRect lastArea;  // what lastRegion holds
    mutable QRect lastShown; // what was last asked of it
    mutable QImage lastRegion;
    mutable QImage spareRegion; // the one before, reused once the panel lets it go
    mutable QImage whole;
    std::shared_ptr<RowFill> fill; // last: its decoder stops before the rest goes

    void makeExactOverview();
    QImage scaledWhole(int width, int height, bool twoCores = true) const;
};

// Every pixel of the picture, smoothly scaled.
QImage Picture::Data::scaledWhole(int width, int height, bool twoCores) const
{
    if (!planes)
        return scaleSmooth(image, width, height);
    const YcbcrPicture& source = *planes;
    return scaleSmoothMade(size, [&source](const QRect& area, uchar* out, qsizetype stride) {
        source.toRgb(area, out, stride);
    }, width, height, twoCores);
}

// Runs on the decoder's thread once every row is final.
void Picture::Data::makeExactOverview()
{
    QSize asked;
    {
        std::lock_guard lock(mutex);
        asked = wanted;
    }
    // One core: the other is left to the window, which may be drawing its
    // first frame now that the last rows are in.
    QImage made = asked.isEmpty() ? QImage() : scaledWhole(asked.width(), asked.height(), false);
    std::vector<std::function<void()>> callbacks;
    {
        std::lock_guard lock(mutex);
        exact = std::move(made);
        exactPending = false;
        callbacks.swap(whenExact);
    }
    for (const auto& callback : callbacks)
        callback();
}

namespace {

constexpr qint64 kPixelsWorthTwoCores = 1 << 19;

Long nextHandle()
{
    static std::atomic<Long> counter{0};
    return ++counter;
}

const QImage& nullImage()
{
    static const QImage image;
    return image;
}

} // namespace

Picture::Picture() = default;

Picture::Picture(QImage image)
    : Picture(std::move(image), QImage())
{
}

Picture::Picture(QImage image, QImage reduced)
    : Picture(std::move(image), std::move(reduced), nullptr)
{
}

Picture::Picture(QImage image, QImage reduced, std::shared_ptr<RowFill> fill)
    : m_data(std::make_shared<Data>())
{
    m_data->image = std::move(image);
    m_data->size = m_data->image.size();
    m_data->reduced = std::move(reduced);
    m_data->fill = std::move(fill);
    m_data->handle = nextHandle();
    watchFill();
}

Picture::Picture(std::shared_ptr<const YcbcrPicture> planes, QImage early, std::shared_ptr<RowFill> fill)
    : m_data(std::make_shared<Data>())
{
    m_data->size = planes->size();
    m_data->planes = std::move(planes);
    m_data->reduced = std::move(early);
    m_data->fill = std::move(fill);
    m_data->handle = nextHandle();
    watchFill();
}

Picture::Picture(std::shared_ptr<TiledPicture> tiles, QImage overview)
    : m_data(std::make_shared<Data>())
{
    m_data->size = QSize(tiles->width(), tiles->height());
    m_data->tiles = std::move(tiles);
    m_data->reduced = std::move(overview);
    m_data->handle = nextHandle();
}

void Picture::watchFill()
{
    if (m_data->fill) {
        m_data->exactPending = true;
        // The fill goes first when the data does: the callback never
        // outlives what it uses.
        m_data->fill->whenComplete([data = m_data.get()] { data->makeExactOverview(); });
    }
}

Long Picture::Handle() const { return m_data ? m_data->handle : 0; }
int Picture::pixelWidth() const { return m_data ? m_data->size.width() : 0; }
int Picture::pixelHeight() const { return m_data ? m_data->size.height() : 0; }
const QImage& Picture::image() const
{
    if (!m_data || m_data->tiles)
        return nullImage();
    if (m_data->fill)
        m_data->fill->waitFor(pixelHeight());
    if (m_data->planes && m_data->whole.isNull())
        m_data->whole = m_data->planes->toRgb(QRect(QPoint(0, 0), m_data->size));
    return m_data->planes ? m_data->whole : m_data->image;
}

Picture::Pixels Picture::pixelsFor(const QRect& area) const
{
    if (!m_data)
        return {nullImage()};
    const QRect part = area & QRect(QPoint(0, 0), m_data->size);
    if (m_data->planes || m_data->tiles) {
        const QImage& region = regionOf(part);
        const QPoint origin = m_data->lastArea.contains(part) ? m_data->lastArea.topLeft() : part.topLeft();
        return {region, origin.x(), origin.y()};
    }
    if (m_data->fill && !part.isEmpty())
        m_data->fill->waitFor(part.top() + part.height());
    return {m_data->image};
}

// The pixels of `area`, from planes or tiles; what the last area shares
// with it is copied over, and only the rest made.
const QImage& Picture::regionOf(const QRect& area) const
{
    Data& data = *m_data;
    if (area.isEmpty())
        return nullImage();
    if (data.fill)
        data.fill->waitFor(data.planes->storedRowsNeededFor(area));
    if (area == data.lastArea || (data.tiles && data.lastArea.contains(area))) {
        if (data.tiles && area != data.lastShown)
            data.tiles->fetchAround({area.left(), area.top(), area.width(), area.height()});
        data.lastShown = area;
        return data.lastRegion;
    }
    return madeRegion(area);
}

// A picture read in tiles, dragged (the area shown overlaps the last),
// keeps a margin around the area, so that the next steps copy nothing until
// they leave it. A jump makes just the area, so as not to wait for more
// tiles than it shows; so does a picture kept as planes (its conversion is
// the cost).
const QImage& Picture::madeRegion(const QRect& shown) const
{
    Data& data = *m_data;
    const bool dragged = data.tiles && !(shown & data.lastArea).isEmpty();
    const int margin = dragged ? std::max(64, std::max(shown.width(), shown.height()) / 8) : 0;
    const QRect area = shown.adjusted(-margin, -margin, margin, margin) & QRect(QPoint(0, 0), data.size);
    const bool grey = data.tiles && data.tiles->channels() == 1;
    const QImage::Format format = grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    const int pixelBytes = grey ? 1 : 3;
    // A drag asks for areas of one size: the one before last is reused
    // rather than a fresh one faulted in page by page.
    QImage made = data.spareRegion.size() == area.size() && data.spareRegion.isDetached()
        ? std::move(data.spareRegion) : QImage(area.size(), format);
    if (made.isNull())
        return nullImage();
    const QRect kept = area & data.lastArea;
    uchar* const bits = made.bits(); // taken once: the halves below run on two threads
    const qsizetype stride = made.bytesPerLine();
    const auto makePart = [&](const QRect& part) {
        uchar* const out = bits + (part.top() - area.top()) * stride + pixelBytes * qsizetype(part.left() - area.left());
        if (data.tiles)
            data.tiles->read({part.left(), part.top(), part.width(), part.height()}, out, std::size_t(stride));
        else
            data.planes->toRgb(part, out, stride);
    };
    const auto make = [&](const QRect& part) {
        if (part.isEmpty())
            return;
        // Tiles are decoded on every core already. A jump to a new part of
        // a large picture kept as planes converts a whole screenful: its
        // lower half on a second core.
        const bool twoHalves = !data.tiles && qint64(part.width()) * part.height() >= kPixelsWorthTwoCores;
        inTwoHalves(part.height(), twoHalves, [&](int begin, int end) {
            makePart(QRect(part.left(), part.top() + begin, part.width(), end - begin));
        });
    };
    if (kept.isEmpty()) {
        make(area);
    } else {
        const uchar* const last = data.lastRegion.constBits();
        const qsizetype lastStride = data.lastRegion.bytesPerLine();
        // A screenful's copy is memory-bound: two cores halve it.
        inTwoHalves(kept.height(), qint64(kept.width()) * kept.height() >= kPixelsWorthTwoCores, [&](int begin, int end) {
            for (int y = kept.top() + begin; y < kept.top() + end; ++y)
                std::memcpy(bits + (y - area.top()) * stride + pixelBytes * qsizetype(kept.left() - area.left()),
                    last + (y - data.lastArea.top()) * lastStride + pixelBytes * qsizetype(kept.left() - data.lastArea.left()),
                    size_t(pixelBytes) * size_t(kept.width()));
        });
        make(QRect(QPoint(area.left(), area.top()), QPoint(area.right(), kept.top() - 1)));
        make(QRect(QPoint(area.left(), kept.bottom() + 1), QPoint(area.right(), area.bottom())));
        make(QRect(QPoint(area.left(), kept.top()), QPoint(kept.left() - 1, kept.bottom())));
        make(QRect(QPoint(kept.right() + 1, kept.top()), QPoint(area.right(), kept.bottom())));
    }
    if (data.tiles)
        data.tiles->fetchAround({shown.left(), shown.top(), shown.width(), shown.height()});
    data.lastArea = area;
    data.lastShown = shown;
    data.spareRegion = std::exchange(data.lastRegion, std::move(made));
    return data.lastRegion;
}

// Complete once the exact overview is made too: until then the early one
// is shown, rather than the overview waiting for the exact one.
bool Picture::isComplete() const
{
    if (!m_data || !m_data->fill)
        return true;
    std::lock_guard lock(m_data->mutex);
    return m_data->fill->complete() && !m_data->exactPending;
}

void Picture::whenComplete(std::function<void()> callback) const
{
    if (m_data && m_data->fill) {
        std::lock_guard lock(m_data->mutex);
        if (m_data->exactPending) {
            m_data->whenExact.push_back(std::move(callback));
            return;
        }
    }
    callback();
}

const QImage& Picture::scaledTo(int width, int height) const
{
    if (!m_data)
        return nullImage();
    Data& data = *m_data;
    const QSize size(width, height);
    if (!isComplete()) {
        {
            std::lock_guard lock(data.mutex);
            data.wanted = size;
        }
        if (data.provisional.size() != size)
            data.provisional = scaledFrom(data.reduced, width, height);
        return data.provisional;
    }
    if (data.fill) {
        // Whole: the early overview and the copy it came from are done with.
        data.provisional = QImage();
        data.reduced = QImage();
        std::lock_guard lock(data.mutex);
        if (data.exact.size() == size)
            data.scaled = std::move(data.exact);
        data.exact = QImage();
    }
    if (data.scaled.size() != size)
        data.scaled = scaledFrom(data.reduced, width, height);
    return data.scaled;
}

QImage Picture::scaledFrom(const QImage& reduced, int width, int height) const
{
    // A copy reduced at least as much as the block-averaged image is made
    // from it: the same averages, from far fewer pixels.
    if (m_data->tiles)
        return scaleSmooth(reduced, width, height);
    const QSize size = m_data->size;
    const int block = reduced.isNull() ? 1 : (size.width() + reduced.width() - 1) / reduced.width();
    const bool fromReduced = block > 1 && qint64(width) * block <= size.width()
        && qint64(height) * block <= size.height();
    if (fromReduced)
        return scaleSmoothFromBlocks(reduced, size, block, width, height);
    if (m_data->fill)
        m_data->fill->waitFor(pixelHeight());
    return m_data->scaledWhole(width, height);
}

} // namespace korvane
