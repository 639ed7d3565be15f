// A decoded JPEG 2000 area as rows of 8-bit grey or RGB: components of any
// depth and sign scaled to 8 bits, subsampled ones brought to the picture's
// size, YCC made into RGB, alpha laid over white.
#include "image_normalize.h"
#include "jp2_codec.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace korvane {

namespace {

int ceilDivPow2(int value, unsigned power) { return int((std::int64_t(value) + (std::int64_t(1) << power) - 1) >> power); }

// One component's samples for an output row, as 8-bit values.
class ComponentReader {
public:
    ComponentReader(const opj_image_comp_t& component, unsigned reduce)
        : m_component(component), m_originX(ceilDivPow2(int(component.x0), reduce)),
          m_originY(ceilDivPow2(int(component.y0), reduce)), m_offset(component.sgnd ? 1 << (component.prec - 1) : 0),
          m_most((std::int64_t(1) << component.prec) - 1)
    {
        if (component.prec != 8 && component.prec <= 16) {
            m_table.resize(std::size_t(m_most) + 1);
            for (std::int64_t v = 0; v <= m_most; ++v)
                m_table[std::size_t(v)] = std::uint8_t((v * 255 + m_most / 2) / m_most);
        }
    }

    // Samples for output pixels x0 .. x0 + width - 1 of output row y, in
    // the reduced reference grid.
    void readRow(int x0, int y, int width, std::uint8_t* out) const
    {
        const auto& c = m_component;
        const int row = std::clamp(y / int(c.dy) - m_originY, 0, int(c.h) - 1);
        const OPJ_INT32* samples = c.data + std::ptrdiff_t(row) * std::ptrdiff_t(c.w);
        if (c.dx == 1) {
            const int first = x0 - m_originX;
            for (int x = 0; x < width; ++x)
                out[x] = eight(samples[std::clamp(first + x, 0, int(c.w) - 1)]);
            return;
        }
        for (int x = 0; x < width; ++x)
            out[x] = eight(samples[std::clamp((x0 + x) / int(c.dx) - m_originX, 0, int(c.w) - 1)]);
    }

private:
    std::uint8_t eight(OPJ_INT32 sample) const
    {
        const std::int64_t v = std::clamp<std::int64_t>(std::int64_t(sample) + m_offset, 0, m_most);
        if (m_component.prec == 8)
            return std::uint8_t(v);
        if (!m_table.empty())
            return m_table[std::size_t(v)];
        return std::uint8_t((v * 255 + m_most / 2) / m_most);
    }

    const opj_image_comp_t& m_component;
    int m_originX, m_originY;
    std::int64_t m_offset, m_most;
    std::vector<std::uint8_t> m_table;
};

std::uint8_t clamped(double value) { return std::uint8_t(std::clamp(std::lround(value), 0L, 255L)); }

void yccToRgb(std::uint8_t* pixel)
{
    const double y = pixel[0], cb = pixel[1] - 128.0, cr = pixel[2] - 128.0;
    pixel[0] = clamped(y + 1.402 * cr);
    pixel[1] = clamped(y - 0.344136 * cb - 0.714136 * cr);
    pixel[2] = clamped(y + 1.772 * cb);
}

} // namespace

Jp2Colour colourOf(const opj_image_t& image)
{
    Jp2Colour colour;
    for (OPJ_UINT32 i = 0; i < image.numcomps; ++i)
        if (image.comps[i].alpha && colour.alpha < 0)
            colour.alpha = int(i);
    const int colours = int(image.numcomps) - (colour.alpha >= 0 ? 1 : 0);
    colour.channels = image.color_space == OPJ_CLRSPC_GRAY || colours < 3 ? 1 : 3;
    colour.ycc = colour.channels == 3 && (image.color_space == OPJ_CLRSPC_SYCC || image.color_space == OPJ_CLRSPC_EYCC);
    if (colour.alpha >= 0 && colour.alpha < colour.colourComponents())
        colour.alpha = -1; // an alpha among the colours is a colour
    return colour;
}

int reducedSpan(std::int64_t x0, std::int64_t x1, unsigned reduce)
{
    return ceilDivPow2(int(x1), reduce) - ceilDivPow2(int(x0), reduce);
}

int decodedWidth(const opj_image_t& image) { return reducedSpan(image.x0, image.x1, image.comps[0].factor); }
int decodedHeight(const opj_image_t& image) { return reducedSpan(image.y0, image.y1, image.comps[0].factor); }

void putJp2Rows(const opj_image_t& image, const Jp2Colour& colour, std::uint8_t* out, std::size_t stride)
{
    const unsigned reduce = image.comps[0].factor;
    const int x0 = ceilDivPow2(int(image.x0), reduce), y0 = ceilDivPow2(int(image.y0), reduce);
    const int width = decodedWidth(image), height = decodedHeight(image);
    const int colours = colour.colourComponents();
    std::vector<ComponentReader> readers;
    readers.reserve(std::size_t(colours));
    for (int c = 0; c < colours; ++c)
        readers.emplace_back(image.comps[c], reduce);
    std::optional<ComponentReader> alpha;
    if (colour.alpha >= 0)
        alpha.emplace(image.comps[colour.alpha], reduce);
    std::vector<std::uint8_t> planes(std::size_t(width) * std::size_t(colours + 1));
    for (int y = 0; y < height; ++y) {
        for (int c = 0; c < colours; ++c)
            readers[std::size_t(c)].readRow(x0, y0 + y, width, planes.data() + std::size_t(c) * std::size_t(width));
        if (alpha)
            alpha->readRow(x0, y0 + y, width, planes.data() + std::size_t(colours) * std::size_t(width));
        std::uint8_t* row = out + std::size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
            std::uint8_t* pixel = row + std::size_t(x) * std::size_t(colours);
            for (int c = 0; c < colours; ++c)
                pixel[c] = planes[std::size_t(c) * std::size_t(width) + std::size_t(x)];
            if (colour.ycc)
                yccToRgb(pixel);
            if (alpha)
                for (int c = 0; c < colours; ++c)
                    pixel[c] = overWhite(pixel[c], planes[std::size_t(colours) * std::size_t(width) + std::size_t(x)]);
        }
    }
}

} // namespace korvane
