#include "jpeg_bands.h"

#include "decode_error.h"
#include "jpeg_errors.h"
#include "owned_fd.h"
#include "read_at.h"
#include "texts.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <optional>
#include <unistd.h>

#include <jpeglib.h>

namespace korvane {

namespace {

// More than this before the first scan's data (thumbnails, profiles) is
// not a header a band can carry.
constexpr off_t kMostHeaderBytes = 16 << 20;

bool isRestart(std::uint8_t marker)
{
    return marker >= 0xD0 && marker <= 0xD7;
}

// The file's segments up to its first scan's data, less the metadata a band
// has no use for (EXIF, the colour profile, comments); where the frame's
// height lies in it.
struct BandHeader {
    std::vector<std::uint8_t> bytes;
    std::size_t heightAt = 0;
};

std::optional<BandHeader> bandHeaderOf(int fd, off_t entropyStart)
{
    if (entropyStart < 4 || entropyStart > kMostHeaderBytes)
        return std::nullopt;
    std::vector<std::uint8_t> file(static_cast<std::size_t>(entropyStart));
    if (!readAllAt(fd, 0, file.data(), file.size()))
        return std::nullopt;
    BandHeader header;
    header.bytes.assign(file.begin(), file.begin() + 2); // SOI
    bool sawFrame = false;
    for (std::size_t at = 2; at + 4 <= file.size();) {
        if (file[at] != 0xFF || file[at + 1] == 0xFF) {
            ++at; // fill bytes
            continue;
        }
        const std::uint8_t marker = file[at + 1];
        const std::size_t end = at + 2 + (std::size_t(file[at + 2]) << 8 | file[at + 3]);
        if (end > file.size())
            return std::nullopt;
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            header.heightAt = header.bytes.size() + 5;
            sawFrame = true;
        }
        if (marker != 0xE1 && marker != 0xE2 && marker != 0xFE)
            header.bytes.insert(header.bytes.end(), file.begin() + std::ptrdiff_t(at), file.begin() + std::ptrdiff_t(end));
        if (marker == 0xDA)
            return sawFrame && end == file.size() ? std::optional(header) : std::nullopt;
        at = end;
    }
    return std::nullopt;
}

// Where each group of MCU rows that begins at a restart marker has its
// data in the file, and where the marker that ends it stands.
struct RestartIndex {
    std::vector<off_t> starts, ends;
};

// One pass over the scan's data, noting every `intervalsPerGroup`-th
// restart marker.
RestartIndex indexRestarts(int fd, off_t from, qint64 fileBytes, std::uint64_t intervalsPerGroup)
{
    RestartIndex index;
    index.starts.push_back(from);
    std::vector<std::uint8_t> block(1 << 20);
    std::uint64_t intervals = 0;
    bool afterFF = false;
    for (off_t at = from; at < fileBytes;) {
        const std::size_t count = std::size_t(std::min<qint64>(qint64(block.size()), fileBytes - at));
        if (!readAllAt(fd, at, block.data(), count))
            break;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t byte = block[i];
            if (!afterFF) {
                const void* next = std::memchr(block.data() + i, 0xFF, count - i);
                if (!next)
                    break;
                i = std::size_t(static_cast<const std::uint8_t*>(next) - block.data());
                afterFF = true;
                continue;
            }
            afterFF = byte == 0xFF; // fill
            if (byte == 0x00 || byte == 0xFF)
                continue;
            const off_t marker = at + off_t(i) - 1;
            if (!isRestart(byte)) { // the scan's end
                index.ends.push_back(marker);
                return index;
            }
            if (++intervals % intervalsPerGroup == 0) {
                index.ends.push_back(marker);
                index.starts.push_back(marker + 2);
            }
        }
        at += off_t(count);
    }
    index.ends.push_back(off_t(fileBytes)); // cut short: what there is
    return index;
}

// One band's decoder; everything it touches lives here, outside the frame
// that setjmp returns to.
struct BandDecoding {
    jpeg_decompress_struct cinfo {};
    JpegErrors errors {};
    int rowsDone = 0;
    std::vector<std::uint8_t> scratch;
    BandDecoding()
    {
        useJpegErrors(cinfo, errors);
        jpeg_create_decompress(&cinfo);
    }
    ~BandDecoding() { jpeg_destroy_decompress(&cinfo); }
    BandDecoding(const BandDecoding&) = delete;
    BandDecoding& operator=(const BandDecoding&) = delete;
};

