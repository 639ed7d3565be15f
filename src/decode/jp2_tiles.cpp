#include "jp2_tiles.h"

#include "colour_profile.h"
#include "held_tile.h"
#include "owned_fd.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace korvane {

namespace {

// Where the codestream's tiles are too large to be tiles of the cache, or
// do not start at the picture's corner, areas of this side are decoded.
constexpr int kAreaSide = 1024;


// How many times the sides can be halved with the picture still covering
// the overview's sides (as far as the codestream's levels go).
int reductionFor(const Jp2Size& size, const FileFacts& facts)
{
    const bool landscape = size.width() > size.height();
    const auto covers = [&](int reduce) {
        return landscape ? (size.width() >> reduce) >= facts.overviewSides.width()
                         : (size.height() >> reduce) >= facts.overviewSides.height();
    };
    int reduce = 0;
    while (reduce < 30 && covers(reduce + 1))
        ++reduce;
    return reduce;
}

int duplicate(int fd)
{
    return ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

} // namespace

class Jp2TileSource final : public TileSource {
public:
    Jp2TileSource(int fd, const FileFacts& facts, const Jp2Size& size) : m_file(fd), m_fileBytes(facts.fileBytes), m_size(size)
    {
        const std::int64_t cacheBytes = pictureCacheBytes(facts.availableBytes);
        const bool tiled = size.tilesAcross() * size.tilesDown() > 1;
        m_ownTiles = tiled && size.tilesAlignWithPicture() && size.tileWidth * size.tileHeight * 3 <= cacheBytes / 16;
        // OpenJPEG decodes area after area with one decoder only where the
        // codestream is one tile; among tiles, each area needs its own.
        m_reusable = m_ownTiles || !tiled;
        const int side = m_ownTiles ? 0 : kAreaSide;
        m_layout = {int(size.width()), int(size.height()), side ? side : int(size.tileWidth),
            side ? side : int(size.tileHeight), 3};
    }

    // A decoder that has read the header (a tenth of a second for thousands
    // of tiles) and decoded the overview, for the tiles at full resolution.
    void adopt(std::unique_ptr<Jp2Codec> codec)
    {
        if (!m_reusable || !codec->reduceTo(0))
            return;
        {
            std::lock_guard lock(m_mutex);
            ++m_opened;
        }
        give(std::move(codec));
    }

    void showAs(int channels, const QByteArray& icc)
    {
        m_layout.channels = channels;
        if (!icc.isEmpty())
            m_colour = std::make_unique<SrgbRows>(ColourProfile{icc, QColorSpace()}, channels == 1);
    }

    TileLayout layout() const override { return m_layout; }

    bool readTile(int column, int row, std::uint8_t* out, std::size_t stride) override
    {
        std::unique_ptr<Jp2Codec> codec = take();
        if (!codec)
            return false;
        if (!decode(*codec, column, row)) {
            dropped(); // a damaged tile's decoder is not used again
            return false;
        }
        const opj_image_t& image = *codec->image();
        const Jp2Colour colour = colourOf(image);
        if (colour.channels != m_layout.channels) {
            dropped();
            return false;
        }
        putJp2Rows(image, colour, out, stride);
        if (m_colour)
            m_colour->convert(out, qsizetype(stride), decodedWidth(image), decodedHeight(image));
        give(std::move(codec));
        return true;
    }

private:
    bool decode(Jp2Codec& codec, int column, int row) const
    {
        if (m_ownTiles)
            return codec.decodeTile(row * int(m_size.tilesAcross()) + column);
        const std::int64_t x0 = m_size.x0 + std::int64_t(column) * m_layout.tileWidth;
        const std::int64_t y0 = m_size.y0 + std::int64_t(row) * m_layout.tileHeight;
        return codec.decodeArea(x0, y0, std::min(x0 + m_layout.tileWidth, m_size.x1),
            std::min(y0 + m_layout.tileHeight, m_size.y1));
    }

    // A decoder of the pool; a new one only while there are fewer than
    // cores, since opening one costs a tenth of a second and 20 MB for
    // thousands of tiles: a thread beyond them waits for a free one.
    std::unique_ptr<Jp2Codec> take()
    {
        {
            std::unique_lock lock(m_mutex);
            m_returned.wait(lock, [this] { return !m_free.empty() || !m_reusable || m_opened < jp2Threads(); });
            if (!m_free.empty()) {
                std::unique_ptr<Jp2Codec> codec = std::move(m_free.back());
                m_free.pop_back();
                return codec;
            }
            ++m_opened;
        }
        std::unique_ptr<Jp2Codec> codec = opened();
        if (!codec)
            dropped();
        return codec;
    }

    void dropped()
    {
        {
            std::lock_guard lock(m_mutex);
            --m_opened;
        }
        m_returned.notify_one();
    }

