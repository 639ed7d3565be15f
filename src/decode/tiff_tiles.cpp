// Tiles of a TIFF through libtiff, each thread with a handle of its own:
// 8- and 16-bit RGB and grey (with or without alpha, JPEG-in-TIFF as RGB)
// are read as encoded; anything else through libtiff's RGBA conversion,
// which knows every photometric interpretation.
#include "tiff_tiles.h"
#include "texts.h"

#include "colour_profile.h"
#include "decode_error.h"
#include "handle_pool.h"
#include "owned_fd.h"
#include "tiff_file.h"
#include "tiff_jpeg.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace korvane {

namespace {

// Which directory: one of the main chain, or a SubIFD at its offset.
struct Directory {
    tdir_t index = 0;
    toff_t subOffset = 0;
};

bool select(TIFF* tiff, const Directory& directory)
{
    return directory.subOffset ? TIFFSetSubDirectory(tiff, directory.subOffset) != 0
                               : TIFFSetDirectory(tiff, directory.index) != 0;
}

enum class Samples { Rgb, Grey, Converted };

struct PageFormat {
    TileLayout layout;
    bool tiled = false;
    Samples samples = Samples::Converted;
    int stored = 3;         // samples a pixel, as stored
    int bytesPerSample = 1; // 1 or 2
    bool inverted = false;  // min-is-white
    int alpha = 0;          // 0, or the EXTRASAMPLE kind of the sample after the colour ones
    bool jpegAsRgb = false; // JPEG-compressed YCbCr, decoded to RGB by libtiff
    int jpegColourSpace = -1; // JPEG-compressed as displayed, 8-bit: its data's colour space; else -1
};

PageFormat formatOf(TIFF* tiff)
{
    PageFormat format;
    uint32_t width = 0, height = 0, tileWidth = 0, tileHeight = 0;
    uint16_t bits = 8, samples = 1, photometric = 0, planar = PLANARCONFIG_CONTIG, sampleFormat = SAMPLEFORMAT_UINT,
             compression = COMPRESSION_NONE, extraCount = 0;
    uint16_t* extra = nullptr;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &sampleFormat);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extraCount, &extra);
    TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
    format.tiled = TIFFIsTiled(tiff);
    if (format.tiled) {
        TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth);
        TIFFGetField(tiff, TIFFTAG_TILELENGTH, &tileHeight);
    } else {
        tileWidth = width;
        TIFFGetFieldDefaulted(tiff, TIFFTAG_ROWSPERSTRIP, &tileHeight);
        tileHeight = std::min(tileHeight, height);
    }
    const bool grey = isGrey(tiff);
    format.layout = {int(std::min<uint32_t>(width, INT32_MAX)), int(std::min<uint32_t>(height, INT32_MAX)),
        int(std::min<uint32_t>(tileWidth, INT32_MAX)), int(std::min<uint32_t>(tileHeight, INT32_MAX)), grey ? 1 : 3};
    format.jpegAsRgb = compression == COMPRESSION_JPEG && photometric == PHOTOMETRIC_YCBCR && samples == 3;
    const bool rgb = photometric == PHOTOMETRIC_RGB || format.jpegAsRgb;
    const bool plain = planar == PLANARCONFIG_CONTIG && sampleFormat == SAMPLEFORMAT_UINT && (bits == 8 || bits == 16)
        && extraCount <= samples;
    if (plain && ((rgb && samples >= 3) || grey)) {
        format.samples = grey ? Samples::Grey : Samples::Rgb;
        format.stored = samples;
        format.bytesPerSample = bits / 8;
        format.inverted = photometric == PHOTOMETRIC_MINISWHITE;
        format.alpha = extraCount > 0 && samples > (grey ? 1 : 3) ? extra[0] : 0;
        if (compression == COMPRESSION_JPEG && bits == 8 && samples == format.layout.channels && !format.inverted)
            format.jpegColourSpace = tiffJpegColourSpace(grey, photometric == PHOTOMETRIC_YCBCR);
    }
    return format;
}

// Over the panels' white: associated alpha is already multiplied in.
uint8_t overWhite(int colour, int alpha, int kind)
{
    if (kind == EXTRASAMPLE_ASSOCALPHA)
        return uint8_t(std::min(255, colour + 255 - alpha));
    return uint8_t((colour * alpha + 255 * (255 - alpha) + 127) / 255);
}