// Decodes a band's own JPEG at 1/scale, its first `skip` rows (the rows
// above that its chroma is smoothed with) thrown away and the next `rows`
// into `out`; the rows decoded, which a damaged band may leave short.
int decodeBand(BandDecoding& d, const std::vector<std::uint8_t>& jpeg, int channels, int scale, int skip,
    std::uint8_t* out, std::size_t stride, int rows)
{
    if (setjmp(d.errors.jump))
        return std::max(0, d.rowsDone - skip);
    jpeg_mem_src(&d.cinfo, jpeg.data(), static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&d.cinfo, TRUE);
    d.cinfo.out_color_space = channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
    d.cinfo.scale_num = 1;
    d.cinfo.scale_denom = static_cast<unsigned int>(scale);
    jpeg_start_decompress(&d.cinfo);
    d.scratch.resize(std::size_t(d.cinfo.output_width) * std::size_t(channels));
    while (d.rowsDone < skip + rows && d.cinfo.output_scanline < d.cinfo.output_height) {
        JSAMPROW row = d.rowsDone < skip ? d.scratch.data() : out + std::size_t(d.rowsDone - skip) * stride;
        d.rowsDone += int(jpeg_read_scanlines(&d.cinfo, &row, 1));
    }
    jpeg_abort_decompress(&d.cinfo);
    return std::max(0, d.rowsDone - skip);
}

// A band is decoded with the group of MCU rows on either side of it: the
// chroma of its edge rows is smoothed with theirs, as in the whole decode.
class JpegBandSource final : public TileSource {
public:
    JpegBandSource(int fd, const JpegFormat& format, BandHeader header, RestartIndex index,
        std::unique_ptr<EntropyIndex> entropy, int groupRows, int groupsPerBand,
        std::unique_ptr<ScanIndex> scans = nullptr)
        : m_file(fd), m_format(format), m_header(std::move(header)), m_index(std::move(index)),
          m_entropy(std::move(entropy)), m_scans(std::move(scans)),
          m_colour(m_format.icc.isEmpty() ? nullptr
                                          : std::make_unique<SrgbRows>(ColourProfile{m_format.icc, QColorSpace()},
                                              m_format.channels == 1)),
          m_groupRows(groupRows), m_groupsPerBand(groupsPerBand),
          m_layout{format.width, format.height, format.width, std::min(groupRows * groupsPerBand, format.height),
              format.channels}
    {
    }

    TileLayout layout() const override { return m_layout; }

    std::size_t keptBytes() const override
    {
        return (m_entropy ? m_entropy->mostBytes() : 0) + (m_scans ? m_scans->blockBytes() : 0);
    }

    // In several scans, no row is final before the last scan has passed it.
    bool readsWholeFileFirst() const override { return m_scans != nullptr; }

    // A band waiting for the index's pass gets what it has found so far.
    void cancel() override
    {
        if (m_entropy)
            m_entropy->cancel();
        if (m_scans)
            m_scans->cancel();
    }

    bool readTile(int, int band, std::uint8_t* out, std::size_t stride) override
    {
        return readBand(band, 1, out, stride);
    }

    bool waitsToRead(int, int band) const override
    {
        const int end = rowsNeeded(band);
        return m_entropy ? !m_entropy->hasRows(end) : m_scans && !m_scans->hasRows(end);
    }

    // Bands are whole MCU rows, 8 or 16 pixels: the DCT scales 1/2 to 1/8.
    int reducedScale(int block) const override
    {
        for (const int scale : {8, 4, 2})
            if (block % scale == 0)
                return scale;
        return 1;
    }

