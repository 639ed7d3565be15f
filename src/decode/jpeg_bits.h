#pragma once
// What every Huffman decoder of ours shares: a table's codes both ways,
// the entropy-coded bytes as bits, and a block's mean from its DC value.
#include "jpeg_entropy.h"
#include "read_at.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace korvane::jpeg {

constexpr int kFastBits = 9;

// A table's canonical codes, both ways: symbol to code, and code to
// symbol (a lookup of the first 9 bits, then code lengths one by one).
struct HuffmanCodes {
    std::array<std::uint16_t, 1 << kFastBits> fast {}; // length << 8 | symbol; 0: a longer code
    std::array<int, 18> maxCode {};
    std::array<int, 17> valueOffset {};
    std::array<std::uint8_t, 256> values {};
    std::array<std::uint16_t, 256> code {};
    std::array<std::uint8_t, 256> length {}; // 0: no code for the symbol
    bool valid = false;

    explicit HuffmanCodes(const HuffmanTable& table)
    {
        values = table.values;
        int next = 0, count = 0;
        for (int bits = 1; bits <= 16; ++bits) {
            valueOffset[std::size_t(bits)] = count - next;
            for (int i = 0; i < table.bits[std::size_t(bits)]; ++i, ++next, ++count) {
                if (count >= 256 || next >= (1 << bits))
                    return; // more codes than the length allows
                const std::uint8_t symbol = table.values[std::size_t(count)];
                code[symbol] = std::uint16_t(next);
                length[symbol] = std::uint8_t(bits);
                if (bits <= kFastBits)
                    for (int extra = 0; extra < 1 << (kFastBits - bits); ++extra)
                        fast[std::size_t(next << (kFastBits - bits) | extra)] = std::uint16_t(bits << 8 | symbol);
            }
            maxCode[std::size_t(bits)] = table.bits[std::size_t(bits)] ? next - 1 : -1;
            next <<= 1;
        }
        maxCode[17] = INT_MAX;
        valid = count > 0;
    }
};

// The entropy-coded bytes of the file, their stuffing undone, as bits. At
// a marker (or the file's end) the data ends, and zeros follow, as
// libjpeg gives them.
class EntropyReader {
public:
    // Reads up to `bufferBytes` of the file at a time.
    EntropyReader(int fd, off_t from, off_t fileBytes, std::size_t bufferBytes = std::size_t(1) << 20)
        : m_fd(fd), m_bufferStart(from), m_fileBytes(fileBytes), m_buffer(std::make_unique_for_overwrite<std::uint8_t[]>(bufferBytes)),
          m_bufferBytes(bufferBytes)
    {
    }

    void ensure(int bits)
    {
        if (m_count < bits)
            fill();
    }
    // 1 to 16 bits; none gives 0 (a shift by the whole word would not).
    unsigned peek(int bits) const
    {
        return bits == 0 ? 0 : unsigned(m_bits >> (m_count - bits)) & ((1U << bits) - 1);
    }
    void skip(int bits) { m_count -= bits; }
    unsigned take(int bits)
    {
        const unsigned value = peek(bits);
        skip(bits);
        return value;
    }

    // Whether bits past the data's end were taken: libjpeg decodes the
    // MCU that runs out of data with zeros and leaves the rest as it was.
    bool overrun() const { return m_count < m_padding; }
    // Data bits not yet taken; none once the data has ended.
    int dataBits() const { return std::max(0, m_count - m_padding); }
    // The position of the next bit taken, while data is left; else where
    // the data ended.
    EntropyPoint position() const
    {
        const int left = dataBits();
        if (left == 0)
            return EntropyPoint{m_endAt, 0, {}};
        const int bytesBack = (left + 7) / 8;
        return EntropyPoint{m_offsets[std::size_t(m_loaded - bytesBack) & 15], (8 - left % 8) % 8, {}};
    }

private:
    void fill()
    {
        while (m_count <= 56) {
            if (m_position < m_end && m_buffer[m_position] != 0xFF && !m_ended) { // most bytes
                m_bits = m_bits << 8 | m_buffer[m_position];
                m_count += 8;
                m_offsets[std::size_t(m_loaded++) & 15] = m_bufferStart + off_t(m_position++);
                continue;
            }
            off_t at = 0;
            const int byte = nextDataByte(at);
            m_bits <<= 8;
            m_count += 8;
            if (byte < 0) {
                m_padding += 8;
                continue;
            }
            m_bits |= std::uint64_t(byte);
            m_offsets[std::size_t(m_loaded++) & 15] = at;
        }
    }