class TiffTileSource final : public TileSource {
public:
    TiffTileSource(int fd, const std::string& path, const FileFacts& facts, Directory directory, PageFormat format,
        const QByteArray& icc)
        : m_file(fd), m_path(path), m_facts(facts), m_directory(directory), m_format(format),
          m_colour(icc.isEmpty() ? nullptr
                                 : std::make_unique<SrgbRows>(ColourProfile{icc, QColorSpace()},
                                     format.layout.channels == 1))
    {
        m_facts.progress = nullptr; // tiles are read after the load
    }

    TileLayout layout() const override { return m_format.layout; }

    bool readTile(int column, int row, std::uint8_t* out, std::size_t stride) override
    {
        std::unique_ptr<Handle> handle = take();
        const bool read = handle && readInto(*handle, column, row, out, stride);
        if (read && m_colour)
            m_colour->convert(out, qsizetype(stride), std::min(m_format.layout.tileWidth,
                m_format.layout.width - column * m_format.layout.tileWidth), rowsOf(row));
        m_handles.give(std::move(handle));
        return read;
    }

    // JPEG tiles whose sides the scale divides: libjpeg's DCT scaling.
    int reducedScale(int block) const override
    {
        if (m_format.jpegColourSpace < 0)
            return 1;
        for (const int scale : {8, 4, 2})
            if (block % scale == 0 && m_format.layout.tileWidth % scale == 0 && m_format.layout.tileHeight % scale == 0)
                return scale;
        return 1;
    }

    bool readReducedTile(int column, int row, int scale, std::uint8_t* out, std::size_t stride) override
    {
        std::unique_ptr<Handle> handle = take();
        const bool read = handle && readScaled(*handle, column, row, scale, out, stride);
        const int width = std::min(m_format.layout.tileWidth, m_format.layout.width - column * m_format.layout.tileWidth);
        if (read && m_colour)
            m_colour->convert(out, qsizetype(stride), (width + scale - 1) / scale, (rowsOf(row) + scale - 1) / scale);
        m_handles.give(std::move(handle));
        return read;
    }

private:
    struct Handle {
        TiffFile file;
        TIFF* tiff = nullptr;
        std::vector<uint8_t> raw;
        std::vector<uint32_t> rgba;
        ~Handle()
        {
            if (tiff)
                TIFFClose(tiff);
        }
    };

    int rowsOf(int row) const
    {
        return std::min(m_format.layout.tileHeight, m_format.layout.height - row * m_format.layout.tileHeight);
    }

