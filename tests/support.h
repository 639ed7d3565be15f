#pragma once
// Shared by the tests: pictures whose pixels tell their own coordinates,
// temporary files, and the error that the last handler raised.
#include "platform/controls.h"
#include "platform/runtime_error.h"

#include <QImage>
#include <QPoint>

#include <optional>
#include <string>

namespace korvane::test {

// Pixel (x, y) holds red x % 256, green y % 256 and, in blue, the high
// nibbles of x and y; any pixel says where it came from (up to 4096 px).
QRgb coordinateColour(int x, int y);
QImage coordinateImage(int width, int height, QImage::Format format = QImage::Format_RGB888);
// The image point a coordinate colour names.
QPoint decodeCoordinate(QRgb colour);

// A picture made in memory at the given pixel size.
Picture pictureOfSize(int width, int height);

// A directory removed when the test program ends.
std::string tempDir();
// Writes the image in the given format ("png", "jpg", ...) and returns the path.
std::string writeImage(const QImage& image, const std::string& name, const char* format, int quality = -1);
std::string writeBytes(const std::string& name, const std::string& bytes);
// Writes the image as a JPEG whose Exif segment carries the orientation
// tag (1 to 8), the pixels left as stored.
std::string writeOrientedJpeg(const QImage& stored, const std::string& name, int orientation);

// The panel's pixel at (x, y); white where nothing was ever drawn.
QRgb pixelAt(const PictureBox& panel, int x, int y);

// The error that the last guarded handler reported, if any; reset on read.
std::optional<RuntimeError> takeReportedError();

// Runs code that must raise the given error kind.
template <class F>
ErrorKind kindRaisedBy(F&& code)
{
    try {
        code();
    } catch (const RuntimeError& error) {
        return error.kind();
    }
    throw std::logic_error("no error raised");
}

} // namespace korvane::test