    bool haveBytes(std::size_t wanted)
    {
        if (m_end - m_position >= wanted)
            return true;
        const off_t fileAt = m_bufferStart + off_t(m_end);
        std::memmove(m_buffer.get(), m_buffer.get() + m_position, m_end - m_position);
        m_bufferStart += off_t(m_position);
        m_end -= m_position;
        m_position = 0;
        if (fileAt < m_fileBytes)
            m_end += readAt(m_fd, fileAt, m_buffer.get() + m_end,
                std::size_t(std::min<off_t>(off_t(m_bufferBytes - m_end), m_fileBytes - fileAt)));
        return m_end - m_position >= wanted;
    }

    int nextDataByte(off_t& at)
    {
        if (m_ended || !haveBytes(1))
            return endHere();
        at = m_bufferStart + off_t(m_position);
        const std::uint8_t byte = m_buffer[m_position];
        if (byte != 0xFF) {
            ++m_position;
            return byte;
        }
        if (!haveBytes(2) || m_buffer[m_position + 1] != 0x00)
            return endHere(); // a marker, or the file's end within one
        m_position += 2;
        return 0xFF;
    }

    int endHere()
    {
        if (!m_ended)
            m_endAt = m_bufferStart + off_t(m_position);
        m_ended = true;
        return -1;
    }

    const int m_fd;
    off_t m_bufferStart;
    const off_t m_fileBytes;
    std::unique_ptr<std::uint8_t[]> m_buffer; // not cleared: only what is read is used
    const std::size_t m_bufferBytes;
    std::size_t m_position = 0, m_end = 0;
    std::uint64_t m_bits = 0;
    int m_count = 0, m_padding = 0;
    bool m_ended = false;
    off_t m_endAt = 0;
    std::array<off_t, 16> m_offsets {}; // of the last bytes loaded
    long long m_loaded = 0;
};

[[gnu::always_inline]] inline int decodeSymbol(EntropyReader& reader, const HuffmanCodes& codes)
{
    reader.ensure(32);
    if (const std::uint16_t entry = codes.fast[reader.peek(kFastBits)]) {
        reader.skip(entry >> 8);
        return entry & 0xFF;
    }
    for (int bits = kFastBits + 1; bits <= 16; ++bits) {
        const int code = int(reader.peek(bits));
        if (code <= codes.maxCode[std::size_t(bits)]) {
            reader.skip(bits);
            const int index = code + codes.valueOffset[std::size_t(bits)];
            return index >= 0 && index < 256 ? codes.values[std::size_t(index)] : -1;
        }
    }
    return -1; // no such code: damaged data
}

// A difference's value from its category and extra bits, as the standard
// defines it.
inline int extended(unsigned bits, int category)
{
    return category == 0 ? 0 : bits < (1U << (category - 1)) ? int(bits) - (1 << category) + 1 : int(bits);
}

// A block's mean from its DC value, as libjpeg's 1 x 1 inverse DCT gives it.
inline int blockMean(int dc, int step)
{
    const int value = ((dc * step + 4) >> 3) + 128;
    return std::clamp(value, 0, 255);
}

// YCbCr to RGB in libjpeg's fixed point (16 fraction bits, rounded).
inline void yccToRgb(int y, int cb, int cr, std::uint8_t* rgb)
{
    // libjpeg's FIX(1.40200), FIX(0.34414), FIX(0.71414) and FIX(1.77200).
    constexpr long long kHalf = 1LL << 15, kCrToR = 91881, kCbToG = 22554, kCrToG = 46802, kCbToB = 116130;
    const long long b = cb - 128, r = cr - 128;
    const long long red = y + ((kCrToR * r + kHalf) >> 16);
    const long long green = y + ((-kCbToG * b - kCrToG * r + kHalf) >> 16);
    const long long blue = y + ((kCbToB * b + kHalf) >> 16);
    rgb[0] = std::uint8_t(std::clamp<long long>(red, 0, 255));
    rgb[1] = std::uint8_t(std::clamp<long long>(green, 0, 255));
    rgb[2] = std::uint8_t(std::clamp<long long>(blue, 0, 255));
}

// A pixel at 1/8 from its components' block means: grey, YCbCr made RGB,
// or RGB as it is.
inline void storeEighth(const std::array<int, 4>& samples, int channels, bool ycc, std::uint8_t* pixel)
{
    if (channels == 1)
        pixel[0] = std::uint8_t(samples[0]);
    else if (ycc)
        yccToRgb(samples[0], samples[1], samples[2], pixel);
    else
        pixel[0] = std::uint8_t(samples[0]), pixel[1] = std::uint8_t(samples[1]), pixel[2] = std::uint8_t(samples[2]);
}

} // namespace korvane::jpeg
