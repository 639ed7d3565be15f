// The colour planes and their conversion. TurboJPEG's tjDecodeYUVPlanes
// would convert them, but it always upsamples colour by repeating samples,
// while libjpeg's own decode blends neighbouring samples ("fancy"
// upsampling): the two differ by tens of levels at every colour edge. The
// arithmetic below is libjpeg's (its smooth upsampling for 2:1 colour, and
// its fixed-point YCbCr to RGB), so a rectangle converted here is what the
// whole decode gives at the same pixels.
#include "jpeg_planes.h"

#include "orientation.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <new>
#include <vector>

#include <jpeglib.h>

namespace korvane {

namespace {

constexpr int kScaleBits = 16;
constexpr int kOneHalf = 1 << (kScaleBits - 1);

// libjpeg's FIX(): every constant here is positive, so a half rounds up.
constexpr int fixed(double x)
{
    const double scaled = x * (1 << kScaleBits);
    const int whole = static_cast<int>(scaled);
    return scaled - whole >= 0.5 ? whole + 1 : whole;
}

// The loops below are the conversion's whole cost: written so that the
// compiler can run them 8 or 16 pixels at a time, and built for AVX2 too,
// chosen at run time where the processor has it.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_ADDRESS__)
#define KORVANE_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KORVANE_VECTOR_CLONES
#endif

// Colour sums to the samples of two pixels each: the nearer sum 3/4, the
// further one 1/4, with libjpeg's rounding. `sums` is readable from -1 to
// count.
template <int Shift, int EvenBias, int OddBias>
KORVANE_VECTOR_CLONES void blendAcross(const int* sums, int count, int* out)
{
    for (std::ptrdiff_t k = 0; k < count; ++k) {
        out[2 * k] = (3 * sums[k] + sums[k - 1] + EvenBias) >> Shift;
        out[2 * k + 1] = (3 * sums[k] + sums[k + 1] + OddBias) >> Shift;
    }
}

// Column sums c = first - 1 .. last + 1 into sums[c - first + 1]: 3 x the
// near sample + the far one, or the near one alone; beyond an edge the
// edge column's. The columns inside are summed in one loop without the
// edge test, which the compiler runs many at a time.
KORVANE_VECTOR_CLONES void columnSums(const uchar* near, const uchar* far, int first, int last, int lastColumn, int* sums)
{
    const auto sumAt = [&](int k) { return far ? 3 * near[k] + far[k] : near[k]; };
    const int inFirst = std::max(first - 1, 0), inLast = std::min(last + 1, lastColumn);
    int* inside = sums + (inFirst - first + 1);
    const std::ptrdiff_t count = inLast - inFirst + 1;
    const uchar* n = near + inFirst;
    if (far) {
        const uchar* f = far + inFirst;
        for (std::ptrdiff_t i = 0; i < count; ++i)
            inside[i] = 3 * n[i] + f[i];
    } else {
        for (std::ptrdiff_t i = 0; i < count; ++i)
            inside[i] = n[i];
    }
    for (int c = first - 1; c < inFirst; ++c)
        sums[c - first + 1] = sumAt(0);
    for (int c = std::max(inLast + 1, first - 1); c <= last + 1; ++c)
        sums[c - first + 1] = sumAt(lastColumn);
}

// One row of YCbCr to RGB888 by libjpeg's fixed-point arithmetic (its
// tables in jdcolor.c, computed instead of looked up).
KORVANE_VECTOR_CLONES void convertRow(const uchar* luma, const int* cb, const int* cr, int width, uchar* rgb)
{
    constexpr int crToRed = fixed(1.40200), cbToBlue = fixed(1.77200);
    constexpr int crToGreen = fixed(0.71414), cbToGreen = fixed(0.34414);
    constexpr int kChunk = 256;
    uchar red[kChunk], green[kChunk], blue[kChunk];
    for (int start = 0; start < width; start += kChunk) {
        const int n = std::min(kChunk, width - start);
        const uchar* l = luma + start;
        const int* u = cb + start;
        const int* v = cr + start;
        for (int i = 0; i < n; ++i) {
            const int b = u[i] - 128, r = v[i] - 128;
            red[i] = static_cast<uchar>(std::clamp(l[i] + ((crToRed * r + kOneHalf) >> kScaleBits), 0, 255));
            green[i] = static_cast<uchar>(std::clamp(l[i] + ((kOneHalf - cbToGreen * b - crToGreen * r) >> kScaleBits), 0, 255));
            blue[i] = static_cast<uchar>(std::clamp(l[i] + ((cbToBlue * b + kOneHalf) >> kScaleBits), 0, 255));
        }
        uchar* o = rgb + 3 * qsizetype(start);
        for (std::ptrdiff_t i = 0; i < n; ++i) {
            o[3 * i] = red[i];
            o[3 * i + 1] = green[i];
            o[3 * i + 2] = blue[i];
        }
    }
}

struct Sampling {
    int across, down;
};

// Luma samples per colour sample; {0, 0} for a sampling kept as RGB.
Sampling samplingOf(const jpeg_decompress_struct& cinfo)
{
    if (cinfo.jpeg_color_space != JCS_YCbCr || cinfo.num_components != 3 || cinfo.data_precision != 8)
        return {0, 0};
    for (int c = 1; c < 3; ++c)
        if (cinfo.comp_info[c].h_samp_factor != 1 || cinfo.comp_info[c].v_samp_factor != 1)
            return {0, 0};
    const Sampling luma{cinfo.comp_info[0].h_samp_factor, cinfo.comp_info[0].v_samp_factor};
    const bool named = (luma.across == 1 || luma.across == 2) && (luma.down == 1 || luma.down == 2);
    return named || (luma.across == 4 && luma.down == 1) ? luma : Sampling{0, 0};
}

} // namespace

bool YcbcrPlanes::suits(const jpeg_decompress_struct& cinfo)
{
    return samplingOf(cinfo).across != 0;
}

int YcbcrPlanes::bytesPerPixel(const jpeg_decompress_struct& cinfo)
{
    const Sampling s = samplingOf(cinfo);
    return s.across * s.down == 1 ? 3 : 2;
}

std::unique_ptr<YcbcrPlanes> YcbcrPlanes::forFile(const jpeg_decompress_struct& cinfo)
{
    std::unique_ptr<YcbcrPlanes> planes(new YcbcrPlanes);
    const Sampling s = samplingOf(cinfo);
    planes->m_width = static_cast<int>(cinfo.image_width);
    planes->m_height = static_cast<int>(cinfo.image_height);
    planes->m_across = s.across;
    planes->m_down = s.down;
    const int bands = static_cast<int>(cinfo.total_iMCU_rows);
    for (int c = 0; c < 3; ++c) {
        const jpeg_component_info& component = cinfo.comp_info[c];
        Plane& plane = planes->m_planes[c];
        plane.rowsPerBand = component.v_samp_factor * DCTSIZE;
        plane.rows = bands * plane.rowsPerBand;
        plane.stride = qsizetype(component.width_in_blocks) * DCTSIZE;
        plane.realWidth = static_cast<int>(component.downsampled_width);
        plane.realHeight = static_cast<int>(component.downsampled_height);
        // Not cleared: a row is read only once it is decoded.
        plane.bits.reset(new (std::nothrow) uchar[size_t(plane.stride) * size_t(plane.rows)]);
        if (!plane.bits)
            return nullptr;
    }
    return planes;
}

YcbcrPlanes::~YcbcrPlanes() = default;

bool YcbcrPlanes::readBand(jpeg_decompress_struct& cinfo)
{
    if (m_rowsDone >= m_height)
        return false;
    const int band = m_rowsDone / m_planes[0].rowsPerBand;
    std::array<std::array<JSAMPROW, 4 * std::size_t{DCTSIZE}>, 3> rows {};
    JSAMPARRAY data[3];
    for (int c = 0; c < 3; ++c) {
        const Plane& plane = m_planes[c];
        for (int r = 0; r < plane.rowsPerBand; ++r)
            rows[size_t(c)][size_t(r)] = plane.bits.get() + (qsizetype(band) * plane.rowsPerBand + r) * plane.stride;
        data[c] = rows[size_t(c)].data();
    }
    if (jpeg_read_raw_data(&cinfo, data, static_cast<JDIMENSION>(m_planes[0].rowsPerBand)) == 0)
        return false;
    m_rowsDone = std::min(m_height, m_rowsDone + m_planes[0].rowsPerBand);
    return true;
}

void YcbcrPlanes::whitenFrom(int first)
{
    // Full brightness, no colour: white.
    for (int c = 0; c < 3; ++c) {
        const Plane& plane = m_planes[c];
        const int from = std::clamp(c == 0 ? first : (first + m_down - 1) / m_down, 0, plane.rows);
        std::memset(plane.bits.get() + qsizetype(from) * plane.stride, c == 0 ? 255 : 128,
            size_t(plane.stride) * size_t(plane.rows - from));
    }
}

int YcbcrPlanes::rowsNeededFor(int end) const
{
    // Rows blend with the colour row below theirs.
    return std::min(m_height, m_down == 2 ? end + 2 * m_down : end);
}

// One colour plane's samples for picture row y, columns x0 .. x0 + width - 1,
// as libjpeg's upsampling makes them (jdsample.c): 2:1 is blended as
// 3/4 nearer sample + 1/4 further one on each axis it applies to, except
// where a plane is at most 2 samples wide (then repeated, as libjpeg
// does); 4:1 is always repeated. Beyond an edge the edge sample stands in.
void YcbcrPlanes::upsampleRow(const Plane& plane, int y, int x0, int width, int* out) const
{
    const int lastColumn = plane.realWidth - 1;
    const auto row = [&](int r) { return plane.bits.get() + qsizetype(std::clamp(r, 0, plane.realHeight - 1)) * plane.stride; };
    const int cy = y / m_down;
    const uchar* near = row(cy);
    const bool smooth = m_across == 1 || (m_across == 2 && plane.realWidth > 2);
    if (!smooth) { // 4:1:1, or a plane too narrow to blend
        for (int i = 0; i < width; ++i)
            out[i] = near[(x0 + i) / m_across];
        return;
    }
    // Column sums (3 x this row + the row above for even rows, below for
    // odd ones), with the edge sums repeated one beyond each end.
    const bool upper = y % 2 == 0;
    const uchar* far = m_down == 2 ? row(upper ? cy - 1 : cy + 1) : nullptr;
    const int first = x0 / m_across, last = (x0 + width - 1) / m_across;
    thread_local std::vector<int> sums, blended;
    sums.resize(size_t(last - first) + 3);
    columnSums(near, far, first, last, lastColumn, sums.data());
    const int* s = sums.data() + 1; // s[c - first], from -1 to last - first + 1
    if (m_across == 1) { // 4:4:0: vertical blending only
        const int bias = upper ? 1 : 2;
        for (int i = 0; i < width; ++i)
            out[i] = (s[i] + bias) >> 2;
        return;
    }
    // Two pixels a sample; 4:2:2 sums one row, 4:2:0 two.
    const int count = last - first + 1;
    blended.resize(2 * size_t(count));
    if (far)
        blendAcross<4, 8, 7>(s, count, blended.data());
    else
        blendAcross<2, 1, 2>(s, count, blended.data());
    std::memcpy(out, blended.data() + (x0 - 2 * first), sizeof(int) * size_t(width));
}

void YcbcrPlanes::toRgb(const QRect& area, uchar* out, qsizetype stride) const
{
    const int width = area.width();
    thread_local std::vector<int> cb, cr;
    cb.resize(size_t(width));
    cr.resize(size_t(width));
    for (int y = area.top(); y <= area.bottom(); ++y) {
        if (m_across == 1 && m_down == 1) {
            const uchar* b = m_planes[1].bits.get() + qsizetype(y) * m_planes[1].stride + area.left();
            const uchar* r = m_planes[2].bits.get() + qsizetype(y) * m_planes[2].stride + area.left();
            for (int i = 0; i < width; ++i) {
                cb[size_t(i)] = b[i];
                cr[size_t(i)] = r[i];
            }
        } else {
            upsampleRow(m_planes[1], y, area.left(), width, cb.data());
            upsampleRow(m_planes[2], y, area.left(), width, cr.data());
        }
        const uchar* luma = m_planes[0].bits.get() + qsizetype(y) * m_planes[0].stride + area.left();
        convertRow(luma, cb.data(), cr.data(), width, out + qsizetype(y - area.top()) * stride);
    }
}

YcbcrPicture::YcbcrPicture(std::shared_ptr<YcbcrPlanes> planes, int orientation, const ColourProfile& profile)
    : m_planes(std::move(planes)), m_orientation(orientation),
      m_size(swapsSides(orientation) ? QSize(m_planes->height(), m_planes->width())
                                     : QSize(m_planes->width(), m_planes->height())),
      m_colour(std::make_shared<SrgbRows>(profile, false))
{
}

// The stored rectangle whose pixels land in `upright` (see UprightWriter).
QRect YcbcrPicture::storedArea(const QRect& u) const
{
    const int w = m_planes->width(), h = m_planes->height();
    const int x0 = u.left(), y0 = u.top(), x1 = u.left() + u.width(), y1 = u.top() + u.height();
    switch (m_orientation) {
    case 2: return QRect(w - x1, y0, u.width(), u.height());
    case 3: return QRect(w - x1, h - y1, u.width(), u.height());
    case 4: return QRect(x0, h - y1, u.width(), u.height());
    case 5: return QRect(y0, x0, u.height(), u.width());
    case 6: return QRect(y0, h - x1, u.height(), u.width());
    case 7: return QRect(w - y1, h - x1, u.height(), u.width());
    case 8: return QRect(w - y1, x0, u.height(), u.width());
    default: return u;
    }
}

int YcbcrPicture::storedRowsNeededFor(const QRect& upright) const
{
    const QRect stored = storedArea(upright & QRect(QPoint(0, 0), m_size));
    return stored.isEmpty() ? 0 : m_planes->rowsNeededFor(stored.top() + stored.height());
}

void YcbcrPicture::toRgb(const QRect& area, uchar* out, qsizetype stride) const
{
    if (area.isEmpty())
        return;
    const QRect stored = storedArea(area);
    if (m_orientation <= 1) {
        m_planes->toRgb(stored, out, stride);
    } else {
        // Converted as stored, then turned into place, rectangle for rectangle.
        QImage turned(stored.size(), QImage::Format_RGB888);
        if (turned.isNull())
            return;
        m_planes->toRgb(stored, turned.bits(), turned.bytesPerLine());
        QImage target(out, area.width(), area.height(), stride, QImage::Format_RGB888);
        UprightWriter writer(target, m_orientation, stored.width(), stored.height(), 3);
        for (int y = 0; y < stored.height(); ++y)
            writer.putRow(y, turned.constScanLine(y));
    }
    m_colour->convert(out, stride, area.width(), area.height());
}

QImage YcbcrPicture::toRgb(const QRect& area) const
{
    QImage image(area.size(), QImage::Format_RGB888);
    if (!image.isNull())
        toRgb(area, image.bits(), image.bytesPerLine());
    return image;
}

} // namespace korvane
