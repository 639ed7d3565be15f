#include "picture.h"

#include "pixel_ops.h"

#include <QImage>

#include <atomic>

namespace korvane {

struct Picture::Data {
    QImage image;
    QImage reduced; // null, or the image averaged over blocks
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
    : Picture(std::move(image), QImage())
{
}

Picture::Picture(QImage image, QImage reduced)
    : m_data(std::make_shared<Data>())
{
    m_data->image = std::move(image);
    m_data->reduced = std::move(reduced);
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
    if (cached.isNull() || cached.width() != width || cached.height() != height) {
        // A copy reduced at least as much as the block-averaged image is
        // made from it: the same averages, from far fewer pixels.
        const QImage& image = m_data->image;
        const QImage& reduced = m_data->reduced;
        const int block = reduced.isNull() ? 1 : (image.width() + reduced.width() - 1) / reduced.width();
        const bool fromReduced = block > 1 && qint64(width) * block <= image.width()
            && qint64(height) * block <= image.height();
        cached = fromReduced ? scaleSmoothFromBlocks(reduced, image.size(), block, width, height)
                             : scaleSmooth(image, width, height);
    }
    return cached;
}

} // namespace korvane
