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
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <utility>

#include <unistd.h>

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

    // A row of `width` pixels.
    void convert(const std::uint8_t* raw, int width, std::uint8_t* out) const
    {
        const int n = samples();
        if (m_f.bitDepth == 8 && !m_f.hasKey && (m_f.colourType == 0 || m_f.colourType == 2)) {
            std::memcpy(out, raw, std::size_t(width) * std::size_t(n)); // stored as shown
            return;
        }
        const int outChannels = channels();
        for (int x = 0; x < width; ++x) {
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
          m_colour(m_format.profile, m_converter.channels() == 1),
          m_passes(format.width, format.height, format.bitDepth * m_converter.samples(), format.interlaced),
          m_layout{format.width, format.height, format.width, bandRows, m_converter.channels()},
          m_bands(std::size_t(m_layout.rows())), m_points(m_bands * m_passes.passes().size()),
          m_parked(m_passes.passes().size())
    {
        if (!m_points.empty())
            m_points[0] = std::make_shared<const Checkpoint>();
    }

    TileLayout layout() const override { return m_layout; }
    bool readsInOrder() const override { return !m_format.interlaced; }
    // An interlaced picture's top rows come with its last pass, after half
    // its data (2 s for a 20000 x 20000 photo), yet the load does not wait
    // for them (readsWholeFileFirst is false): the window shows at once,
    // the overview whole and coarse after the first pass (a 64th of the
    // data), the detail view white until the pass reaches its rows (see
    // waitsToRead).
    bool holdsPasses() const override { return m_format.interlaced; }
    // A checkpoint a slot, and a reader a pass.
    std::size_t keptBytes() const override
    {
        const std::size_t rowBytes = (std::size_t(m_format.width) * std::size_t(m_format.bitDepth * m_converter.samples()) + 7) / 8;
        return m_points.size() * checkpointBytes(rowBytes) + m_parked.size() * readerBytes(rowBytes);
    }
    void cancel() override
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        m_sweptFurther.notify_all();
    }
    bool holdsData()
    {
        std::uint8_t first = 0;
        return !m_points.empty() && m_data.read(m_file.fd, 0, &first, 1) == 1;
    }

    bool readTile(int, int band, std::uint8_t* out, std::size_t stride) override
    {
        const int top = band * m_layout.tileHeight;
        const int rows = std::min(m_layout.tileHeight, m_layout.height - top);
        const auto whiten = [&](int from) { // what the data did not hold is white
            for (int y = from; y < rows; ++y)
                std::memset(out + std::size_t(y) * stride, 0xFF, std::size_t(m_layout.width) * std::size_t(m_layout.channels));
        };
        if (m_format.interlaced)
            whiten(0);
        int done = 0;
        for (std::size_t pass = 0; pass < m_passes.passes().size(); ++pass)
            done += readPass(pass, band, out, stride);
        if (done == 0)
            return false;
        const int shown = m_format.interlaced ? rows : done; // a plain picture's rows are read top down
        m_colour.convert(out, qsizetype(stride), m_layout.width, shown);
        whiten(shown);
        return true;
    }

    // A band of an interlaced picture waits for the overview's pass to
    // reach its rows in the last pass that has any.
    bool waitsToRead(int, int band) const override
    {
        if (!m_format.interlaced)
            return false;
        std::lock_guard lock(m_mutex);
        if (!m_sweeping || m_cancelled)
            return false;
        for (std::size_t p = m_passes.passes().size(); p-- > 0;)
            if (const auto [first, end] = rowsOf(m_passes[p], band); first < end)
                return m_swept < m_passes.offsetOf({p, first});
        return false;
    }

    // The overview's pass over an interlaced picture: every row once, as
    // the file holds them, so that the first pass alone (a 64th of the
    // data) gives a whole overview, and nothing is inflated twice. Bands
    // wanted meanwhile wait for it to reach them, then start from the
    // checkpoints it leaves.
    void readInPasses(const PassRowSink& sink, const std::stop_token& stop) override
    {
        setSwept(0, true);
        {
            RowReader reader(m_file.fd, m_data, m_passes, *m_points[0], checkpointTaker());
            std::vector<std::uint8_t> pixels(std::size_t(m_layout.width) * std::size_t(m_layout.channels));
            for (RowPlace at; at < m_passes.end() && !stop.stop_requested(); at = m_passes.after(at)) {
                const std::uint8_t* raw = reader.next();
                if (!raw)
                    break;
                const PngPass& pass = m_passes[at.pass];
                m_converter.convert(raw, pass.width, pixels.data());
                m_colour.convert(pixels.data(), qsizetype(pixels.size()), pass.width, 1);
                sink({pass.top + int(at.row) * pass.down, pass.left, pass.across, pass.width, pixels.data()});
                setSwept(m_passes.offsetOf(m_passes.after(at)), true);
            }
        }
        setSwept(0, false);
    }

private:
    void setSwept(std::uint64_t offset, bool sweeping)
    {
        {
            std::lock_guard lock(m_mutex);
            m_swept = offset;
            m_sweeping = sweeping;
        }
        m_sweptFurther.notify_all();
    }

    CheckpointTaker checkpointTaker()
    {
        return {[this](std::uint64_t out) { return wantsCheckpoint(out); },
            [this](CheckpointPtr point) { takeCheckpoint(std::move(point)); }};
    }

    // The band's rows of one pass, each pixel put in its place; how many
    // rows were read.
    int readPass(std::size_t p, int band, std::uint8_t* out, std::size_t stride)
    {
        const PngPass& pass = m_passes[p];
        const int top = band * m_layout.tileHeight;
        const auto [first, end] = rowsOf(pass, band);
        if (first >= end)
            return 0;
        std::unique_ptr<RowReader> reader = readerFor(slotOf(p, std::size_t(band)), {p, first});
        while (reader && reader->nextPlace() < RowPlace{p, first})
            if (m_cancelled || !reader->next())
                reader.reset();
        const std::size_t pixel = std::size_t(m_layout.channels);
        std::vector<std::uint8_t> spaced(pass.across == 1 ? 0 : std::size_t(pass.width) * pixel);
        int done = 0;
        for (std::uint64_t row = first; reader && row < end; ++row, ++done) {
            const std::uint8_t* raw = m_cancelled ? nullptr : reader->next();
            if (!raw)
                return done;
            std::uint8_t* to = out + std::size_t(pass.top + int(row) * pass.down - top) * stride;
            if (pass.across == 1) {
                m_converter.convert(raw, pass.width, to);
                continue;
            }
            m_converter.convert(raw, pass.width, spaced.data());
            for (std::size_t x = 0; x < std::size_t(pass.width); ++x)
                std::memcpy(to + (std::size_t(pass.left) + x * std::size_t(pass.across)) * pixel, &spaced[x * pixel], pixel);
        }
        if (reader)
            park(p, std::move(reader));
        return done;
    }

    // The rows of a pass that fall in a band, [first, end).
    std::pair<std::uint64_t, std::uint64_t> rowsOf(const PngPass& pass, int band) const
    {
        const int top = band * m_layout.tileHeight;
        return {pass.rowAtOrBelow(top), pass.rowAtOrBelow(top + m_layout.tileHeight)};
    }

    // A band's rows of one pass have a checkpoint of their own: slots in
    // the order the data holds them, every band of the first pass, then of
    // the next.
    std::size_t slotOf(std::size_t pass, std::size_t band) const { return pass * m_bands + band; }
    std::uint64_t slotStart(std::size_t slot) const
    {
        const std::size_t p = slot / m_bands;
        return m_passes.offsetOf({p, m_passes[p].rowAtOrBelow(int(slot % m_bands) * m_layout.tileHeight)});
    }
    // The slot after the one the inflated byte `out` falls in.
    std::size_t slotAfter(std::uint64_t out) const
    {
        const RowPlace place = m_passes.placeOf(out);
        if (place == m_passes.end())
            return m_points.size();
        const PngPass& pass = m_passes[place.pass];
        const std::uint64_t y = std::uint64_t(pass.top) + place.row * std::uint64_t(pass.down);
        return slotOf(place.pass, std::size_t(y / std::uint64_t(m_layout.tileHeight))) + 1;
    }

    // The reader left where these rows begin, or a new one from the last
    // checkpoint before them.
    std::unique_ptr<RowReader> readerFor(std::size_t slot, RowPlace first)
    {
        CheckpointPtr from;
        {
            std::unique_lock lock(m_mutex);
            const std::uint64_t offset = m_passes.offsetOf(first);
            m_sweptFurther.wait(lock, [&] { return !m_sweeping || m_swept >= offset || m_cancelled; });
            if (m_cancelled)
                return nullptr;
            std::unique_ptr<RowReader>& parked = m_parked[first.pass];
            if (parked && parked->nextPlace() == first)
                return std::move(parked);
            for (std::size_t s = slot + 1; s-- > 0 && !from;)
                from = m_points[s];
        }
        return std::make_unique<RowReader>(m_file.fd, m_data, m_passes, *from, checkpointTaker());
    }

    void park(std::size_t pass, std::unique_ptr<RowReader> reader)
    {
        {
            std::lock_guard lock(m_mutex);
            m_parked[pass].swap(reader);
        }
        // The one parked before ends here, unlocked: its inflating thread
        // may be waiting for the lock to offer a checkpoint.
    }

    // A row's start becomes the next slot's checkpoint when that slot
    // has none yet, or when it lies shortly before the slot and the one it
    // has does not: at most two copies of the state and rows a slot.
    bool wantsCheckpoint(std::uint64_t out)
    {
        std::lock_guard lock(m_mutex);
        return betterCheckpoint(out);
    }

    void takeCheckpoint(CheckpointPtr point)
    {
        std::lock_guard lock(m_mutex);
        if (betterCheckpoint(point->out))
            m_points[slotAfter(point->out)] = std::move(point);
    }

    // Under the lock.
    bool betterCheckpoint(std::uint64_t out) const
    {
        const std::size_t slot = slotAfter(out);
        if (slot >= m_points.size())
            return false;
        const std::uint64_t start = slotStart(slot);
        const PngPass& pass = m_passes[slot / m_bands];
        const std::uint64_t bandBytes = std::uint64_t(m_layout.tileHeight / pass.down) * pass.shape.filtered();
        const std::uint64_t reach = std::min(bandBytes / 2, std::max<std::uint64_t>(256 << 10, 2 * pass.shape.filtered()));
        const auto near = [&](std::uint64_t at) { return start - at <= reach; };
        return !m_points[slot] || (near(out) && !near(m_points[slot]->out));
    }

    OwnedFd m_file;
    const PngFormat m_format;
    PngImageData m_data;
    const RowConverter m_converter;
    const SrgbRows m_colour;
    const PngPasses m_passes;
    const TileLayout m_layout;
    const std::size_t m_bands;
    mutable std::mutex m_mutex;
    std::atomic<bool> m_cancelled = false;
    std::condition_variable m_sweptFurther;
    bool m_sweeping = false; // the overview's pass over an interlaced picture is on
    std::uint64_t m_swept = 0; // the inflated bytes it has read
    std::vector<CheckpointPtr> m_points;                 // a slot's, or null
    std::vector<std::unique_ptr<RowReader>> m_parked;    // a pass's; last, as they use the rest
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
    auto source = std::make_shared<PngBandSource>(ownDescriptor(fd, path), format, facts.fileBytes, std::min(rows, format.height));
    return source->holdsData() ? source : nullptr;
}

} // namespace korvane
