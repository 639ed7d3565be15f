#include "tiled_support.h"

#include "support.h"

#include "decode/decoders.h"
#include "platform/decoded_picture.h"

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <filesystem>

#include <fcntl.h>
#include <unistd.h>

namespace korvane::test {

FileFacts factsFor(const std::string& path, qint64 availableBytes)
{
    FileFacts facts;
    facts.fileBytes = qint64(std::filesystem::file_size(path));
    facts.availableBytes = availableBytes;
    facts.overviewSides = QSize(400, 300);
    return facts;
}

Picture loadWithMemory(const std::string& path, qint64 availableBytes)
{
    const FileFacts facts = factsFor(path, availableBytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const auto decode = path.ends_with(".png") ? decodePng
        : path.ends_with(".jpg")               ? decodeJpeg
        : path.ends_with(".jp2")               ? decodeJp2
        : path.ends_with(".svg")               ? decodeSvg
        : path.ends_with(".gif")               ? decodeGif
                                               : decodeTiff;
    Picture picture = pictureFromDecoded(decode(fd, path, facts), path, facts);
    ::close(fd);
    return picture;
}

std::optional<QPoint> firstWrongPixel(const Picture& picture, const QRect& area,
    const std::function<QPoint(QPoint)>& expected)
{
    const Picture::Pixels pixels = picture.pixelsFor(area);
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (decodeCoordinate(pixels.image.pixel(x - pixels.originX, y - pixels.originY)) != expected({x, y}))
                return QPoint(x, y);
    return std::nullopt;
}

int largestDifference(const Picture& picture, const QImage& expected, const QRect& area)
{
    const Picture::Pixels pixels = picture.pixelsFor(area);
    int largest = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb a = pixels.image.pixel(x - pixels.originX, y - pixels.originY), b = expected.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                std::abs(qBlue(a) - qBlue(b))});
        }
    return largest;
}

bool overviewMade(const Picture& picture)
{
    auto made = std::make_shared<std::promise<void>>();
    std::future<void> waited = made->get_future();
    picture.whenComplete([made] { made->set_value(); });
    return waited.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
}

} // namespace korvane::test
