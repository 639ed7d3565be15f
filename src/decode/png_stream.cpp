#include "png_stream.h"

#include "byte_order.h"
#include "read_at.h"

#include <algorithm>
#include <cstring>

#include <unistd.h>

namespace korvane {

namespace {

// Writers cut the image data into chunks of 8 KB or more; a file of far
// more, smaller ones would only make the list large: its data ends there.
constexpr std::size_t kMostChunks = std::size_t(4) << 20;

} // namespace

std::optional<ImageDataChunk> firstImageDataChunk(int fd)
{
    const off_t data = ::lseek(fd, 0, SEEK_CUR);
    std::uint8_t length[4];
    if (data < 8 || !readAllAt(fd, data - 8, length, sizeof length))
        return std::nullopt;
    return ImageDataChunk{data, bigEndian32(length)};
}

std::optional<ImageDataChunk> imageDataChunkAfter(int fd, off_t dataEnd)
{
    std::uint8_t header[12]; // the crc, then the next chunk's length and type
    if (!readAllAt(fd, dataEnd, header, sizeof header) || std::memcmp(header + 8, "IDAT", 4) != 0)
        return std::nullopt;
    return ImageDataChunk{dataEnd + off_t(sizeof header), bigEndian32(header + 4)};
}

// Under the lock: the chunks up to the one holding stream byte `end`.
void PngImageData::walkTo(int fd, std::uint64_t end)
{
    while (!m_ended && m_streamed < end) {
        if (m_chunks.size() >= kMostChunks) {
            m_ended = true;
            break;
        }
        const ImageDataChunk chunk = m_next;
        const std::uint64_t available = std::uint64_t(std::max<std::int64_t>(0, m_fileBytes - std::int64_t(chunk.data)));
        const std::uint32_t held = std::uint32_t(std::min<std::uint64_t>(chunk.length, available));
        if (held > 0)
            m_chunks.push_back({m_streamed, chunk.data, held});
        m_streamed += held;
        const std::optional<ImageDataChunk> next
            = held < chunk.length ? std::nullopt : imageDataChunkAfter(fd, chunk.data + off_t(chunk.length));
        if (next)
            m_next = *next;
        else
            m_ended = true; // the last, or cut short: what there is
    }
}

std::size_t PngImageData::read(int fd, std::uint64_t at, std::uint8_t* out, std::size_t count)
{
    // The chunks this read spans, copied out so that the reading itself
    // runs unlocked.
    std::vector<Chunk> spanned;
    {
        std::lock_guard lock(m_mutex);
        walkTo(fd, at + count);
        auto chunk = std::upper_bound(m_chunks.begin(), m_chunks.end(), at,
            [](std::uint64_t offset, const Chunk& c) { return offset < c.streamed; });
        if (chunk == m_chunks.begin())
            return 0;
        for (--chunk; chunk != m_chunks.end() && chunk->streamed < at + count; ++chunk)
            spanned.push_back(*chunk);
    }
    std::size_t done = 0;
    for (const Chunk& chunk : spanned) {
        const std::uint64_t from = at + done - chunk.streamed;
        if (from >= chunk.length)
            continue;
        const std::size_t want = std::size_t(std::min<std::uint64_t>(chunk.length - from, count - done));
        const std::size_t got = readAt(fd, std::int64_t(chunk.data) + std::int64_t(from), out + done, want);
        done += got;
        if (got < want || done == count)
            break;
    }
    return done;
}

} // namespace korvane
