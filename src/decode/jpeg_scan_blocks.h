#pragma once
// The Huffman decoding of one scan of a JPEG in several scans, as the
// standard defines it for each kind of scan: a sequential one (a block's
// DC difference and AC values at once), and a progressive one's first DC
// values, DC refinement bits, first AC values of a spectral band, and AC
// refinement bits. The same decoding serves the index's pass, which keeps
// only which coefficients are not zero, and a band's decode, which keeps
// the coefficients: the `Block` given says which.
#include "jpeg_bits.h"

#include <sys/types.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <vector>

namespace korvane::jpeg {

// The natural position of each coefficient in zigzag order.
inline constexpr std::array<std::uint8_t, 64> kNaturalOrder {0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5,
    12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// Where a scan's row of MCUs begins: the byte and bit, each component's
// DC predictor and the end-of-band run. `data` is false for rows past
// where its data ended.
struct ScanPoint {
    off_t byte = 0;
    int usedBits = 0;
    std::array<int, 4> dc {};
    unsigned endOfBandRun = 0;
    bool data = true;
};

struct ScanHeader {
    std::vector<int> components; // the frame's, in scan order
    int spectralStart = 0, spectralEnd = 63, high = 0, low = 0;
    bool progressive = true;
    std::vector<HuffmanCodes> dc, ac; // by scan component
};

// The state carried from block to block.
struct ScanState {
    std::array<int, 4> dc {};
    unsigned endOfBandRun = 0;
};

// False on a code the tables do not have: the data is damaged.
template <class Block>
bool decodeBlock(const ScanHeader& scan, std::size_t component, ScanState& state, EntropyReader& reader, Block& block)
{
    const int low = scan.low;
    if (!scan.progressive || scan.spectralStart == 0) {
        if (scan.progressive && scan.high > 0) { // DC refinement
            reader.ensure(1);
            if (reader.take(1))
                block.orDc(1 << low);
            return true;
        }
        const int category = decodeSymbol(reader, scan.dc[component]);
        if (category < 0 || category > 16)
            return false;
        state.dc[component] = int(unsigned(state.dc[component]) + unsigned(extended(reader.take(category), category)));
        block.setDc(int(unsigned(state.dc[component]) << low));
        if (scan.progressive)
            return true;
        for (int k = 1; k < 64; ++k) { // sequential: the AC values follow
            const int symbol = decodeSymbol(reader, scan.ac[component]);
            if (symbol < 0)
                return false;
            const int run = symbol >> 4, size = symbol & 15;
            if (size == 0) {
                if (run != 15)
                    break;
                k += 15;
                continue;
            }
            k += run;
            const int value = extended(reader.take(size), size);
            if (k < 64)
                block.setAc(k, value);
        }
        return true;
    }
    return scan.high == 0 ? decodeFirstAc(scan, component, state, reader, block)
                          : refineAc(scan, component, state, reader, block);
}

template <class Block>
bool decodeFirstAc(const ScanHeader& scan, std::size_t component, ScanState& state, EntropyReader& reader, Block& block)
{
    if (state.endOfBandRun > 0) {
        --state.endOfBandRun;
        return true;
    }
    for (int k = scan.spectralStart; k <= scan.spectralEnd; ++k) {
        const int symbol = decodeSymbol(reader, scan.ac[component]);
        if (symbol < 0)
            return false;
        const int run = symbol >> 4, size = symbol & 15;
        if (size) {
            k += run;
            const int value = extended(reader.take(size), size);
            if (k <= scan.spectralEnd)
                block.setAc(k, int(unsigned(value) << scan.low));
        } else if (run == 15) {
            k += 15;
        } else {
            state.endOfBandRun = (1U << run) + (run ? reader.take(run) : 0U) - 1;
            break;
        }
    }
    return true;
}

// One correction bit for a coefficient already not zero.
template <class Block>
void correct(EntropyReader& reader, Block& block, int k, int low)
{
    reader.ensure(1);
    if (reader.take(1))
        block.correct(k, low);
}

// Coefficients from..to (to at most 63) of a block's bits.
inline std::uint64_t coefficientRange(int from, int to)
{
    if (from > to)
        return 0;
    const std::uint64_t upTo = to >= 63 ? ~std::uint64_t(0) : (std::uint64_t(1) << (to + 1)) - 1;
    return upTo & ~((std::uint64_t(1) << from) - 1);
}

// Bits set, without the POPCNT instruction the baseline x86-64 lacks
// (libgcc's call for it was a tenth of the pass).
inline int bitsSet(std::uint64_t bits)
{
    bits -= (bits >> 1) & 0x5555555555555555ULL;
    bits = (bits & 0x3333333333333333ULL) + ((bits >> 2) & 0x3333333333333333ULL);
    bits = (bits + (bits >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
    return int((bits * 0x0101010101010101ULL) >> 56);
}

inline void skipBits(EntropyReader& reader, int count)
{
    for (; count > 0; count -= 16) {
        reader.ensure(std::min(count, 16));
        reader.skip(std::min(count, 16));
    }
}

// An AC refinement for a block kept as the bits of its coefficients not
// zero (the index's pass): a coefficient's correction bit changes only its
// value, so the bits up to the next new coefficient are skipped as one
// count, found from the bits, rather than read one at a time (the loop
// was two thirds of the pass).
template <class Block>
bool refineAcBits(const ScanHeader& scan, std::size_t component, ScanState& state, EntropyReader& reader, Block& block)
{
    int k = scan.spectralStart;
    const int end = scan.spectralEnd;
    std::uint64_t& bits = block.bits();
    if (state.endOfBandRun == 0) {
        for (; k <= end; ++k) {
            const int symbol = decodeSymbol(reader, scan.ac[component]);
            if (symbol < 0)
                return false;
            const int run = symbol >> 4;
            const bool added = (symbol & 15) != 0;
            if (added) {
                reader.skip(1); // its sign
            } else if (run != 15) {
                state.endOfBandRun = (1U << run) + (run ? reader.take(run) : 0U);
                break;
            }
            // Past `run` zero coefficients to the next, correcting those
            // not zero on the way.
            std::uint64_t zeros = ~bits & coefficientRange(k, end);
            for (int i = 0; i < run && zeros; ++i)
                zeros &= zeros - 1;
            const int next = zeros ? std::countr_zero(zeros) : end + 1;
            skipBits(reader, bitsSet(bits & coefficientRange(k, next - 1)));
            k = next;
            if (added && k <= end)
                bits |= std::uint64_t(1) << k;
        }
    }
    if (state.endOfBandRun > 0) {
        skipBits(reader, bitsSet(bits & coefficientRange(k, end)));
        --state.endOfBandRun;
    }
    return true;
}

template <class Block>
bool refineAc(const ScanHeader& scan, std::size_t component, ScanState& state, EntropyReader& reader, Block& block)
{
    if constexpr (Block::kKeepsBitsOnly)
        return refineAcBits(scan, component, state, reader, block);
    int k = scan.spectralStart;
    const int end = scan.spectralEnd, low = scan.low;
    if (state.endOfBandRun == 0) {
        for (; k <= end; ++k) {
            const int symbol = decodeSymbol(reader, scan.ac[component]);
            if (symbol < 0)
                return false;
            int run = symbol >> 4, value = 0;
            if (symbol & 15) { // a new coefficient of 1 or -1 at this bit
                value = reader.take(1) ? 1 << low : int(~0U << low);
            } else if (run != 15) {
                state.endOfBandRun = (1U << run) + (run ? reader.take(run) : 0U);
                break;
            }
            // Past `run` zero coefficients, correcting those not zero on the way.
            for (; k <= end; ++k) {
                if (block.nonZero(k))
                    correct(reader, block, k, low);
                else if (--run < 0)
                    break;
            }
            if (value && k <= end)
                block.setAc(k, value);
        }
    }
    if (state.endOfBandRun > 0) {
        for (; k <= end; ++k)
            if (block.nonZero(k))
                correct(reader, block, k, low);
        --state.endOfBandRun;
    }
    return true;
}

} // namespace korvane::jpeg
