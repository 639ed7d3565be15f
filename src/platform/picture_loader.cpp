// LoadPicture: opens the file itself (so that no path is ever handed to a
// reader that might block on it), detects the format from the content, and
// refuses pictures that cannot fit in memory before any pixel is allocated.
#include "decoded_picture.h"
#include "decode/read_at.h"
#include "decode/texts.h"
#include "picture.h"

#include "memory_info.h"
#include "overview_geometry.h"
#include "runtime_error.h"
#include "startup_trace.h"

#include "decode/container_checks.h"
#include "decode/decode_error.h"
#include "decode/decoders.h"
#include "decode/image_normalize.h"
#include "decode/library_messages.h"
#include "decode/owned_fd.h"
#include "decode/row_fill.h"
#include "picture/tiled_picture.h"

#include <QColorSpace>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace korvane {

namespace {

std::string fileTypeReason(mode_t mode)
{
    if (S_ISDIR(mode))
        return translated("reason", "is a directory");
    if (S_ISFIFO(mode))
        return translated("reason", "is a pipe, not a regular file");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return translated("reason", "is a device, not a regular file");
    if (S_ISSOCK(mode))
        return translated("reason", "is a socket, not a regular file");
    return translated("reason", "is not a regular file");
}

std::string openReason(int error)
{
    if (error == ENOENT || error == ENOTDIR)
        return translated("reason", "no such file");
    if (error == EACCES || error == EPERM)
        return translated("reason", "permission denied");
    char buffer[256] = {};
    return strerror_r(error, buffer, sizeof buffer); // GNU: returns the text
}

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
        raiseFileError(ErrorKind::InvalidPicture, path, translated("reason", "is empty"));
    }
    facts.fileBytes = info.st_size;
    return fd;
}

using Decoder = DecodedPicture (*)(int fd, const std::string& path, const FileFacts& facts);

// The decoder of our own for the file's format, if there is one: these need
// nothing from Qt's plugins.
Decoder ownDecoderFor(int fd, const std::string& path, qint64 fileBytes)
{
    unsigned char head[64] = {};
    const std::span<const unsigned char> read(head, readAt(fd, 0, head, sizeof head));
    if (looksLikeJpeg(read))
        return decodeJpeg;
    if (looksLikePng(read))
        return decodePng;
    if (looksLikeTiff(read))
        return decodeTiff;
    if (looksLikeWebp(read))
        return decodeWebp;
    if (looksLikeHeif(read))
        return decodeHeif;
    if (looksLikeJxl(read))
        return decodeJxl;
    if (looksLikeGif(read))
        return decodeGif;
    if (looksLikeJp2(read))
        return decodeJp2;
    if (looksLikeBmp(read))
        return decodeBmp;
    if (looksLikeTga(read, fd, path, fileBytes))
        return decodeTga;
    return nullptr;
}


// The formats left to Qt's readers, each tried here on damaged and
// oversized files. A reader some other package adds to the machine is not
// used until it has been.
constexpr std::array<const char*, 18> kQtReaderFormats = {"bmp", "cur", "icns", "ico", "jpeg", "jpg", "mng",
    "pbm", "pgm", "png", "ppm", "tga", "tif", "tiff", "wbmp", "webp", "xbm", "xpm"};

// The formats our own decoders read whatever Qt's plugins are.
constexpr std::array<const char*, 15> kOwnDecoderMimeTypes = {"image/avif", "image/gif", "image/heic", "image/heif",
    "image/jp2", "image/jpeg", "image/jpx", "image/jxl", "image/png", "image/x-jp2-codestream", "image/svg+xml", "image/svg+xml-compressed", "image/tiff", "image/webp", "image/x-tga"};

bool isUsedQtFormat(const QByteArray& format)
{
    return std::any_of(kQtReaderFormats.begin(), kQtReaderFormats.end(),
        [&](const char* name) { return format == name; });
}

// The file's suffix, lower case, when Qt has a reader of that name: a
// hint for formats with no signature (TGA) when the content names none.
QByteArray readerNamedBySuffix(const std::string& path)
{
    const QByteArray suffix = QByteArray::fromStdString(lowerCaseSuffix(path));
    return isUsedQtFormat(suffix) && QImageReader::supportedImageFormats().contains(suffix) ? suffix : QByteArray();
}

// What a Qt reader holds at its peak: its own image (a byte a pixel for a
// palette, 4 for colour, 8 for 16-bit channels; 4 when it cannot say) and
// the RGB888 picture made from it.
PeakBytes qtReaderPeak(QImage::Format format)
{
    const int depth = format == QImage::Format_Invalid ? 32 : QImage::toPixelFormat(format).bitsPerPixel();
    return PeakBytes{std::max(1, depth / 8) + 3, 0};
}

