#include "controls.h"

#include "pixel_ops.h"

#include <QPainter>

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
    return clampedInt(std::rint(twips / twipsPerDevicePixel()));
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

PictureBox::PictureBox(Single left, Single top, Single width, Single height)
    : Control(left, top, width, height)
{
}

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
    if (!m_drawn)
        return;
    const QSize size = backingSize();
    if (size == m_size)
        return;
    m_size = size;
    if (m_described) {
        // White beyond the old edges, as a grown backing would be.
        m_backing = QImage();
        if (m_copy)
            m_copy->area &= QRect(QPoint(0, 0), size);
        return;
    }
    QImage grown(size, QImage::Format_RGB32);
    if (grown.isNull())
        return;
    grown.fill(kWhite);
    copyPixels(m_backing, QPoint(0, 0), grown, grown.rect());
    m_backing = std::move(grown);
}

void PictureBox::Cls()
{
    if (!m_drawn) {
        m_drawn = true;
        m_size = backingSize();
    }
    m_described = true;
    m_copy.reset();
    m_marks.clear();
    changed(QRect(QPoint(0, 0), m_size));
}

const QImage& PictureBox::backing() const
{
    if (m_described)
        makePixels();
    return m_backing;
}

void PictureBox::makePixels() const
{
    if (m_backing.size() != m_size)
        m_backing = QImage(m_size, QImage::Format_RGB32);
    m_described = false;
    if (m_backing.isNull())
        return;
    m_backing.fill(kWhite);
    if (m_copy)
        copyPixels(m_copy->source, m_copy->shift, m_backing, m_copy->area);
    for (const Mark& mark : m_marks)
        drawCircleOutline(m_backing, mark.centre.x(), mark.centre.y(), mark.radius, mark.colour);
}

void PictureBox::copyIn(const QImage& source, QPoint shift, QRect area)
{
    const QRect panel(QPoint(0, 0), m_size);
    area &= panel;
    if (area.isEmpty())
        return;
    const bool coversAll = area == panel && source.rect().contains(panel.translated(-shift));
    if (coversAll || (m_described && !m_copy && m_marks.empty())) {
        m_described = true;
        m_marks.clear();
        m_copy = PixelCopy{source, shift, area};
    } else {
        backing(); // the pixels, to draw on
        copyPixels(source, shift, m_backing, area);
    }
    changed(area);
}

void PictureBox::drawTo(QPainter& painter, QRect area, double ratio) const
{
    const auto toLogical = [ratio](QRect device) {
        return QRectF(device.x() / ratio, device.y() / ratio, device.width() / ratio, device.height() / ratio);
    };
    painter.fillRect(toLogical(area), Qt::white);
    if (!m_drawn)
        return;
    if (!m_described) {
        const QRect part = area & m_backing.rect();
        if (!part.isEmpty())
            painter.drawImage(toLogical(part), m_backing, QRectF(part));
        return;
    }
    if (m_copy) {
        const QRect part = (area & m_copy->area) & m_copy->source.rect().translated(m_copy->shift);
        if (!part.isEmpty())
            painter.drawImage(toLogical(part), m_copy->source, QRectF(part.translated(-m_copy->shift)));
    }
    for (const Mark& mark : m_marks) {
        // The marker's own pixels, drawn as the backing would hold them.
        const QRect box(mark.centre - QPoint(mark.radius, mark.radius), QSize(2 * mark.radius + 1, 2 * mark.radius + 1));
        if (!box.intersects(area))
            continue;
        QImage ink(box.size(), QImage::Format_ARGB32_Premultiplied);
        ink.fill(Qt::transparent);
        drawCircleOutline(ink, mark.radius, mark.radius, mark.radius, mark.colour);
        const QRect part = box & area & QRect(QPoint(0, 0), m_size);
        if (!part.isEmpty())
            painter.drawImage(toLogical(part), ink, QRectF(part.translated(-box.topLeft())));
    }
}

void PictureBox::PaintPicture(const Picture& picture, Single x1, Single y1, Single width1, Single height1,
    std::optional<Single> x2, std::optional<Single> y2, std::optional<Single> width2, std::optional<Single> height2)
{
    if (!m_drawn)
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
        paintUnscaled(picture.image(), x1, y1, width1, height1, sx, sy);
    else if (sx == 0 && sy == 0 && sw == fullWidth && sh == fullHeight)
        paintWholeScaled(picture, x1, y1, width1, height1);
    else
        paintRegionScaled(picture, QRectF(x1, y1, width1, height1), QRectF(sx, sy, sw, sh));
}

void PictureBox::paintUnscaled(const QImage& image, double x1, double y1, double width1, double height1,
    double x2, double y2)
{
    // A destination pixel shows the source pixel under its centre.
    const double step = twipsPerDevicePixel();
    const int shiftX = -clampedInt(std::floor((step / 2 + x2 - x1) / step));
    const int shiftY = -clampedInt(std::floor((step / 2 + y2 - y1) / step));
    const int left = firstPixelFrom(x1), top = firstPixelFrom(y1);
    const int right = firstPixelFrom(x1 + width1), bottom = firstPixelFrom(y1 + height1);
    copyIn(image, QPoint(shiftX, shiftY), QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)));
}

void PictureBox::paintWholeScaled(const Picture& picture, double x1, double y1, double width1, double height1)
{
    const int width = twipsToDevicePixels(width1), height = twipsToDevicePixels(height1);
    const QPoint origin(twipsToDevicePixels(x1), twipsToDevicePixels(y1));
    if (QRect(origin, QSize(width, height)).intersected(QRect(QPoint(0, 0), m_size)).isEmpty())
        return;
    copyIn(picture.scaledTo(width, height), origin, QRect(origin, QSize(width, height)));
}

void PictureBox::paintRegionScaled(const Picture& picture, QRectF target, QRectF source)
{
    const auto toPixels = [step = twipsPerDevicePixel()](const QRectF& twips) {
        return QRectF(twips.x() / step, twips.y() / step, twips.width() / step, twips.height() / step);
    };
    backing();
    if (m_backing.isNull())
        return;
    QPainter painter(&m_backing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(toPixels(target), picture.image(), toPixels(source));
    changed(toPixels(target).toAlignedRect().intersected(m_backing.rect()));
}

void PictureBox::Circle(Single x, Single y, Single radius, Long colour)
{
    if (!m_drawn)
        Cls();
    const int cx = twipsToDevicePixels(x), cy = twipsToDevicePixels(y), r = twipsToDevicePixels(radius);
    // A few marks stay in the description; more are drawn into pixels.
    constexpr std::size_t kMarksKept = 8;
    if (m_described && m_marks.size() < kMarksKept && r >= 0 && r <= kMaxBackingSide)
        m_marks.push_back({QPoint(cx, cy), r, colourFromLong(colour)});
    else if (!backing().isNull())
        drawCircleOutline(m_backing, cx, cy, r, colourFromLong(colour));
    changed(QRect(cx - r, cy - r, 2 * r + 1, 2 * r + 1).intersected(QRect(QPoint(0, 0), m_size)));
}

void PictureBox::changed(QRect devicePixels)
{
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
