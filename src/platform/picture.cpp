#include "picture.h"

#include "pixel_ops.h"

#include "decode/jpeg_planes.h"
#include "picture/early_averages.h"
#include "picture/memory_sources.h"
#include "picture/scaled_overview.h"
#include "picture/shown_region.h"
#include "picture/tiled_picture.h"

#include <QImage>

#include <atomic>
#include <optional>
#include <utility>

namespace korvane {

// The picture's source and what is made of it for the panels, with the Qt
// images the panels are handed.
struct Picture::Data {
    Data(std::shared_ptr<PictureSource> source1, QImage held1, const QImage& reduced, ScaledOverview::Reduced kind)
        : source(std::move(source1)), held(std::move(held1)), overview(*source, heldPixelsOf(reduced), kind)
    {
        if (held.isNull())
            region.emplace(*source);
    }
    Data(std::shared_ptr<PictureSource> source1, ScaledOverview::Growing growing)
        : source(std::move(source1)), overview(*source, std::move(growing))
    {
        region.emplace(*source);
    }
    Data(std::shared_ptr<PictureSource> source1, QImage held1, ScaledOverview::Growing growing)
        : source(std::move(source1)), held(std::move(held1)),
          overview(*source, std::move(growing), ScaledOverview::Reduced::EarlyCopy)
    {
    }
    // The decoder ends before what its callbacks use goes.
    ~Data() { source->stop(); }
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;

