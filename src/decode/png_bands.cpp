#include "png_bands.h"
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

std::uint8_t paeth(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : pb <= pc ? b : c);
}

} // namespace

bool unfilterPngRow(const std::uint8_t* filtered, const std::uint8_t* above, std::uint8_t* out, std::size_t bytes,
    int step)
{
    const std::uint8_t* in = filtered + 1;
    const std::size_t s = std::size_t(step);
    switch (filtered[0]) {
    case 0:
        std::memcpy(out, in, bytes);
        return true;
    case 1:
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + (i >= s ? out[i - s] : 0));
        return true;
    case 2:
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + above[i]);
        return true;
    case 3:
        for (std::size_t i = 0; i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + ((i >= s ? out[i - s] : 0) + above[i]) / 2);
        return true;
    case 4:
        for (std::size_t i = 0; i < s && i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + above[i]);
        for (std::size_t i = s; i < bytes; ++i)
            out[i] = static_cast<std::uint8_t>(in[i] + paeth(out[i - s], above[i], above[i - s]));
        return true;
    default:
        return false;
    }
}

namespace {

constexpr std::size_t kWindowBytes = 32768;

// Where inflating can begin again: a deflate block's start.
struct Checkpoint {
    std::uint64_t in = 2;   // the stream's next byte (past the zlib header at first)
    int bits = 0;           // bits of the byte before `in` not used yet
    std::uint64_t out = 0;  // inflated bytes before this point
    std::vector<std::uint8_t> window;  // the last 32 KB inflated
    std::vector<std::uint8_t> above;   // the row above the one `out` falls in, unfiltered
    std::vector<std::uint8_t> partial; // that row's filtered bytes before `out`
};
using CheckpointPtr = std::shared_ptr<const Checkpoint>;

struct RowShape {
    std::size_t bytes = 0; // unfiltered, the filter byte not counted
    int step = 1;          // bytes a pixel, at least one, for the filters
    std::uint64_t filtered() const { return bytes + 1; }
};

// Raw rows from a checkpoint on, in order; at each block boundary it may
// leave a checkpoint.
class RowInflater {
public:
    RowInflater(int fd, PngImageData& data, const RowShape& shape, const Checkpoint& from)
        : m_fd(fd), m_data(data), m_shape(shape), m_in(from.in), m_out(from.out),
          m_filtered(shape.filtered()), m_above(from.above), m_row(shape.bytes)
    {
        m_above.resize(shape.bytes, 0);
        m_filled = from.partial.size();
        std::copy(from.partial.begin(), from.partial.end(), m_filtered.begin());
        m_ok = ::inflateInit2(&m_stream, -15) == Z_OK;
        m_begun = m_ok;
        if (m_ok && from.bits > 0) {
            std::uint8_t byte = 0;
            m_ok = m_data.read(m_fd, from.in - 1, &byte, 1) == 1
                && ::inflatePrime(&m_stream, from.bits, byte >> (8 - from.bits)) == Z_OK;
        }
        if (m_ok && !from.window.empty())
            m_ok = ::inflateSetDictionary(&m_stream, from.window.data(), uInt(from.window.size())) == Z_OK;
    }
    ~RowInflater()
    {
        if (m_begun)
            ::inflateEnd(&m_stream);
    }
    RowInflater(const RowInflater&) = delete;
    RowInflater& operator=(const RowInflater&) = delete;

    // The row the next call gives.
    std::uint64_t nextRow() const { return m_out / m_shape.filtered(); }

    // The next row, unfiltered; null once the data ends or is damaged.
    // `atBoundary` is told at each block boundary inside it.
    template <typename AtBoundary>
    const std::uint8_t* next(AtBoundary&& atBoundary)
    {
        while (m_ok && m_filled < m_filtered.size()) {
            if (m_stream.avail_in == 0 && !refill())
                return fail();
            m_stream.next_out = m_filtered.data() + m_filled;
            m_stream.avail_out = uInt(m_filtered.size() - m_filled);
            const int result = ::inflate(&m_stream, Z_BLOCK);
            const std::size_t made = m_filtered.size() - m_filled - m_stream.avail_out;
            m_filled += made;
            m_out += made;
            if (result == Z_STREAM_END && m_filled < m_filtered.size())
                return fail();
            if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR)
                return fail();
            if ((m_stream.data_type & 128) != 0 && (m_stream.data_type & 64) == 0 && m_filled < m_filtered.size())
                atBoundary(*this);
        }
        if (!m_ok || !unfilterPngRow(m_filtered.data(), m_above.data(), m_row.data(), m_shape.bytes, m_shape.step))
            return fail();
        m_filled = 0;
        m_above.swap(m_row);
        return m_above.data();
    }

