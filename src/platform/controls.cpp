#include "controls.h"

#include "pixel_ops.h"

#include <QImage>
#include <QPainter>
#include <QRect>
#include <QRegion>

#include <vector>

#include <algorithm>
#include <cmath>

namespace korvane {

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;
// No screen shows a panel larger than this; it bounds the backing image
// whatever size the twips ask for.
constexpr int kMaxBackingSide = 16384;

// Pixel coordinates are computed in double and kept well inside int.
int clampedInt(double value)
{
    return static_cast<int>(std::clamp(value, -1073741824.0, 1073741824.0));
}

double g_devicePixelRatio = 1.0;

double twipsPerDevicePixel()
{
    return kTwipsPerPixel / g_devicePixelRatio;
}

// First device pixel whose centre lies at or after the twips position.
int firstPixelFrom(double twips)
{
    const double step = twipsPerDevicePixel();
    return clampedInt(std::ceil((twips - step / 2) / step));
}

QRgb colourFromLong(Long colour)
{
    return qRgb(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

} // namespace

int twipsToPixels(double twips)
{
    return clampedInt(std::rint(twips / kTwipsPerPixel));
}

void setDevicePixelRatio(double ratio)
{
    g_devicePixelRatio = std::isfinite(ratio) && ratio >= 0.25 && ratio <= 16 ? ratio : 1.0;
}

double devicePixelRatio()
{
    return g_devicePixelRatio;
}

int twipsToDevicePixels(double twips)
{
    return twipsToDevicePixels(twips, g_devicePixelRatio);
}

int twipsToDevicePixels(double twips, double ratio)
{
    return clampedInt(std::rint(twips / (kTwipsPerPixel / ratio)));
}

Control::Control(Single left, Single top, Single width, Single height)
    : m_left(left), m_top(top), m_width(width), m_height(height)
{
}

void Control::setLeft(Single value)
{
    m_left = value;
    if (m_view)
        m_view->geometryChanged();
}

void Control::setTop(Single value)
{
    m_top = value;
    if (m_view)
        m_view->geometryChanged();
}

void Control::setWidth(Single value)
{
    m_width = value;
    sizeChanged();
    if (m_view)
        m_view->geometryChanged();
}

void Control::setHeight(Single value)
{
    m_height = value;
    sizeChanged();
    if (m_view)
        m_view->geometryChanged();
}

QRect Control::pixelGeometry() const
{
    return QRect(twipsToPixels(m_left), twipsToPixels(m_top), std::max(0, twipsToPixels(m_width)),
        std::max(0, twipsToPixels(m_height)));
}

void ControlView::contentChanged(const QRect&) {}

// What a panel shows, in device pixels.
struct PictureBox::Pixels {
    struct PixelCopy {
        QImage source;
        QPoint shift;
        QRect area;
    };
    struct Mark {
        QPoint centre;
        int radius;
        QRgb colour;
    };

    QSize size; // the backing's size once anything is drawn
    bool drawn = false;
    // The description: white, then the copy, then the marks. While it
    // holds, the backing's pixels are stale.
    bool described = false;
    std::optional<PixelCopy> copy;
    std::vector<Mark> marks;
    QImage backing;
    unsigned long long draws = 0; // every drawing so far
    // The last whole-picture copy made while its picture still decoded.
    struct Provisional {
        Picture picture;
        QPoint origin;
        QSize size;
        qint64 sourceKey;
        unsigned long long draws; // counted once it was drawn
    };
    std::optional<Provisional> provisional;
    // The last copy at natural size with parts left white because the
    // picture's pass had not reached them: copied again as they come.
    struct ShownLater {
        Picture picture;
        QRect asked;  // of the picture
        QPoint shift; // picture pixel p lands on p + shift
        QRect area;   // of the panel
        unsigned long long draws;
    };
    std::optional<ShownLater> shownLater;
};

PictureBox::PictureBox(Single left, Single top, Single width, Single height)
    : Control(left, top, width, height), m_pixels(std::make_unique<Pixels>())
{
}

PictureBox::~PictureBox() = default;

void PictureBox::setPicture(Picture picture)
{
    m_picture = std::move(picture);
    if (m_picture.isEmpty())
        return;
    setWidth(static_cast<Single>(m_picture.pixelWidth() * twipsPerDevicePixel()));
    setHeight(static_cast<Single>(m_picture.pixelHeight() * twipsPerDevicePixel()));
}

QSize PictureBox::backingSize() const
{
    const int width = std::max(0, twipsToDevicePixels(Width()));
    const int height = std::max(0, twipsToDevicePixels(Height()));
    return QSize(std::min(width, kMaxBackingSide), std::min(height, kMaxBackingSide));
}

void PictureBox::sizeChanged()
{
    // Nothing to keep before anything is drawn; the holder never is.
    if (!m_pixels->drawn)
        return;
    const QSize size = backingSize();
    if (size == m_pixels->size)
        return;
    m_pixels->size = size;
    if (m_pixels->described) {
        // White beyond the old edges, as a grown backing would be.
        m_pixels->backing = QImage();
        if (m_pixels->copy)
            m_pixels->copy->area &= QRect(QPoint(0, 0), size);
        return;
    }
    QImage grown(size, QImage::Format_RGB32);
    if (grown.isNull())
        return;
    grown.fill(kWhite);
    copyPixels(m_pixels->backing, QPoint(0, 0), grown, grown.rect());
    m_pixels->backing = std::move(grown);
}

void PictureBox::screenScaleChanged()
{
    setPicture(m_picture); // a holder's size in twips follows the ratio
    if (!m_pixels->drawn)
        return;
    m_pixels->size = backingSize();
    m_pixels->backing = QImage();
    m_pixels->provisional.reset();
    m_pixels->shownLater.reset();
    Cls();
}

void PictureBox::Cls()
{
    if (!m_pixels->drawn) {
        m_pixels->drawn = true;
        m_pixels->size = backingSize();
    }
    m_pixels->described = true;
    m_pixels->copy.reset();
    m_pixels->marks.clear();
    changed(QRect(QPoint(0, 0), m_pixels->size));
}

const QImage& PictureBox::backing() const
{
    if (m_pixels->described)
        makePixels();
    return m_pixels->backing;
}

void PictureBox::makePixels() const
{
    if (m_pixels->backing.size() != m_pixels->size)
        m_pixels->backing = QImage(m_pixels->size, QImage::Format_RGB32);
    m_pixels->described = false;
    if (m_pixels->backing.isNull())
        return;
    m_pixels->backing.fill(kWhite);
    if (m_pixels->copy)
        copyPixels(m_pixels->copy->source, m_pixels->copy->shift, m_pixels->backing, m_pixels->copy->area);
    for (const Pixels::Mark& mark : m_pixels->marks)
        drawCircleOutline(m_pixels->backing, mark.centre.x(), mark.centre.y(), mark.radius, mark.colour);
}

void PictureBox::copyIn(const QImage& source, const QPoint& shift, QRect area)
{
    const QRect panel(QPoint(0, 0), m_pixels->size);
    area &= panel;
    if (area.isEmpty())
        return;
    const bool coversAll = area == panel && source.rect().contains(panel.translated(-shift));
    if (coversAll || (m_pixels->described && !m_pixels->copy && m_pixels->marks.empty())) {
        m_pixels->described = true;
        m_pixels->marks.clear();
        m_pixels->copy = Pixels::PixelCopy{source, shift, area};
    } else {
        backing(); // the pixels, to draw on
        copyPixels(source, shift, m_pixels->backing, area);
    }
    changed(area);
}

void PictureBox::drawTo(QPainter& painter, QRect area, double ratio) const
{
    const auto toLogical = [ratio](QRect device) {
        return QRectF(device.x() / ratio, device.y() / ratio, device.width() / ratio, device.height() / ratio);
    };
    // White where no opaque pixels are drawn: a screenful written twice
    // would cost a drag's paint as much again.
    const auto whiteAround = [&](const QRect& covered) {
        for (const QRect& rest : QRegion(area).subtracted(QRegion(covered)))
            painter.fillRect(toLogical(rest), Qt::white);
    };
    if (!m_pixels->drawn) {
        whiteAround(QRect());
        return;
    }
    if (!m_pixels->described) {
        const QRect part = area & m_pixels->backing.rect();
        whiteAround(part);
        if (!part.isEmpty())
            painter.drawImage(toLogical(part), m_pixels->backing, QRectF(part));
        return;
    }
    if (m_pixels->copy) {
        const QRect part = (area & m_pixels->copy->area) & m_pixels->copy->source.rect().translated(m_pixels->copy->shift);
        whiteAround(m_pixels->copy->source.hasAlphaChannel() ? QRect() : part);
        if (!part.isEmpty())
            painter.drawImage(toLogical(part), m_pixels->copy->source, QRectF(part.translated(-m_pixels->copy->shift)));
    } else {
        whiteAround(QRect());
    }
    for (const Pixels::Mark& mark : m_pixels->marks) {
        // The marker's own pixels, drawn as the backing would hold them.
        const QRect box(mark.centre - QPoint(mark.radius, mark.radius), QSize(2 * mark.radius + 1, 2 * mark.radius + 1));
        if (!box.intersects(area))
            continue;
        QImage ink(box.size(), QImage::Format_ARGB32_Premultiplied);
        ink.fill(Qt::transparent);
        drawCircleOutline(ink, mark.radius, mark.radius, mark.radius, mark.colour);
        const QRect part = box & area & QRect(QPoint(0, 0), m_pixels->size);
        if (!part.isEmpty())
            painter.drawImage(toLogical(part), ink, QRectF(part.translated(-box.topLeft())));
    }
}

void PictureBox::PaintPicture(const Picture& picture, Single x1, Single y1, Single width1, Single height1,
    std::optional<Single> x2, std::optional<Single> y2, std::optional<Single> width2, std::optional<Single> height2)
{
    if (!m_pixels->drawn)
        Cls();
    if (picture.isEmpty() || width1 <= 0 || height1 <= 0)
        return;
    const double fullWidth = picture.pixelWidth() * twipsPerDevicePixel();
    const double fullHeight = picture.pixelHeight() * twipsPerDevicePixel();
    const double sx = x2.value_or(0), sy = y2.value_or(0);
    const double sw = width2.value_or(static_cast<Single>(fullWidth));
    const double sh = height2.value_or(static_cast<Single>(fullHeight));
    if (sw <= 0 || sh <= 0)
        return;
    if (sw == width1 && sh == height1)
        paintUnscaled(picture, x1, y1, width1, height1, sx, sy);
    else if (sx == 0 && sy == 0 && sw == fullWidth && sh == fullHeight)
        paintWholeScaled(picture, x1, y1, width1, height1);
    else
        paintRegionScaled(picture, QRectF(x1, y1, width1, height1), QRectF(sx, sy, sw, sh));
}

void PictureBox::paintUnscaled(const Picture& picture, double x1, double y1, double width1, double height1,
    double x2, double y2)
{
    // A destination pixel shows the source pixel under its centre.
    const double step = twipsPerDevicePixel();
    const int shiftX = -clampedInt(std::floor((step / 2 + x2 - x1) / step));
    const int shiftY = -clampedInt(std::floor((step / 2 + y2 - y1) / step));
    const int left = firstPixelFrom(x1), top = firstPixelFrom(y1);
    const int right = firstPixelFrom(x1 + width1), bottom = firstPixelFrom(y1 + height1);
    // Only the part of the picture the panel shows is asked for (and waited
    // for, while the picture is still decoding). Tiles a large picture's
    // overview pass has yet to reach are not waited for: the window would
    // not answer until then, up to the whole pass. They are white until
    // the pass reads them.
    const QRect area = QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)) & QRect(QPoint(0, 0), m_pixels->size);
    const QRect asked = area.translated(-shiftX, -shiftY);
    if (copyShown(picture, asked, QPoint(shiftX, shiftY), area))
        return;
    m_pixels->shownLater = Pixels::ShownLater{picture, asked, QPoint(shiftX, shiftY), area, m_pixels->draws};
    if (view())
        view()->refreshWhenComplete(picture);
}

