#pragma once
// A PNG's image data as one deflate stream, across its IDAT chunks.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace korvane {

// One chunk of a PNG's image data: where its data begins, and its length.
struct ImageDataChunk {
    off_t data = 0;
    std::uint32_t length = 0;
};

// The first: libpng has read up to its type, so its data begins at the
// descriptor's position and its length lies just before. Null when that
// cannot be read.
std::optional<ImageDataChunk> firstImageDataChunk(int fd);
// The one after the data ending at `dataEnd` (past its checksum, the next
// chunk's length and type); null when the next chunk is not image data.
std::optional<ImageDataChunk> imageDataChunkAfter(int fd, off_t dataEnd);

// The stream, read from several threads at once. Its chunks are found as
// far as it is read: a 5 GB PNG in chunks of 8 KB has 660,000 of them,
// and walking them all before the first band showed took 0.6 s.
class PngImageData {
public:
    PngImageData(ImageDataChunk first, std::int64_t fileBytes) : m_next(first), m_fileBytes(fileBytes) {}
    PngImageData(const PngImageData&) = delete;
    PngImageData& operator=(const PngImageData&) = delete;

    // Up to `count` bytes from `at` in the stream; fewer at its end (the
    // last chunk, or one cut short).
    std::size_t read(int fd, std::uint64_t at, std::uint8_t* out, std::size_t count);

private:
    struct Chunk {
        std::uint64_t streamed; // the stream's bytes before it
        off_t data;
        std::uint32_t length;
    };
    void walkTo(int fd, std::uint64_t end);

    std::mutex m_mutex; // for what follows
    std::vector<Chunk> m_chunks;
    ImageDataChunk m_next; // the first chunk not walked yet
    std::uint64_t m_streamed = 0;
    bool m_ended = false;
    const std::int64_t m_fileBytes;
};

} // namespace korvane