    std::shared_ptr<PictureSource> source;
    QImage held;                      // the rows, for a picture held whole
    std::optional<ShownRegion> region; // else the pixels of the area last shown
    ScaledOverview overview;
    Long handle = 0;
    mutable QImage shown;  // the region, as the panels take it
    mutable QImage scaled; // the last scaled copy, as the panels take it
    mutable QImage whole;  // a picture made as read, made whole when asked
};

namespace {

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

std::shared_ptr<PictureSource> heldRows(const QImage& image, std::shared_ptr<RowFill> fill)
{
    return std::make_shared<HeldRows>(heldPixelsOf(image), std::move(fill));
}

std::shared_ptr<PictureSource> madeRows(const std::shared_ptr<const YcbcrPicture>& planes, std::shared_ptr<RowFill> fill)
{
    const QSize size = planes->size();
    const auto toQRect = [](const PixelRect& area) { return QRect(area.x, area.y, area.width, area.height); };
    return std::make_shared<MadeRows>(size.width(), size.height(),
        [planes, toQRect](const PixelRect& area, std::uint8_t* out, std::size_t stride) {
            planes->toRgb(toQRect(area), out, qsizetype(stride));
        },
        [planes, toQRect](const PixelRect& area) { return planes->storedRowsNeededFor(toQRect(area)); },
        std::move(fill));
}

// A picture handed over while it decodes comes with an early copy.
ScaledOverview::Reduced reducedKind(const std::shared_ptr<RowFill>& fill)
{
    return fill ? ScaledOverview::Reduced::EarlyCopy : ScaledOverview::Reduced::Averages;
}

} // namespace

Picture::Picture() = default;

Picture::Picture(QImage image)
    : Picture(std::move(image), QImage())
{
}

Picture::Picture(QImage image, const QImage& reduced)
    : Picture(std::move(image), reduced, nullptr)
{
}

Picture::Picture(QImage image, const QImage& reduced, std::shared_ptr<RowFill> fill)
{
    const ScaledOverview::Reduced kind = reducedKind(fill);
    std::shared_ptr<PictureSource> rows = heldRows(image, std::move(fill));
    m_data = std::make_shared<Data>(std::move(rows), std::move(image), reduced, kind);
    m_data->handle = nextHandle();
}

Picture::Picture(QImage image, std::shared_ptr<RowFill> fill, int block)
{
    const HeldPixels rows = heldPixelsOf(image);
    auto early = std::make_shared<EarlyAverages>(rows.view.width, rows.view.height, rows.view.channels, block);
    // Caught up where the overview is drawn, from the rows final by then.
    const auto growth = [early, rows, fill] {
        early->catchUp(rows.view, fill->rowsReady());
        return static_cast<long long>(early->blockRowsDone());
    };
    std::shared_ptr<PictureSource> source = heldRows(image, std::move(fill));
    m_data = std::make_shared<Data>(std::move(source), std::move(image),
        ScaledOverview::Growing{[early] { return early->soFar(); }, growth});
    m_data->handle = nextHandle();
}

Picture::Picture(const std::shared_ptr<const YcbcrPicture>& planes, const QImage& early, std::shared_ptr<RowFill> fill)
{
    const ScaledOverview::Reduced kind = reducedKind(fill);
    m_data = std::make_shared<Data>(madeRows(planes, std::move(fill)), QImage(), early, kind);
    m_data->handle = nextHandle();
}

Picture::Picture(std::shared_ptr<TiledPicture> tiles, const QImage& overview)
    : m_data(std::make_shared<Data>(std::move(tiles), QImage(), overview, ScaledOverview::Reduced::OnlyCopy))
{
    m_data->handle = nextHandle();
}

Picture::Picture(const std::shared_ptr<TiledPicture>& tiles)
{
    // The averages are kept by the copy the overview scales from.
    const auto soFar = [tiles] {
        auto averages = std::make_shared<const BlockAverages>(tiles->averagesSoFar());
        const PixelView view{averages->pixels.data(), std::size_t(averages->width) * std::size_t(averages->channels),
            averages->width, averages->height, averages->channels};
        return HeldPixels{view, std::move(averages)};
    };
    m_data = std::make_shared<Data>(tiles, ScaledOverview::Growing{soFar, [tiles] { return tiles->tilesAveraged(); }});
    m_data->handle = nextHandle();
}

Long Picture::Handle() const { return m_data ? m_data->handle : 0; }
int Picture::pixelWidth() const { return m_data ? m_data->source->width() : 0; }
int Picture::pixelHeight() const { return m_data ? m_data->source->height() : 0; }

const QImage& Picture::image() const
{
    if (!m_data || m_data->source->keepsDecodedPixels())
        return nullImage();
    Data& data = *m_data;
    const PixelRect all{0, 0, pixelWidth(), pixelHeight()};
    if (!data.held.isNull()) {
        data.source->heldFor(all);
        return data.held;
    }
    if (data.whole.isNull()) {
        data.whole = QImage(pixelWidth(), pixelHeight(), QImage::Format_RGB888);
        if (!data.whole.isNull())
            data.source->read(all, data.whole.bits(), std::size_t(data.whole.bytesPerLine()));
    }
    return data.whole;
}

Picture::Pixels Picture::pixelsFor(const QRect& area, bool waitForPasses) const
{
    if (!m_data)
        return {nullImage()};
    Data& data = *m_data;
    const QRect part = area & QRect(0, 0, pixelWidth(), pixelHeight());
    const PixelRect asked{part.x(), part.y(), part.width(), part.height()};
    if (!data.region) {
        data.source->heldFor(asked);
        return {data.held};
    }
    const ShownRegion::Pixels pixels = data.region->pixelsFor(asked, waitForPasses);
    if (!pixels.pixels)
        return {nullImage()};
    if (data.shown.constBits() != pixels.pixels->bytes.get())
        data.shown = imageOf(pixels.pixels);
    return {data.shown, pixels.originX, pixels.originY, pixels.complete};
}

bool Picture::isComplete() const
{
    return !m_data || m_data->overview.isComplete();
}

void Picture::whenComplete(std::function<void()> callback) const
{
    if (m_data)
        m_data->overview.whenComplete(std::move(callback));
    else
        callback();
}

void Picture::makeOverviewAhead(int width, int height) const
{
    if (m_data)
        m_data->overview.makeAhead(width, height);
}

const QImage& Picture::scaledTo(int width, int height) const
{
    if (!m_data)
        return nullImage();
    Data& data = *m_data;
    const ScaledOverview::Scaled scaled = data.overview.scaledTo(width, height);
    if (!scaled || scaled->isNull())
        return nullImage();
    if (data.scaled.constBits() != reinterpret_cast<const uchar*>(scaled->words.get()))
        data.scaled = imageOf(scaled);
    return data.scaled;
}

} // namespace korvane
