#include "decode_limits.h"
#include "texts.h"

#include "decode_error.h"
#include "read_at.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <unistd.h>

namespace korvane {

namespace {

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

bool holdsEnoughData(qint64 width, qint64 height, double minBytesPerMegapixel, qint64 dataBytes)
{
    return double(dataBytes) >= double(width) * double(height) / 1e6 * minBytesPerMegapixel;
}

bool fitsInMemory(qint64 width, qint64 height, PeakBytes peak, const FileFacts& facts)
{
    const qint64 needed = neededBytes(width, height, peak);
    return needed >= 0 && needed <= facts.availableBytes;
}

void checkSides(const std::string& path, qint64 width, qint64 height, qint64 maxSide)
{
    if (width <= 0 || height <= 0)
        raiseDecodeError(DecodeFailure::InvalidPicture, path,
            filledIn(translated("reason", "is damaged: its header claims %1 x %2 pixels"),
                {std::to_string(width), std::to_string(height)}));
    if (width > maxSide || height > maxSide)
        raiseDecodeError(DecodeFailure::InvalidPicture, path,
            filledIn(translated("reason", "is damaged: its header claims %1 x %2 pixels, more than %3 a side"),
                {std::to_string(width), std::to_string(height), std::to_string(maxSide)}));
}

void checkFitsInMemory(const std::string& path, qint64 width, qint64 height, PeakBytes peak,
    const FileFacts& facts, const std::string& why)
{
    const qint64 needed = neededBytes(width, height, peak);
    if (needed >= 0 && needed <= facts.availableBytes)
        return;
    const std::string reason
        = filledIn(translated("reason", "is too large: %1 x %2 pixels need %3, %4 MB available"),
            {std::to_string(width), std::to_string(height),
                needed < 0 ? translated("reason", "more than 8 EB")
                           : filledIn(translated("reason", "%1 MB"), {std::to_string(needed >> 20)}),
                std::to_string(facts.availableBytes >> 20)});
    raiseDecodeError(DecodeFailure::OutOfMemory, path,
        why.empty() ? reason : filledIn(translated("reason", "%1; %2"), {reason, why}));
}

void checkHoldsEnoughData(const std::string& path, qint64 width, qint64 height, double minBytesPerMegapixel,
    qint64 dataBytes)
{
    if (!holdsEnoughData(width, height, minBytesPerMegapixel, dataBytes))
        raiseDecodeError(DecodeFailure::InvalidPicture, path,
            filledIn(translated("reason",
                         "is damaged or cut short: its header claims %1 x %2 pixels but the file holds only %3 bytes"),
                {std::to_string(width), std::to_string(height), std::to_string(dataBytes)}));
}

int allocationLimitMegabytes(const FileFacts& facts)
{
    return static_cast<int>(std::clamp<qint64>(facts.availableBytes >> 20, 1, std::numeric_limits<int>::max()));
}

std::size_t readFromStart(int fd, const std::string& path, std::span<unsigned char> into)
{
    bool failed = false;
    const std::size_t done = readAt(fd, 0, into.data(), into.size(), &failed);
    if (failed)
        raiseDecodeError(DecodeFailure::FileUnreadable, path, cannotBeRead());
    return done;
}

qint64 pictureCacheBytes(qint64 availableBytes)
{
    return std::clamp<qint64>(availableBytes / 4, 0, qint64(512) << 20);
}

bool decodesWhole(qint64 width, qint64 height, double pictureBytesPerPixel, PeakBytes peak, const FileFacts& facts)
{
    const double pictureBytes = double(width) * double(height) * pictureBytesPerPixel;
    return pictureBytes <= double(pictureCacheBytes(facts.availableBytes)) && fitsInMemory(width, height, peak, facts);
}

BandBytes bandBytes(qint64 availableBytes)
{
    const qint64 cacheBytes = pictureCacheBytes(availableBytes);
    return {std::size_t(std::min<qint64>(qint64(32) << 20, cacheBytes / 16)), std::size_t(cacheBytes / 4)};
}

} // namespace korvane