    std::unique_ptr<Jp2Codec> opened() const
    {
        auto codec = std::make_unique<Jp2Codec>(m_file.fd, m_fileBytes, m_size.container);
        return codec->readHeader() ? std::move(codec) : nullptr;
    }

    void give(std::unique_ptr<Jp2Codec> codec)
    {
        if (!m_reusable)
            return;
        {
            std::lock_guard lock(m_mutex);
            m_free.push_back(std::move(codec));
        }
        m_returned.notify_one();
    }

    const OwnedFd m_file;
    const std::int64_t m_fileBytes;
    const Jp2Size m_size;
    std::unique_ptr<SrgbRows> m_colour;
    TileLayout m_layout;
    bool m_ownTiles = false, m_reusable = false;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<Jp2Codec>> m_free;
    std::condition_variable m_returned;
    int m_opened = 0; // decoders of the pool, free or in use
};

std::shared_ptr<Jp2TileSource> openJp2Tiles(int fd, const FileFacts& facts, const Jp2Size& size)
{
    const int own = duplicate(fd);
    if (own < 0)
        return nullptr;
    return std::make_shared<Jp2TileSource>(own, facts, size);
}

void showAs(Jp2TileSource& tiles, int channels, const QByteArray& icc)
{
    tiles.showAs(channels, icc);
}

std::shared_ptr<TileSource> asTileSource(std::shared_ptr<Jp2TileSource> tiles)
{
    return tiles;
}

Jp2Overview jp2Overview(int fd, const FileFacts& facts, const Jp2Size& size, std::int64_t mostBytes, Jp2TileSource& tiles)
{
    // The left and right halves (whole tiles each) on a thread each: at a
    // reduced level a tile has few code-blocks, and OpenJPEG's own threads
    // would spend more on waking each other than on them.
    const std::int64_t split = size.tilesAcross() > 1 && size.tilesAlignWithPicture()
        ? size.x0 + (size.tilesAcross() + 1) / 2 * size.tileWidth : size.x1;
    std::vector<std::unique_ptr<Jp2Codec>> halves;
    for (const auto& [left, right] : {std::pair{size.x0, split}, std::pair{split, size.x1}})
        if (left < right)
            halves.push_back(std::make_unique<Jp2Codec>(fd, facts.fileBytes, size.container));
    std::vector<std::jthread> threads;
    std::vector<char> decoded(halves.size(), 0);
    const int reduce = reductionFor(size, facts);
    const bool fits = ((size.width() >> reduce) + 1) * ((size.height() >> reduce) + 1) * 3 <= mostBytes;
    for (std::size_t i = 0; i < halves.size(); ++i)
        threads.emplace_back([&, i] {
            Jp2Codec& codec = *halves[i];
            if (!codec.readHeader() || !fits)
                return;
            codec.reduceTo(std::min(reduce, codec.reductions()));
            decoded[i] = halves.size() == 1 ? codec.decodeAll()
                : i == 0                   ? codec.decodeArea(size.x0, size.y0, split, size.y1)
                                           : codec.decodeArea(split, size.y0, size.x1, size.y1);
        });
    threads.clear();
    if (!fits) // the tiles' pass makes the overview
        return {nullptr, QByteArray(), halves[0]->image() ? colourOf(*halves[0]->image()).channels : 3, false, {}};
    for (std::size_t i = 0; i < halves.size(); ++i)
        if (!decoded[i])
            return {nullptr, QByteArray(), 3, true, halves[i]->message()};
    const Jp2Colour colour = colourOf(*halves[0]->image());
    const int reduced = int(halves[0]->image()->comps[0].factor);
    const int width = reducedSpan(size.x0, size.x1, unsigned(reduced));
    const int height = reducedSpan(size.y0, size.y1, unsigned(reduced));
    TileLayout layout{width, height, width, height, colour.channels};
    std::vector<std::uint8_t> pixels(layout.tileBytes());
    const std::size_t stride = std::size_t(width) * std::size_t(colour.channels);
    std::size_t across = 0;
    for (const std::unique_ptr<Jp2Codec>& half : halves) {
        const opj_image_t& image = *half->image();
        if (colourOf(image).channels != colour.channels || across + std::size_t(decodedWidth(image)) > std::size_t(width))
            return {nullptr, QByteArray(), 3, true, {}};
        putJp2Rows(image, colour, pixels.data() + across * std::size_t(colour.channels), stride);
        across += std::size_t(decodedWidth(image));
    }
    const QByteArray icc = iccProfileOf(*halves[0]->image());
    for (std::unique_ptr<Jp2Codec>& half : halves)
        tiles.adopt(std::move(half));
    if (!icc.isEmpty())
        SrgbRows(ColourProfile{icc, QColorSpace()}, colour.channels == 1)
            .convert(pixels.data(), qsizetype(width) * colour.channels, width, height);
    return {std::make_shared<HeldTile>(layout, std::move(pixels)), icc, colour.channels, false, {}};
}

} // namespace korvane
