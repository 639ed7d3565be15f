#include "picture.h"

#include "pixel_ops.h"

#include "decode/row_fill.h"

#include <QImage>

#include <atomic>
#include <condition_variable>
#include <mutex>

namespace korvane {

struct Picture::Data {
    QImage image;
    QImage reduced; // null, or the image averaged over blocks
    Long handle = 0;
    mutable QImage scaled; // the last scaled copy; the overview asks for one size
    // A picture handed over while it decodes: its overview is made from the
    // decoder's early copy (`reduced`) until it is whole, then made exactly
    // on the decoder's thread, at the size last asked for.
    mutable QImage provisional;
    mutable std::mutex mutex;
    mutable std::condition_variable exactMade;
    mutable QSize wanted;
    bool exactPending = false;
    QImage exact;
    std::shared_ptr<RowFill> fill; // last: its decoder stops before the rest goes

    void makeExactOverview();
};

// Runs on the decoder's thread once every row is final.
void Picture::Data::makeExactOverview()
{
    QSize size;
    {
        std::lock_guard lock(mutex);
        size = wanted;
    }
    QImage made = size.isEmpty() ? QImage() : scaleSmooth(image, size.width(), size.height());
    std::lock_guard lock(mutex);
    exact = std::move(made);
    exactPending = false;
    exactMade.notify_all();
}

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
    : Picture(std::move(image), std::move(reduced), nullptr)
{
}

Picture::Picture(QImage image, QImage reduced, std::shared_ptr<RowFill> fill)
    : m_data(std::make_shared<Data>())
{
    m_data->image = std::move(image);
    m_data->reduced = std::move(reduced);
    m_data->fill = std::move(fill);
    m_data->handle = nextHandle();
    if (m_data->fill) {
        m_data->exactPending = true;
        // The fill goes first when the data does: the callback never
        // outlives what it uses.
        m_data->fill->whenComplete([data = m_data.get()] { data->makeExactOverview(); });
    }
}

Long Picture::Handle() const { return m_data ? m_data->handle : 0; }
int Picture::pixelWidth() const { return m_data ? m_data->image.width() : 0; }
int Picture::pixelHeight() const { return m_data ? m_data->image.height() : 0; }
const QImage& Picture::image() const
{
    return imageWithRows(pixelHeight());
}

const QImage& Picture::imageWithRows(int rows) const
{
    if (!m_data)
        return nullImage();
    if (m_data->fill)
        m_data->fill->waitFor(rows);
    return m_data->image;
}

bool Picture::isComplete() const
{
    return !m_data || !m_data->fill || m_data->fill->complete();
}

void Picture::whenComplete(std::function<void()> callback) const
{
    if (m_data && m_data->fill)
        m_data->fill->whenComplete(std::move(callback));
    else
        callback();
}

const QImage& Picture::scaledTo(int width, int height) const
{
    if (!m_data)
        return nullImage();
    Data& data = *m_data;
    const QSize size(width, height);
    if (data.fill && !data.fill->complete()) {
        {
            std::lock_guard lock(data.mutex);
            data.wanted = size;
        }
        if (data.provisional.size() != size)
            data.provisional = scaledFrom(data.reduced, width, height);
        return data.provisional;
    }
    if (data.fill) {
        std::unique_lock lock(data.mutex);
        data.exactMade.wait(lock, [&] { return !data.exactPending; });
        if (data.exact.size() == size)
            data.scaled = std::move(data.exact);
        data.exact = QImage();
    }
    if (data.scaled.size() != size)
        data.scaled = scaledFrom(data.fill ? QImage() : data.reduced, width, height);
    return data.scaled;
}

QImage Picture::scaledFrom(const QImage& reduced, int width, int height) const
{
    // A copy reduced at least as much as the block-averaged image is made
    // from it: the same averages, from far fewer pixels.
    const QImage& image = m_data->image; // its size only, unless scaled whole
    const int block = reduced.isNull() ? 1 : (image.width() + reduced.width() - 1) / reduced.width();
    const bool fromReduced = block > 1 && qint64(width) * block <= image.width()
        && qint64(height) * block <= image.height();
    return fromReduced ? scaleSmoothFromBlocks(reduced, image.size(), block, width, height)
                       : scaleSmooth(this->image(), width, height);
}

} // namespace korvane
