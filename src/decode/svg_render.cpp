#include "svg_render.h"

#include "handle_pool.h"
#include "held_tile.h"

#include <librsvg/rsvg.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <thread>
#include <vector>

namespace korvane {

namespace {

RsvgHandle* handleOf(void* handle) { return static_cast<RsvgHandle*>(handle); }

// Cairo's RGB24 pixels (a 32-bit word, blue in its low byte) as RGB.
void toRgb(const std::uint8_t* in, std::uint8_t* out, int width)
{
    for (int x = 0; x < width; ++x) {
        std::uint32_t word = 0;
        std::memcpy(&word, in + std::size_t(x) * 4, 4);
        std::uint8_t* pixel = out + std::size_t(x) * 3;
        pixel[0] = std::uint8_t(word >> 16);
        pixel[1] = std::uint8_t(word >> 8);
        pixel[2] = std::uint8_t(word);
    }
}

class SvgTileSource final : public TileSource {
public:
    SvgTileSource(QByteArray document, int width, int height, double documentWidth, double documentHeight)
        : m_document(std::move(document)), m_layout{width, height, kTileSide, kTileSide, 3},
          m_documentWidth(documentWidth), m_documentHeight(documentHeight)
    {
    }

    TileLayout layout() const override { return m_layout; }

    bool readTile(int column, int row, std::uint8_t* out, std::size_t stride) override
    {
        std::unique_ptr<SvgDocument> document = take();
        if (!document)
            return false;
        const int x = column * kTileSide, y = row * kTileSide;
        const bool drawn = document->render(x, y, 1.0, m_documentWidth, m_documentHeight,
            std::min(kTileSide, m_layout.width - x), std::min(kTileSide, m_layout.height - y), out, stride);
        m_documents.give(std::move(document));
        return drawn;
    }

private:
    // librsvg walks the whole document for every tile, and sets up each
    // group's opacity and each filter over the element's whole extent, not
    // the tile's: on a wallpaper of gradients and groups a 512-pixel tile
    // took 98 ms and a 1024-pixel one 126 ms. Large tiles pay that less often.
    static constexpr int kTileSide = 1024;

    // A parse of the document for this thread: librsvg's handles are not
    // to be shared between threads.
    std::unique_ptr<SvgDocument> take()
    {
        return m_documents.take([this] {
            std::string error;
            return SvgDocument::parse(m_document, error);
        });
    }

    const QByteArray m_document;
    const TileLayout m_layout;
    const double m_documentWidth, m_documentHeight;
    HandlePool<SvgDocument> m_documents;
};


} // namespace

std::unique_ptr<SvgDocument> SvgDocument::parse(const QByteArray& document, std::string& error)
{
    // No base file: librsvg then loads nothing the document names but
    // inline data. Its default limits on the XML stay (entities, depth).
    GInputStream* stream = g_memory_input_stream_new_from_data(document.constData(), document.size(), nullptr);
    GError* failure = nullptr;
    RsvgHandle* handle = rsvg_handle_new_from_stream_sync(stream, nullptr, RSVG_HANDLE_FLAGS_NONE, nullptr, &failure);
    g_object_unref(stream);
    if (!handle) {
        error = failure && failure->message ? failure->message : "";
        while (!error.empty() && std::isspace(static_cast<unsigned char>(error.back())))
            error.pop_back();
        if (failure)
            g_error_free(failure);
        return nullptr;
    }
    return std::unique_ptr<SvgDocument>(new SvgDocument(handle));
}

SvgDocument::~SvgDocument()
{
    g_object_unref(handleOf(m_handle));
}

bool SvgDocument::size(double& width, double& height) const
{
    if (rsvg_handle_get_intrinsic_size_in_pixels(handleOf(m_handle), &width, &height))
        return width > 0 && height > 0;
    gboolean hasWidth = FALSE, hasHeight = FALSE, hasViewBox = FALSE;
    RsvgLength w{}, h{};
    RsvgRectangle box{};
    rsvg_handle_get_intrinsic_dimensions(handleOf(m_handle), &hasWidth, &w, &hasHeight, &h, &hasViewBox, &box);
    if (!hasViewBox || box.width <= 0 || box.height <= 0)
        return false;
    width = box.width;
    height = box.height;
    return true;
}

bool SvgDocument::render(double x, double y, double scale, double documentWidth, double documentHeight, int width,
    int height, std::uint8_t* out, std::size_t stride) const
{
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return false;
    }
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    const RsvgRectangle viewport{-x, -y, documentWidth * scale, documentHeight * scale};
    const bool drawn = rsvg_handle_render_document(handleOf(m_handle), cr, &viewport, nullptr);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const std::uint8_t* pixels = cairo_image_surface_get_data(surface);
    const auto surfaceStride = std::size_t(cairo_image_surface_get_stride(surface));
    for (int row = 0; row < height; ++row)
        toRgb(pixels + std::size_t(row) * surfaceStride, out + std::size_t(row) * stride, width);
    cairo_surface_destroy(surface);
    return drawn;
}

std::shared_ptr<TileSource> svgTiles(const QByteArray& document, int width, int height, double documentWidth,
    double documentHeight)
{
    return std::make_shared<SvgTileSource>(document, width, height, documentWidth, documentHeight);
}

std::shared_ptr<TileSource> svgOverview(const QByteArray& bytes, const SvgDocument& document, double documentWidth,
    double documentHeight, double scale)
{
    const int width = std::max(1, int(std::lround(documentWidth * scale)));
    const int height = std::max(1, int(std::lround(documentHeight * scale)));
    const std::size_t stride = std::size_t(width) * 3;
    std::vector<std::uint8_t> pixels(stride * std::size_t(height));
    // The bottom half on a thread of its own, from a parse of its own.
    const int top = height / 2;
    bool bottomDrawn = false;
    std::thread bottom([&] {
        std::string error;
        const std::unique_ptr<SvgDocument> own = SvgDocument::parse(bytes, error);
        bottomDrawn = own && own->render(0, top, scale, documentWidth, documentHeight, width, height - top,
            pixels.data() + std::size_t(top) * stride, stride);
    });
    const bool topDrawn = document.render(0, 0, scale, documentWidth, documentHeight, width, top, pixels.data(), stride);
    bottom.join();
    if (!topDrawn || !bottomDrawn)
        return nullptr;
    return std::make_shared<HeldTile>(TileLayout{width, height, width, height, 3}, std::move(pixels));
}

} // namespace korvane