    // A checkpoint at the block boundary just reached.
    CheckpointPtr checkpoint()
    {
        auto point = std::make_shared<Checkpoint>();
        point->in = m_in - m_stream.avail_in;
        point->bits = m_stream.data_type & 7;
        point->out = m_out;
        point->window.resize(kWindowBytes);
        uInt length = uInt(kWindowBytes);
        if (::inflateGetDictionary(&m_stream, point->window.data(), &length) != Z_OK)
            return nullptr;
        point->window.resize(length);
        point->above = m_above;
        point->partial.assign(m_filtered.begin(), m_filtered.begin() + std::ptrdiff_t(m_filled));
        return point;
    }

    std::uint64_t out() const { return m_out; }

private:
    bool refill()
    {
        const std::size_t got = m_data.read(m_fd, m_in, m_input.data(), m_input.size());
        m_in += got;
        m_stream.next_in = m_input.data();
        m_stream.avail_in = uInt(got);
        return got > 0;
    }
    const std::uint8_t* fail()
    {
        m_ok = false;
        return nullptr;
    }

    int m_fd;
    PngImageData& m_data;
    RowShape m_shape;
    z_stream m_stream {};
    bool m_ok = false, m_begun = false;
    std::uint64_t m_in, m_out;
    std::vector<std::uint8_t> m_filtered, m_above, m_row;
    std::size_t m_filled = 0;
    std::array<std::uint8_t, 1 << 16> m_input {};
};

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
        std::unique_ptr<RowInflater> inflater = inflaterFor(band, first);
        while (inflater && inflater->nextRow() < first)
            if (!row(*inflater))
                inflater.reset();
        int done = 0;
        for (; inflater && done < rows; ++done) {
            const std::uint8_t* raw = row(*inflater);
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
    std::unique_ptr<RowInflater> inflaterFor(int band, std::uint64_t firstRow)
    {
        CheckpointPtr from;
        {
            std::lock_guard lock(m_mutex);
            if (m_parked && m_parked->nextRow() == firstRow)
                return std::move(m_parked);
            for (int b = band; b >= 0 && !from; --b)
                from = m_points[std::size_t(b)];
        }
        return std::make_unique<RowInflater>(m_file.fd, m_data, m_shape, *from);
    }

    void park(std::unique_ptr<RowInflater> inflater)
    {
        std::lock_guard lock(m_mutex);
        m_parked = std::move(inflater);
    }

    const std::uint8_t* row(RowInflater& inflater)
    {
        return inflater.next([this](RowInflater& at) { maybeCheckpoint(at); });
    }

    // A block boundary becomes the next band's checkpoint when that band has
    // none yet, or when it lies shortly before the band and the one it has
    // does not: at most two copies of the window and rows a band.
    void maybeCheckpoint(RowInflater& at)
    {
        const std::uint64_t bandBytes = std::uint64_t(m_layout.tileHeight) * m_shape.filtered();
        const std::uint64_t band = at.out() / bandBytes + 1;
        if (band >= m_points.size())
            return;
        const auto near = [&](std::uint64_t out) { return band * bandBytes - out <= m_reach; };
        const auto better = [&] { return !m_points[band] || (near(at.out()) && !near(m_points[band]->out)); };
        {
            std::lock_guard lock(m_mutex);
            if (!better())
                return;
        }
        CheckpointPtr point = at.checkpoint();
        std::lock_guard lock(m_mutex);
        if (point && better())
            m_points[band] = std::move(point);
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
    std::unique_ptr<RowInflater> m_parked;
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
