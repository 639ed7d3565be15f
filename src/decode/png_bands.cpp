#include "png_bands.h"
#include "png_rows.h"
#include "png_stream.h"

#include "byte_order.h"
#include "decode_error.h"
#include "image_normalize.h"
#include "owned_fd.h"
#include "read_at.h"
#include "texts.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

#include <zlib.h>

namespace korvane {

namespace {

// One raw row to its final samples: 8 bits a channel, grey or RGB,
// transparency laid over white.
class RowConverter {
public:
    explicit RowConverter(const PngFormat& f) : m_f(f) {}

    int channels() const { return m_f.colourType == 0 || m_f.colourType == 4 ? 1 : 3; }
    int samples() const
    {
        constexpr int kSamples[7] = {1, 0, 3, 1, 2, 0, 4};
        return kSamples[m_f.colourType];
    }

    void convert(const std::uint8_t* raw, std::uint8_t* out) const
    {
        const int n = samples();
        if (m_f.bitDepth == 8 && !m_f.hasKey && (m_f.colourType == 0 || m_f.colourType == 2)) {
            std::memcpy(out, raw, std::size_t(m_f.width) * std::size_t(n)); // stored as shown
            return;
        }
        const int outChannels = channels();
        for (int x = 0; x < m_f.width; ++x) {
            std::uint16_t s[4] = {};
            for (int c = 0; c < n; ++c)
                s[c] = sample(raw, std::size_t(x) * std::size_t(n) + std::size_t(c));
            std::uint8_t* to = out + std::size_t(x) * std::size_t(outChannels);
            if (m_f.colourType == 3) {
                writePalette(s[0], to);
                continue;
            }
            const bool keyed = m_f.hasKey
                && (n == 1 ? s[0] == m_f.key[0] : s[0] == m_f.key[0] && s[1] == m_f.key[1] && s[2] == m_f.key[2]);
            const bool alpha = n == 2 || n == 4;
            const int a = alpha ? eight(s[n - 1]) : keyed ? 0 : 255;
            for (int c = 0; c < outChannels; ++c)
                to[c] = a == 255 ? eight(s[c]) : overWhite(eight(s[c]), a);
        }
    }

private:
    // Sample i of a row, at the picture's bit depth.
    std::uint16_t sample(const std::uint8_t* raw, std::size_t i) const
    {
        switch (m_f.bitDepth) {
        case 16: return std::uint16_t(raw[2 * i] << 8 | raw[2 * i + 1]);
        case 8: return raw[i];
        default: {
            const std::size_t bit = i * std::size_t(m_f.bitDepth);
            const int shift = 8 - m_f.bitDepth - int(bit % 8);
            return std::uint16_t((raw[bit / 8] >> shift) & ((1 << m_f.bitDepth) - 1));
        }
        }
    }
    // A sample as 8 bits: the high byte of 16, low depths stretched.
    std::uint8_t eight(std::uint16_t value) const
    {
        if (m_f.bitDepth == 16)
            return std::uint8_t(value >> 8);
        if (m_f.bitDepth == 8 || m_f.colourType == 3)
            return std::uint8_t(value);
        return std::uint8_t(value * 255 / ((1 << m_f.bitDepth) - 1));
    }
    void writePalette(std::uint16_t index, std::uint8_t* to) const
    {
        const std::size_t at = std::size_t(index) * 3;
        const int a = index < m_f.paletteAlpha.size() ? m_f.paletteAlpha[index] : 255;
        for (std::size_t c = 0; c < 3; ++c) {
            const int value = at + 2 < m_f.palette.size() ? m_f.palette[at + c] : 0;
            to[c] = a == 255 ? std::uint8_t(value) : overWhite(value, a);
        }
    }

    const PngFormat& m_f;
};

class PngBandSource final : public TileSource {
public:
    PngBandSource(int fd, const PngFormat& format, std::int64_t fileBytes, int bandRows)
        : m_file(fd), m_format(format), m_data(format.firstChunk, fileBytes), m_converter(m_format),
          m_colour(m_format.profile, m_converter.channels() == 1)
    {
        const int bits = m_format.bitDepth * m_converter.samples();
        m_shape.bytes = (std::size_t(m_format.width) * std::size_t(bits) + 7) / 8;
        m_shape.step = std::max(1, bits / 8);
        m_layout = {m_format.width, m_format.height, m_format.width, bandRows, m_converter.channels()};
        m_points.resize(std::size_t(m_layout.rows()));
        m_points[0] = std::make_shared<const Checkpoint>();
        const std::uint64_t band = std::uint64_t(bandRows) * m_shape.filtered();
        m_reach = std::min(band / 2, std::max<std::uint64_t>(256 << 10, 2 * m_shape.filtered()));
    }