// Copies the picture's pixels in `asked`, picture pixel p landing on p +
// shift, into `area`; whether they were all final.
bool PictureBox::copyShown(const Picture& picture, const QRect& asked, const QPoint& shift, const QRect& area)
{
    const Picture::Pixels pixels = picture.pixelsFor(asked, false);
    copyIn(pixels.image, shift + QPoint(pixels.originX, pixels.originY), area);
    return pixels.complete;
}

void PictureBox::paintWholeScaled(const Picture& picture, double x1, double y1, double width1, double height1)
{
    const int width = twipsToDevicePixels(width1), height = twipsToDevicePixels(height1);
    const QPoint origin(twipsToDevicePixels(x1), twipsToDevicePixels(y1));
    if (QRect(origin, QSize(width, height)).intersected(QRect(QPoint(0, 0), m_pixels->size)).isEmpty())
        return;
    // Asked before scaling: a picture that completes meanwhile may still
    // have handed over its early overview.
    const bool wasComplete = picture.isComplete();
    const QImage& scaled = picture.scaledTo(width, height);
    copyIn(scaled, origin, QRect(origin, QSize(width, height)));
    if (wasComplete)
        return;
    m_pixels->provisional = Pixels::Provisional{picture, origin, QSize(width, height), scaled.cacheKey(), m_pixels->draws};
    if (view())
        view()->refreshWhenComplete(picture);
}

