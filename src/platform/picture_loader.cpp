// LoadPicture: opens the file itself (so that no path is ever handed to a
// reader that might block on it), detects the format from the content, and
// refuses pictures that cannot fit in memory before any pixel is allocated.
#include "picture.h"

#include "decode/decoders.h"
#include "image_normalize.h"
#include "memory_info.h"
#include "runtime_error.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>

#include <cerrno>
#include <future>
#include <mutex>
#include <optional>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {

namespace {

std::string fileTypeReason(mode_t mode)
{
    if (S_ISDIR(mode))
        return "is a directory";
    if (S_ISFIFO(mode))
        return "is a pipe, not a regular file";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "is a device, not a regular file";
    if (S_ISSOCK(mode))
        return "is a socket, not a regular file";
    return "is not a regular file";
}

std::string openReason(int error)
{
    if (error == ENOENT || error == ENOTDIR)
        return "no such file";
    if (error == EACCES || error == EPERM)
        return "permission denied";
    return std::strerror(error);
}

// For the formats left to Qt's readers: none packs a megapixel into fewer
// bytes than this in a real picture, and a header that claims more would
// have Qt fill gigabytes from a few hundred bytes.
constexpr double kMinBytesPerMegapixelForQtReaders = 16;

// Opens a regular file for reading; the descriptor is checked again after
// opening, so a path swapped for a FIFO in between is still refused.
int openRegularFile(const std::string& path, FileFacts& facts)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        raiseFileError(errno == ENOENT || errno == ENOTDIR ? ErrorKind::FileNotFound : ErrorKind::FileUnreadable,
            path, openReason(errno));
    if (!S_ISREG(info.st_mode))
        raiseFileError(ErrorKind::NotAFile, path, fileTypeReason(info.st_mode));
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        raiseFileError(ErrorKind::FileUnreadable, path, openReason(errno));
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        raiseFileError(ErrorKind::NotAFile, path, fileTypeReason(info.st_mode));
    }
    if (info.st_size == 0) {
        ::close(fd);
        raiseFileError(ErrorKind::InvalidPicture, path, "is empty");
    }
    facts.fileBytes = info.st_size;
    return fd;
}

// JPEG and PNG have decoders of their own; a null image means "not those".
DecodedPicture decodeDirectly(int fd, const std::string& path, const FileFacts& facts)
{
    unsigned char head[8] = {};
    const ssize_t count = ::pread(fd, head, sizeof head, 0);
    const std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 0;
    if (looksLikeJpeg(head, size))
        return decodeJpeg(fd, path, facts);
    if (looksLikePng(head, size))
        return decodePng(fd, path, facts);
    return {};
}

QImage decodeWithQt(int fd, const std::string& path, const FileFacts& facts)
{
    ::lseek(fd, 0, SEEK_SET);
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        raiseFileError(ErrorKind::FileUnreadable, path, "cannot be read");
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    // The reader's own limit (256 MB by default) would refuse large photos.
    reader.setAllocationLimit(static_cast<int>(std::min<qint64>(facts.availableBytes >> 20, 1 << 30)));
    if (!reader.canRead())
        raiseFileError(ErrorKind::InvalidPicture, path, "is not an image in a format the viewer reads");
    const QSize size = reader.size();
    if (size.isValid()) {
        checkHoldsEnoughData(path, size.width(), size.height(), kMinBytesPerMegapixelForQtReaders, facts);
        checkFitsInMemory(path, size.width(), size.height(), 4, facts); // Qt's readers give 32-bit pixels
    }
    QImage image;
    if (!reader.read(&image) || image.isNull())
        raiseFileError(ErrorKind::InvalidPicture, path,
            "cannot be decoded: " + reader.errorString().toStdString());
    return image;
}

// Closes the descriptor however decoding ends.
struct FileCloser {
    int fd;
    ~FileCloser() { ::close(fd); }
};

} // namespace

namespace {

struct Preload {
    std::string path;
    std::future<std::optional<Picture>> picture; // empty: left to Qt's readers
};

std::mutex g_preloadMutex;
std::optional<Preload> g_preload;

// Only formats whose decoders need nothing from Qt's plugins: Qt's image
// readers are not started before the application is.
bool startsLikeJpegOrPng(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info {};
    unsigned char head[8] = {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const ssize_t count = regular ? ::pread(fd, head, sizeof head, 0) : 0;
    ::close(fd);
    const std::size_t size = count > 0 ? static_cast<std::size_t>(count) : 0;
    return looksLikeJpeg(head, size) || looksLikePng(head, size);
}

Picture loadNow(const std::string& path, bool withQtReaders = true);

} // namespace

void PreloadPicture(const std::string& path)
{
    if (path.empty() || !startsLikeJpegOrPng(path))
        return;
    std::lock_guard lock(g_preloadMutex);
    g_preload = Preload{path, std::async(std::launch::async, [path]() -> std::optional<Picture> {
        Picture picture = loadNow(path, false);
        if (picture.isEmpty())
            return std::nullopt;
        return picture;
    })};
}

Picture LoadPicture(const std::string& path)
{
    std::optional<Preload> preload;
    {
        std::lock_guard lock(g_preloadMutex);
        if (g_preload && g_preload->path == path) {
            preload = std::move(g_preload);
            g_preload.reset();
        }
    }
    if (preload) {
        std::optional<Picture> picture = preload->picture.get(); // its error, if any, is raised here
        if (picture)
            return *picture;
    }
    return loadNow(path);
}

namespace {

Picture loadNow(const std::string& path, bool withQtReaders)
{
    if (path.empty())
        return Picture();
    FileFacts facts;
    const FileCloser file{openRegularFile(path, facts)};
    facts.availableBytes = availableMemoryBytes();
    DecodedPicture decoded = decodeDirectly(file.fd, path, facts);
    if (decoded.image.isNull()) {
        if (!withQtReaders)
            return Picture(); // Qt's readers run on the main thread only
        decoded.image = decodeWithQt(file.fd, path, facts);
    }
    // The reduced copy gets the same colour conversion as the picture.
    decoded.reduced.setColorSpace(decoded.image.colorSpace());
    QImage image = toDisplayFormat(std::move(decoded.image));
    if (image.isNull())
        raiseFileError(ErrorKind::OutOfMemory, path, "does not fit in memory");
    return Picture(std::move(image), toDisplayFormat(std::move(decoded.reduced)));
}

} // namespace

} // namespace korvane