    TileLayout layout() const override { return m_layout; }
    bool readsInOrder() const override { return true; }
    bool holdsData()
    {
        std::uint8_t first = 0;
        return m_data.read(m_file.fd, 0, &first, 1) == 1;
    }

    bool readTile(int, int band, std::uint8_t* out, std::size_t stride) override
    {
        const std::uint64_t first = std::uint64_t(band) * std::uint64_t(m_layout.tileHeight);
        const int rows = std::min(m_layout.tileHeight, m_layout.height - band * m_layout.tileHeight);
        std::unique_ptr<RowReader> inflater = inflaterFor(band, first);
        while (inflater && inflater->nextRow() < first)
            if (!inflater->next())
                inflater.reset();
        int done = 0;
        for (; inflater && done < rows; ++done) {
            const std::uint8_t* raw = inflater->next();
            if (!raw)
                break;
            m_converter.convert(raw, out + std::size_t(done) * stride);
        }
        if (done == 0)
            return false;
        m_colour.convert(out, qsizetype(stride), m_layout.width, done);
        for (int y = done; y < rows; ++y) // what the data did not hold is white
            std::memset(out + std::size_t(y) * stride, 0xFF, std::size_t(m_layout.width) * std::size_t(m_layout.channels));
        if (inflater && done == rows)
            park(std::move(inflater));
        return true;
    }

private:
    // The inflater left where this band begins, or a new one from the last
    // checkpoint before it.
    std::unique_ptr<RowReader> inflaterFor(int band, std::uint64_t firstRow)
    {
        CheckpointPtr from;
        {
            std::lock_guard lock(m_mutex);
            if (m_parked && m_parked->nextRow() == firstRow)
                return std::move(m_parked);
            for (int b = band; b >= 0 && !from; --b)
                from = m_points[std::size_t(b)];
        }
        return std::make_unique<RowReader>(m_file.fd, m_data, m_shape, *from,
            CheckpointTaker{[this](std::uint64_t out) { return wantsCheckpoint(out); },
                [this](CheckpointPtr point) { takeCheckpoint(std::move(point)); }});
    }

    void park(std::unique_ptr<RowReader> inflater)
    {
        {
            std::lock_guard lock(m_mutex);
            m_parked.swap(inflater);
        }
        // The one parked before ends here, unlocked: its inflating thread
        // may be waiting for the lock to offer a checkpoint.
    }

    // A block boundary becomes the next band's checkpoint when that band has
    // none yet, or when it lies shortly before the band and the one it has
    // does not: at most two copies of the window and rows a band.
    bool wantsCheckpoint(std::uint64_t out)
    {
        std::lock_guard lock(m_mutex);
        return betterCheckpoint(out);
    }

    void takeCheckpoint(CheckpointPtr point)
    {
        std::lock_guard lock(m_mutex);
        if (betterCheckpoint(point->out))
            m_points[std::size_t(bandAfter(point->out))] = std::move(point);
    }

    std::uint64_t bandAfter(std::uint64_t out) const
    {
        return out / (std::uint64_t(m_layout.tileHeight) * m_shape.filtered()) + 1;
    }

    // Under the lock.
    bool betterCheckpoint(std::uint64_t out) const
    {
        const std::uint64_t band = bandAfter(out);
        if (band >= m_points.size())
            return false;
        const std::uint64_t bandStart = band * std::uint64_t(m_layout.tileHeight) * m_shape.filtered();
        const auto near = [&](std::uint64_t at) { return bandStart - at <= m_reach; };
        return !m_points[band] || (near(out) && !near(m_points[band]->out));
    }

    OwnedFd m_file;
    const PngFormat m_format;
    PngImageData m_data;
    const RowConverter m_converter;
    const SrgbRows m_colour;
    RowShape m_shape;
    TileLayout m_layout;
    std::uint64_t m_reach = 0; // how far before a band its checkpoint may lie
    std::mutex m_mutex;
    std::vector<CheckpointPtr> m_points; // a band's, or null
    std::unique_ptr<RowReader> m_parked;
};

} // namespace

std::shared_ptr<TileSource> openPngBands(int fd, const std::string& path, const FileFacts& facts,
    const PngFormat& format, BandBytes bytes)
{
    const int channels = format.colourType == 0 || format.colourType == 4 ? 1 : 3;
    const std::size_t rowBytes = std::size_t(format.width) * std::size_t(channels);
    const int rows = int(std::clamp<std::size_t>(bytes.wanted / rowBytes / 16 * 16, 16, 4096));
    if (std::size_t(std::min(rows, format.height)) * rowBytes > bytes.most)
        return nullptr; // rows too wide for a band to fit the cache
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0)
        raiseDecodeError(DecodeFailure::FileUnreadable, path, cannotBeRead());
    auto source = std::make_shared<PngBandSource>(own, format, facts.fileBytes, std::min(rows, format.height));
    return source->holdsData() ? source : nullptr;
}

} // namespace korvane
