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

#include <jpeglib.h>

namespace korvane::test {

std::string writeJpeg(const std::string& name, const JpegOptions& options)
{
    const std::string path = test::tempDir() + "/" + name;
    FILE* file = std::fopen(path.c_str(), "wb");
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr errors{};
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, file);
    cinfo.image_width = JDIMENSION(options.width);
    cinfo.image_height = JDIMENSION(options.height);
    cinfo.input_components = options.grey ? 1 : 3;
    cinfo.in_color_space = options.grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 95, TRUE);
    cinfo.comp_info[0].h_samp_factor = options.grey ? 1 : options.lumaAcross;
    cinfo.comp_info[0].v_samp_factor = options.grey ? 1 : options.lumaDown;
    cinfo.restart_interval = options.interval;
    cinfo.optimize_coding = options.optimized ? TRUE : FALSE;
    std::array<jpeg_scan_info, 3> apart{};
    if (options.progressive) {
        jpeg_simple_progression(&cinfo);
    } else if (options.scanEach) {
        for (int c = 0; c < cinfo.input_components; ++c)
            apart[std::size_t(c)] = jpeg_scan_info{1, {c, 0, 0, 0}, 0, 63, 0, 0};
        cinfo.scan_info = apart.data();
        cinfo.num_scans = cinfo.input_components;
    }
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<JSAMPLE> row(std::size_t(options.width) * std::size_t(cinfo.input_components));
    while (cinfo.next_scanline < cinfo.image_height) {
        const int y = int(cinfo.next_scanline);
        for (int x = 0; x < options.width; ++x) {
            const QRgb c = test::coordinateColour(x, y);
            if (options.grey)
                row[std::size_t(x)] = JSAMPLE((x ^ y) & 0xFF);
            else
                row[std::size_t(x) * 3] = JSAMPLE(qRed(c)), row[std::size_t(x) * 3 + 1] = JSAMPLE(qGreen(c)),
                row[std::size_t(x) * 3 + 2] = JSAMPLE(qBlue(c));
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::fclose(file);
    return path;
}

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
        : path.ends_with(".bmp")               ? decodeBmp
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
