#pragma once
// A band of a JPEG in several scans as libjpeg's own coefficient arrays,
// filled block by block, then written by libjpeg as a baseline JPEG of its
// own: libjpeg-turbo turns coefficients into pixels only from a file.
#include "jpeg_errors.h"
#include "jpeg_scan_blocks.h"
#include "jpeg_scans.h"

#include <array>
#include <cstdint>
#include <vector>

namespace korvane {

// A block in libjpeg's coefficient array, as the scans' decoding fills it.
struct CoefficientBlock {
    static constexpr bool kKeepsBitsOnly = false;
    JCOEF* coefficients;
    void setDc(int value) { coefficients[0] = JCOEF(value); }
    void orDc(int bit) { coefficients[0] = JCOEF(coefficients[0] | bit); }
    void setAc(int k, int value) { coefficients[jpeg::kNaturalOrder[std::size_t(k)]] = JCOEF(value); }
    bool nonZero(int k) const { return coefficients[jpeg::kNaturalOrder[std::size_t(k)]] != 0; }
    void correct(int k, int low)
    {
        JCOEF& value = coefficients[jpeg::kNaturalOrder[std::size_t(k)]];
        const int bit = 1 << low;
        if ((value & bit) == 0)
            value = JCOEF(value >= 0 ? value + bit : value - bit);
    }
};

class BandCoefficients {
public:
    BandCoefficients();
    ~BandCoefficients();
    BandCoefficients(const BandCoefficients&) = delete;
    BandCoefficients& operator=(const BandCoefficients&) = delete;

    // Arrays for `mcuRows` rows of MCUs of the frame, `height` pixel rows,
    // all zero; false when libjpeg refuses them.
    bool start(const ScanFrame& frame, int height, int mcusPerRow, int mcuRows);
    // Component `c`'s block at (`column`, `row`), the row counted from the band's top.
    CoefficientBlock block(int c, int column, int row) const
    {
        return CoefficientBlock{m_rows[std::size_t(c)][row][column]};
    }
    // The band as a JPEG of its own; empty when libjpeg cannot write it.
    std::vector<std::uint8_t> finish();

private:
    // Everything libjpeg touches lives here, outside the frames that setjmp
    // returns to.
    jpeg_compress_struct m_cinfo {};
    JpegErrors m_errors {};
    unsigned char* m_jpeg = nullptr;
    unsigned long m_jpegBytes = 0;
    std::array<jvirt_barray_ptr, 4> m_arrays {}; // libjpeg keeps a pointer to these
    std::array<JBLOCKARRAY, 4> m_rows {};
};

} // namespace korvane
