#include "tiff_file.h"

#include "read_at.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace korvane {

namespace {

tmsize_t readProc(thandle_t handle, void* buffer, tmsize_t size)
{
    auto* file = static_cast<TiffFile*>(handle);
    auto done = tmsize_t(readAt(file->fd, file->offset, buffer, std::size_t(size)));
    file->offset += done;
    if (file->padPastEnd && done < size) {
        std::memset(static_cast<char*>(buffer) + done, 0, std::size_t(size - done));
        file->offset += size - done;
        done = size;
    }
    return done;
}

tmsize_t writeProc(thandle_t, void*, tmsize_t) { return -1; }

toff_t seekProc(thandle_t handle, toff_t offset, int whence)
{
    auto* file = static_cast<TiffFile*>(handle);
    const qint64 base = whence == SEEK_CUR ? file->offset : whence == SEEK_END ? file->size : 0;
    file->offset = base + qint64(offset);
    return toff_t(file->offset);
}

int closeProc(thandle_t) { return 0; }
toff_t sizeProc(thandle_t handle) { return toff_t(static_cast<TiffFile*>(handle)->size); }

int keepError(TIFF*, void* data, const char* module, const char* format, va_list arguments)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, arguments);
    static_cast<TiffFile*>(data)->message = module ? std::string(module) + ": " + text : std::string(text);
    return 1; // handled: nothing reaches stderr
}

int ignoreWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

} // namespace

TIFF* openTiff(TiffFile& file, const std::string& path, const FileFacts& facts)
{
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetErrorHandlerExtR(options, keepError, &file);
    TIFFOpenOptionsSetWarningHandlerExtR(options, ignoreWarning, &file);
    // A second guard beside the checks below: no single allocation of
    // libtiff's may exceed the memory there is.
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(std::max<qint64>(facts.availableBytes, 1)));
    // "m": read through the descriptor, never map the file.
    TIFF* tiff = TIFFClientOpenExt(path.c_str(), "rm", &file, readProc, writeProc, seekProc, closeProc, sizeProc,
        nullptr, nullptr, options);
    TIFFOpenOptionsFree(options);
    return tiff;
}

bool isGrey(TIFF* tiff)
{
    uint16_t photometric = 0, samples = 1, extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    return (photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE)
        && samples - extraCount == 1;
}

QByteArray iccProfileOf(TIFF* tiff)
{
    uint32_t length = 0;
    void* profile = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &length, &profile) && profile)
        return QByteArray(static_cast<const char*>(profile), qsizetype(length));
    return QByteArray();
}

} // namespace korvane