    // A handle of this thread's own: libtiff's are not to be shared.
    std::unique_ptr<Handle> take()
    {
        return m_handles.take([this]() -> std::unique_ptr<Handle> {
            auto handle = std::make_unique<Handle>();
            handle->file.fd = m_file.fd;
            handle->file.size = m_facts.fileBytes;
            handle->tiff = openTiff(handle->file, m_path, m_facts);
            if (!handle->tiff || !select(handle->tiff, m_directory))
                return nullptr;
            if (m_format.jpegAsRgb)
                TIFFSetField(handle->tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
            return handle;
        });
    }

    bool readInto(Handle& handle, int column, int row, std::uint8_t* out, std::size_t stride) const
    {
        return m_format.samples == Samples::Converted ? readConverted(handle, column, row, out, stride)
                                                      : readEncoded(handle, column, row, out, stride);
    }

    bool readEncoded(Handle& handle, int column, int row, std::uint8_t* out, std::size_t stride) const
    {
        const TileLayout& layout = m_format.layout;
        const tmsize_t size = m_format.tiled ? TIFFTileSize(handle.tiff) : TIFFStripSize(handle.tiff);
        if (size <= 0)
            return false;
        handle.raw.resize(std::size_t(size));
        const tmsize_t got = m_format.tiled
            ? TIFFReadEncodedTile(handle.tiff,
                TIFFComputeTile(handle.tiff, uint32_t(column * layout.tileWidth), uint32_t(row * layout.tileHeight), 0, 0),
                handle.raw.data(), size)
            : TIFFReadEncodedStrip(handle.tiff, uint32_t(row), handle.raw.data(), size);
        if (got < 0)
            return false;
        const int width = std::min(layout.tileWidth, layout.width - column * layout.tileWidth);
        const std::size_t inStride = std::size_t(layout.tileWidth) * std::size_t(m_format.stored * m_format.bytesPerSample);
        for (int y = 0; y < rowsOf(row); ++y)
            convertRow(handle.raw.data() + std::size_t(y) * inStride, out + std::size_t(y) * stride, width);
        return true;
    }

    // The tile's own JPEG data after the file's tables, decoded at 1/scale.
    bool readScaled(Handle& handle, int column, int row, int scale, std::uint8_t* out, std::size_t stride) const
    {
        const TileLayout& layout = m_format.layout;
        const uint32_t index = m_format.tiled
            ? TIFFComputeTile(handle.tiff, uint32_t(column * layout.tileWidth), uint32_t(row * layout.tileHeight), 0, 0)
            : uint32_t(row);
        uint64_t* counts = nullptr;
        if (!TIFFGetField(handle.tiff, m_format.tiled ? TIFFTAG_TILEBYTECOUNTS : TIFFTAG_STRIPBYTECOUNTS, &counts)
            || !counts || counts[index] == 0 || counts[index] > (uint64_t(64) << 20))
            return false;
        handle.raw.resize(std::size_t(counts[index]));
        const tmsize_t got = m_format.tiled ? TIFFReadRawTile(handle.tiff, index, handle.raw.data(), tmsize_t(handle.raw.size()))
                                            : TIFFReadRawStrip(handle.tiff, index, handle.raw.data(), tmsize_t(handle.raw.size()));
        if (got <= 0)
            return false;
        uint32_t tableBytes = 0;
        const uint8_t* tables = nullptr;
        if (!TIFFGetField(handle.tiff, TIFFTAG_JPEGTABLES, &tableBytes, &tables))
            tableBytes = 0;
        const TiffJpeg format{{tables, tables ? tableBytes : 0}, m_format.jpegColourSpace, layout.channels};
        const int width = std::min(layout.tileWidth, layout.width - column * layout.tileWidth);
        return decodeScaledJpegTile(format, {handle.raw.data(), std::size_t(got)}, scale, out, stride,
            (rowsOf(row) + scale - 1) / scale, (width + scale - 1) / scale);
    }

    void convertRow(const uint8_t* in, uint8_t* out, int width) const
    {
        const int colours = m_format.layout.channels, stored = m_format.stored;
        if (stored == colours && m_format.bytesPerSample == 1 && !m_format.inverted) {
            std::memcpy(out, in, std::size_t(width) * std::size_t(colours)); // as the display wants it
            return;
        }
        const auto sample = [&](int x, int c) {
            const std::size_t at = (std::size_t(x) * std::size_t(stored) + std::size_t(c)) * std::size_t(m_format.bytesPerSample);
            if (m_format.bytesPerSample == 1)
                return int(in[at]);
            uint16_t wide = 0; // libtiff gives 16-bit samples in the host's order
            std::memcpy(&wide, in + at, sizeof wide);
            return int(wide >> 8);
        };
        for (int x = 0; x < width; ++x) {
            const int alpha = m_format.alpha ? sample(x, colours) : 255;
            for (int c = 0; c < colours; ++c) {
                const int value = m_format.inverted ? 255 - sample(x, c) : sample(x, c);
                out[std::size_t(x) * std::size_t(colours) + std::size_t(c)]
                    = m_format.alpha ? overWhite(value, alpha, m_format.alpha) : uint8_t(value);
            }
        }
    }

    // libtiff's RGBA, premultiplied and bottom-up.
    bool readConverted(Handle& handle, int column, int row, std::uint8_t* out, std::size_t stride) const
    {
        const TileLayout& layout = m_format.layout;
        handle.rgba.resize(std::size_t(layout.tileWidth) * std::size_t(layout.tileHeight));
        const uint32_t x = uint32_t(column * layout.tileWidth), y = uint32_t(row * layout.tileHeight);
        if (!(m_format.tiled ? TIFFReadRGBATile(handle.tiff, x, y, handle.rgba.data())
                             : TIFFReadRGBAStrip(handle.tiff, y, handle.rgba.data())))
            return false;
        const int width = std::min(layout.tileWidth, layout.width - int(x)), rows = rowsOf(row);
        const int rasterRows = m_format.tiled ? layout.tileHeight : rows;
        for (int r = 0; r < rows; ++r) {
            const uint32_t* in = handle.rgba.data() + std::size_t(rasterRows - 1 - r) * std::size_t(layout.tileWidth);
            uint8_t* to = out + std::size_t(r) * stride;
            for (int i = 0; i < width; ++i) {
                const int uncovered = 255 - int(TIFFGetA(in[i]));
                const int rgb[3] = {int(TIFFGetR(in[i])), int(TIFFGetG(in[i])), int(TIFFGetB(in[i]))};
                for (int c = 0; c < layout.channels; ++c)
                    to[std::size_t(i) * std::size_t(layout.channels) + std::size_t(c)] = uint8_t(std::min(255, rgb[c] + uncovered));
            }
        }
        return true;
    }

    const OwnedFd m_file;
    const std::string m_path;
    FileFacts m_facts;
    const Directory m_directory;
    const PageFormat m_format;
    const std::unique_ptr<SrgbRows> m_colour;
    HandlePool<Handle> m_handles;
};

struct Level {
    Directory directory;
    PageFormat format;
};

// A reduced copy of the full page: marked so, or of the same shape.
bool isReducedLevel(TIFF* tiff, const TileLayout& full, const TileLayout& level)
{
    uint32_t kind = 0;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SUBFILETYPE, &kind);
    if (level.width >= full.width || level.height >= full.height || level.width <= 0 || level.height <= 0)
        return false;
    const double shape = double(level.width) * full.height - double(level.height) * full.width;
    return (kind & FILETYPE_REDUCEDIMAGE) || std::abs(shape) <= double(std::max(full.width, full.height));
}

