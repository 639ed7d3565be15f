#include "decode_limits.h"

#include "decode_error.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <unistd.h>

namespace korvane {

namespace {

std::string sizeText(qint64 width, qint64 height)
{
    return std::to_string(width) + " x " + std::to_string(height) + " pixels";
}

// width x height x perPixel + width x perRowPixel, or -1 past qint64.
qint64 neededBytes(qint64 width, qint64 height, PeakBytes peak)
{
    qint64 pixels = 0, picture = 0, rows = 0, total = 0;
    if (__builtin_mul_overflow(width, height, &pixels) || __builtin_mul_overflow(pixels, qint64(peak.perPixel), &picture)
        || __builtin_mul_overflow(width, qint64(peak.perRowPixel), &rows) || __builtin_add_overflow(picture, rows, &total))
        return -1;
    return total;
}

} // namespace

void checkSides(const std::string& path, qint64 width, qint64 height, qint64 maxSide)
{
    if (width <= 0 || height <= 0)
        raiseDecodeError(DecodeFailure::InvalidPicture, path, "is damaged: its header claims " + sizeText(width, height));
    if (width > maxSide || height > maxSide)
        raiseDecodeError(DecodeFailure::InvalidPicture, path,
            "is damaged: its header claims " + sizeText(width, height) + ", more than "
                + std::to_string(maxSide) + " a side");
}

void checkFitsInMemory(const std::string& path, qint64 width, qint64 height, PeakBytes peak,
    const FileFacts& facts)
{
    const qint64 needed = neededBytes(width, height, peak);
    if (needed < 0 || needed > facts.availableBytes)
        raiseDecodeError(DecodeFailure::OutOfMemory, path,
            "is too large: " + sizeText(width, height) + " need "
                + (needed < 0 ? std::string("more than 8 EB") : std::to_string(needed >> 20) + " MB") + ", "
                + std::to_string(facts.availableBytes >> 20) + " MB available");
}

void checkHoldsEnoughData(const std::string& path, qint64 width, qint64 height, double minBytesPerMegapixel,
    qint64 dataBytes)
{
    const double pixels = double(width) * double(height);
    if (double(dataBytes) < pixels / 1e6 * minBytesPerMegapixel)
        raiseDecodeError(DecodeFailure::InvalidPicture, path,
            "is damaged or cut short: its header claims " + sizeText(width, height) + " but the file holds only "
                + std::to_string(dataBytes) + " bytes");
}

int allocationLimitMegabytes(const FileFacts& facts)
{
    return static_cast<int>(std::clamp<qint64>(facts.availableBytes >> 20, 1, std::numeric_limits<int>::max()));
}

std::size_t readFromStart(int fd, const std::string& path, std::span<unsigned char> into)
{
    std::size_t done = 0;
    while (done < into.size()) {
        const ssize_t count = ::pread(fd, into.data() + done, into.size() - done, off_t(done));
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            raiseDecodeError(DecodeFailure::FileUnreadable, path, "cannot be read");
        if (count == 0)
            break;
        done += std::size_t(count);
    }
    return done;
}

qint64 pictureCacheBytes(qint64 availableBytes)
{
    return std::clamp<qint64>(availableBytes / 4, 0, qint64(512) << 20);
}

} // namespace korvane
