#include "support.h"

#include <QBuffer>

#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <stdlib.h>

namespace korvane::test {

QRgb coordinateColour(int x, int y)
{
    return qRgb(x & 0xFF, y & 0xFF, ((x >> 8) & 0xF) << 4 | ((y >> 8) & 0xF));
}

QImage coordinateImage(int width, int height, QImage::Format format)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            row[x] = coordinateColour(x, y);
    }
    return image.convertToFormat(format);
}

QPoint decodeCoordinate(QRgb colour)
{
    return QPoint(qRed(colour) | (qBlue(colour) >> 4) << 8, qGreen(colour) | (qBlue(colour) & 0xF) << 8);
}

Picture pictureOfSize(int width, int height)
{
    return Picture(coordinateImage(width, height));
}

namespace {

// Removed with all it holds when the tests end. QTemporaryDir would leave
// it behind when a test writes a name that is not UTF-8.
struct ScratchDirectory {
    std::string path;
    ScratchDirectory()
    {
        char pattern[] = "/tmp/korvane-tests-XXXXXX";
        if (!mkdtemp(pattern))
            throw std::runtime_error("cannot make a scratch directory");
        path = pattern;
    }
    ~ScratchDirectory()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

} // namespace

std::string tempDir()
{
    static const ScratchDirectory dir;
    return dir.path;
}

std::string writeImage(const QImage& image, const std::string& name, const char* format, int quality)
{
    const std::string path = tempDir() + "/" + name;
    if (!image.save(QString::fromStdString(path), format, quality))
        throw std::runtime_error("cannot write " + path);
    return path;
}

std::string writeBytes(const std::string& name, const std::string& bytes)
{
    const std::string path = tempDir() + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

std::string writeOrientedJpeg(const QImage& stored, const std::string& name, int orientation)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    if (!stored.save(&buffer, "jpg", 100))
        throw std::runtime_error("cannot encode " + name);
    // APP1: "Exif", a big-endian TIFF header and one directory entry,
    // 0x0112 SHORT 1 = orientation.
    const unsigned char app1[] = {0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 42, 0, 0, 0, 8,
        0, 1, 0x01, 0x12, 0, 3, 0, 0, 0, 1, 0, static_cast<unsigned char>(orientation), 0, 0, 0, 0, 0, 0};
    std::string bytes = jpeg.toStdString();
    bytes.insert(2, reinterpret_cast<const char*>(app1), sizeof app1);
    return writeBytes(name, bytes);
}

QRgb pixelAt(const PictureBox& panel, int x, int y)
{
    const QImage& backing = panel.backing();
    if (backing.isNull())
        return qRgb(255, 255, 255);
    if (!backing.valid(x, y))
        throw std::out_of_range("pixel outside the panel");
    return backing.pixel(x, y) | 0xFF000000;
}

namespace {
std::optional<RuntimeError>& lastError()
{
    static std::optional<RuntimeError> error;
    return error;
}
} // namespace

std::optional<RuntimeError> takeReportedError()
{
    auto error = lastError();
    lastError().reset();
    return error;
}

void installRecordingReporter()
{
    setErrorReporter([](const RuntimeError& error) { lastError() = error; });
}

} // namespace korvane::test
