// LoadPicture: opens the file itself (so that no path is ever handed to a
// reader that might block on it), detects the format from the content, and
// refuses pictures that cannot fit in memory before any pixel is allocated.
#include "picture.h"

#include "image_normalize.h"
#include "memory_info.h"
#include "runtime_error.h"

#include <QFile>
#include <QImageReader>

#include <cerrno>
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

// Opens a regular file for reading; the descriptor is checked again after
// opening, so a path swapped for a FIFO in between is still refused.
int openRegularFile(const std::string& path)
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
    return fd;
}

// Refuses a size whose pixels cannot be held, before decoding starts.
void checkFitsInMemory(const std::string& path, QSize size, qint64 availableBytes)
{
    if (!size.isValid())
        return;
    const qint64 needed = qint64(size.width()) * size.height() * 4;
    if (needed > availableBytes)
        raiseFileError(ErrorKind::OutOfMemory, path,
            "is too large: " + std::to_string(size.width()) + " x " + std::to_string(size.height())
                + " pixels need " + std::to_string(needed >> 20) + " MB, "
                + std::to_string(availableBytes >> 20) + " MB available");
}

QImage decode(QFile& file, const std::string& path)
{
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    reader.setAutoTransform(true);
    const qint64 available = availableMemoryBytes();
    // The reader's own limit (256 MB by default) would refuse large photos.
    reader.setAllocationLimit(static_cast<int>(std::min<qint64>(available >> 20, 1 << 30)));
    if (!reader.canRead())
        raiseFileError(ErrorKind::InvalidPicture, path, "is not an image in a format the viewer reads");
    checkFitsInMemory(path, reader.size(), available);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        raiseFileError(ErrorKind::InvalidPicture, path,
            "cannot be decoded: " + reader.errorString().toStdString());
    return image;
}

} // namespace

Picture LoadPicture(const std::string& path)
{
    if (path.empty())
        return Picture();
    const int fd = openRegularFile(path);
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        raiseFileError(ErrorKind::FileUnreadable, path, "cannot be read");
    }
    QImage image = decode(file, path);
    file.close();
    image = toDisplayFormat(std::move(image));
    if (image.isNull())
        raiseFileError(ErrorKind::OutOfMemory, path, "does not fit in memory");
    return Picture(std::move(image));
}

} // namespace korvane