bool PictureBox::refreshProvisional()
{
    const bool shownLater = refreshShownLater();
    return refreshOverview() || shownLater;
}

bool PictureBox::refreshShownLater()
{
    if (!m_pixels->shownLater)
        return false;
    Pixels::ShownLater& later = *m_pixels->shownLater;
    if (m_pixels->draws != later.draws) { // drawn over since
        m_pixels->shownLater.reset();
        return false;
    }
    if (copyShown(later.picture, later.asked, later.shift, later.area)) {
        m_pixels->shownLater.reset();
        return false;
    }
    later.draws = m_pixels->draws;
    return true;
}

bool PictureBox::refreshOverview()
{
    if (!m_pixels->provisional)
        return false;
    Pixels::Provisional& provisional = *m_pixels->provisional;
    bool done = provisional.picture.isComplete();
    const QImage& now = provisional.picture.scaledTo(provisional.size.width(), provisional.size.height());
    auto& copy = m_pixels->copy;
    if (now.cacheKey() == provisional.sourceKey && !done)
        return true; // not grown since
    if (m_pixels->described && copy && copy->source.cacheKey() == provisional.sourceKey) {
        copy->source = now; // under whatever was drawn on it since
        changed(copy->area);
    } else if (m_pixels->draws == provisional.draws) { // nothing drawn since: its pixels are the copy's
        copyIn(now, provisional.origin, QRect(provisional.origin, provisional.size));
    } else {
        done = true; // drawn over: no longer this panel's to refresh
    }
    if (done) {
        m_pixels->provisional.reset();
        return false;
    }
    provisional.sourceKey = now.cacheKey();
    provisional.draws = m_pixels->draws;
    return true;
}