// Qt's readers draw into the image they are given when it has the right size
// and format, and some leave pixels unwritten (an RLE bitmap that ends early):
// those must not show whatever the memory held before. Palette entry 0 is
// what an indexed picture's painter leaves; other formats get the white that
// every cut-short picture shows.
QImage blankCanvas(QSize size, QImage::Format format)
{
    if (!size.isValid() || format == QImage::Format_Invalid)
        return QImage();
    QImage canvas(size, format);
    if (canvas.isNull())
        return canvas;
    if (canvas.format() == QImage::Format_Indexed8 || canvas.depth() < 8)
        canvas.fill(0);
    else
        canvas.fill(Qt::white);
    return canvas;
}

QImage decodeWithQt(int fd, const std::string& path, const FileFacts& facts)
{
    checkNestedPictures(fd, path, facts);
    ::lseek(fd, 0, SEEK_SET);
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::DontCloseHandle))
        raiseFileError(ErrorKind::FileUnreadable, path, cannotBeRead());
    const LibraryMessages messages;
    QImageReader reader(&file);
    reader.setDecideFormatFromContent(true);
    if (!reader.canRead() || !isUsedQtFormat(reader.format())) {
        const QByteArray hint = readerNamedBySuffix(path);
        file.seek(0);
        reader.setDecideFormatFromContent(false);
        reader.setFormat(hint);
        if (hint.isEmpty() || !reader.canRead())
            raiseFileError(ErrorKind::InvalidPicture, path, translated("reason", "is not an image in a format the viewer reads"));
    }
    reader.setAutoTransform(true);
    // Qt's own limit (128 MB in Qt 6.4) would refuse large photos; the
    // memory check below has the last word on each picture.
    reader.setAllocationLimit(allocationLimitMegabytes(facts));
    const QSize size = reader.size();
    if (size.isValid())
        checkFitsInMemory(path, size.width(), size.height(), qtReaderPeak(reader.imageFormat()), facts);
    QImage image = blankCanvas(size, reader.imageFormat());
    if (!reader.read(&image) || image.isNull()) {
        const std::string detail = messages.last();
        raiseFileError(ErrorKind::InvalidPicture, path,
            cannotBeDecoded(reader.errorString().toStdString() + (detail.empty() ? "" : " (" + detail + ")")));
    }
    return image;
}

// Qt's image plugins, made on the calling (main) thread before a loading
// thread can ask for one: made there, a plugin would keep that thread's
// data past the thread's end, and the plugins would free it twice as the
// program exits.
void makeQtReadersHere()
{
    static std::once_flag made;
    std::call_once(made, [] { QImageReader::supportedImageFormats(); });
}

// A load running on a thread of its own, and how far it has come.
struct Load {
    std::string path;
    std::shared_ptr<LoadProgress> progress;
    std::future<std::optional<Picture>> picture; // empty: left to Qt's readers
};

std::mutex g_loadMutex;
std::optional<Load> g_preload;
LoadWaiter g_waiter;

