#include "decode_limits.h"

#include "../runtime_error.h"

namespace korvane {

namespace {

std::string sizeText(qint64 width, qint64 height)
{
    return std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

} // namespace

void checkFitsInMemory(const std::string& path, qint64 width, qint64 height, int bytesPerPixel,
    const FileFacts& facts)
{
    const qint64 needed = width * height * bytesPerPixel;
    if (needed > facts.availableBytes)
        raiseFileError(ErrorKind::OutOfMemory, path,
            "is too large: " + sizeText(width, height) + " need " + std::to_string(needed >> 20) + " MB, "
                + std::to_string(facts.availableBytes >> 20) + " MB available");
}

void checkHoldsEnoughData(const std::string& path, qint64 width, qint64 height, double minBytesPerMegapixel,
    const FileFacts& facts)
{
    const double pixels = double(width) * double(height);
    if (double(facts.fileBytes) < pixels / 1e6 * minBytesPerMegapixel)
        raiseFileError(ErrorKind::InvalidPicture, path,
            "is damaged or cut short: its header claims " + sizeText(width, height) + " but the file holds only "
                + std::to_string(facts.fileBytes) + " bytes");
}

} // namespace korvane