    bool readReducedTile(int, int band, int scale, std::uint8_t* out, std::size_t stride) override
    {
        // Without markers, the pass has the blocks' DC values at hand:
        // decoding the band again would repeat its Huffman decoding, which
        // is nearly all of a decode at 1/8 (the pass then took 1.5 times
        // as long as djpeg -scale 1/8; from the DC values, about as long).
        if (scale == 8 && (m_entropy || m_scans)) {
            const int first = band * m_groupsPerBand, rows = reducedSide(bandRows(band), 8);
            const int end = std::min(first + m_groupsPerBand, reducedSide(m_layout.height, m_groupRows));
            const bool taken = m_entropy ? m_entropy->takeEighths(first, end, out, stride, m_layout.channels, rows)
                                         : m_scans->takeEighths(first, end, out, stride, m_layout.channels, rows);
            if (taken) {
                if (m_colour)
                    m_colour->convert(out, qsizetype(stride), reducedSide(m_layout.width, 8), rows);
                return true;
            }
        }
        return readBand(band, scale, out, stride);
    }

private:
    static int reducedSide(int side, int scale) { return (side + scale - 1) / scale; }
    int bandRows(int band) const { return std::min(m_layout.tileHeight, m_layout.height - band * m_layout.tileHeight); }
    // The MCU rows an index must have found for a band: its own, and the
    // one below that its last rows' chroma is smoothed with.
    int rowsNeeded(int band) const { return (band + 1) * m_groupsPerBand + 1; }

    bool readBand(int band, int scale, std::uint8_t* out, std::size_t stride)
    {
        const int rows = reducedSide(bandRows(band), scale), width = reducedSide(m_layout.width, scale);
        const std::size_t first = std::size_t(band) * std::size_t(m_groupsPerBand);
        // Without markers, the rows the pass has found by the time they
        // are wanted.
        std::size_t groups = m_index.starts.size();
        if (m_entropy)
            groups = std::size_t(std::max(0, m_entropy->waitForRows(rowsNeeded(band))));
        else if (m_scans)
            groups = std::size_t(m_scans->waitForRows(rowsNeeded(band)));
        if (first >= groups)
            return false; // past where the file ends
        const std::size_t from = first > 0 ? first - 1 : 0;
        const std::size_t to = std::min(groups, first + std::size_t(m_groupsPerBand) + 1);
        // Without markers, a made-up row above all but the first band.
        const int madeUpRows = m_entropy && from > 0 ? m_groupRows : 0;
        const std::vector<std::uint8_t> jpeg = bandJpeg(from, to, madeUpRows);
        if (jpeg.empty())
            return false;
        BandDecoding decoding;
        const int skip = (int(first - from) * m_groupRows + madeUpRows) / scale;
        const int done = decodeBand(decoding, jpeg, m_format.channels, scale, skip, out, stride, rows);
        if (done == 0)
            return false;
        if (m_colour)
            m_colour->convert(out, qsizetype(stride), width, done);
        for (int y = done; y < rows; ++y)
            std::memset(out + std::size_t(y) * stride, 0xFF, std::size_t(width) * std::size_t(m_layout.channels));
        return true;
    }

    // Groups [from, to) as a JPEG of their own: the header with their
    // height, their data with the restart markers numbered from 0, and an
    // end.
    std::vector<std::uint8_t> bandJpeg(std::size_t from, std::size_t to, int madeUpRows) const
    {
        if (m_scans)
            return m_scans->bandJpeg(m_file.fd, int(from), int(to));
        const int height = madeUpRows
            + std::min(m_format.height - int(from) * m_groupRows, int(to - from) * m_groupRows);
        std::vector<std::uint8_t> jpeg(m_header.bytes);
        jpeg[m_header.heightAt] = std::uint8_t(height >> 8);
        jpeg[m_header.heightAt + 1] = std::uint8_t(height);
        if (m_entropy) {
            const std::vector<std::uint8_t> data = m_entropy->bandData(m_file.fd, int(from), int(to));
            if (data.empty())
                return {};
            jpeg.insert(jpeg.end(), data.begin(), data.end());
            jpeg.insert(jpeg.end(), {0xFF, 0xD9});
            return jpeg;
        }
        const off_t begin = m_index.starts[from], end = m_index.ends[to - 1];
        if (end <= begin)
            return {};
        const std::size_t dataAt = jpeg.size();
        jpeg.resize(dataAt + std::size_t(end - begin));
        if (!readAllAt(m_file.fd, begin, jpeg.data() + dataAt, std::size_t(end - begin)))
            return {};
        int restarts = 0;
        for (std::size_t i = dataAt; i + 1 < jpeg.size(); ++i)
            if (jpeg[i] == 0xFF && isRestart(jpeg[i + 1]))
                jpeg[++i] = std::uint8_t(0xD0 + (restarts++ & 7));
        jpeg.insert(jpeg.end(), {0xFF, 0xD9});
        return jpeg;
    }