// Every pixel of a picture read in tiles that is small enough to hold.
QImage wholeOf(TiledPicture& picture)
{
    QImage image(picture.width(), picture.height(),
        picture.channels() == 1 ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
    if (!image.isNull())
        picture.read({0, 0, image.width(), image.height()}, image.bits(), std::size_t(image.bytesPerLine()));
    return image;
}

// Blocks that leave about twice the overview's sides (for smooth scaling,
// and for screens scaled 2x), and at most 4 megapixels.
int overviewBlock(int width, int height, QSize overviewSides)
{
    const int sides = width > height ? width / std::max(1, 2 * overviewSides.width())
                                     : height / std::max(1, 2 * overviewSides.height());
    int block = std::clamp(sides, 1, 4096); // the sums of a block stay within 32 bits
    // Large blocks are multiples of 8, which a JPEG's DCT scaling reads
    // for a fraction of a whole decode.
    const int step = block >= 16 ? 8 : 1;
    block = (block + step - 1) / step * step;
    const auto pixels = [&](int b) { return qint64((width + b - 1) / b) * ((height + b - 1) / b); };
    while (block < 4096 && pixels(block) > (qint64(4) << 20))
        block += step;
    return std::min(block, 4096);
}

Picture tiledPicture(DecodedPicture decoded, const std::string& path, const FileFacts& facts)
{
    const auto cacheBytes = std::size_t(pictureCacheBytes(facts.availableBytes));
    auto tiles = std::make_shared<TiledPicture>(std::move(decoded.tiles), decoded.orientation, cacheBytes);
    if (!decoded.overviewTiles) {
        // Handed over at once: the overview grows as one pass over every
        // tile averages them, while the detail view reads its own tiles.
        tiles->startAveraging(overviewBlock(tiles->width(), tiles->height(), facts.overviewSides));
        tiles->whenComplete([] { markStartup("overview-complete"); });
        if (tiles->readsWholeFileFirst()) {
            // Its top rows need most of its data (the last scan refines
            // every block): the load waits for them, behind the progress
            // window, so that the first screenful is final when shown.
            std::array<std::uint8_t, 3> corner{};
            tiles->read({0, 0, 1, 1}, corner.data(), corner.size());
        }
        return Picture(tiles);
    }
    TiledPicture level(std::move(decoded.overviewTiles), decoded.orientation, cacheBytes / 2);
    const QImage overview = wholeOf(level);
    if (overview.isNull())
        raiseFileError(ErrorKind::OutOfMemory, path, doesNotFitInMemory());
    return Picture(std::move(tiles), overview);
}

// The picture's file, opened once for its whole load, and the decoder of
// our own its content asks for, once probed.
struct OpenedFile {
    OwnedFd file;
    FileFacts facts;
    std::optional<Decoder> decoder; // null: left to Qt's readers
};

OpenedFile openPicture(const std::string& path)
{
    FileFacts facts;
    OwnedFd file(openRegularFile(path, facts));
    return {std::move(file), facts, std::nullopt};
}

Picture loadNow(OpenedFile opened, const std::string& path, bool withQtReaders, LoadProgress* progress)
{
    const OwnedFd file = std::move(opened.file);
    FileFacts facts = opened.facts;
    const Decoder decoder = opened.decoder ? *opened.decoder : ownDecoderFor(file.fd, path, facts.fileBytes);
    facts.availableBytes = availableMemoryBytes();
    facts.progress = progress;
    facts.overviewSides = QSize(static_cast<int>(kOverviewWidthPixels), static_cast<int>(kOverviewHeightPixels));
    // The window opens at its least height, 674 pixels outside, so the
    // detail view's first rows are fewer than that. One that opens taller,
    // or on a denser screen, asks for more rows as it paints, and the
    // decoder goes on at once.
    facts.firstRows = 674;
    // A null image means "left to Qt's readers".
    DecodedPicture decoded = decoder ? decoder(file.fd, path, facts) : DecodedPicture{};
    const bool held = decoded.tiles || decoded.planes || decoded.fill || !decoded.image.isNull();
    if (!held) {
        if (!withQtReaders)
            return Picture(); // SVG and Qt's readers wait for the application
        if (looksLikeSvg(file.fd))
            decoded = decodeSvg(file.fd, path, facts);
        else
            decoded.image = decodeWithQt(file.fd, path, facts);
    }
    return pictureFromDecoded(std::move(decoded), path, facts);
}

ErrorKind errorKindOf(DecodeFailure failure)
{
    switch (failure) {
    case DecodeFailure::FileUnreadable:
        return ErrorKind::FileUnreadable;
    case DecodeFailure::OutOfMemory:
        return ErrorKind::OutOfMemory;
    case DecodeFailure::InvalidPicture:
        break;
    }
    return ErrorKind::InvalidPicture;
}

// Any failure on the loading thread comes back as a file error.
std::optional<Picture> loadGuarded(const std::string& path, bool withQtReaders, LoadProgress* progress,
    std::optional<OpenedFile> opened)
{
    try {
        Picture picture = loadNow(opened ? std::move(*opened) : openPicture(path), path, withQtReaders, progress);
        markStartup("picture-loaded");
        if (picture.isEmpty())
            return std::nullopt;
        return picture;
    } catch (const RuntimeError&) {
        throw;
    } catch (const DecodeError& error) {
        raiseFileError(errorKindOf(error.failure()), error.path(), error.what());
    } catch (const std::bad_alloc&) {
        raiseFileError(ErrorKind::OutOfMemory, path, doesNotFitInMemory());
    } catch (const std::exception& error) {
        raiseFileError(ErrorKind::InvalidPicture, path, cannotBeDecoded(error.what()));
    }
}

// The overview a picture will be drawn at, made while the program starts.
// Only a guess at the panel's size: a miss costs the loading thread's time,
// not the window's.
void makeOverview(const std::optional<Picture>& picture, const OverviewSize& overviewSize)
{
    if (!picture || !overviewSize)
        return;
    try {
        const auto [width, height] = overviewSize(picture->pixelWidth(), picture->pixelHeight());
        picture->makeOverviewAhead(width, height);
        markStartup("overview-made");
    } catch (const std::exception&) {
        // Made where it is drawn, and reported there if it fails again.
    }
}

// `opened`: the file, when the caller has opened it already.
Load startLoad(const std::string& path, bool withQtReaders, std::optional<OpenedFile> opened = std::nullopt,
    OverviewSize overviewSize = {})
{
    auto progress = std::make_shared<LoadProgress>();
    auto future = std::async(std::launch::async,
        [path, withQtReaders, progress, opened = std::move(opened), overviewSize = std::move(overviewSize)]() mutable {
            std::optional<Picture> picture = loadGuarded(path, withQtReaders, progress.get(), std::move(opened));
            makeOverview(picture, overviewSize);
            return picture;
        });
    return Load{path, progress, std::move(future)};
}

std::optional<Load> takePreload(const std::string& path)
{
    std::lock_guard lock(g_loadMutex);
    std::optional<Load> load;
    if (g_preload && g_preload->path == path)
        load = std::move(g_preload);
    g_preload.reset();
    return load;
}

// Waits for the load through the application's waiter, then hands over
// its picture or raises its error.
std::optional<Picture> finish(Load& load)
{
    if (g_waiter)
        g_waiter(load.path, *load.progress, [&load](std::chrono::milliseconds wait) {
            return load.picture.wait_for(wait) == std::future_status::ready;
        });
    return load.picture.get();
}

} // namespace