void PictureBox::paintRegionScaled(const Picture& picture, const QRectF& target, const QRectF& source)
{
    const auto toPixels = [step = twipsPerDevicePixel()](const QRectF& twips) {
        return QRectF(twips.x() / step, twips.y() / step, twips.width() / step, twips.height() / step);
    };
    backing();
    if (m_pixels->backing.isNull())
        return;
    QPainter painter(&m_pixels->backing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF from = toPixels(source);
    const Picture::Pixels pixels = picture.pixelsFor(from.toAlignedRect());
    painter.drawImage(toPixels(target), pixels.image, from.translated(-pixels.originX, -pixels.originY));
    changed(toPixels(target).toAlignedRect().intersected(m_pixels->backing.rect()));
}

void PictureBox::Circle(Single x, Single y, Single radius, Long colour)
{
    if (!m_pixels->drawn)
        Cls();
    const int cx = twipsToDevicePixels(x), cy = twipsToDevicePixels(y), r = twipsToDevicePixels(radius);
    // A few marks stay in the description; more are drawn into pixels.
    constexpr std::size_t kMarksKept = 8;
    if (m_pixels->described && m_pixels->marks.size() < kMarksKept && r >= 0 && r <= kMaxBackingSide)
        m_pixels->marks.push_back({QPoint(cx, cy), r, colourFromLong(colour)});
    else if (!backing().isNull())
        drawCircleOutline(m_pixels->backing, cx, cy, r, colourFromLong(colour));
    changed(QRect(cx - r, cy - r, 2 * r + 1, 2 * r + 1).intersected(QRect(QPoint(0, 0), m_pixels->size)));
}

void PictureBox::changed(const QRect& devicePixels)
{
    ++m_pixels->draws;
    if (view() && !devicePixels.isEmpty())
        view()->contentChanged(devicePixels);
}

CommandButton::CommandButton(Single left, Single top, Single width, Single height, std::string caption)
    : Control(left, top, width, height), m_caption(std::move(caption))
{
}

void CommandButton::setCaption(std::string caption)
{
    m_caption = std::move(caption);
    if (view())
        view()->captionChanged();
}

void Timer::setInterval(Long milliseconds)
{
    m_interval = milliseconds;
    if (onIntervalChanged)
        onIntervalChanged(m_interval);
}

void Timer::tick()
{
    if (onTimer)
        onTimer();
}

} // namespace korvane