    OwnedFd m_file;
    const JpegFormat m_format;
    const BandHeader m_header;
    const RestartIndex m_index;
    const std::unique_ptr<EntropyIndex> m_entropy; // instead, for a file without markers
    const std::unique_ptr<ScanIndex> m_scans;      // or in several scans
    const std::unique_ptr<SrgbRows> m_colour;
    const int m_groupRows, m_groupsPerBand;
    const TileLayout m_layout;
};

// Bands of MCU rows, entered where one pass of Huffman decoding found
// each row's start.
std::shared_ptr<TileSource> withoutMarkers(int fd, const std::string& path, const FileFacts& facts,
    const JpegFormat& format, BandBytes bytes)
{
    const std::size_t rowBytes = std::size_t(format.width) * std::size_t(format.channels) * std::size_t(format.mcuHeight);
    if (!format.entropy || rowBytes > bytes.most)
        return nullptr;
    std::unique_ptr<EntropyIndex> index = EntropyIndex::make(*format.entropy);
    const std::optional<BandHeader> header = bandHeaderOf(fd, format.entropyStart);
    if (!index || !header)
        return nullptr;
    const int own = ownDescriptor(fd, path);
    index->start(own, format.entropyStart, off_t(facts.fileBytes));
    const std::uint64_t groupsPerBand = std::max<std::uint64_t>(1, bytes.wanted / rowBytes);
    return std::make_shared<JpegBandSource>(own, format, *header, RestartIndex{}, std::move(index),
        format.mcuHeight, int(groupsPerBand));
}

// Bands of MCU rows gathered scan by scan, where one pass of Huffman
// decoding found each row's start in each scan. Its index may take up to
// half the picture cache (a quarter of a megabyte for a megapixel at 4:2:0).
std::shared_ptr<TileSource> inScans(int fd, const std::string& path, const FileFacts& facts,
    const JpegFormat& format, BandBytes bytes)
{
    std::unique_ptr<ScanIndex> index = ScanIndex::make(*format.scans, 2 * bytes.most);
    if (!index)
        return nullptr;
    const std::size_t rowBytes
        = std::size_t(format.width) * std::size_t(format.channels) * std::size_t(index->mcuHeight());
    if (rowBytes > bytes.most)
        return nullptr;
    const int own = ownDescriptor(fd, path);
    index->start(own, off_t(facts.fileBytes));
    // A band's rows are Huffman decoded from every scan, written by libjpeg
    // and decoded again, over the picture's whole width: smaller bands than
    // the others' keep what a first screenful waits for near what it shows.
    const std::uint64_t groupsPerBand = std::max<std::uint64_t>(1, bytes.wanted / 4 / rowBytes);
    const int groupRows = index->mcuHeight();
    return std::make_shared<JpegBandSource>(own, format, BandHeader{}, RestartIndex{}, nullptr, groupRows,
        int(groupsPerBand), std::move(index));
}

} // namespace

std::shared_ptr<TileSource> openJpegBands(int fd, const std::string& path, const FileFacts& facts,
    const JpegFormat& format, BandBytes bytes)
{
    if (format.scans)
        return format.restartInterval == 0 ? inScans(fd, path, facts, format, bytes) : nullptr;
    if (format.restartInterval == 0)
        return withoutMarkers(fd, path, facts, format, bytes);
    const std::uint64_t mcusPerRow = std::uint64_t((format.width + format.mcuWidth - 1) / format.mcuWidth);
    // MCU rows begin at a marker every `aligned` rows.
    const std::uint64_t aligned = format.restartInterval / std::gcd(std::uint64_t(format.restartInterval), mcusPerRow);
    const std::size_t rowBytes = std::size_t(format.width) * std::size_t(format.channels) * std::size_t(format.mcuHeight);
    if (aligned * rowBytes > bytes.most)
        return nullptr;
    const std::uint64_t groupsPerBand = std::max<std::uint64_t>(1, bytes.wanted / rowBytes / aligned);
    const std::optional<BandHeader> header = bandHeaderOf(fd, format.entropyStart);
    if (!header)
        return nullptr;
    RestartIndex index = indexRestarts(fd, format.entropyStart, facts.fileBytes, aligned * mcusPerRow / format.restartInterval);
    return std::make_shared<JpegBandSource>(ownDescriptor(fd, path), format, *header, std::move(index), nullptr,
        int(aligned) * format.mcuHeight, int(groupsPerBand));
}

} // namespace korvane