std::vector<Level> reducedLevels(TIFF* tiff, const TileLayout& full)
{
    std::vector<Level> levels;
    std::vector<toff_t> subOffsets;
    uint16_t count = 0;
    toff_t* offsets = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_SUBIFD, &count, &offsets) && offsets)
        subOffsets.assign(offsets, offsets + count);
    const auto addIfReduced = [&](Directory directory) {
        const PageFormat format = formatOf(tiff);
        if (isReducedLevel(tiff, full, format.layout))
            levels.push_back({directory, format});
    };
    for (const toff_t offset : subOffsets)
        if (TIFFSetSubDirectory(tiff, offset))
            addIfReduced(Directory{0, offset});
    // Reduced pages of the main chain, as pyramids and COGs store them; a
    // bound keeps a file of many pages from being walked for long.
    constexpr tdir_t kMostPages = 64;
    for (tdir_t page = 1; page < kMostPages && TIFFSetDirectory(tiff, page); ++page)
        addIfReduced(Directory{page, 0});
    TIFFSetDirectory(tiff, 0);
    return levels;
}

// The smallest level that still covers the overview's sides.
const Level* overviewLevel(const std::vector<Level>& levels, const FileFacts& facts, bool swapped, qint64 cacheBytes)
{
    const Level* best = nullptr;
    for (const Level& level : levels) {
        const int w = swapped ? level.format.layout.height : level.format.layout.width;
        const int h = swapped ? level.format.layout.width : level.format.layout.height;
        const bool covers = w > h ? w >= facts.overviewSides.width() : h >= facts.overviewSides.height();
        const qint64 bytes = qint64(w) * h * level.format.layout.channels;
        if (covers && bytes <= cacheBytes / 2
            && (!best || level.format.layout.width < best->format.layout.width))
            best = &level;
    }
    return best;
}

} // namespace

TiffTiles openTiffTiles(TIFF* tiff, int fd, const std::string& path, const FileFacts& facts, qint64 cacheBytes)
{
    const PageFormat full = formatOf(tiff);
    uint16_t orientation = ORIENTATION_TOPLEFT;
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &orientation);
    const QByteArray icc = iccProfileOf(tiff);
    TiffTiles tiles;
    tiles.orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
    // A strip as tall as the picture is not a tile: such a file can only be
    // decoded whole.
    const qint64 tileBytes = qint64(full.layout.tileWidth) * full.layout.tileHeight * 4;
    if (full.layout.tileWidth <= 0 || full.layout.tileHeight <= 0 || tileBytes > cacheBytes / 8)
        return tiles;
    const std::vector<Level> levels = reducedLevels(tiff, full.layout);
    const auto sourceOf = [&](const Level& level) -> std::shared_ptr<TileSource> {
        return std::make_shared<TiffTileSource>(ownDescriptor(fd, path), path, facts, level.directory, level.format, icc);
    };
    tiles.full = sourceOf(Level{Directory{}, full});
    if (const Level* level = overviewLevel(levels, facts, tiles.orientation >= 5, cacheBytes))
        tiles.overview = sourceOf(*level);
    return tiles;
}

} // namespace korvane
