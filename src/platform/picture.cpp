#include "picture.h"

#include "pixel_ops.h"

#include <atomic>

namespace korvane {

struct Picture::Data {
    QImage image;
    Long handle = 0;
    mutable QImage scaled; // the last scaled copy; the overview asks for one size
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

} // namespace

Picture::Picture() = default;

Picture::Picture(QImage image)
    : m_data(std::make_shared<Data>())
{
    m_data->image = std::move(image);
    m_data->handle = nextHandle();
}

Long Picture::Handle() const { return m_data ? m_data->handle : 0; }
int Picture::pixelWidth() const { return m_data ? m_data->image.width() : 0; }
int Picture::pixelHeight() const { return m_data ? m_data->image.height() : 0; }
const QImage& Picture::image() const { return m_data ? m_data->image : nullImage(); }

const QImage& Picture::scaledTo(int width, int height) const
{
    if (!m_data)
        return nullImage();
    QImage& cached = m_data->scaled;
    if (cached.isNull() || cached.width() != width || cached.height() != height)
        cached = scaleSmooth(m_data->image, width, height);
    return cached;
}

} // namespace korvane