Picture pictureFromDecoded(DecodedPicture decoded, const std::string& path, const FileFacts& facts)
{
    if (decoded.tiles) // too large to hold: read in tiles where drawn
        return tiledPicture(std::move(decoded), path, facts);
    if (decoded.planes) // made into RGB, in sRGB, where drawn; perhaps still decoding
        return Picture(decoded.planes, decoded.reduced, std::move(decoded.fill));
    if (decoded.fill && decoded.reduced.isNull()) { // the same, its overview growing with the rows
        const int block = overviewBlock(decoded.image.width(), decoded.image.height(), facts.overviewSides);
        Picture picture(std::move(decoded.image), std::move(decoded.fill), block);
        picture.whenComplete([] { markStartup("overview-complete"); });
        return picture;
    }
    if (decoded.fill) // already in the display format, its rows still coming
        return Picture(std::move(decoded.image), decoded.reduced, std::move(decoded.fill));
    // The reduced copy gets the same colour conversion as the picture.
    decoded.reduced.setColorSpace(decoded.image.colorSpace());
    QImage image = toDisplayFormat(std::move(decoded.image));
    if (image.isNull())
        raiseFileError(ErrorKind::OutOfMemory, path, doesNotFitInMemory());
    return Picture(std::move(image), toDisplayFormat(std::move(decoded.reduced)));
}

bool PreloadPicture(const std::string& path, OverviewSize overviewSize)
{
    if (path.empty())
        return false;
    // Only formats with decoders of our own: Qt's image readers are not
    // started before the application is. A file that cannot be opened is
    // left to the load, which reports it.
    std::optional<OpenedFile> opened;
    try {
        opened.emplace(openPicture(path));
    } catch (const RuntimeError&) {
        return false;
    }
    opened->decoder = ownDecoderFor(opened->file.fd, path, opened->facts.fileBytes);
    if (!*opened->decoder)
        return false;
    // A 2 MP photo's half megabyte decodes in about 13 ms, half the time
    // Qt takes to show a window.
    constexpr qint64 kLongLoadBytes = 1 << 20;
    const bool longLoad = opened->facts.fileBytes >= kLongLoadBytes;
    std::lock_guard lock(g_loadMutex);
    g_preload = startLoad(path, false, std::move(opened), std::move(overviewSize));
    return longLoad;
}

void StartupBegins()
{
    RowFill::startupBegins();
}

void StartupWindowBuilt()
{
    RowFill::windowBuilt();
}

void StartupFirstFrameShown()
{
    RowFill::firstFrameShown();
}

std::vector<std::string> ReadableMimeTypes()
{
    std::set<std::string> types(kOwnDecoderMimeTypes.begin(), kOwnDecoderMimeTypes.end());
    for (const QByteArray& type : QImageReader::supportedMimeTypes()) {
        const QList<QByteArray> formats = QImageReader::imageFormatsForMimeType(type);
        if (std::any_of(formats.begin(), formats.end(), isUsedQtFormat))
            types.insert(type.toStdString());
    }
    return {types.begin(), types.end()};
}

void setLoadWaiter(LoadWaiter waiter)
{
    g_waiter = std::move(waiter);
}

Picture LoadPicture(const std::string& path)
{
    if (path.empty())
        return Picture();
    if (std::optional<Load> preload = takePreload(path))
        if (std::optional<Picture> picture = finish(*preload))
            return *picture;
    makeQtReadersHere();
    Load load = startLoad(path, true);
    std::optional<Picture> picture = finish(load);
    return picture ? *picture : Picture();
}

} // namespace korvane
